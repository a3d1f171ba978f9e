#include "core/constants.h"
#include "app/rtu_context.h"

#include <QtTest>

#include <ctime>

using namespace rtu;

// The workstation's zone comes from TZ, set in main() before Qt reads it.
static const char kWorkstationZone[] = "Asia/Tokyo";

class TestRtuContext : public QObject
{
    Q_OBJECT

private slots:
    void identity()
    {
        RtuContext context(nullptr);
        QCOMPARE(context.toolDisplayName(), QStringLiteral("Orvane Tessaly Server Configuration Tool"));
        QCOMPARE(context.toolVersion(), QStringLiteral("2.3.2.9296"));
        QVERIFY(QRegularExpression(QStringLiteral("^[0-9a-f]{12}$")).match(context.toolRevision()).hasMatch());
        QVERIFY(!context.isBeta());
        QVERIFY(context.toolSupportMail().contains(QLatin1Char('@')));
        QVERIFY(context.toolCompanyUrl().startsWith(QLatin1String("http")));
        QCOMPARE(context.property("toolDisplayName").toString(), context.toolDisplayName());
    }

    void currentPageNotifiesOnlyOnChange()
    {
        RtuContext context(nullptr);
        QSignalSpy spy(&context, &RtuContext::currentPageChanged);
        QCOMPARE(context.currentPage(), int(Constants::SettingsPage));
        context.setCurrentPage(Constants::SettingsPage);
        QCOMPARE(spy.count(), 0);
        context.setProperty("currentPage", int(Constants::ProgressPage));
        QCOMPARE(spy.count(), 1);
        QCOMPARE(context.currentPage(), int(Constants::ProgressPage));
        context.setCurrentPage(Constants::ProgressPage);
        QCOMPARE(spy.count(), 1);
        context.setCurrentPage(42); // not range-checked
        QCOMPARE(context.currentPage(), 42);
        QCOMPARE(spy.count(), 2);
    }

    void applyTimeZone_data()
    {
        QTest::addColumn<QDate>("date");
        QTest::addColumn<QTime>("time");
        QTest::addColumn<QByteArray>("from");
        QTest::addColumn<QByteArray>("to");
        QTest::addColumn<QDate>("expectedDate");
        QTest::addColumn<QTime>("expectedTime");

        const QDate winter(2026, 1, 15);
        QTest::newRow("UTC+3 to UTC-5 in winter")
            << winter << QTime(12, 0) << QByteArray("Europe/Moscow") << QByteArray("America/New_York") << winter
            << QTime(4, 0);
        QTest::newRow("fixed offsets") << winter << QTime(12, 0) << QByteArray("UTC+03:00")
                                       << QByteArray("UTC-05:00") << winter << QTime(4, 0);
        QTest::newRow("workstation zone when the previous one is empty")
            << winter << QTime(12, 0) << QByteArray() << QByteArray("UTC") << winter << QTime(3, 0);
        QTest::newRow("summer time on both sides")
            << QDate(2026, 7, 1) << QTime(12, 0) << QByteArray("Europe/London") << QByteArray("America/New_York")
            << QDate(2026, 7, 1) << QTime(7, 0);
        QTest::newRow("crossing midnight") << winter << QTime(1, 30, 15) << QByteArray("Asia/Tokyo")
                                           << QByteArray("Europe/Berlin") << winter.addDays(-1)
                                           << QTime(17, 30, 15);
        QTest::newRow("unknown new zone leaves the input")
            << winter << QTime(12, 0) << QByteArray("Europe/Moscow") << QByteArray("Mars/Olympus") << winter
            << QTime(12, 0);
        QTest::newRow("unknown previous zone leaves the input")
            << winter << QTime(12, 0) << QByteArray("Nowhere/City") << QByteArray("UTC") << winter << QTime(12, 0);
        QTest::newRow("invalid date leaves the input")
            << QDate() << QTime(12, 0) << QByteArray("UTC") << QByteArray("Europe/Moscow") << QDate() << QTime(12, 0);
    }

    void applyTimeZone()
    {
        QFETCH(QDate, date);
        QFETCH(QTime, time);
        QFETCH(QByteArray, from);
        QFETCH(QByteArray, to);
        QFETCH(QDate, expectedDate);
        QFETCH(QTime, expectedTime);

        RtuContext context(nullptr);
        const QDateTime result = context.applyTimeZone(date, time, from, to);
        QCOMPARE(result.date(), expectedDate);
        QCOMPARE(result.time(), expectedTime);
        QCOMPARE(result.timeSpec(), Qt::LocalTime);
    }

    void applyTimeZoneWithoutTargetIsInvalid()
    {
        RtuContext context(nullptr);
        QVERIFY(!context.applyTimeZone(QDate(2026, 1, 1), QTime(1, 0), "UTC", QByteArray()).isValid());
        const QDateTime nullTime = context.applyTimeZone(QDate(2026, 1, 1), QTime(), "UTC", "Europe/Moscow");
        QCOMPARE(nullTime.date(), QDate(2026, 1, 1));
        QVERIFY(nullTime.time() == QTime() || nullTime.time() == QTime(0, 0));
    }

    void invokableFromQml()
    {
        RtuContext context(nullptr);
        QDateTime result;
        QVERIFY(QMetaObject::invokeMethod(&context, "applyTimeZone", Q_RETURN_ARG(QDateTime, result),
                                          Q_ARG(QDate, QDate(2026, 1, 15)), Q_ARG(QTime, QTime(12, 0)),
                                          Q_ARG(QByteArray, "Europe/Moscow"), Q_ARG(QByteArray, "UTC")));
        QCOMPARE(result.time(), QTime(9, 0));
    }
};

int main(int argc, char *argv[])
{
    qputenv("TZ", kWorkstationZone);
    tzset();
    QCoreApplication app(argc, argv);
    TestRtuContext test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_rtu_context.moc"
