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
    return serverClockNowMs(server.extraInfo().utcDateTimeMs, server.extraInfo().timestampMs, nowMs);
}

int interfaceCount(const ServerInfo &server)
{
    return server.hasExtraInfo() ? server.extraInfo().interfaces.size() : 0;
}

// The clock that all selected servers show at nowMs, or 0 when they show
// none in common (or no common zone in which to read it).
qint64 commonClockMs(const ServerInfoPtrContainer &servers, qint64 nowMs)
{
    if (servers.isEmpty())
        return 0;

    // Valid clocks lie within years 1970..9999, so their difference cannot overflow.
    const qint64 firstClock = serverClockMs(*servers.first(), nowMs);
    const bool sameClock = std::all_of(servers.cbegin(), servers.cend(), [&](const ServerInfo *server) {
        return std::llabs(serverClockMs(*server, nowMs) - firstClock) < kSameClockToleranceMs;
    });
    const QByteArray zoneId = commonValue(servers, serverZoneId, QByteArray());
    if (!sameClock || firstClock <= 0 || (servers.size() > 1 && zoneId.isEmpty()))
        return 0;
    return firstClock;
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
        readAtMs = monotonicNowMs();
        clockMs = commonClockMs(servers, readAtMs);
        // An empty identifier would give the workstation's own zone; without
        // a zone the server's clock reads as UTC.
        zone = timeZoneById(commonValue(servers, serverZoneId, QByteArray()));
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
    bool editableInterfaces = false;
    // The common clock as read at readAtMs; it runs on from there.
    qint64 clockMs = 0;
    qint64 readAtMs = 0;
    QTimeZone zone;

    qint64 currentClockMs() const
    {
        return clockMs > 0 ? serverClockNowMs(clockMs, readAtMs, monotonicNowMs()) : 0;
    }
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
    const qint64 clock = m_impl->currentClockMs();
    return clock > 0 ? wallClockInZone(clock, m_impl->zone) : QDateTime();
}

QDateTime Selection::dateTimeIn(const QByteArray &timeZoneId) const
{
    const qint64 clock = m_impl->currentClockMs();
    if (clock <= 0)
        return QDateTime();
    const QTimeZone zone = timeZoneById(timeZoneId);
    return wallClockInZone(clock, zone.isValid() ? zone : m_impl->zone);
}

qint64 Selection::currentClockMs() const
{
    return m_impl->currentClockMs();
}

bool Selection::editableInterfaces() const
{
    return m_impl->editableInterfaces;
}

} // namespace rtu
