#include "protocol/http_authenticator.h"
#include "protocol/http_client.h"
#include "protocol/server_requests.h"

#include "peer_sim.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QtTest>

#include <memory>

using namespace rtu;
using rtu::test::PeerSim;

namespace {

const QByteArray kFleet = R"({"servers": [{"name": "Alpha", "addresses": ["127.0.0.41"], "password": "738"}]})";

BaseServerInfo alpha(PeerSim &sim)
{
    const QJsonObject state = sim.server(QStringLiteral("Alpha"));
    BaseServerInfo base;
    base.id = QUuid::fromString(state.value(QStringLiteral("id")).toString());
    base.flags = flagsFromText(state.value(QStringLiteral("flags")).toString());
    base.hostAddress = QStringLiteral("127.0.0.41");
    base.port = state.value(QStringLiteral("port")).toInt();
    return base;
}

struct Login
{
    bool done = false;
    int code = 0; // 0 logged in, else the failure code
    QString reason;
    ExtraServerInfo extra;
};
using LoginPtr = std::shared_ptr<Login>;

LoginPtr login(HttpClient &client, const BaseServerInfo &base, const QString &password)
{
    auto result = std::make_shared<Login>();
    requestExtraServerInfo(
        &client, base, password,
        [result](const QUuid &, const ExtraServerInfo &extra) {
            result->done = true;
            result->extra = extra;
        },
        [result](int code, const QString &reason, AffectedEntities) {
            result->done = true;
            result->code = code;
            result->reason = reason;
        },
        0);
    return result;
}

// "scheme:password -> status" for each request the server logged.
QStringList wire(PeerSim &sim)
{
    QStringList lines;
    for (const QJsonValue &value : sim.requestLog()) {
        const QJsonObject entry = value.toObject();
        const QJsonObject auth = entry.value(QStringLiteral("auth")).toObject();
        lines.append(QStringLiteral("%1 %2:%3 -> %4")
                         .arg(entry.value(QStringLiteral("path")).toString(),
                              auth.value(QStringLiteral("scheme")).toString(QStringLiteral("none")),
                              auth.value(QStringLiteral("password")).toString())
                         .arg(entry.value(QStringLiteral("status")).toInt()));
    }
    return lines;
}

} // namespace

class TestHttpCredentials : public QObject
{
    Q_OBJECT

private slots:
    void init() { HttpAuthenticator::shared().clear(); }

    // A password the tool sets is one it can log in with afterwards, and a
    // login by another client costs one request per step: the challenge
    // the change met is remembered for the process.
    void setPasswordThenLogIn_data()
    {
        QTest::addColumn<QString>("password");
        QTest::newRow("euro sign") << QStringLiteral("p€1");
        QTest::newRow("umlaut") << QStringLiteral("ä");
        QTest::newRow("CJK") << QStringLiteral("日本");
    }

    void setPasswordThenLogIn()
    {
        QFETCH(QString, password);
        PeerSim sim;
        QVERIFY2(sim.start(kFleet), qPrintable(sim.errorString()));
        const BaseServerInfo base = alpha(sim);
        ExtraServerInfo extra;
        extra.password = QStringLiteral("738");
        HttpClient changes(nullptr);

        int code = 1;
        sendChangePasswordRequest(&changes, ServerInfo(base, extra), password, false,
                                  [&code](int result, const QString &, AffectedEntities) { code = result; });
        QTRY_COMPARE(code, 0);
        QCOMPARE(sim.server(QStringLiteral("Alpha")).value(QStringLiteral("password")).toString(), password);

        sim.clearLog();
        HttpClient logins(nullptr);
        const LoginPtr result = login(logins, base, password);
        QTRY_VERIFY(result->done);
        QCOMPARE(result->code, 0);
        QCOMPARE(result->extra.password, password);
        QCOMPARE(result->extra.interfaces.size(), 1);
        const QString basic = QStringLiteral("basic:") + password + QStringLiteral(" -> 200");
        QCOMPARE(wire(sim), QStringList({"/api/gettime " + basic, "/api/iflist " + basic}));
    }

    // A Digest server: no credentials before its challenge, which is
    // answered once; its nonce then serves the following requests; a wrong
    // password ends in the server's 401, and two passwords in flight at once
    // never borrow each other's.
    void digestServer()
    {
        PeerSim sim;
        QVERIFY2(sim.start(kFleet), qPrintable(sim.errorString()));
        QVERIFY(!sim.setKnobs(QStringLiteral("Alpha"), {{"auth", "digest"}}).isEmpty());
        const BaseServerInfo base = alpha(sim);
        HttpClient client(nullptr);

        const LoginPtr first = login(client, base, QStringLiteral("738"));
        QTRY_VERIFY(first->done);
        QCOMPARE(first->code, 0);
        QCOMPARE(wire(sim), QStringList({"/api/gettime none: -> 401", "/api/gettime digest: -> 200",
                                         "/api/iflist digest: -> 200"}));

        sim.clearLog();
        const LoginPtr again = login(client, base, QStringLiteral("738"));
        QTRY_VERIFY(again->done);
        QCOMPARE(again->code, 0);
        QCOMPARE(wire(sim), QStringList({"/api/gettime digest: -> 200", "/api/iflist digest: -> 200"}));

        sim.clearLog();
        const LoginPtr wrong = login(client, base, QStringLiteral("morvy"));
        const LoginPtr right = login(client, base, QStringLiteral("738"));
        QTRY_VERIFY(wrong->done && right->done);
        QCOMPARE(wrong->code, 401);
        QCOMPARE(wrong->reason, QStringLiteral("Unauthorized"));
        QCOMPARE(right->code, 0);
        // The wrong one took the nonce and answered one more challenge; the
        // right one, finding none, was challenged for its own.
        const QStringList lines = wire(sim);
        QCOMPARE(lines.count("/api/gettime none: -> 401"), 1);
        QCOMPARE(lines.count("/api/gettime digest: -> 401"), 2);
        QCOMPARE(lines.count("/api/gettime digest: -> 200"), 1);
        QCOMPARE(lines.count("/api/iflist digest: -> 200"), 1);
        QCOMPARE(lines.size(), 5);
    }
};

QTEST_GUILESS_MAIN(TestHttpCredentials)
#include "tst_http_credentials.moc"
