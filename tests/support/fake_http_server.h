#pragma once

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPair>
#include <QQueue>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVector>

#include <functional>

class QTcpServer;
class QTcpSocket;

namespace rtu::test {

// What the fake answers to one request.
struct FakeReply
{
    // Replies that never end, streamed for as long as the peer reads.
    enum class Endless {
        None,
        ChunkedBody, // the head (with the status given), then chunks forever
        Headers,     // the status line, then header lines forever
        HeaderLine,  // the status line, then one header line that never ends
        StatusLine   // a status line that never ends
    };

    int status = 200;
    QByteArray reason = "OK"; // empty: a status line without a phrase
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;
    int delayMs = 0;          // wait this long before answering
    bool silent = false;      // never answer, keep the connection open
    bool drop = false;        // close the connection without answering
    bool closeAfter = false;  // "Connection: close", then close
    bool noLength = false;    // no Content-Length: the body ends with the connection
    bool stall = false;       // send the head and half the body, then nothing
    QByteArray raw;           // sent as it is instead of a formatted reply
    Endless endless = Endless::None;

    static FakeReply json(const QByteArray &body, int status = 200, const QByteArray &reason = "OK");
    static FakeReply unauthorized();
};

// One request as the fake received it.
struct ReceivedRequest
{
    QByteArray method;
    QByteArray target;   // path and query exactly as sent
    QByteArray body;
    QList<QPair<QByteArray, QByteArray>> headers;
    bool hasAuthorization = false;
    QByteArray scheme;   // of the Authorization field, in lower case
    QString user;        // from "Authorization: Basic ..." or Digest's username
    QString password;    // Basic only
    quint16 port = 0;    // the port of the fake that received it

    QString path() const;
    QString query() const; // decoded
    QByteArray header(const QByteArray &name) const;
};

// An in-process HTTP/1.1 server on a free port for exact protocol cases. It
// keeps connections alive like a real server unless told otherwise.
class FakeHttpServer : public QObject
{
    Q_OBJECT

public:
    using Handler = std::function<FakeReply(const ReceivedRequest &request)>;

    explicit FakeHttpServer(const QHostAddress &address = QHostAddress::LocalHost, QObject *parent = nullptr);
    ~FakeHttpServer() override;

    bool isListening() const;
    QString host() const;
    quint16 port() const;
    // http://host:port + path, without credentials.
    QUrl url(const QString &path = QString()) const;

    // Replies are taken from the queue first, then from the handler, then the
    // default reply.
    void enqueue(const FakeReply &reply);
    void setHandler(const Handler &handler);
    void setDefaultReply(const FakeReply &reply);

    // Requests whose Basic credentials are not "user" with one of these
    // passwords are answered 401 with a Basic challenge (and logged).
    void requireBasicAuth(const QStringList &passwords, const QString &user = QStringLiteral("admin"));
    // The same with Digest (qop "auth"), challenged with one field per
    // algorithm offered ("SHA-256", "MD5"), and Basic after them when
    // alsoBasic. As a strict server does, every request naming a nonce
    // counts one use of it, and its nc must be that count.
    void requireDigestAuth(const QStringList &passwords, const QByteArrayList &algorithms, bool alsoBasic = false,
                           const QString &user = QStringLiteral("admin"));
    // Requests refused because their nonce count was out of order.
    int countRefusals() const { return m_countRefusals; }

    const QVector<ReceivedRequest> &requests() const { return m_requests; }
    // The requests that carried credentials, i.e. what reached past the challenge.
    QVector<ReceivedRequest> authenticatedRequests() const;
    void clearLog() { m_requests.clear(); }
    int connectionCount() const { return m_connectionCount; }
    // Connections open now, and the most that were open at once.
    int openConnections() const { return m_openConnections; }
    int mostOpenConnections() const { return m_mostOpenConnections; }
    // Bytes of endless replies sent so far.
    qint64 endlessBytesSent() const { return m_endlessBytes; }

    // Closes the listening socket and every open connection.
    void close();

signals:
    void requestReceived(const rtu::test::ReceivedRequest &request);

private:
    void onNewConnection();
    void onReadyRead(QTcpSocket *socket);
    void answer(QTcpSocket *socket, const FakeReply &reply);
    void stream(QTcpSocket *socket, const QByteArray &head, const QByteArray &chunk);
    FakeReply replyFor(const ReceivedRequest &request);
    bool authorized(const ReceivedRequest &request);
    FakeReply challenge();

    QTcpServer *m_server;
    QQueue<FakeReply> m_queue;
    Handler m_handler;
    FakeReply m_default;
    bool m_requireAuth = false;
    QString m_authUser;
    QStringList m_authPasswords;
    QByteArrayList m_digestAlgorithms; // empty: Basic only
    bool m_alsoBasic = true;
    QHash<QByteArray, int> m_nonceUses;
    int m_countRefusals = 0;
    QVector<ReceivedRequest> m_requests;
    int m_connectionCount = 0;
    int m_openConnections = 0;
    int m_mostOpenConnections = 0;
    qint64 m_endlessBytes = 0;
};

} // namespace rtu::test

Q_DECLARE_METATYPE(rtu::test::ReceivedRequest)
