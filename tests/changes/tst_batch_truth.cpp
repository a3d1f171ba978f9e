#include "core/constants.h"

#include "private_network.h"
#include "tool_on_fleet.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QTimeZone>
#include <QtTest>

#include <optional>

using namespace rtu;
using rtu::test::SummaryRow;
using rtu::test::ToolOnFleet;

namespace {

// What a simulated server may do wrong in one run.
struct Fault
{
    QString name;
    QJsonObject knobs;
    // Answers yes and does nothing: no client can tell.
    bool lies = false;
    // Answers 2xx with a body that is no JSON object, the change carried out.
    bool unreadable = false;
};

QVector<Fault> faultMenu()
{
    const auto knobs = [](const char *json) { return QJsonDocument::fromJson(json).object(); };
    QVector<Fault> menu;
    for (const char *error : {"1", "true", "\"1.0\"", "\"0x1\"", "\"1e3\"", "\"2\""}) {
        menu.append({QStringLiteral("error %1").arg(QLatin1String(error)),
                     knobs(QByteArray("{\"error\": ") + error + ", \"errorString\": \"No\"}")});
    }
    menu.append({QStringLiteral("refuses name and port"), knobs(R"({"refuse": ["systemName", "port"]})")});
    menu.append({QStringLiteral("refuses password and time"), knobs(R"({"refuse": ["password", "settime"]})")});
    menu.append({QStringLiteral("truncated"), knobs(R"({"replyMode": "truncated"})"), false, true});
    menu.append({QStringLiteral("HTML page"), knobs(R"({"replyMode": "nonJson"})"), false, true});
    menu.append({QStringLiteral("garbage"), knobs(R"({"replyMode": "garbage"})"), false, true});
    menu.append({QStringLiteral("500"), knobs(R"({"replyStatus": 500})")});
    menu.append({QStringLiteral("503"), knobs(R"({"replyStatus": 503})")});
    menu.append({QStringLiteral("reset halfway"), knobs(R"({"replyMode": "reset"})")});
    menu.append({QStringLiteral("closed unanswered"),
                 knobs(R"({"dropAnswer": ["systemName", "password", "port", "settime"], "dropCount": null})")});
    menu.append({QStringLiteral("nobody listens"), knobs(R"({"http": "closed"})")});
    menu.append({QStringLiteral("error 0"), knobs(R"({"error": 0})"), true});
    menu.append({QStringLiteral("error false"), knobs(R"({"error": false})"), true});
    menu.append({QStringLiteral("port kept"), knobs(R"({"ignorePort": true})"), true});
    for (Fault &fault : menu)
        fault.knobs.insert(QStringLiteral("faultCommands"), QJsonArray{QStringLiteral("configure"), QStringLiteral("settime")});
    return menu;
}

const QJsonObject kNoFault = QJsonDocument::fromJson(R"({"error": null, "errorString": null, "refuse": [],
    "replyMode": "normal", "replyStatus": 200, "dropAnswer": [], "dropCount": 1, "http": "normal",
    "ignorePort": false, "faultCommands": null})").object();

// Four servers in two systems with the default password.
QJsonObject fleet()
{
    QJsonArray servers;
    const char *names[] = {"East 1", "East 2", "West 1", "West 2"};
    for (int i = 0; i < 4; ++i) {
        servers.append(QJsonObject{{QStringLiteral("name"), QLatin1String(names[i])},
                                   {QStringLiteral("systemName"), i < 2 ? QStringLiteral("East") : QStringLiteral("West")},
                                   {QStringLiteral("addresses"), QJsonArray{QStringLiteral("127.0.0.%1").arg(2 + i)}}});
    }
    return QJsonObject{{QStringLiteral("servers"), servers}};
}

// What one batch asks for.
struct Asked
{
    std::optional<QString> systemName;
    std::optional<QString> password;
    std::optional<int> port;
    std::optional<qint64> utcMs;
    QByteArray zone;
};

struct Counts
{
    int runs = 0;
    int skipped = 0;
    int rows = 0;
    int agree = 0;
    int mayHaveBeen = 0;
    int indeterminate = 0;
    int lies = 0;
    int contradictions = 0;
    int unreadableYes = 0;
    int changeRequests = 0;
    int unasked = 0;
    QStringList details;
};

QString valueOf(const QJsonValue &value)
{
    return value.isString() ? value.toString() : QString::number(value.toInt());
}

class Trial
{
public:
    Trial(quint32 seed, bool fresh) : m_rng(seed), m_fresh(fresh), m_menu(faultMenu()) {}

