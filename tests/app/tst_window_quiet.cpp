#include "peer_sim.h"
#include "private_network.h"

#include <QProcess>
#include <QtTest>

using rtu::test::PeerSim;

// The window writes nothing of its own unless its diagnostics are switched
// on: a run that finds, logs in to and refreshes servers prints no line of
// the tool's categories.
class TestWindowQuiet : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { TESSALY_REQUIRE_PRIVATE_NETWORK(); }

    void silentWithoutRules()
    {
        PeerSim sim;
        QVERIFY2(sim.start(QByteArrayLiteral(R"({"servers": [
            {"name": "Open", "systemName": "Lab", "addresses": ["127.0.0.2"]},
            {"name": "Locked", "systemName": "Vault", "addresses": ["127.0.0.3"], "password": "Vault-Key-9"}]})")),
                 qPrintable(sim.errorString()));
        QProcess tool;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("QT_LOGGING_RULES"));
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        environment.insert(QStringLiteral("QT_QUICK_BACKEND"), QStringLiteral("software"));
        tool.setProcessEnvironment(environment);
        tool.start(QCoreApplication::applicationDirPath() + QStringLiteral("/tessaly-config-tool"), QStringList());
        QVERIFY(tool.waitForStarted(10000));
        // The first discovery cycle comes 2 s after the start; the logins
        // and the locked server's refusals follow at once.
        QTRY_VERIFY2_WITH_TIMEOUT(sim.requestLog().size() >= 4, tool.readAllStandardError().constData(), 15000);
        QTest::qWait(500);
        tool.terminate();
        if (!tool.waitForFinished(10000))
            tool.kill();
        const QByteArray err = tool.readAllStandardError();
        QVERIFY2(!err.contains("rtu."), err.constData());
    }
};

QTEST_GUILESS_MAIN(TestWindowQuiet)
#include "tst_window_quiet.moc"
