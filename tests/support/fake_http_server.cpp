#include "fake_http_server.h"

#include <QCryptographicHash>
#include <QPointer>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrlQuery>

#include <algorithm>

namespace rtu::test {

namespace {

const char kBufferProperty[] = "fakeHttpBuffer";
const QByteArray kRealm = "fake";

// The name=value pairs of a Digest Authorization field, unquoted.
QHash<QByteArray, QByteArray> digestParams(const QByteArray &field)
{
    QHash<QByteArray, QByteArray> params;
    const QRegularExpression pair(QStringLiteral("([A-Za-z-]+)=(\"([^\"]*)\"|[^, ]*)"));
    auto it = pair.globalMatch(QString::fromLatin1(field.mid(field.indexOf(' ') + 1)));
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        const QString value = m.captured(2).startsWith(QLatin1Char('"')) ? m.captured(3) : m.captured(2);
        params.insert(m.captured(1).toLower().toLatin1(), value.toLatin1());
    }
    return params;
}

QByteArray digestHash(const QByteArray &algorithm, const QByteArray &data)
{
    const auto kind = algorithm.toUpper() == "SHA-256" ? QCryptographicHash::Sha256 : QCryptographicHash::Md5;
    return QCryptographicHash::hash(data, kind).toHex();
}

// Parses one complete request off the front of buffer; false while it is
// still incomplete.
bool takeRequest(QByteArray &buffer, ReceivedRequest &out)
{
    const int headerEnd = buffer.indexOf("\r\n\r\n");
    if (headerEnd < 0)
        return false;
    const QList<QByteArray> lines = buffer.left(headerEnd).split('\n');
    const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
    ReceivedRequest request;
    request.method = requestLine.value(0);
    request.target = requestLine.value(1);
    qint64 length = 0;
    for (int i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines.at(i).trimmed();
        const int colon = line.indexOf(':');
        if (colon <= 0)
            continue;
        const QByteArray name = line.left(colon).trimmed();
        const QByteArray value = line.mid(colon + 1).trimmed();
        request.headers.append(qMakePair(name, value));
        if (name.compare("Content-Length", Qt::CaseInsensitive) == 0)
            length = value.toLongLong();
    }
    if (buffer.size() < headerEnd + 4 + length)
        return false;
    request.body = buffer.mid(headerEnd + 4, int(length));
    buffer.remove(0, headerEnd + 4 + int(length));

    const QByteArray authorization = request.header("Authorization");
    request.hasAuthorization = !authorization.isEmpty();
    request.scheme = authorization.left(authorization.indexOf(' ')).toLower();
    if (request.scheme == "basic") {
        const QByteArray decoded = QByteArray::fromBase64(authorization.mid(6));
        const int colon = decoded.indexOf(':');
        request.user = QString::fromUtf8(decoded.left(colon));
        request.password = QString::fromUtf8(decoded.mid(colon + 1));
    } else if (request.scheme == "digest") {
        request.user = QString::fromUtf8(digestParams(authorization).value("username"));
    }
    out = request;
    return true;
}

} // namespace

FakeReply FakeReply::json(const QByteArray &body, int status, const QByteArray &reason)
{
    FakeReply reply;
    reply.status = status;
    reply.reason = reason;
    reply.body = body;
    reply.headers.append(qMakePair(QByteArray("Content-Type"), QByteArray("application/json")));
    return reply;
}

FakeReply FakeReply::unauthorized()
{
    FakeReply reply;
    reply.status = 401;
    reply.reason = "Unauthorized";
    reply.headers.append(qMakePair(QByteArray("WWW-Authenticate"), QByteArray("Basic realm=\"fake\"")));
    return reply;
}

QString ReceivedRequest::path() const
{
    const int mark = target.indexOf('?');
    return QUrl::fromPercentEncoding(mark < 0 ? target : target.left(mark));
}

QString ReceivedRequest::query() const
{
    const int mark = target.indexOf('?');
    return mark < 0 ? QString() : QUrl::fromPercentEncoding(target.mid(mark + 1));
}

QByteArray ReceivedRequest::header(const QByteArray &name) const
{
    for (const auto &header : headers) {
        if (header.first.compare(name, Qt::CaseInsensitive) == 0)
            return header.second;
    }
    return QByteArray();
}

