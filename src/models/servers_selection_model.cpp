#include "models/servers_selection_model.h"

#include "core/constants.h"
#include "core/diagnostics.h"
#include "models/login_scheduler.h"
#include "models/model_change_helper.h"
#include "models/server_groups.h"
#include "protocol/server_requests.h"

#include <QHash>
#include <QPointer>

#include <algorithm>
#include <limits>
#include <memory>
#include <utility>
#include <vector>

namespace rtu {

using namespace listing;

namespace {

// False when the difference does not fit: absurd clock readings must not
// overflow.
bool subtract(qint64 first, qint64 second, qint64 *result)
{
    constexpr qint64 lowest = std::numeric_limits<qint64>::min();
    constexpr qint64 highest = std::numeric_limits<qint64>::max();
    if ((second > 0 && first < lowest + second) || (second < 0 && first > highest + second))
        return false;
    *result = first - second;
    return true;
}

// "a", "a and b", "a, b and c".
QString listed(const QStringList &items)
{
    if (items.size() < 2)
        return items.join(QString());
    return ServersSelectionModel::tr("%1 and %2").arg(items.mid(0, items.size() - 1).join(QStringLiteral(", ")),
                                                      items.last());
}

LoginOutcome outcomeOf(const ServerEntry &server)
{
    if (server.info.hasExtraInfo())
        return LoginOutcome::LoggedIn;
    if (server.loginState == PasswordRejected)
        return LoginOutcome::PasswordRejected;
    return server.loginReported ? LoginOutcome::Failed : LoginOutcome::Pending;
}

} // namespace

class ServersSelectionModel::Impl : public QObject, public ServerGroups
{
public:
    Impl(ServersSelectionModel *owner, ModelChangeHelper *helper, const ServersSelectionTiming &timing,
         HttpClient *loginClient);

    // Structure
    void add(const BaseServerInfo &baseInfo);
    void change(const BaseServerInfo &baseInfo, bool markOutdated);
    void notifyLayout();

    // Server data
    void onLoginSuccess(const QUuid &id, const ExtraServerInfo &extraInfo, const QString &host);
    void onLoginFailed(const QUuid &id, int errorCode);
    void ensureExtraInfo(ServerEntry &server);
    // confirmed: set by a change the server confirmed, else learnt by a login.
    void updatePassword(ServerEntry &server, const QString &password, bool confirmed);
    void updateTime(ServerEntry &server, qint64 utcDateTimeMs, const QByteArray &timeZoneId, qint64 timestampMs);
    void updateInterfaces(ServerEntry &server, const InterfaceInfoList &interfaces, const QString &host);
    // A change of the tool's was confirmed: the server is selected, and reads
    // of it started before now are stale.
    ServerEntry *selectForUpdate(const QUuid &id);
    ServerEntry *confirmedChange(const QUuid &id);
    void markOutdated();
    void noteAnswer(ServerEntry &server, const QString &address);
    ServerState stateOf(const ServerEntry &server) const;

    // Selection
    class RefreshCollector;
    void changeSelection(int row, bool selectOnly, bool emitSignal, RefreshCollector *collector);
    void selectFromList(int row, bool selectOnly);

    QVariant systemData(const SystemEntry &system, int role) const;
    QVariant serverData(const ServerEntry &server, int role) const;
    // Whether the server itself listed every address that answers as it.
    bool provenOneServer(const ServerEntry &server) const;
    QString conflictText(const ServerEntry &server) const;
    // What a password typed for the system will not reach, and why.
    QString loginConflictText(const SystemEntry &system) const;

    ServersSelectionModel *const owner;
    bool selectionOutdated = false;
    const ServerInfoManager::LoginSuccessCallback successHandler;
    const ServerInfoManager::LoginFailedCallback failedHandler;
    const ServersSelectionTiming timing;
    LoginScheduler *const scheduler;
    bool layoutPending = false;
    // The addresses each server named as its own (where it was logged in,
    // and its interfaces) when last read, kept after it leaves the list: if
    // it comes back answering from several of them, they are its own.
    QHash<QUuid, QStringList> ownAddresses;
};

// Gathers newly selected servers and refreshes them all with one request
// batch when it goes.
class ServersSelectionModel::Impl::RefreshCollector
{
public:
    explicit RefreshCollector(Impl *impl) : m_impl(impl) {}
    ~RefreshCollector() { m_impl->scheduler->refresh(m_servers); }
    RefreshCollector(const RefreshCollector &) = delete;
    RefreshCollector &operator=(const RefreshCollector &) = delete;

