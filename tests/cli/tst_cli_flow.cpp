#include "peer_sim.h"
#include "private_network.h"

#include <QtTest>

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QScopeGuard>

#include <csignal>

using rtu::test::PeerSim;

namespace {

// Three servers of "Lab" and one of "Yard", each on its own address.
const char kFleet[] = R"({"servers": [
  {"id": "{c11a0000-0000-4000-8000-000000000001}", "name": "Lab One", "systemName": "Lab", "addresses": ["127.0.0.2"]},
  {"id": "{c11a0000-0000-4000-8000-000000000002}", "name": "Lab Two", "systemName": "Lab", "addresses": ["127.0.0.3"]},
  {"id": "{c11a0000-0000-4000-8000-000000000003}", "name": "Lab Three", "systemName": "Lab", "addresses": ["127.0.0.4"]},
  {"id": "{c11a0000-0000-4000-8000-000000000004}", "name": "Yard One", "systemName": "Yard", "addresses": ["127.0.0.5"]}
]})";

const QString kLabTwo = QStringLiteral("{c11a0000-0000-4000-8000-000000000002}");

// How one run of the command ended.
struct Run
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
    qint64 elapsedMs = 0;

    QJsonObject json() const { return QJsonDocument::fromJson(out).object(); }
    QJsonArray results() const { return json().value(QStringLiteral("results")).toArray(); }
    QString describe() const
    {
        return QStringLiteral("exit %1\n--- stdout\n%2\n--- stderr\n%3")
            .arg(exitCode)
            .arg(QString::fromUtf8(out), QString::fromUtf8(err));
    }
};

QString commandPath()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/tessaly-config-cli");
}

// Starts the command; the caller may act while it runs, then finishes it.
class Command
{
public:
    explicit Command(const QStringList &arguments, const QByteArray &input = QByteArray())
    {
        m_clock.start();
        m_process.start(commandPath(), arguments);
        if (m_process.waitForStarted(10000)) {
            m_process.write(input);
            m_process.closeWriteChannel();
        }
    }

    // Reads standard error until it holds the text.
    bool waitForError(const QString &text, int timeoutMs = 20000)
    {
        QElapsedTimer clock;
        clock.start();
        while (!QString::fromUtf8(m_err).contains(text)) {
            if (clock.elapsed() > timeoutMs || m_process.state() == QProcess::NotRunning)
                return false;
            m_process.waitForReadyRead(50);
            m_err += m_process.readAllStandardError();
        }
        return true;
    }

    qint64 processId() const { return m_process.processId(); }

    Run finish(int timeoutMs = 60000)
    {
        Run run;
        if (!m_process.waitForFinished(timeoutMs))
            m_process.kill();
        run.elapsedMs = m_clock.elapsed();
        run.exitCode = m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
        run.out = m_process.readAllStandardOutput();
        run.err = m_err + m_process.readAllStandardError();
        return run;
    }

private:
    QProcess m_process;
    QElapsedTimer m_clock;
    QByteArray m_err;
};

Run runCommand(const QStringList &arguments, const QByteArray &input = QByteArray())
{
    return Command(arguments, input).finish();
}

int commandsOf(PeerSim &sim, const QStringList &paths)
{
    int count = 0;
    for (const QJsonValue &entry : sim.requestLog()) {
        const QJsonObject request = entry.toObject();
        count += paths.contains(request.value(QStringLiteral("path")).toString())
                         && request.value(QStringLiteral("authorized")).toBool()
                     ? 1
                     : 0;
    }
    return count;
}

int changeRequests(PeerSim &sim)
{
    return commandsOf(sim, {QStringLiteral("/api/configure"), QStringLiteral("/api/ifconfig"),
                            QStringLiteral("/api/settime")});
}

// Does the simulated server hold what a result row says was changed?
bool serverHolds(const QJsonObject &state, const QJsonObject &row)
{
    const QString setting = row.value(QStringLiteral("setting")).toString();
    const QString value = row.value(QStringLiteral("value")).toString();
    if (setting == QLatin1String("system name"))
        return state.value(QStringLiteral("systemName")).toString() == value;
    if (setting == QLatin1String("port"))
        return QString::number(state.value(QStringLiteral("port")).toInt()) == value;
    return false;
}

} // namespace

