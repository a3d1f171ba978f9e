#include "peer_sim.h"

#include <QHostAddress>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTcpSocket>
#include <QUdpSocket>
#include <QtTest>

using rtu::test::PeerSim;

class TestPeerSim : public QObject
{
    Q_OBJECT

private slots:
    void reportsAndChangesServerState();
    void logsRequestsAndAnswersDiscovery();
    void servesQtClientWithUrlCredentials_data();
    void servesQtClientWithUrlCredentials();
    void refusesMalformedFleet();
    void stopEndsTheSimulator();
};

namespace {

const QByteArray twoServers = R"({"servers": [
    {"name": "Alpha", "systemName": "North", "password": "secret", "addresses": ["127.0.0.21"], "port": 7101},
    {"name": "Beta", "systemName": "North", "timeZoneOffset": 10800, "addresses": ["127.0.0.22"]}
]})";

} // namespace

void TestPeerSim::reportsAndChangesServerState()
{
    PeerSim sim;
    QVERIFY2(sim.start(twoServers), qPrintable(sim.errorString()));
    QVERIFY(sim.isRunning());

    const QJsonArray servers = sim.servers();
    QCOMPARE(servers.size(), 2);
    const QJsonObject alpha = sim.server(QStringLiteral("Alpha"));
    QCOMPARE(alpha.value("password").toString(), QStringLiteral("secret"));
    QCOMPARE(alpha.value("port").toInt(), 7101);
    QCOMPARE(alpha.value("addresses").toArray().first().toString(), QStringLiteral("127.0.0.21"));
    QCOMPARE(sim.server(QStringLiteral("1")).value("timeZoneOffset").toInt(), 10800);

    const QJsonObject changed = sim.setKnobs(alpha.value("id").toString(), {{"delayMs", 250}});
    QCOMPARE(changed.value("knobs").toObject().value("delayMs").toInt(), 250);
    QCOMPARE(sim.server(QStringLiteral("Alpha")).value("knobs").toObject().value("delayMs").toInt(), 250);

    QVERIFY(sim.setKnobs(QStringLiteral("Alpha"), {{"noSuchKnob", true}}).isEmpty());
    QVERIFY2(sim.errorString().contains("noSuchKnob"), qPrintable(sim.errorString()));
}

void TestPeerSim::logsRequestsAndAnswersDiscovery()
{
    PeerSim sim;
    QVERIFY2(sim.start(twoServers), qPrintable(sim.errorString()));

    QTcpSocket http;
    http.connectToHost(QHostAddress(QStringLiteral("127.0.0.21")), 7101);
    QVERIFY(http.waitForConnected(5000));
    http.write("GET /api/gettime?local HTTP/1.1\r\nHost: 127.0.0.21\r\n\r\n");
    QByteArray answer;
    while (!answer.contains("\r\n\r\n") && http.waitForReadyRead(5000))
        answer += http.readAll();
    QVERIFY2(answer.startsWith("HTTP/1.1 401 Unauthorized\r\n"), answer.constData());
    QVERIFY(answer.contains("WWW-Authenticate: Basic"));

    const QJsonArray log = sim.requestLog();
    QCOMPARE(log.size(), 1);
    const QJsonObject entry = log.first().toObject();
    QCOMPARE(entry.value("path").toString(), QStringLiteral("/api/gettime"));
    QVERIFY(entry.value("auth").isNull());
    QCOMPARE(entry.value("status").toInt(), 401);
    QCOMPARE(entry.value("query").toArray().first().toArray().first().toString(), QStringLiteral("local"));

    QUdpSocket asker;
    QVERIFY(asker.bind(QHostAddress(QStringLiteral("127.0.0.1")), 0));
    QCOMPARE(asker.writeDatagram(PeerSim::requestDatagram(), QHostAddress(QStringLiteral("239.255.11.11")), 5007),
             qint64(49));
    QSet<QString> senders;
    while (senders.size() < 2 && asker.waitForReadyRead(5000)) {
        while (asker.hasPendingDatagrams()) {
            QHostAddress sender;
            QByteArray datagram(int(asker.pendingDatagramSize()), 0);
            asker.readDatagram(datagram.data(), datagram.size(), &sender);
            const QJsonObject description = QJsonDocument::fromJson(datagram).object();
            QCOMPARE(description.value("systemName").toString(), QStringLiteral("North"));
            senders.insert(sender.toString());
        }
    }
    QCOMPARE(senders, (QSet<QString>{QStringLiteral("127.0.0.21"), QStringLiteral("127.0.0.22")}));
    sim.clearLog();
    QVERIFY(sim.requestLog(QString()).isEmpty());
}