    void add(const ServerInfo &info) { m_servers.append(info); }

private:
    Impl *const m_impl;
    QVector<ServerInfo> m_servers;
};

ServersSelectionModel::Impl::Impl(ServersSelectionModel *owner, ModelChangeHelper *helper,
                                  const ServersSelectionTiming &timing, HttpClient *loginClient)
    : QObject(owner), ServerGroups(helper), owner(owner),
      successHandler([this](const QUuid &id, const ExtraServerInfo &extraInfo, const QString &host) {
          onLoginSuccess(id, extraInfo, host);
      }),
      failedHandler([this](const QUuid &id, int errorCode) { onLoginFailed(id, errorCode); }), timing(timing),
      scheduler(new LoginScheduler(this, timing, loginClient, *this, successHandler, failedHandler))
{
    connect(owner, &ServersSelectionModel::selectionChanged, this, [this]() {
        selectionOutdated = false;
        emit this->owner->selectionOutdatedChanged();
    });
}

void ServersSelectionModel::Impl::add(const BaseServerInfo &baseInfo)
{
    if (byId.contains(baseInfo.id) || byId.size() >= timing.maxServers)
        return;
    const QString name = targetSystemName(baseInfo);
    SystemEntry *system = systemsByName.value(name);
    if (!system)
        system = createSystem(name);

    auto server = std::make_unique<ServerEntry>();
    server->refreshedAtMs = scheduler->nextRefreshSlot();
    server->loginState = Unavailable;
    server->info = ServerInfo(baseInfo);
    server->answeredAtMs.insert(baseInfo.hostAddress, scheduler->now());
    scheduler->hold(*insertServer(std::move(server), *system));
    emit owner->serversCountChanged();
}

void ServersSelectionModel::Impl::change(const BaseServerInfo &baseInfo, bool outdates)
{
    ServerEntry *const server = find(baseInfo.id);
    if (!server)
        return;

    removeUnknown(baseInfo.hostAddress);
    if (outdates && server->selected() && baseInfo != server->info.baseInfo())
        markOutdated();

    // Where the server belongs is decided by the group it would be added to,
    // so that a factory server never leaves its group behind as an empty
    // system row.
    const QString newSystemName = targetSystemName(baseInfo);
    SystemEntry *const source = server->system;
    if (source->name() == newSystemName) {
        server->info.writableBaseInfo() = baseInfo;
        announce(*server);
        return;
    }

    // The server goes to the end of its new system as if found anew: the
    // selection mark stays, the login state is read from the record again.
    SystemEntry *target = systemsByName.value(newSystemName);
    if (!target && source->servers.size() == 1) {
        // The only server of a system renames it in place, even if the
        // order by name no longer holds.
        renameSystem(*source, newSystemName);
        target = source;
    } else if (!target) {
        target = createSystem(newSystemName);
    }
    moveServer(*server, *target);

    uncount(*server);
    server->info.writableBaseInfo() = baseInfo;
    server->refreshedAtMs = scheduler->nextRefreshSlot();
    server->loginState = server->info.hasExtraInfo() ? LoggedIn : Unavailable;
    count(*server);
    if (source != target) {
        if (source->servers.empty())
            dropSystem(*source);
        else
            announce(*source);
    }
    announce(*target);
    announce(*server);
    // A held login starts later with the new address anyway.
    if (!server->info.hasExtraInfo() && !server->loginHeld)
        scheduler->loginAutomatically(*server);
}

void ServersSelectionModel::Impl::notifyLayout()
{
    // Views relayout once for everything that changed in this turn.
    if (layoutPending)
        return;
    layoutPending = true;
    QMetaObject::invokeMethod(
        this,
        [this]() {
            layoutPending = false;
            emit owner->layoutChanged();
        },
        Qt::QueuedConnection);
}

void ServersSelectionModel::Impl::onLoginSuccess(const QUuid &id, const ExtraServerInfo &extraInfo,
                                                 const QString &host)
{
    ServerEntry *const server = find(id);
    if (!server)
        return;
    server->loginReported = true;
    updatePassword(*server, extraInfo.password, false);
    updateTime(*server, extraInfo.utcDateTimeMs, extraInfo.timeZoneId, extraInfo.timestampMs);
    updateInterfaces(*server, extraInfo.interfaces, host);
    announce(*server);
}

void ServersSelectionModel::Impl::onLoginFailed(const QUuid &id, int errorCode)
{
    ServerEntry *const server = find(id);
    if (!server)
        return;

    const bool wasSelected = server->selected();
    server->loginReported = true;
    uncount(*server);
    server->loginState = errorCode == 401 ? PasswordRejected : Unavailable;
    server->info.resetExtraInfo();
    server->selectedState = Qt::Unchecked;
    count(*server);
    announce(*server->system);
    announce(*server);
    if (wasSelected && selectedTotal == 0)
        emit owner->selectionChanged();
}

void ServersSelectionModel::Impl::ensureExtraInfo(ServerEntry &server)
{
    if (server.info.hasExtraInfo())
        return;
    uncount(server);
    server.loginState = LoggedIn;
    server.info.setExtraInfo(ExtraServerInfo());
    count(server);
    announce(server);
    announce(*server.system);
}

void ServersSelectionModel::Impl::updatePassword(ServerEntry &server, const QString &password, bool confirmed)
{
    ensureExtraInfo(server);
    const QString oldPassword = server.info.extraInfo().password;
    if (password == oldPassword) {
        server.passwordConfirmed = server.passwordConfirmed || confirmed;
        return;
    }
    server.passwordConfirmed = confirmed;

    // Servers of one system share the administrator password. Those whose
    // password is not known yet are counted, so that a fresh login does not
    // walk a large system for nothing.
    SystemEntry &system = *server.system;
    const bool shareWithOthers = !oldPassword.isEmpty() || system.blankPasswords > 1;
    auto setPassword = [this](ServerEntry &target, const QString &value) {
        uncount(target);
        target.info.writableExtraInfo().password = value;
        count(target);
    };
    setPassword(server, password);
    if (shareWithOthers) {
        const QString &systemName = server.info.baseInfo().systemName;
        for (const ServerEntryPtr &other : system.servers) {
            // A password that worked on one server is only a guess for the
            // others; one a server confirmed for itself outweighs it. Servers
            // of one system need not take a new password at once (or at all).
            if (!confirmed && other->passwordConfirmed)
                continue;
            if (other->info.hasExtraInfo() && other->info.extraInfo().password == oldPassword
                && other->info.baseInfo().systemName == systemName) {
                setPassword(*other, password);
                other->passwordConfirmed = false;
                announce(*other);
            }
        }
    }
    announce(server);
    announce(system);
    if (server.selected())
        markOutdated();
}

void ServersSelectionModel::Impl::updateTime(ServerEntry &server, qint64 utcDateTimeMs,
                                             const QByteArray &timeZoneId, qint64 timestampMs)
{
    ensureExtraInfo(server);
    ExtraServerInfo &extra = server.info.writableExtraInfo();
    // A peer may send any 64-bit reading: an offset that cannot even be
    // computed counts as a moved clock.
    qint64 newOffset = 0;
    qint64 oldOffset = 0;
    qint64 drift = 0;
    const bool clockMoved = !subtract(utcDateTimeMs, timestampMs, &newOffset)
                            || !subtract(extra.utcDateTimeMs, extra.timestampMs, &oldOffset)
                            || !subtract(newOffset, oldOffset, &drift) || drift > 5000 || drift < -5000;
    // Always keep the latest reading; only a real jump counts as a change.
    extra.utcDateTimeMs = utcDateTimeMs;
    extra.timestampMs = timestampMs;
    const bool zoneChanged = extra.timeZoneId != timeZoneId;
    if (zoneChanged)
        extra.timeZoneId = timeZoneId;
    if (server.selected() && (clockMoved || zoneChanged))
        markOutdated();
}

void ServersSelectionModel::Impl::updateInterfaces(ServerEntry &server, const InterfaceInfoList &interfaces,
                                                   const QString &host)
{
    server.info.writableBaseInfo().hostAddress = host;
    ensureExtraInfo(server);

    InterfaceInfoList &stored = server.info.writableExtraInfo().interfaces;
    bool changed = interfaces.size() != stored.size();
    // By name; a hash only where a server lists many interfaces.
    QHash<QString, int> storedByName;
    const bool indexed = stored.size() > 8;
    if (indexed) {
        for (int index = 0; index < stored.size(); ++index)
            storedByName.insert(stored.at(index).name, index);
    }
    for (const InterfaceInfo &received : interfaces) {
        int found = -1;
        if (indexed) {
            found = storedByName.value(received.name, -1);
        } else {
            for (int index = 0; index < stored.size() && found < 0; ++index) {
                if (stored.at(index).name == received.name)
                    found = index;
            }
        }
        if (found < 0) {
            // Interfaces a server stops listing are kept; new names beyond
            // the bound are not.
            if (stored.size() >= kMaxInterfaces)
                continue;
            if (indexed)
                storedByName.insert(received.name, stored.size());
            stored.append(received);
            removeUnknown(received.ip);
            continue;
        }
        if (stored.at(found) != received) {
            removeUnknown(received.ip);
            changed = true;
        }
        stored[found] = received;
    }
    announce(server);
    if (server.selected() && changed)
        markOutdated();

    QStringList trusted{host};
    for (const InterfaceInfo &interface : interfaces)
        trusted.append(interface.ip);
    // A read without interfaces keeps those it listed before.
    QStringList own{host};
    for (const InterfaceInfo &interface : qAsConst(stored))
        own.append(interface.ip);
    ownAddresses.insert(server.info.baseInfo().id, own);
    emit owner->addressesTrusted(server.info.baseInfo().id, trusted);
}

ServerEntry *ServersSelectionModel::Impl::selectForUpdate(const QUuid &id)
{
    ServerEntry *const server = find(id);
    if (server && !server->selected() && server->conflict.isEmpty()) {
        setSelected(*server, true);
        announce(*server);
        announce(*server->system);
    }
    return server;
}

ServerEntry *ServersSelectionModel::Impl::confirmedChange(const QUuid &id)
{
    ServerEntry *const server = selectForUpdate(id);
    if (server)
        scheduler->changeConfirmed(*server);
    return server;
}

void ServersSelectionModel::Impl::markOutdated()
{
    selectionOutdated = true;
    emit owner->selectionOutdatedChanged();
}

void ServersSelectionModel::Impl::changeSelection(int row, bool selectOnly, bool emitSignal,
                                                  RefreshCollector *collector)
{
    ServerEntry *server = nullptr;
    SystemEntry *const system = systemAtRow(row, &server);
    if (!system)
        return;

    std::unique_ptr<RefreshCollector> ownCollector;
    if (!collector) {
        ownCollector = std::make_unique<RefreshCollector>(this);
        collector = ownCollector.get();
    }

    if (server) {
        if (!server->selectable())
            return;
        const bool wasSelected = server->selected();
        const int selectedBefore = selectedTotal;
        if (selectOnly) {
            for (SystemEntry *each = firstSystem(); each; each = nextSystem(each)) {
                if (each->selectedCount == 0)
                    continue;
                for (const ServerEntryPtr &other : each->servers) {
                    if (other->selected())
                        setSelected(*other, false);
                }
            }
        }
        const bool select = !wasSelected || (selectOnly && selectedBefore > 1);
        setSelected(*server, select);
        if (select)
            collector->add(server->info);
        announce(*server);
        announce(*system);
    } else {
        const bool select = system->selectedCount == 0;
        for (const ServerEntryPtr &each : system->servers) {
            if (!each->selectable())
                continue;
            setSelected(*each, select);
            if (select)
                collector->add(each->info);
        }
        announce(*system);
        for (const ServerEntryPtr &each : system->servers)
            announce(*each);
    }
    if (emitSignal)
        emit owner->selectionChanged();
}

void ServersSelectionModel::Impl::selectFromList(int row, bool selectOnly)
{
    if (row < 0 || row >= systemRows())
        return;
    changeSelection(row, selectOnly, true, nullptr);
    announceAll();
}

QVariant ServersSelectionModel::Impl::systemData(const SystemEntry &system, int role) const
{
    switch (role) {
    case ItemTypeRole:
        return int(Constants::SystemItemType);
    case NameRole:
    case SystemNameRole:
        return system.name();
    case SelectedStateRole:
        return systemSelectedState(system);
    case SelectedServersCountRole:
        return system.selectedCount;
    case ServersCountRole:
        return int(system.servers.size());
    case LoggedStateRole:
        return systemLoggedState(system);
    case ConflictRole:
        return loginConflictText(system);
    default:
        return QVariant();
    }
}

QVariant ServersSelectionModel::Impl::serverData(const ServerEntry &server, int role) const
{
    const ServerInfo &info = server.info;
    switch (role) {
    case ItemTypeRole:
        return int(Constants::ServerItemType);
    case NameRole:
        // Which of two hosts is the server is not known: no address.
        return QStringLiteral("%1 (%2)").arg(info.baseInfo().name,
                                             server.conflict.isEmpty() ? info.baseInfo().displayAddress : QString());
    case SelectedStateRole:
        return server.selectedState;
    case IdRole:
        return info.baseInfo().id;
    case SystemNameRole:
        return server.system->name();
    case MacAddressRole:
        return macAddressText(server);
    case PortRole:
        return info.baseInfo().port;
    case LoggedInRole:
        return info.hasExtraInfo();
    case DefaultPasswordRole:
        return hasDefaultPassword(info);
    case ConflictRole:
        return conflictText(server);
    default:
        return QVariant();
    }
}

bool ServersSelectionModel::Impl::provenOneServer(const ServerEntry &server) const
{
    const QStringList own = ownAddresses.value(server.info.baseInfo().id);
    return !server.conflict.isEmpty()
        && std::all_of(server.conflict.begin(), server.conflict.end(),
                       [&own](const QString &address) { return own.contains(address); });
}

QString ServersSelectionModel::Impl::conflictText(const ServerEntry &server) const
{
    if (server.conflict.isEmpty())
        return QString();
    const QString addresses = listed(server.conflict);
    if (provenOneServer(server))
        return tr("Answers as this server come from %1.\nWhen it was logged in it listed them all as its own: "
                  "it is one server with several interfaces.")
            .arg(addresses);
    return tr("Answers as this server come from %1.\nIt cannot be selected, and no typed password is sent to it, "
              "while they all answer.\nIf its interfaces list all of these addresses, it is one server with "
              "several interfaces: let it answer from one of them until it is logged in. If not, servers share "
              "its id (a copied disk image): switch off all but one.")
        .arg(addresses);
}

QString ServersSelectionModel::Impl::loginConflictText(const SystemEntry &system) const
{
    QStringList servers;
    for (const ServerEntryPtr &server : system.servers) {
        if (!server->conflict.isEmpty() && !server->info.hasExtraInfo() && !provenOneServer(*server))
            servers.append(tr("%1 answers from %2.").arg(server->info.baseInfo().name, listed(server->conflict)));
    }
    if (servers.isEmpty())
        return QString();
    return tr("Not sent to a server that answers from several addresses:\n%1\nIf its interfaces list all of "
              "them, it is one server: let it answer from one address until it is logged in. If not, servers "
              "share its id (a copied disk image): switch off all but one.")
        .arg(servers.join(QLatin1Char('\n')));
}

ServersSelectionModel::ServersSelectionModel(QObject *parent, const ServersSelectionTiming &timing,
                                             HttpClient *loginClient)
    : QAbstractListModel(parent), m_impl(nullptr)
{
    auto *helper = new ModelChangeHelper(
        [this](int first, int last) { beginInsertRows(QModelIndex(), first, last); },
        [this]() { endInsertRows(); },
        [this](int first, int last) { beginRemoveRows(QModelIndex(), first, last); },
        [this]() { endRemoveRows(); }, [this]() { beginResetModel(); }, [this]() { endResetModel(); },
        [this](int first, int last) { emit dataChanged(index(first), index(last)); },
        [this]() { m_impl->notifyLayout(); }, this);
    helper->setMoveActions(
        [this](int first, int last, int destination) {
            const bool valid = beginMoveRows(QModelIndex(), first, last, QModelIndex(), destination);
            Q_ASSERT(valid);
            Q_UNUSED(valid)
        },
        [this]() { endMoveRows(); });
    helper->setRolesDataChanged([this](int first, int last, const QVector<int> &roles) {
        emit dataChanged(index(first), index(last), roles);
    });
    m_impl = new Impl(this, helper, timing, loginClient);
}

ServersSelectionModel::~ServersSelectionModel()
{
    // The pending requests go with the Impl while the model is still whole.
    delete m_impl;
}

int ServersSelectionModel::rowCount(const QModelIndex &parent) const
{
    if (parent.isValid())
        return 0;
    const int unknown = m_impl->unknownEntities.size();
    return m_impl->systemRows() + (unknown > 0 ? unknown + 1 : 0);
}

QVariant ServersSelectionModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || role < ItemTypeRole || role > LastRole)
        return QVariant();
    const int row = index.row();
    const int systemRows = m_impl->systemRows();
    if (row < 0 || row >= rowCount())
        return QVariant();

    if (row < systemRows) {
        ServerEntry *server = nullptr;
        const SystemEntry *system = m_impl->systemAtRow(row, &server);
        return server ? m_impl->serverData(*server, role) : m_impl->systemData(*system, role);
    }
    if (row == systemRows) {
        if (role == ItemTypeRole)
            return int(Constants::UnknownGroupType);
        if (role == NameRole) {
            static const QString caption = tr("Other discovered servers");
            return caption;
        }
        return QVariant();
    }
    if (role == ItemTypeRole)
        return int(Constants::UnknownEntityType);
    if (role == IpAddressRole)
        return m_impl->unknownEntities.at(row - systemRows - 1);
    return QVariant();
}

