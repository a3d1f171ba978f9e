#include "core/date_time_helpers.h"
#include "protocol/http_client.h"
#include "protocol/server_requests.h"

#include "fake_http_server.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTimeZone>
#include <QUrlQuery>
#include <QtTest>

#include <memory>

using namespace rtu;
using rtu::test::FakeHttpServer;
using rtu::test::FakeReply;
using rtu::test::ReceivedRequest;

namespace {

using QueryItems = QList<QPair<QString, QString>>;

// Everything the callbacks of one request saw.
struct Outcome
{
    int operationCalls = 0;
    int successCalls = 0;
    int code = 12345;
    QString reason;
    AffectedEntities affected;
    QUuid id;
    ExtraServerInfo extra;

    int calls() const { return operationCalls + successCalls; }
};
using OutcomePtr = std::shared_ptr<Outcome>;

OperationCallback operation(const OutcomePtr &outcome)
{
    return [outcome](int code, const QString &reason, AffectedEntities affected) {
        ++outcome->operationCalls;
        outcome->code = code;
        outcome->reason = reason;
        outcome->affected = affected;
    };
}

ExtraInfoCallback extraInfo(const OutcomePtr &outcome)
{
    return [outcome](const QUuid &id, const ExtraServerInfo &extra) {
        ++outcome->successCalls;
        outcome->id = id;
        outcome->extra = extra;
    };
}

BaseServerInfo baseFor(const FakeHttpServer &server, int flags)
{
    BaseServerInfo base;
    base.id = QUuid::createUuid();
    base.flags = flags;
    base.name = QStringLiteral("Server");
    base.systemName = QStringLiteral("North");
    base.hostAddress = server.host();
    base.port = server.port();
    return base;
}

ServerInfo loggedIn(const FakeHttpServer &server, const QString &password, int flags = Constants::AllFlags)
{
    return ServerInfo(baseFor(server, flags),
                      ExtraServerInfo(password, 1, 2, QByteArrayLiteral("Europe/Berlin"), InterfaceInfoList()));
}

QueryItems queryItems(const ReceivedRequest &request)
{
    const int mark = request.target.indexOf('?');
    if (mark < 0)
        return {};
    return QUrlQuery(QString::fromLatin1(request.target.mid(mark + 1))).queryItems(QUrl::FullyDecoded);
}

QByteArray timeReply(const QByteArray &utc, const QByteArray &zone)
{
    return "{\"error\":\"0\",\"reply\":{\"utcTime\":\"" + utc + "\",\"timezoneId\":\"" + zone + "\"}}";
}

QByteArray interfaceJson(const QString &name, const QString &ip, bool dhcp, const QString &dns)
{
    return QJsonDocument(QJsonObject{{QStringLiteral("name"), name},
                                     {QStringLiteral("ipAddr"), ip},
                                     {QStringLiteral("mac"), QStringLiteral("00:0C:29:AA:BB:CC")},
                                     {QStringLiteral("netMask"), QStringLiteral("255.255.255.0")},
                                     {QStringLiteral("gateway"), QStringLiteral("10.1.0.1")},
                                     {QStringLiteral("dns_servers"), dns},
                                     {QStringLiteral("dhcp"), dhcp}})
        .toJson(QJsonDocument::Compact);
}

// Sends one request through the client to the server.
using Send = std::function<void(HttpClient *, const FakeHttpServer &, const OutcomePtr &)>;

} // namespace

Q_DECLARE_METATYPE(Send)
Q_DECLARE_METATYPE(QueryItems)
Q_DECLARE_METATYPE(AffectedEntities)
Q_DECLARE_METATYPE(FakeReply)
Q_DECLARE_METATYPE(InterfaceInfoList)
Q_DECLARE_METATYPE(InterfaceChangesList)

class TestServerRequests : public QObject
{
    Q_OBJECT

private slots:
    void defaultPasswordsInOrder()
    {
        QCOMPARE(defaultPasswords(), QStringList({QStringLiteral("738"), QStringLiteral("morvy")}));
        QCOMPARE(&defaultPasswords(), &defaultPasswords());
    }

