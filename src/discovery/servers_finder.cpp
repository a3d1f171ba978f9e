#include "discovery/servers_finder.h"

#include "core/diagnostics.h"
#include "core/json_object.h"
#include "discovery/server_registry.h"
#include "platform/datagram_reader.h"
#include "platform/local_addresses.h"
#include "platform/multicast_membership.h"

#include <QCoreApplication>
#include <QDebug>
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

#include <limits>
#include <utility>

namespace rtu {

namespace {

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

// Reads one answer datagram; when it is not a server's description and a
// reason is asked for, says why.
std::optional<BaseServerInfo> readAnswer(const QByteArray &datagram, const char **reason)
{
    // Senders may pad the text; it ends at the first zero byte.
    const int end = datagram.indexOf('\0');
    const QByteArray text = end < 0 ? datagram : datagram.left(end);

    const std::optional<QJsonObject> document = parseJsonObject(text);
    if (!document) {
        if (reason)
            *reason = !text.isEmpty()      ? "not a JSON object"
                      : datagram.isEmpty() ? "empty"
                                           : "nothing before a zero byte";
        return std::nullopt;
    }

    QJsonObject description = *document;
    const auto reply = description.constFind(QLatin1String("reply"));
    if (reply != description.constEnd())
        description = reply.value().toObject();

    const QString accepted = QStringLiteral("Media Server");
    const QJsonValue application = description.value(QLatin1String("application"));
    const QJsonValue type = description.value(QLatin1String("type"));
    if (!(application.isString() && application.toString() == accepted)
        && !(type.isString() && type.toString() == accepted)) {
        if (reason)
            *reason = application.isString() || type.isString() ? "other application" : "not a server description";
        return std::nullopt;
    }

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

const char *whyNotAnAnswer(const QByteArray &datagram)
{
    const char *reason = "";
    readAnswer(datagram, &reason);
    return reason;
}

// Names come from the network: bounded, and quoted by the log stream.
QString shown(const QString &text)
{
    constexpr int kShownChars = 64;
    return text.size() > kShownChars ? text.left(kShownChars) + QStringLiteral("...") : text;
}

QString describeChanges(int changes, const BaseServerInfo &record)
{
    QString text;
    {
        QDebug out(&text);
        out.nospace();
        const char *separator = "";
        const auto next = [&]() -> QDebug & { return out << std::exchange(separator, ", "); };
        if (changes & ServerRegistry::NameChanged)
            next() << "name " << shown(record.name);
        if (changes & ServerRegistry::SystemNameChanged)
            next() << "system " << shown(record.systemName);
        if (changes & ServerRegistry::PortChanged)
            next() << "port " << record.port;
        if (changes & ServerRegistry::FlagsChanged)
            next() << "flags " << record.flags;
        if (changes & ServerRegistry::DisplayAddressSwitched)
            next() << "displayed address " << qUtf8Printable(record.displayAddress);
    }
    return text;
}

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
    void processAnswer(BaseServerInfo record, const QString &sender, int size);
    void reportConflict(const ServerRegistry::ConflictChange &change);
    QString refusalText(ServerRegistry::Refusal refusal, const QUuid &id, qint64 time) const;
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
    ServerRegistry registry;
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
    : QObject(owner), owner(owner), parameters(parameters), group(parameters.multicastGroup), registry(parameters)
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
    emit owner->cycleStarted();
    const qint64 time = now();

    const ServerRegistry::Expiry expired = registry.expire(time);
    if (!expired.servers.isEmpty()) {
        for (const QUuid &id : expired.servers)
            qCInfo(logDiscovery) << "server" << qUtf8Printable(id.toString()) << "expired: silent for more than"
                                 << parameters.serverTimeoutMs << "ms";
        emit owner->serversRemoved(expired.servers);
    }
    for (const ServerRegistry::ConflictChange &change : expired.conflicts)
        reportConflict(change);

    for (auto it = lastAnswers.begin(); it != lastAnswers.end();) {
        if (time - it->atMs > parameters.answeringAddressTimeoutMs)
            it = lastAnswers.erase(it);
        else
            ++it;
    }

    for (const QString &address : expired.unknowns) {
        qCInfo(logDiscovery) << "unknown host" << qUtf8Printable(address) << "removed: no request for more than"
                             << parameters.unknownTimeoutMs << "ms";
        emit owner->unknownRemoved(address);
    }

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
        if (!registry.takeRequest(address, now()))
            return;
        qCInfo(logDiscovery) << "unknown host" << qUtf8Printable(address) << "added: it asks for servers";
        emit owner->unknownAdded(address);
    });
}

