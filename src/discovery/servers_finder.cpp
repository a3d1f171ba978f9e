#include "discovery/servers_finder.h"

#include "core/constants.h"
#include "core/json_object.h"
#include "platform/datagram_reader.h"
#include "platform/local_addresses.h"
#include "platform/multicast_membership.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QHash>
#include <QHostAddress>
#include <QJsonObject>
#include <QJsonValue>
#include <QPointer>
#include <QQueue>
#include <QSet>
#include <QTimer>
#include <QUdpSocket>

#include <algorithm>
#include <limits>
#include <utility>

namespace rtu {

namespace {

struct ServerEntry
{
    qint64 lastSeenMs = 0;
    qint64 displayAddressMs = 0;
    BaseServerInfo info;
    // The latest answer from each address that answers with this id.
    QHash<QString, qint64> answers;
    // Where the server is known to be. Another address answering meanwhile
    // is a second host claiming its id, not a move.
    QSet<QString> trusted;
    // Addresses the tool itself moved the server to, and when: trusted
    // before the server first answers from them.
    QHash<QString, qint64> expected;
    // As last reported.
    QStringList conflict;
};

struct Datagram
{
    QByteArray data;
    QHostAddress sender;
    quint16 senderPort = 0;
};

// Datagrams of one socket, read ahead of their handling. Reading is cheap and
// keeps the system's buffer from overflowing while a thousand answers arrive
// at once; handling them is what costs, and is bounded per turn.
class Inbox
{
public:
    explicit Inbox(int maxDatagramBytes = 0) : m_reader(maxDatagramBytes) {}

    // Moves what the socket holds into memory, up to the read-ahead limit.
    // A datagram larger than the limit is dropped without being read into a
    // buffer of its size. Stops when the socket cannot be read for now.
    void fill(QUdpSocket &socket, const ServersFinderParameters &parameters)
    {
        const int room = parameters.readAheadDatagrams - m_queue.size();
        if (room <= 0 || socket.state() != QAbstractSocket::BoundState)
            return;
        m_reader.read(socket, room, [this](const char *data, int size, const QHostAddress &sender, quint16 port) {
            m_queue.enqueue({QByteArray(data, size), sender, port});
        });
    }

    bool isEmpty() const { return m_queue.isEmpty(); }
    Datagram take() { return m_queue.dequeue(); }