    // What each request puts on the wire: path, query items in order, and
    // the credentials that answered the challenge.
    void requestsOnTheWire_data()
    {
        QTest::addColumn<Send>("send");
        QTest::addColumn<QString>("serverPassword");
        QTest::addColumn<QByteArray>("target");
        QTest::addColumn<QueryItems>("items");

        const QString odd = QStringLiteral("p@ss:w/rd%");
        QTest::newRow("gettime without the time flag")
            << Send([](HttpClient *c, const FakeHttpServer &s, const OutcomePtr &o) {
                   sendGetTimeRequest(c, baseFor(s, Constants::AllowIfConfigFlag), QStringLiteral("738"), extraInfo(o),
                                      operation(o), 0);
               })
            << "738" << QByteArray("/api/gettime") << QueryItems();
        QTest::newRow("gettime asks for local time with a bare key")
            << Send([odd](HttpClient *c, const FakeHttpServer &s, const OutcomePtr &o) {
                   sendGetTimeRequest(c, baseFor(s, Constants::AllowChangeDateTimeFlag), odd, extraInfo(o),
                                      operation(o), 0);
               })
            << odd << QByteArray("/api/gettime?local") << QueryItems{{"local", ""}};
        QTest::newRow("iflist")
            << Send([](HttpClient *c, const FakeHttpServer &s, const OutcomePtr &o) {
                   sendIfListRequest(c, baseFor(s, Constants::AllowIfConfigFlag), QStringLiteral("morvy"),
                                     extraInfo(o), operation(o), 2000);
               })
            << "morvy" << QByteArray("/api/iflist") << QueryItems();
        QTest::newRow("settime")
            << Send([](HttpClient *c, const FakeHttpServer &s, const OutcomePtr &o) {
                   sendSetTimeRequest(c, loggedIn(s, QStringLiteral("738")), 1700000000123, "America/New_York",
                                      operation(o));
               })
            << "738" << QByteArray("/api/settime?datetime=1700000000123&timezone=America/New_York")
            << QueryItems{{"datetime", "1700000000123"}, {"timezone", "America/New_York"}};
        QTest::newRow("system name with delimiters in it")
            << Send([odd](HttpClient *c, const FakeHttpServer &s, const OutcomePtr &o) {
                   sendChangeSystemNameRequest(c, loggedIn(s, odd), QStringLiteral("North & South #1"), operation(o));
               })
            << odd << QByteArray()
            << QueryItems{{"systemName", "North & South #1"}, {"oldPassword", "p@ss:w/rd%"}};
        QTest::newRow("password, authenticated with the old one")
            << Send([](HttpClient *c, const FakeHttpServer &s, const OutcomePtr &o) {
                   sendChangePasswordRequest(c, loggedIn(s, QStringLiteral("old")), QStringLiteral("new"), false,
                                             operation(o));
               })
            << "old" << QByteArray("/api/configure?password=new&oldPassword=old")
            << QueryItems{{"password", "new"}, {"oldPassword", "old"}};
        QTest::newRow("password, retried with the new one as the old")
            << Send([](HttpClient *c, const FakeHttpServer &s, const OutcomePtr &o) {
                   sendChangePasswordRequest(c, loggedIn(s, QStringLiteral("old")), QStringLiteral("new"), true,
                                             operation(o));
               })
            << "new" << QByteArray("/api/configure?password=new&oldPassword=new")
            << QueryItems{{"password", "new"}, {"oldPassword", "new"}};
        QTest::newRow("percent sequences sent as typed")
            << Send([](HttpClient *c, const FakeHttpServer &s, const OutcomePtr &o) {
                   sendChangePasswordRequest(c, loggedIn(s, QStringLiteral("old%41")), QStringLiteral("new%2B%20"),
                                             false, operation(o));
               })
            << "old%41" << QByteArray("/api/configure?password=new%252B%2520&oldPassword=old%2541")
            << QueryItems{{"password", "new%2B%20"}, {"oldPassword", "old%41"}};
        // A server that decodes its query as a form would read "+" as a blank.
        QTest::newRow("plus signs sent encoded")
            << Send([](HttpClient *c, const FakeHttpServer &s, const OutcomePtr &o) {
                   sendChangeSystemNameRequest(c, loggedIn(s, QStringLiteral("a+b")), QStringLiteral("Site+1"),
                                               operation(o));
               })
            << "a+b" << QByteArray("/api/configure?systemName=Site%2B1&oldPassword=a%2Bb")
            << QueryItems{{"systemName", "Site+1"}, {"oldPassword", "a+b"}};
        QTest::newRow("port")
            << Send([](HttpClient *c, const FakeHttpServer &s, const OutcomePtr &o) {
                   sendChangePortRequest(c, loggedIn(s, QStringLiteral("morvy")), 7002, operation(o));
               })
            << "morvy" << QByteArray("/api/configure?port=7002&oldPassword=morvy")
            << QueryItems{{"port", "7002"}, {"oldPassword", "morvy"}};
        QTest::newRow("ifconfig")
            << Send([](HttpClient *c, const FakeHttpServer &s, const OutcomePtr &o) {
                   sendIfConfigRequest(c, loggedIn(s, QStringLiteral("738")),
                                       {InterfaceChange(QStringLiteral("eth0"))}, operation(o));
               })
            << "738" << QByteArray("/api/ifconfig") << QueryItems();
    }

    void requestsOnTheWire()
    {
        QFETCH(Send, send);
        QFETCH(QString, serverPassword);
        QFETCH(QByteArray, target);
        QFETCH(QueryItems, items);
        FakeHttpServer server;
        server.requireBasicAuth({serverPassword});
        server.setHandler([](const ReceivedRequest &request) {
            if (request.path() == QLatin1String("/api/gettime"))
                return FakeReply::json(timeReply("1", "UTC"));
            if (request.path() == QLatin1String("/api/iflist"))
                return FakeReply::json("{\"reply\":[" + interfaceJson("eth0", "10.0.0.2", true, "") + "]}");
            return FakeReply::json("{\"error\":\"0\"}");
        });
        HttpClient client(nullptr);

        auto outcome = std::make_shared<Outcome>();
        send(&client, server, outcome);
        QTRY_COMPARE(outcome->calls(), 1);
        QVERIFY2(outcome->successCalls == 1 || outcome->code == 0, qPrintable(outcome->reason));

        const auto requests = server.authenticatedRequests();
        QCOMPARE(requests.size(), 1);
        const ReceivedRequest &request = requests.first();
        QCOMPARE(request.user, QStringLiteral("admin"));
        QCOMPARE(request.password, serverPassword);
        if (!target.isEmpty())
            QCOMPARE(request.target, target);
        QCOMPARE(queryItems(request), items);
        QCOMPARE(request.method, QByteArray(request.path() == QLatin1String("/api/ifconfig") ? "POST" : "GET"));
    }

