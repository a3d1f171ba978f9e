#include "core/date_time_helpers.h"

#include <QtTest>

#include <limits>

using namespace rtu;

namespace {

constexpr qint64 kMax = std::numeric_limits<qint64>::max();
constexpr qint64 kMin = std::numeric_limits<qint64>::min();

} // namespace

class TestDateTimeHelpers : public QObject
{
    Q_OBJECT

private slots:
    void monotonicClockReadsAsTheWorkstationClock()
    {
        const qint64 first = monotonicNowMs();
        QVERIFY(qAbs(first - QDateTime::currentMSecsSinceEpoch()) < 1000);
        QTest::qWait(20);
        const qint64 second = monotonicNowMs();
        QVERIFY2(second - first >= 15 && second - first < 1000, qPrintable(QString::number(second - first)));
    }

    void serverClock_data()
    {
        QTest::addColumn<qint64>("utcMs");
        QTest::addColumn<qint64>("timestampMs");
        QTest::addColumn<qint64>("nowMs");
        QTest::addColumn<qint64>("expected");

        const qint64 clock = Q_INT64_C(1700000000000);
        QTest::newRow("runs on from the reading") << clock << Q_INT64_C(5000) << Q_INT64_C(7500) << clock + 2500;
        QTest::newRow("epoch is a reading") << Q_INT64_C(0) << Q_INT64_C(0) << Q_INT64_C(10) << Q_INT64_C(10);
        QTest::newRow("largest reading") << kMax << Q_INT64_C(0) << Q_INT64_C(1) << Q_INT64_C(0);
        QTest::newRow("smallest reading") << kMin << Q_INT64_C(0) << Q_INT64_C(1) << Q_INT64_C(0);
        QTest::newRow("before 1970") << Q_INT64_C(-1) << Q_INT64_C(0) << Q_INT64_C(0) << Q_INT64_C(0);
        QTest::newRow("elapsed overflows") << clock << kMin << kMax << Q_INT64_C(0);
        QTest::newRow("runs past 9999") << Q_INT64_C(253402300799999) << Q_INT64_C(0) << Q_INT64_C(1) << Q_INT64_C(0);
        QTest::newRow("runs back before 1970") << Q_INT64_C(10) << Q_INT64_C(100) << Q_INT64_C(0) << Q_INT64_C(0);
    }

    void serverClock()
    {
        QFETCH(qint64, utcMs);
        QFETCH(qint64, timestampMs);
        QFETCH(qint64, nowMs);
        QFETCH(qint64, expected);
        QCOMPARE(serverClockNowMs(utcMs, timestampMs, nowMs), expected);
    }

    void zoneOfAnIdentifier_data()
    {
        QTest::addColumn<QByteArray>("id");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<int>("offset");

        QTest::newRow("region") << QByteArray("Asia/Kolkata") << true << 19800;
        QTest::newRow("UTC") << QByteArray("UTC") << true << 0;
        // What a server that reports only an offset is known by.
        QTest::newRow("whole hours") << QTimeZone(3600).id() << true << 3600;
        QTest::newRow("seconds") << QTimeZone(12345).id() << true << 12345;
        QTest::newRow("negative") << QTimeZone(-16200).id() << true << -16200;
        QTest::newRow("listed offset") << QByteArray("UTC+05:45") << true << 20700;
        QTest::newRow("offset not spelled as Qt does") << QByteArray("UTC+1") << false << 0;
        QTest::newRow("offset beyond a day") << QByteArray("UTC+25:00") << false << 0;
        QTest::newRow("known to Qt, not listed") << QByteArray("America/Atka") << false << 0;
        QTest::newRow("empty") << QByteArray() << false << 0;
        QTest::newRow("a path") << QByteArray("../../etc/passwd") << false << 0;
    }

    void zoneOfAnIdentifier()
    {
        QFETCH(QByteArray, id);
        QFETCH(bool, valid);
        QFETCH(int, offset);
        const QTimeZone zone = timeZoneById(id);
        QCOMPARE(zone.isValid(), valid);
        if (valid) {
            QCOMPARE(zone.id(), id);
            QCOMPARE(zone.standardTimeOffset(QDateTime(QDate(2026, 1, 15), QTime(12, 0), Qt::UTC)), offset);
        }
    }
};

QTEST_GUILESS_MAIN(TestDateTimeHelpers)

#include "tst_date_time_helpers.moc"
