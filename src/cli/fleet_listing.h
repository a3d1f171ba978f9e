#pragma once

#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QUuid>
#include <QVector>

class QAbstractItemModel;

namespace rtu::cli {

// One server row of the server list, as the window shows it.
struct ListedServer
{
    int row = -1;
    QUuid id;
    QString name;
    // The address shown after the name; empty until the server's second
    // answer, or while two hosts answer with its id.
    QString address;
    int port = 0;
    bool loggedIn = false;
    // Logged in with one of the default passwords rather than a typed one.
    bool defaultPassword = false;
    bool selected = false;
    QString conflict;
};

struct ListedSystem
{
    int row = -1;
    // Empty for the servers not set up yet ("Unassigned system").
    QString name;
    // Some of its servers refused every known password.
    bool locked = false;
    int selectedCount = 0;
    QVector<ListedServer> servers;
};

// The server list at one moment: systems in the list's order, then the
// hosts that only ask for servers.
struct FleetListing
{
    QVector<ListedSystem> systems;
    QStringList unknownHosts;

    int serversCount() const;
    int loggedInCount() const;
    const ListedSystem *system(const QString &name) const;
    QVector<ListedServer> selectedServers() const;
};

// Reads the rows of the servers selection model through its roles.
FleetListing readFleet(const QAbstractItemModel &model);

// The name under which a system is shown.
QString systemLabel(const QString &name);
// "name (address)", as in the server list; an unknown address is left out.
QString serverLabel(const ListedServer &server);

QString listingTable(const FleetListing &fleet);
QJsonObject listingJson(const FleetListing &fleet);
// A server as selection and result lists name it in JSON.
QJsonObject serverJson(const ListedServer &server, const QString &systemName);

} // namespace rtu::cli
