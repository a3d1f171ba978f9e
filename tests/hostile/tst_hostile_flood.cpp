#include "hostile_run.h"
#include "private_network.h"

using namespace rtu;
using rtu::test::HostileRun;
using rtu::test::peers;

// One host that answers discovery as ten thousand servers.
class TestHostileFlood : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { TESSALY_REQUIRE_PRIVATE_NETWORK(); }

    // The tool's own expiry times: the cost of the flood, not the test's
    // short cycles, decides whether the good servers stay.
    void tenThousandIdsFromOneHost()
    {
        HostileRun run;
        run.discovery.serverTimeoutMs = ServersFinderParameters().serverTimeoutMs;
        run.discovery.answeringAddressTimeoutMs = ServersFinderParameters().answeringAddressTimeoutMs;
        run.survive(peers(R"([{"name": "Hostile", "knobs": {"floodIds": 10000, "http": "closed"}}])"), false, -1);
        // The flood brings no more rows than one host may.
        const int listed = run.model->serversCount();
        QVERIFY2(listed <= HostileRun::kGoodNames.size() + ServersFinderParameters().maxServersPerAddress,
                 qPrintable(QString::number(listed)));
    }
};

QTEST_GUILESS_MAIN(TestHostileFlood)
#include "tst_hostile_flood.moc"
