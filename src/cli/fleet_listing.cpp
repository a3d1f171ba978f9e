#include "cli/fleet_listing.h"

#include "core/constants.h"
#include "models/servers_selection_model.h"

#include <QAbstractItemModel>
#include <QJsonArray>

#include <algorithm>

namespace rtu::cli {

namespace {

using Roles = ServersSelectionModel::Roles;

// The name role reads "name (address)"; an address holds no parenthesis,
// so the last " (" starts it whatever the name holds.
void splitShownName(const QString &shown, ListedServer &server)
{
    const int open = shown.lastIndexOf(QLatin1String(" ("));
    if (open < 0 || !shown.endsWith(QLatin1Char(')'))) {
        server.name = shown;
        return;
    }
    server.name = shown.left(open);
    server.address = shown.mid(open + 2, shown.size() - open - 3);
}

QString loginText(const ListedServer &server)
{
    if (!server.loggedIn)
        return QStringLiteral("not logged in");
    return server.defaultPassword ? QStringLiteral("default password") : QStringLiteral("typed password");
}

QString padded(const QString &text, int width)
{
    return text.leftJustified(width, QLatin1Char(' '));
}

} // namespace

int FleetListing::serversCount() const
{
    int count = 0;
    for (const ListedSystem &system : systems)
        count += system.servers.size();
    return count;
}

int FleetListing::loggedInCount() const
{
    int count = 0;
    for (const ListedSystem &system : systems)
        count += int(std::count_if(system.servers.cbegin(), system.servers.cend(),
                                   [](const ListedServer &server) { return server.loggedIn; }));
    return count;
}

const ListedSystem *FleetListing::system(const QString &name) const
{
    for (const ListedSystem &system : systems) {
        if (system.name == name)
            return &system;
    }
    return nullptr;
}

QVector<ListedServer> FleetListing::selectedServers() const
{
    QVector<ListedServer> selected;
    for (const ListedSystem &system : systems) {
        for (const ListedServer &server : system.servers) {
            if (server.selected)
                selected.append(server);
        }
    }
    return selected;
}

FleetListing readFleet(const QAbstractItemModel &model)
{
    FleetListing fleet;
    const int rows = model.rowCount();
    for (int row = 0; row < rows; ++row) {
        const QModelIndex index = model.index(row, 0);
        const int type = model.data(index, Roles::ItemTypeRole).toInt();
        if (type == Constants::SystemItemType) {
            ListedSystem system;
            system.row = row;
            system.name = model.data(index, Roles::NameRole).toString();
            system.locked = model.data(index, Roles::LoggedStateRole).toInt() != Constants::LoggedToAllServers;
            system.selectedCount = model.data(index, Roles::SelectedServersCountRole).toInt();
            fleet.systems.append(system);
        } else if (type == Constants::ServerItemType && !fleet.systems.isEmpty()) {
            ListedServer server;
            server.row = row;
            server.id = model.data(index, Roles::IdRole).toUuid();
            splitShownName(model.data(index, Roles::NameRole).toString(), server);
            server.port = model.data(index, Roles::PortRole).toInt();
            server.loggedIn = model.data(index, Roles::LoggedInRole).toBool();
            server.defaultPassword = model.data(index, Roles::DefaultPasswordRole).toBool();
            server.selected = model.data(index, Roles::SelectedStateRole).toInt() == Qt::Checked;
            server.conflict = model.data(index, Roles::ConflictRole).toString();
            fleet.systems.last().servers.append(server);
        } else if (type == Constants::UnknownEntityType) {
            fleet.unknownHosts.append(model.data(index, Roles::IpAddressRole).toString());
        }
    }
    return fleet;
}

QString systemLabel(const QString &name)
{
    return name.isEmpty() ? QStringLiteral("Unassigned system") : name;
}

QString serverLabel(const ListedServer &server)
{
    return server.address.isEmpty() ? server.name : QStringLiteral("%1 (%2)").arg(server.name, server.address);
}

QString listingTable(const FleetListing &fleet)
{
    if (fleet.systems.isEmpty() && fleet.unknownHosts.isEmpty())
        return QStringLiteral("No server was found.\n");

    int nameWidth = 4;
    int addressWidth = 7;
    for (const ListedSystem &system : fleet.systems) {
        for (const ListedServer &server : system.servers) {
            nameWidth = std::max(nameWidth, int(server.name.size()));
            addressWidth = std::max(addressWidth, int(server.address.size()));
        }
    }
    QString text;
    if (!fleet.systems.isEmpty()) {
        text += QStringLiteral("  %1  %2  %3  %4  ID\n")
                    .arg(padded(QStringLiteral("NAME"), nameWidth), padded(QStringLiteral("ADDRESS"), addressWidth),
                         QStringLiteral(" PORT"), padded(QStringLiteral("LOGIN"), 16));
    }
    for (const ListedSystem &system : fleet.systems) {
        const int count = system.servers.size();
        text += QStringLiteral("%1: %2 %3").arg(systemLabel(system.name)).arg(count).arg(
            count == 1 ? QStringLiteral("server") : QStringLiteral("servers"));
        if (system.locked)
            text += QStringLiteral(", locked (log in with --login '%1')").arg(system.name);
        text += QLatin1Char('\n');
        for (const ListedServer &server : system.servers) {
            text += QStringLiteral("  %1  %2  %3  %4  %5\n")
                        .arg(padded(server.name, nameWidth),
                             padded(server.address.isEmpty() ? QStringLiteral("-") : server.address, addressWidth),
                             QString::number(server.port).rightJustified(5), padded(loginText(server), 16),
                             server.id.toString());
            if (!server.conflict.isEmpty())
                text += QStringLiteral("    ! %1\n").arg(server.conflict.simplified());
        }
    }
    if (!fleet.unknownHosts.isEmpty()) {
        text += QStringLiteral("Other discovered servers: %1\n").arg(fleet.unknownHosts.size());
        for (const QString &host : fleet.unknownHosts)
            text += QStringLiteral("  %1\n").arg(host);
    }
    return text;
}

QJsonObject serverJson(const ListedServer &server, const QString &systemName)
{
    return {{QStringLiteral("id"), server.id.toString()},
            {QStringLiteral("name"), server.name},
            {QStringLiteral("address"), server.address.isEmpty() ? QJsonValue() : QJsonValue(server.address)},
            {QStringLiteral("port"), server.port},
            {QStringLiteral("system"), systemName}};
}

QJsonObject listingJson(const FleetListing &fleet)
{
    QJsonArray systems;
    for (const ListedSystem &system : fleet.systems) {
        QJsonArray servers;
        for (const ListedServer &server : system.servers) {
            QJsonObject item = serverJson(server, system.name);
            item.remove(QStringLiteral("system"));
            item.insert(QStringLiteral("loggedIn"), server.loggedIn);
            item.insert(QStringLiteral("password"),
                        !server.loggedIn ? QJsonValue()
                                         : QJsonValue(server.defaultPassword ? QStringLiteral("default")
                                                                             : QStringLiteral("typed")));
            item.insert(QStringLiteral("conflict"),
                        server.conflict.isEmpty() ? QJsonValue() : QJsonValue(server.conflict.simplified()));
            servers.append(item);
        }
        systems.append(QJsonObject{{QStringLiteral("name"), system.name},
                                   {QStringLiteral("locked"), system.locked},
                                   {QStringLiteral("servers"), servers}});
    }
    return {{QStringLiteral("systems"), systems},
            {QStringLiteral("unknownHosts"), QJsonArray::fromStringList(fleet.unknownHosts)},
            {QStringLiteral("serversCount"), fleet.serversCount()},
            {QStringLiteral("loggedInCount"), fleet.loggedInCount()}};
}

} // namespace rtu::cli