    bool run(int number, Counts &counts)
    {
        if ((m_fresh || !m_tool) && !startTool())
            return false;
        ToolOnFleet &tool = *m_tool;
        if (tool.sim.servers().isEmpty()) {
            QFile errors(QFileInfo(tool.sim.logFilePath()).dir().filePath(QStringLiteral("stderr.txt")));
            errors.open(QIODevice::ReadOnly);
            qWarning("the simulator is gone (%s): %s", qPrintable(tool.sim.errorString()),
                     errors.readAll().left(8000).constData());
            return false;
        }
        settle();

        // Faults, per server.
        QHash<QString, Fault> faults;
        for (const QJsonValue &server : tool.sim.servers()) {
            const QString name = server[QStringLiteral("name")].toString();
            if (m_rng.bounded(2) == 0)
                continue;
            faults.insert(server[QStringLiteral("id")].toString(), m_menu.at(int(m_rng.bounded(m_menu.size()))));
            tool.sim.setKnobs(name, faults.value(server[QStringLiteral("id")].toString()).knobs);
        }

        // Sometimes an apply is refused first, with edits the batch does not ask for.
        if (m_rng.bounded(6) == 0) {
            tool.model->setAllItemSelected(false);
            tool.manager->addPortChange(7099);
            tool.manager->addSystemChange(QStringLiteral("Decoy"));
            tool.manager->applyChanges();
        }

        QStringList targets;
        for (const QJsonValue &server : tool.sim.servers()) {
            const QString name = server[QStringLiteral("name")].toString();
            const QVariant conflict = tool.role(name, ServersSelectionModel::ConflictRole);
            if (tool.loggedIn(name) && conflict.toString().isEmpty() && m_rng.bounded(5) < 3)
                targets.append(name);
        }
        if (targets.isEmpty() || !tool.select(targets)) {
            ++counts.skipped;
            clearFaults(faults);
            return true;
        }

        const Asked asked = draw(number);
        stage(asked);
        const QJsonArray before = tool.sim.servers();
        tool.sim.clearLog();
        ++counts.runs;
        if (!tool.applyAndWait(60000)) {
            counts.details.append(QStringLiteral("run %1: the batch never ended").arg(number));
            ++counts.contradictions;
            return false;
        }
        const QJsonArray after = tool.sim.servers();
        judgeRows(number, asked, faults, before, after, counts);
        judgeRequests(number, asked, targets, counts);
        clearFaults(faults);
        return true;
    }

private:
    bool startTool()
    {
        m_tool.reset(new ToolOnFleet);
        if (!m_tool->start(fleet()))
            return false;
        return QTest::qWaitFor([this] { return m_tool->allLoggedIn(); }, ToolOnFleet::kWaitMs);
    }

    // Between runs the operator types the password of a locked system, as
    // the server really has it.
    void settle()
    {
        ToolOnFleet &tool = *m_tool;
        if (QTest::qWaitFor([&tool] { return tool.allLoggedIn(); }, 1500))
            return;
        for (const QJsonValue &server : tool.sim.servers()) {
            const QString name = server[QStringLiteral("name")].toString();
            if (tool.role(name, ServersSelectionModel::LoggedInRole).toBool())
                continue;
            tool.model->tryLoginWith(tool.role(name, ServersSelectionModel::SystemNameRole).toString(),
                                     server[QStringLiteral("password")].toString(), Callback());
        }
        if (!QTest::qWaitFor([&tool] { return tool.allLoggedIn(); }, 1500))
            qInfo("not every server is logged in for the next run");
    }

    Asked draw(int number)
    {
        static const QByteArray zones[] = {"UTC", "Asia/Tokyo", "America/Chicago", "Europe/Berlin"};
        static const QString passwords[] = {QStringLiteral("738"), QStringLiteral("morvy"), QStringLiteral("pw-A"),
                                            QStringLiteral("pw-B")};
        Asked asked;
        while (!asked.systemName && !asked.password && !asked.port && !asked.utcMs) {
            if (m_rng.bounded(2))
                asked.systemName = QStringLiteral("Sys%1").arg(m_rng.bounded(3));
            if (m_rng.bounded(2))
                asked.password = passwords[m_rng.bounded(4)];
            if (m_rng.bounded(2))
                asked.port = 7001 + int(m_rng.bounded(40));
            if (m_rng.bounded(2)) {
                // A day of its own per run, years ahead: no server holds it by chance.
                asked.utcMs = QDateTime(QDate(2031, 1, 1).addDays(number), QTime(12, 0), Qt::UTC).toMSecsSinceEpoch();
                asked.zone = zones[m_rng.bounded(4)];
            }
        }
        return asked;
    }

