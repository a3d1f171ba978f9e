#pragma once

#include <QByteArray>
#include <QHostAddress>

#include <functional>

class QUdpSocket;

namespace rtu::platform {

// Reads the datagrams waiting on a bound QUdpSocket in as few system calls
// as the system allows: a fleet's answers arrive by the thousand each cycle,
// and reading them one call at a time, with a look ahead before each, cost
// more than handling them.
class DatagramReader
{
public:
    using Take = std::function<void(const char *data, int size, const QHostAddress &sender, quint16 port)>;

    // Datagrams larger than maxBytes are dropped without being copied.
    explicit DatagramReader(int maxBytes);

    // Hands up to `limit` datagrams to `take`, in their order of arrival.
    // Stops early when the socket has nothing more; the socket then
    // signals readyRead again when the next datagram comes.
    void read(QUdpSocket &socket, int limit, const Take &take);

private:
    int m_maxBytes;
    QByteArray m_buffers; // one slot of maxBytes + 1 per datagram of a batch
};

} // namespace rtu::platform