    // The body of "ifconfig" carries only what changes; the flags name it.
    void ifConfigBody_data()
    {
        QTest::addColumn<InterfaceChangesList>("changes");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("affected");

        InterfaceChange dhcpOnly(QStringLiteral("eth0"));
        dhcpOnly.useDHCP = true;
        QTest::newRow("DHCP on, no address sent")
            << InterfaceChangesList{dhcpOnly}
            << QByteArray("[\n    {\n        \"dhcp\": true,\n        \"name\": \"eth0\"\n    }\n]\n") << 0x030;
        QTest::newRow("name only") << InterfaceChangesList{InterfaceChange(QStringLiteral("eth1"))}
                                   << QByteArray("[\n    {\n        \"name\": \"eth1\"\n    }\n]\n") << 0;
        InterfaceChange emptyValues(QStringLiteral("eth0"));
        emptyValues.dns = QString();
        emptyValues.gateway = QString();
        emptyValues.address = QString();
        emptyValues.mask = QString();
        QTest::newRow("empty DNS and gateway sent, empty address and mask not")
            << InterfaceChangesList{emptyValues}
            << QByteArray("[\n    {\n        \"dns_servers\": \"\",\n        \"gateway\": \"\",\n"
                          "        \"name\": \"eth0\"\n    }\n]\n")
            << 0x0C0;
        InterfaceChange fixed(QString{});
        fixed.useDHCP = false;
        fixed.address = QStringLiteral("10.1.0.7");
        fixed.mask = QStringLiteral("255.255.0.0");
        InterfaceChange second(QStringLiteral("eth1"));
        second.dns = QStringLiteral("8.8.8.8");
        QTest::newRow("two interfaces, the first without a name")
            << InterfaceChangesList{fixed, second}
            << QByteArray("[\n    {\n        \"dhcp\": false,\n        \"ipAddr\": \"10.1.0.7\",\n"
                          "        \"netMask\": \"255.255.0.0\"\n    },\n"
                          "    {\n        \"dns_servers\": \"8.8.8.8\",\n        \"name\": \"eth1\"\n    }\n]\n")
            << 0x070;
        QTest::newRow("no changes") << InterfaceChangesList{} << QByteArray("[\n]\n") << 0;
    }

    void ifConfigBody()
    {
        QFETCH(InterfaceChangesList, changes);
        QFETCH(QByteArray, body);
        QFETCH(int, affected);
        FakeHttpServer server;
        server.requireBasicAuth({QStringLiteral("738")});
        HttpClient client(nullptr);

        auto outcome = std::make_shared<Outcome>();
        sendIfConfigRequest(&client, loggedIn(server, QStringLiteral("738")), changes, operation(outcome));
        QTRY_COMPARE(outcome->calls(), 1);
        QCOMPARE(outcome->code, 0);
        QCOMPARE(int(outcome->affected), affected);
        const ReceivedRequest request = server.authenticatedRequests().value(0);
        QCOMPARE(request.method, QByteArray("POST"));
        QCOMPARE(request.header("Content-Type"), QByteArray("application/json"));
        QCOMPARE(request.body, body);

        // Refused before sending, the same flags are reported.
        auto refused = std::make_shared<Outcome>();
        sendIfConfigRequest(&client, ServerInfo(baseFor(server, 0)), changes, operation(refused));
        QCOMPARE(refused->code, -1);
        QCOMPARE(int(refused->affected), affected);
    }

