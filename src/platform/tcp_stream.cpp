#include "platform/tcp_stream.h"

#include "platform/socket_watch.h"

#include <QHostAddress>
#include <QHostInfo>

#include <climits>
#include <cstring>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace rtu::platform {

namespace {

#ifdef _WIN32
using Handle = SOCKET;
const qintptr kNoSocket = qintptr(INVALID_SOCKET);
int lastError() { return WSAGetLastError(); }
bool interrupted(int) { return false; }
bool wouldBlock(int code) { return code == WSAEWOULDBLOCK; }
bool inProgress(int code) { return code == WSAEWOULDBLOCK || code == WSAEINPROGRESS; }
void closeHandle(qintptr socket) { closesocket(Handle(socket)); }
constexpr int kSendFlags = 0;

QAbstractSocket::SocketError socketError(int code)
{
    switch (code) {
    case WSAECONNREFUSED:
        return QAbstractSocket::ConnectionRefusedError;
    case WSAECONNRESET:
    case WSAECONNABORTED:
    case WSAESHUTDOWN:
        return QAbstractSocket::RemoteHostClosedError;
    case WSAENETUNREACH:
    case WSAEHOSTUNREACH:
    case WSAENETDOWN:
    case WSAETIMEDOUT:
    case WSAEADDRNOTAVAIL:
        return QAbstractSocket::NetworkError;
    case WSAEACCES:
        return QAbstractSocket::SocketAccessError;
    case WSAEMFILE:
    case WSAENOBUFS:
        return QAbstractSocket::SocketResourceError;
    default:
        return QAbstractSocket::UnknownSocketError;
    }
}
#else
const qintptr kNoSocket = -1;
int lastError() { return errno; }
bool interrupted(int code) { return code == EINTR; }
bool wouldBlock(int code) { return code == EAGAIN || code == EWOULDBLOCK; }
bool inProgress(int code) { return code == EINPROGRESS; }
void closeHandle(qintptr socket) { ::close(int(socket)); }
constexpr int kSendFlags = MSG_NOSIGNAL; // a closed peer is an error, not a signal

QAbstractSocket::SocketError socketError(int code)
{
    switch (code) {
    case ECONNREFUSED:
        return QAbstractSocket::ConnectionRefusedError;
    case ECONNRESET:
    case EPIPE:
        return QAbstractSocket::RemoteHostClosedError;
    case ENETUNREACH:
    case EHOSTUNREACH:
    case ENETDOWN:
    case ETIMEDOUT:
    case EADDRNOTAVAIL:
        return QAbstractSocket::NetworkError;
    case EACCES:
    case EPERM:
        return QAbstractSocket::SocketAccessError;
    case EMFILE:
    case ENFILE:
    case ENOBUFS:
    case ENOMEM:
        return QAbstractSocket::SocketResourceError;
    default:
        return QAbstractSocket::UnknownSocketError;
    }
}
#endif

qintptr openSocket(int family)
{
#ifdef _WIN32
    const SOCKET socket = ::socket(family, SOCK_STREAM, IPPROTO_TCP);
    if (socket == INVALID_SOCKET)
        return kNoSocket;
    u_long nonBlocking = 1;
    if (ioctlsocket(socket, FIONBIO, &nonBlocking) != 0) {
        closesocket(socket);
        return kNoSocket;
    }
    const char on = 1;
    setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
    return qintptr(socket);
#else
    const int socket = ::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
    if (socket < 0)
        return kNoSocket;
    // Requests are small and answered at once: no waiting to fill a segment.
    const int on = 1;
    setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
    return socket;
#endif
}

// The outcome of a connection attempt that has ended: 0 or its error.
int connectError(qintptr socket)
{
    int code = 0;
#ifdef _WIN32
    int size = sizeof(code);
    getsockopt(Handle(socket), SOL_SOCKET, SO_ERROR, reinterpret_cast<char *>(&code), &size);
#else
    socklen_t size = sizeof(code);
    getsockopt(int(socket), SOL_SOCKET, SO_ERROR, &code, &size);
#endif
    return code;
}

// Whether a connection attempt has ended by now, without waiting.
bool connectEnded(qintptr socket)
{
#ifdef _WIN32
    fd_set writable;
    fd_set failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(Handle(socket), &writable);
    FD_SET(Handle(socket), &failed);
    timeval now{0, 0};
    return select(0, nullptr, &writable, &failed, &now) > 0;
#else
    pollfd entry{int(socket), POLLOUT, 0};
    int result;
    do {
        result = ::poll(&entry, 1, 0);
    } while (result < 0 && interrupted(lastError()));
    return result > 0;
#endif
}

} // namespace

