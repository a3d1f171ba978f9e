#include "models/servers_selection_model.h"

#include "core/constants.h"
#include "models/model_change_helper.h"
#include "models/span_tree.h"
#include "protocol/server_info_manager.h"
#include "protocol/server_requests.h"

#include <QElapsedTimer>
#include <QHash>
#include <QPointer>
#include <QTimer>

#include <algorithm>
#include <limits>
#include <memory>
#include <utility>
#include <vector>

namespace rtu {

namespace {

enum LoginState {
    LoggedIn = 0,
    PasswordRejected = 1,
    Unavailable = 2,
};

struct SystemEntry;

// What a row last told the views, so that a change announces only the rows
// and roles whose shown values really changed.
struct ServerShown
{
    QString name;
    QString displayAddress;
    QString systemName;
    QString macAddress;
    int selectedState = Qt::Unchecked;
    int port = 0;
    bool loggedIn = false;
    bool defaultPassword = false;
    bool conflict = false;
};

struct SystemShown
{
    QString name;
    int selectedState = Qt::Unchecked;
    int selectedCount = 0;
    int serversCount = 0;
    int loggedState = Constants::LoggedToAllServers;
};

struct ServerEntry
{
    qint64 refreshedAtMs = 0;
    int selectedState = Qt::Unchecked;
    int loginState = Unavailable;
    ServerInfo info;
    SystemEntry *system = nullptr;
    int index = 0; // place among the servers of its system
    ServerShown shown;
    // The addresses of hosts answering with its id, while there are two.
    QStringList conflict;
    // Found in a burst whose logins have not started yet.
    bool loginHeld = false;
    // When a change of the tool's was last confirmed (the model's change
    // count then), and when its port: reads started earlier are stale.
    quint64 changedAt = 0;
    qint64 portChangedAtMs = std::numeric_limits<qint64>::min();

