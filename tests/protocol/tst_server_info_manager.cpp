#include "protocol/server_info_manager.h"
#include "protocol/server_requests.h"

#include "fake_http_server.h"

#include <QtTest>

#include <memory>

using namespace rtu;
using rtu::test::FakeHttpServer;
using rtu::test::FakeReply;
using rtu::test::ReceivedRequest;

namespace {

// The reports one server got through a manager's callbacks.
struct Reports
{
    struct Success
    {
        QUuid id;
        ExtraServerInfo extra;
        QString host;
    };
    QVector<Success> successes;
    QVector<QPair<QUuid, int>> failures;

    int count() const { return successes.size() + failures.size(); }
};
using ReportsPtr = std::shared_ptr<Reports>;

ServerInfoManager::LoginSuccessCallback onSuccess(const ReportsPtr &reports)
{
    return [reports](const QUuid &id, const ExtraServerInfo &extra, const QString &host) {
        reports->successes.append({id, extra, host});
    };
}

ServerInfoManager::LoginFailedCallback onFailed(const ReportsPtr &reports)
{
    return [reports](const QUuid &id, int code) { reports->failures.append({id, code}); };
}

// A server answering the REST reads, behind Basic authentication with the
// given passwords; every other answer is up to the test.
void serveReads(FakeHttpServer &server, const QStringList &passwords)
{
    server.requireBasicAuth(passwords);
    server.setHandler([](const ReceivedRequest &request) {
        if (request.path() == QLatin1String("/api/gettime"))
            return FakeReply::json("{\"error\":\"0\",\"reply\":{\"utcTime\":\"1700000000000\","
                                   "\"timezoneId\":\"Europe/Helsinki\"}}");
        return FakeReply::json("{\"error\":\"0\",\"reply\":[{\"name\":\"eth0\",\"ipAddr\":\"10.0.3.4\",\"mac\":\"m\","
                               "\"netMask\":\"255.0.0.0\",\"gateway\":\"\",\"dns_servers\":\"\",\"dhcp\":true}]}");
    });
}

BaseServerInfo baseFor(const FakeHttpServer &server)
{
    BaseServerInfo base;
    base.id = QUuid::createUuid();
    base.flags = Constants::AllowIfConfigFlag;
    base.name = QStringLiteral("Server");
    base.systemName = QStringLiteral("North");
    base.hostAddress = server.host();
    base.port = server.port();
    return base;
}

// The passwords of the time reads that carried credentials, in order.
QStringList timeReadPasswords(const FakeHttpServer &server)
{
    QStringList passwords;
    for (const ReceivedRequest &request : server.authenticatedRequests()) {
        if (request.path() == QLatin1String("/api/gettime"))
            passwords.append(request.password);
    }
    return passwords;
}

ServerInfoManager::Timeouts shortTimeouts()
{
    ServerInfoManager::Timeouts timeouts;
    timeouts.knownPasswordsMs = 300;
    timeouts.givenPasswordMs = 200;
    return timeouts;
}

} // namespace

Q_DECLARE_METATYPE(FakeReply)

class TestServerInfoManager : public QObject
{
    Q_OBJECT

private slots:
    void knownPasswordsStartWithTheDefaults()
    {
        QCOMPARE(ServerInfoManager::knownPasswords().mid(0, 2), defaultPasswords());
    }

    void secondDefaultPasswordLogsIn()
    {
        FakeHttpServer server;
        serveReads(server, {defaultPasswords().at(1)});
        ServerInfoManager manager(nullptr);
        const BaseServerInfo base = baseFor(server);

        auto reports = std::make_shared<Reports>();
        manager.loginWithKnownPasswords(base, onSuccess(reports), onFailed(reports));
        QTRY_COMPARE(reports->count(), 1);
        QTest::qWait(50);
        QCOMPARE(reports->count(), 1);
        QCOMPARE(reports->successes.size(), 1);
        const Reports::Success success = reports->successes.first();
        QCOMPARE(success.id, base.id);
        QCOMPARE(success.host, base.hostAddress);
        QCOMPARE(success.extra.password, defaultPasswords().at(1));
        QCOMPARE(success.extra.timeZoneId, QByteArray("Europe/Helsinki"));
        QCOMPARE(success.extra.interfaces.size(), 1);
        QCOMPARE(timeReadPasswords(server), defaultPasswords());
        QCOMPARE(ServerInfoManager::knownPasswords().count(defaultPasswords().at(1)), 1);
    }

    void everyKnownPasswordRefused()
    {
        FakeHttpServer server;
        serveReads(server, {QStringLiteral("nobody knows this")});
        ServerInfoManager manager(nullptr);
        const BaseServerInfo base = baseFor(server);

        auto reports = std::make_shared<Reports>();
        manager.loginWithKnownPasswords(base, onSuccess(reports), onFailed(reports));
        QTRY_COMPARE(reports->count(), 1);
        QCOMPARE(reports->failures.value(0), qMakePair(base.id, 401));
        QCOMPARE(timeReadPasswords(server), ServerInfoManager::knownPasswords(base.systemName));
    }

