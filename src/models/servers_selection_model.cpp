#include "models/servers_selection_model.h"

#include "core/constants.h"
#include "models/model_change_helper.h"
#include "protocol/server_info_manager.h"
#include "protocol/server_requests.h"

#include <QElapsedTimer>
#include <QPointer>

#include <algorithm>
#include <memory>
#include <vector>

namespace rtu {

namespace {

enum LoginState {
    LoggedIn = 0,
    PasswordRejected = 1,
    Unavailable = 2,
};

struct ServerEntry
{
    qint64 refreshedAtMs = 0;
    int selectedState = Qt::Unchecked;
    int loginState = Unavailable;
    ServerInfo info;

    bool selected() const { return selectedState == Qt::Checked; }
};

// Entries are held by pointer: ServerInfo assignment keeps the target's extra
// information, so shifting records by assignment would corrupt them, and the
// pointers handed out by selectedServers() stay put while rows move.
using ServerEntryPtr = std::unique_ptr<ServerEntry>;

struct SystemEntry
{
    QString name;
    int selectedCount = 0;
    int loggedCount = 0;
    int rejectedCount = 0;
    std::vector<ServerEntryPtr> servers;

    int rowSpan() const { return 1 + int(servers.size()); }
};

struct Position
{
    SystemEntry *system = nullptr;
    ServerEntry *server = nullptr; // null on a system row
    int systemRow = -1;
    int serverRow = -1;

    explicit operator bool() const { return system != nullptr; }
};

// Servers with the factory flag are grouped under the empty system name.
QString targetSystemName(const BaseServerInfo &baseInfo)
{
    return (baseInfo.flags & Constants::IsFactoryFlag) ? QString() : baseInfo.systemName;
}

} // namespace

class ServersSelectionModel::Impl : public QObject
{
public:
    Impl(ServersSelectionModel *owner, ModelChangeHelper *helper, const ServersSelectionTiming &timing,
         HttpClient *loginClient);

    // Locating entries
    struct RowEntry
    {
        int system;
        int server; // -1 on a system row
    };
    const std::vector<RowEntry> &rowTable() const;
    void rowsMoved() { rowTableValid = false; }
    int systemRows() const;
    Position positionOfRow(int row) const;
    Position positionOfId(const QUuid &id) const;
    int indexOfSystem(const QString &name) const;
    int rowOfSystem(int systemIndex) const;
    int totalSelected() const;

    // Structure
    void add(const ServerInfo &info, int selectedState);
    bool remove(const QUuid &id, bool dropEmptySystem);
    void change(const BaseServerInfo &baseInfo, bool markOutdated);
    void addUnknown(const QString &address);
    void removeUnknown(const QString &address);

    // Server data
    void onLoginSuccess(const QUuid &id, const ExtraServerInfo &extraInfo, const QString &host);
    void onLoginFailed(const QUuid &id, int errorCode);
    void ensureExtraInfo(const Position &position);
    void updatePassword(const Position &position, const QString &password);
    void updateTime(const Position &position, qint64 utcDateTimeMs, const QByteArray &timeZoneId,
                    qint64 timestampMs);
    void updateInterfaces(const Position &position, const InterfaceInfoList &interfaces, const QString &host);
    Position selectForUpdate(const QUuid &id);
    void markOutdated();

    // Selection
    class RefreshCollector;
    void changeSelection(int row, bool selectOnly, bool emitSignal, RefreshCollector *collector);
    void selectFromList(int row, bool selectOnly);
    void announceAllSystemRows();

    QVariant systemData(const SystemEntry &system, int role) const;
    QVariant serverData(const SystemEntry &system, const ServerEntry &server, int role) const;

    ServersSelectionModel *const owner;
    ModelChangeHelper *const helper;
    std::vector<SystemEntry> systems;
    ServerInfoManager *const manager;
    bool selectionOutdated = false;
    const ServerInfoManager::LoginSuccessCallback successHandler;
    const ServerInfoManager::LoginFailedCallback failedHandler;
    QStringList unknownEntities;