TcpStream::TcpStream(QObject *parent) : QObject(parent), m_socket(kNoSocket) {}

TcpStream::~TcpStream()
{
    abort();
}

void TcpStream::connectToHost(const QString &host, quint16 port)
{
    abort();
    m_closed = false;
    QHostAddress literal;
    if (literal.setAddress(host)) {
        connectToAddress(literal, port);
        return;
    }
    if (host.isEmpty()) {
        failLater(QAbstractSocket::HostNotFoundError);
        return;
    }
    m_lookupId = QHostInfo::lookupHost(host, this, [this, port](const QHostInfo &info) {
        m_lookupId = -1;
        if (m_closed)
            return;
        // The servers speak IPv4; a name's IPv6 address is the fallback.
        for (const auto protocol : {QAbstractSocket::IPv4Protocol, QAbstractSocket::IPv6Protocol}) {
            for (const QHostAddress &address : info.addresses()) {
                if (address.protocol() == protocol) {
                    connectToAddress(address, port);
                    return;
                }
            }
        }
        fail(QAbstractSocket::HostNotFoundError);
    });
}

void TcpStream::connectToAddress(const QHostAddress &address, quint16 port)
{
    sockaddr_storage storage;
    std::memset(&storage, 0, sizeof(storage));
    int length = 0;
    int family = AF_INET;
    if (address.protocol() == QAbstractSocket::IPv4Protocol) {
        auto *in = reinterpret_cast<sockaddr_in *>(&storage);
        in->sin_family = AF_INET;
        in->sin_port = htons(port);
        in->sin_addr.s_addr = htonl(address.toIPv4Address());
        length = sizeof(sockaddr_in);
    } else {
        auto *in6 = reinterpret_cast<sockaddr_in6 *>(&storage);
        family = AF_INET6;
        in6->sin6_family = AF_INET6;
        in6->sin6_port = htons(port);
        const Q_IPV6ADDR bytes = address.toIPv6Address();
        std::memcpy(&in6->sin6_addr, bytes.c, sizeof(bytes.c));
        in6->sin6_scope_id = address.scopeId().toUInt();
        length = sizeof(sockaddr_in6);
    }

    m_socket = openSocket(family);
    if (m_socket == kNoSocket) {
        failLater(socketError(lastError()));
        return;
    }
    m_connecting = true;
    m_watch = new SocketWatch(m_socket, this);
    connect(m_watch, &SocketWatch::writable, this, &TcpStream::onWritable);
    connect(m_watch, &SocketWatch::readable, this, &TcpStream::readyRead);
#ifdef _WIN32
    const int result = ::connect(Handle(m_socket), reinterpret_cast<const sockaddr *>(&storage), length);
#else
    int result;
    do {
        result = ::connect(int(m_socket), reinterpret_cast<const sockaddr *>(&storage), socklen_t(length));
    } while (result != 0 && interrupted(lastError()));
#endif
    if (result != 0 && !inProgress(lastError())) {
        failLater(socketError(lastError()));
        return;
    }
    // On loopback and on a near host the handshake is often over by now:
    // what is written then goes out at once, not a turn of the event loop
    // later, after whatever else that turn holds.
    if (result == 0 || connectEnded(m_socket)) {
        const int code = endConnect();
        if (code != 0)
            failLater(socketError(code));
        else if (!m_pending.isEmpty())
            flush();
        return;
    }
    // Otherwise its end shows as the socket becoming writable.
    m_watch->setWriteEnabled(true);
}