QHash<int, QByteArray> ServersSelectionModel::roleNames() const
{
    static const QHash<int, QByteArray> names = {
        {ItemTypeRole, "itemType"},
        {NameRole, "name"},
        {SelectedStateRole, "selectedState"},
        {SelectedServersCountRole, "selectedServersCount"},
        {ServersCountRole, "serversCount"},
        {LoggedStateRole, "loggedState"},
        {IdRole, "id"},
        {SystemNameRole, "systemName"},
        {MacAddressRole, "macAddress"},
        {IpAddressRole, "ipAddress"},
        {PortRole, "port"},
        {LoggedInRole, "loggedIn"},
        {DefaultPasswordRole, "defaultPassword"},
        {ConflictRole, "conflict"},
    };
    return names;
}

bool ServersSelectionModel::serversLimitReached() const
{
    return m_impl->byId.size() >= m_impl->timing.maxServers;
}

void ServersSelectionModel::changeItemSelectedState(int rowIndex)
{
    m_impl->selectFromList(rowIndex, false);
}

void ServersSelectionModel::setItemSelected(int rowIndex)
{
    m_impl->selectFromList(rowIndex, true);
}

void ServersSelectionModel::setAllItemSelected(bool selected)
{
    const int wantedState = selected ? Qt::Checked : Qt::Unchecked;
    bool toggled = false;
    {
        Impl::RefreshCollector collector(m_impl);
        for (SystemEntry *system = m_impl->firstSystem(); system; system = Impl::nextSystem(system)) {
            const int wantedCount = selected ? int(system->servers.size()) : 0;
            if (system->selectedCount == wantedCount)
                continue;
            for (const ServerEntryPtr &server : system->servers) {
                if (!server->selectable() || server->selectedState == wantedState)
                    continue;
                m_impl->setSelected(*server, selected);
                if (selected)
                    collector.add(server->info);
                toggled = true;
            }
        }
        if (toggled)
            emit selectionChanged();
    }
    m_impl->announceAll();
}