FakeHttpServer::FakeHttpServer(const QHostAddress &address, QObject *parent)
    : QObject(parent), m_server(new QTcpServer(this))
{
    qRegisterMetaType<ReceivedRequest>();
    m_default = FakeReply::json("{}");
    connect(m_server, &QTcpServer::newConnection, this, &FakeHttpServer::onNewConnection);
    m_server->listen(address);
}

FakeHttpServer::~FakeHttpServer() = default;

bool FakeHttpServer::isListening() const
{
    return m_server->isListening();
}

QString FakeHttpServer::host() const
{
    return m_server->serverAddress().toString();
}

quint16 FakeHttpServer::port() const
{
    return m_server->serverPort();
}

QUrl FakeHttpServer::url(const QString &path) const
{
    QUrl url;
    url.setScheme(QStringLiteral("http"));
    url.setHost(host());
    url.setPort(port());
    url.setPath(path);
    return url;
}

void FakeHttpServer::enqueue(const FakeReply &reply)
{
    m_queue.enqueue(reply);
}

void FakeHttpServer::setHandler(const Handler &handler)
{
    m_handler = handler;
}

void FakeHttpServer::setDefaultReply(const FakeReply &reply)
{
    m_default = reply;
}

void FakeHttpServer::requireBasicAuth(const QStringList &passwords, const QString &user)
{
    m_requireAuth = true;
    m_authPasswords = passwords;
    m_authUser = user;
    m_digestAlgorithms.clear();
    m_alsoBasic = true;
}

void FakeHttpServer::requireDigestAuth(const QStringList &passwords, const QByteArrayList &algorithms, bool alsoBasic,
                                       const QString &user)
{
    requireBasicAuth(passwords, user);
    m_digestAlgorithms = algorithms;
    m_alsoBasic = alsoBasic;
}

bool FakeHttpServer::authorized(const ReceivedRequest &request)
{
    const QByteArray field = request.header("Authorization");
    if (request.scheme == "basic")
        return m_alsoBasic && request.user == m_authUser && m_authPasswords.contains(request.password);
    if (request.scheme != "digest" || m_digestAlgorithms.isEmpty())
        return false;
    const QHash<QByteArray, QByteArray> p = digestParams(field);
    const QByteArray nonce = p.value("nonce");
    const QByteArray algorithm = p.value("algorithm", "MD5");
    if (!m_nonceUses.contains(nonce) || !m_digestAlgorithms.contains(algorithm) || p.value("qop") != "auth")
        return false;
    // Counted on receipt, before anything else is checked.
    const int uses = ++m_nonceUses[nonce];
    if (p.value("nc").toInt(nullptr, 16) != uses) {
        ++m_countRefusals;
        return false;
    }
    const QByteArray ha2 = digestHash(algorithm, request.method + ':' + p.value("uri"));
    for (const QString &password : qAsConst(m_authPasswords)) {
        const QByteArray ha1 = digestHash(algorithm, m_authUser.toUtf8() + ':' + kRealm + ':' + password.toUtf8());
        const QByteArray expected = digestHash(algorithm, ha1 + ':' + nonce + ':' + p.value("nc") + ':'
                                                              + p.value("cnonce") + ":auth:" + ha2);
        if (p.value("username") == m_authUser.toUtf8() && p.value("response") == expected)
            return true;
    }
    return false;
}

FakeReply FakeHttpServer::challenge()
{
    FakeReply reply = FakeReply::unauthorized();
    if (m_digestAlgorithms.isEmpty())
        return reply;
    reply.headers.clear();
    const QByteArray nonce = QByteArray::number(QRandomGenerator::global()->generate64(), 16);
    m_nonceUses.insert(nonce, 0);
    for (const QByteArray &algorithm : qAsConst(m_digestAlgorithms)) {
        reply.headers.append(qMakePair(QByteArray("WWW-Authenticate"),
                                       "Digest realm=\"" + kRealm + "\", qop=\"auth\", algorithm=" + algorithm
                                           + ", nonce=\"" + nonce + '"'));
    }
    if (m_alsoBasic)
        reply.headers.append(qMakePair(QByteArray("WWW-Authenticate"), "Basic realm=\"" + kRealm + '"'));
    return reply;
}

QVector<ReceivedRequest> FakeHttpServer::authenticatedRequests() const
{
    QVector<ReceivedRequest> result;
    for (const ReceivedRequest &request : m_requests) {
        if (request.hasAuthorization)
            result.append(request);
    }
    return result;
}