    const ServersSelectionTiming timing;
    // What each system or server row shows, rebuilt after the rows moved, so
    // that views reading a thousand rows do not walk the systems each time.
    mutable std::vector<RowEntry> rows;
    mutable bool rowTableValid = false;
    // Monotonic, so that a change of the workstation's clock cannot hold
    // back the refresh of a server.
    QElapsedTimer clock;
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
            m_impl->manager->refreshExtraInfo(m_servers, m_impl->successHandler, m_impl->failedHandler);
    }
    RefreshCollector(const RefreshCollector &) = delete;
    RefreshCollector &operator=(const RefreshCollector &) = delete;

    void add(const ServerInfo &info) { m_servers.append(info); }

private:
    Impl *const m_impl;
    QVector<ServerInfo> m_servers;
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
    connect(owner, &ServersSelectionModel::selectionChanged, this, [this]() {
        selectionOutdated = false;
        emit this->owner->selectionOutdatedChanged();
    });
}

const std::vector<ServersSelectionModel::Impl::RowEntry> &ServersSelectionModel::Impl::rowTable() const
{
    if (!rowTableValid) {
        rows.clear();
        for (size_t system = 0; system < systems.size(); ++system) {
            rows.push_back({int(system), -1});
            for (size_t server = 0; server < systems[system].servers.size(); ++server)
                rows.push_back({int(system), int(server)});
        }
        rowTableValid = true;
    }
    return rows;
}

int ServersSelectionModel::Impl::systemRows() const
{
    return int(rowTable().size());
}

Position ServersSelectionModel::Impl::positionOfRow(int row) const
{
    Position result;
    const std::vector<RowEntry> &table = rowTable();
    if (row < 0 || row >= int(table.size()))
        return result;
    const RowEntry &entry = table[row];
    const SystemEntry &system = systems[entry.system];
    result.system = const_cast<SystemEntry *>(&system);
    result.systemRow = row - (entry.server + 1);
    if (entry.server >= 0) {
        result.server = system.servers[entry.server].get();
        result.serverRow = row;
    }
    return result;
}

Position ServersSelectionModel::Impl::positionOfId(const QUuid &id) const
{
    int systemRow = 0;
    for (const SystemEntry &system : systems) {
        for (size_t index = 0; index < system.servers.size(); ++index) {
            if (system.servers[index]->info.baseInfo().id == id) {
                Position result;
                result.system = const_cast<SystemEntry *>(&system);
                result.server = system.servers[index].get();
                result.systemRow = systemRow;
                result.serverRow = systemRow + 1 + int(index);
                return result;
            }
        }
        systemRow += system.rowSpan();
    }
    return Position();
}

int ServersSelectionModel::Impl::indexOfSystem(const QString &name) const
{
    for (size_t index = 0; index < systems.size(); ++index) {
        if (systems[index].name == name)
            return int(index);
    }
    return -1;
}

int ServersSelectionModel::Impl::rowOfSystem(int systemIndex) const
{
    int row = 0;
    for (int index = 0; index < systemIndex; ++index)
        row += systems[index].rowSpan();
    return row;
}

int ServersSelectionModel::Impl::totalSelected() const
{
    int total = 0;
    for (const SystemEntry &system : systems)
        total += system.selectedCount;
    return total;
}

