#include "discovery/servers_finder.h"
#include "platform/multicast_membership.h"
#include "private_network.h"

#include <QtTest>

#include <QElapsedTimer>
#include <QUdpSocket>

using namespace rtu;

// When the finder's requests go out: the window's first one a whole cycle
// after the start, a command's at once, the later ones at the cycle's times.
class TestFirstCycle : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { TESSALY_REQUIRE_PRIVATE_NETWORK(); }

    void requestTimes_data()
    {
        QTest::addColumn<int>("firstCycleDelayMs");
        QTest::addColumn<int>("firstMs");
        QTest::addColumn<int>("secondMs");
        // A cycle of 600 ms keeps the case short.
        QTest::newRow("one cycle in, as the window") << -1 << 600 << 1200;
        QTest::newRow("at once, then the cycle's times") << 0 << 0 << 600;
        QTest::newRow("no later than one cycle") << 5000 << 600 << 1200;
    }

    void requestTimes()
    {
        QFETCH(int, firstCycleDelayMs);
        QFETCH(int, firstMs);
        QFETCH(int, secondMs);

        ServersFinderParameters parameters;
        parameters.multicastGroup = QStringLiteral("239.255.11.31");
        parameters.cycleIntervalMs = 600;
        parameters.firstCycleDelayMs = firstCycleDelayMs;
        QUdpSocket receiver;
        QVERIFY(receiver.bind(QHostAddress::AnyIPv4, 0, QUdpSocket::ShareAddress));
        parameters.port = receiver.localPort();
        QVERIFY(platform::joinMulticastGroup(receiver.socketDescriptor(), parameters.multicastGroup,
                                             QStringLiteral("127.0.0.1")));

        QVector<qint64> arrivals;
        QElapsedTimer clock;
        connect(&receiver, &QUdpSocket::readyRead, this, [&] {
            while (receiver.hasPendingDatagrams()) {
                QByteArray datagram(int(receiver.pendingDatagramSize()), '\0');
                receiver.readDatagram(datagram.data(), datagram.size());
                if (datagram == parameters.request)
                    arrivals.append(clock.elapsed());
            }
        });
        clock.start();
        const ServersFinder::Holder finder = ServersFinder::create(parameters);

        QTRY_VERIFY_WITH_TIMEOUT(arrivals.size() >= 2, 3000);
        // A timer may be late, never early; a busy machine gets some room.
        const auto near = [](qint64 actual, int expected) { return actual >= expected - 50 && actual <= expected + 400; };
        QVERIFY2(near(arrivals.at(0), firstMs), qPrintable(QStringLiteral("first request after %1 ms").arg(arrivals.at(0))));
        QVERIFY2(near(arrivals.at(1), secondMs),
                 qPrintable(QStringLiteral("second request after %1 ms").arg(arrivals.at(1))));
    }
};

QTEST_GUILESS_MAIN(TestFirstCycle)
#include "tst_first_cycle.moc"