void ServersSelectionModel::tryLoginWith(const QString &primarySystem, const QString &password,
                                         const Callback &failed, const Callback &succeeded)
{
    // Calls the failure callback when the last login attempt lets go of it
    // without a success; a model that is being destroyed reports nothing.
    struct CallbackHolder
    {
        Callback callback;
        Callback succeeded;
        QPointer<Impl> impl;
        ~CallbackHolder()
        {
            if (callback && impl)
                callback();
        }
    };
    auto holder = std::make_shared<CallbackHolder>();
    holder->callback = failed;
    holder->succeeded = succeeded;
    holder->impl = m_impl;

    // The list names a system by its row, where factory servers sit under
    // the empty name whatever name they report; both must find them.
    QVector<BaseServerInfo> candidates;
    for (SystemEntry *system = m_impl->firstSystem(); system; system = Impl::nextSystem(system)) {
        for (const ServerEntryPtr &server : system->servers) {
            const BaseServerInfo &baseInfo = server->info.baseInfo();
            if (server->info.hasExtraInfo()
                || (baseInfo.systemName != primarySystem && system->name() != primarySystem))
                continue;
            // While two hosts answer with its id, the typed password would
            // go to whichever answered first.
            if (server->conflict.isEmpty())
                candidates.append(baseInfo);
            else
                qCInfo(logLogin).noquote() << serverLabel(baseInfo) << "not sent the typed password: two hosts answer as it";
        }
    }
    for (const BaseServerInfo &baseInfo : qAsConst(candidates))
        m_impl->scheduler->loginWithPassword(baseInfo, password, [holder] {
            holder->callback = nullptr;
            const Callback succeeded = std::exchange(holder->succeeded, nullptr);
            if (succeeded && holder->impl)
                succeeded();
        });
}