    void stage(const Asked &asked)
    {
        ChangesManager &manager = *m_tool->manager;
        if (asked.systemName)
            manager.addSystemChange(*asked.systemName);
        if (asked.password)
            manager.addPasswordChange(*asked.password);
        if (asked.port)
            manager.addPortChange(*asked.port);
        if (asked.utcMs) {
            const QTimeZone zone(asked.zone);
            const QDateTime wall = QDateTime::fromMSecsSinceEpoch(*asked.utcMs, zone);
            manager.addDateTimeChange(wall.date(), wall.time(), asked.zone);
        }
    }

    // Whether the server's state holds what the row names; nothing for a
    // row of a change the batch did not ask for.
    static std::optional<bool> holds(const QJsonObject &state, const QString &setting, const Asked &asked)
    {
        if (setting == QLatin1String("system name") && asked.systemName)
            return state[QStringLiteral("systemName")].toString() == *asked.systemName;
        if (setting == QLatin1String("password") && asked.password)
            return state[QStringLiteral("password")].toString() == *asked.password;
        if (setting == QLatin1String("port") && asked.port)
            return state[QStringLiteral("port")].toInt() == *asked.port;
        if (setting == QLatin1String("date / time") && asked.utcMs)
            return qAbs(qint64(state[QStringLiteral("utcTimeMs")].toDouble()) - *asked.utcMs) < 600000;
        if (setting == QLatin1String("time zone") && asked.utcMs)
            return state[QStringLiteral("timezoneId")].toString().toUtf8() == asked.zone;
        return std::nullopt;
    }

    static QJsonObject stateOf(const QJsonArray &servers, const QString &id)
    {
        for (const QJsonValue &server : servers) {
            if (server[QStringLiteral("id")].toString() == id)
                return server.toObject();
        }
        return QJsonObject();
    }

    void judgeRows(int number, const Asked &asked, const QHash<QString, Fault> &faults, const QJsonArray &before,
                   const QJsonArray &after, Counts &counts) const
    {
        const auto judge = [&](const SummaryRow &row, bool succeeded) {
            ++counts.rows;
            const Fault fault = faults.value(row.serverId);
            const std::optional<bool> now = holds(stateOf(after, row.serverId), row.name, asked);
            const std::optional<bool> earlier = holds(stateOf(before, row.serverId), row.name, asked);
            if (!now || !earlier) {
                ++counts.contradictions;
                counts.details.append(
                    QStringLiteral("run %1: a row for what was not asked: %2 = %3").arg(number).arg(row.name, row.value));
                return;
            }
            if (succeeded && fault.unreadable)
                ++counts.unreadableYes;
            if (*earlier) {
                ++counts.indeterminate;
                return;
            }
            QString verdict;
            if (succeeded && !*now)
                verdict = fault.lies ? QString() : QStringLiteral("success, not applied");
            else if (!succeeded && *now && !row.reason.contains(QLatin1String("may have been applied")))
                verdict = QStringLiteral("failure, applied");
            if (succeeded && !*now && fault.lies)
                ++counts.lies;
            else if (!verdict.isEmpty())
                ++counts.contradictions;
            else if (!succeeded && row.reason.contains(QLatin1String("may have been applied")))
                ++counts.mayHaveBeen;
            else
                ++counts.agree;
            if (!verdict.isEmpty()) {
                counts.details.append(QStringLiteral("run %1: %2 on %3 (fault: %4): %5 = %6 \"%7\"")
                                          .arg(number)
                                          .arg(verdict, stateOf(after, row.serverId)[QStringLiteral("name")].toString(),
                                               fault.name.isEmpty() ? QStringLiteral("none") : fault.name, row.name,
                                               row.value, row.reason));
            }
        };
        for (const SummaryRow &row : m_tool->succeeded())
            judge(row, true);
        for (const SummaryRow &row : m_tool->failed())
            judge(row, false);
    }