    // A server that cannot be read ends the automatic login at once.
    void brokenServerStopsTheLogin_data()
    {
        QTest::addColumn<FakeReply>("reply");
        QTest::newRow("server error") << FakeReply::json("{}", 500, "Internal Server Error");
        FakeReply dropped;
        dropped.drop = true;
        QTest::newRow("connection closed") << dropped;
        QTest::newRow("unreadable time") << FakeReply::json("{\"reply\":{}}");
        FakeReply silent;
        silent.silent = true;
        QTest::newRow("silent, time-out") << silent;
    }

    void brokenServerStopsTheLogin()
    {
        QFETCH(FakeReply, reply);
        FakeHttpServer server;
        // The first password passes the challenge, then the server fails.
        server.requireBasicAuth({defaultPasswords().at(0)});
        server.setHandler([reply](const ReceivedRequest &) { return reply; });
        ServerInfoManager manager(nullptr, shortTimeouts());
        const BaseServerInfo base = baseFor(server);

        auto reports = std::make_shared<Reports>();
        manager.loginWithKnownPasswords(base, onSuccess(reports), onFailed(reports));
        QTRY_COMPARE(reports->count(), 1);
        QCOMPARE(reports->failures.value(0), qMakePair(base.id, -1));
        QTest::qWait(400);
        QCOMPARE(reports->count(), 1);
        // No other password was tried (Qt itself may resend once on a
        // dropped connection).
        const QStringList tried = timeReadPasswords(server);
        QVERIFY(!tried.isEmpty());
        QCOMPARE(tried.count(defaultPasswords().at(0)), tried.size());
    }

    void givenPassword_data()
    {
        QTest::addColumn<QString>("password");
        QTest::addColumn<FakeReply>("reply");
        QTest::addColumn<int>("code");
        QTest::newRow("accepted") << "typed-ok" << FakeReply() << 0;
        QTest::newRow("refused") << "typed-wrong" << FakeReply() << 401;
        FakeReply silent;
        silent.silent = true;
        QTest::newRow("silent: time-out") << "typed-ok" << silent << 0;
        QTest::newRow("server error passes through")
            << "typed-ok" << FakeReply::json("{}", 503, "Service Unavailable") << 503;
        QTest::newRow("unreadable") << "typed-ok" << FakeReply::json("{\"error\":\"9\"}") << -1;
    }

    void givenPassword()
    {
        QFETCH(QString, password);
        QFETCH(FakeReply, reply);
        QFETCH(int, code);
        FakeHttpServer server;
        serveReads(server, {QStringLiteral("typed-ok")});
        const bool answers = reply.status == 200 && !reply.silent && reply.body.isEmpty();
        if (!answers)
            server.enqueue(reply);
        ServerInfoManager manager(nullptr, shortTimeouts());
        const BaseServerInfo base = baseFor(server);
        const QStringList knownBefore = ServerInfoManager::knownPasswords();

        auto reports = std::make_shared<Reports>();
        manager.loginWithPassword(base, password, onSuccess(reports), onFailed(reports));
        QTRY_COMPARE(reports->count(), 1);
        if (answers && code == 0) {
            QCOMPARE(reports->successes.value(0).extra.password, password);
            QCOMPARE(reports->successes.value(0).host, base.hostAddress);
            QCOMPARE(ServerInfoManager::knownPasswords().count(password), 1);
        } else {
            QCOMPARE(reports->failures.value(0), qMakePair(base.id, code));
            QCOMPARE(ServerInfoManager::knownPasswords(), knownBefore);
        }
        QCOMPARE(timeReadPasswords(server), QStringList{password});
    }

