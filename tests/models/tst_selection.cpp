#include "core/date_time_helpers.h"
#include "models/selection.h"
#include "models/servers_selection_model.h"
#include "selected_servers.h"

#include <QtTest>

#include <ctime>
#include <limits>

using namespace rtu;

// The workstation's zone comes from TZ, set in main() before Qt reads it; it
// must not be UTC so that a zone-less server is seen to read as UTC.
static const char kWorkstationZone[] = "Asia/Tokyo";

namespace {

// 2026-01-15 12:00:00 UTC: winter, Berlin is UTC+1.
const qint64 kServerClockMs = QDateTime(QDate(2026, 1, 15), QTime(12, 0), Qt::UTC).toMSecsSinceEpoch();

TestServer serverAt(qint64 clockOffsetMs, const QByteArray &zone)
{
    TestServer server;
    server.utcDateTimeMs = kServerClockMs + clockOffsetMs;
    server.timestampMs = monotonicNowMs();
    server.timeZoneId = zone;
    return server;
}

// The clocks advance while the test runs, so only to the second.
void compareWallClock(const QDateTime &actual, const QDateTime &expected)
{
    QVERIFY(actual.isValid());
    QCOMPARE(actual.timeSpec(), Qt::LocalTime);
    QCOMPARE(actual.date(), expected.date());
    QVERIFY2(qAbs(actual.time().msecsTo(expected.time())) < 2000, qPrintable(actual.toString(Qt::ISODate)));
}

} // namespace

class TestSelection : public QObject
{
    Q_OBJECT

private slots:
    void nothingSelected()
    {
        ServersSelectionModel model(nullptr);
        TestServer unselected;
        addSelectedServer(model, unselected);
        model.setAllItemSelected(false);
        QCOMPARE(model.selectedCount(), 0);

        Selection selection(&model, nullptr);
        QCOMPARE(selection.count(), 0);
        QCOMPARE(selection.port(), 0);
        QCOMPARE(selection.flags(), 0xFFFF);
        QCOMPARE(selection.dhcpState(), int(Qt::Unchecked));
        QCOMPARE(selection.systemName(), QString());
        QCOMPARE(selection.password(), QString());
        QVERIFY(!selection.dateTime().isValid());
        QVERIFY(!selection.editableInterfaces());
    }

    void commonSettings_data()
    {
        QTest::addColumn<int>("secondPort");
        QTest::addColumn<QString>("secondName");
        QTest::addColumn<QString>("secondPassword");
        QTest::addColumn<int>("secondFlags");
        QTest::addColumn<int>("port");
        QTest::addColumn<QString>("systemName");
        QTest::addColumn<QString>("password");
        QTest::addColumn<int>("flags");

        QTest::newRow("all shared") << 7001 << "north" << "secret" << 0x3 << 7001 << "north" << "secret" << 0x3;
        QTest::newRow("ports differ") << 7002 << "north" << "secret" << 0x3 << 0 << "north" << "secret" << 0x3;
        QTest::newRow("names differ") << 7001 << "south" << "secret" << 0x3 << 7001 << "" << "secret" << 0x3;
        QTest::newRow("passwords differ") << 7001 << "north" << "other" << 0x3 << 7001 << "north" << "" << 0x3;
        QTest::newRow("flags meet") << 7001 << "north" << "secret" << 0x5 << 7001 << "north" << "secret" << 0x1;
    }

    void commonSettings()
    {
        QFETCH(int, secondPort);
        QFETCH(QString, secondName);
        QFETCH(QString, secondPassword);
        QFETCH(int, secondFlags);

        ServersSelectionModel model(nullptr);
        TestServer first;
        first.systemName = QStringLiteral("north");
        first.password = QStringLiteral("secret");
        addSelectedServer(model, first);
        TestServer second;
        second.host = QStringLiteral("127.0.0.3");
        second.port = secondPort;
        second.systemName = secondName;
        second.password = secondPassword;
        second.flags = secondFlags;
        addSelectedServer(model, second);
        QCOMPARE(model.selectedCount(), 2);

        Selection selection(&model, nullptr);
        QCOMPARE(selection.count(), 2);
        QTEST(selection.port(), "port");
        QTEST(selection.systemName(), "systemName");
        QTEST(selection.password(), "password");
        QTEST(selection.flags(), "flags");
        QCOMPARE(selection.property("port").toInt(), selection.port());
    }

