#pragma once

#include "changes/change_outcome.h"
#include "models/server_state.h"

#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QVector>

namespace rtu::cli {

// The JSON documents' format; a change that could break a reader raises it.
constexpr int kFormatVersion = 1;

// The servers found, by system, then the hosts that only ask for servers.
struct Fleet
{
    QVector<SystemState> systems;
    QStringList unknownHosts;

    int serversCount() const;
    int loggedInCount() const;
};

// The name under which a system is shown.
QString systemLabel(const QString &name);
// "name (address)", with the first address it answers from.
QString serverLabel(const ServerState &server);
// Why a server cannot be changed (conflict, passwordRejected, loginFailed,
// loginPending); None when it can.
ChangeReason unavailableReason(const ServerState &server);
// The same in a few words; empty when it can.
QString unavailableText(const ServerState &server);

QString listingTable(const Fleet &fleet);
// A server as every document of the command shows it.
QJsonObject serverJson(const ServerState &server);
// The document of "list".
QJsonObject listingJson(const Fleet &fleet);
// The current time as the documents give times: ISO 8601 with its offset.
QString nowText();

} // namespace rtu::cli