    // A password the operator typed once is tried for later servers of the
    // same system, after the defaults, by every manager of the process; it is
    // added once. Servers of another system never get it, unless the tool
    // renamed their system from the one it was typed for.
    void typedPasswordStaysWithItsSystem()
    {
        const QString typed = QStringLiteral("typed-%1").arg(QUuid::createUuid().toString());
        FakeHttpServer first;
        FakeHttpServer second;
        FakeHttpServer elsewhere;
        for (FakeHttpServer *server : {&first, &second, &elsewhere})
            serveReads(*server, {typed});
        ServerInfoManager operatorManager(nullptr);
        ServerInfoManager otherManager(nullptr);

        for (int i = 0; i < 2; ++i) {
            auto reports = std::make_shared<Reports>();
            operatorManager.loginWithPassword(baseFor(first), typed, onSuccess(reports), onFailed(reports));
            QTRY_COMPARE(reports->successes.size(), 1);
        }
        const QStringList known = ServerInfoManager::knownPasswords(baseFor(first).systemName);
        QCOMPARE(known.count(typed), 1);
        QCOMPARE(known.mid(0, 2), defaultPasswords());
        QCOMPARE(known.last(), typed);

        const auto loginWithKnown = [&otherManager](const BaseServerInfo &base) {
            auto reports = std::make_shared<Reports>();
            otherManager.loginWithKnownPasswords(base, onSuccess(reports), onFailed(reports));
            return reports;
        };
        auto reports = loginWithKnown(baseFor(second));
        QTRY_COMPARE(reports->count(), 1);
        QCOMPARE(reports->successes.value(0).extra.password, typed);
        QCOMPARE(timeReadPasswords(second), known);

        const QString other = QStringLiteral("other-%1").arg(QUuid::createUuid().toString());
        BaseServerInfo stranger = baseFor(elsewhere);
        stranger.systemName = other;
        reports = loginWithKnown(stranger);
        QTRY_COMPARE(reports->count(), 1);
        QCOMPARE(reports->failures.value(0), qMakePair(stranger.id, 401));
        QCOMPARE(timeReadPasswords(elsewhere), defaultPasswords());

        ServerInfoManager::systemRenamed(baseFor(first).systemName, other);
        reports = loginWithKnown(stranger);
        QTRY_COMPARE(reports->count(), 1);
        QCOMPARE(reports->successes.value(0).extra.password, typed);
        QCOMPARE(ServerInfoManager::knownPasswords(baseFor(first).systemName), known);
    }

    // A refresh uses the server's own password and falls back to the known ones.
    void refresh_data()
    {
        QTest::addColumn<QString>("stored"); // empty: not logged in
        QTest::addColumn<QString>("accepted");
        QTest::addColumn<bool>("succeeds");
        QTest::newRow("own password still valid") << "refresh-only" << "refresh-only" << true;
        QTest::newRow("not logged in: first default") << QString() << defaultPasswords().at(0) << true;
        QTest::newRow("changed elsewhere to a default") << "old" << defaultPasswords().at(1) << true;
        QTest::newRow("changed elsewhere to an unknown one") << "old" << "unknown" << false;
    }

    void refresh()
    {
        QFETCH(QString, stored);
        QFETCH(QString, accepted);
        QFETCH(bool, succeeds);
        FakeHttpServer server;
        serveReads(server, {accepted});
        ServerInfoManager manager(nullptr);
        const BaseServerInfo base = baseFor(server);
        ServerInfo info(base);
        if (!stored.isEmpty())
            info.setExtraInfo(ExtraServerInfo(stored, 1, 2, "UTC", {}));
        const QStringList knownBefore = ServerInfoManager::knownPasswords(base.systemName);

        auto reports = std::make_shared<Reports>();
        manager.refreshExtraInfo({info}, onSuccess(reports), onFailed(reports));
        QTRY_COMPARE(reports->count(), 1);
        QTest::qWait(50);
        QCOMPARE(reports->count(), 1);

        const QString first = stored.isEmpty() ? defaultPasswords().at(0) : stored;
        QStringList expected{first};
        if (accepted != first) {
            const int tried = knownBefore.indexOf(accepted);
            expected += knownBefore.mid(0, tried < 0 ? knownBefore.size() : tried + 1);
        }
        QCOMPARE(timeReadPasswords(server), expected);
        if (succeeds) {
            QCOMPARE(reports->successes.value(0).id, base.id);
            QCOMPARE(reports->successes.value(0).extra.password, accepted);
            QCOMPARE(reports->successes.value(0).host, base.hostAddress);
        } else {
            QCOMPARE(reports->failures.value(0), qMakePair(base.id, 401));
        }
        // A refresh teaches no new password.
        QCOMPARE(ServerInfoManager::knownPasswords(base.systemName), knownBefore);
    }

    // A failure of a refresh is dropped when a refresh of the same server
    // started later has already succeeded, and only then.
    void staleRefreshFailure_data()
    {
        QTest::addColumn<bool>("slowFirst");
        QTest::newRow("earlier refresh fails last: dropped") << true;
        QTest::newRow("later refresh fails last: reported") << false;
    }