bool ServersSelectionModel::selectionOutdated() const
{
    return m_impl->selectionOutdated;
}

int ServersSelectionModel::selectedCount() const
{
    return m_impl->selectedTotal;
}

ServerInfoPtrContainer ServersSelectionModel::selectedServers()
{
    ServerInfoPtrContainer result;
    for (SystemEntry *system = m_impl->firstSystem(); system; system = Impl::nextSystem(system)) {
        if (system->selectedCount == 0)
            continue;
        for (const ServerEntryPtr &server : system->servers) {
            if (server->selected())
                result.append(&server->info);
        }
    }
    return result;
}

int ServersSelectionModel::serversCount() const
{
    return m_impl->byId.size();
}

void ServersSelectionModel::serverDiscovered(const BaseServerInfo &baseInfo)
{
    ServerEntry *const server = m_impl->find(baseInfo.id);
    if (!server)
        return;
    m_impl->noteAnswer(*server, baseInfo.hostAddress);
    // A server that accepted a port and kept serving on its old one is found
    // where it says it is. Answers sent before a confirmed move may still be
    // on their way for a moment after it.
    if (baseInfo.port != server->info.baseInfo().port
        && (server->portChangedAtMs < 0
            || m_impl->scheduler->now() - server->portChangedAtMs >= m_impl->timing.announcedPortSettleMs)) {
        BaseServerInfo announced = server->info.baseInfo();
        announced.port = baseInfo.port;
        m_impl->change(announced, true);
    }
    m_impl->scheduler->refreshIfDue(*server, baseInfo);
}