    // Refusals happen before the function returns, and nothing is sent.
    void preconditionsRefuseSynchronously_data()
    {
        QTest::addColumn<Send>("send");
        QTest::addColumn<int>("affected");
        QTest::addColumn<QString>("reason");
        const QString read = QStringLiteral("Invalid request parameters");
        // A change row says that the change never left the tool.
        const QString change = QStringLiteral("Not sent (Invalid request parameters)");

        using C = HttpClient *;
        using S = const FakeHttpServer &;
        using O = const OutcomePtr &;
        const auto out = [](S s) { return ServerInfo(baseFor(s, Constants::NoFlags)); };
        const auto in = [](S s) { return loggedIn(s, QStringLiteral("738")); };
        const QString pw = QStringLiteral("738");
        const qint64 now = 1700000000000;

        QTest::newRow("extra info without client") << Send([pw](C, S s, O o) {
            requestExtraServerInfo(nullptr, baseFor(s, 3), pw, extraInfo(o), operation(o), 0);
        }) << 0x3F0 << read;
        QTest::newRow("gettime without client") << Send([pw](C, S s, O o) {
            sendGetTimeRequest(nullptr, baseFor(s, 3), pw, extraInfo(o), operation(o), 0);
        }) << 0x300 << read;
        QTest::newRow("iflist without client") << Send([pw](C, S s, O o) {
            sendIfListRequest(nullptr, baseFor(s, 3), pw, extraInfo(o), operation(o), 0);
        }) << 0xFFF << read;
        QTest::newRow("iflist without the interface flag") << Send([pw](C c, S s, O o) {
            sendIfListRequest(c, baseFor(s, Constants::AllowChangeDateTimeFlag), pw, extraInfo(o), operation(o), 0);
        }) << 0xFFF << read;
        QTest::newRow("settime, not logged in")
            << Send([=](C c, S s, O o) { sendSetTimeRequest(c, out(s), now, "UTC", operation(o)); }) << 0x300 << change;
        QTest::newRow("settime at 0")
            << Send([=](C c, S s, O o) { sendSetTimeRequest(c, in(s), 0, "UTC", operation(o)); }) << 0x300 << change;
        QTest::newRow("settime in an unknown zone")
            << Send([=](C c, S s, O o) { sendSetTimeRequest(c, in(s), now, "Mars/Olympus", operation(o)); }) << 0x300 << change;
        QTest::newRow("settime without client")
            << Send([=](C, S s, O o) { sendSetTimeRequest(nullptr, in(s), now, "UTC", operation(o)); }) << 0x300 << change;
        QTest::newRow("empty system name")
            << Send([=](C c, S s, O o) { sendChangeSystemNameRequest(c, in(s), QString(), operation(o)); }) << 0x004 << change;
        QTest::newRow("system name, not logged in")
            << Send([=](C c, S s, O o) { sendChangeSystemNameRequest(c, out(s), pw, operation(o)); }) << 0x004 << change;
        QTest::newRow("empty password")
            << Send([=](C c, S s, O o) { sendChangePasswordRequest(c, in(s), QString(), true, operation(o)); })
            << 0x002 << change;
        QTest::newRow("password without client")
            << Send([=](C, S s, O o) { sendChangePasswordRequest(nullptr, in(s), pw, false, operation(o)); }) << 0x002 << change;
        QTest::newRow("port 0") << Send([=](C c, S s, O o) { sendChangePortRequest(c, in(s), 0, operation(o)); })
                                << 0x001 << change;
        QTest::newRow("port, not logged in")
            << Send([=](C c, S s, O o) { sendChangePortRequest(c, out(s), 7002, operation(o)); }) << 0x001 << change;
        QTest::newRow("ifconfig without client") << Send([=](C, S s, O o) {
            InterfaceChange gateway(QStringLiteral("eth0"));
            gateway.gateway = QStringLiteral("10.0.0.1");
            sendIfConfigRequest(nullptr, in(s), {gateway}, operation(o));
        }) << 0x080 << change;
    }

    void preconditionsRefuseSynchronously()
    {
        QFETCH(Send, send);
        QFETCH(int, affected);
        QFETCH(QString, reason);
        FakeHttpServer server;
        HttpClient client(nullptr);

        auto outcome = std::make_shared<Outcome>();
        send(&client, server, outcome);
        QCOMPARE(outcome->operationCalls, 1);
        QCOMPARE(outcome->successCalls, 0);
        QCOMPARE(outcome->code, -1);
        QCOMPARE(outcome->reason, reason);
        QCOMPARE(int(outcome->affected), affected);
        QTest::qWait(50);
        QCOMPARE(server.connectionCount(), 0);
        QCOMPARE(outcome->calls(), 1);
    }