    bool selected() const { return selectedState == Qt::Checked; }
    // Changes go only where the server is known to answer alone.
    bool selectable() const { return info.hasExtraInfo() && conflict.isEmpty(); }
    bool blankPassword() const { return info.hasExtraInfo() && info.extraInfo().password.isEmpty(); }
};

// Entries are held by pointer: ServerInfo assignment keeps the target's extra
// information, so shifting records by assignment would corrupt them, and the
// pointers handed out by selectedServers() stay put while rows move.
using ServerEntryPtr = std::unique_ptr<ServerEntry>;

// A system and its servers: one block of rows of the span tree.
struct SystemEntry : SpanTree::Node
{
    int selectedCount = 0;
    int loggedCount = 0;
    int rejectedCount = 0;
    // Logged-in servers whose password is not known yet; a password learnt
    // for one of them is shared with the others.
    int blankPasswords = 0;
    std::vector<ServerEntryPtr> servers;
    SystemShown shown;
};

// Servers with the factory flag are grouped under the empty system name.
QString targetSystemName(const BaseServerInfo &baseInfo)
{
    return (baseInfo.flags & Constants::IsFactoryFlag) ? QString() : baseInfo.systemName;
}

QString macAddressText(const ServerEntry &server)
{
    const ServerInfo &info = server.info;
    if (info.hasExtraInfo() && !info.extraInfo().interfaces.isEmpty())
        return info.extraInfo().interfaces.first().macAddress;
    return server.loginState == Unavailable ? ServersSelectionModel::tr("Server is unavailable") : QString();
}

bool hasDefaultPassword(const ServerInfo &info)
{
    return info.hasExtraInfo() && defaultPasswords().contains(info.extraInfo().password, Qt::CaseSensitive);
}

int systemSelectedState(const SystemEntry &system)
{
    const int serversCount = int(system.servers.size());
    if (serversCount == 0 || system.selectedCount == 0)
        return Qt::Unchecked;
    return system.selectedCount == serversCount ? Qt::Checked : Qt::PartiallyChecked;
}

int systemLoggedState(const SystemEntry &system)
{
    if (system.rejectedCount == int(system.servers.size()))
        return Constants::NotLogged;
    return system.rejectedCount > 0 ? Constants::PartiallyLogged : Constants::LoggedToAllServers;
}

ServerShown shownOf(const ServerEntry &server)
{
    ServerShown shown;
    const BaseServerInfo &base = server.info.baseInfo();
    shown.name = base.name;
    shown.displayAddress = base.displayAddress;
    shown.systemName = server.system->name();
    shown.macAddress = macAddressText(server);
    shown.selectedState = server.selectedState;
    shown.port = base.port;
    shown.loggedIn = server.info.hasExtraInfo();
    shown.defaultPassword = hasDefaultPassword(server.info);
    shown.conflict = !server.conflict.isEmpty();
    return shown;
}

SystemShown shownOf(const SystemEntry &system)
{
    SystemShown shown;
    shown.name = system.name();
    shown.selectedState = systemSelectedState(system);
    shown.selectedCount = system.selectedCount;
    shown.serversCount = int(system.servers.size());
    shown.loggedState = systemLoggedState(system);
    return shown;
}

using Roles = ServersSelectionModel::Roles;

QVector<int> changedRoles(const ServerShown &before, const ServerShown &after)
{
    QVector<int> roles;
    // The name shown carries the conflict, if any.
    if (before.name != after.name || before.displayAddress != after.displayAddress
        || before.conflict != after.conflict)
        roles.append(Roles::NameRole);
    if (before.selectedState != after.selectedState)
        roles.append(Roles::SelectedStateRole);
    if (before.systemName != after.systemName)
        roles.append(Roles::SystemNameRole);
    if (before.macAddress != after.macAddress)
        roles.append(Roles::MacAddressRole);
    if (before.port != after.port)
        roles.append(Roles::PortRole);
    if (before.loggedIn != after.loggedIn)
        roles.append(Roles::LoggedInRole);
    if (before.defaultPassword != after.defaultPassword)
        roles.append(Roles::DefaultPasswordRole);
    if (before.conflict != after.conflict)
        roles.append(Roles::ConflictRole);
    return roles;
}

QVector<int> changedRoles(const SystemShown &before, const SystemShown &after)
{
    QVector<int> roles;
    if (before.name != after.name) {
        roles.append(Roles::NameRole);
        roles.append(Roles::SystemNameRole);
    }
    if (before.selectedState != after.selectedState)
        roles.append(Roles::SelectedStateRole);
    if (before.selectedCount != after.selectedCount)
        roles.append(Roles::SelectedServersCountRole);
    if (before.serversCount != after.serversCount)
        roles.append(Roles::ServersCountRole);
    if (before.loggedState != after.loggedState)
        roles.append(Roles::LoggedStateRole);
    return roles;
}

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

} // namespace

class ServersSelectionModel::Impl : public QObject
{
public:
    Impl(ServersSelectionModel *owner, ModelChangeHelper *helper, const ServersSelectionTiming &timing,
         HttpClient *loginClient);

    // Locating entries
    ServerEntry *find(const QUuid &id) const { return byId.value(id); }
    int systemRows() const { return order.totalSpan(); }
    int rowOf(const SystemEntry &system) const { return order.firstRowOf(&system); }
    int rowOf(const ServerEntry &server) const { return rowOf(*server.system) + 1 + server.index; }
    SystemEntry *systemAtRow(int row, ServerEntry **server) const;
    SystemEntry *firstSystem() const { return static_cast<SystemEntry *>(order.first()); }
    static SystemEntry *nextSystem(const SystemEntry *system)
    {
        return static_cast<SystemEntry *>(SpanTree::next(system));
    }

    // Counting: every change of a server's state goes between these two, so
    // that the counts of its system always match its servers.
    void uncount(ServerEntry &server);
    void count(ServerEntry &server);

    // Structure
    qint64 nextRefreshSlot();
    SystemEntry *createSystem(const QString &name);
    void dropSystem(SystemEntry &system);
    void add(const BaseServerInfo &baseInfo);
    void startHeldLogins();
    void removeAll(const IDsVector &ids);
    void change(const BaseServerInfo &baseInfo, bool markOutdated);
    void moveServer(ServerEntry &server, SystemEntry &target);
    void addUnknown(const QString &address);
    void removeUnknown(const QString &address);

    // Announcing what the views show
    void announce(ServerEntry &server);
    void announce(SystemEntry &system);
    void announceAll();
    void notifyLayout();