void ServersSelectionModel::Impl::add(const ServerInfo &info, int selectedState)
{
    const QString name = targetSystemName(info.baseInfo());
    int systemIndex = indexOfSystem(name);
    if (systemIndex < 0) {
        const auto place = std::find_if(systems.begin(), systems.end(), [&name](const SystemEntry &system) {
            return QString::compare(system.name, name, Qt::CaseInsensitive) >= 0;
        });
        systemIndex = int(place - systems.begin());
        const int row = rowOfSystem(systemIndex);
        auto guard = helper->insertRowsGuard(row, row);
        SystemEntry entry;
        entry.name = name;
        systems.insert(systems.begin() + systemIndex, std::move(entry));
        rowsMoved();
    }

    const int systemRow = rowOfSystem(systemIndex);
    SystemEntry &system = systems[systemIndex];
    auto server = std::make_unique<ServerEntry>();
    server->refreshedAtMs = clock.elapsed();
    server->selectedState = selectedState;
    server->loginState = info.hasExtraInfo() ? LoggedIn : Unavailable;
    server->info = info;
    const int serverRow = systemRow + system.rowSpan();
    {
        auto guard = helper->insertRowsGuard(serverRow, serverRow);
        system.servers.push_back(std::move(server));
        rowsMoved();
    }
    if (info.hasExtraInfo())
        ++system.loggedCount;
    if (selectedState == Qt::Checked)
        ++system.selectedCount;
    helper->dataChanged(systemRow, systemRow);

    if (!info.hasExtraInfo())
        manager->loginWithKnownPasswords(info.baseInfo(), successHandler, failedHandler);
    emit owner->serversCountChanged();
}

bool ServersSelectionModel::Impl::remove(const QUuid &id, bool dropEmptySystem)
{
    const int selectedBefore = totalSelected();
    const Position position = positionOfId(id);
    if (!position)
        return false;

    SystemEntry &system = *position.system;
    {
        auto guard = helper->removeRowsGuard(position.serverRow, position.serverRow);
        if (position.server->selected())
            --system.selectedCount;
        if (position.server->loginState == LoggedIn)
            --system.loggedCount;
        else if (position.server->loginState == PasswordRejected)
            --system.rejectedCount;
        system.servers.erase(system.servers.begin() + (position.serverRow - position.systemRow - 1));
        rowsMoved();
    }

    if (!system.servers.empty()) {
        helper->dataChanged(position.systemRow, position.systemRow);
    } else if (dropEmptySystem) {
        auto guard = helper->removeRowsGuard(position.systemRow, position.systemRow);
        systems.erase(systems.begin() + (&system - systems.data()));
        rowsMoved();
    }
    return selectedBefore > 0 && totalSelected() == 0;
}

void ServersSelectionModel::Impl::change(const BaseServerInfo &baseInfo, bool outdates)
{
    Position position = positionOfId(baseInfo.id);
    if (!position)
        return;

    removeUnknown(baseInfo.hostAddress);
    ServerEntry &server = *position.server;
    if (outdates && server.selected() && baseInfo != server.info.baseInfo())
        markOutdated();

    // Where the server belongs is decided by the group it would be added to,
    // so that a factory server never leaves its group behind as an empty
    // system row.
    const QString newSystemName = targetSystemName(baseInfo);
    if (position.system->name == newSystemName) {
        server.info.writableBaseInfo() = baseInfo;
        helper->dataChanged(position.serverRow, position.serverRow);
        return;
    }

    const int selectedState = server.selectedState;
    const bool targetExists = indexOfSystem(newSystemName) >= 0;
    if (!targetExists && position.system->servers.size() == 1) {
        position.system->name = newSystemName;
        helper->dataChanged(position.systemRow, position.systemRow);
    }

    ServerInfo moved(server.info);
    moved.writableBaseInfo() = baseInfo;
    remove(baseInfo.id, targetExists);
    add(moved, selectedState);
}

