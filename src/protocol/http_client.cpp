#include "protocol/http_client.h"

#include "core/diagnostics.h"
#include "platform/tcp_stream.h"
#include "protocol/http_authenticator.h"
#include "protocol/http_connection.h"
#include "protocol/http_connection_pool.h"
#include "protocol/http_request.h"
#include "protocol/http_request_queue.h"
#include "protocol/http_request_writer.h"
#include "protocol/http_response_parser.h"

#include <QNetworkReply>
#include <QPointer>
#include <QTextCodec>
#include <QTimer>

#include <memory>

namespace rtu {

namespace {

using CloseReason = HttpConnectionPool::CloseReason;

// Failures carry the error numbers of QNetworkReply, so that their texts
// read as they always have ("#1" for a refused connection and so on).
int transportError(QAbstractSocket::SocketError error)
{
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
        return QNetworkReply::ConnectionRefusedError;
    case QAbstractSocket::RemoteHostClosedError:
        return QNetworkReply::RemoteHostClosedError;
    case QAbstractSocket::HostNotFoundError:
        return QNetworkReply::HostNotFoundError;
    case QAbstractSocket::SocketTimeoutError:
        return QNetworkReply::TimeoutError;
    default:
        return QNetworkReply::UnknownNetworkError;
    }
}

CloseReason closeReason(QAbstractSocket::SocketError error)
{
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
        return CloseReason::Refused;
    case QAbstractSocket::RemoteHostClosedError:
        return CloseReason::ServerClosed;
    default:
        return CloseReason::Failed;
    }
}

// Requests to one server share its connections and queue.
QString serverKey(const QString &host, int port)
{
    return host.toLower() + QLatin1Char(':') + QString::number(port);
}

QString networkError(const QString &text)
{
    return QStringLiteral("Network Error: %1").arg(text);
}

QString networkError(int code)
{
    return networkError(QStringLiteral("#%1").arg(code));
}

// A phrase in UTF-8 reads as such; any other bytes are taken one by one.
QString phraseText(const QByteArray &phrase)
{
    QTextCodec::ConverterState state;
    const QString text = QTextCodec::codecForMib(106)->toUnicode(phrase.constData(), phrase.size(), &state);
    return state.invalidChars == 0 ? text : QString::fromLatin1(phrase);
}

// How long the connection may wait idle for its next request: -1 as long as
// the client likes, 0 not at all. A server's Keep-Alive time-out counts
// whole seconds from its side; a quarter of it is left for the request to
// travel and for the server's clock running ahead.
qint64 keepAliveMs(const HttpResponseParser &response)
{
    if (!response.keepAlive())
        return 0;
    for (const QByteArray &part : response.header("Keep-Alive").split(',')) {
        const QByteArray item = part.trimmed();
        if (!item.toLower().startsWith("timeout="))
            continue;
        bool ok = false;
        const qint64 seconds = item.mid(8).trimmed().toLongLong(&ok);
        if (ok && seconds >= 0)
            return std::min<qint64>(seconds, qint64(1) << 30) * 750;
    }
    return -1;
}

// How a request is named in diagnostics: never its credentials, and its
// query only as redactedTarget shows it.
QString described(const HttpRequest &r)
{
    return QStringLiteral("%1 %2 %3").arg(QString::fromLatin1(r.method), redactedTarget(r.url), r.server);
}

QString connectionText(const HttpConnection *c)
{
    return c ? QStringLiteral(" (connection %1)").arg(c->id) : QString();
}

// Where a request was when its time ran out.
QString waitingText(const HttpRequest &r)
{
    if (r.connection)
        return QStringLiteral("on connection %1").arg(r.connection->id);
    switch (r.queue) {
    case HttpRequest::Queue::Global:
        return QStringLiteral("waiting for a free connection");
    case HttpRequest::Queue::Server:
        return QStringLiteral("waiting for one of its server's connections");
    case HttpRequest::Queue::None:
        break;
    }
    return QStringLiteral("before it was sent");
}

} // namespace