void TestPeerSim::servesQtClientWithUrlCredentials_data()
{
    QTest::addColumn<QString>("scheme");
    QTest::addColumn<QString>("password");
    QTest::addColumn<int>("status");
    QTest::newRow("basic") << "basic" << "secret" << 200;
    QTest::newRow("basic, wrong password") << "basic" << "738" << 401;
    QTest::newRow("digest") << "digest" << "secret" << 200;
    QTest::newRow("digest, wrong password") << "digest" << "738" << 401;
}

// The tool's transport: credentials in the URL, answered to the challenge.
void TestPeerSim::servesQtClientWithUrlCredentials()
{
    QFETCH(QString, scheme);
    QFETCH(QString, password);
    QFETCH(int, status);
    PeerSim sim;
    QVERIFY2(sim.start(twoServers), qPrintable(sim.errorString()));
    QVERIFY(!sim.setKnobs(QStringLiteral("Alpha"), {{"auth", scheme}}).isEmpty());

    QNetworkAccessManager manager;
    QUrl url;
    url.setScheme(QStringLiteral("http"));
    url.setHost(QStringLiteral("127.0.0.21"));
    url.setPort(7101);
    url.setUserName(QStringLiteral("admin"));
    url.setPassword(password);
    url.setPath(QStringLiteral("/api/ifconfig"));
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    const QByteArray body = R"([{"name": "eth0", "dns_servers": "127.0.0.53"}])";
    QScopedPointer<QNetworkReply> reply(manager.post(request, body));
    QSignalSpy finished(reply.data(), &QNetworkReply::finished);
    QVERIFY(finished.wait(10000));

    QCOMPARE(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), status);
    const QJsonArray log = sim.requestLog();
    QVERIFY(!log.isEmpty());
    QVERIFY(log.first().toObject().value("auth").isNull());
    if (status == 401) {
        QCOMPARE(reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString(),
                 QStringLiteral("Unauthorized"));
        return;
    }
    QCOMPARE(QJsonDocument::fromJson(reply->readAll()).object().value("error").toString(), QStringLiteral("0"));
    const QJsonObject last = log.last().toObject();
    QCOMPARE(last.value("authorized").toBool(), true);
    QCOMPARE(QJsonDocument::fromJson(last.value("body").toString().toUtf8()).array().size(), 1);
    QTRY_COMPARE(sim.server(QStringLiteral("Alpha")).value("interfaces").toArray().first()
                     .toObject().value("dns_servers").toString(),
                 QStringLiteral("127.0.0.53"));
}

void TestPeerSim::refusesMalformedFleet()
{
    PeerSim sim;
    QVERIFY(!sim.start(R"({"servers": [{"name": "A"}, {"port": "7001"}]})"));
    QVERIFY(!sim.isRunning());
    QVERIFY2(sim.errorString().contains("servers[1].port"), qPrintable(sim.errorString()));
}

void TestPeerSim::stopEndsTheSimulator()
{
    PeerSim sim;
    const QJsonObject fleet{{"servers", QJsonArray{QJsonObject{{"name", "Solo"}}}}};
    QVERIFY2(sim.start(fleet, {QStringLiteral("--generate"), QStringLiteral("2")}),
             qPrintable(sim.errorString()));
    QCOMPARE(sim.servers().size(), 3);
    const quint16 port = sim.controlPort();
    sim.stop();
    QVERIFY(!sim.isRunning());
    QTcpSocket socket;
    socket.connectToHost(QHostAddress(QStringLiteral("127.0.0.1")), port);
    QVERIFY(!socket.waitForConnected(1000));
}

QTEST_GUILESS_MAIN(TestPeerSim)
#include "tst_peer_sim.moc"