void ServersSelectionModel::addServer(const BaseServerInfo &baseInfo)
{
    m_impl->add(baseInfo);
}

void ServersSelectionModel::changeServer(const BaseServerInfo &baseInfo)
{
    m_impl->change(baseInfo, true);
}

void ServersSelectionModel::removeServers(const IDsVector &removed)
{
    const int selectedBefore = m_impl->selectedTotal;
    m_impl->removeAll(removed);
    if (selectedBefore > 0 && m_impl->selectedTotal == 0)
        emit selectionChanged();
    emit serversCountChanged();
}

void ServersSelectionModel::unknownAdded(const QString &address)
{
    m_impl->addUnknown(address);
}

void ServersSelectionModel::unknownRemoved(const QString &address)
{
    m_impl->removeUnknown(address);
}

void ServersSelectionModel::setServerConflict(const QUuid &id, const QStringList &addresses)
{
    ServerEntry *const server = m_impl->find(id);
    if (!server || server->conflict == addresses)
        return;
    const bool deselect = server->selected() && !addresses.isEmpty();
    if (deselect)
        m_impl->setSelected(*server, false);
    const bool ended = !server->conflict.isEmpty() && addresses.isEmpty();
    server->conflict = addresses;
    m_impl->announce(*server);
    m_impl->announce(*server->system);
    // What the system's login would not reach has changed.
    const int systemRow = m_impl->rowOf(*server->system);
    m_impl->helper->dataChanged(systemRow, systemRow, {ConflictRole});
    if (deselect)
        emit selectionChanged();

    if (m_impl->provenOneServer(*server)) {
        // It named these addresses as its own before: they are trusted again,
        // after this report has been taken in.
        const QStringList own = m_impl->ownAddresses.value(id);
        QMetaObject::invokeMethod(
            this, [this, id, own] { emit addressesTrusted(id, own); }, Qt::QueuedConnection);
    } else if (ended && !server->info.hasExtraInfo() && !server->loginHeld) {
        // Only the default passwords were tried while it was in conflict.
        m_impl->scheduler->loginAutomatically(*server);
    }
}

