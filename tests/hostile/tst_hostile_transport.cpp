#include "hostile_run.h"
#include "private_network.h"

using namespace rtu;
using rtu::test::HostileRun;
using rtu::test::peers;

// Peers that attack the HTTP transport itself: bodies, headers and status
// lines without end, on success replies and on the 401 challenge.
class TestHostileTransport : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { TESSALY_REQUIRE_PRIVATE_NETWORK(); }

    void survives_data()
    {
        QTest::addColumn<QJsonArray>("hostile");
        QTest::addColumn<int>("maxRequests");

        QTest::newRow("endless body, chunked or not")
            << peers(R"([{"name": "Hostile", "knobs": {"replyMode": "endless"}},
                         {"name": "Hostile 2", "knobs": {"replyMode": "endlessChunked"}}])")
            << -1;
        QTest::newRow("thousands of header lines")
            << peers(R"([{"name": "Hostile", "knobs": {"replyMode": "manyHeaders", "challengeMode": "manyHeaders",
                                                     "headerLines": 100000}}])")
            << -1;
        QTest::newRow("one endless header line")
            << peers(R"([{"name": "Hostile",
                          "knobs": {"replyMode": "endlessHeaderLine", "challengeMode": "endlessHeaderLine"}}])")
            << -1;
        QTest::newRow("an endless status line")
            << peers(R"([{"name": "Hostile",
                          "knobs": {"replyMode": "endlessStatusLine", "challengeMode": "endlessStatusLine"}}])")
            << -1;
        QTest::newRow("401 forever with an endless chunked body")
            << peers(R"([{"name": "Hostile", "knobs": {"auth": "never", "challengeMode": "endlessChunked"}}])") << 4;
    }

    void survives()
    {
        QFETCH(QJsonArray, hostile);
        QFETCH(int, maxRequests);
        HostileRun().survive(hostile, true, maxRequests);
    }
};

QTEST_GUILESS_MAIN(TestHostileTransport)
#include "tst_hostile_transport.moc"
