#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QUrl>

#include <functional>
#include <type_traits>
#include <utility>

namespace rtu {

// The one transport of the servers' REST requests: GET and POST with a
// time-out, each ending in exactly one call of either callback. It speaks
// HTTP/1.1 itself over sockets of the GUI thread, keeps connections to a
// server alive for a short while and bounds what any peer can make it hold.
//
// Credentials (from the URL) go out only once a server has challenged, in
// the scheme it asked for; what each server asked is remembered for the
// whole process (HttpAuthenticator).
//
// Success is a 2xx reply, its gzip or deflate coding undone. A failure's
// reason is the server's phrase for any other status, else "Network Error: "
// followed by nothing (no phrase), "Request Timed Out", "Reply too large" (a
// body over kMaxReplyBytes, with the status, also once decoded), or "#" and
// the QNetworkReply error number: 1 refused, 2 closed by the server, 3 host
// not found, 399 a reply that is not HTTP, passes a limit of its head or
// cannot be decoded.
class HttpClient : public QObject
{
    Q_OBJECT

public:
    // Called with the body and the status of a 2xx reply; a callable that
    // wants the body alone is taken too.
    class OnSuccessReply
    {
    public:
        OnSuccessReply() = default;
        template<typename Function,
                 std::enable_if_t<std::is_invocable_v<Function &, const QByteArray &, int>, int> = 0>
        OnSuccessReply(Function function) : m_function(std::move(function))
        {
        }
        template<typename Function,
                 std::enable_if_t<!std::is_invocable_v<Function &, const QByteArray &, int>
                                      && std::is_invocable_v<Function &, const QByteArray &>,
                                  int> = 0>
        OnSuccessReply(Function function)
        {
            if constexpr (std::is_constructible_v<bool, const Function &>) {
                if (!static_cast<bool>(function))
                    return;
            }
            m_function = [function = std::move(function)](const QByteArray &body, int) mutable { function(body); };
        }

        void operator()(const QByteArray &body, int status = 200) const { m_function(body, status); }
        explicit operator bool() const { return static_cast<bool>(m_function); }

    private:
        std::function<void(const QByteArray &body, int status)> m_function;
    };
    using OnErrorReply = std::function<void(const QString &reason, int httpStatus)>;

    // What a request does to the server, said by whoever sends it. A read
    // may go out once more on a fresh connection when a kept-alive one
    // closes before any byte of its answer. A change goes out on a
    // connection of its own, closed after its answer, and never twice: the
    // server may have carried it out before it closed, or before it answered
    // too late, so those losses are reported as kUnansweredChange and
    // kTimedOutChange.
    enum class Kind { Change, Read };
    static constexpr char kUnansweredChange[] =
        "Connection closed before the server answered; the change may have been applied";
    static constexpr char kTimedOutChange[] = "Request Timed Out; the change may have been applied";

    // Time-out argument: negative arms none, 0 means the default.
    static constexpr qint64 kDefaultTimeoutMs = 10000;
    // Larger reply bodies, whatever their status, fail the request: a broken
    // or hostile server must not be able to exhaust the tool's memory.
    static constexpr qint64 kMaxReplyBytes = 4 * 1024 * 1024;

    struct Limits
    {
        int connectionsPerServer = 6;
        // Beyond this, requests wait their turn (their time-out still runs),
        // so a large fleet cannot exhaust the process's sockets.
        int openConnections = 256;
        // A connection without a request is closed after this long, so the
        // tool holds few sockets between refreshes.
        int idleCloseMs = 300;
        // A connection opened ahead of its request waits this long for it,
        // about as long as the request before it may take.
        int openedAheadHoldMs = 10000;
        // Read per socket and event-loop turn, so that one fast peer cannot
        // starve timers and other connections.
        int readChunkBytes = 64 * 1024;
    };

    explicit HttpClient(QObject *parent);
    HttpClient(QObject *parent, const Limits &limits);
    ~HttpClient() override;

    // Virtual so that fuzzing and tests can answer requests without sockets.
    virtual void sendGet(const QUrl &url, const OnSuccessReply &success, const OnErrorReply &failure,
                         qint64 timeoutMs, Kind kind = Kind::Change);
    virtual void sendPost(const QUrl &url, const QByteArray &body, const OnSuccessReply &success,
                          const OnErrorReply &failure, qint64 timeoutMs, Kind kind = Kind::Change);

    // Opens a connection to a server that has no unused one, for a request
    // that is about to follow (a change included: the connection has carried
    // nothing), so that the handshake is over by then. Unused, it is closed
    // as any idle connection.
    void preconnect(const QString &host, quint16 port);

private:
    class Impl;
    Impl *const m_impl;
};

} // namespace rtu