    // Server data
    void onLoginSuccess(const QUuid &id, const ExtraServerInfo &extraInfo, const QString &host);
    void onLoginFailed(const QUuid &id, int errorCode);
    void ensureExtraInfo(ServerEntry &server);
    void updatePassword(ServerEntry &server, const QString &password);
    void updateTime(ServerEntry &server, qint64 utcDateTimeMs, const QByteArray &timeZoneId, qint64 timestampMs);
    void updateInterfaces(ServerEntry &server, const InterfaceInfoList &interfaces, const QString &host);
    ServerEntry *selectForUpdate(const QUuid &id);
    void markOutdated();
    // A confirmed change of the server: what a login or refresh started
    // before it read is older than what the model now holds.
    void markChanged(ServerEntry &server) { server.changedAt = ++changeCount; }
    // The handlers of a login or refresh started now: its report is dropped
    // when a change of that server was confirmed meanwhile, since it read
    // the server before the change (with the old password, say).
    // With the known passwords; with the defaults alone while two hosts
    // answer as the server, for a typed one must not reach the wrong host.
    void loginAutomatically(ServerEntry &server);
    ServerInfoManager::LoginSuccessCallback freshSuccess();
    ServerInfoManager::LoginFailedCallback freshFailure();
    bool changedSince(const QUuid &id, quint64 asked) const
    {
        const ServerEntry *server = find(id);
        return server && server->changedAt > asked;
    }

    // Selection
    class RefreshCollector;
    void changeSelection(int row, bool selectOnly, bool emitSignal, RefreshCollector *collector);
    void setSelected(ServerEntry &server, bool selected);
    void selectFromList(int row, bool selectOnly);

    QVariant systemData(const SystemEntry &system, int role) const;
    QVariant serverData(const ServerEntry &server, int role) const;

    ServersSelectionModel *const owner;
    ModelChangeHelper *const helper;
    // The systems in row order; they own their servers.
    SpanTree order;
    QHash<QString, SystemEntry *> systemsByName;
    QHash<QUuid, ServerEntry *> byId;
    int selectedTotal = 0;
    ServerInfoManager *const manager;
    bool selectionOutdated = false;
    const ServerInfoManager::LoginSuccessCallback successHandler;
    const ServerInfoManager::LoginFailedCallback failedHandler;
    quint64 changeCount = 0;
    QStringList unknownEntities;

    const ServersSelectionTiming timing;
    // Monotonic, so that a change of the workstation's clock cannot hold
    // back the refresh of a server.
    QElapsedTimer clock;
    // Servers added together get their first refreshes spread out rather
    // than all due in one turn.
    qint64 lastRefreshSlot = std::numeric_limits<qint64>::min();
    bool layoutPending = false;
    // New servers whose automatic login waits for the end of their burst,
    // in the order they were found.
    QVector<QUuid> heldLogins;
    qint64 heldSinceMs = 0;
    QTimer loginTimer;
};

// Gathers newly selected servers and refreshes them all with one request
// batch when it goes.
class ServersSelectionModel::Impl::RefreshCollector
{
public:
    explicit RefreshCollector(Impl *impl) : m_impl(impl) {}
    ~RefreshCollector()
    {
        if (!m_servers.isEmpty())
            m_impl->manager->refreshExtraInfo(m_servers, m_impl->freshSuccess(), m_impl->freshFailure());
    }
    RefreshCollector(const RefreshCollector &) = delete;
    RefreshCollector &operator=(const RefreshCollector &) = delete;

    void add(const ServerInfo &info) { m_servers.append(info); }

private:
    Impl *const m_impl;
    QVector<ServerInfo> m_servers;
};

// Several rows in a row with the same changed roles go out as one signal.
class RowChanges
{
public:
    explicit RowChanges(ModelChangeHelper *helper) : m_helper(helper) {}
    ~RowChanges() { flush(); }
    RowChanges(const RowChanges &) = delete;
    RowChanges &operator=(const RowChanges &) = delete;

    void add(int row, const QVector<int> &roles)
    {
        if (roles.isEmpty())
            return;
        if (m_first >= 0 && row == m_last + 1 && roles == m_roles) {
            m_last = row;
            return;
        }
        flush();
        m_first = m_last = row;
        m_roles = roles;
    }

