#include "discovery/servers_finder.h"

#include "core/constants.h"
#include "core/json_object.h"
#include "platform/multicast_membership.h"

#include <QElapsedTimer>
#include <QHash>
#include <QHostAddress>
#include <QJsonObject>
#include <QJsonValue>
#include <QNetworkInterface>
#include <QQueue>
#include <QSet>
#include <QTimer>
#include <QUdpSocket>

#include <limits>

namespace rtu {

namespace {

struct ServerEntry
{
    qint64 lastSeenMs = 0;
    qint64 displayAddressMs = 0;
    BaseServerInfo info;
};

struct Datagram
{
    QByteArray data;
    QHostAddress sender;
    quint16 senderPort = 0;
};

// Takes one pending datagram; empty when the socket has nothing readable now
// (the handler stops and tries again on the next signal or cycle).
std::optional<Datagram> readDatagram(QUdpSocket &socket)
{
    const qint64 size = socket.pendingDatagramSize();
    if (size < 0)
        return std::nullopt;
    Datagram datagram;
    datagram.data = QByteArray(static_cast<int>(size), '\0');
    const qint64 read = socket.readDatagram(datagram.data.data(), size, &datagram.sender, &datagram.senderPort);
    if (read < 0)
        return std::nullopt;
    if (read < size) {
        socket.close();
        return std::nullopt;
    }
    return datagram;
}

// Handles every datagram the socket holds, in arrival order. Before each one
// it moves whatever else has arrived into memory: the receivers of the
// finder's signals may be slow, and while they run the system drops what no
// longer fits the socket's buffer. Stops early when the socket cannot be read
// for now.
template <typename Handler>
void drain(QUdpSocket &socket, Handler handle)
{
    constexpr qint64 queueLimitBytes = 16 * 1024 * 1024; // a flood of large datagrams waits in the socket
    QQueue<Datagram> queue;
    qint64 queuedBytes = 0;
    bool readable = true;
    for (;;) {
        while (readable && queuedBytes < queueLimitBytes && socket.state() == QAbstractSocket::BoundState
               && socket.hasPendingDatagrams()) {
            std::optional<Datagram> datagram = readDatagram(socket);
            if (datagram) {
                queuedBytes += datagram->data.size();
                queue.enqueue(std::move(*datagram));
            } else {
                readable = false;
            }
        }
        if (queue.isEmpty())
            return;
        const Datagram next = queue.dequeue();
        queuedBytes -= next.data.size();
        handle(next);
    }
}

int portFromJson(const QJsonValue &value)
{
    if (!value.isDouble())
        return 0;
    const double number = value.toDouble();
    if (number < std::numeric_limits<int>::min() || number > std::numeric_limits<int>::max())
        return 0;
    return static_cast<int>(number);
}

// Only these bits make a server look different to the operator; the factory
// mark comes and goes while a server is being set up.
constexpr int kVisibleFlags = ~static_cast<int>(Constants::IsFactoryFlag);

} // namespace

class ServersFinder::Impl : public QObject
{
public:
    Impl(ServersFinder *owner, const ServersFinderParameters &parameters);

    void runCycle();
    void ensureListener();
    void joinGroup(const QHostAddress &address);
    void readRequests();
    void readAnswers(QUdpSocket *socket);
    void processAnswer(BaseServerInfo record, const QString &sender);
    bool isOwnRequest(const QHostAddress &sender, quint16 port) const;
    void sendRequest(QUdpSocket &socket);
    void sizeReceiveBuffer(QUdpSocket &socket) const;
    qint64 now() const { return clock.elapsed(); }

