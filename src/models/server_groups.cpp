#include "models/server_groups.h"

#include "core/constants.h"
#include "models/model_change_helper.h"
#include "models/servers_selection_model.h"
#include "protocol/server_requests.h"

#include <algorithm>

namespace rtu::listing {

namespace {

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
    shown.conflict = server.conflict;
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
        || before.conflict.isEmpty() != after.conflict.isEmpty())
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


} // namespace


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


SystemEntry *ServerGroups::systemAtRow(int row, ServerEntry **server) const
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


void ServerGroups::uncount(ServerEntry &server)
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


void ServerGroups::count(ServerEntry &server)
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


void ServerGroups::setSelected(ServerEntry &server, bool selected)
{
    uncount(server);
    server.selectedState = selected ? Qt::Checked : Qt::Unchecked;
    count(server);
}


SystemEntry *ServerGroups::createSystem(const QString &name)
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


void ServerGroups::dropSystem(SystemEntry &system)
{
    const int row = rowOf(system);
    auto guard = helper->removeRowsGuard(row, row);
    systemsByName.remove(system.name());
    order.erase(&system);
}


void ServerGroups::removeAll(const IDsVector &ids)
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


void ServerGroups::moveServer(ServerEntry &server, SystemEntry &target)
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


void ServerGroups::announce(ServerEntry &server)
{
    ServerShown shown = shownOf(server);
    const QVector<int> roles = changedRoles(server.shown, shown);
    if (roles.isEmpty())
        return;
    server.shown = std::move(shown);
    const int row = rowOf(server);
    helper->dataChanged(row, row, roles);
}


void ServerGroups::announce(SystemEntry &system)
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


void ServerGroups::announceAll()
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


ServerEntry *ServerGroups::insertServer(ServerEntryPtr server, SystemEntry &system)
{
    ServerEntry *const added = server.get();
    added->system = &system;
    added->index = int(system.servers.size());
    {
        const int row = rowOf(system) + system.span();
        auto guard = helper->insertRowsGuard(row, row);
        system.servers.push_back(std::move(server));
        byId.insert(added->info.baseInfo().id, added);
        order.setSpan(&system, system.span() + 1);
        count(*added);
        added->shown = shownOf(*added);
    }
    announce(system);
    return added;
}

void ServerGroups::renameSystem(SystemEntry &system, const QString &name)
{
    systemsByName.remove(system.name());
    order.rename(&system, name);
    systemsByName.insert(name, &system);
}

void ServerGroups::addUnknown(const QString &address)
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


void ServerGroups::removeUnknown(const QString &address)
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


} // namespace rtu::listing