void ServersSelectionModel::Impl::addUnknown(const QString &address)
{
    for (const SystemEntry &system : systems) {
        for (const ServerEntryPtr &server : system.servers) {
            if (server->info.baseInfo().hostAddress == address)
                return;
            if (!server->info.hasExtraInfo())
                continue;
            for (const InterfaceInfo &interface : server->info.extraInfo().interfaces) {
                if (interface.ip == address)
                    return;
            }
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
    const int index = unknownEntities.indexOf(address);
    if (index < 0)
        return;
    const int rows = systemRows();
    auto guard = unknownEntities.size() == 1 ? helper->removeRowsGuard(rows, rows + 1 + index)
                                             : helper->removeRowsGuard(rows + 1 + index, rows + 1 + index);
    unknownEntities.removeAt(index);
}

void ServersSelectionModel::Impl::onLoginSuccess(const QUuid &id, const ExtraServerInfo &extraInfo,
                                                 const QString &host)
{
    const Position position = positionOfId(id);
    if (!position)
        return;
    updatePassword(position, extraInfo.password);
    updateTime(position, extraInfo.utcDateTimeMs, extraInfo.timeZoneId, extraInfo.timestampMs);
    updateInterfaces(position, extraInfo.interfaces, host);
    helper->dataChanged(position.serverRow, position.serverRow);
}

void ServersSelectionModel::Impl::onLoginFailed(const QUuid &id, int errorCode)
{
    const Position position = positionOfId(id);
    if (!position)
        return;

    SystemEntry &system = *position.system;
    ServerEntry &server = *position.server;
    const int newState = errorCode == 401 ? PasswordRejected : Unavailable;
    const int oldState = server.loginState;
    bool countsChanged = false;
    if (oldState == LoggedIn) {
        --system.loggedCount;
        countsChanged = true;
    }
    if (oldState != PasswordRejected && newState == PasswordRejected) {
        ++system.rejectedCount;
        countsChanged = true;
    } else if (oldState == PasswordRejected && newState == Unavailable) {
        --system.rejectedCount;
        countsChanged = true;
    }
    if (countsChanged)
        helper->dataChanged(position.systemRow, position.systemRow);

    server.loginState = newState;
    server.info.resetExtraInfo();
    helper->dataChanged(position.serverRow, position.serverRow);

    if (server.selected()) {
        server.selectedState = Qt::Unchecked;
        helper->dataChanged(position.serverRow, position.serverRow);
        --system.selectedCount;
        helper->dataChanged(position.systemRow, position.systemRow);
        if (totalSelected() == 0)
            emit owner->selectionChanged();
    }
}

void ServersSelectionModel::Impl::ensureExtraInfo(const Position &position)
{
    ServerEntry &server = *position.server;
    if (server.info.hasExtraInfo())
        return;
    if (server.loginState == PasswordRejected)
        --position.system->rejectedCount;
    server.loginState = LoggedIn;
    server.info.setExtraInfo(ExtraServerInfo());
    helper->dataChanged(position.serverRow, position.serverRow);
    ++position.system->loggedCount;
    helper->dataChanged(position.systemRow, position.systemRow);
}

void ServersSelectionModel::Impl::updatePassword(const Position &position, const QString &password)
{
    ensureExtraInfo(position);
    ServerInfo &info = position.server->info;
    const QString oldPassword = info.extraInfo().password;
    if (password == oldPassword)
        return;

    // Servers of one system share the administrator password.
    info.writableExtraInfo().password = password;
    for (const ServerEntryPtr &other : position.system->servers) {
        if (other->info.hasExtraInfo() && other->info.extraInfo().password == oldPassword
            && other->info.baseInfo().systemName == info.baseInfo().systemName) {
            other->info.writableExtraInfo().password = password;
        }
    }
    helper->dataChanged(position.systemRow, position.systemRow + int(position.system->servers.size()));
    if (position.server->selected())
        markOutdated();
}

void ServersSelectionModel::Impl::updateTime(const Position &position, qint64 utcDateTimeMs,
                                             const QByteArray &timeZoneId, qint64 timestampMs)
{
    ensureExtraInfo(position);
    ExtraServerInfo &extra = position.server->info.writableExtraInfo();
    const qint64 drift = (utcDateTimeMs - timestampMs) - (extra.utcDateTimeMs - extra.timestampMs);
    const bool clockMoved = qAbs(drift) > 5000;
    // Always keep the latest reading; only a real jump counts as a change.
    extra.utcDateTimeMs = utcDateTimeMs;
    extra.timestampMs = timestampMs;
    const bool zoneChanged = extra.timeZoneId != timeZoneId;
    if (zoneChanged)
        extra.timeZoneId = timeZoneId;
    if (position.server->selected() && (clockMoved || zoneChanged))
        markOutdated();
}

void ServersSelectionModel::Impl::updateInterfaces(const Position &position, const InterfaceInfoList &interfaces,
                                                   const QString &host)
{
    position.server->info.writableBaseInfo().hostAddress = host;
    helper->dataChanged(position.serverRow, position.serverRow);
    ensureExtraInfo(position);

    InterfaceInfoList &stored = position.server->info.writableExtraInfo().interfaces;
    bool changed = interfaces.size() != stored.size();
    for (const InterfaceInfo &received : interfaces) {
        const auto found = std::find_if(stored.begin(), stored.end(), [&received](const InterfaceInfo &known) {
            return known.name == received.name;
        });
        if (found == stored.end()) {
            stored.append(received);
            removeUnknown(received.ip);
            continue;
        }
        if (*found != received) {
            removeUnknown(received.ip);
            changed = true;
        }
        *found = received;
    }
    if (position.server->selected() && changed)
        markOutdated();
}

Position ServersSelectionModel::Impl::selectForUpdate(const QUuid &id)
{
    const Position position = positionOfId(id);
    if (position && !position.server->selected()) {
        position.server->selectedState = Qt::Checked;
        ++position.system->selectedCount;
        helper->dataChanged(position.serverRow, position.serverRow);
        helper->dataChanged(position.systemRow, position.systemRow);
    }
    return position;
}

void ServersSelectionModel::Impl::markOutdated()
{
    selectionOutdated = true;
    emit owner->selectionOutdatedChanged();
}

void ServersSelectionModel::Impl::changeSelection(int row, bool selectOnly, bool emitSignal,
                                                  RefreshCollector *collector)
{
    const Position position = positionOfRow(row);
    if (!position)
        return;

    std::unique_ptr<RefreshCollector> ownCollector;
    if (!collector) {
        ownCollector = std::make_unique<RefreshCollector>(this);
        collector = ownCollector.get();
    }

    SystemEntry &system = *position.system;
    if (position.server) {
        ServerEntry &server = *position.server;
        if (!server.info.hasExtraInfo())
            return;
        const bool wasSelected = server.selected();
        const int selectedBefore = totalSelected();
        if (selectOnly) {
            for (SystemEntry &each : systems) {
                for (const ServerEntryPtr &other : each.servers) {
                    if (other->info.hasExtraInfo())
                        other->selectedState = Qt::Unchecked;
                }
                each.selectedCount = 0;
            }
            announceAllSystemRows();
        }
        const bool select = !wasSelected || (selectOnly && selectedBefore > 1);
        server.selectedState = select ? Qt::Checked : Qt::Unchecked;
        if (select) {
            ++system.selectedCount;
            collector->add(server.info);
        } else if (!selectOnly) {
            --system.selectedCount;
        }
        helper->dataChanged(position.serverRow, position.serverRow);
        helper->dataChanged(position.systemRow, position.systemRow);
    } else {
        const bool select = system.selectedCount == 0;
        int selected = 0;
        for (const ServerEntryPtr &server : system.servers) {
            if (!server->info.hasExtraInfo())
                continue;
            server->selectedState = select ? Qt::Checked : Qt::Unchecked;
            if (select) {
                ++selected;
                collector->add(server->info);
            }
        }
        system.selectedCount = selected;
        helper->dataChanged(position.systemRow, position.systemRow + int(system.servers.size()));
    }
    if (emitSignal)
        emit owner->selectionChanged();
}

void ServersSelectionModel::Impl::selectFromList(int row, bool selectOnly)
{
    if (row < 0 || row >= systemRows())
        return;
    changeSelection(row, selectOnly, true, nullptr);
    announceAllSystemRows();
}

void ServersSelectionModel::Impl::announceAllSystemRows()
{
    const int rows = systemRows();
    if (rows > 0)
        helper->dataChanged(0, rows - 1);
}

QVariant ServersSelectionModel::Impl::systemData(const SystemEntry &system, int role) const
{
    const int serversCount = int(system.servers.size());
    switch (role) {
    case ItemTypeRole:
        return int(Constants::SystemItemType);
    case NameRole:
    case SystemNameRole:
        return system.name;
    case SelectedStateRole:
        if (serversCount == 0 || system.selectedCount == 0)
            return int(Qt::Unchecked);
        return int(system.selectedCount == serversCount ? Qt::Checked : Qt::PartiallyChecked);
    case SelectedServersCountRole:
        return system.selectedCount;
    case ServersCountRole:
        return serversCount;
    case LoggedStateRole:
        if (system.rejectedCount == serversCount)
            return int(Constants::NotLogged);
        return int(system.rejectedCount > 0 ? Constants::PartiallyLogged : Constants::LoggedToAllServers);
    default:
        return QVariant();
    }
}

QVariant ServersSelectionModel::Impl::serverData(const SystemEntry &system, const ServerEntry &server,
                                                 int role) const
{
    const ServerInfo &info = server.info;
    switch (role) {
    case ItemTypeRole:
        return int(Constants::ServerItemType);
    case NameRole:
        return QStringLiteral("%1 (%2)").arg(info.baseInfo().name, info.baseInfo().displayAddress);
    case SelectedStateRole:
        return server.selectedState;
    case IdRole:
        return info.baseInfo().id;
    case SystemNameRole:
        return system.name;
    case MacAddressRole:
        if (info.hasExtraInfo() && !info.extraInfo().interfaces.isEmpty())
            return info.extraInfo().interfaces.first().macAddress;
        return server.loginState == Unavailable ? ServersSelectionModel::tr("Server is unavailable") : QString();
    case PortRole:
        return info.baseInfo().port;
    case LoggedInRole:
        return info.hasExtraInfo();
    case DefaultPasswordRole:
        return info.hasExtraInfo() && defaultPasswords().contains(info.extraInfo().password, Qt::CaseSensitive);
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
        [this]() { emit layoutChanged(); }, this);
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
        const Position position = m_impl->positionOfRow(row);
        return position.server ? m_impl->serverData(*position.system, *position.server, role)
                               : m_impl->systemData(*position.system, role);
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
    };
    return names;
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
        int systemRow = 0;
        for (const SystemEntry &system : m_impl->systems) {
            const int wantedCount = selected ? int(system.servers.size()) : 0;
            if (system.selectedCount != wantedCount) {
                for (size_t index = 0; index < system.servers.size(); ++index) {
                    const ServerEntry &server = *system.servers[index];
                    if (!server.info.hasExtraInfo() || server.selectedState == wantedState)
                        continue;
                    m_impl->changeSelection(systemRow + 1 + int(index), false, false, &collector);
                    toggled = true;
                }
            }
            systemRow += system.rowSpan();
        }
        if (toggled)
            emit selectionChanged();
    }
    m_impl->announceAllSystemRows();
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
    for (const SystemEntry &system : m_impl->systems) {
        for (const ServerEntryPtr &server : system.servers) {
            const BaseServerInfo &baseInfo = server->info.baseInfo();
            if (!server->info.hasExtraInfo() && (baseInfo.systemName == primarySystem || system.name == primarySystem))
                candidates.append(baseInfo);
        }
    }
    Impl *const impl = m_impl;
    for (const BaseServerInfo &baseInfo : qAsConst(candidates)) {
        impl->manager->loginWithPassword(
            baseInfo, password,
            [impl, holder](const QUuid &id, const ExtraServerInfo &extraInfo, const QString &host) {
                impl->onLoginSuccess(id, extraInfo, host);
                holder->callback = nullptr;
            },
            impl->failedHandler);
    }
}

