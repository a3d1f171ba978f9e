#pragma once

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QTime>
#include <QTimeZone>

namespace rtu {

// The wall clock of the instant utcMs in zone, as a local-spec date-time that
// carries only the zone's wall-clock fields (QML shows them as they are). An
// invalid zone has offset 0, so its wall clock is UTC.
QDateTime wallClockInZone(qint64 utcMs, const QTimeZone &zone);

// The instant, in ms since the epoch, of a wall-clock date and time read in
// zone: the date and time taken as UTC, less the zone's offset at that instant.
qint64 utcMsFromWallClock(const QDate &date, const QTime &time, const QTimeZone &zone);

// The text by which a zone is shown: its comment, or "(offset name) id".
QString timeZoneDisplayText(const QTimeZone &zone, const QDateTime &at);

} // namespace rtu