    void flush()
    {
        if (m_first >= 0)
            m_helper->dataChanged(m_first, m_last, m_roles);
        m_first = m_last = -1;
    }

private:
    ModelChangeHelper *const m_helper;
    int m_first = -1;
    int m_last = -1;
    QVector<int> m_roles;
};

ServersSelectionModel::Impl::Impl(ServersSelectionModel *owner, ModelChangeHelper *helper,
                                  const ServersSelectionTiming &timing, HttpClient *loginClient)
    : QObject(owner), owner(owner), helper(helper),
      manager(new ServerInfoManager(this, ServerInfoManager::Timeouts(), loginClient)),
      successHandler([this](const QUuid &id, const ExtraServerInfo &extraInfo, const QString &host) {
          onLoginSuccess(id, extraInfo, host);
      }),
      failedHandler([this](const QUuid &id, int errorCode) { onLoginFailed(id, errorCode); }), timing(timing)
{
    clock.start();
    loginTimer.setSingleShot(true);
    loginTimer.setTimerType(Qt::PreciseTimer);
    connect(&loginTimer, &QTimer::timeout, this, &Impl::startHeldLogins);
    connect(owner, &ServersSelectionModel::selectionChanged, this, [this]() {
        selectionOutdated = false;
        emit this->owner->selectionOutdatedChanged();
    });
}

SystemEntry *ServersSelectionModel::Impl::systemAtRow(int row, ServerEntry **server) const
{
    *server = nullptr;
    if (row < 0 || row >= systemRows())
        return nullptr;
    int offset = 0;
    auto *system = static_cast<SystemEntry *>(order.nodeAtRow(row, &offset));
    if (system && offset > 0)
        *server = system->servers[size_t(offset - 1)].get();
    return system;
}

void ServersSelectionModel::Impl::uncount(ServerEntry &server)
{
    SystemEntry &system = *server.system;
    if (server.loginState == LoggedIn)
        --system.loggedCount;
    else if (server.loginState == PasswordRejected)
        --system.rejectedCount;
    if (server.selected()) {
        --system.selectedCount;
        --selectedTotal;
    }
    if (server.blankPassword())
        --system.blankPasswords;
}

void ServersSelectionModel::Impl::count(ServerEntry &server)
{
    SystemEntry &system = *server.system;
    if (server.loginState == LoggedIn)
        ++system.loggedCount;
    else if (server.loginState == PasswordRejected)
        ++system.rejectedCount;
    if (server.selected()) {
        ++system.selectedCount;
        ++selectedTotal;
    }
    if (server.blankPassword())
        ++system.blankPasswords;
}

qint64 ServersSelectionModel::Impl::nextRefreshSlot()
{
    // A thousand servers found at once come due over one throttle period.
    const qint64 spacing = timing.refreshThrottleMs / 1000;
    const qint64 now = clock.elapsed();
    lastRefreshSlot = lastRefreshSlot > now - spacing ? lastRefreshSlot + spacing : now;
    return lastRefreshSlot;
}

SystemEntry *ServersSelectionModel::Impl::createSystem(const QString &name)
{
    const int position = order.lowerBound(name);
    const int row = order.firstRowAt(position);
    auto guard = helper->insertRowsGuard(row, row);
    auto *system = new SystemEntry;
    order.insert(system, position, name, 1);
    systemsByName.insert(name, system);
    system->shown = shownOf(*system);
    return system;
}

void ServersSelectionModel::Impl::dropSystem(SystemEntry &system)
{
    const int row = rowOf(system);
    auto guard = helper->removeRowsGuard(row, row);
    systemsByName.remove(system.name());
    order.erase(&system);
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
    server->refreshedAtMs = nextRefreshSlot();
    server->loginState = Unavailable;
    server->info = ServerInfo(baseInfo);
    server->system = system;
    server->index = int(system->servers.size());
    server->loginHeld = true;
    ServerEntry *const added = server.get();
    {
        const int row = rowOf(*system) + system->span();
        auto guard = helper->insertRowsGuard(row, row);
        system->servers.push_back(std::move(server));
        byId.insert(baseInfo.id, added);
        order.setSpan(system, system->span() + 1);
        count(*added);
        added->shown = shownOf(*added);
    }
    announce(*system);

    const qint64 now = clock.elapsed();
    if (heldLogins.isEmpty())
        heldSinceMs = now;
    heldLogins.append(baseInfo.id);
    loginTimer.start(int(qBound<qint64>(0, heldSinceMs + timing.loginHoldMaxMs - now, timing.loginQuietMs)));
    emit owner->serversCountChanged();
}

void ServersSelectionModel::Impl::startHeldLogins()
{
    // With what each server reports now: it may have moved meanwhile, been
    // logged in by the operator's password, or gone (and come back, which
    // lists its id twice).
    for (const QUuid &id : std::exchange(heldLogins, {})) {
        ServerEntry *const server = byId.value(id);
        if (!server || !server->loginHeld)
            continue;
        server->loginHeld = false;
        if (!server->info.hasExtraInfo())
            loginAutomatically(*server);
    }
}

void ServersSelectionModel::Impl::removeAll(const IDsVector &ids)
{
    struct Doomed
    {
        ServerEntry *server;
        int row;
    };
    std::vector<Doomed> doomed;
    doomed.reserve(size_t(ids.size()));
    for (const QUuid &id : ids) {
        if (ServerEntry *server = find(id))
            doomed.push_back({server, rowOf(*server)});
    }
    // From the bottom up, so that the rows still to go keep their numbers;
    // neighbouring rows of one system go out as one range.
    std::sort(doomed.begin(), doomed.end(), [](const Doomed &a, const Doomed &b) { return a.row > b.row; });
    doomed.erase(std::unique(doomed.begin(), doomed.end(),
                             [](const Doomed &a, const Doomed &b) { return a.server == b.server; }),
                 doomed.end());
    size_t next = 0;
    while (next < doomed.size()) {
        SystemEntry &system = *doomed[next].server->system;
        size_t end = next + 1;
        while (end < doomed.size() && doomed[end].server->system == &system
               && doomed[end].row == doomed[end - 1].row - 1)
            ++end;
        const int firstIndex = doomed[end - 1].server->index;
        const int lastIndex = doomed[next].server->index;
        {
            auto guard = helper->removeRowsGuard(doomed[end - 1].row, doomed[next].row);
            for (size_t each = next; each < end; ++each) {
                uncount(*doomed[each].server);
                byId.remove(doomed[each].server->info.baseInfo().id);
            }
            system.servers.erase(system.servers.begin() + firstIndex, system.servers.begin() + lastIndex + 1);
            for (size_t index = size_t(firstIndex); index < system.servers.size(); ++index)
                system.servers[index]->index = int(index);
            order.setSpan(&system, system.span() - (lastIndex - firstIndex + 1));
        }
        if (system.servers.empty())
            dropSystem(system);
        else
            announce(system);
        next = end;
    }
}

void ServersSelectionModel::Impl::moveServer(ServerEntry &server, SystemEntry &target)
{
    SystemEntry &source = *server.system;
    if (&source == &target)
        return;
    const int from = rowOf(server);
    const int destination = rowOf(target) + target.span();
    auto guard = helper->moveRowsGuard(from, from, destination);
    uncount(server);
    ServerEntryPtr moving = std::move(source.servers[size_t(server.index)]);
    source.servers.erase(source.servers.begin() + server.index);
    for (size_t index = size_t(server.index); index < source.servers.size(); ++index)
        source.servers[index]->index = int(index);
    server.system = &target;
    server.index = int(target.servers.size());
    target.servers.push_back(std::move(moving));
    order.setSpan(&source, source.span() - 1);
    order.setSpan(&target, target.span() + 1);
    count(server);
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
        systemsByName.remove(source->name());
        order.rename(source, newSystemName);
        systemsByName.insert(newSystemName, source);
        target = source;
    } else if (!target) {
        target = createSystem(newSystemName);
    }
    moveServer(*server, *target);

