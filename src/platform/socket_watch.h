#pragma once

#include <QObject>

class QSocketNotifier;

namespace rtu::platform {

class EpollSet;

// Tells when a socket of the calling thread can be read or written, as a
// pair of QSocketNotifiers would. On Linux all watches of a thread share one
// epoll set behind a single notifier: each change of the event loop's own
// poll set wakes the loop once more, and a fleet's refreshes open and close
// dozens of connections a second, each with several such changes.
class SocketWatch : public QObject
{
    Q_OBJECT

public:
    SocketWatch(qintptr socket, QObject *parent = nullptr);
    ~SocketWatch() override;

    void setReadEnabled(bool enabled);
    void setWriteEnabled(bool enabled);
    // Both at once: one change of the set instead of two.
    void setInterest(bool read, bool write);

signals:
    // Also when the socket has failed or its peer has gone.
    void readable();
    // Also when a connection attempt has ended, in success or failure.
    void writable();

private:
    friend class EpollSet;
    void update();

    qintptr m_socket;
    bool m_read = false;
    bool m_write = false;
#ifdef _WIN32
    QSocketNotifier *m_readNotifier = nullptr;
    QSocketNotifier *m_writeNotifier = nullptr;
    // Winsock reports a failed connection attempt as an exception.
    QSocketNotifier *m_exceptionNotifier = nullptr;
#else
    quint64 m_token = 0; // this watch in its thread's set; 0: not in it
#endif
};

} // namespace rtu::platform