void FakeHttpServer::close()
{
    m_server->close();
    const auto sockets = m_server->findChildren<QTcpSocket *>();
    for (QTcpSocket *socket : sockets)
        socket->abort();
}

void FakeHttpServer::onNewConnection()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        ++m_connectionCount;
        m_mostOpenConnections = std::max(m_mostOpenConnections, ++m_openConnections);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket]() { onReadyRead(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this]() { --m_openConnections; });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    }
}

void FakeHttpServer::onReadyRead(QTcpSocket *socket)
{
    QByteArray buffer = socket->property(kBufferProperty).toByteArray() + socket->readAll();
    ReceivedRequest request;
    while (takeRequest(buffer, request)) {
        request.port = port();
        m_requests.append(request);
        emit requestReceived(request);
        answer(socket, replyFor(request));
    }
    socket->setProperty(kBufferProperty, buffer);
}

FakeReply FakeHttpServer::replyFor(const ReceivedRequest &request)
{
    if (m_requireAuth && !authorized(request))
        return challenge();
    if (!m_queue.isEmpty())
        return m_queue.dequeue();
    if (m_handler)
        return m_handler(request);
    return m_default;
}

void FakeHttpServer::answer(QTcpSocket *socket, const FakeReply &reply)
{
    if (reply.silent)
        return;
    switch (reply.endless) {
    case FakeReply::Endless::None:
        break;
    case FakeReply::Endless::ChunkedBody: {
        QByteArray head = "HTTP/1.1 " + QByteArray::number(reply.status) + ' ' + reply.reason + "\r\n";
        for (const auto &header : reply.headers)
            head += header.first + ": " + header.second + "\r\n";
        stream(socket, head + "Transfer-Encoding: chunked\r\n\r\n", "1000\r\n" + QByteArray(4096, 'x') + "\r\n");
        return;
    }
    case FakeReply::Endless::Headers:
        stream(socket, "HTTP/1.1 200 OK\r\n", "X-Filler: abcdefghijklmnopqrstuvwxyz\r\n");
        return;
    case FakeReply::Endless::HeaderLine:
        stream(socket, "HTTP/1.1 200 OK\r\nX-Filler: ", QByteArray(4096, 'a'));
        return;
    case FakeReply::Endless::StatusLine:
        stream(socket, "HTTP/1.1 200 ", QByteArray(4096, 'O'));
        return;
    }
    QPointer<QTcpSocket> guard(socket);
    auto send = [guard, reply]() {
        if (!guard)
            return;
        if (reply.drop) {
            guard->abort();
            return;
        }
        if (!reply.raw.isEmpty()) {
            guard->write(reply.raw);
            if (reply.closeAfter)
                guard->disconnectFromHost();
            return;
        }
        QByteArray head = "HTTP/1.1 " + QByteArray::number(reply.status);
        head += ' ' + reply.reason;
        head += "\r\n";
        for (const auto &header : reply.headers)
            head += header.first + ": " + header.second + "\r\n";
        const bool closing = reply.closeAfter || reply.noLength;
        if (!reply.noLength)
            head += "Content-Length: " + QByteArray::number(reply.body.size()) + "\r\n";
        if (closing)
            head += "Connection: close\r\n";
        head += "\r\n";
        guard->write(head);
        if (reply.stall) {
            guard->write(reply.body.left(reply.body.size() / 2));
            return;
        }
        guard->write(reply.body);
        if (closing)
            guard->disconnectFromHost();
    };
    if (reply.delayMs > 0)
        QTimer::singleShot(reply.delayMs, socket, send);
    else
        send();
}

// Keeps some data queued on the socket, refilled as the peer reads, so the
// stream goes on for as long as the peer takes it without filling memory.
void FakeHttpServer::stream(QTcpSocket *socket, const QByteArray &head, const QByteArray &chunk)
{
    QByteArray block;
    while (block.size() < 64 * 1024)
        block += chunk;
    socket->write(head);
    auto refill = [this, socket, block]() {
        while (socket->state() == QAbstractSocket::ConnectedState && socket->bytesToWrite() < 256 * 1024) {
            socket->write(block);
            m_endlessBytes += block.size();
        }
    };
    connect(socket, &QTcpSocket::bytesWritten, this, refill);
    refill();
}

} // namespace rtu::test