    uncount(*server);
    server->info.writableBaseInfo() = baseInfo;
    server->refreshedAtMs = nextRefreshSlot();
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
        loginAutomatically(*server);
}

void ServersSelectionModel::Impl::addUnknown(const QString &address)
{
    for (const ServerEntry *server : qAsConst(byId)) {
        if (server->info.baseInfo().hostAddress == address)
            return;
        if (!server->info.hasExtraInfo())
            continue;
        for (const InterfaceInfo &interface : server->info.extraInfo().interfaces) {
            if (interface.ip == address)
                return;
        }
    }

    const int position = int(std::lower_bound(unknownEntities.begin(), unknownEntities.end(), address)
                             - unknownEntities.begin());
    const int rows = systemRows();
    auto guard = unknownEntities.isEmpty() ? helper->insertRowsGuard(rows, rows + 1)
                                           : helper->insertRowsGuard(rows + 1 + position, rows + 1 + position);
    unknownEntities.insert(position, address);
}

void ServersSelectionModel::Impl::removeUnknown(const QString &address)
{
    if (unknownEntities.isEmpty())
        return;
    const int index = unknownEntities.indexOf(address);
    if (index < 0)
        return;
    const int rows = systemRows();
    auto guard = unknownEntities.size() == 1 ? helper->removeRowsGuard(rows, rows + 1 + index)
                                             : helper->removeRowsGuard(rows + 1 + index, rows + 1 + index);
    unknownEntities.removeAt(index);
}

