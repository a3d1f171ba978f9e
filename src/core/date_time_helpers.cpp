#include "core/date_time_helpers.h"

#include <QLocale>

namespace rtu {

QDateTime wallClockInZone(qint64 utcMs, const QTimeZone &zone)
{
    const QDateTime instant = QDateTime::fromMSecsSinceEpoch(utcMs, Qt::UTC);
    const int offset = zone.isValid() ? zone.offsetFromUtc(instant) : 0;
    const QDateTime shifted = QDateTime::fromMSecsSinceEpoch(utcMs + qint64(offset) * 1000, Qt::UTC);
    return QDateTime(shifted.date(), shifted.time(), Qt::LocalTime);
}

qint64 utcMsFromWallClock(const QDate &date, const QTime &time, const QTimeZone &zone)
{
    const QDateTime asUtc(date, time, Qt::UTC);
    const int offset = zone.isValid() ? zone.offsetFromUtc(asUtc) : 0;
    return asUtc.toMSecsSinceEpoch() - qint64(offset) * 1000;
}

QString timeZoneDisplayText(const QTimeZone &zone, const QDateTime &at)
{
    const QString comment = zone.comment();
    if (!comment.isEmpty())
        return comment;
    return QStringLiteral("(%1) %2")
        .arg(zone.displayName(at, QTimeZone::OffsetName, QLocale()), QString::fromUtf8(zone.id()));
}

} // namespace rtu