    void staleRefreshFailure()
    {
        QFETCH(bool, slowFirst);
        const QString fresh = QStringLiteral("fresh");
        FakeHttpServer server;
        // Accepts "fresh" only, and answers every refusal slowly.
        server.setHandler([fresh](const ReceivedRequest &request) {
            if (request.hasAuthorization && request.password == fresh) {
                return FakeReply::json(request.path() == QLatin1String("/api/gettime")
                                           ? "{\"reply\":{\"utcTime\":\"1\",\"timezoneId\":\"UTC\"}}"
                                           : "{}");
            }
            FakeReply refusal = FakeReply::unauthorized();
            refusal.delayMs = request.hasAuthorization ? 60 : 0;
            return refusal;
        });
        ServerInfoManager manager(nullptr);
        const BaseServerInfo base = baseFor(server);
        const ServerInfo stale(base, ExtraServerInfo(QStringLiteral("stale"), 1, 2, "UTC", {}));
        const ServerInfo current(base, ExtraServerInfo(fresh, 1, 2, "UTC", {}));

        auto reports = std::make_shared<Reports>();
        manager.refreshExtraInfo({slowFirst ? stale : current}, onSuccess(reports), onFailed(reports));
        QTest::qWait(20);
        manager.refreshExtraInfo({slowFirst ? current : stale}, onSuccess(reports), onFailed(reports));

        const int refusedReads = 1 + ServerInfoManager::knownPasswords(base.systemName).size();
        QTRY_COMPARE(timeReadPasswords(server).size(), refusedReads + 1);
        QTest::qWait(200);
        QCOMPARE(reports->successes.size(), 1);
        QCOMPARE(reports->successes.first().extra.password, fresh);
        QCOMPARE(reports->failures.size(), slowFirst ? 0 : 1);
        if (!slowFirst)
            QCOMPARE(reports->failures.first(), qMakePair(base.id, 401));
    }

    void nothingToRefresh()
    {
        FakeHttpServer server;
        ServerInfoManager manager(nullptr);
        auto reports = std::make_shared<Reports>();
        manager.refreshExtraInfo({}, onSuccess(reports), onFailed(reports));
        QTest::qWait(50);
        QCOMPARE(server.connectionCount(), 0);
        QCOMPARE(reports->count(), 0);
    }

    void destroyedManagerReportsNothing()
    {
        FakeHttpServer server;
        FakeReply late = FakeReply::json("{}", 500, "Late");
        late.delayMs = 50;
        server.setDefaultReply(late);
        auto reports = std::make_shared<Reports>();
        {
            ServerInfoManager manager(nullptr, shortTimeouts());
            manager.loginWithKnownPasswords(baseFor(server), onSuccess(reports), onFailed(reports));
            manager.loginWithPassword(baseFor(server), QStringLiteral("x"), onSuccess(reports), onFailed(reports));
            QTRY_COMPARE(server.requests().size(), 2);
        }
        QTest::qWait(400);
        QCOMPARE(reports->count(), 0);
    }

    void loginsWaitForAFreePlace()
    {
        // Slow answers keep the places taken long enough to count the requests.
        FakeHttpServer server;
        server.requireBasicAuth({defaultPasswords().at(0), QStringLiteral("typed")});
        server.setHandler([](const ReceivedRequest &request) {
            FakeReply reply = request.path() == QLatin1String("/api/gettime")
                                  ? FakeReply::json("{\"error\":\"0\",\"reply\":{\"utcTime\":\"1700000000000\","
                                                    "\"timezoneId\":\"UTC\"}}")
                                  : FakeReply::json("{}", 500, "No interfaces");
            reply.delayMs = 400;
            return reply;
        });
        ServerInfoManager::Timeouts timeouts;
        timeouts.concurrentLogins = 2;
        ServerInfoManager manager(nullptr, timeouts);
        auto reports = std::make_shared<Reports>();
        auto timeReads = [&server](const QString &password) {
            int count = 0;
            for (const ReceivedRequest &request : server.authenticatedRequests())
                count += request.path() == QLatin1String("/api/gettime") && request.password == password;
            return count;
        };

        for (int index = 0; index < 3; ++index)
            manager.loginWithKnownPasswords(baseFor(server), onSuccess(reports), onFailed(reports));
        ServerInfo known(baseFor(server), ExtraServerInfo(defaultPasswords().at(0), 0, 0, QByteArray(), {}));
        manager.refreshExtraInfo({known, known}, onSuccess(reports), onFailed(reports));
        QTRY_COMPARE(timeReads(defaultPasswords().at(0)), 2);
        // The operator's login does not queue behind automatic ones.
        manager.loginWithPassword(baseFor(server), QStringLiteral("typed"), onSuccess(reports), onFailed(reports));
        QTRY_COMPARE(timeReads(QStringLiteral("typed")), 1);
        QCOMPARE(timeReads(defaultPasswords().at(0)), 2);
        QCOMPARE(reports->count(), 0);

        // Each report frees a place for the next waiting one; all report once.
        QTRY_COMPARE_WITH_TIMEOUT(reports->successes.size(), 6, 10000);
        QCOMPARE(reports->failures.size(), 0);
        QCOMPARE(timeReads(defaultPasswords().at(0)), 5);
    }
};

QTEST_GUILESS_MAIN(TestServerInfoManager)
#include "tst_server_info_manager.moc"