    ServersFinder *const owner;
    const ServersFinderParameters parameters;
    const QHostAddress group;
    QElapsedTimer clock;
    QTimer cycleTimer;
    QSharedPointer<QUdpSocket> listener;
    // Interface addresses on which the current listener is a group member.
    QSet<QString> joinedAddresses;
    QHash<QHostAddress, QSharedPointer<QUdpSocket>> sendingSockets;
    QHash<QUuid, ServerEntry> servers;
    QHash<QString, qint64> answeringAddresses;
    QHash<QString, qint64> unknownEntities;
};

ServersFinder::Impl::Impl(ServersFinder *owner, const ServersFinderParameters &parameters)
    : QObject(owner), owner(owner), parameters(parameters), group(parameters.multicastGroup)
{
    clock.start();
    // A coarse timer may fire up to 5 % early, which would shorten the cycle.
    cycleTimer.setTimerType(Qt::PreciseTimer);
    cycleTimer.setInterval(parameters.cycleIntervalMs);
    connect(&cycleTimer, &QTimer::timeout, this, &Impl::runCycle);
    cycleTimer.start();
}

void ServersFinder::Impl::runCycle()
{
    const qint64 time = now();

    IDsVector removed;
    for (auto it = servers.begin(); it != servers.end();) {
        if (time - it->lastSeenMs > parameters.serverTimeoutMs) {
            removed.append(it.key());
            it = servers.erase(it);
        } else {
            ++it;
        }
    }
    if (!removed.isEmpty())
        emit owner->serversRemoved(removed);

    for (auto it = answeringAddresses.begin(); it != answeringAddresses.end();) {
        if (time - it.value() > parameters.answeringAddressTimeoutMs)
            it = answeringAddresses.erase(it);
        else
            ++it;
    }

    QStringList silentUnknowns;
    for (auto it = unknownEntities.begin(); it != unknownEntities.end();) {
        if (time - it.value() > parameters.unknownTimeoutMs) {
            silentUnknowns.append(it.key());
            it = unknownEntities.erase(it);
        } else {
            ++it;
        }
    }
    for (const QString &address : qAsConst(silentUnknowns))
        emit owner->unknownRemoved(address);

    ensureListener();
    if (listener)
        readRequests(); // requests may have arrived before the connection existed

    const auto addresses = QNetworkInterface::allAddresses();
    for (const QHostAddress &address : addresses) {
        if (address.protocol() != QAbstractSocket::IPv4Protocol)
            continue;

        QSharedPointer<QUdpSocket> &socket = sendingSockets[address];
        if (!socket) {
            socket.reset(new QUdpSocket);
            QUdpSocket *const raw = socket.data();
            connect(raw, &QUdpSocket::readyRead, this, [this, raw] { readAnswers(raw); });
        }
        joinGroup(address);

        if (socket->state() != QAbstractSocket::BoundState) {
            socket->close();
            if (!socket->bind(address, 0))
                continue;
            sizeReceiveBuffer(*socket);
        }
        readAnswers(socket.data());
        sendRequest(*socket);
    }
}

void ServersFinder::Impl::ensureListener()
{
    // A listener closed after a failed read is replaced like a missing one.
    if (listener && listener->state() == QAbstractSocket::BoundState)
        return;
    listener.reset();
    joinedAddresses.clear();

    QSharedPointer<QUdpSocket> socket(new QUdpSocket);
    if (!socket->bind(QHostAddress::AnyIPv4, parameters.port, QUdpSocket::ReuseAddressHint))
        return;
    sizeReceiveBuffer(*socket);
    connect(socket.data(), &QUdpSocket::readyRead, this, &Impl::readRequests);
    listener = socket;
}

void ServersFinder::Impl::joinGroup(const QHostAddress &address)
{
    // Joined per listener, so a listener that is bound only after the
    // sending sockets exist still hears the group.
    if (!listener || listener->state() != QAbstractSocket::BoundState)
        return;
    const QString text = address.toString();
    if (joinedAddresses.contains(text))
        return;
    if (platform::joinMulticastGroup(listener->socketDescriptor(), group.toString(), text))
        joinedAddresses.insert(text);
}

bool ServersFinder::Impl::isOwnRequest(const QHostAddress &sender, quint16 port) const
{
    for (const auto &socket : sendingSockets) {
        if (socket->state() == QAbstractSocket::BoundState && socket->localPort() == port
            && socket->localAddress() == sender)
            return true;
    }
    return false;
}

void ServersFinder::Impl::readRequests()
{
    const QSharedPointer<QUdpSocket> socket = listener; // kept alive while its datagrams are handled
    if (!socket)
        return;
    drain(*socket, [this](const Datagram &datagram) {
        if (isOwnRequest(datagram.sender, datagram.senderPort) || !datagram.data.contains(parameters.request))
            return;
        const QString address = datagram.sender.toString();
        if (answeringAddresses.contains(address))
            return;
        const auto known = unknownEntities.find(address);
        if (known != unknownEntities.end()) {
            known.value() = now();
            return;
        }
        unknownEntities.insert(address, now());
        emit owner->unknownAdded(address);
    });
}

void ServersFinder::Impl::readAnswers(QUdpSocket *socket)
{
    drain(*socket, [this](const Datagram &datagram) {
        if (std::optional<BaseServerInfo> record = ServersFinder::parseAnswer(datagram.data))
            processAnswer(*record, datagram.sender.toString());
    });
}

void ServersFinder::Impl::processAnswer(BaseServerInfo record, const QString &sender)
{
    const qint64 time = now();
    record.hostAddress = sender;
    answeringAddresses.insert(sender, time);
    if (unknownEntities.remove(sender))
        emit owner->unknownRemoved(sender);

    emit owner->serverDiscovered(record);

    const auto found = servers.find(record.id);
    if (found == servers.end()) {
        ServerEntry entry;
        entry.lastSeenMs = time;
        // Old enough that the next answer fills in the displayed address.
        entry.displayAddressMs = time - parameters.displayAddressSwitchMs - 1;
        entry.info = record;
        servers.insert(record.id, entry);
        emit owner->serverAdded(record);
        return;
    }

    ServerEntry &entry = found.value();
    entry.lastSeenMs = time;
    record.displayAddress = entry.info.displayAddress;
    bool switched = false;
    if (entry.info.displayAddress == sender) {
        entry.displayAddressMs = time;
    } else if (time - entry.displayAddressMs > parameters.displayAddressSwitchMs) {
        entry.displayAddressMs = time;
        record.displayAddress = sender;
        switched = true;
    }

    const bool changed = record != entry.info || switched
                         || ((record.flags ^ entry.info.flags) & kVisibleFlags) != 0;
    if (!changed)
        return;
    entry.info.name = record.name;
    entry.info.systemName = record.systemName;
    entry.info.port = record.port;
    entry.info.displayAddress = record.displayAddress;
    entry.info.flags = record.flags;
    emit owner->serverChanged(record);
}

void ServersFinder::Impl::sizeReceiveBuffer(QUdpSocket &socket) const
{
    // The system may grant less (its ceiling) or, on Linux, twice as much.
    if (parameters.receiveBufferBytes > 0)
        socket.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, parameters.receiveBufferBytes);
}