    // How the answer of a change request becomes its outcome: the server's
    // yes, its no (with its reason), or an answer that proves neither.
    void changeOutcomes_data()
    {
        QTest::addColumn<FakeReply>("reply");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("reason");
        const auto ok = [](const char *body) { return FakeReply::json(QByteArray(body)); };
        const auto no = QStringLiteral("Busy");
        const QString unreadable = QStringLiteral("Unreadable answer (HTTP 200); the change may have been applied");
        const QString maybe = QStringLiteral("; the change may have been applied");

        // Yes: no body, or an object whose "error" is absent or zero.
        QTest::newRow("empty body") << ok("") << 0 << QString();
        QTest::newRow("blanks only") << ok("\r\n") << 0 << QString();
        QTest::newRow("no error key") << ok("{\"reply\":{}}") << 0 << QString();
        QTest::newRow("error \"0\"") << ok("{\"error\":\"0\",\"errorString\":\"ignored\"}") << 0 << QString();
        QTest::newRow("error 0") << ok("{\"error\":0,\"errorString\":\"x\"}") << 0 << QString();
        QTest::newRow("error false") << ok("{\"error\":false,\"errorString\":\"x\"}") << 0 << QString();
        QTest::newRow("error null") << ok("{\"error\":null,\"errorString\":\"x\"}") << 0 << QString();
        QTest::newRow("error an object") << ok("{\"error\":{\"code\":1},\"errorString\":\"x\"}") << 0 << QString();
        for (const char *zero : {"0.0", "-0", " -000 ", "0x0", "0e9", ".0"})
            QTest::newRow(qPrintable(QStringLiteral("zero \"%1\"").arg(QLatin1String(zero))))
                << FakeReply::json("{\"error\":\"" + QByteArray(zero) + "\",\"errorString\":\"x\"}") << 0
                << QString();
        for (const char *text : {"abc", "", "1 2", "-", "1e", "0x", "0xg", "nan", "1.2.3"})
            QTest::newRow(qPrintable(QStringLiteral("not a number \"%1\"").arg(QLatin1String(text))))
                << FakeReply::json("{\"error\":\"" + QByteArray(text) + "\",\"errorString\":\"x\"}") << 0
                << QString();

        // No: a number, a boolean or a numeric text that is not zero.
        for (const char *value : {"1", "-1", "0.5", "2.5e3", "true"})
            QTest::newRow(qPrintable(QStringLiteral("error %1").arg(QLatin1String(value))))
                << FakeReply::json("{\"error\":" + QByteArray(value) + ",\"errorString\":\"Busy\"}") << -1 << no;
        for (const char *text : {"3", "1.0", "0x1", "1e3", ".5", "5.", "+7", " +007\\t", "4294967296", "1e-400",
                                 "0X1f", "0b10", "0o7", "1E+2", "Infinity", "-inf"})
            QTest::newRow(qPrintable(QStringLiteral("error \"%1\"").arg(QLatin1String(text))))
                << FakeReply::json("{\"error\":\"" + QByteArray(text) + "\",\"errorString\":\"Busy\"}") << -1 << no;
        QTest::newRow("refused without a text") << ok("{\"error\":\"2\"}") << -1 << QString();
        QTest::newRow("refused with a text that is not one") << ok("{\"error\":true,\"errorString\":5}") << -1
                                                              << QString();

        // Neither: a body that is not one JSON object.
        QTest::newRow("truncated JSON") << ok("{\"error\": \"1\", \"errorStr") << -1 << unreadable;
        QTest::newRow("HTML page") << ok("<html><body>Service temporarily unavailable</body></html>") << -1
                                   << unreadable;
        QTest::newRow("plain text") << ok("done") << -1 << unreadable;
        QTest::newRow("an array") << ok("[]") << -1 << unreadable;
        QTest::newRow("a string") << ok("\"ok\"") << -1 << unreadable;
        QTest::newRow("null") << ok("null") << -1 << unreadable;
        QTest::newRow("a key twice") << ok("{\"error\":\"1\",\"error\":\"0\"}") << -1 << unreadable;
        QTest::newRow("status as received") << FakeReply::json("<p>Accepted</p>", 202, "Accepted") << -1
                                            << "Unreadable answer (HTTP 202); the change may have been applied";

        // A failure says whether the change may have been carried out.
        QTest::newRow("server error") << FakeReply::json("{}", 503, "Service Unavailable") << 503
                                      << "Service Unavailable" + maybe;
        QTest::newRow("internal error") << FakeReply::json("", 500, "Internal Server Error") << 500
                                        << "Internal Server Error" + maybe;
        QTest::newRow("redirect") << FakeReply::json("", 302, "Found") << 302 << "Found" + maybe;
        QTest::newRow("4xx proves it was not") << FakeReply::json("{}", 403, "Forbidden") << 403 << "Forbidden";
        FakeReply malformed;
        malformed.raw = "HTTP/1.1 2OO OK\r\n\r\n";
        QTest::newRow("malformed answer") << malformed << 0 << "Network Error: #399" + maybe;
        FakeReply dropped;
        dropped.drop = true;
        QTest::newRow("closed unanswered, said once")
            << dropped << 0 << QString::fromLatin1(HttpClient::kUnansweredChange);
    }

    void changeOutcomes()
    {
        QFETCH(FakeReply, reply);
        QFETCH(int, code);
        QFETCH(QString, reason);
        FakeHttpServer server;
        server.enqueue(reply);
        HttpClient client(nullptr);

        auto outcome = std::make_shared<Outcome>();
        sendChangePortRequest(&client, loggedIn(server, QStringLiteral("738")), 7010, operation(outcome));
        QTRY_COMPARE(outcome->calls(), 1);
        QCOMPARE(outcome->code, code);
        QCOMPARE(outcome->reason, reason);
        QCOMPARE(outcome->affected, AffectedEntities(PortAffected));
    }

    // Nothing reached the server: the row says so and claims nothing more.
    void refusedConnectionIsNotSent()
    {
        FakeHttpServer server;
        const ServerInfo target = loggedIn(server, QStringLiteral("738"));
        server.close();
        HttpClient client(nullptr);

        auto outcome = std::make_shared<Outcome>();
        sendChangeSystemNameRequest(&client, target, QStringLiteral("South"), operation(outcome));
        QTRY_COMPARE(outcome->calls(), 1);
        QCOMPARE(outcome->code, 0);
        QCOMPARE(outcome->reason, QStringLiteral("Not sent (Network Error: #1)"));
    }