// Wires the connection pool, the request queue and the authenticator, and
// runs each request's life: sending, reading the answer, answering a
// challenge, sending a read once more, and the one callback at the end.
class HttpClient::Impl : public QObject, HttpConnectionPool::Listener, HttpRequestQueue::Listener
{
public:
    Impl(HttpClient *owner, const Limits &limits)
        : QObject(owner), readBuffer(limits.readChunkBytes, Qt::Uninitialized),
          pool(limits, parserLimits(), this), queue(this)
    {
    }

    void submit(const QByteArray &method, const QUrl &url, const QByteArray &body, const OnSuccessReply &success,
                const OnErrorReply &failure, qint64 timeoutMs, Kind kind)
    {
        auto owned = std::make_unique<HttpRequest>();
        HttpRequest *r = owned.get();
        r->method = method;
        r->kind = kind;
        r->url = url;
        r->body = body;
        r->success = success;
        r->failure = failure;
        r->server = serverKey(url.host(), url.port(80));
        r->auth.user = url.userName();
        r->auth.password = url.password();
        r->target = HttpRequestWriter::target(url);
        r->host = HttpRequestWriter::host(url);
        queue.add(std::move(owned), timeoutMs == 0 ? kDefaultTimeoutMs : timeoutMs);
        if (url.scheme() != QLatin1String("http"))
            failSoon(r->id, QNetworkReply::ProtocolUnknownError);
        else if (url.host().isEmpty())
            failSoon(r->id, QNetworkReply::HostNotFoundError);
        else
            place(r, false);
    }

    void preconnect(const QString &host, quint16 port)
    {
        if (!host.isEmpty())
            pool.preconnect(serverKey(host, port), host, port);
    }

    // Pending callbacks are dropped; sockets go once no signal of theirs is
    // running any more.
    void shutdown()
    {
        queue.clear();
        pool.shutdown();
    }

private:
    enum class Placed { OnConnection, Queued };

    static HttpResponseParser::Limits parserLimits()
    {
        HttpResponseParser::Limits limits;
        limits.maxBodyBytes = kMaxReplyBytes;
        return limits;
    }

    // Gives the request a connection to its server now, or queues it: behind
    // the server's own connections when it has as many as allowed, else
    // behind the overall limit.
    Placed place(HttpRequest *r, bool urgent)
    {
        // A change goes out on a connection of its own: one that carried an
        // answer may still hold late bytes of it, or be closing by now.
        const bool change = r->kind == Kind::Change;
        if (HttpConnection *c = pool.takeIdle(r->server, change)) {
            attach(c, r);
            return Placed::OnConnection;
        }
        switch (pool.makeRoom(r->server, change)) {
        case HttpConnectionPool::Room::Available:
            open(r);
            return Placed::OnConnection;
        case HttpConnectionPool::Room::TotalFull:
            queue.wait(r, HttpRequest::Queue::Global, urgent);
            break;
        case HttpConnectionPool::Room::ServerFull:
            queue.wait(r, HttpRequest::Queue::Server, urgent);
            break;
        }
        return Placed::Queued;
    }

    // Hands freed capacity to the waiting requests, oldest first.
    void pump(const QString &server)
    {
        while (HttpRequest *r = queue.firstWaiting()) {
            if (pool.room(r->server) == HttpConnectionPool::Room::TotalFull)
                break;
            queue.removeFirstWaiting();
            place(r, true);
        }
        while (HttpRequest *r = queue.takeWaiting(server)) {
            if (place(r, true) == Placed::Queued)
                break;
        }
    }

    // A failure reaches the caller from the event loop, never from inside
    // sendGet: the stream signals none from connectToHost.
    void open(HttpRequest *r)
    {
        // The stream holds the request until it is connected.
        attach(pool.open(r->server, r->url.host(), quint16(r->url.port(80))), r);
    }

    void attach(HttpConnection *c, HttpRequest *r)
    {
        c->request = r;
        r->connection = c;
        r->queue = HttpRequest::Queue::None;
        send(c);
    }

    void send(HttpConnection *c)
    {
        HttpRequest *r = c->request;
        c->parser.reset();
        c->sentMark = c->socket->bytesSent();
        c->socket->write(HttpRequestWriter::write(r->method, r->target, r->host,
                                                  authenticator.authorization(r->server, r->auth, r->method, r->target),
                                                  r->body, r->kind == Kind::Read));
    }