class TestCliFlow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        TESSALY_REQUIRE_PRIVATE_NETWORK();
        QVERIFY2(QFile::exists(commandPath()), qPrintable(commandPath()));
    }

    void listsAThousandServersInThreeSeconds()
    {
        PeerSim sim;
        QVERIFY2(sim.start(QByteArrayLiteral("{}"), {QStringLiteral("--generate"), QStringLiteral("1000"),
                                                     QStringLiteral("--systems"), QStringLiteral("50"),
                                                     QStringLiteral("--quiet-discovery")}),
                 qPrintable(sim.errorString()));
        const Run run = runCommand({QStringLiteral("list"), QStringLiteral("--json")});
        QVERIFY2(run.exitCode == 0, qPrintable(run.describe()));
        // Three seconds of looking, and no more than the start and the exit beside them.
        QVERIFY2(run.elapsedMs < 4500, qPrintable(QStringLiteral("took %1 ms").arg(run.elapsedMs)));
        const QJsonObject listing = run.json();
        QCOMPARE(listing.value(QStringLiteral("serversCount")).toInt(), 1000);
        QCOMPARE(listing.value(QStringLiteral("loggedInCount")).toInt(), 1000);
        const QJsonArray systems = listing.value(QStringLiteral("systems")).toArray();
        QCOMPARE(systems.size(), 50);
        QSet<QString> ids;
        for (const QJsonValue &system : systems) {
            for (const QJsonValue &value : system.toObject().value(QStringLiteral("servers")).toArray()) {
                const QJsonObject server = value.toObject();
                ids.insert(server.value(QStringLiteral("id")).toString());
                QVERIFY(!server.value(QStringLiteral("address")).toString().isEmpty());
                QCOMPARE(server.value(QStringLiteral("password")).toString(), QStringLiteral("default"));
            }
        }
        QCOMPARE(ids.size(), 1000);
    }

    // The same requests in the same order as the window's batch, and a
    // summary that says what the servers now hold.
    void renamesASystemAndMovesItsPort()
    {
        PeerSim sim;
        QVERIFY2(sim.start(QByteArray(kFleet)), qPrintable(sim.errorString()));
        const Run run = runCommand({QStringLiteral("apply"), QStringLiteral("--system"), QStringLiteral("Lab"),
                                    QStringLiteral("--set-system-name"), QStringLiteral("Depot"),
                                    QStringLiteral("--set-port"), QStringLiteral("7010"), QStringLiteral("--json"),
                                    QStringLiteral("--wait"), QStringLiteral("1")});
        QVERIFY2(run.exitCode == 0, qPrintable(run.describe()));
        QVERIFY(run.err.contains("selected 3 servers"));

        const QJsonArray results = run.results();
        QCOMPARE(results.size(), 6);
        QSet<QString> servers;
        for (const QJsonValue &value : results) {
            const QJsonObject row = value.toObject();
            QCOMPARE(row.value(QStringLiteral("result")).toString(), QStringLiteral("ok"));
            const QJsonObject state = sim.server(row.value(QStringLiteral("id")).toString());
            QVERIFY2(serverHolds(state, row), qPrintable(QJsonDocument(row).toJson()));
            servers.insert(row.value(QStringLiteral("id")).toString());
        }
        QCOMPARE(servers.size(), 3);
        QCOMPARE(sim.server(QStringLiteral("Yard One")).value(QStringLiteral("systemName")).toString(),
                 QStringLiteral("Yard"));

        // Names server by server, then ports, one request after another.
        QStringList changes;
        for (const QJsonValue &entry : sim.requestLog()) {
            const QJsonObject request = entry.toObject();
            if (request.value(QStringLiteral("path")).toString() != QLatin1String("/api/configure"))
                continue;
            const QJsonArray query = request.value(QStringLiteral("query")).toArray();
            changes.append(query.first().toArray().first().toString());
        }
        QCOMPARE(changes, QStringList({QStringLiteral("systemName"), QStringLiteral("systemName"),
                                       QStringLiteral("systemName"), QStringLiteral("port"), QStringLiteral("port"),
                                       QStringLiteral("port")}));
    }

    // With every diagnostic switched on, the lines of each category are
    // there and still no password, in the open or in base64. With none,
    // nothing of them.
    void locksOpenWithAPasswordFromStandardInput_data()
    {
        QTest::addColumn<QByteArray>("loginPassword");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<bool>("diagnostics");
        QTest::newRow("right password") << QByteArray("Vault-Key-7") << 0 << false;
        QTest::newRow("wrong password") << QByteArray("guess") << 3 << false;
        QTest::newRow("right password, diagnostics on") << QByteArray("Vault-Key-7") << 0 << true;
        QTest::newRow("wrong password, diagnostics on") << QByteArray("guess") << 3 << true;
    }

    void locksOpenWithAPasswordFromStandardInput()
    {
        QFETCH(QByteArray, loginPassword);
        QFETCH(int, exitCode);
        QFETCH(bool, diagnostics);
        if (diagnostics)
            qputenv("QT_LOGGING_RULES", "rtu.*=true");
        const auto restore = qScopeGuard([] { qunsetenv("QT_LOGGING_RULES"); });
        PeerSim sim;
        QVERIFY2(sim.start(QByteArrayLiteral(R"({"servers": [
            {"name": "Vault A", "systemName": "Vault", "addresses": ["127.0.0.2"], "password": "Vault-Key-7"},
            {"name": "Vault B", "systemName": "Vault", "addresses": ["127.0.0.3"], "password": "Vault-Key-7"}]})")),
                 qPrintable(sim.errorString()));
        const QByteArray newPassword = QByteArrayLiteral("Fresh-Key-8");
        const Run run = runCommand({QStringLiteral("apply"), QStringLiteral("--login"), QStringLiteral("Vault"),
                                    QStringLiteral("--system"), QStringLiteral("Vault"),
                                    QStringLiteral("--set-password"), QStringLiteral("--json"),
                                    QStringLiteral("--wait"), QStringLiteral("1")},
                                   loginPassword + '\n' + newPassword + '\n');
        QVERIFY2(run.exitCode == exitCode, qPrintable(run.describe()));
        // Never shown, whatever happened: neither these, nor the defaults
        // the fleet refused, nor what a Basic header would carry.
        QByteArrayList secrets;
        for (const QByteArray &password : {loginPassword, newPassword, QByteArray("Vault-Key-7"), QByteArray("738"),
                                           QByteArray("morvy")}) {
            if (password.size() > 3)
                secrets << password << password.toBase64();
            secrets << ("admin:" + password).toBase64();
        }
        for (const QByteArray &secret : qAsConst(secrets)) {
            QVERIFY2(!run.out.contains(secret), secret.constData());
            QVERIFY2(!run.err.contains(secret), secret.constData());
        }
        for (const char *category : {"rtu.discovery: ", "rtu.http: ", "rtu.login: ", "rtu.changes: "}) {
            if (diagnostics && (exitCode == 0 || qstrcmp(category, "rtu.changes: ") != 0))
                QVERIFY2(run.err.contains(category), category);
            else if (!diagnostics)
                QVERIFY2(!run.err.contains(category), category);
        }
        if (exitCode != 0) {
            QVERIFY(run.err.contains("login to system \"Vault\" failed"));
            QCOMPARE(changeRequests(sim), 0);
            QCOMPARE(sim.server(QStringLiteral("Vault A")).value(QStringLiteral("password")).toString(),
                     QStringLiteral("Vault-Key-7"));
            return;
        }
        const QJsonArray results = run.results();
        QCOMPARE(results.size(), 2);
        for (const QJsonValue &value : results) {
            const QJsonObject row = value.toObject();
            QCOMPARE(row.value(QStringLiteral("setting")).toString(), QStringLiteral("password"));
            QCOMPARE(row.value(QStringLiteral("result")).toString(), QStringLiteral("ok"));
            QCOMPARE(sim.server(row.value(QStringLiteral("id")).toString()).value(QStringLiteral("password")).toString(),
                     QString::fromUtf8(newPassword));
        }
    }

    void aRefusingServerFailsTheRun()
    {
        PeerSim sim;
        QVERIFY2(sim.start(QByteArray(kFleet)), qPrintable(sim.errorString()));
        QVERIFY(!sim.setKnobs(kLabTwo, {{QStringLiteral("refuse"), QJsonArray{QStringLiteral("port")}},
                                        {QStringLiteral("refuseString"), QStringLiteral("Port is locked")}})
                     .isEmpty());
        const Run run = runCommand({QStringLiteral("apply"), QStringLiteral("--system"), QStringLiteral("Lab"),
                                    QStringLiteral("--set-port"), QStringLiteral("7010"), QStringLiteral("--wait"),
                                    QStringLiteral("1"), QStringLiteral("--json")});
        QVERIFY2(run.exitCode == 1, qPrintable(run.describe()));
        QCOMPARE(run.json().value(QStringLiteral("failed")).toInt(), 1);
        QCOMPARE(run.json().value(QStringLiteral("succeeded")).toInt(), 2);
        for (const QJsonValue &value : run.results()) {
            const QJsonObject row = value.toObject();
            const bool refused = row.value(QStringLiteral("id")).toString() == kLabTwo;
            QCOMPARE(row.value(QStringLiteral("result")).toString(),
                     refused ? QStringLiteral("failed") : QStringLiteral("ok"));
            QCOMPARE(row.value(QStringLiteral("reason")).toString(), refused ? QStringLiteral("Port is locked") : QString());
            QCOMPARE(serverHolds(sim.server(row.value(QStringLiteral("id")).toString()), row), !refused);
        }
    }

    // As in the window: the change counts once discovery finds the server at
    // its new address and a read of its interfaces there shows it.
    void anInterfaceChangeIsConfirmedByRediscovery()
    {
        PeerSim sim;
        QVERIFY2(sim.start(QByteArrayLiteral(R"({"servers": [
            {"id": "{c11a0000-0000-4000-8000-000000000009}", "name": "Mover", "systemName": "Lab",
             "addresses": ["127.0.0.2"],
             "interfaces": [{"name": "eth0", "ipAddr": "127.0.0.2", "netMask": "255.0.0.0"}],
             "knobs": {"ifconfigDelayMs": 200}}]})")),
                 qPrintable(sim.errorString()));
        const Run run = runCommand({QStringLiteral("apply"), QStringLiteral("--server"),
                                    QStringLiteral("c11a0000-0000-4000-8000-000000000009"), QStringLiteral("--set-ip"),
                                    QStringLiteral("eth0=127.0.0.9/8,gw=127.0.0.1"), QStringLiteral("--json"),
                                    QStringLiteral("--wait"), QStringLiteral("1")});
        QVERIFY2(run.exitCode == 0, qPrintable(run.describe()));
        QStringList settings;
        for (const QJsonValue &value : run.results()) {
            QCOMPARE(value.toObject().value(QStringLiteral("result")).toString(), QStringLiteral("ok"));
            settings.append(value.toObject().value(QStringLiteral("setting")).toString());
        }
        QCOMPARE(settings, QStringList({QStringLiteral("dhcp"), QStringLiteral("ip"), QStringLiteral("mask"),
                                        QStringLiteral("gateway")}));
        QCOMPARE(sim.server(QStringLiteral("Mover")).value(QStringLiteral("addresses")).toArray(),
                 QJsonArray{QStringLiteral("127.0.0.9")});
        // The confirming read went to the new address, after the change.
        bool changed = false;
        bool confirmed = false;
        for (const QJsonValue &entry : sim.requestLog()) {
            const QJsonObject request = entry.toObject();
            const QString path = request.value(QStringLiteral("path")).toString();
            changed = changed || path == QLatin1String("/api/ifconfig");
            confirmed = confirmed
                        || (changed && path == QLatin1String("/api/iflist")
                            && request.value(QStringLiteral("local")).toString().startsWith(QLatin1String("127.0.0.9:")));
        }
        QVERIFY(confirmed);
    }

    // Ctrl-C: the request under way is answered, nothing else goes out, and
    // the summary says what was not sent.
    void ctrlCLeavesTheRestUnsent()
    {
        PeerSim sim;
        QVERIFY2(sim.start(QByteArray(kFleet)), qPrintable(sim.errorString()));
        for (const QString &name : {QStringLiteral("Lab One"), QStringLiteral("Lab Two"), QStringLiteral("Lab Three")})
            QVERIFY(!sim.setKnobs(name, {{QStringLiteral("delayMs"), 300}}).isEmpty());
        Command command({QStringLiteral("apply"), QStringLiteral("--system"), QStringLiteral("Lab"),
                         QStringLiteral("--set-system-name"), QStringLiteral("Depot"), QStringLiteral("--set-port"),
                         QStringLiteral("7010"), QStringLiteral("--json"), QStringLiteral("--wait"),
                         QStringLiteral("2")});
        QVERIFY(command.waitForError(QStringLiteral("applying 6 changes")));
        ::kill(pid_t(command.processId()), SIGINT);
        const Run run = command.finish();
        QVERIFY2(run.exitCode == 130, qPrintable(run.describe()));
        QVERIFY(run.json().value(QStringLiteral("interrupted")).toBool());

        int notSent = 0;
        int answered = 0;
        for (const QJsonValue &value : run.results()) {
            const QJsonObject row = value.toObject();
            const QString result = row.value(QStringLiteral("result")).toString();
            const bool held = serverHolds(sim.server(row.value(QStringLiteral("id")).toString()), row);
            if (result == QLatin1String("not sent")) {
                ++notSent;
                QVERIFY(!held);
            } else {
                ++answered;
                QCOMPARE(result, QStringLiteral("ok"));
                QVERIFY(held);
            }
        }
        QCOMPARE(notSent + answered, 6);
        QVERIFY2(notSent >= 3, qPrintable(run.describe()));
        QCOMPARE(run.json().value(QStringLiteral("notSent")).toInt(), notSent);
        QCOMPARE(changeRequests(sim), answered);
    }

    // The cases below share one fleet that stays up to the end, so they
    // come last: a fleet holds its addresses and the discovery port.

    // Refused before anything is sent: nothing reaches the fleet, not even
    // a discovery request.
    void usageErrorsSendNothing_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("message");
        const QStringList all{QStringLiteral("apply"), QStringLiteral("--all")};
        QTest::newRow("blank name") << all + QStringList{QStringLiteral("--set-system-name"), QStringLiteral(" ")}
                                    << "invalid system name";
        QTest::newRow("port 0") << all + QStringList{QStringLiteral("--set-port"), QStringLiteral("0")} << "invalid port";
        QTest::newRow("port 65536") << all + QStringList{QStringLiteral("--set-port"), QStringLiteral("65536")}
                                    << "invalid port";
        QTest::newRow("unknown zone") << all + QStringList{QStringLiteral("--set-zone"), QStringLiteral("Moon/Base")}
                                      << "unknown time zone";
        QTest::newRow("incomplete address")
            << QStringList{QStringLiteral("apply"), QStringLiteral("--server"), kLabTwo, QStringLiteral("--set-ip"),
                           QStringLiteral("eth0=127.0.0/8")}
            << "invalid ip address";
        QTest::newRow("no selection") << QStringList{QStringLiteral("apply"), QStringLiteral("--set-port"),
                                                     QStringLiteral("7010")}
                                      << "needs a selection";
        QTest::newRow("unknown option") << QStringList{QStringLiteral("list"), QStringLiteral("--everything")}
                                        << "Unknown option";
        QTest::newRow("missing new password") << all + QStringList{QStringLiteral("--set-password")}
                                              << "standard input ended";
    }

    void usageErrorsSendNothing()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, message);
        if (!m_quietFleet.isRunning())
            QVERIFY2(m_quietFleet.start(QByteArray(kFleet)), qPrintable(m_quietFleet.errorString()));
        m_quietFleet.clearLog();
        const Run run = runCommand(arguments);
        QVERIFY2(run.exitCode == 2, qPrintable(run.describe()));
        QVERIFY2(run.err.contains(message.toUtf8()), qPrintable(run.describe()));
        QVERIFY(run.out.isEmpty());
        QCOMPARE(m_quietFleet.requestLog(QString()).size(), 0);
    }

    // Refused once the selection is known, still before any change is sent.
    void selectionErrorsChangeNothing_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("address for several servers")
            << QStringList{QStringLiteral("--system"), QStringLiteral("Lab"), QStringLiteral("--set-ip"),
                           QStringLiteral("eth0=127.0.0.9/8")}
            << "--set-ip changes one server; 3 are selected" << 2;
        QTest::newRow("DHCP for one server") << QStringList{QStringLiteral("--server"), kLabTwo,
                                                            QStringLiteral("--dhcp"), QStringLiteral("on")}
                                             << "--dhcp on is for several servers" << 2;
        QTest::newRow("unknown interface") << QStringList{QStringLiteral("--server"), kLabTwo, QStringLiteral("--set-ip"),
                                                          QStringLiteral("eth7=127.0.0.9/8")}
                                           << "has no interface \"eth7\" (it has: eth0)" << 2;
        QTest::newRow("no such system") << QStringList{QStringLiteral("--system"), QStringLiteral("Attic"),
                                                       QStringLiteral("--set-port"), QStringLiteral("7010")}
                                        << "no system \"Attic\" was found" << 3;
    }

    void selectionErrorsChangeNothing()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, message);
        QFETCH(int, exitCode);
        if (!m_quietFleet.isRunning())
            QVERIFY2(m_quietFleet.start(QByteArray(kFleet)), qPrintable(m_quietFleet.errorString()));
        const Run run = runCommand(QStringList{QStringLiteral("apply"), QStringLiteral("--wait"), QStringLiteral("0.5")}
                                   + arguments);
        QVERIFY2(run.exitCode == exitCode, qPrintable(run.describe()));
        QVERIFY2(run.err.contains(message.toUtf8()), qPrintable(run.describe()));
        QCOMPARE(changeRequests(m_quietFleet), 0);
    }

private:
    PeerSim m_quietFleet;
};

QTEST_GUILESS_MAIN(TestCliFlow)
#include "tst_cli_flow.moc"
