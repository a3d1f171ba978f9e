#pragma once

#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QTime>
#include <QTimeZone>

namespace rtu {

// Milliseconds since the epoch, from a monotonic clock anchored to the
// workstation's clock at its first use. Server clocks are kept as a reading
// plus the time elapsed since, which a change of the workstation's clock must
// not skew.
qint64 monotonicNowMs();

// Whether a clock reading in ms since the epoch is one QDateTime represents:
// from 1970 up to the end of the year 9999. Anything else from a peer is not
// a time, and staying inside this range keeps all arithmetic on it in range.
bool isValidClockMs(qint64 utcMs);

// A server's current time: its reading plus the time elapsed since it was
// taken; 0 when the reading or the result is not a valid clock.
qint64 serverClockNowMs(qint64 utcDateTimeMs, qint64 timestampMs, qint64 nowMs);

// The identifiers of the platform's time-zone database, read once.
const QList<QByteArray> &platformTimeZoneIds();

// The zone of an identifier, or an invalid zone when the identifier is
// neither in the platform's list nor a fixed offset such as "UTC+05:30".
// Identifiers come from peers, and the platform turns them into file paths,
// so nothing else may reach QTimeZone.
QTimeZone timeZoneById(const QByteArray &id);

// The wall clock of the instant utcMs in zone, as a local-spec date-time that
// carries only the zone's wall-clock fields (QML shows them as they are). An
// invalid zone has offset 0, so its wall clock is UTC.
QDateTime wallClockInZone(qint64 utcMs, const QTimeZone &zone);

// The instant, in ms since the epoch, of a wall-clock date and time read in
// zone: the date and time taken as UTC, less the zone's offset at that instant.
qint64 utcMsFromWallClock(const QDate &date, const QTime &time, const QTimeZone &zone);

// The text by which a zone is shown: its comment, or "(offset name) id".
QString timeZoneDisplayText(const QTimeZone &zone, const QDateTime &at);

// Always "(offset name) id", for rows that must show their identifier.
QString timeZoneOffsetText(const QTimeZone &zone, const QDateTime &at);

// A zone as scripts name it: the IANA id. A fixed offset that a server
// reported in place of a zone ("UTC-05:00") becomes the IANA zone of that
// offset ("Etc/GMT+5") when it is a whole number of hours.
QString ianaZoneId(const QByteArray &id);

// The instant as the zone's wall clock in ISO 8601 with the zone's offset
// ("2026-12-09T10:08:07+01:00"), for scripts; an invalid zone gives UTC.
QString isoDateTimeText(qint64 utcMs, const QTimeZone &zone);

} // namespace rtu
