#include "platform/datagram_reader.h"

#include <QUdpSocket>

#ifndef _WIN32
#include <cerrno>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

namespace rtu::platform {

namespace {

#ifndef _WIN32
constexpr int kBatch = 32;
#else
constexpr int kBatch = 1;
#endif

} // namespace

DatagramReader::DatagramReader(int maxBytes) : m_maxBytes(qMax(1, maxBytes)) {}

void DatagramReader::read(QUdpSocket &socket, int limit, const Take &take)
{
    // One byte more than allowed tells an oversized datagram; the system
    // discards what does not fit.
    const int slot = m_maxBytes + 1;
    if (m_buffers.size() != slot * kBatch)
        m_buffers = QByteArray(slot * kBatch, '\0');
    char *const buffers = m_buffers.data();
    int count = 0;

#ifndef _WIN32
    const int descriptor = int(socket.socketDescriptor());
    mmsghdr messages[kBatch];
    iovec vectors[kBatch];
    sockaddr_storage senders[kBatch];
    while (count < limit && socket.state() == QAbstractSocket::BoundState) {
        const int wanted = qMin(kBatch, limit - count);
        for (int i = 0; i < wanted; ++i) {
            vectors[i] = {buffers + i * slot, size_t(slot)};
            messages[i] = {};
            messages[i].msg_hdr.msg_iov = &vectors[i];
            messages[i].msg_hdr.msg_iovlen = 1;
            messages[i].msg_hdr.msg_name = &senders[i];
            messages[i].msg_hdr.msg_namelen = sizeof(senders[i]);
        }
        const int received = recvmmsg(descriptor, messages, unsigned(wanted), MSG_DONTWAIT, nullptr);
        if (received < 0 && errno == EINTR)
            continue;
        if (received <= 0)
            break; // empty, or an error the read below reports to the socket
        for (int i = 0; i < received; ++i) {
            const int size = int(messages[i].msg_len);
            if (size > m_maxBytes || (messages[i].msg_hdr.msg_flags & MSG_TRUNC))
                continue;
            const QHostAddress sender(reinterpret_cast<const sockaddr *>(&senders[i]));
            const auto *in = reinterpret_cast<const sockaddr_in *>(&senders[i]);
            take(buffers + i * slot, size, sender, ntohs(in->sin_port));
        }
        count += received;
    }
    if (count >= limit || socket.state() != QAbstractSocket::BoundState)
        return;

    // Qt's socket signals readyRead again only after one of its own reads;
    // this one finds the socket empty, or takes what arrived meanwhile.
    // What came after that is read in the next call.
    QHostAddress sender;
    quint16 port = 0;
    const qint64 size = socket.readDatagram(buffers, slot, &sender, &port);
    if (size >= 0 && size <= m_maxBytes)
        take(buffers, int(size), sender, port);
#else
    while (count < limit && socket.state() == QAbstractSocket::BoundState && socket.hasPendingDatagrams()) {
        QHostAddress sender;
        quint16 port = 0;
        const qint64 size = socket.readDatagram(buffers, slot, &sender, &port);
        if (size < 0)
            return;
        ++count;
        if (size <= m_maxBytes)
            take(buffers, int(size), sender, port);
    }
#endif
}

} // namespace rtu::platform
