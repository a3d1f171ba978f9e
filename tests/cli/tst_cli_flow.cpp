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

// A server answering from two addresses, one beside it, and a system that
// refuses the default passwords.
const char kMixedFleet[] = R"({"servers": [
  {"id": "{c11a0000-0000-4000-8000-000000000011}", "name": "Gate", "systemName": "Harbour",
   "addresses": ["127.0.0.11", "127.0.0.12"],
   "interfaces": [{"name": "eth0", "ipAddr": "127.0.0.11", "netMask": "255.0.0.0"},
                  {"name": "eth1", "ipAddr": "127.0.0.12", "netMask": "255.0.0.0"}]},
  {"id": "{c11a0000-0000-4000-8000-000000000013}", "name": "Quay", "systemName": "Harbour", "addresses": ["127.0.0.13"]},
  {"id": "{c11a0000-0000-4000-8000-000000000021}", "name": "North", "systemName": "Warehouse",
   "addresses": ["127.0.0.21"], "password": "Vault-7"},
  {"id": "{c11a0000-0000-4000-8000-000000000022}", "name": "South", "systemName": "Warehouse",
   "addresses": ["127.0.0.22"], "password": "Vault-7"}
]})";

// How one run of the command ended.
struct Run
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
    qint64 elapsedMs = 0;

    QJsonObject json() const { return QJsonDocument::fromJson(out).object(); }
    QJsonArray results() const { return json().value(QStringLiteral("results")).toArray(); }
    int count(const char *outcome) const
    {
        return json().value(QStringLiteral("counts")).toObject().value(QLatin1String(outcome)).toInt(-1);
    }
    QString describe() const
    {
        return QStringLiteral("exit %1\n--- stdout\n%2\n--- stderr\n%3")
            .arg(exitCode)
            .arg(QString::fromUtf8(out.left(4000)), QString::fromUtf8(err.left(4000)));
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
        start(input);
    }

    // Through the shell, for arguments whose bytes are not text.
    static Command shell(const QString &script)
    {
        return Command(QStringLiteral("/bin/sh"),
                       {QStringLiteral("-c"), QStringLiteral("exec \"$0\" ") + script, commandPath()});
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
    Command(const QString &program, const QStringList &arguments)
    {
        m_clock.start();
        m_process.start(program, arguments);
        start(QByteArray());
    }

    void start(const QByteArray &input)
    {
        if (m_process.waitForStarted(10000)) {
            m_process.write(input);
            m_process.closeWriteChannel();
        }
    }

    QProcess m_process;
    QElapsedTimer m_clock;
    QByteArray m_err;
};

Run runCommand(const QStringList &arguments, const QByteArray &input = QByteArray())
{
    return Command(arguments, input).finish();
}

// The names of the servers that got an authorized request of these paths.
QStringList changedServers(PeerSim &sim, const QStringList &paths)
{
    QStringList names;
    for (const QJsonValue &entry : sim.requestLog()) {
        const QJsonObject request = entry.toObject();
        const QString name = request.value(QStringLiteral("name")).toString();
        if (paths.contains(request.value(QStringLiteral("path")).toString())
            && request.value(QStringLiteral("authorized")).toBool() && !names.contains(name))
            names.append(name);
    }
    names.sort();
    return names;
}

int changeRequests(PeerSim &sim)
{
    int count = 0;
    for (const QJsonValue &entry : sim.requestLog()) {
        const QString path = entry.toObject().value(QStringLiteral("path")).toString();
        count += path == QLatin1String("/api/configure") || path == QLatin1String("/api/ifconfig")
                         || path == QLatin1String("/api/settime")
                     ? 1
                     : 0;
    }
    return count;
}

// Does the simulated server hold what a result row says was changed?
bool serverHolds(const QJsonObject &state, const QJsonObject &row)
{
    const QString setting = row.value(QStringLiteral("setting")).toString();
    const QString value = row.value(QStringLiteral("value")).toString();
    if (setting == QLatin1String("systemName"))
        return state.value(QStringLiteral("systemName")).toString() == value;
    if (setting == QLatin1String("port"))
        return QString::number(state.value(QStringLiteral("port")).toInt()) == value;
    return false;
}

