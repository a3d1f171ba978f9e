#include "protocol/http_client.h"

#include "protocol/http_authentication.h"
#include "protocol/http_request_writer.h"
#include "protocol/http_response_parser.h"
#include "platform/tcp_stream.h"

#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QNetworkReply>
#include <QPointer>
#include <QRandomGenerator>
#include <QSet>
#include <QTextCodec>
#include <QTimer>

#include <algorithm>
#include <deque>
#include <limits>
#include <map>
#include <memory>
#include <unordered_map>
#include <utility>

namespace rtu {

namespace {

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

struct KeyHash
{
    size_t operator()(const QString &key) const { return qHash(key); }
};

} // namespace

class HttpClient::Impl : public QObject
{
public:
    struct Connection;

    struct Request
    {
        enum class Queue { None, Global, Server };

        quint64 id = 0;
        QByteArray method;
        Kind kind = Kind::Change;
        QUrl url;
        QByteArray body;
        OnSuccessReply success;
        OnErrorReply failure;
        QString server; // host and port
        QString user;
        QString password;
        QByteArray target;
        QByteArray host; // the Host field
        std::multimap<qint64, quint64>::iterator deadline;
        bool hasDeadline = false;
        Connection *connection = nullptr;
        Queue queue = Queue::None;
        bool sentBasic = false;
        bool answeredChallenge = false;
        bool retried = false;
    };

    struct Connection : QObject
    {
        explicit Connection(const HttpResponseParser::Limits &limits) : parser(limits) {}

        QString server;
        QString host;
        quint16 port = 0;
        platform::TcpStream *socket = nullptr;
        qint64 closeAtMs = 0; // unused until then, it is closed
        Request *request = nullptr;
        HttpResponseParser parser;
        int served = 0;
        // Opened before any request of its own; the server may have given up
        // on it by the time one comes.
        bool openedAhead = false;
        bool idle = false;
        bool closed = false;
    };

    struct Server
    {
        QList<Connection *> connections;
        QList<quint64> queue; // waiting for one of this server's connections
    };

    Impl(HttpClient *owner, const Limits &limits) : QObject(owner), limits(limits)
    {
        parserLimits.maxBodyBytes = kMaxReplyBytes;
        readBuffer.resize(limits.readChunkBytes);
        clock.start();
        deadlineTimer.setSingleShot(true);
        deadlineTimer.setTimerType(Qt::PreciseTimer);
        connect(&deadlineTimer, &QTimer::timeout, this, &Impl::onDeadline);
        idleTimer.setSingleShot(true);
        connect(&idleTimer, &QTimer::timeout, this, &Impl::onIdleTimeout);
    }

    void submit(const QByteArray &method, const QUrl &url, const QByteArray &body, const OnSuccessReply &success,
                const OnErrorReply &failure, qint64 timeoutMs, Kind kind)
    {
        auto owned = std::make_unique<Request>();
        Request *r = owned.get();
        r->id = ++lastId;
        r->method = method;
        r->kind = kind;
        r->url = url;
        r->body = body;
        r->success = success;
        r->failure = failure;
        r->server = serverKey(url.host(), url.port(80));
        r->user = url.userName();
        r->password = url.password();
        r->target = HttpRequestWriter::target(url);
        r->host = HttpRequestWriter::host(url);
        requests.emplace(r->id, std::move(owned));
        if (timeoutMs >= 0) {
            const qint64 ms = timeoutMs == 0 ? kDefaultTimeoutMs : std::min<qint64>(timeoutMs, qint64(1) << 40);
            r->deadline = deadlines.emplace(clock.elapsed() + ms, r->id);
            r->hasDeadline = true;
            if (r->deadline == deadlines.begin()
                && (!deadlineTimer.isActive() || deadlineTimer.remainingTime() > ms))
                armDeadlineTimer();
        }
        if (url.scheme() != QLatin1String("http"))
            failSoon(r->id, QNetworkReply::ProtocolUnknownError);
        else if (url.host().isEmpty())
            failSoon(r->id, QNetworkReply::HostNotFoundError);
        else
            place(r, false);
    }