bool ServersSelectionModel::selectionOutdated() const
{
    return m_impl->selectionOutdated;
}

int ServersSelectionModel::selectedCount() const
{
    return m_impl->totalSelected();
}

ServerInfoPtrContainer ServersSelectionModel::selectedServers()
{
    ServerInfoPtrContainer result;
    for (const SystemEntry &system : m_impl->systems) {
        if (system.selectedCount == 0)
            continue;
        for (const ServerEntryPtr &server : system.servers) {
            if (server->selected())
                result.append(&server->info);
        }
    }
    return result;
}

int ServersSelectionModel::serversCount() const
{
    int count = 0;
    for (const SystemEntry &system : m_impl->systems)
        count += int(system.servers.size());
    return count;
}

void ServersSelectionModel::serverDiscovered(const BaseServerInfo &baseInfo)
{
    const Position position = m_impl->positionOfId(baseInfo.id);
    if (!position)
        return;
    ServerEntry &server = *position.server;
    const qint64 now = m_impl->clock.elapsed();
    const qint64 sinceRefresh = now - server.refreshedAtMs;
    if (sinceRefresh < 0 || sinceRefresh < m_impl->timing.refreshThrottleMs)
        return;
    server.refreshedAtMs = now;
    if (server.loginState == PasswordRejected)
        return;

    ServerInfo record(baseInfo);
    if (server.info.hasExtraInfo())
        record.setExtraInfo(server.info.extraInfo());
    m_impl->manager->refreshExtraInfo({record}, m_impl->successHandler, m_impl->failedHandler);
}