    void close(HttpConnection *c, CloseReason why, bool closeSocket = true)
    {
        if (HttpRequest *r = c->request) {
            r->connection = nullptr;
            c->request = nullptr;
        }
        pool.close(c, why, closeSocket);
    }

    void connectionReadable(HttpConnection *c) override
    {
        if (c->closed)
            return;
        if (!c->request) {
            // Bytes nobody asked for: the connection cannot be trusted.
            const QString server = c->server;
            close(c, CloseReason::PendingInput);
            pump(server);
            return;
        }
        // At most one chunk per turn of the event loop: the rest waits in the
        // system, and the socket signals again on the next turn.
        const qint64 size = c->socket->read(readBuffer.data(), readBuffer.size());
        if (size < 0)
            connectionFailed(c, c->socket->error());
        else if (size > 0)
            onParsed(c, c->parser.feed(readBuffer.constData(), size));
    }

    void connectionFailed(HttpConnection *c, QAbstractSocket::SocketError error) override
    {
        if (c->closed)
            return;
        const QString server = c->server;
        HttpRequest *r = c->request;
        const CloseReason why = closeReason(error);
        if (!r) {
            close(c, why);
            pump(server);
            return;
        }
        if (c->parser.finish() == HttpResponseParser::State::Complete) {
            onParsed(c, HttpResponseParser::State::Complete);
            return;
        }
        // A kept-alive or opened-ahead connection the server closed just as
        // the request went out: a read is tried once more on a fresh one, as
        // browsers do. A change may have been carried out, so it is never
        // sent twice; the caller hears that it may have been.
        authenticator.abandoned(r->auth);
        if (!c->parser.started() && r->kind == Kind::Read && (c->served > 0 || c->openedAhead) && !r->retried) {
            r->retried = true;
            close(c, why);
            qCDebug(logHttp).noquote() << described(*r) << "goes once more on a fresh connection";
            open(r);
            return;
        }
        const int status = c->parser.headComplete() ? c->parser.status() : 0;
        close(c, why);
        // Closed (not refused): the request reached the server.
        const bool unanswered = !c->parser.started() && error == QAbstractSocket::RemoteHostClosedError;
        const QString reason = unanswered && r->kind == Kind::Change ? QString::fromLatin1(kUnansweredChange)
                                                                      : networkError(transportError(error));
        if (fail(r, reason, status, c))
            pump(server);
    }

    void onParsed(HttpConnection *c, HttpResponseParser::State state)
    {
        if (state == HttpResponseParser::State::Incomplete)
            return;
        HttpRequest *r = c->request;
        const QString server = c->server;
        const HttpResponseParser &response = c->parser;
        const int status = response.headComplete() ? response.status() : 0;
        if (state == HttpResponseParser::State::Failed) {
            // A reply that is not HTTP or passes a limit of its head fails
            // as the access manager failed unreadable replies: "#399".
            const bool tooLarge = response.failure() == HttpResponseParser::Failure::BodyTooLarge;
            const QString reason = tooLarge ? networkError(QStringLiteral("Reply too large"))
                                            : networkError(QNetworkReply::ProtocolFailure);
            close(c, tooLarge ? CloseReason::TooLarge : CloseReason::Malformed);
            if (fail(r, reason, status, c))
                pump(server);
            return;
        }
        const qint64 keepMs = keepAliveMs(response);
        const bool reusable = keepMs != 0 && r->kind == Kind::Read;
        ++c->served;
        if (status == 401) {
            const HttpAuthenticator::Scheme answer =
                authenticator.answerChallenge(r->server, r->auth, response.header("WWW-Authenticate"));
            if (answer != HttpAuthenticator::Scheme::None) {
                qCDebug(logHttp).noquote() << described(*r) << "answers a"
                                           << (answer == HttpAuthenticator::Scheme::Digest ? "Digest" : "Basic")
                                           << "challenge";
                if (reusable) {
                    send(c);
                    return;
                }
                close(c, keepMs != 0 ? CloseReason::ChangeAnswered : CloseReason::NotKeptAlive);
                place(r, true);
                pump(server);
                return;
            }
        } else {
            authenticator.answered(r->server, r->auth);
        }
        const QByteArray body = response.body();
        const QByteArray phrase = response.reasonPhrase();
        c->request = nullptr;
        r->connection = nullptr;
        // A spent connection is closed in the system only after the caller
        // has had the answer: on loopback the close does the peer's part of
        // the shutdown too, and the caller's next request need not wait for it.
        if (reusable)
            pool.release(c, keepMs);
        else
            close(c, keepMs != 0 ? CloseReason::ChangeAnswered : CloseReason::NotKeptAlive, false);
        bool alive;
        if (status >= 200 && status <= 299) {
            qCInfo(logHttp).noquote().nospace() << described(*r) << " -> " << status << ", " << body.size()
                                                << " bytes in " << queue.elapsedMs(*r) << " ms" << connectionText(c);
            alive = finish(r, [&](const HttpRequest &done) {
                if (done.success)
                    done.success(body, status);
            });
        } else {
            alive = fail(r, phrase.isEmpty() ? networkError(QString()) : phraseText(phrase), status, c);
        }
        if (!alive)
            return;
        if (!reusable)
            c->socket->abort();
        pump(server);
    }