    void preconnect(const QString &host, quint16 port)
    {
        if (host.isEmpty() || openCount >= limits.openConnections)
            return;
        const QString server = serverKey(host, port);
        Server &s = servers[server];
        if (!s.connections.isEmpty())
            return;
        Connection *c = connectTo(s, server, host, port);
        c->openedAhead = true;
        makeIdle(c, std::max(limits.idleCloseMs, limits.openedAheadHoldMs));
    }

    // Pending callbacks are dropped; sockets go once no signal of theirs is
    // running any more.
    void shutdown()
    {
        shutDown = true;
        deadlineTimer.stop();
        idleTimer.stop();
        requests.clear();
        globalQueue.clear();
        deadlines.clear();
        for (auto &entry : servers) {
            for (Connection *c : entry.second.connections)
                detach(c);
        }
        servers.clear();
        idleConnections.clear();
        // The client may be going inside a signal of one of them.
        for (Connection *c : std::exchange(closedConnections, {}))
            c->deleteLater();
    }

private:
    enum class Placed { OnConnection, Queued };

    Request *find(quint64 id) const
    {
        const auto it = requests.find(id);
        return it == requests.end() ? nullptr : it->second.get();
    }

    Request *waiting(quint64 id, Request::Queue queue) const
    {
        Request *r = find(id);
        return r && r->queue == queue ? r : nullptr;
    }

    // Gives the request a connection to its server now, or queues it: behind
    // the server's own connections when it has as many as allowed, else
    // behind the global limit.
    Placed place(Request *r, bool urgent)
    {
        Server &s = servers[r->server];
        for (int i = 0; i < s.connections.size();) {
            Connection *c = s.connections.at(i);
            if (!c->idle) {
                ++i;
                continue;
            }
            // Bytes nobody asked for, or the server's close, not signalled
            // yet: the next request would take them for its answer.
            if (c->socket->hasPendingInput()) {
                close(c);
                continue;
            }
            assign(c, r);
            return Placed::OnConnection;
        }
        if (s.connections.size() < limits.connectionsPerServer) {
            if (openCount < limits.openConnections || evictIdle()) {
                open(r, s);
                return Placed::OnConnection;
            }
            r->queue = Request::Queue::Global;
            if (urgent)
                globalQueue.push_front(r->id);
            else
                globalQueue.push_back(r->id);
            return Placed::Queued;
        }
        r->queue = Request::Queue::Server;
        if (urgent)
            s.queue.prepend(r->id);
        else
            s.queue.append(r->id);
        return Placed::Queued;
    }

    // Hands freed capacity to the waiting requests, oldest first.
    void pump(const QString &serverKey)
    {
        while (!globalQueue.empty()) {
            Request *r = waiting(globalQueue.front(), Request::Queue::Global);
            if (!r) {
                globalQueue.pop_front();
                continue;
            }
            const Server &s = servers[r->server];
            if (s.connections.size() < limits.connectionsPerServer && openCount >= limits.openConnections
                && idleConnections.isEmpty())
                break;
            globalQueue.pop_front();
            r->queue = Request::Queue::None;
            place(r, true);
        }
        const auto it = servers.find(serverKey);
        if (it == servers.end())
            return;
        Server &s = it->second;
        while (!s.queue.isEmpty()) {
            Request *r = waiting(s.queue.first(), Request::Queue::Server);
            s.queue.removeFirst();
            if (!r)
                continue;
            r->queue = Request::Queue::None;
            if (place(r, true) == Placed::Queued)
                break;
        }
        if (s.connections.isEmpty() && s.queue.isEmpty())
            servers.erase(serverKey);
    }

    void open(Request *r, Server &s)
    {
        Connection *c = connectTo(s, r->server, r->url.host(), quint16(r->url.port(80)));
        c->request = r;
        r->connection = c;
        r->queue = Request::Queue::None;
        // The stream holds the request until it is connected.
        send(c);
    }