QString outcomeOf(const QJsonValue &row)
{
    return row.toObject().value(QStringLiteral("outcome")).toString();
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

    // No --wait: the command looks until every server has a login outcome
    // and discovery went quiet for a cycle, far less than its limit.
    void listsAThousandServersOnceTheyAreLoggedIn()
    {
        PeerSim sim;
        QVERIFY2(sim.start(QByteArrayLiteral("{}"), {QStringLiteral("--generate"), QStringLiteral("1000"),
                                                     QStringLiteral("--systems"), QStringLiteral("50"),
                                                     QStringLiteral("--quiet-discovery")}),
                 qPrintable(sim.errorString()));
        const Run run = runCommand({QStringLiteral("list"), QStringLiteral("--json")});
        QVERIFY2(run.exitCode == 0, qPrintable(run.describe()));
        QVERIFY2(run.elapsedMs < 15000, qPrintable(QStringLiteral("took %1 ms").arg(run.elapsedMs)));
        const QJsonObject listing = run.json();
        QCOMPARE(listing.value(QStringLiteral("formatVersion")).toInt(), 1);
        const QJsonObject counts = listing.value(QStringLiteral("counts")).toObject();
        QCOMPARE(counts.value(QStringLiteral("servers")).toInt(), 1000);
        QCOMPARE(counts.value(QStringLiteral("loggedIn")).toInt(), 1000);
        QCOMPARE(listing.value(QStringLiteral("systems")).toArray().size(), 50);
        QSet<QString> ids;
        for (const QJsonValue &value : listing.value(QStringLiteral("servers")).toArray()) {
            const QJsonObject server = value.toObject();
            ids.insert(server.value(QStringLiteral("id")).toString());
            QCOMPARE(server.value(QStringLiteral("addresses")).toArray().size(), 1);
            QCOMPARE(server.value(QStringLiteral("login")).toObject().value(QStringLiteral("password")).toString(),
                     QStringLiteral("default"));
        }
        QCOMPARE(ids.size(), 1000);
    }

    // A server first heard in the second discovery cycle is waited for,
    // found, logged in and changed with the rest.
    void aServerThatAnswersLateIsWaitedFor()
    {
        PeerSim sim;
        QVERIFY2(sim.start(QByteArray(kFleet)), qPrintable(sim.errorString()));
        QVERIFY(!sim.setKnobs(QStringLiteral("Yard One"), {{QStringLiteral("discovery"), false}}).isEmpty());
        Command command({QStringLiteral("apply"), QStringLiteral("--all"), QStringLiteral("--set-system-name"),
                         QStringLiteral("Depot"), QStringLiteral("--json")});
        QVERIFY(command.waitForError(QStringLiteral("looking for servers")));
        // Between the first request and the second.
        QTest::qWait(1000);
        QVERIFY(!sim.setKnobs(QStringLiteral("Yard One"), {{QStringLiteral("discovery"), true}}).isEmpty());
        const Run run = command.finish();
        QVERIFY2(run.exitCode == 0, qPrintable(run.describe()));
        QCOMPARE(run.count("ok"), 4);
        QCOMPARE(sim.server(QStringLiteral("Yard One")).value(QStringLiteral("systemName")).toString(),
                 QStringLiteral("Depot"));
    }

    // The same requests in the same order as the window's batch, a summary
    // that says what the servers now hold, and the new port announced.
    void renamesASystemAndMovesItsPort()
    {
        PeerSim sim;
        QVERIFY2(sim.start(QByteArray(kFleet)), qPrintable(sim.errorString()));
        const Run run = runCommand({QStringLiteral("apply"), QStringLiteral("--system"), QStringLiteral("Lab"),
                                    QStringLiteral("--set-system-name"), QStringLiteral("Depot"),
                                    QStringLiteral("--set-port"), QStringLiteral("7010"), QStringLiteral("--json")});
        QVERIFY2(run.exitCode == 0, qPrintable(run.describe()));
        QVERIFY(run.err.contains("selected 3 servers"));

        const QJsonArray results = run.results();
        QCOMPARE(results.size(), 6);
        QSet<QString> servers;
        for (const QJsonValue &value : results) {
            const QJsonObject row = value.toObject();
            QCOMPARE(outcomeOf(row), QStringLiteral("ok"));
            const QJsonObject state = sim.server(row.value(QStringLiteral("id")).toString());
            QVERIFY2(serverHolds(state, row), qPrintable(QJsonDocument(row).toJson()));
            QCOMPARE(row.value(QStringLiteral("oldValue")).toString(),
                     row.value(QStringLiteral("setting")).toString() == QLatin1String("port") ? QStringLiteral("7001")
                                                                                               : QStringLiteral("Lab"));
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

    // A server that says yes to a port and keeps announcing the old one:
    // the window follows what it announces, and the row says it failed.
    void aPortThatIsNotAnnouncedFails()
    {
        PeerSim sim;
        QVERIFY2(sim.start(QByteArray(kFleet)), qPrintable(sim.errorString()));
        QVERIFY(!sim.setKnobs(kLabTwo, {{QStringLiteral("ignorePort"), true}}).isEmpty());
        const Run run = runCommand({QStringLiteral("apply"), QStringLiteral("--server"), kLabTwo,
                                    QStringLiteral("--server"), QStringLiteral("127.0.0.2"), QStringLiteral("--set-port"),
                                    QStringLiteral("7010"), QStringLiteral("--json"), QStringLiteral("--wait"),
                                    QStringLiteral("1")});
        QVERIFY2(run.exitCode == 1, qPrintable(run.describe()));
        QCOMPARE(run.results().size(), 2);
        for (const QJsonValue &value : run.results()) {
            const QJsonObject row = value.toObject();
            const bool ignoring = row.value(QStringLiteral("id")).toString() == kLabTwo;
            QCOMPARE(outcomeOf(row), ignoring ? QStringLiteral("failed") : QStringLiteral("ok"));
            QCOMPARE(row.value(QStringLiteral("reasonCode")).toString(),
                     ignoring ? QStringLiteral("portNotAnnounced") : QString());
            if (ignoring)
                QVERIFY2(row.value(QStringLiteral("reason")).toString().contains(QStringLiteral("still announces port 7001")),
                         qPrintable(row.value(QStringLiteral("reason")).toString()));
        }
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
                                    QStringLiteral("--set-password"), QStringLiteral("--json")},
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
            QVERIFY(run.err.contains("--system Vault: locked"));
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
            QCOMPARE(outcomeOf(row), QStringLiteral("ok"));
            QVERIFY(row.value(QStringLiteral("value")).isNull());
            QCOMPARE(sim.server(row.value(QStringLiteral("id")).toString()).value(QStringLiteral("password")).toString(),
                     QString::fromUtf8(newPassword));
        }
    }

    void aRefusingServerFailsTheRun()
    {
        PeerSim sim;
        QVERIFY2(sim.start(QByteArray(kFleet)), qPrintable(sim.errorString()));
        QVERIFY(!sim.setKnobs(kLabTwo, {{QStringLiteral("refuse"), QJsonArray{QStringLiteral("systemName")}},
                                        {QStringLiteral("refuseString"), QStringLiteral("Name is locked")}})
                     .isEmpty());
        const Run run = runCommand({QStringLiteral("apply"), QStringLiteral("--system"), QStringLiteral("Lab"),
                                    QStringLiteral("--set-system-name"), QStringLiteral("Depot"),
                                    QStringLiteral("--wait"), QStringLiteral("1"), QStringLiteral("--json")});
        QVERIFY2(run.exitCode == 1, qPrintable(run.describe()));
        QCOMPARE(run.count("failed"), 1);
        QCOMPARE(run.count("ok"), 2);
        for (const QJsonValue &value : run.results()) {
            const QJsonObject row = value.toObject();
            const bool refused = row.value(QStringLiteral("id")).toString() == kLabTwo;
            QCOMPARE(outcomeOf(row), refused ? QStringLiteral("failed") : QStringLiteral("ok"));
            QCOMPARE(row.value(QStringLiteral("reasonCode")).toString(), refused ? QStringLiteral("refused") : QString());
            QCOMPARE(row.value(QStringLiteral("reason")).toString(), refused ? QStringLiteral("Name is locked") : QString());
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
                                    QStringLiteral("eth0=127.0.0.9/255.0.0.0,gw=127.0.0.1"), QStringLiteral("--json"),
                                    QStringLiteral("--wait"), QStringLiteral("1")});
        QVERIFY2(run.exitCode == 0, qPrintable(run.describe()));
        QStringList settings;
        for (const QJsonValue &value : run.results()) {
            const QJsonObject row = value.toObject();
            QCOMPARE(outcomeOf(row), QStringLiteral("ok"));
            QCOMPARE(row.value(QStringLiteral("interface")).toString(), QStringLiteral("eth0"));
            settings.append(row.value(QStringLiteral("setting")).toString() + QLatin1Char('=')
                            + row.value(QStringLiteral("oldValue")).toString());
        }
        QCOMPARE(settings, QStringList({QStringLiteral("dhcp=off"), QStringLiteral("address=127.0.0.2"),
                                        QStringLiteral("mask=255.0.0.0"), QStringLiteral("gateway=")}));
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

    // Ctrl-C or the time limit: nothing more goes out, and the summary says
    // what was not sent; Ctrl-C waits for the request under way, the limit
    // does not.
    void aStoppedRunSaysWhatItDidNotSend_data()
    {
        QTest::addColumn<bool>("byTimeLimit");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("Ctrl-C") << false << 130;
        QTest::newRow("--timeout") << true << 1;
    }

    void aStoppedRunSaysWhatItDidNotSend()
    {
        QFETCH(bool, byTimeLimit);
        QFETCH(int, exitCode);
        PeerSim sim;
        QVERIFY2(sim.start(QByteArray(kFleet)), qPrintable(sim.errorString()));
        for (const QString &name : {QStringLiteral("Lab One"), QStringLiteral("Lab Two"), QStringLiteral("Lab Three")})
            QVERIFY(!sim.setKnobs(name, {{QStringLiteral("delayMs"), 700}, {QStringLiteral("delayCommands"),
                                                                           QJsonArray{QStringLiteral("configure")}}})
                         .isEmpty());
        QStringList arguments{QStringLiteral("apply"), QStringLiteral("--system"), QStringLiteral("Lab"),
                              QStringLiteral("--set-system-name"), QStringLiteral("Depot"), QStringLiteral("--set-port"),
                              QStringLiteral("7010"), QStringLiteral("--json"), QStringLiteral("--wait"),
                              QStringLiteral("1")};
        if (byTimeLimit)
            arguments << QStringLiteral("--timeout") << QStringLiteral("2");
        Command command(arguments);
        QVERIFY(command.waitForError(QStringLiteral("applying 6 changes")));
        if (!byTimeLimit)
            ::kill(pid_t(command.processId()), SIGINT);
        const Run run = command.finish();
        QVERIFY2(run.exitCode == exitCode, qPrintable(run.describe()));
        QCOMPARE(run.json().value(QStringLiteral("interrupted")).toBool(), !byTimeLimit);
        QCOMPARE(run.json().value(QStringLiteral("timedOut")).toBool(), byTimeLimit);

        int notSent = 0;
        int answered = 0;
        int unanswered = 0;
        for (const QJsonValue &value : run.results()) {
            const QJsonObject row = value.toObject();
            const QString outcome = outcomeOf(row);
            const bool held = serverHolds(sim.server(row.value(QStringLiteral("id")).toString()), row);
            if (outcome == QLatin1String("notSent")) {
                ++notSent;
                QVERIFY(!held);
                QCOMPARE(row.value(QStringLiteral("reasonCode")).toString(),
                         byTimeLimit ? QStringLiteral("timeLimit") : QStringLiteral("interrupted"));
            } else if (outcome == QLatin1String("failed")) {
                // The time limit does not wait for the answer under way.
                ++unanswered;
                QVERIFY(byTimeLimit);
                QCOMPARE(row.value(QStringLiteral("reasonCode")).toString(), QStringLiteral("timeLimit"));
            } else {
                ++answered;
                QCOMPARE(outcome, QStringLiteral("ok"));
                QVERIFY(held);
            }
        }
        QCOMPARE(notSent + answered + unanswered, 6);
        QVERIFY2(notSent >= 3, qPrintable(run.describe()));
        QCOMPARE(unanswered, byTimeLimit ? 1 : 0);
        QCOMPARE(run.count("notSent"), notSent);
        QCOMPARE(changeRequests(sim), answered + unanswered);
        // The last progress line counts what was not sent.
        QVERIFY2(run.err.contains(QStringLiteral("%1 of 6 changes done in").arg(answered + unanswered).toUtf8())
                     && run.err.contains(QStringLiteral(", %1 not sent\n").arg(notSent).toUtf8()),
                 qPrintable(run.describe()));
        if (byTimeLimit)
            QVERIFY2(run.elapsedMs < 4000, qPrintable(QStringLiteral("took %1 ms").arg(run.elapsedMs)));
    }

    // The cases below share fleets that stay up to the end, so they come
    // last: a fleet holds its addresses and the discovery port.

    // Whom a selection reaches, and that a name matching nothing that can
    // be changed refuses the whole run. Each run sets the clock (it changes
    // nothing the next run depends on).
    void selections_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QStringList>("changed");
        QTest::addColumn<int>("notSent");
        QTest::addColumn<QString>("message");
        const auto servers = [](const char *names) {
            return QString::fromLatin1(names).split(QLatin1Char(' '), Qt::SkipEmptyParts);
        };
        const QStringList none;
        QTest::newRow("second address of a server") << QStringList{QStringLiteral("--server"), QStringLiteral("127.0.0.12")}
                                                     << QByteArray() << 0 << servers("Gate") << 0 << QString();
        QTest::newRow("first address of a server") << QStringList{QStringLiteral("--server"), QStringLiteral("127.0.0.11")}
                                                    << QByteArray() << 0 << servers("Gate") << 0 << QString();
        QTest::newRow("id without braces")
            << QStringList{QStringLiteral("--server"), QStringLiteral("c11a0000-0000-4000-8000-000000000013")}
            << QByteArray() << 0 << servers("Quay") << 0 << QString();
        QTest::newRow("a name that matches nothing")
            << QStringList{QStringLiteral("--server"), QStringLiteral("127.0.0.13"), QStringLiteral("--server"),
                           QStringLiteral("127.0.0.99")}
            << QByteArray() << 3 << none << 0 << QStringLiteral("--server 127.0.0.99: no such server was found");
        QTest::newRow("a locked system")
            << QStringList{QStringLiteral("--system"), QStringLiteral("Harbour"), QStringLiteral("--system"),
                           QStringLiteral("Warehouse")}
            << QByteArray() << 3 << none << 0 << QStringLiteral("--system Warehouse: locked");
        QTest::newRow("a locked server") << QStringList{QStringLiteral("--server"), QStringLiteral("127.0.0.21")}
                                         << QByteArray() << 3 << none << 0 << QStringLiteral("--server 127.0.0.21: locked");
        QTest::newRow("no such system") << QStringList{QStringLiteral("--system"), QStringLiteral("Attic")}
                                        << QByteArray() << 3 << none << 0
                                        << QStringLiteral("--system Attic: no such server was found");
        QTest::newRow("a locked system with its password")
            << QStringList{QStringLiteral("--system"), QStringLiteral("Warehouse"), QStringLiteral("--login"),
                           QStringLiteral("Warehouse")}
            << QByteArray("Vault-7\n") << 0 << servers("North South") << 0 << QString();
        QTest::newRow("all, locked ones not sent") << QStringList{QStringLiteral("--all")} << QByteArray() << 1
                                                   << servers("Gate Quay") << 4
                                                   << QStringLiteral("selected 2 servers");
        QTest::newRow("all as expected") << QStringList{QStringLiteral("--all"), QStringLiteral("--expect"), QStringLiteral("2")}
                                         << QByteArray() << 1 << servers("Gate Quay") << 4 << QString();
        QTest::newRow("not as expected")
            << QStringList{QStringLiteral("--system"), QStringLiteral("Harbour"), QStringLiteral("--expect"),
                           QStringLiteral("3")}
            << QByteArray() << 3 << none << 0 << QStringLiteral("--expect 3: 2 servers are selected");
        QTest::newRow("addresses for several servers")
            << QStringList{QStringLiteral("--system"), QStringLiteral("Harbour"), QStringLiteral("--set-ip"),
                           QStringLiteral("eth0=127.0.0.9/255.0.0.0")}
            << QByteArray() << 2 << none << 0 << QStringLiteral("--set-ip changes one server; 2 are selected");
        QTest::newRow("DHCP for one server")
            << QStringList{QStringLiteral("--server"), QStringLiteral("127.0.0.13"), QStringLiteral("--dhcp"),
                           QStringLiteral("on")}
            << QByteArray() << 2 << none << 0 << QStringLiteral("--dhcp on is for several servers");
        QTest::newRow("unknown interface")
            << QStringList{QStringLiteral("--server"), QStringLiteral("127.0.0.13"), QStringLiteral("--set-ip"),
                           QStringLiteral("eth7=127.0.0.9/255.0.0.0")}
            << QByteArray() << 2 << none << 0 << QStringLiteral("has no interface \"eth7\" (it has: eth0)");
    }

    void selections()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, input);
        QFETCH(int, exitCode);
        QFETCH(QStringList, changed);
        QFETCH(int, notSent);
        QFETCH(QString, message);
        if (!m_mixedFleet.isRunning())
            QVERIFY2(m_mixedFleet.start(QByteArray(kMixedFleet)), qPrintable(m_mixedFleet.errorString()));
        m_mixedFleet.clearLog();
        QStringList command{QStringLiteral("apply"), QStringLiteral("--json"), QStringLiteral("--wait"),
                            QStringLiteral("1.5")};
        if (!arguments.contains(QStringLiteral("--set-ip")) && !arguments.contains(QStringLiteral("--dhcp")))
            command << QStringLiteral("--set-time") << QStringLiteral("now");
        const Run run = runCommand(command + arguments, input);
        QVERIFY2(run.exitCode == exitCode, qPrintable(run.describe()));
        QVERIFY2(message.isEmpty() || run.err.contains(message.toUtf8()), qPrintable(run.describe()));
        QCOMPARE(changedServers(m_mixedFleet, {QStringLiteral("/api/settime"), QStringLiteral("/api/configure"),
                                               QStringLiteral("/api/ifconfig")}),
                 changed);
        if (exitCode == 2)
            return;
        QCOMPARE(run.json().value(QStringLiteral("formatVersion")).toInt(), 1);
        QCOMPARE(run.count("notSent"), notSent);
        // Each name that refused the run is in the document too.
        QCOMPARE(run.json().value(QStringLiteral("unmatched")).toArray().isEmpty(), exitCode != 3);
        for (const QJsonValue &value : run.results()) {
            if (outcomeOf(value) == QLatin1String("notSent"))
                QCOMPARE(value.toObject().value(QStringLiteral("reasonCode")).toString(), QStringLiteral("passwordRejected"));
        }
    }

    // Refused before anything is sent: nothing reaches the fleet, not even
    // a discovery request.
    void refusedInputSendsNothing_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QString>("shell");
        QTest::addColumn<QString>("message");
        const QStringList all{QStringLiteral("apply"), QStringLiteral("--all")};
        const QStringList password = all + QStringList{QStringLiteral("--set-password")};
        const QStringList one{QStringLiteral("apply"), QStringLiteral("--server"), kLabTwo};
        const auto name = [&all](const QString &value) {
            return all + QStringList{QStringLiteral("--set-system-name"), value};
        };
        const auto address = [&one](const QString &value) {
            return one + QStringList{QStringLiteral("--set-ip"), QStringLiteral("eth0=") + value};
        };
        const QByteArray noInput;
        const QString noShell;
        QTest::newRow("password not UTF-8") << password << QByteArray("pw\xff\xfeX\n") << noShell
                                            << "the new password (--set-password) is not valid UTF-8";
        QTest::newRow("password with a control byte") << password << QByteArray("p\x01w\n") << noShell
                                                      << "the new password (--set-password) holds a control character";
        QTest::newRow("password with a carriage return inside") << password << QByteArray("p\rw\n") << noShell
                                                                 << "holds a control character";
        QTest::newRow("password too long for a request line") << password << QByteArray(5000, 'P') + '\n' << noShell
                                                              << "--set-password: invalid password: it would make a request longer";
        QTest::newRow("blank password") << password << QByteArray("  \n") << noShell << "invalid password: it is blank";
        QTest::newRow("missing password") << password << noInput << noShell << "standard input ended";
        QTest::newRow("a line too many") << password << QByteArray("Fresh-Key-8\nFresh-Key-9\n") << noShell
                                         << "standard input holds more than the one line";
        QTest::newRow("login password with a control byte")
            << all + QStringList{QStringLiteral("--login"), QStringLiteral("Lab"), QStringLiteral("--set-port"),
                                 QStringLiteral("7010")}
            << QByteArray("Key\x1b[2J\n") << noShell << "the password of system \"Lab\" (--login) holds a control character";
        QTest::newRow("login password too long for a request line")
            << all + QStringList{QStringLiteral("--login"), QStringLiteral("Lab"), QStringLiteral("--set-port"),
                                 QStringLiteral("7010")}
            << QByteArray(9000, 'K') + '\n' << noShell << "--login Lab: invalid password: it would make a request longer";
        QTest::newRow("name not UTF-8") << QStringList() << noInput
                                        << QStringLiteral("apply --all --set-system-name \"$(printf 'N\\377\\376X')\"")
                                        << "the value of --set-system-name is not valid UTF-8";
        QTest::newRow("name, an overlong slash") << QStringList() << noInput
                                                 << QStringLiteral("apply --all --set-system-name \"$(printf 'a\\300\\257b')\"")
                                                 << "is not valid UTF-8";
        QTest::newRow("name with a control byte") << name(QStringLiteral("N\u0001X")) << noInput << noShell
                                                  << "invalid system name: it holds a control character";
        QTest::newRow("name with a line end") << name(QStringLiteral("North\nSouth")) << noInput << noShell
                                              << "invalid system name: it holds a control character";
        QTest::newRow("blank name") << name(QStringLiteral(" ")) << noInput << noShell << "invalid system name: it is blank";
        QTest::newRow("name of 100 kB") << name(QString(100000, QLatin1Char('N'))) << noInput << noShell
                                        << "it would make a request longer than the 8000 bytes";
        QTest::newRow("mask with a gap") << address(QStringLiteral("127.0.0.9/255.0.255.0")) << noInput << noShell
                                         << "invalid mask for interface eth0: \"255.0.255.0\"";
        QTest::newRow("mask as a prefix length") << address(QStringLiteral("127.0.0.9/8")) << noInput << noShell
                                                 << "invalid mask for interface eth0: \"8\"";
        QTest::newRow("incomplete address") << address(QStringLiteral("127.0.0/255.0.0.0")) << noInput << noShell
                                            << "invalid ip address";
        QTest::newRow("port 0") << all + QStringList{QStringLiteral("--set-port"), QStringLiteral("0")} << noInput
                                << noShell << "invalid port";
        QTest::newRow("port 65536") << all + QStringList{QStringLiteral("--set-port"), QStringLiteral("65536")} << noInput
                                    << noShell << "invalid port";
        QTest::newRow("huge port, shortened")
            << all + QStringList{QStringLiteral("--set-port"), QString(100000, QLatin1Char('7'))} << noInput << noShell
            << "... (100000 characters)";
        QTest::newRow("unknown zone") << all + QStringList{QStringLiteral("--set-zone"), QStringLiteral("Moon/Base")}
                                      << noInput << noShell << "unknown time zone";
        QTest::newRow("no selection") << QStringList{QStringLiteral("apply"), QStringLiteral("--set-port"),
                                                     QStringLiteral("7010")}
                                      << noInput << noShell << "needs a selection";
        QTest::newRow("unknown option") << QStringList{QStringLiteral("list"), QStringLiteral("--everything")} << noInput
                                        << noShell << "Unknown option";
        QTest::newRow("one dash") << QStringList{QStringLiteral("apply"), QStringLiteral("-all"), QStringLiteral("--set-port"),
                                                 QStringLiteral("7010")}
                                  << noInput << noShell << "unknown option \"-all\"";
        QTest::newRow("no servers expected") << all + QStringList{QStringLiteral("--expect"), QStringLiteral("0"),
                                                                  QStringLiteral("--set-port"), QStringLiteral("7010")}
                                             << noInput << noShell << "--expect: \"0\"";
    }

    void refusedInputSendsNothing()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, input);
        QFETCH(QString, shell);
        QFETCH(QString, message);
        m_mixedFleet.stop();
        if (!m_quietFleet.isRunning())
            QVERIFY2(m_quietFleet.start(QByteArray(kFleet)), qPrintable(m_quietFleet.errorString()));
        m_quietFleet.clearLog();
        const Run run = shell.isEmpty() ? runCommand(arguments, input) : Command::shell(shell).finish();
        QVERIFY2(run.exitCode == 2, qPrintable(run.describe()));
        QVERIFY2(run.err.contains(message.toUtf8()), qPrintable(run.describe()));
        // A refused value is named, a long one shortened.
        QVERIFY2(run.err.size() < 1000, qPrintable(run.describe()));
        QVERIFY(run.out.isEmpty());
        QCOMPARE(m_quietFleet.requestLog(QString()).size(), 0);
    }

private:
    PeerSim m_mixedFleet;
    PeerSim m_quietFleet;
};

QTEST_GUILESS_MAIN(TestCliFlow)
#include "tst_cli_flow.moc"