    void connectionsFreed(const QString &server) override { pump(server); }

    bool requestExpired(HttpRequest *r) override
    {
        const QString server = r->server;
        int status = 0;
        HttpConnection *c = r->connection;
        qCInfo(logHttp).noquote().nospace() << described(*r) << " timed out after " << queue.elapsedMs(*r) << " ms "
                                            << waitingText(*r);
        // A change whose bytes went out may have been carried out, however
        // late its answer; one still waiting, or connecting, was not.
        bool written = false;
        if (c) {
            status = c->parser.headComplete() ? c->parser.status() : 0;
            written = c->socket->bytesSent() > c->sentMark;
            close(c, CloseReason::TimedOut);
        }
        const QString reason = written && r->kind == Kind::Change ? QString::fromLatin1(kTimedOutChange)
                                                                  : networkError(QStringLiteral("Request Timed Out"));
        if (!fail(r, reason, status, c))
            return false;
        pump(server);
        return true;
    }

    void failSoon(quint64 id, int code)
    {
        QTimer::singleShot(0, this, [this, id, code]() {
            if (HttpRequest *r = queue.find(id))
                fail(r, networkError(code), 0, nullptr);
        });
    }

    // c: the connection it ended on, if any, for diagnostics only.
    bool fail(HttpRequest *r, const QString &reason, int status, const HttpConnection *c)
    {
        qCInfo(logHttp).noquote().nospace() << described(*r) << " -> "
                                            << (status ? QString::number(status) + QLatin1String(", ") : QString())
                                            << reason << " in " << queue.elapsedMs(*r) << " ms" << connectionText(c);
        return finish(r, [&](const HttpRequest &done) {
            if (done.failure)
                done.failure(reason, status);
        });
    }

    // Ends the request and calls back; false when the callback destroyed the
    // client, in which case nothing of it may be touched any more.
    template<typename Call>
    bool finish(HttpRequest *r, const Call &call)
    {
        const std::unique_ptr<HttpRequest> done = queue.take(r);
        QPointer<Impl> alive(this);
        call(*done);
        return !alive.isNull();
    }

    QByteArray readBuffer;
    HttpAuthenticator &authenticator = HttpAuthenticator::shared();
    HttpConnectionPool pool;
    HttpRequestQueue queue;
};

HttpClient::HttpClient(QObject *parent) : HttpClient(parent, Limits()) {}

HttpClient::HttpClient(QObject *parent, const Limits &limits) : QObject(parent), m_impl(new Impl(this, limits)) {}

HttpClient::~HttpClient()
{
    m_impl->shutdown();
}

void HttpClient::preconnect(const QString &host, quint16 port)
{
    m_impl->preconnect(host, port);
}

void HttpClient::sendGet(const QUrl &url, const OnSuccessReply &success, const OnErrorReply &failure,
                         qint64 timeoutMs, Kind kind)
{
    m_impl->submit("GET", url, QByteArray(), success, failure, timeoutMs, kind);
}

void HttpClient::sendPost(const QUrl &url, const QByteArray &body, const OnSuccessReply &success,
                          const OnErrorReply &failure, qint64 timeoutMs, Kind kind)
{
    m_impl->submit("POST", url, body, success, failure, timeoutMs, kind);
}

} // namespace rtu
