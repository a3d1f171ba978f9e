#include "cli/fleet_listing.h"

#include "core/constants.h"
#include "core/date_time_helpers.h"

#include <QDateTime>
#include <QJsonArray>

#include <algorithm>

namespace rtu::cli {

namespace {

// What the listing says of a login: the table's words and the document's key.
struct LoginNames
{
    const char *text;
    const char *key;
};

LoginNames loginNames(const ServerState &server)
{
    switch (server.login) {
    case LoginOutcome::LoggedIn:
        return {server.defaultPassword ? "default password" : "typed password", "loggedIn"};
    case LoginOutcome::PasswordRejected:
        return {"password refused", "passwordRejected"};
    case LoginOutcome::Failed:
        return {"not readable", "failed"};
    case LoginOutcome::Pending:
        break;
    }
    return {"no login yet", "pending"};
}

QString padded(const QString &text, int width)
{
    return text.leftJustified(width, QLatin1Char(' '));
}

QJsonValue textOrNull(const QString &text)
{
    return text.isEmpty() ? QJsonValue() : QJsonValue(text);
}

QJsonArray interfacesJson(const ServerState &server)
{
    QJsonArray interfaces;
    if (!server.info.hasExtraInfo())
        return interfaces;
    for (const InterfaceInfo &iface : server.info.extraInfo().interfaces) {
        interfaces.append(QJsonObject{{QStringLiteral("name"), iface.name},
                                      {QStringLiteral("address"), iface.ip},
                                      {QStringLiteral("mask"), iface.mask},
                                      {QStringLiteral("gateway"), iface.gateway},
                                      {QStringLiteral("dns"), iface.dns},
                                      {QStringLiteral("mac"), iface.macAddress},
                                      {QStringLiteral("dhcp"), iface.useDHCP == Qt::Checked}});
    }
    return interfaces;
}

} // namespace

int Fleet::serversCount() const
{
    int count = 0;
    for (const SystemState &system : systems)
        count += system.servers.size();
    return count;
}

int Fleet::loggedInCount() const
{
    int count = 0;
    for (const SystemState &system : systems)
        count += int(std::count_if(system.servers.cbegin(), system.servers.cend(), [](const ServerState &server) {
            return server.login == LoginOutcome::LoggedIn;
        }));
    return count;
}

QString systemLabel(const QString &name)
{
    return name.isEmpty() ? QStringLiteral("Unassigned system") : name;
}

QString serverLabel(const ServerState &server)
{
    const QString &name = server.info.baseInfo().name;
    return server.addresses.isEmpty() ? name : QStringLiteral("%1 (%2)").arg(name, server.addresses.first());
}

ChangeReason unavailableReason(const ServerState &server)
{
    if (!server.conflict.isEmpty())
        return ChangeReason::Conflict;
    switch (server.login) {
    case LoginOutcome::LoggedIn:
        return ChangeReason::None;
    case LoginOutcome::PasswordRejected:
        return ChangeReason::PasswordRejected;
    case LoginOutcome::Failed:
        return ChangeReason::LoginFailed;
    case LoginOutcome::Pending:
        break;
    }
    return ChangeReason::LoginPending;
}

QString unavailableText(const ServerState &server)
{
    switch (unavailableReason(server)) {
    case ChangeReason::Conflict:
        return QStringLiteral("two hosts answer as it (%1)").arg(server.conflict.join(QStringLiteral(", ")));
    case ChangeReason::PasswordRejected:
        return QStringLiteral("locked: the passwords tried were refused (--login gives its system's)");
    case ChangeReason::LoginFailed:
        return QStringLiteral("not logged in: the server could not be read");
    case ChangeReason::LoginPending:
        return QStringLiteral("not logged in: no login outcome within --wait");
    default:
        break;
    }
    return QString();
}

QString listingTable(const Fleet &fleet)
{
    if (fleet.systems.isEmpty() && fleet.unknownHosts.isEmpty())
        return QStringLiteral("No server was found.\n");

    int nameWidth = 4;
    int addressWidth = 9;
    for (const SystemState &system : fleet.systems) {
        for (const ServerState &server : system.servers) {
            nameWidth = std::max(nameWidth, int(server.info.baseInfo().name.size()));
            addressWidth = std::max(addressWidth, int(server.addresses.join(QLatin1Char(',')).size()));
        }
    }
    QString text;
    if (!fleet.systems.isEmpty()) {
        text += QStringLiteral("  %1  %2  %3  %4  ID\n")
                    .arg(padded(QStringLiteral("NAME"), nameWidth), padded(QStringLiteral("ADDRESSES"), addressWidth),
                         QStringLiteral(" PORT"), padded(QStringLiteral("LOGIN"), 16));
    }
    for (const SystemState &system : fleet.systems) {
        const int count = system.servers.size();
        text += QStringLiteral("%1: %2 %3").arg(systemLabel(system.name)).arg(count).arg(
            count == 1 ? QStringLiteral("server") : QStringLiteral("servers"));
        if (system.loggedState != Constants::LoggedToAllServers)
            text += QStringLiteral(", locked (log in with --login '%1')").arg(system.name);
        text += QLatin1Char('\n');
        for (const ServerState &server : system.servers) {
            const BaseServerInfo &base = server.info.baseInfo();
            text += QStringLiteral("  %1  %2  %3  %4  %5\n")
                        .arg(padded(base.name, nameWidth),
                             padded(server.addresses.isEmpty() ? QStringLiteral("-")
                                                               : server.addresses.join(QLatin1Char(',')),
                                    addressWidth),
                             QString::number(base.port).rightJustified(5), padded(QString::fromLatin1(loginNames(server).text), 16),
                             base.id.toString());
            if (!server.conflict.isEmpty())
                text += QStringLiteral("    ! %1\n").arg(unavailableText(server));
        }
    }
    if (!fleet.unknownHosts.isEmpty()) {
        text += QStringLiteral("Other discovered servers: %1\n").arg(fleet.unknownHosts.size());
        for (const QString &host : fleet.unknownHosts)
            text += QStringLiteral("  %1\n").arg(host);
    }
    return text;
}

QJsonObject serverJson(const ServerState &server)
{
    const BaseServerInfo &base = server.info.baseInfo();
    QJsonValue zone;
    QJsonValue time;
    if (server.info.hasExtraInfo()) {
        const ExtraServerInfo &extra = server.info.extraInfo();
        zone = textOrNull(ianaZoneId(extra.timeZoneId));
        const qint64 clock = serverClockNowMs(extra.utcDateTimeMs, extra.timestampMs, monotonicNowMs());
        if (clock > 0)
            time = isoDateTimeText(clock, timeZoneById(extra.timeZoneId));
    }
    QJsonObject login{{QStringLiteral("state"), QString::fromLatin1(loginNames(server).key)},
                      {QStringLiteral("reason"), textOrNull(unavailableText(server))}};
    login.insert(QStringLiteral("password"),
                 server.login != LoginOutcome::LoggedIn
                     ? QJsonValue()
                     : QJsonValue(server.defaultPassword ? QStringLiteral("default") : QStringLiteral("typed")));
    return {{QStringLiteral("id"), base.id.toString()},
            {QStringLiteral("name"), base.name},
            {QStringLiteral("system"), server.systemName},
            {QStringLiteral("addresses"), QJsonArray::fromStringList(server.addresses)},
            {QStringLiteral("port"), base.port},
            {QStringLiteral("flags"),
             QJsonObject{{QStringLiteral("timeControl"), bool(base.flags & Constants::AllowChangeDateTimeFlag)},
                         {QStringLiteral("interfaceControl"), bool(base.flags & Constants::AllowIfConfigFlag)},
                         {QStringLiteral("factoryNew"), bool(base.flags & Constants::IsFactoryFlag)}}},
            {QStringLiteral("timeZone"), zone},
            {QStringLiteral("time"), time},
            {QStringLiteral("login"), login},
            {QStringLiteral("selectable"), server.selectable()},
            {QStringLiteral("conflict"),
             server.conflict.isEmpty() ? QJsonValue() : QJsonValue(QJsonArray::fromStringList(server.conflict))},
            {QStringLiteral("interfaces"), interfacesJson(server)}};
}

QJsonObject listingJson(const Fleet &fleet)
{
    QJsonArray servers;
    QJsonArray systems;
    for (const SystemState &system : fleet.systems) {
        QJsonArray ids;
        for (const ServerState &server : system.servers) {
            servers.append(serverJson(server));
            ids.append(server.info.baseInfo().id.toString());
        }
        systems.append(QJsonObject{{QStringLiteral("name"), system.name},
                                   {QStringLiteral("locked"), system.loggedState != Constants::LoggedToAllServers},
                                   {QStringLiteral("servers"), ids}});
    }
    return {{QStringLiteral("formatVersion"), kFormatVersion},
            {QStringLiteral("command"), QStringLiteral("list")},
            {QStringLiteral("generatedAt"), nowText()},
            {QStringLiteral("servers"), servers},
            {QStringLiteral("systems"), systems},
            {QStringLiteral("unknownHosts"), QJsonArray::fromStringList(fleet.unknownHosts)},
            {QStringLiteral("counts"), QJsonObject{{QStringLiteral("servers"), fleet.serversCount()},
                                                   {QStringLiteral("loggedIn"), fleet.loggedInCount()}}}};
}

QString nowText()
{
    return isoDateTimeText(QDateTime::currentMSecsSinceEpoch(), QDateTime::currentDateTime().timeZone());
}

} // namespace rtu::cli