    // A failure reaches the caller from the event loop, never from inside
    // sendGet: the stream signals none from connectToHost.
    Connection *connectTo(Server &s, const QString &server, const QString &host, quint16 port)
    {
        auto *c = new Connection(parserLimits);
        c->setParent(this);
        c->server = server;
        c->host = host;
        c->port = port;
        c->socket = new platform::TcpStream(c);
        connect(c->socket, &platform::TcpStream::readyRead, c, [this, c]() { onReadyRead(c); });
        connect(c->socket, &platform::TcpStream::errorOccurred, c,
                [this, c](QAbstractSocket::SocketError error) { onSocketGone(c, error); });
        s.connections.append(c);
        ++openCount;
        c->socket->connectToHost(c->host, c->port);
        return c;
    }

    void assign(Connection *c, Request *r)
    {
        c->idle = false;
        idleConnections.removeOne(c);
        c->request = r;
        r->connection = c;
        r->queue = Request::Queue::None;
        send(c);
    }

    void send(Connection *c)
    {
        Request *r = c->request;
        c->parser.reset();
        c->socket->write(HttpRequestWriter::write(r->method, r->target, r->host, authorization(r), r->body));
    }

    // holdMs: how long it may stay unused; idleConnections stays ordered by
    // the time each is due to close.
    void makeIdle(Connection *c, qint64 holdMs)
    {
        c->idle = true;
        c->closeAtMs = clock.elapsed() + holdMs;
        const auto later = std::upper_bound(idleConnections.begin(), idleConnections.end(), c->closeAtMs,
                                            [](qint64 closeAtMs, const Connection *other) {
                                                return closeAtMs < other->closeAtMs;
                                            });
        idleConnections.insert(later, c);
        armIdleTimer(holdMs);
    }

    // Runs the idle check after ms at the latest.
    void armIdleTimer(qint64 ms)
    {
        // At exit the thread may have no event dispatcher left to ask.
        if (shutDown)
            return;
        if (!idleTimer.isActive() || idleTimer.remainingTime() > ms)
            idleTimer.start(int(ms));
    }

    void makeIdle(Connection *c) { makeIdle(c, limits.idleCloseMs); }

    // Makes room by closing the idle connection due to close first; one
    // opened ahead is held longer, so it mostly goes after those that went
    // idle about when it opened. It belongs to another server than the one
    // that needs the room.
    bool evictIdle()
    {
        if (idleConnections.isEmpty())
            return false;
        const QString server = idleConnections.first()->server;
        close(idleConnections.first());
        const auto it = servers.find(server);
        if (it->second.connections.isEmpty() && it->second.queue.isEmpty())
            servers.erase(it);
        return true;
    }

    // Stops the connection's signals and lets the socket go later: this may
    // run inside one of its own signals. It goes with the next idle check,
    // which runs from a timer: a deferred delete per connection would wake
    // the event loop once more for each.
    // Without closeSocket the caller closes the socket itself soon after.
    void detach(Connection *c, bool closeSocket = true)
    {
        c->closed = true;
        QObject::disconnect(c->socket, nullptr, c, nullptr);
        if (closeSocket)
            c->socket->abort();
        c->setParent(nullptr);
        closedConnections.append(c);
        armIdleTimer(limits.idleCloseMs);
    }

    void close(Connection *c, bool closeSocket = true)
    {
        if (c->closed)
            return;
        if (c->idle)
            idleConnections.removeOne(c);
        servers[c->server].connections.removeOne(c);
        --openCount;
        if (c->request) {
            c->request->connection = nullptr;
            c->request = nullptr;
        }
        detach(c, closeSocket);
    }

    QByteArray authorization(Request *r)
    {
        r->sentBasic = false;
        if (r->password.isEmpty())
            return QByteArray();
        const auto digest = digests.find(digestKey(r));
        if (digest != digests.end())
            return digest->authorization(r->method, r->target, r->user, r->password, clientNonce());
        // A server known to want Digest is asked for a challenge first
        // rather than shown the password in the open.
        if (digestServers.contains(r->server))
            return QByteArray();
        r->sentBasic = true;
        return basicAuthorization(r->user, r->password);
    }