    // Set while a turn to go on with the queue is already scheduled.
    bool continuationPosted = false;
    // When the socket was last read, and whether a paced read is due.
    qint64 lastReadMs = -1;
    bool readScheduled = false;

private:
    QQueue<Datagram> m_queue;
    platform::DatagramReader m_reader;
};

int portFromJson(const QJsonValue &value)
{
    if (!value.isDouble())
        return 0;
    const double number = value.toDouble();
    if (number < std::numeric_limits<int>::min() || number > std::numeric_limits<int>::max())
        return 0;
    return static_cast<int>(number);
}

// Goes on with datagrams left over from an earlier turn.
const QEvent::Type kContinueEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

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
    template <typename Handler>
    void handlePending(QUdpSocket *socket, void (Impl::*again)(QUdpSocket *), Handler handle);
    void readRequests();
    void readRequestsOf(QUdpSocket *socket);
    void readAnswers(QUdpSocket *socket);
    void answersArrived(QUdpSocket *socket);
    Inbox &inboxOf(QUdpSocket *socket);
    const std::optional<BaseServerInfo> &parsed(const Datagram &datagram, QString *sender);
    void processAnswer(BaseServerInfo record, const QString &sender);
    bool isLive(const ServerEntry &entry, const QString &address, qint64 time) const;
    void updateConflict(const QUuid &id, ServerEntry &entry, qint64 time);
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
    // Live ids per address they first answered from.
    QHash<QString, int> idsPerAddress;
    QHash<QString, qint64> answeringAddresses;
    QHash<QString, qint64> unknownEntities;
    QHash<QUdpSocket *, Inbox> inboxes;
    // The answer each address sent last: servers repeat theirs every cycle,
    // and the same text need not be parsed again.
    struct LastAnswer
    {
        QByteArray datagram;
        std::optional<BaseServerInfo> record;
        QString sender;
        qint64 atMs = 0;
    };
    QHash<QHostAddress, LastAnswer> lastAnswers;
    struct Continuation
    {
        QPointer<QUdpSocket> socket;
        void (Impl::*again)(QUdpSocket *);
    };
    QVector<Continuation> continuations;

protected:
    bool event(QEvent *event) override;
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
    // An earlier first cycle comes on top; the regular ones keep their times.
    if (parameters.firstCycleDelayMs >= 0 && parameters.firstCycleDelayMs < parameters.cycleIntervalMs)
        QTimer::singleShot(parameters.firstCycleDelayMs, Qt::PreciseTimer, this, &Impl::runCycle);
}

void ServersFinder::Impl::runCycle()
{
    const qint64 time = now();

    IDsVector removed;
    for (auto it = servers.begin(); it != servers.end();) {
        if (time - it->lastSeenMs > parameters.serverTimeoutMs) {
            removed.append(it.key());
            const auto count = idsPerAddress.find(it->info.hostAddress);
            if (count != idsPerAddress.end() && --count.value() <= 0)
                idsPerAddress.erase(count);
            it = servers.erase(it);
        } else {
            ++it;
        }
    }
    if (!removed.isEmpty())
        emit owner->serversRemoved(removed);

    for (auto it = servers.begin(); it != servers.end(); ++it) {
        QHash<QString, qint64> &answers = it->answers;
        for (auto answer = answers.begin(); answer != answers.end();) {
            if (time - answer.value() > parameters.answeringAddressTimeoutMs)
                answer = answers.erase(answer);
            else
                ++answer;
        }
        // Expiry can end a conflict, never start one.
        if (!it->conflict.isEmpty())
            updateConflict(it.key(), it.value(), time);
    }

    for (auto it = answeringAddresses.begin(); it != answeringAddresses.end();) {
        if (time - it.value() > parameters.answeringAddressTimeoutMs)
            it = answeringAddresses.erase(it);
        else
            ++it;
    }
    for (auto it = lastAnswers.begin(); it != lastAnswers.end();) {
        if (time - it->atMs > parameters.answeringAddressTimeoutMs)
            it = lastAnswers.erase(it);
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

    const auto addresses = platform::localIPv4Addresses();
    for (const QHostAddress &address : addresses) {
        QSharedPointer<QUdpSocket> &socket = sendingSockets[address];
        if (!socket) {
            socket.reset(new QUdpSocket);
            QUdpSocket *const raw = socket.data();
            connect(raw, &QUdpSocket::readyRead, this, [this, raw] { answersArrived(raw); });
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
    if (listener)
        inboxes.remove(listener.data());
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

template <typename Handler>
void ServersFinder::Impl::handlePending(QUdpSocket *socket, void (Impl::*again)(QUdpSocket *), Handler handle)
{
    Inbox &inbox = inboxOf(socket);
    inbox.fill(*socket, parameters);
    for (int handled = 0; handled < parameters.datagramsPerTurn && !inbox.isEmpty(); ++handled)
        handle(inbox.take());
    // The rest waits for the next turn, after the window has had its own,
    // but ahead of what else is queued: answers still in the system's buffer
    // would be lost if it filled up.
    const bool more = !inbox.isEmpty()
                      || (socket->state() == QAbstractSocket::BoundState && socket->hasPendingDatagrams());
    if (!more || inbox.continuationPosted)
        return;
    inbox.continuationPosted = true;
    continuations.append({QPointer<QUdpSocket>(socket), again});
    if (continuations.size() == 1)
        QCoreApplication::postEvent(this, new QEvent(kContinueEvent), Qt::HighEventPriority);
}

Inbox &ServersFinder::Impl::inboxOf(QUdpSocket *socket)
{
    auto found = inboxes.find(socket);
    if (found == inboxes.end())
        found = inboxes.insert(socket, Inbox(parameters.maxDatagramBytes));
    return found.value();
}

void ServersFinder::Impl::answersArrived(QUdpSocket *socket)
{
    // The socket signals again only after it was read, so until the paced
    // read the event loop is not woken for it. The cycle's own read does not
    // count: the first answers to a request are read at once.
    Inbox &inbox = inboxOf(socket);
    const qint64 wait = inbox.lastReadMs < 0 ? 0 : inbox.lastReadMs + parameters.answerReadGapMs - now();
    if (wait <= 0) {
        inbox.lastReadMs = now();
        readAnswers(socket);
        return;
    }
    if (inbox.readScheduled)
        return;
    inbox.readScheduled = true;
    QTimer::singleShot(int(wait), Qt::PreciseTimer, this, [this, socket = QPointer<QUdpSocket>(socket)]() {
        const auto found = inboxes.find(socket.data());
        if (!socket || found == inboxes.end())
            return;
        found->readScheduled = false;
        answersArrived(socket.data());
    });
}

bool ServersFinder::Impl::event(QEvent *event)
{
    if (event->type() != kContinueEvent)
        return QObject::event(event);
    const QVector<Continuation> due = std::exchange(continuations, {});
    for (const Continuation &continuation : due) {
        const auto found = inboxes.find(continuation.socket.data());
        if (!continuation.socket || found == inboxes.end())
            continue;
        found->continuationPosted = false;
        (this->*continuation.again)(continuation.socket.data());
    }
    return true;
}

void ServersFinder::Impl::readRequests()
{
    if (listener)
        readRequestsOf(listener.data());
}

void ServersFinder::Impl::readRequestsOf(QUdpSocket *socket)
{
    if (socket != listener.data())
        return;
    const QSharedPointer<QUdpSocket> keep = listener; // alive while its datagrams are handled
    handlePending(socket, &Impl::readRequestsOf, [this](const Datagram &datagram) {
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
    handlePending(socket, &Impl::readAnswers, [this](const Datagram &datagram) {
        QString sender;
        if (const std::optional<BaseServerInfo> &record = parsed(datagram, &sender))
            processAnswer(*record, sender);
    });
}

const std::optional<BaseServerInfo> &ServersFinder::Impl::parsed(const Datagram &datagram, QString *sender)
{
    // Bounded: a flood from many addresses only empties it.
    if (lastAnswers.size() >= parameters.maxServers && !lastAnswers.contains(datagram.sender))
        lastAnswers.clear();
    LastAnswer &last = lastAnswers[datagram.sender];
    last.atMs = now();
    if (last.sender.isEmpty())
        last.sender = datagram.sender.toString();
    *sender = last.sender;
    if (last.datagram.isNull() || last.datagram != datagram.data) {
        last.datagram = datagram.data;
        last.record = ServersFinder::parseAnswer(datagram.data);
    }
    return last.record;
}

void ServersFinder::Impl::processAnswer(BaseServerInfo record, const QString &sender)
{
    const qint64 time = now();
    record.hostAddress = sender;
    answeringAddresses.insert(sender, time);
    if (unknownEntities.remove(sender))
        emit owner->unknownRemoved(sender);

    const auto found = servers.find(record.id);
    if (found == servers.end()) {
        // A flood of made-up ids is not followed beyond the limit.
        if (servers.size() >= parameters.maxServers
            || idsPerAddress.value(sender) >= parameters.maxServersPerAddress)
            return;
        emit owner->serverDiscovered(record);
        ServerEntry entry;
        entry.lastSeenMs = time;
        // Old enough that the next answer fills in the displayed address.
        entry.displayAddressMs = time - parameters.displayAddressSwitchMs - 1;
        entry.info = record;
        entry.answers.insert(sender, time);
        entry.trusted.insert(sender);
        servers.insert(record.id, entry);
        ++idsPerAddress[sender];
        emit owner->serverAdded(record);
        return;
    }

    ServerEntry &entry = found.value();
    if (!entry.answers.contains(sender) && entry.answers.size() >= parameters.maxAddressesPerServer)
        return;
    entry.answers.insert(sender, time);
    entry.lastSeenMs = time;
    if (!entry.trusted.contains(sender)) {
        // While the server answers where it is known, a second host with its
        // id is neither followed nor told anything.
        for (const QString &address : qAsConst(entry.trusted)) {
            if (isLive(entry, address, time)) {
                updateConflict(record.id, entry, time);
                return;
            }
        }
        // Silent where it was known: it moved.
        entry.trusted = {sender};
    }
    updateConflict(record.id, entry, time);
    emit owner->serverDiscovered(record);

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

bool ServersFinder::Impl::isLive(const ServerEntry &entry, const QString &address, qint64 time) const
{
    const auto found = entry.answers.constFind(address);
    return found != entry.answers.constEnd() && time - found.value() <= parameters.answeringAddressTimeoutMs;
}

void ServersFinder::Impl::updateConflict(const QUuid &id, ServerEntry &entry, qint64 time)
{
    // Every answer comes here; a conflict takes two answering addresses,
    // which nearly no server has.
    if (entry.answers.size() < 2 && entry.conflict.isEmpty())
        return;
    QStringList known;
    QStringList others;
    for (auto it = entry.answers.cbegin(); it != entry.answers.cend(); ++it) {
        if (isLive(entry, it.key(), time))
            (entry.trusted.contains(it.key()) ? known : others).append(it.key());
    }
    QStringList conflict;
    if (!known.isEmpty() && !others.isEmpty()) {
        std::sort(known.begin(), known.end());
        std::sort(others.begin(), others.end());
        conflict = known + others;
    }
    if (conflict == entry.conflict)
        return;
    entry.conflict = conflict;
    emit owner->serverConflictChanged(id, conflict);
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

void ServersFinder::trustAddresses(const QUuid &id, const QStringList &addresses)
{
    const auto found = m_impl->servers.find(id);
    if (found == m_impl->servers.end())
        return;
    ServerEntry &entry = found.value();
    const qint64 time = m_impl->now();
    QSet<QString> trusted;
    for (const QString &address : addresses) {
        if (!address.isEmpty())
            trusted.insert(address);
    }
    // Addresses it was known at keep their trust while they answer, and
    // addresses it was moved to keep it until it could have got there.
    for (const QString &address : qAsConst(entry.trusted)) {
        if (m_impl->isLive(entry, address, time))
            trusted.insert(address);
    }
    for (auto it = entry.expected.begin(); it != entry.expected.end();) {
        if (time - it.value() > m_impl->parameters.expectedAddressMs) {
            it = entry.expected.erase(it);
        } else {
            trusted.insert(it.key());
            ++it;
        }
    }
    entry.trusted = trusted;
    m_impl->updateConflict(id, entry, time);
}

void ServersFinder::expectAddresses(const QUuid &id, const QStringList &addresses)
{
    const auto found = m_impl->servers.find(id);
    if (found == m_impl->servers.end())
        return;
    const qint64 time = m_impl->now();
    for (const QString &address : addresses) {
        if (address.isEmpty())
            continue;
        found->expected.insert(address, time);
        found->trusted.insert(address);
    }
    m_impl->updateConflict(id, found.value(), time);
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