int TcpStream::endConnect()
{
    const int code = connectError(m_socket);
    if (code == 0) {
        m_connecting = false;
        m_watch->setInterest(true, false);
    }
    return code;
}

void TcpStream::onWritable()
{
    if (m_connecting) {
        const int code = endConnect();
        if (code != 0) {
            fail(socketError(code));
            return;
        }
    }
    flush();
}

void TcpStream::write(const QByteArray &data)
{
    if (m_closed || data.isEmpty())
        return;
    m_pending.append(data);
    if (!m_connecting && m_socket != kNoSocket)
        flush();
}

void TcpStream::flush()
{
    while (!m_pending.isEmpty()) {
#ifdef _WIN32
        const int sent = ::send(Handle(m_socket), m_pending.constData(), m_pending.size(), kSendFlags);
#else
        const ssize_t sent = ::send(int(m_socket), m_pending.constData(), size_t(m_pending.size()), kSendFlags);
#endif
        if (sent > 0) {
            m_sent += quint64(sent);
            m_pending.remove(0, int(sent));
            continue;
        }
        const int code = lastError();
        if (interrupted(code))
            continue;
        if (wouldBlock(code)) {
            m_watch->setWriteEnabled(true);
            return;
        }
        m_pending.clear();
        failLater(socketError(code));
        return;
    }
    m_watch->setWriteEnabled(false);
}

qint64 TcpStream::read(char *data, qint64 maxSize)
{
    if (m_socket == kNoSocket || m_connecting)
        return m_closed ? -1 : 0;
    for (;;) {
#ifdef _WIN32
        const int received = ::recv(Handle(m_socket), data, int(qMin<qint64>(maxSize, INT_MAX)), 0);
#else
        const ssize_t received = ::recv(int(m_socket), data, size_t(maxSize), 0);
#endif
        if (received > 0)
            return received;
        if (received == 0) {
            m_error = QAbstractSocket::RemoteHostClosedError;
        } else {
            const int code = lastError();
            if (interrupted(code))
                continue;
            if (wouldBlock(code))
                return 0;
            m_error = socketError(code);
        }
        // Nothing more will come; a readable end would signal without end.
        m_watch->setReadEnabled(false);
        return -1;
    }
}

bool TcpStream::hasPendingInput() const
{
    if (m_socket == kNoSocket || m_connecting)
        return m_closed;
    for (;;) {
        char byte = 0;
#ifdef _WIN32
        const int received = ::recv(Handle(m_socket), &byte, 1, MSG_PEEK);
#else
        const ssize_t received = ::recv(int(m_socket), &byte, 1, MSG_PEEK | MSG_DONTWAIT);
#endif
        if (received >= 0)
            return true; // a byte, or the end of the stream
        const int code = lastError();
        if (interrupted(code))
            continue;
        return !wouldBlock(code);
    }
}

void TcpStream::abort()
{
    if (m_lookupId >= 0) {
        QHostInfo::abortHostLookup(m_lookupId);
        m_lookupId = -1;
    }
    closeSocket();
    m_pending.clear();
    m_closed = true;
}

void TcpStream::closeSocket()
{
    // Unwatched before the number can be reused; the watch itself goes with
    // the stream (this may run in its signal).
    if (m_watch) {
        m_watch->setInterest(false, false);
        m_watch = nullptr;
    }
    if (m_socket != kNoSocket)
        closeHandle(m_socket);
    m_socket = kNoSocket;
    m_connecting = false;
}

void TcpStream::fail(QAbstractSocket::SocketError error)
{
    m_error = error;
    closeSocket();
    m_pending.clear();
    m_closed = true;
    emit errorOccurred(error);
}

void TcpStream::failLater(QAbstractSocket::SocketError error)
{
    // Closed now, reported from the event loop; an abort meanwhile wins.
    m_error = error;
    closeSocket();
    m_pending.clear();
    QMetaObject::invokeMethod(
        this,
        [this, error]() {
            if (!m_closed) {
                m_closed = true;
                emit errorOccurred(error);
            }
        },
        Qt::QueuedConnection);
}

} // namespace rtu::platform