    // Whether the 401 is a challenge this request can still answer: once,
    // and only with something other than what it already sent.
    bool answerChallenge(Request *r, const HttpResponseParser &response)
    {
        if (r->answeredChallenge || r->password.isEmpty())
            return false;
        const QList<HttpChallenge> challenges = HttpChallenge::parse(response.header("WWW-Authenticate"));
        for (const HttpChallenge &challenge : challenges) {
            if (const auto digest = HttpDigest::fromChallenge(challenge)) {
                digests.insert(digestKey(r), *digest);
                digestServers.insert(r->server);
                r->answeredChallenge = true;
                return true;
            }
        }
        for (const HttpChallenge &challenge : challenges) {
            if (challenge.scheme == "basic" && !r->sentBasic) {
                digests.remove(digestKey(r));
                digestServers.remove(r->server);
                r->answeredChallenge = true;
                return true;
            }
        }
        return false;
    }

    static QString digestKey(const Request *r)
    {
        return r->server + QLatin1Char('\n') + r->user + QLatin1Char('\n') + r->password;
    }

    static QByteArray clientNonce()
    {
        return QByteArray::number(QRandomGenerator::global()->generate64(), 16).rightJustified(16, '0');
    }

    void onReadyRead(Connection *c)
    {
        if (c->closed)
            return;
        if (!c->request) {
            // Bytes nobody asked for: the connection cannot be trusted.
            const QString server = c->server;
            close(c);
            pump(server);
            return;
        }
        // At most one chunk per turn of the event loop: the rest waits in the
        // system, and the socket signals again on the next turn.
        const qint64 size = c->socket->read(readBuffer.data(), readBuffer.size());
        if (size < 0)
            onSocketGone(c, c->socket->error());
        else if (size > 0)
            onParsed(c, c->parser.feed(readBuffer.constData(), size));
    }

