#include "core/date_time_helpers.h"

#include <QElapsedTimer>
#include <QLocale>
#include <QRegularExpression>
#include <QSet>

namespace rtu {

namespace {

// 9999-12-31T23:59:59.999Z.
constexpr qint64 kLastValidClockMs = Q_INT64_C(253402300799999);

struct ClockAnchor
{
    qint64 epochMs = 0;
    QElapsedTimer timer;
};

const QSet<QByteArray> &platformTimeZoneIdSet()
{
    static const QSet<QByteArray> ids(platformTimeZoneIds().cbegin(), platformTimeZoneIds().cend());
    return ids;
}

// Qt's own name of a fixed offset ("UTC+01", "UTC+05:30", "UTC-03:25:45"),
// as it names the zone of an offset; its list spells only some of them.
QTimeZone fixedOffsetZone(const QByteArray &id)
{
    static const QRegularExpression pattern(
        QStringLiteral("^UTC([+-])(\\d\\d)(?::(\\d\\d)(?::(\\d\\d))?)?$"));
    const QRegularExpressionMatch match = pattern.match(QString::fromLatin1(id));
    if (!match.hasMatch())
        return QTimeZone();
    const int seconds = match.captured(2).toInt() * 3600 + match.captured(3).toInt() * 60 + match.captured(4).toInt();
    const QTimeZone zone(match.captured(1) == QLatin1String("-") ? -seconds : seconds);
    // Only the canonical spelling, so that one zone has one identifier.
    return zone.isValid() && zone.id() == id ? zone : QTimeZone();
}

} // namespace

qint64 monotonicNowMs()
{
    static const ClockAnchor anchor = [] {
        ClockAnchor result;
        result.epochMs = QDateTime::currentMSecsSinceEpoch();
        result.timer.start();
        return result;
    }();
    return anchor.epochMs + anchor.timer.elapsed();
}

bool isValidClockMs(qint64 utcMs)
{
    return utcMs >= 0 && utcMs <= kLastValidClockMs;
}

qint64 serverClockNowMs(qint64 utcDateTimeMs, qint64 timestampMs, qint64 nowMs)
{
    qint64 elapsed = 0;
    qint64 clock = 0;
    if (!isValidClockMs(utcDateTimeMs) || __builtin_sub_overflow(nowMs, timestampMs, &elapsed)
        || __builtin_add_overflow(utcDateTimeMs, elapsed, &clock) || !isValidClockMs(clock))
        return 0;
    return clock;
}

const QList<QByteArray> &platformTimeZoneIds()
{
    static const QList<QByteArray> ids = QTimeZone::availableTimeZoneIds();
    return ids;
}

QTimeZone timeZoneById(const QByteArray &id)
{
    if (id.isEmpty())
        return QTimeZone();
    if (platformTimeZoneIdSet().contains(id))
        return QTimeZone(id);
    return fixedOffsetZone(id);
}

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
    return timeZoneOffsetText(zone, at);
}

QString timeZoneOffsetText(const QTimeZone &zone, const QDateTime &at)
{
    return QStringLiteral("(%1) %2")
        .arg(zone.displayName(at, QTimeZone::OffsetName, QLocale()), QString::fromUtf8(zone.id()));
}

} // namespace rtu

namespace rtu {

QString ianaZoneId(const QByteArray &id)
{
    if (id.isEmpty() || platformTimeZoneIdSet().contains(id) || !id.startsWith("UTC"))
        return QString::fromUtf8(id);
    const QTimeZone zone = timeZoneById(id);
    const int offset = zone.isValid() ? zone.offsetFromUtc(QDateTime::currentDateTimeUtc()) : 1;
    if (offset == 0)
        return QStringLiteral("Etc/UTC");
    if (offset % 3600 != 0)
        return QString::fromUtf8(id);
    // The Etc zones count the other way: Etc/GMT+5 is five hours behind.
    return QStringLiteral("Etc/GMT%1%2").arg(offset < 0 ? QLatin1Char('+') : QLatin1Char('-')).arg(qAbs(offset) / 3600);
}

QString isoDateTimeText(qint64 utcMs, const QTimeZone &zone)
{
    const QDateTime instant = QDateTime::fromMSecsSinceEpoch(utcMs, Qt::UTC);
    const int offset = zone.isValid() ? zone.offsetFromUtc(instant) : 0;
    const QDateTime wall = instant.addSecs(offset);
    const int minutes = qAbs(offset) / 60;
    return wall.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss"))
        + QStringLiteral("%1%2:%3")
              .arg(offset < 0 ? QLatin1Char('-') : QLatin1Char('+'))
              .arg(minutes / 60, 2, 10, QLatin1Char('0'))
              .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

} // namespace rtu
