#include "hostile_run.h"
#include "private_network.h"

using namespace rtu;
using rtu::test::HostileRun;
using rtu::test::peers;

class TestHostileHttp : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { TESSALY_REQUIRE_PRIVATE_NETWORK(); }

    // Peers that answer discovery like servers and then misbehave over HTTP
    // (HostileRun::survive says what must hold).
    void survives_data()
    {
        QTest::addColumn<QJsonArray>("hostile");
        QTest::addColumn<bool>("reached");
        QTest::addColumn<int>("maxRequests");

        QTest::newRow("silent after discovery")
            << peers(R"([{"name": "Hostile", "knobs": {"discoveryLimit": 1, "http": "silent"}}])") << false << -1;
        QTest::newRow("HTTP port closed") << peers(R"([{"name": "Hostile", "knobs": {"http": "closed"}}])") << false
                                          << -1;
        QTest::newRow("accepts and never answers")
            << peers(R"([{"name": "Hostile", "knobs": {"hang": true}}])") << true << -1;
        QTest::newRow("one byte per second")
            << peers(R"([{"name": "Hostile", "knobs": {"dripMs": 1000}}])") << true << -1;
        QTest::newRow("garbage, truncated and non-JSON bodies")
            << peers(R"([{"name": "Hostile", "knobs": {"replyMode": "garbage"}},
                         {"name": "Hostile 2", "knobs": {"replyMode": "truncated"}},
                         {"name": "Hostile 3", "knobs": {"replyMode": "nonJson"}}])")
            << true << -1;
        QTest::newRow("reset mid-reply") << peers(R"([{"name": "Hostile", "knobs": {"replyMode": "reset"}}])")
                                         << true << -1;
        // Each known password once, each with the first attempt that the
        // challenge answers; then the server stays refused until the
        // operator types its password.
        QTest::newRow("401 forever") << peers(R"([{"name": "Hostile", "knobs": {"auth": "never"}}])") << true << 4;
    }

    void survives()
    {
        QFETCH(QJsonArray, hostile);
        QFETCH(bool, reached);
        QFETCH(int, maxRequests);
        HostileRun().survive(hostile, reached, maxRequests);
    }

    // A server that moves to another port, then to another address, on its
    // own: the list follows it and it stays logged in.
    void followsAServerThatMoves()
    {
        HostileRun run;
        QVERIFY2(run.start(peers(R"([{"name": "Mover"}])")), qPrintable(run.sim.errorString()));
        const QString mover = QStringLiteral("Mover");
        QTRY_VERIFY_WITH_TIMEOUT(run.goodServersLoggedIn() && run.loggedIn(mover), HostileRun::kWaitMs);

        QVERIFY(!run.sim.update(mover, {{QStringLiteral("port"), 7011}}).isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(run.role(mover, ServersSelectionModel::PortRole).toInt(), 7011,
                                  HostileRun::kWaitMs);
        QVERIFY(!run.sim.update(mover, {{QStringLiteral("addresses"), QJsonArray{QStringLiteral("127.0.0.30")}}})
                     .isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(run.role(mover, ServersSelectionModel::NameRole).toString(),
                                  QStringLiteral("Mover (127.0.0.30)"), HostileRun::kWaitMs);
        run.sim.clearLog();
        run.changeGoodServers(QStringLiteral("Renamed"));
        if (QTest::currentTestFailed())
            return;
        // Selected on its new address, it is read there and nowhere else.
        run.model->changeItemSelectedState(run.rowOf(mover));
        QTRY_VERIFY_WITH_TIMEOUT(run.requestsTo(mover) > 0, HostileRun::kWaitMs);
        for (const QJsonValue &entry : run.sim.requestLog()) {
            if (entry[QStringLiteral("name")].toString() == mover)
                QCOMPARE(entry[QStringLiteral("local")].toString(), QStringLiteral("127.0.0.30:7011"));
        }
        QVERIFY(run.loggedIn(mover));
    }
};

QTEST_GUILESS_MAIN(TestHostileHttp)
#include "tst_hostile_http.moc"