    void oneServerClock()
    {
        ServersSelectionModel model(nullptr);
        addSelectedServer(model, serverAt(0, "Europe/Berlin"));
        Selection selection(&model, nullptr);
        compareWallClock(selection.dateTime(), QDateTime(QDate(2026, 1, 15), QTime(13, 0)));
        QCOMPARE(selection.property("dateTime").toDateTime(), selection.dateTime());
    }

    // A page rebuilt from the same summary later ("Cancel") shows the clock as it is then.
    void clockRunsOnAfterTheSummaryIsBuilt()
    {
        ServersSelectionModel model(nullptr);
        addSelectedServer(model, serverAt(0, "Europe/Berlin"));
        Selection selection(&model, nullptr);
        const QDateTime first = selection.dateTime();
        QTest::qWait(1200);
        const qint64 ran = first.msecsTo(selection.dateTime());
        QVERIFY2(ran >= 1100 && ran < 3000, qPrintable(QString::number(ran)));
        QVERIFY(qAbs(selection.currentClockMs() - (kServerClockMs + ran)) < 1000);

        // In another zone of the list; a zone the list does not know gives the servers' own.
        compareWallClock(selection.dateTimeIn("Asia/Tokyo"), QDateTime(QDate(2026, 1, 15), QTime(21, 0, 1)));
        compareWallClock(selection.dateTimeIn("Mars/Olympus_Mons"), QDateTime(QDate(2026, 1, 15), QTime(13, 0, 1)));
    }

    // Readings no date holds give no common clock, and no sum on them overflows.
    void absurdClocksGiveNoDateTime_data()
    {
        QTest::addColumn<QList<qint64>>("clocks");
        QTest::newRow("largest") << QList<qint64>{std::numeric_limits<qint64>::max()};
        QTest::newRow("far apart") << QList<qint64>{Q_INT64_C(5000000000000000000), Q_INT64_C(-5000000000000000000)};
    }

    void absurdClocksGiveNoDateTime()
    {
        QFETCH(QList<qint64>, clocks);
        ServersSelectionModel model(nullptr);
        for (int i = 0; i < clocks.size(); ++i) {
            TestServer server = serverAt(0, "Europe/Berlin");
            server.utcDateTimeMs = clocks.at(i);
            server.host = QStringLiteral("127.0.0.%1").arg(2 + i);
            addSelectedServer(model, server);
        }
        Selection selection(&model, nullptr);
        QVERIFY(!selection.dateTime().isValid());
        QCOMPARE(selection.currentClockMs(), Q_INT64_C(0));
    }

    void oneServerWithoutZoneReadsUtc_data()
    {
        QTest::addColumn<QByteArray>("zone");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("unknown") << QByteArray("Mars/Olympus_Mons");
    }

    void oneServerWithoutZoneReadsUtc()
    {
        QFETCH(QByteArray, zone);
        ServersSelectionModel model(nullptr);
        addSelectedServer(model, serverAt(0, zone));
        Selection selection(&model, nullptr);
        compareWallClock(selection.dateTime(), QDateTime(QDate(2026, 1, 15), QTime(12, 0)));
    }

    void severalServersClocks_data()
    {
        QTest::addColumn<qint64>("secondOffsetMs");
        QTest::addColumn<QByteArray>("secondZone");
        QTest::addColumn<bool>("shared");

        QTest::newRow("29 s ahead") << qint64(29000) << QByteArray("Europe/Berlin") << true;
        QTest::newRow("29 s behind") << qint64(-29000) << QByteArray("Europe/Berlin") << true;
        QTest::newRow("31 s ahead") << qint64(31000) << QByteArray("Europe/Berlin") << false;
        QTest::newRow("31 s behind") << qint64(-31000) << QByteArray("Europe/Berlin") << false;
        QTest::newRow("same clock, other zone") << qint64(0) << QByteArray("Europe/Paris") << false;
        QTest::newRow("same clock, no zone") << qint64(0) << QByteArray() << false;
    }