    void wrongPasswordArrivesAs401()
    {
        FakeHttpServer server;
        server.requireBasicAuth({QStringLiteral("morvy")});
        HttpClient client(nullptr);

        auto change = std::make_shared<Outcome>();
        sendChangeSystemNameRequest(&client, loggedIn(server, QStringLiteral("738")), QStringLiteral("South"),
                                    operation(change));
        auto read = std::make_shared<Outcome>();
        requestExtraServerInfo(&client, baseFor(server, 3), QStringLiteral("738"), extraInfo(read), operation(read), 0);
        QTRY_COMPARE(change->calls() + read->calls(), 2);
        QCOMPARE(change->code, 401);
        QCOMPARE(change->reason, QStringLiteral("Unauthorized"));
        QCOMPARE(change->affected, AffectedEntities(SystemNameAffected));
        QCOMPARE(read->operationCalls, 1);
        QCOMPARE(read->code, 401);
        QCOMPARE(read->affected, AffectedEntities(AllDateTimeEntitiesAffected));
    }

    // Time, then interfaces; the login stands even when the interfaces fail.
    void extraInfoInTwoSteps_data()
    {
        QTest::addColumn<FakeReply>("timeAnswer");
        QTest::addColumn<FakeReply>("interfacesAnswer");
        QTest::addColumn<int>("interfaces");
        QTest::addColumn<int>("code");

        const FakeReply time = FakeReply::json(timeReply("1700000000123", "Europe/Berlin"));
        const FakeReply interfaces = FakeReply::json(
            "{\"error\":\"0\",\"reply\":[" + interfaceJson("eth0", "10.1.0.7", true, "10.1.0.2 10.1.0.3") + ","
            + interfaceJson("eth1", "192.168.5.2", false, "") + "]}");
        QTest::newRow("both read") << time << interfaces << 2 << 0;
        QTest::newRow("interfaces refused") << time << FakeReply::json("{}", 500, "Oops") << 0 << 0;
        QTest::newRow("interfaces unreadable") << time << FakeReply::json("{\"error\":\"0\",\"reply\":[]}") << 0 << 0;
        QTest::newRow("time unreadable")
            << FakeReply::json("{\"error\":\"4\",\"reply\":{\"utcTime\":\"5\",\"timezoneId\":\"UTC\"}}") << interfaces
            << 0 << -1;
        QTest::newRow("time with a key twice")
            << FakeReply::json("{\"error\":\"0\",\"reply\":[0],\"reply\":{\"utcTime\":\"5\",\"timezoneId\":\"UTC\"}}")
            << interfaces << 0 << -1;
        FakeReply dropped;
        dropped.drop = true;
        QTest::newRow("connection dropped") << dropped << interfaces << 0 << 0;
    }

    void extraInfoInTwoSteps()
    {
        QFETCH(FakeReply, timeAnswer);
        QFETCH(FakeReply, interfacesAnswer);
        QFETCH(int, interfaces);
        QFETCH(int, code);
        FakeHttpServer server;
        server.setHandler([&](const ReceivedRequest &request) {
            return request.path() == QLatin1String("/api/gettime") ? timeAnswer : interfacesAnswer;
        });
        HttpClient client(nullptr);
        const BaseServerInfo base = baseFor(server, Constants::AllowChangeDateTimeFlag);

        auto outcome = std::make_shared<Outcome>();
        const qint64 before = monotonicNowMs();
        requestExtraServerInfo(&client, base, QStringLiteral("morvy"), extraInfo(outcome), operation(outcome), 0);
        QTRY_COMPARE(outcome->calls(), 1);
        QTest::qWait(50);
        QCOMPARE(outcome->calls(), 1);

        const bool readTime = timeAnswer.status == 200 && !timeAnswer.drop && code == 0;
        QCOMPARE(outcome->successCalls, readTime ? 1 : 0);
        if (!readTime) {
            QCOMPARE(outcome->code, code);
            QCOMPARE(outcome->affected, AffectedEntities(AllDateTimeEntitiesAffected));
            if (code == -1)
                QCOMPARE(outcome->reason, QStringLiteral("Invalid response"));
            if (!timeAnswer.drop)
                QCOMPARE(server.requests().size(), 1);
            return;
        }
        QCOMPARE(outcome->id, base.id);
        QCOMPARE(outcome->extra.password, QStringLiteral("morvy"));
        QCOMPARE(outcome->extra.utcDateTimeMs, Q_INT64_C(1700000000123));
        QCOMPARE(outcome->extra.timeZoneId, QByteArray("Europe/Berlin"));
        QVERIFY(outcome->extra.timestampMs >= before);
        QVERIFY(outcome->extra.timestampMs <= monotonicNowMs());
        QCOMPARE(outcome->extra.interfaces.size(), interfaces);
        if (interfaces) {
            QCOMPARE(outcome->extra.interfaces.at(0).dns, QStringLiteral("10.1.0.2"));
            QCOMPARE(outcome->extra.interfaces.at(1).name, QStringLiteral("eth1"));
        }
        const auto requests = server.requests();
        QCOMPARE(requests.size(), 2);
        QCOMPARE(requests.at(0).target, QByteArray("/api/gettime?local"));
        QCOMPARE(requests.at(1).target, QByteArray("/api/iflist"));
    }