void ServersSelectionModel::Impl::announce(ServerEntry &server)
{
    ServerShown shown = shownOf(server);
    const QVector<int> roles = changedRoles(server.shown, shown);
    if (roles.isEmpty())
        return;
    server.shown = std::move(shown);
    const int row = rowOf(server);
    helper->dataChanged(row, row, roles);
}

void ServersSelectionModel::Impl::announce(SystemEntry &system)
{
    SystemShown shown = shownOf(system);
    const QVector<int> roles = changedRoles(system.shown, shown);
    if (roles.isEmpty())
        return;
    system.shown = std::move(shown);
    const int row = rowOf(system);
    helper->dataChanged(row, row, roles);
    // A renamed system changes what its server rows say too.
    if (roles.contains(Roles::SystemNameRole)) {
        for (const ServerEntryPtr &server : system.servers)
            announce(*server);
    }
}

void ServersSelectionModel::Impl::announceAll()
{
    RowChanges changes(helper);
    int row = 0;
    for (SystemEntry *system = firstSystem(); system; system = nextSystem(system)) {
        SystemShown systemShown = shownOf(*system);
        changes.add(row++, changedRoles(system->shown, systemShown));
        system->shown = std::move(systemShown);
        for (const ServerEntryPtr &server : system->servers) {
            ServerShown serverShown = shownOf(*server);
            changes.add(row++, changedRoles(server->shown, serverShown));
            server->shown = std::move(serverShown);
        }
    }
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
    updatePassword(*server, extraInfo.password);
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

void ServersSelectionModel::Impl::updatePassword(ServerEntry &server, const QString &password)
{
    ensureExtraInfo(server);
    const QString oldPassword = server.info.extraInfo().password;
    if (password == oldPassword)
        return;

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
            if (other->info.hasExtraInfo() && other->info.extraInfo().password == oldPassword
                && other->info.baseInfo().systemName == systemName) {
                setPassword(*other, password);
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

void ServersSelectionModel::Impl::loginAutomatically(ServerEntry &server)
{
    if (server.conflict.isEmpty())
        manager->loginWithKnownPasswords(server.info.baseInfo(), freshSuccess(), freshFailure());
    else
        manager->loginWithDefaultPasswords(server.info.baseInfo(), freshSuccess(), freshFailure());
}

ServerInfoManager::LoginSuccessCallback ServersSelectionModel::Impl::freshSuccess()
{
    return [this, asked = changeCount](const QUuid &id, const ExtraServerInfo &extraInfo, const QString &host) {
        if (!changedSince(id, asked))
            successHandler(id, extraInfo, host);
    };
}

ServerInfoManager::LoginFailedCallback ServersSelectionModel::Impl::freshFailure()
{
    return [this, asked = changeCount](const QUuid &id, int errorCode) {
        if (!changedSince(id, asked))
            failedHandler(id, errorCode);
    };
}

void ServersSelectionModel::Impl::markOutdated()
{
    selectionOutdated = true;
    emit owner->selectionOutdatedChanged();
}

void ServersSelectionModel::Impl::setSelected(ServerEntry &server, bool selected)
{
    uncount(server);
    server.selectedState = selected ? Qt::Checked : Qt::Unchecked;
    count(server);
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
        if (server.conflict.isEmpty())
            return QString();
        return tr("Two hosts answer as this server: %1 and %2.\nIt cannot be selected until one of them stops "
                  "answering.")
            .arg(server.conflict.first(), server.conflict.mid(1).join(QStringLiteral(", ")));
    default:
        return QVariant();
    }
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
                                         const Callback &callback)
{
    // Calls the callback when the last login attempt lets go of it without a
    // success; a model that is being destroyed reports nothing.
    struct CallbackHolder
    {
        Callback callback;
        QPointer<Impl> impl;
        ~CallbackHolder()
        {
            if (callback && impl)
                callback();
        }
    };
    auto holder = std::make_shared<CallbackHolder>();
    holder->callback = callback;
    holder->impl = m_impl;

    // The list names a system by its row, where factory servers sit under
    // the empty name whatever name they report; both must find them.
    QVector<BaseServerInfo> candidates;
    for (SystemEntry *system = m_impl->firstSystem(); system; system = Impl::nextSystem(system)) {
        for (const ServerEntryPtr &server : system->servers) {
            const BaseServerInfo &baseInfo = server->info.baseInfo();
            // While two hosts answer with its id, the typed password would
            // go to whichever answered first.
            if (!server->info.hasExtraInfo() && server->conflict.isEmpty()
                && (baseInfo.systemName == primarySystem || system->name() == primarySystem))
                candidates.append(baseInfo);
        }
    }
    Impl *const impl = m_impl;
    for (const BaseServerInfo &baseInfo : qAsConst(candidates)) {
        impl->manager->loginWithPassword(
            baseInfo, password,
            [impl, holder, success = impl->freshSuccess()](const QUuid &id, const ExtraServerInfo &extraInfo,
                                                             const QString &host) {
                success(id, extraInfo, host);
                holder->callback = nullptr;
            },
            impl->freshFailure());
    }
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
    const qint64 now = m_impl->clock.elapsed();
    // A server that accepted a port and kept serving on its old one is found
    // where it says it is. Answers sent before a confirmed move may still be
    // on their way for a moment after it.
    if (baseInfo.port != server->info.baseInfo().port
        && now - server->portChangedAtMs >= m_impl->timing.announcedPortSettleMs) {
        BaseServerInfo announced = server->info.baseInfo();
        announced.port = baseInfo.port;
        m_impl->change(announced, true);
    }
    // The address that answers for it may not be its own: its password is
    // not sent there until one host answers alone.
    if (!server->conflict.isEmpty())
        return;
    const qint64 sinceRefresh = now - server->refreshedAtMs;
    if (sinceRefresh < 0 || sinceRefresh < m_impl->timing.refreshThrottleMs)
        return;
    server->refreshedAtMs = now;
    if (server->loginState == PasswordRejected)
        return;

    ServerInfo record(baseInfo);
    if (server->info.hasExtraInfo())
        record.setExtraInfo(server->info.extraInfo());
    m_impl->manager->refreshExtraInfo({record}, m_impl->freshSuccess(), m_impl->freshFailure());
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
    server->conflict = addresses;
    m_impl->announce(*server);
    m_impl->announce(*server->system);
    if (deselect)
        emit selectionChanged();
}

void ServersSelectionModel::updateTimeDateInfo(const QUuid &id, qlonglong utcDateTimeMs,
                                               const QByteArray &timeZoneId, qlonglong timestampMs)
{
    if (ServerEntry *const server = m_impl->selectForUpdate(id)) {
        m_impl->markChanged(*server);
        m_impl->updateTime(*server, utcDateTimeMs, timeZoneId, timestampMs);
    }
}

void ServersSelectionModel::updateInterfacesInfo(const QUuid &id, const QString &host,
                                                 const InterfaceInfoList &interfaces)
{
    if (ServerEntry *const server = m_impl->selectForUpdate(id)) {
        m_impl->markChanged(*server);
        m_impl->updateInterfaces(*server, interfaces, host);
    }
}

void ServersSelectionModel::updateSystemNameInfo(const QUuid &id, const QString &systemName)
{
    ServerEntry *const server = m_impl->find(id);
    if (!server)
        return;
    m_impl->markChanged(*server);
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
    m_impl->markChanged(*server);
    server->portChangedAtMs = m_impl->clock.elapsed();
    BaseServerInfo baseInfo = server->info.baseInfo();
    baseInfo.port = port;
    m_impl->change(baseInfo, false);
}

void ServersSelectionModel::updatePasswordInfo(const QUuid &id, const QString &password)
{
    if (ServerEntry *const server = m_impl->selectForUpdate(id)) {
        m_impl->markChanged(*server);
        m_impl->updatePassword(*server, password);
    }
}

} // namespace rtu