    void severalServersClocks()
    {
        QFETCH(qint64, secondOffsetMs);
        QFETCH(QByteArray, secondZone);
        QFETCH(bool, shared);

        ServersSelectionModel model(nullptr);
        addSelectedServer(model, serverAt(0, "Europe/Berlin"));
        TestServer second = serverAt(secondOffsetMs, secondZone);
        second.host = QStringLiteral("127.0.0.3");
        addSelectedServer(model, second);
        QCOMPARE(model.selectedCount(), 2);

        Selection selection(&model, nullptr);
        if (shared)
            compareWallClock(selection.dateTime(), QDateTime(QDate(2026, 1, 15), QTime(13, 0)));
        else
            QVERIFY(!selection.dateTime().isValid());
    }

    void dhcpState_data()
    {
        QTest::addColumn<QList<QList<int>>>("servers");
        QTest::addColumn<int>("state");

        QTest::newRow("one server, mixed") << QList<QList<int>>{{2, 0}} << int(Qt::PartiallyChecked);
        QTest::newRow("one server, all on") << QList<QList<int>>{{2, 2}} << int(Qt::Checked);
        QTest::newRow("one server, all off") << QList<QList<int>>{{0, 0, 0}} << int(Qt::Unchecked);
        QTest::newRow("one server, no interfaces") << QList<QList<int>>{{}} << int(Qt::Unchecked);
        QTest::newRow("two servers on") << QList<QList<int>>{{2}, {2, 2}} << int(Qt::Checked);
        QTest::newRow("two servers off") << QList<QList<int>>{{0}, {0}} << int(Qt::Unchecked);
        QTest::newRow("on and off") << QList<QList<int>>{{2}, {0}} << int(Qt::PartiallyChecked);
        QTest::newRow("on and mixed") << QList<QList<int>>{{2}, {2, 0}} << int(Qt::PartiallyChecked);
        QTest::newRow("two mixed") << QList<QList<int>>{{0, 2}, {2, 0}} << int(Qt::PartiallyChecked);
    }

    void dhcpState()
    {
        QFETCH(QList<QList<int>>, servers);

        ServersSelectionModel model(nullptr);
        addSelectedServers(model, servers);
        QCOMPARE(model.selectedCount(), servers.size());

        Selection selection(&model, nullptr);
        QTEST(selection.dhcpState(), "state");
    }

    void editableInterfaces_data()
    {
        QTest::addColumn<QList<int>>("interfaceCounts");
        QTest::addColumn<bool>("editable");

        QTest::newRow("one server, two interfaces") << QList<int>{2} << true;
        QTest::newRow("one server, no interfaces") << QList<int>{0} << true;
        QTest::newRow("two single-interface servers") << QList<int>{1, 1} << true;
        QTest::newRow("one and two interfaces") << QList<int>{1, 2} << false;
        QTest::newRow("two and two interfaces") << QList<int>{2, 2} << false;
        QTest::newRow("one and none") << QList<int>{1, 0} << false;
    }

    void editableInterfaces()
    {
        QFETCH(QList<int>, interfaceCounts);

        ServersSelectionModel model(nullptr);
        QList<QList<int>> servers;
        for (const int count : qAsConst(interfaceCounts))
            servers << QVector<int>(count, Qt::Checked).toList();
        addSelectedServers(model, servers);
        QCOMPARE(model.selectedCount(), interfaceCounts.size());

        Selection selection(&model, nullptr);
        QTEST(selection.editableInterfaces(), "editable");
    }
};

int main(int argc, char *argv[])
{
    qputenv("TZ", kWorkstationZone);
    tzset();
    QCoreApplication app(argc, argv);
    TestSelection test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_selection.moc"
