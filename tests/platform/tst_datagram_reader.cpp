#include "platform/datagram_reader.h"
#include "private_network.h"

#include <QtTest>

#include <QUdpSocket>

using namespace rtu;

class DatagramReaderTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { TESSALY_REQUIRE_PRIVATE_NETWORK(); }

    // Every datagram comes once, in order and with its sender, whatever the
    // batch and limit; oversized ones are dropped; and the socket goes on
    // signalling after each time it was read empty.
    void burstsAreReadWholeAndInOrder_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("limit");
        QTest::newRow("one") << 1 << 100;
        QTest::newRow("a batch and a half") << 48 << 100;
        QTest::newRow("a fleet") << 1000 << 8192;
        QTest::newRow("a small limit") << 100 << 7;
    }

    void burstsAreReadWholeAndInOrder()
    {
        QFETCH(int, count);
        QFETCH(int, limit);
        QUdpSocket receiver;
        QVERIFY(receiver.bind(QHostAddress(QHostAddress::LocalHost), 0));
        receiver.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 8 * 1024 * 1024);
        QUdpSocket sender;
        QVERIFY(sender.bind(QHostAddress(QStringLiteral("127.0.0.2")), 0));

        platform::DatagramReader reader(64);
        QByteArrayList received;
        int wrongSenders = 0;
        std::function<void()> readSome = [&] {
            reader.read(receiver, limit,
                        [&](const char *data, int size, const QHostAddress &from, quint16 port) {
                            received.append(QByteArray(data, size));
                            wrongSenders += from == QHostAddress(QStringLiteral("127.0.0.2"))
                                                    && port == sender.localPort() ? 0 : 1;
                        });
            // Stopped at the limit: the caller goes on, as the finder does.
            if (receiver.hasPendingDatagrams())
                QTimer::singleShot(0, &receiver, readSome);
        };
        connect(&receiver, &QUdpSocket::readyRead, this, readSome);

        QByteArrayList expected;
        for (int round = 0; round < 2; ++round) {
            for (int i = 0; i < count; ++i) {
                const QByteArray datagram = QByteArray::number(round) + '-' + QByteArray::number(i);
                expected.append(datagram);
                QCOMPARE(sender.writeDatagram(datagram, receiver.localAddress(), receiver.localPort()),
                         qint64(datagram.size()));
                if (i == count / 2)
                    sender.writeDatagram(QByteArray(65, 'x'), receiver.localAddress(), receiver.localPort());
            }
            QTRY_COMPARE_WITH_TIMEOUT(received.size(), expected.size(), 5000);
        }
        QCOMPARE(received, expected);
        QCOMPARE(wrongSenders, 0);
    }
};

QTEST_GUILESS_MAIN(DatagramReaderTest)
#include "tst_datagram_reader.moc"
