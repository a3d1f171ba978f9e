#include "models/selection.h"

#include "core/constants.h"
#include "core/date_time_helpers.h"
#include "core/server_info.h"
#include "models/servers_selection_model.h"

#include <QTimeZone>

#include <algorithm>
#include <cstdlib>

namespace rtu {

namespace {

// Clocks closer than this count as showing the same time.
constexpr qint64 kSameClockToleranceMs = 30000;

// The value of the first server, or the disagreement value when another differs.
template<typename Value, typename Getter>
Value commonValue(const ServerInfoPtrContainer &servers, Getter get, const Value &disagreement)
{
    if (servers.isEmpty())
        return disagreement;
    const Value first = get(*servers.first());
    const bool same = std::all_of(servers.cbegin(), servers.cend(),
                                  [&](const ServerInfo *server) { return get(*server) == first; });
    return same ? first : disagreement;
}

int serverDhcpState(const ServerInfo &server)
{
    if (!server.hasExtraInfo() || server.extraInfo().interfaces.isEmpty())
        return Qt::Unchecked;
    const InterfaceInfoList &interfaces = server.extraInfo().interfaces;
    const int first = interfaces.first().useDHCP;
    const bool same = std::all_of(interfaces.cbegin(), interfaces.cend(),
                                  [first](const InterfaceInfo &info) { return info.useDHCP == first; });
    return same ? first : Qt::PartiallyChecked;
}

QByteArray serverZoneId(const ServerInfo &server)
{
    return server.hasExtraInfo() ? server.extraInfo().timeZoneId : QByteArray();
}

qint64 serverClockMs(const ServerInfo &server, qint64 nowMs)
{
    if (!server.hasExtraInfo())
        return 0;
    return server.extraInfo().utcDateTimeMs + (nowMs - server.extraInfo().timestampMs);
}

int interfaceCount(const ServerInfo &server)
{
    return server.hasExtraInfo() ? server.extraInfo().interfaces.size() : 0;
}

QDateTime commonDateTime(const ServerInfoPtrContainer &servers)
{
    if (servers.isEmpty())
        return QDateTime();

    const qint64 nowMs = QDateTime::currentMSecsSinceEpoch();
    const qint64 firstClock = serverClockMs(*servers.first(), nowMs);
    const bool sameClock = std::all_of(servers.cbegin(), servers.cend(), [&](const ServerInfo *server) {
        return std::llabs(serverClockMs(*server, nowMs) - firstClock) < kSameClockToleranceMs;
    });
    const qint64 clock = sameClock ? firstClock : 0;
    const QByteArray zoneId = commonValue(servers, serverZoneId, QByteArray());
    if (clock <= 0 || (servers.size() > 1 && zoneId.isEmpty()))
        return QDateTime();
    // An empty identifier would give the workstation's own zone; without a
    // zone the server's clock reads as UTC.
    return wallClockInZone(clock, zoneId.isEmpty() ? QTimeZone() : QTimeZone(zoneId));
}

} // namespace

class Selection::Impl : public QObject
{
public:
    Impl(Selection *owner, ServersSelectionModel *model) : QObject(owner)
    {
        const ServerInfoPtrContainer servers = model->selectedServers();
        count = model->selectedCount();
        port = commonValue(servers, [](const ServerInfo &server) { return server.baseInfo().port; }, 0);
        for (const ServerInfo *server : servers)
            flags &= server->baseInfo().flags;
        dhcpState = commonValue(servers, serverDhcpState, int(Qt::PartiallyChecked));
        if (servers.isEmpty())
            dhcpState = Qt::Unchecked;
        systemName = commonValue(
            servers, [](const ServerInfo &server) { return server.baseInfo().systemName; }, QString());
        password = commonValue(
            servers,
            [](const ServerInfo &server) { return server.hasExtraInfo() ? server.extraInfo().password : QString(); },
            QString());
        dateTime = commonDateTime(servers);
        editableInterfaces = servers.size() == 1
            || (servers.size() > 1 && std::all_of(servers.cbegin(), servers.cend(), [](const ServerInfo *server) {
                    return interfaceCount(*server) == 1;
                }));
    }

    int count = 0;
    int port = 0;
    int flags = Constants::AllFlags;
    int dhcpState = Qt::Unchecked;
    QString systemName;
    QString password;
    QDateTime dateTime;
    bool editableInterfaces = false;
};

Selection::Selection(ServersSelectionModel *model, QObject *parent) : QObject(parent), m_impl(new Impl(this, model))
{
}

Selection::~Selection() = default;

int Selection::count() const
{
    return m_impl->count;
}

int Selection::port() const
{
    return m_impl->port;
}

int Selection::flags() const
{
    return m_impl->flags;
}

int Selection::dhcpState() const
{
    return m_impl->dhcpState;
}

QString Selection::systemName() const
{
    return m_impl->systemName;
}

QString Selection::password() const
{
    return m_impl->password;
}

QDateTime Selection::dateTime() const
{
    return m_impl->dateTime;
}

bool Selection::editableInterfaces() const
{
    return m_impl->editableInterfaces;
}

} // namespace rtu
