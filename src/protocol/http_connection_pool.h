#pragma once

#include "protocol/http_client.h"
#include "protocol/http_response_parser.h"

#include <QAbstractSocket>
#include <QElapsedTimer>
#include <QList>
#include <QString>
#include <QTimer>

#include <unordered_map>

namespace rtu {

struct HttpConnection;

// The client's connections: how many it holds per server and in all, which
// are idle and when each of those closes. An idle connection is reused only
// while nothing is pending on it, and at the overall limit the idle one due
// to close first makes room. Closed connections are deleted in batches by the
// idle check, never each by a deferred delete of its own.
class HttpConnectionPool
{
public:
    // Why a connection closed, for diagnostics.
    enum class CloseReason {
        Idle,
        Evicted,
        PendingInput, // bytes or the server's close nobody asked for
        Refused,
        ServerClosed,
        Failed, // any other transport error
        NotKeptAlive,
        ChangeAnswered, // a change's connection is its own
        Malformed,
        TooLarge,
        TimedOut
    };

    enum class Room {
        Available,  // a connection to the server may be opened
        ServerFull, // the server has as many as allowed
        TotalFull   // the overall limit is reached and none is idle
    };

    // What the pool's owner hears of its connections.
    class Listener
    {
    public:
        virtual void connectionReadable(HttpConnection *connection) = 0;
        virtual void connectionFailed(HttpConnection *connection, QAbstractSocket::SocketError error) = 0;
        // Idle connections to the server were closed for time.
        virtual void connectionsFreed(const QString &server) = 0;

    protected:
        ~Listener() = default;
    };

    HttpConnectionPool(const HttpClient::Limits &limits, const HttpResponseParser::Limits &parserLimits,
                       Listener *listener);
    ~HttpConnectionPool();
    HttpConnectionPool(const HttpConnectionPool &) = delete;
    HttpConnectionPool &operator=(const HttpConnectionPool &) = delete;

    // An idle connection to the server, now busy; idle ones with pending
    // input are closed on the way, as the next request would take their
    // bytes, or the server's close, for its answer. With unusedOnly, only
    // one that has carried no answer yet; otherwise those that have are
    // taken first, leaving the unused ones to changes.
    HttpConnection *takeIdle(const QString &server, bool unusedOnly = false);
    // Whether a connection to the server may be opened now.
    Room room(const QString &server) const;
    // The same, closing the idle connection due first when that makes room;
    // with reclaimIdle also an idle one of the server's own, which a change
    // cannot use.
    Room makeRoom(const QString &server, bool reclaimIdle = false);
    // A busy connection to the server, connecting; failures are signalled
    // from the event loop.
    HttpConnection *open(const QString &server, const QString &host, quint16 port);
    // Opens an idle connection to a server that has no unused one, held
    // longer than one that served: its request is expected about when it
    // opens.
    void preconnect(const QString &server, const QString &host, quint16 port);
    // Makes the busy connection idle, to be closed if unused for holdMs
    // (at most the idle limit; negative: the idle limit).
    void release(HttpConnection *connection, qint64 holdMs = -1);
    // Stops its signals; without closeSocket the caller closes the socket
    // soon after itself. Safe inside the connection's own signals.
    void close(HttpConnection *connection, CloseReason why, bool closeSocket = true);
    // Lets every connection go, without signals or timers.
    void shutdown();

    int openCount() const { return m_openCount; }
    int connectionsTo(const QString &server) const;

private:
    void makeIdle(HttpConnection *connection, qint64 holdMs);
    bool hasUnused(const QString &server) const;
    void detach(HttpConnection *connection, bool closeSocket);
    void armIdleTimer(qint64 ms);
    void onIdleTimeout();

    const HttpClient::Limits m_limits;
    const HttpResponseParser::Limits m_parserLimits;
    Listener *const m_listener;
    QElapsedTimer m_clock;
    QTimer m_idleTimer;
    std::unordered_map<QString, QList<HttpConnection *>> m_servers;
    QList<HttpConnection *> m_idle;   // the first due to close first
    QList<HttpConnection *> m_closed; // to be deleted
    int m_openCount = 0;
    quint64 m_lastId = 0;
    bool m_shutDown = false;
};

} // namespace rtu