    void interfaceListAlone()
    {
        FakeHttpServer server;
        server.enqueue(FakeReply::json("{\"reply\":[" + interfaceJson("eth0", "10.1.0.7", false, "10.1.0.2") + "]}"));
        server.enqueue(FakeReply::json("{\"error\":\"0\",\"reply\":{}}"));
        HttpClient client(nullptr);
        const BaseServerInfo base = baseFor(server, Constants::AllowIfConfigFlag);

        auto good = std::make_shared<Outcome>();
        sendIfListRequest(&client, base, QStringLiteral("738"), extraInfo(good), operation(good), 2000);
        QTRY_COMPARE(good->calls(), 1);
        QCOMPARE(good->successCalls, 1);
        QVERIFY(good->extra.password.isEmpty());
        QCOMPARE(good->extra.utcDateTimeMs, Q_INT64_C(0));
        QCOMPARE(good->extra.interfaces.size(), 1);
        QCOMPARE(good->extra.interfaces.first().ip, QStringLiteral("10.1.0.7"));

        auto bad = std::make_shared<Outcome>();
        sendIfListRequest(&client, base, QStringLiteral("738"), extraInfo(bad), operation(bad), 2000);
        QTRY_COMPARE(bad->calls(), 1);
        QCOMPARE(bad->code, -1);
        QCOMPARE(bad->reason, QStringLiteral("Invalid response"));
        QCOMPARE(bad->affected, AffectedEntities(AllInterfaceEntitiesAffected));
    }

    void parseTime_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<bool>("understood");
        QTest::addColumn<qint64>("utc");
        QTest::addColumn<QByteArray>("zone");