    void onSocketGone(Connection *c, QAbstractSocket::SocketError error)
    {
        if (c->closed)
            return;
        const QString server = c->server;
        Request *r = c->request;
        if (!r) {
            close(c);
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
        if (!c->parser.started() && r->kind == Kind::Read && (c->served > 0 || c->openedAhead) && !r->retried) {
            r->retried = true;
            close(c);
            open(r, servers[server]);
            return;
        }
        const int status = c->parser.headComplete() ? c->parser.status() : 0;
        close(c);
        // Closed (not refused): the request reached the server.
        const bool unanswered = !c->parser.started() && error == QAbstractSocket::RemoteHostClosedError;
        const QString reason = unanswered && r->kind == Kind::Change ? QString::fromLatin1(kUnansweredChange)
                                                                      : networkError(transportError(error));
        if (fail(r, reason, status))
            pump(server);
    }

    void onParsed(Connection *c, HttpResponseParser::State state)
    {
        if (state == HttpResponseParser::State::Incomplete)
            return;
        Request *r = c->request;
        const QString server = c->server;
        const HttpResponseParser &response = c->parser;
        const int status = response.headComplete() ? response.status() : 0;
        if (state == HttpResponseParser::State::Failed) {
            // A reply that is not HTTP or passes a limit of its head fails
            // as the access manager failed unreadable replies: "#399".
            const QString reason = response.failure() == HttpResponseParser::Failure::BodyTooLarge
                                       ? networkError(QStringLiteral("Reply too large"))
                                       : networkError(QNetworkReply::ProtocolFailure);
            close(c);
            if (fail(r, reason, status))
                pump(server);
            return;
        }
        const bool reusable = response.keepAlive();
        ++c->served;
        if (status == 401 && answerChallenge(r, response)) {
            if (reusable) {
                send(c);
                return;
            }
            close(c);
            place(r, true);
            pump(server);
            return;
        }
        if (status == 401)
            digests.remove(digestKey(r));
        const QByteArray body = response.body();
        const QByteArray phrase = response.reasonPhrase();
        c->request = nullptr;
        r->connection = nullptr;
        // A spent connection is closed in the system only after the caller
        // has had the answer: on loopback the close does the peer's part of
        // the shutdown too, and the caller's next request need not wait for it.
        if (reusable)
            makeIdle(c);
        else
            close(c, false);
        bool alive;
        if (status >= 200 && status <= 299)
            alive = finish(r, [&](const Request &done) {
                if (done.success)
                    done.success(body);
            });
        else
            alive = fail(r, phrase.isEmpty() ? networkError(QString()) : phraseText(phrase), status);
        if (!alive)
            return;
        if (!reusable)
            c->socket->abort();
        pump(server);
    }

    // Closes the connections idle for long enough, the first due first.
    void onIdleTimeout()
    {
        qDeleteAll(std::exchange(closedConnections, {}));
        const qint64 now = clock.elapsed();
        QSet<QString> freed;
        while (!idleConnections.isEmpty() && idleConnections.first()->closeAtMs <= now) {
            freed.insert(idleConnections.first()->server);
            close(idleConnections.first());
        }
        // Closed in batches: during a fleet's refreshes a connection goes idle
        // every few milliseconds, and a turn of the loop for each would cost
        // more than the socket held a little longer.
        if (!idleConnections.isEmpty())
            idleTimer.start(int(std::max<qint64>(idleConnections.first()->closeAtMs - now,
                                                 limits.idleCloseMs / 4)));
        else if (!closedConnections.isEmpty())
            idleTimer.start(limits.idleCloseMs);
        for (const QString &server : qAsConst(freed))
            pump(server);
    }

    void armDeadlineTimer()
    {
        if (deadlines.empty()) {
            deadlineTimer.stop();
            return;
        }
        const qint64 wait = deadlines.begin()->first - clock.elapsed();
        deadlineTimer.start(int(std::clamp<qint64>(wait, 0, std::numeric_limits<int>::max())));
    }

    void onDeadline()
    {
        while (!deadlines.empty() && deadlines.begin()->first <= clock.elapsed()) {
            Request *r = find(deadlines.begin()->second);
            deadlines.erase(deadlines.begin());
            if (!r)
                continue;
            r->hasDeadline = false;
            const QString server = r->server;
            int status = 0;
            if (Connection *c = r->connection) {
                status = c->parser.headComplete() ? c->parser.status() : 0;
                close(c);
            }
            r->queue = Request::Queue::None;
            if (!fail(r, networkError(QStringLiteral("Request Timed Out")), status))
                return;
            pump(server);
        }
        armDeadlineTimer();
    }

    void failSoon(quint64 id, int code)
    {
        QTimer::singleShot(0, this, [this, id, code]() {
            if (Request *r = find(id))
                fail(r, networkError(code), 0);
        });
    }

    bool fail(Request *r, const QString &reason, int status)
    {
        return finish(r, [&](const Request &done) {
            if (done.failure)
                done.failure(reason, status);
        });
    }

    // Ends the request and calls back; false when the callback destroyed the
    // client, in which case nothing of it may be touched any more.
    template<typename Call>
    bool finish(Request *r, const Call &call)
    {
        const auto it = requests.find(r->id);
        const std::unique_ptr<Request> done = std::move(it->second);
        requests.erase(it);
        if (done->hasDeadline)
            deadlines.erase(done->deadline);
        QPointer<Impl> alive(this);
        call(*done);
        return !alive.isNull();
    }

    const Limits limits;
    HttpResponseParser::Limits parserLimits;
    QByteArray readBuffer;
    QElapsedTimer clock;
    QTimer deadlineTimer;
    QTimer idleTimer;
    quint64 lastId = 0;
    std::unordered_map<quint64, std::unique_ptr<Request>> requests;
    std::multimap<qint64, quint64> deadlines;
    std::unordered_map<QString, Server, KeyHash> servers;
    std::deque<quint64> globalQueue;
    QList<Connection *> idleConnections; // the first due to close first
    QList<Connection *> closedConnections; // to be deleted
    int openCount = 0;
    bool shutDown = false;
    QHash<QString, HttpDigest> digests;  // by server and credentials
    QSet<QString> digestServers;
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
