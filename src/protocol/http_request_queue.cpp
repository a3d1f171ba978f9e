#include "protocol/http_request_queue.h"

#include <algorithm>
#include <limits>

namespace rtu {

HttpRequestQueue::HttpRequestQueue(Listener *listener) : m_listener(listener)
{
    m_clock.start();
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&m_timer, &QTimer::timeout, [this]() { onDeadline(); });
}

HttpRequest *HttpRequestQueue::add(std::unique_ptr<HttpRequest> owned, qint64 timeoutMs)
{
    HttpRequest *r = owned.get();
    r->id = ++m_lastId;
    r->sentAtMs = m_clock.elapsed();
    m_requests.emplace(r->id, std::move(owned));
    if (timeoutMs >= 0) {
        const qint64 ms = std::min<qint64>(timeoutMs, qint64(1) << 40);
        r->deadline = m_deadlines.emplace(r->sentAtMs + ms, r->id);
        r->hasDeadline = true;
        if (r->deadline == m_deadlines.begin() && (!m_timer.isActive() || m_timer.remainingTime() > ms))
            armTimer();
    }
    return r;
}

HttpRequest *HttpRequestQueue::find(quint64 id) const
{
    const auto it = m_requests.find(id);
    return it == m_requests.end() ? nullptr : it->second.get();
}

std::unique_ptr<HttpRequest> HttpRequestQueue::take(HttpRequest *r)
{
    const auto it = m_requests.find(r->id);
    std::unique_ptr<HttpRequest> done = std::move(it->second);
    m_requests.erase(it);
    if (done->hasDeadline) {
        m_deadlines.erase(done->deadline);
        done->hasDeadline = false;
    }
    return done;
}

void HttpRequestQueue::clear()
{
    m_timer.stop();
    m_requests.clear();
    m_deadlines.clear();
    m_global.clear();
    m_servers.clear();
}

void HttpRequestQueue::wait(HttpRequest *r, HttpRequest::Queue queue, bool urgent)
{
    r->queue = queue;
    if (queue == HttpRequest::Queue::Global) {
        if (urgent)
            m_global.push_front(r->id);
        else
            m_global.push_back(r->id);
    } else if (urgent) {
        m_servers[r->server].prepend(r->id);
    } else {
        m_servers[r->server].append(r->id);
    }
}

HttpRequest *HttpRequestQueue::firstWaiting()
{
    while (!m_global.empty()) {
        if (HttpRequest *r = waiting(m_global.front(), HttpRequest::Queue::Global))
            return r;
        m_global.pop_front();
    }
    return nullptr;
}

void HttpRequestQueue::removeFirstWaiting()
{
    if (HttpRequest *r = firstWaiting()) {
        r->queue = HttpRequest::Queue::None;
        m_global.pop_front();
    }
}

HttpRequest *HttpRequestQueue::takeWaiting(const QString &server)
{
    const auto it = m_servers.find(server);
    if (it == m_servers.end())
        return nullptr;
    HttpRequest *r = nullptr;
    while (!r && !it->second.isEmpty())
        r = waiting(it->second.takeFirst(), HttpRequest::Queue::Server);
    if (it->second.isEmpty())
        m_servers.erase(it);
    if (r)
        r->queue = HttpRequest::Queue::None;
    return r;
}

HttpRequest *HttpRequestQueue::waiting(quint64 id, HttpRequest::Queue queue) const
{
    HttpRequest *r = find(id);
    return r && r->queue == queue ? r : nullptr;
}

void HttpRequestQueue::armTimer()
{
    if (m_deadlines.empty()) {
        m_timer.stop();
        return;
    }
    const qint64 wait = m_deadlines.begin()->first - m_clock.elapsed();
    m_timer.start(int(std::clamp<qint64>(wait, 0, std::numeric_limits<int>::max())));
}

void HttpRequestQueue::onDeadline()
{
    while (!m_deadlines.empty() && m_deadlines.begin()->first <= m_clock.elapsed()) {
        HttpRequest *r = find(m_deadlines.begin()->second);
        m_deadlines.erase(m_deadlines.begin());
        if (!r)
            continue;
        r->hasDeadline = false;
        if (!m_listener->requestExpired(r))
            return;
    }
    armTimer();
}

} // namespace rtu
