#pragma once

#include "core/date_time_helpers.h"
#include "core/server_info.h"
#include "protocol/server_requests.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace rtu {

// The date and time to set, with the zone.
struct DateTimeChange
{
    qint64 utcDateTimeMs = 0;
    QByteArray timeZoneId;
    // A clock read when the change was collected runs on until each request
    // goes out (requests go one after another); a typed time goes as typed.
    bool followsClock = false;
    qint64 collectedAtMs = 0;

    qint64 valueAt(qint64 nowMs) const
    {
        return followsClock ? serverClockNowMs(utcDateTimeMs, collectedAtMs, nowMs) : utcDateTimeMs;
    }
};

// The operator's edits collected for the next run. Every member is optional:
// absent until an edit sets it, replaced by a later one.
struct ChangeSet
{
    std::optional<int> port;
    std::optional<QString> password;
    std::optional<QString> systemName;
    InterfaceChangesList interfaces;
    std::optional<DateTimeChange> dateTime;
};

// A server whose interface change was sent: it is confirmed once discovery
// sees the server and a read shows the new settings.
struct InterfaceWait
{
    bool checkInProgress = false;
    int attempts = 0;
    qint64 lastCheckMs = 0;
    ServerInfo *server = nullptr;
    InterfaceChangesList changes;
    int changesCount = 0;
};

// The members of the change that are set: the rows it makes.
int setMembersCount(const InterfaceChange &change);
// Whether the interface shows every member the change sets.
bool matches(const InterfaceChange &change, const InterfaceInfo &iface);

} // namespace rtu