    // Every change request that went out was asked for by this batch, to a
    // server it chose, once (a password twice: the retry with the new one).
    void judgeRequests(int number, const Asked &asked, const QStringList &targets, Counts &counts)
    {
        QHash<QString, int> sent;
        for (const QJsonValue &name : m_tool->sim.servers()) {
            const QString server = name[QStringLiteral("name")].toString();
            for (const QJsonValue &entry : m_tool->changeRequests(server)) {
                ++counts.changeRequests;
                QStringList problems;
                if (!targets.contains(server))
                    problems.append(QStringLiteral("not a target"));
                const QString path = entry[QStringLiteral("path")].toString();
                if (path == QLatin1String("/api/settime")) {
                    if (!asked.utcMs)
                        problems.append(QStringLiteral("time not asked"));
                    ++sent[server + QStringLiteral(" time")];
                }
                for (const QJsonValue &item : entry[QStringLiteral("query")].toArray()) {
                    const QString key = item.toArray().at(0).toString();
                    const QString value = valueOf(item.toArray().at(1));
                    const bool wanted = (key == QLatin1String("systemName") && asked.systemName == value)
                        || (key == QLatin1String("password") && asked.password == value)
                        || (key == QLatin1String("port") && asked.port && QString::number(*asked.port) == value);
                    if (key == QLatin1String("systemName") || key == QLatin1String("password")
                        || key == QLatin1String("port")) {
                        ++sent[server + QLatin1Char(' ') + key];
                        if (!wanted)
                            problems.append(QStringLiteral("%1=%2 not asked").arg(key, value));
                    }
                }
                if (!problems.isEmpty()) {
                    ++counts.unasked;
                    counts.details.append(QStringLiteral("run %1: %2 %3?%4: %5")
                                              .arg(number)
                                              .arg(server, path, entry[QStringLiteral("rawQuery")].toString(),
                                                   problems.join(QStringLiteral(", "))));
                }
            }
        }
        for (auto it = sent.cbegin(); it != sent.cend(); ++it) {
            if (it.value() > (it.key().endsWith(QLatin1String(" password")) ? 2 : 1)) {
                ++counts.unasked;
                counts.details.append(QStringLiteral("run %1: %2 sent %3 times").arg(number).arg(it.key()).arg(it.value()));
            }
        }
    }

    void clearFaults(const QHash<QString, Fault> &faults)
    {
        for (auto it = faults.cbegin(); it != faults.cend(); ++it)
            m_tool->sim.setKnobs(it.key(), kNoFault);
    }

    QRandomGenerator m_rng;
    const bool m_fresh;
    const QVector<Fault> m_menu;
    std::unique_ptr<ToolOnFleet> m_tool;
};

} // namespace

// Batches against servers whose faults are drawn at random per run, each
// result row held against what the server then holds. A row may only say
// what the server did, or that it may have done it; the one thing no client
// can catch is a server that says yes and does nothing. Nothing goes out
// that the batch did not ask for.
//
// TESSALY_BATCH_RUNS (default 12), TESSALY_BATCH_SEED (36) and
// TESSALY_BATCH_FRESH=1 (a fresh fleet and tool per run; by default one
// run's end is the next one's start) set the series.
class TestBatchTruth : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { TESSALY_REQUIRE_PRIVATE_NETWORK(); }

    void rowsAgreeWithTheServers()
    {
        const int runs = qEnvironmentVariableIsSet("TESSALY_BATCH_RUNS")
            ? qEnvironmentVariableIntValue("TESSALY_BATCH_RUNS") : 12;
        const quint32 seed = qEnvironmentVariableIsSet("TESSALY_BATCH_SEED")
            ? quint32(qEnvironmentVariableIntValue("TESSALY_BATCH_SEED")) : 36;
        const bool fresh = qEnvironmentVariableIntValue("TESSALY_BATCH_FRESH") == 1;

        Trial trial(seed, fresh);
        Counts counts;
        for (int number = 0; number < runs; ++number)
            QVERIFY2(trial.run(number, counts), qPrintable(QStringLiteral("run %1 could not start").arg(number)));

        for (const QString &detail : qAsConst(counts.details))
            qWarning("%s", qPrintable(detail));
        qInfo("batch truth: seed %u, %s, runs %d (skipped %d), rows %d: agree %d, may have been applied %d, "
              "indeterminate %d, 2xx lies %d, contradictions %d, yes from unreadable answers %d; "
              "change requests %d, unasked %d",
              seed, fresh ? "fresh" : "persistent", counts.runs, counts.skipped, counts.rows, counts.agree,
              counts.mayHaveBeen, counts.indeterminate, counts.lies, counts.contradictions, counts.unreadableYes,
              counts.changeRequests, counts.unasked);
        QVERIFY(counts.rows > 0);
        QCOMPARE(counts.contradictions, 0);
        QCOMPARE(counts.unasked, 0);
        QCOMPARE(counts.unreadableYes, 0);
    }
};

QTEST_GUILESS_MAIN(TestBatchTruth)

#include "tst_batch_truth.moc"
