#include "protocol/http_connection_pool.h"

#include "core/diagnostics.h"
#include "platform/tcp_stream.h"
#include "protocol/http_connection.h"

#include <QSet>

#include <algorithm>
#include <utility>

namespace rtu {

namespace {

const char *reasonText(HttpConnectionPool::CloseReason why)
{
    using Why = HttpConnectionPool::CloseReason;
    switch (why) {
    case Why::Idle:
        return "idle";
    case Why::Evicted:
        return "evicted to make room";
    case Why::PendingInput:
        return "input nobody asked for";
    case Why::Refused:
        return "refused";
    case Why::ServerClosed:
        return "closed by the server";
    case Why::Failed:
        return "transport failed";
    case Why::NotKeptAlive:
        return "not kept alive";
    case Why::ChangeAnswered:
        return "a change's own, answered";
    case Why::Malformed:
        return "malformed reply";
    case Why::TooLarge:
        return "reply too large";
    case Why::TimedOut:
        return "timed out";
    }
    return "";
}

} // namespace

HttpConnectionPool::HttpConnectionPool(const HttpClient::Limits &limits,
                                       const HttpResponseParser::Limits &parserLimits, Listener *listener)
    : m_limits(limits), m_parserLimits(parserLimits), m_listener(listener)
{
    m_clock.start();
    m_idleTimer.setSingleShot(true);
    QObject::connect(&m_idleTimer, &QTimer::timeout, [this]() { onIdleTimeout(); });
}

HttpConnectionPool::~HttpConnectionPool()
{
    shutdown();
}

HttpConnection *HttpConnectionPool::takeIdle(const QString &server, bool unusedOnly)
{
    HttpConnection *unused = nullptr;
    for (;;) {
        const auto it = m_servers.find(server);
        if (it == m_servers.end())
            return nullptr;
        HttpConnection *found = nullptr;
        unused = nullptr;
        for (HttpConnection *c : qAsConst(it->second)) {
            if (!c->idle)
                continue;
            if (c->served == 0) {
                if (!unused)
                    unused = c;
            } else if (!unusedOnly && !found) {
                found = c;
            }
        }
        if (!found)
            found = unused;
        if (!found)
            return nullptr;
        // Idle connections close in batches: one past its time is not used,
        // as its server may be closing it by now.
        if (found->closeAtMs <= m_clock.elapsed()) {
            close(found, CloseReason::Idle); // erases the list with its last connection
            continue;
        }
        if (found->socket->hasPendingInput()) {
            close(found, CloseReason::PendingInput);
            continue;
        }
        found->idle = false;
        m_idle.removeOne(found);
        qCDebug(logHttp).noquote() << "connection" << found->id << "to" << found->server
                                   << (found->served ? "reused" : "taken unused");
        return found;
    }
}

HttpConnectionPool::Room HttpConnectionPool::room(const QString &server) const
{
    if (connectionsTo(server) >= m_limits.connectionsPerServer)
        return Room::ServerFull;
    return m_openCount < m_limits.openConnections || !m_idle.isEmpty() ? Room::Available : Room::TotalFull;
}

// The idle connection due to close first makes room; one opened ahead is held
// longer, so it mostly goes after those that went idle about when it opened.
// It belongs to another server than the one that needs the room, which would
// have reused it.
HttpConnectionPool::Room HttpConnectionPool::makeRoom(const QString &server, bool reclaimIdle)
{
    if (reclaimIdle && connectionsTo(server) >= m_limits.connectionsPerServer) {
        for (HttpConnection *c : qAsConst(m_idle)) {
            if (c->server == server) {
                close(c, CloseReason::Evicted);
                break;
            }
        }
    }
    const Room room = this->room(server);
    if (room == Room::Available && m_openCount >= m_limits.openConnections)
        close(m_idle.first(), CloseReason::Evicted);
    return room;
}

HttpConnection *HttpConnectionPool::open(const QString &server, const QString &host, quint16 port)
{
    auto *c = new HttpConnection(m_parserLimits);
    c->id = ++m_lastId;
    c->server = server;
    c->host = host;
    c->port = port;
    c->socket = new platform::TcpStream(c);
    QObject::connect(c->socket, &platform::TcpStream::readyRead, c,
                     [this, c]() { m_listener->connectionReadable(c); });
    QObject::connect(c->socket, &platform::TcpStream::errorOccurred, c,
                     [this, c](QAbstractSocket::SocketError error) { m_listener->connectionFailed(c, error); });
    m_servers[server].append(c);
    ++m_openCount;
    qCDebug(logHttp).noquote() << "connection" << c->id << "to" << server << "opened";
    c->socket->connectToHost(host, port);
    return c;
}

void HttpConnectionPool::preconnect(const QString &server, const QString &host, quint16 port)
{
    if (m_openCount >= m_limits.openConnections || connectionsTo(server) >= m_limits.connectionsPerServer
        || hasUnused(server))
        return;
    HttpConnection *c = open(server, host, port);
    c->openedAhead = true;
    makeIdle(c, std::max(m_limits.idleCloseMs, m_limits.openedAheadHoldMs));
}

void HttpConnectionPool::release(HttpConnection *c, qint64 holdMs)
{
    makeIdle(c, holdMs < 0 ? m_limits.idleCloseMs : std::min<qint64>(holdMs, m_limits.idleCloseMs));
}

bool HttpConnectionPool::hasUnused(const QString &server) const
{
    const auto it = m_servers.find(server);
    if (it == m_servers.end())
        return false;
    return std::any_of(it->second.begin(), it->second.end(),
                       [](const HttpConnection *c) { return c->idle && c->served == 0; });
}

void HttpConnectionPool::close(HttpConnection *c, CloseReason why, bool closeSocket)
{
    if (c->closed)
        return;
    if (c->idle)
        m_idle.removeOne(c);
    const auto it = m_servers.find(c->server);
    it->second.removeOne(c);
    if (it->second.isEmpty())
        m_servers.erase(it);
    --m_openCount;
    qCDebug(logHttp).noquote() << "connection" << c->id << "to" << c->server << "closed:" << reasonText(why);
    detach(c, closeSocket);
}

void HttpConnectionPool::shutdown()
{
    m_shutDown = true;
    m_idleTimer.stop();
    for (auto &entry : m_servers) {
        for (HttpConnection *c : qAsConst(entry.second))
            detach(c, true);
    }
    m_servers.clear();
    m_idle.clear();
    m_openCount = 0;
    // The client may be going inside a signal of one of them.
    for (HttpConnection *c : std::exchange(m_closed, {}))
        c->deleteLater();
}

int HttpConnectionPool::connectionsTo(const QString &server) const
{
    const auto it = m_servers.find(server);
    return it == m_servers.end() ? 0 : it->second.size();
}

// m_idle stays ordered by the time each is due to close.
void HttpConnectionPool::makeIdle(HttpConnection *c, qint64 holdMs)
{
    c->idle = true;
    c->closeAtMs = m_clock.elapsed() + holdMs;
    const auto later = std::upper_bound(m_idle.begin(), m_idle.end(), c->closeAtMs,
                                        [](qint64 closeAtMs, const HttpConnection *other) {
                                            return closeAtMs < other->closeAtMs;
                                        });
    m_idle.insert(later, c);
    armIdleTimer(holdMs);
}

// The socket goes with the next idle check, which runs from a timer: a
// deferred delete per connection would wake the event loop once more for each.
void HttpConnectionPool::detach(HttpConnection *c, bool closeSocket)
{
    c->closed = true;
    QObject::disconnect(c->socket, nullptr, c, nullptr);
    if (closeSocket)
        c->socket->abort();
    m_closed.append(c);
    armIdleTimer(m_limits.idleCloseMs);
}

// Runs the idle check after ms at the latest.
void HttpConnectionPool::armIdleTimer(qint64 ms)
{
    // At exit the thread may have no event dispatcher left to ask.
    if (m_shutDown)
        return;
    if (!m_idleTimer.isActive() || m_idleTimer.remainingTime() > ms)
        m_idleTimer.start(int(ms));
}

// Closes the connections idle for long enough, the first due first.
void HttpConnectionPool::onIdleTimeout()
{
    qDeleteAll(std::exchange(m_closed, {}));
    const qint64 now = m_clock.elapsed();
    QSet<QString> freed;
    while (!m_idle.isEmpty() && m_idle.first()->closeAtMs <= now) {
        freed.insert(m_idle.first()->server);
        close(m_idle.first(), CloseReason::Idle);
    }
    // Closed in batches: during a fleet's refreshes a connection goes idle
    // every few milliseconds, and a turn of the loop for each would cost more
    // than the socket held a little longer.
    if (!m_idle.isEmpty())
        m_idleTimer.start(int(std::max<qint64>(m_idle.first()->closeAtMs - now, m_limits.idleCloseMs / 4)));
    else if (!m_closed.isEmpty())
        m_idleTimer.start(m_limits.idleCloseMs);
    for (const QString &server : qAsConst(freed))
        m_listener->connectionsFreed(server);
}

} // namespace rtu
