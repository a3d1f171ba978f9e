#include "platform/socket_watch.h"

#include <QAbstractEventDispatcher>
#include <QHash>
#include <QPointer>
#include <QSocketNotifier>

#ifndef _WIN32
#include <atomic>
#include <cerrno>
#include <cstring>
#include <sys/epoll.h>
#include <unistd.h>
#endif

namespace rtu::platform {

#ifdef _WIN32

void SocketWatch::update()
{
    if (m_read && !m_readNotifier) {
        m_readNotifier = new QSocketNotifier(m_socket, QSocketNotifier::Read, this);
        connect(m_readNotifier, &QSocketNotifier::activated, this, &SocketWatch::readable);
    }
    if (m_write && !m_writeNotifier) {
        m_writeNotifier = new QSocketNotifier(m_socket, QSocketNotifier::Write, this);
        connect(m_writeNotifier, &QSocketNotifier::activated, this, &SocketWatch::writable);
        m_exceptionNotifier = new QSocketNotifier(m_socket, QSocketNotifier::Exception, this);
        connect(m_exceptionNotifier, &QSocketNotifier::activated, this, &SocketWatch::writable);
    }
    if (m_readNotifier)
        m_readNotifier->setEnabled(m_read);
    if (m_writeNotifier) {
        m_writeNotifier->setEnabled(m_write);
        m_exceptionNotifier->setEnabled(m_write);
    }
}

#else

// The epoll set of one thread, read when its descriptor becomes readable.
// It goes with the thread's event dispatcher.
class EpollSet : public QObject
{
public:
    static EpollSet *forThisThread()
    {
        if (!current())
            current() = new EpollSet(QAbstractEventDispatcher::instance());
        return current();
    }

    static EpollSet *existing() { return current(); }

    void watch(SocketWatch *watch, uint32_t events)
    {
        epoll_event event{};
        event.events = events;
        if (watch->m_token && m_watches.contains(watch->m_token)) {
            event.data.u64 = watch->m_token;
            epoll_ctl(m_epoll, EPOLL_CTL_MOD, int(watch->m_socket), &event);
            return;
        }
        static std::atomic<quint64> lastToken{0};
        watch->m_token = ++lastToken;
        event.data.u64 = watch->m_token;
        m_watches.insert(watch->m_token, watch);
        epoll_ctl(m_epoll, EPOLL_CTL_ADD, int(watch->m_socket), &event);
    }

    // Out of the set before the socket closes: a reused number is another socket.
    void unwatch(SocketWatch *watch)
    {
        if (m_watches.remove(watch->m_token) > 0)
            epoll_ctl(m_epoll, EPOLL_CTL_DEL, int(watch->m_socket), nullptr);
        watch->m_token = 0;
    }

    ~EpollSet() override
    {
        if (m_epoll >= 0)
            ::close(m_epoll);
    }

private:
    explicit EpollSet(QObject *parent) : QObject(parent), m_epoll(epoll_create1(EPOLL_CLOEXEC))
    {
        if (m_epoll < 0) {
            qWarning("SocketWatch: no epoll set (%s)", strerror(errno));
            return;
        }
        m_notifier = new QSocketNotifier(m_epoll, QSocketNotifier::Read, this);
        connect(m_notifier, &QSocketNotifier::activated, this, &EpollSet::dispatch);
    }

    static QPointer<EpollSet> &current()
    {
        static thread_local QPointer<EpollSet> set;
        return set;
    }

    // Level-triggered like the notifiers: what is left is reported on the
    // next turn, so one batch per turn keeps the loop's other work going.
    // Each event can be a whole reply handled and the next request sent.
    static constexpr int kEventsPerTurn = 32;
    void dispatch()
    {
        epoll_event events[kEventsPerTurn];
        int count;
        do {
            count = epoll_wait(m_epoll, events, kEventsPerTurn, 0);
        } while (count < 0 && errno == EINTR);
        for (int i = 0; i < count; ++i) {
            const quint64 token = events[i].data.u64;
            const uint32_t what = events[i].events;
            // Each signal may disable, unwatch or delete this or any other watch.
            SocketWatch *watch = m_watches.value(token);
            if (watch && watch->m_read && (what & (EPOLLIN | EPOLLERR | EPOLLHUP)))
                emit watch->readable();
            watch = m_watches.value(token);
            if (watch && watch->m_write && (what & (EPOLLOUT | EPOLLERR | EPOLLHUP)))
                emit watch->writable();
        }
    }

    int m_epoll;
    QSocketNotifier *m_notifier = nullptr;
    QHash<quint64, SocketWatch *> m_watches;
};

void SocketWatch::update()
{
    // With no interest the socket leaves the set: a failed or closed socket
    // would otherwise be reported on every turn.
    const uint32_t events = (m_read ? EPOLLIN : 0u) | (m_write ? EPOLLOUT : 0u);
    if (events == 0) {
        if (EpollSet *set = EpollSet::existing(); set && m_token)
            set->unwatch(this);
        return;
    }
    EpollSet::forThisThread()->watch(this, events);
}

#endif

SocketWatch::SocketWatch(qintptr socket, QObject *parent) : QObject(parent), m_socket(socket) {}

SocketWatch::~SocketWatch()
{
    // Out of the thread's set, or its notifiers off, before the socket closes.
    m_read = false;
    m_write = false;
    update();
}

void SocketWatch::setReadEnabled(bool enabled)
{
    setInterest(enabled, m_write);
}

void SocketWatch::setWriteEnabled(bool enabled)
{
    setInterest(m_read, enabled);
}

void SocketWatch::setInterest(bool read, bool write)
{
    if (m_read == read && m_write == write)
        return;
    m_read = read;
    m_write = write;
    update();
}

} // namespace rtu::platform