void ServersFinder::Impl::sendRequest(QUdpSocket &socket)
{
    const QByteArray &request = parameters.request;
    qint64 written = 0;
    while (written < request.size()) {
        const qint64 sent = socket.writeDatagram(request.constData() + written, request.size() - written, group,
                                                 parameters.port);
        if (sent <= 0)
            break;
        written += sent;
    }
    if (written < request.size())
        socket.close(); // rebound on the next cycle
}

ServersFinder::ServersFinder(const ServersFinderParameters &parameters)
    : QObject(nullptr), m_impl(new Impl(this, parameters))
{
}

ServersFinder::~ServersFinder() = default;

ServersFinder::Holder ServersFinder::create(const ServersFinderParameters &parameters)
{
    return Holder(new ServersFinder(parameters));
}

std::optional<BaseServerInfo> ServersFinder::parseAnswer(const QByteArray &datagram)
{
    // Senders may pad the text; it ends at the first zero byte.
    const int end = datagram.indexOf('\0');
    const QByteArray text = end < 0 ? datagram : datagram.left(end);

    const std::optional<QJsonObject> document = parseJsonObject(text);
    if (!document)
        return std::nullopt;

    QJsonObject description = *document;
    const auto reply = description.constFind(QLatin1String("reply"));
    if (reply != description.constEnd())
        description = reply.value().toObject();

    const QString accepted = QStringLiteral("Media Server");
    const QJsonValue application = description.value(QLatin1String("application"));
    const QJsonValue type = description.value(QLatin1String("type"));
    if (!(application.isString() && application.toString() == accepted)
        && !(type.isString() && type.toString() == accepted))
        return std::nullopt;

    // Keys come in ascending order, so "seed" overrides "id".
    BaseServerInfo info;
    for (auto it = description.constBegin(); it != description.constEnd(); ++it) {
        const QString key = it.key();
        const QJsonValue value = it.value();
        if (key == QLatin1String("flags"))
            info.flags = flagsFromText(value.toString());
        else if (key == QLatin1String("id") || key == QLatin1String("seed"))
            info.id = QUuid(value.toString());
        else if (key == QLatin1String("name"))
            info.name = value.toString();
        else if (key == QLatin1String("port"))
            info.port = portFromJson(value);
        else if (key == QLatin1String("systemName"))
            info.systemName = value.toString();
    }
    return info;
}

} // namespace rtu
