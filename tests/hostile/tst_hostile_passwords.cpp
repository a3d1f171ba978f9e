#include "hostile_run.h"
#include "private_network.h"

using namespace rtu;
using rtu::test::HostileRun;
using rtu::test::peers;

// A host that takes no password fishes for the ones the operator types.
class TestHostilePasswords : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { TESSALY_REQUIRE_PRIVATE_NETWORK(); }

    // The password the operator types for one system goes to that system's
    // servers only, not to a host that shows up later elsewhere.
    void typedPasswordStaysWithItsSystem()
    {
        HostileRun run;
        QVERIFY2(run.start(peers(R"([{"name": "Vault", "systemName": "Vault", "password": "vault-secret-1"},
                                     {"name": "Hostile", "systemName": "Elsewhere",
                                      "knobs": {"discovery": false, "auth": "never"}}])")),
                 qPrintable(run.sim.errorString()));
        QTRY_VERIFY_WITH_TIMEOUT(run.goodServersLoggedIn() && run.rowOf(QStringLiteral("Vault")) >= 0
                                     && run.requestsTo(QStringLiteral("Vault")) >= 2,
                                 HostileRun::kWaitMs);
        run.context->tryLoginWith(QStringLiteral("Vault"), QStringLiteral("vault-secret-1"));
        QTRY_VERIFY_WITH_TIMEOUT(run.loggedIn(QStringLiteral("Vault")), HostileRun::kWaitMs);

        // A host that takes no password: the tool tries what it knows.
        QVERIFY(!run.sim.setKnobs(QStringLiteral("Hostile"), {{QStringLiteral("discovery"), true}}).isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(run.requestsTo(QStringLiteral("Hostile")) > 0, HostileRun::kWaitMs);
        QTest::qWait(1500);
        QStringList offered;
        for (const QJsonValue &entry : run.sim.requestLog()) {
            if (entry[QStringLiteral("name")].toString() == QLatin1String("Hostile"))
                offered.append(entry[QStringLiteral("auth")][QStringLiteral("password")].toString());
        }
        qInfo("the host of another system was asked %d times, with: %s", int(offered.size()),
              qPrintable(offered.join(QLatin1Char(' '))));
        QVERIFY(!offered.contains(QStringLiteral("vault-secret-1")));
        run.changeGoodServers(QStringLiteral("Renamed"));
    }

    // A host answered with a locked server's id before the server itself
    // did. While both answer, the password the operator types goes to
    // neither, and the operator hears that the login failed.
    void typedPasswordNotSentWhileTwoHostsAnswer()
    {
        HostileRun run;
        QVERIFY2(run.start(peers(R"([
            {"id": "{c0ffee00-0000-4000-8000-0000000000aa}", "name": "Vault", "systemName": "Vault",
             "password": "vault-secret-2", "impostor": true, "addresses": ["127.0.0.21"]},
            {"id": "{c0ffee00-0000-4000-8000-0000000000aa}", "name": "Vault real", "systemName": "Vault",
             "password": "vault-secret-2", "addresses": ["127.0.0.20"], "knobs": {"discovery": false}}])")),
                 qPrintable(run.sim.errorString()));
        QTRY_VERIFY_WITH_TIMEOUT(run.goodServersLoggedIn() && run.rowOf(QStringLiteral("Vault")) >= 0,
                                 HostileRun::kWaitMs);
        QVERIFY(!run.sim.setKnobs(QStringLiteral("Vault real"), {{QStringLiteral("discovery"), true}}).isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(!run.role(QStringLiteral("Vault"), ServersSelectionModel::ConflictRole)
                                      .toString()
                                      .isEmpty(),
                                 HostileRun::kWaitMs);
        QSignalSpy failed(run.context.get(), &RtuContext::loginOperationFailed);
        run.context->tryLoginWith(QStringLiteral("Vault"), QStringLiteral("vault-secret-2"));
        QTRY_COMPARE(failed.count(), 1);
        QTest::qWait(500);
        for (const QJsonValue &entry : run.sim.requestLog())
            QVERIFY2(entry[QStringLiteral("auth")][QStringLiteral("password")].toString() != "vault-secret-2",
                     qPrintable(entry[QStringLiteral("local")].toString()));
    }
};

QTEST_GUILESS_MAIN(TestHostilePasswords)
#include "tst_hostile_passwords.moc"
