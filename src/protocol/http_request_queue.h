#pragma once

#include "protocol/http_request.h"

#include <QElapsedTimer>
#include <QList>
#include <QString>
#include <QTimer>

#include <deque>
#include <map>
#include <memory>
#include <unordered_map>

namespace rtu {

// The client's requests by id, their deadlines and the requests waiting for
// a connection: in one queue when the overall limit holds them back, in their
// server's queue when its own connections do. One timer serves all deadlines.
// A request leaves the waiting queues lazily: once it ended, or was placed,
// its id is skipped where it is found.
class HttpRequestQueue
{
public:
    class Listener
    {
    public:
        // The request's deadline passed; false when the client was destroyed
        // meanwhile, so that nothing of the queue may be touched any more.
        virtual bool requestExpired(HttpRequest *request) = 0;

    protected:
        ~Listener() = default;
    };

    explicit HttpRequestQueue(Listener *listener);
    HttpRequestQueue(const HttpRequestQueue &) = delete;
    HttpRequestQueue &operator=(const HttpRequestQueue &) = delete;

    // Registers the request under a new id. With timeoutMs >= 0 it expires
    // that long from now (0: on the next turn of the event loop).
    HttpRequest *add(std::unique_ptr<HttpRequest> request, qint64 timeoutMs);
    HttpRequest *find(quint64 id) const;
    // Ends the request's registration and its deadline.
    std::unique_ptr<HttpRequest> take(HttpRequest *request);
    // Drops every request; no callback is called.
    void clear();
    qint64 elapsedMs(const HttpRequest &request) const { return m_clock.elapsed() - request.sentAtMs; }

    // Queues the request, at the front when urgent: it was already placed
    // once, or waited before.
    void wait(HttpRequest *request, HttpRequest::Queue queue, bool urgent);
    // The first request waiting for room overall, left in the queue.
    HttpRequest *firstWaiting();
    void removeFirstWaiting();
    // The next request waiting for the server's connections, taken out.
    HttpRequest *takeWaiting(const QString &server);

private:
    HttpRequest *waiting(quint64 id, HttpRequest::Queue queue) const;
    void armTimer();
    void onDeadline();

    Listener *const m_listener;
    QElapsedTimer m_clock;
    QTimer m_timer;
    quint64 m_lastId = 0;
    std::unordered_map<quint64, std::unique_ptr<HttpRequest>> m_requests;
    std::multimap<qint64, quint64> m_deadlines;
    std::deque<quint64> m_global;
    std::unordered_map<QString, QList<quint64>> m_servers;
};

} // namespace rtu
