#include "hostile_run.h"
#include "private_network.h"

using namespace rtu;
using rtu::test::HostileRun;
using rtu::test::peers;

class TestHostileDiscovery : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { TESSALY_REQUIRE_PRIVATE_NETWORK(); }

    // Peers that misbehave in discovery (HostileRun::survive says what must
    // hold); listed tells whether the peer's answers must make it a server
    // of the list (1), must not (0), or either (-1).
    void survives_data()
    {
        QTest::addColumn<QJsonArray>("hostile");
        QTest::addColumn<int>("listed");

        QTest::newRow("flapping") << peers(R"([{"name": "Hostile", "knobs": {"flapMs": 1800}}])") << -1;
        QTest::newRow("200 datagrams per second from one host")
            << peers(R"([{"name": "Hostile", "knobs": {"floodPerSecond": 200}}])") << 1;
        // Real answers are about 250 bytes: one of 64 KB is not read at all.
        QTest::newRow("oversized answer")
            << peers(R"([{"name": "Hostile", "knobs": {"answerMode": "oversize", "answerBytes": 65000}}])") << 0;
        // A valid answer built of one key named over and over: the tool
        // refuses it before its JSON reader would keep every copy.
        QTest::newRow("64 KB of duplicated keys")
            << peers(R"([{"name": "Hostile", "knobs": {"answerMode": "duplicateKeys", "answerBytes": 65000}}])")
            << 0;
        QTest::newRow("malformed answers")
            << peers(R"([{"name": "Hostile", "knobs": {"answerMode": "truncated"}},
                         {"name": "Hostile 2", "knobs": {"answerMode": "garbage"}},
                         {"name": "Hostile 3", "knobs": {"answerMode": "nonJson"}}])")
            << 0;
    }

    void survives()
    {
        QFETCH(QJsonArray, hostile);
        QFETCH(int, listed);
        HostileRun run;
        run.survive(hostile, false, -1);
        if (QTest::currentTestFailed() || listed < 0)
            return;
        QCOMPARE(run.rowOf(QStringLiteral("Hostile")) >= 0, listed == 1);
        QCOMPARE(run.model->serversCount(), HostileRun::kGoodNames.size() + listed);
    }
};

QTEST_GUILESS_MAIN(TestHostileDiscovery)
#include "tst_hostile_discovery.moc"