void ServersFinder::Impl::readAnswers(QUdpSocket *socket)
{
    handlePending(socket, &Impl::readAnswers, [this](const Datagram &datagram) {
        QString sender;
        const std::optional<BaseServerInfo> &record = parsed(datagram, &sender);
        if (record) {
            processAnswer(*record, sender, datagram.data.size());
            return;
        }
        // A logging stream's operands are evaluated only when it is enabled:
        // the datagram is read again only then, to say why it was dropped.
        qCDebug(logDiscovery) << "answer from" << qUtf8Printable(sender) << "of" << datagram.data.size()
                              << "bytes refused:" << whyNotAnAnswer(datagram.data);
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

void ServersFinder::Impl::processAnswer(BaseServerInfo record, const QString &sender, int size)
{
    const qint64 time = now();
    const ServerRegistry::Answer answer = registry.takeAnswer(record, sender, time);
    if (answer.unknownRemoved) {
        qCInfo(logDiscovery) << "unknown host" << qUtf8Printable(sender) << "removed: it answers as a server";
        emit owner->unknownRemoved(sender);
    }
    if (answer.conflict)
        reportConflict(*answer.conflict);
    if (!answer.followed()) {
        qCDebug(logDiscovery) << "answer from" << qUtf8Printable(sender) << "of" << size << "bytes for"
                              << qUtf8Printable(record.id.toString())
                              << "refused:" << qUtf8Printable(refusalText(answer.refusal, record.id, time));
        return;
    }
    qCDebug(logDiscovery) << "answer from" << qUtf8Printable(sender) << "of" << size << "bytes for"
                          << qUtf8Printable(record.id.toString()) << "accepted";
    emit owner->serverDiscovered(record);
    if (answer.added) {
        qCInfo(logDiscovery) << "server" << qUtf8Printable(record.id.toString()) << "added from"
                             << qUtf8Printable(sender) << "name" << shown(record.name) << "system"
                             << shown(record.systemName) << "port" << record.port;
        emit owner->serverAdded(record);
        return;
    }
    if (!answer.changes)
        return;
    record.displayAddress = answer.displayAddress;
    qCInfo(logDiscovery) << "server" << qUtf8Printable(record.id.toString())
                         << "changed:" << qUtf8Printable(describeChanges(answer.changes, record));
    emit owner->serverChanged(record);
}

void ServersFinder::Impl::reportConflict(const ServerRegistry::ConflictChange &change)
{
    if (change.addresses.isEmpty()) {
        qCInfo(logDiscovery) << "conflict over" << qUtf8Printable(change.id.toString()) << "ended; it was between"
                             << qUtf8Printable(change.previous.join(QLatin1String(", ")));
    } else {
        qCInfo(logDiscovery) << "conflict over" << qUtf8Printable(change.id.toString())
                             << (change.previous.isEmpty() ? "started:" : "changed:") << "known at"
                             << qUtf8Printable(change.addresses.mid(0, change.knownCount).join(QLatin1String(", ")))
                             << "and also answered from"
                             << qUtf8Printable(change.addresses.mid(change.knownCount).join(QLatin1String(", ")));
    }
    emit owner->serverConflictChanged(change.id, change.addresses);
}

QString ServersFinder::Impl::refusalText(ServerRegistry::Refusal refusal, const QUuid &id, qint64 time) const
{
    switch (refusal) {
    case ServerRegistry::Refusal::None:
        break;
    case ServerRegistry::Refusal::TooManyServers:
        return QStringLiteral("the limit of %1 servers is reached").arg(parameters.maxServers);
    case ServerRegistry::Refusal::TooManyIdsForAddress:
        return QStringLiteral("the limit of %1 servers from one address is reached")
            .arg(parameters.maxServersPerAddress);
    case ServerRegistry::Refusal::TooManyAddressesForId:
        return QStringLiteral("the limit of %1 addresses for one id is reached").arg(parameters.maxAddressesPerServer);
    case ServerRegistry::Refusal::NotTrusted:
        return QStringLiteral("address not trusted while the server answers where it is known, at %1")
            .arg(registry.knownAnswering(id, time));
    }
    return QString();
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
    if (const auto change = m_impl->registry.trustAddresses(id, addresses, m_impl->now()))
        m_impl->reportConflict(*change);
}

void ServersFinder::expectAddresses(const QUuid &id, const QStringList &addresses)
{
    if (const auto change = m_impl->registry.expectAddresses(id, addresses, m_impl->now()))
        m_impl->reportConflict(*change);
}

std::optional<BaseServerInfo> ServersFinder::parseAnswer(const QByteArray &datagram)
{
    return readAnswer(datagram, nullptr);
}

} // namespace rtu