void ServersSelectionModel::updateTimeDateInfo(const QUuid &id, qlonglong utcDateTimeMs,
                                               const QByteArray &timeZoneId, qlonglong timestampMs)
{
    if (ServerEntry *const server = m_impl->confirmedChange(id))
        m_impl->updateTime(*server, utcDateTimeMs, timeZoneId, timestampMs);
}

void ServersSelectionModel::updateInterfacesInfo(const QUuid &id, const QString &host,
                                                 const InterfaceInfoList &interfaces)
{
    if (ServerEntry *const server = m_impl->confirmedChange(id))
        m_impl->updateInterfaces(*server, interfaces, host);
}

void ServersSelectionModel::updateSystemNameInfo(const QUuid &id, const QString &systemName)
{
    ServerEntry *const server = m_impl->find(id);
    if (!server)
        return;
    m_impl->scheduler->changeConfirmed(*server);
    BaseServerInfo baseInfo = server->info.baseInfo();
    ServerInfoManager::systemRenamed(baseInfo.systemName, systemName);
    baseInfo.systemName = systemName;
    baseInfo.flags &= ~int(Constants::IsFactoryFlag);
    m_impl->change(baseInfo, false);
}

void ServersSelectionModel::updatePortInfo(const QUuid &id, int port)
{
    ServerEntry *const server = m_impl->find(id);
    if (!server)
        return;
    m_impl->scheduler->changeConfirmed(*server);
    server->portChangedAtMs = m_impl->scheduler->now();
    BaseServerInfo baseInfo = server->info.baseInfo();
    baseInfo.port = port;
    m_impl->change(baseInfo, false);
}