        QTest::newRow("zone identifier")
            << QByteArray("{\"error\":\"0\",\"reply\":{\"utcTime\":\"1700000000123\",\"timezoneId\":\"Asia/Tokyo\"}}")
            << true << Q_INT64_C(1700000000123) << QByteArray("Asia/Tokyo");
        QTest::newRow("identifier wins over offset")
            << QByteArray("{\"reply\":{\"utcTime\":\"42\",\"timezoneId\":\"Europe/Berlin\",\"timeZoneOffset\":10800}}")
            << true << Q_INT64_C(42) << QByteArray("Europe/Berlin");
        QTest::newRow("offset only: fixed-offset zone")
            << QByteArray("{\"reply\":{\"utcTime\":\"42\",\"timeZoneOffset\":10800}}") << true << Q_INT64_C(42)
            << QTimeZone(3 * 3600).id();
        QTest::newRow("negative offset")
            << QByteArray("{\"reply\":{\"utcTime\":\"7\",\"timeZoneOffset\":-16200}}") << true << Q_INT64_C(7)
            << QTimeZone(-16200).id();
        QTest::newRow("utcTime as a number reads as 0")
            << QByteArray("{\"reply\":{\"utcTime\":1700000000123,\"timezoneId\":\"UTC\"}}") << true << Q_INT64_C(0)
            << QByteArray("UTC");
        // A clock outside years 1970..9999 is no reading (later sums on it would overflow).
        for (const char *utcTime : {"9223372036854775807", "-9223372036854775808", "-1", "253402300800000"}) {
            QTest::newRow(utcTime) << "{\"reply\":{\"utcTime\":\"" + QByteArray(utcTime) + "\",\"timezoneId\":\"UTC\"}}"
                                   << false << Q_INT64_C(0) << QByteArray();
        }
        QTest::newRow("last millisecond of 9999")
            << QByteArray("{\"reply\":{\"utcTime\":\"253402300799999\",\"timezoneId\":\"UTC\"}}") << true
            << Q_INT64_C(253402300799999) << QByteArray("UTC");
        QTest::newRow("error as a non-zero string")
            << QByteArray("{\"error\":\"1\",\"reply\":{\"utcTime\":\"42\",\"timezoneId\":\"UTC\"}}") << false
            << Q_INT64_C(0) << QByteArray();
        QTest::newRow("error as a number other than 0")
            << QByteArray("{\"error\":1,\"reply\":{\"utcTime\":\"42\",\"timezoneId\":\"UTC\"}}") << false
            << Q_INT64_C(0) << QByteArray();
        QTest::newRow("error false is none")
            << QByteArray("{\"error\":false,\"reply\":{\"utcTime\":\"42\",\"timezoneId\":\"UTC\"}}") << true
            << Q_INT64_C(42) << QByteArray("UTC");
        QTest::newRow("no zone at all") << QByteArray("{\"reply\":{\"utcTime\":\"42\"}}") << false << Q_INT64_C(0)
                                        << QByteArray();
        QTest::newRow("no time") << QByteArray("{\"reply\":{\"timezoneId\":\"UTC\"}}") << false << Q_INT64_C(0)
                                 << QByteArray();
        QTest::newRow("empty reply") << QByteArray("{\"reply\":{}}") << false << Q_INT64_C(0) << QByteArray();
        QTest::newRow("reply is an array") << QByteArray("{\"reply\":[1]}") << false << Q_INT64_C(0) << QByteArray();
        QTest::newRow("not JSON") << QByteArray("<html>") << false << Q_INT64_C(0) << QByteArray();
    }

    void parseTime()
    {
        QFETCH(QByteArray, json);
        QFETCH(bool, understood);
        QFETCH(qint64, utc);
        QFETCH(QByteArray, zone);
        ExtraServerInfo out;
        out.password = QStringLiteral("kept");
        const qint64 before = monotonicNowMs();
        QCOMPARE(parseTimeReply(QJsonDocument::fromJson(json).object(), out), understood);
        QCOMPARE(out.password, QStringLiteral("kept"));
        if (!understood) {
            QCOMPARE(out.timestampMs, Q_INT64_C(0));
            QVERIFY(out.timeZoneId.isEmpty());
            return;
        }
        QCOMPARE(out.utcDateTimeMs, utc);
        QCOMPARE(out.timeZoneId, zone);
        // A setting of the time sends the identifier back: it must pass as a known zone.
        QVERIFY(timeZoneById(out.timeZoneId).isValid());
        QVERIFY(out.timestampMs >= before && out.timestampMs <= monotonicNowMs());
    }

    void parseInterfaces_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<bool>("understood");
        QTest::addColumn<InterfaceInfoList>("interfaces");

        const QByteArray eth0 = interfaceJson("eth0", "10.1.0.7", true, "10.1.0.2 10.1.0.3");
        const InterfaceInfo eth0Info(QStringLiteral("eth0"), QStringLiteral("10.1.0.7"),
                                     QStringLiteral("00:0C:29:AA:BB:CC"), QStringLiteral("255.255.255.0"), QStringLiteral("10.1.0.1"),
                                     QStringLiteral("10.1.0.2"), Qt::Checked);
        InterfaceInfo eth1Info = eth0Info;
        eth1Info.name = QStringLiteral("eth1");
        eth1Info.ip = QStringLiteral("192.168.5.2");
        eth1Info.dns = QString();
        eth1Info.useDHCP = Qt::Unchecked;

        QTest::newRow("two interfaces in order, first DNS only")
            << "{\"reply\":[" + eth0 + "," + interfaceJson("eth1", "192.168.5.2", false, "") + "]}" << true
            << InterfaceInfoList{eth0Info, eth1Info};
        QTest::newRow("DNS list with a leading blank")
            << "{\"reply\":[" + interfaceJson("eth1", "192.168.5.2", false, " 10.1.0.2") + "]}" << true
            << InterfaceInfoList{eth1Info};
        QByteArray stringDhcp = interfaceJson("eth1", "192.168.5.2", false, "");
        stringDhcp.replace("\"dhcp\":false", "\"dhcp\":\"true\"");
        QTest::newRow("dhcp as a string is unchecked") << "{\"reply\":[" + stringDhcp + "]}" << true
                                                       << InterfaceInfoList{eth1Info};
        QByteArray noMac = interfaceJson("eth1", "192.168.5.2", false, "");
        noMac.replace("\"mac\":", "\"mack\":");
        QTest::newRow("second interface without mac") << "{\"reply\":[" + eth0 + "," + noMac + "]}" << false
                                                      << InterfaceInfoList{};
        // A server listing a thousand interfaces costs what 64 cost.
        QByteArray many;
        InterfaceInfoList firstOfMany;
        for (int i = 0; i < 1000; ++i) {
            many += (i ? "," : "") + interfaceJson(QStringLiteral("eth%1").arg(i), eth1Info.ip, false, "");
            if (i < kMaxInterfaces) {
                firstOfMany.append(eth1Info);
                firstOfMany.last().name = QStringLiteral("eth%1").arg(i);
            }
        }
        QTest::newRow("a thousand interfaces: the first 64") << "{\"reply\":[" + many + "]}" << true << firstOfMany;
        QTest::newRow("refused") << "{\"error\":\"2\",\"reply\":[" + eth0 + "]}" << false << InterfaceInfoList{};
        QTest::newRow("empty list") << QByteArray("{\"reply\":[]}") << false << InterfaceInfoList{};
        QTest::newRow("reply is an object") << QByteArray("{\"reply\":{\"name\":\"eth0\"}}") << false
                                            << InterfaceInfoList{};
    }

    void parseInterfaces()
    {
        QFETCH(QByteArray, json);
        QFETCH(bool, understood);
        QFETCH(InterfaceInfoList, interfaces);
        const InterfaceInfo previous(QStringLiteral("old"), {}, {}, {}, {}, {}, 0);
        ExtraServerInfo out;
        out.interfaces = {previous};
        QCOMPARE(parseInterfacesReply(QJsonDocument::fromJson(json).object(), out), understood);
        if (!understood) {
            QCOMPARE(out.interfaces.size(), 1);
            QCOMPARE(out.interfaces.first().name, previous.name);
            return;
        }
        QCOMPARE(out.interfaces.size(), interfaces.size());
        for (int i = 0; i < interfaces.size(); ++i) {
            QCOMPARE(out.interfaces.at(i).name, interfaces.at(i).name);
            QCOMPARE(out.interfaces.at(i), interfaces.at(i));
        }
    }
};

QTEST_GUILESS_MAIN(TestServerRequests)
#include "tst_server_requests.moc"