void ServersSelectionModel::addServer(const BaseServerInfo &baseInfo)
{
    m_impl->add(ServerInfo(baseInfo), Qt::Unchecked);
}

void ServersSelectionModel::changeServer(const BaseServerInfo &baseInfo)
{
    m_impl->change(baseInfo, true);
}

void ServersSelectionModel::removeServers(const IDsVector &removed)
{
    const int selectedBefore = m_impl->totalSelected();
    for (const QUuid &id : removed)
        m_impl->remove(id, true);
    if (selectedBefore > 0 && m_impl->totalSelected() == 0)
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

void ServersSelectionModel::updateTimeDateInfo(const QUuid &id, qlonglong utcDateTimeMs,
                                               const QByteArray &timeZoneId, qlonglong timestampMs)
{
    const Position position = m_impl->selectForUpdate(id);
    if (position)
        m_impl->updateTime(position, utcDateTimeMs, timeZoneId, timestampMs);
}

void ServersSelectionModel::updateInterfacesInfo(const QUuid &id, const QString &host,
                                                 const InterfaceInfoList &interfaces)
{
    const Position position = m_impl->selectForUpdate(id);
    if (position)
        m_impl->updateInterfaces(position, interfaces, host);
}

void ServersSelectionModel::updateSystemNameInfo(const QUuid &id, const QString &systemName)
{
    const Position position = m_impl->positionOfId(id);
    if (!position)
        return;
    BaseServerInfo baseInfo = position.server->info.baseInfo();
    baseInfo.systemName = systemName;
    baseInfo.flags &= ~int(Constants::IsFactoryFlag);
    m_impl->change(baseInfo, false);
}

void ServersSelectionModel::updatePortInfo(const QUuid &id, int port)
{
    const Position position = m_impl->positionOfId(id);
    if (!position)
        return;
    BaseServerInfo baseInfo = position.server->info.baseInfo();
    baseInfo.port = port;
    m_impl->change(baseInfo, false);
}

void ServersSelectionModel::updatePasswordInfo(const QUuid &id, const QString &password)
{
    const Position position = m_impl->selectForUpdate(id);
    if (position)
        m_impl->updatePassword(position, password);
}

} // namespace rtu