void ServersSelectionModel::updatePasswordInfo(const QUuid &id, const QString &password)
{
    if (ServerEntry *const server = m_impl->confirmedChange(id))
        m_impl->updatePassword(*server, password, true);
}

void ServersSelectionModel::Impl::noteAnswer(ServerEntry &server, const QString &address)
{
    const qint64 now = scheduler->now();
    server.answeredAtMs.insert(address, now);
    // Bounded by the addresses discovery follows per server; old ones go.
    if (server.answeredAtMs.size() > 1) {
        for (auto it = server.answeredAtMs.begin(); it != server.answeredAtMs.end();) {
            if (now - it.value() > timing.answeringAddressMs)
                it = server.answeredAtMs.erase(it);
            else
                ++it;
        }
    }
}

ServerState ServersSelectionModel::Impl::stateOf(const ServerEntry &server) const
{
    ServerState state;
    state.info = server.info;
    state.systemName = server.system->name();
    const BaseServerInfo &base = server.info.baseInfo();
    if (!base.displayAddress.isEmpty())
        state.addresses.append(base.displayAddress);
    QStringList others = server.answeredAtMs.keys();
    others.append(base.hostAddress);
    others.sort();
    // Its own interfaces' addresses too: discovery follows its answers from
    // them as soon as it is logged in, and only from then on.
    if (server.info.hasExtraInfo()) {
        for (const InterfaceInfo &iface : server.info.extraInfo().interfaces)
            others.append(iface.ip);
    }
    for (const QString &address : qAsConst(others)) {
        if (!address.isEmpty() && address != QLatin1String("0.0.0.0") && !state.addresses.contains(address))
            state.addresses.append(address);
    }
    state.login = outcomeOf(server);
    state.defaultPassword = hasDefaultPassword(server.info);
    state.conflict = server.conflict;
    state.selected = server.selected();
    return state;
}

QVector<SystemState> ServersSelectionModel::systems() const
{
    QVector<SystemState> result;
    for (SystemEntry *system = m_impl->firstSystem(); system; system = Impl::nextSystem(system)) {
        SystemState state;
        state.name = system->name();
        state.loggedState = systemLoggedState(*system);
        state.servers.reserve(int(system->servers.size()));
        for (const ServerEntryPtr &server : system->servers)
            state.servers.append(m_impl->stateOf(*server));
        result.append(state);
    }
    return result;
}

LoginTally ServersSelectionModel::loginTally() const
{
    LoginTally tally;
    for (SystemEntry *system = m_impl->firstSystem(); system; system = Impl::nextSystem(system)) {
        for (const ServerEntryPtr &server : system->servers) {
            ++tally.found;
            switch (outcomeOf(*server)) {
            case LoginOutcome::LoggedIn:
                ++tally.loggedIn;
                break;
            case LoginOutcome::PasswordRejected:
                ++tally.rejected;
                break;
            case LoginOutcome::Failed:
                ++tally.failed;
                break;
            case LoginOutcome::Pending:
                ++tally.pending;
                break;
            }
        }
    }
    return tally;
}

QStringList ServersSelectionModel::unknownHosts() const
{
    return m_impl->unknownEntities;
}

int ServersSelectionModel::selectServers(const QSet<QUuid> &ids)
{
    bool toggled = false;
    for (SystemEntry *system = m_impl->firstSystem(); system; system = Impl::nextSystem(system)) {
        for (const ServerEntryPtr &server : system->servers) {
            const bool wanted = server->selectable() && ids.contains(server->info.baseInfo().id);
            if (wanted == server->selected())
                continue;
            m_impl->setSelected(*server, wanted);
            toggled = true;
        }
    }
    if (toggled)
        emit selectionChanged();
    m_impl->announceAll();
    return m_impl->selectedTotal;
}

} // namespace rtu
