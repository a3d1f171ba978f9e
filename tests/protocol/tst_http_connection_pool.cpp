#include "protocol/http_connection_pool.h"

#include "platform/tcp_stream.h"
#include "protocol/http_connection.h"

#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

using namespace rtu;
using Room = HttpConnectionPool::Room;

Q_DECLARE_METATYPE(HttpConnectionPool::Room)

namespace {

// The pool tells servers apart by their key alone: every key here leads to
// the same listener.
struct Fixture : HttpConnectionPool::Listener
{
    explicit Fixture(const HttpClient::Limits &limits) : pool(limits, HttpResponseParser::Limits(), this)
    {
        listener.listen(QHostAddress::LocalHost);
    }

    void connectionReadable(HttpConnection *) override {}
    void connectionFailed(HttpConnection *, QAbstractSocket::SocketError) override {}
    void connectionsFreed(const QString &server) override { freed.append(server); }

    HttpConnection *open(const QString &server)
    {
        return pool.open(server, QStringLiteral("127.0.0.1"), listener.serverPort());
    }

    void preconnect(const QString &server)
    {
        pool.preconnect(server, QStringLiteral("127.0.0.1"), listener.serverPort());
    }

    QTcpServer listener;
    QStringList freed;
    HttpConnectionPool pool;
};

} // namespace

class TestHttpConnectionPool : public QObject
{
    Q_OBJECT

private slots:
    // At the overall limit the idle connection due to close first makes room:
    // of two that served, the one idle longer; one opened ahead of its
    // request only after them, though it was idle first.
    void limitsAndEvictionOrder()
    {
        HttpClient::Limits limits;
        limits.connectionsPerServer = 2;
        limits.openConnections = 3;
        limits.idleCloseMs = 5000;
        limits.openedAheadHoldMs = 20000;
        Fixture f(limits);
        const QString a = QStringLiteral("a");
        f.preconnect(QStringLiteral("ahead"));
        f.preconnect(QStringLiteral("ahead"));
        QCOMPARE(f.pool.connectionsTo(QStringLiteral("ahead")), 1);
        HttpConnection *a1 = f.open(a);
        HttpConnection *a2 = f.open(a);
        QCOMPARE(f.pool.room(a), Room::ServerFull);
        QCOMPARE(f.pool.openCount(), 3);
        f.pool.release(a1);
        f.pool.release(a2);

        QCOMPARE(f.pool.makeRoom(QStringLiteral("b")), Room::Available);
        QVERIFY(a1->closed && !a2->closed);
        f.open(QStringLiteral("b"));
        QCOMPARE(f.pool.makeRoom(QStringLiteral("c")), Room::Available);
        QVERIFY(a2->closed);
        QCOMPARE(f.pool.connectionsTo(QStringLiteral("ahead")), 1);
        f.open(QStringLiteral("c"));
        QCOMPARE(f.pool.makeRoom(QStringLiteral("d")), Room::Available);
        QCOMPARE(f.pool.connectionsTo(QStringLiteral("ahead")), 0);
        f.open(QStringLiteral("d"));
        QCOMPARE(f.pool.openCount(), 3);
        QCOMPARE(f.pool.makeRoom(QStringLiteral("e")), Room::TotalFull);
        f.preconnect(QStringLiteral("e"));
        QCOMPARE(f.pool.openCount(), 3);
        QCOMPARE(f.pool.connectionsTo(QStringLiteral("e")), 0);
    }

    // Idle connections close after their hold, one opened ahead after its
    // longer one, and the owner hears that their servers have room.
    void idleConnectionsCloseAfterTheirHold()
    {
        HttpClient::Limits limits;
        limits.idleCloseMs = 100;
        limits.openedAheadHoldMs = 600;
        Fixture f(limits);
        QElapsedTimer clock;
        clock.start();
        f.preconnect(QStringLiteral("ahead"));
        f.pool.release(f.open(QStringLiteral("b")));
        QTRY_COMPARE(f.pool.connectionsTo(QStringLiteral("b")), 0);
        QVERIFY(clock.elapsed() >= 100);
        QCOMPARE(f.pool.connectionsTo(QStringLiteral("ahead")), 1);
        QTRY_COMPARE_WITH_TIMEOUT(f.pool.connectionsTo(QStringLiteral("ahead")), 0, 3000);
        QVERIFY(clock.elapsed() >= 600);
        QCOMPARE(f.freed, QStringList({"b", "ahead"}));
        QCOMPARE(f.pool.openCount(), 0);
    }

    // An idle connection with anything pending (bytes nobody asked for, or
    // the server's close) is closed, never handed out again.
    void pendingInputIsNeverReused_data()
    {
        QTest::addColumn<QStringList>("peer"); // per idle connection: "", "bytes" or "close"
        QTest::addColumn<int>("reused");       // -1: none
        QTest::newRow("clean") << QStringList{""} << 0;
        QTest::newRow("stray bytes") << QStringList{"bytes"} << -1;
        QTest::newRow("closed by the server") << QStringList{"close"} << -1;
        QTest::newRow("the first of two spoilt") << QStringList{"bytes", ""} << 1;
        QTest::newRow("both spoilt") << QStringList{"close", "bytes"} << -1;
    }

    void pendingInputIsNeverReused()
    {
        QFETCH(QStringList, peer);
        QFETCH(int, reused);
        HttpClient::Limits limits;
        limits.idleCloseMs = 10000;
        Fixture f(limits);
        const QString server = QStringLiteral("s");
        QList<HttpConnection *> connections;
        for (const QString &action : peer) {
            connections.append(f.open(server));
            QVERIFY(f.listener.waitForNewConnection(5000));
            QTcpSocket *accepted = f.listener.nextPendingConnection();
            if (action == QLatin1String("bytes"))
                accepted->write("HTTP/1.1 200 OK\r\n");
            else if (action == QLatin1String("close"))
                accepted->disconnectFromHost();
        }
        for (int i = 0; i < peer.size(); ++i) {
            f.pool.release(connections.at(i));
            if (!peer.at(i).isEmpty())
                QTRY_VERIFY(connections.at(i)->socket->hasPendingInput());
        }
        QCOMPARE(f.pool.takeIdle(server), reused < 0 ? nullptr : connections.at(reused));
        QCOMPARE(f.pool.connectionsTo(server), reused < 0 ? 0 : 1);
        QCOMPARE(f.pool.takeIdle(server), nullptr);
    }
};

QTEST_GUILESS_MAIN(TestHttpConnectionPool)
#include "tst_http_connection_pool.moc"
