#include "protocol/server_info_manager.h"
#include "protocol/server_requests.h"

#include "peer_sim.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QTimeZone>
#include <QtTest>

#include <memory>

using namespace rtu;
using rtu::test::PeerSim;

namespace {

const QByteArray kFleet = R"({"servers": [
    {"name": "Plain", "addresses": ["127.0.0.31"], "password": "738"},
    {"name": "Second", "addresses": ["127.0.0.32"], "password": "morvy", "flags": "SF_IfListCtrl",
     "timeZoneOffset": 10800},
    {"name": "Locked", "addresses": ["127.0.0.33"], "port": 7005, "password": "g#te:k/ey%"},
    {"name": "Hung", "addresses": ["127.0.0.34"], "knobs": {"hang": true}}
]})";

// One request as the tool is expected to send it.
struct Expected
{
    QString path;
    QJsonArray query;
    QString password;
};

BaseServerInfo baseOf(const QJsonObject &state)
{
    BaseServerInfo base;
    base.id = QUuid::fromString(state.value(QStringLiteral("id")).toString());
    base.name = state.value(QStringLiteral("name")).toString();
    base.systemName = state.value(QStringLiteral("systemName")).toString();
    base.flags = flagsFromText(state.value(QStringLiteral("flags")).toString());
    base.hostAddress = state.value(QStringLiteral("addresses")).toArray().first().toString();
    base.displayAddress = base.hostAddress;
    base.port = state.value(QStringLiteral("port")).toInt();
    return base;
}

struct Report
{
    bool done = false;
    bool success = false;
    int code = 0;
    QString host;
    ExtraServerInfo extra;
};
using ReportPtr = std::shared_ptr<Report>;

ServerInfoManager::LoginSuccessCallback succeeded(const ReportPtr &report)
{
    return [report](const QUuid &, const ExtraServerInfo &extra, const QString &host) {
        *report = Report{true, true, 0, host, extra};
    };
}

ServerInfoManager::LoginFailedCallback failed(const ReportPtr &report)
{
    return [report](const QUuid &, int code) { *report = Report{true, false, code, QString(), {}}; };
}

// The query as the simulator logs it: a list of [key, value] items, here the
// one bare key "local". Built by appending, because braces around a single
// QJsonArray copy it under one compiler and nest it under another.
const QJsonArray kLocal = QJsonArray() << QJsonArray{QStringLiteral("local"), QJsonValue()};

} // namespace

class TestFleetLogin : public QObject
{
    Q_OBJECT

private:
    // Compares the credentialed requests one server got with the expected
    // ones. Any other request went without credentials, as one does to a
    // server known to want Digest, and was refused for its challenge.
    static void compareWireLog(const QJsonArray &log, const QString &server, const QVector<Expected> &expected)
    {
        QVector<Expected> seen;
        for (const QJsonValue &value : log) {
            const QJsonObject entry = value.toObject();
            if (entry.value(QStringLiteral("name")).toString() != server)
                continue;
            const QJsonObject auth = entry.value(QStringLiteral("auth")).toObject();
            if (auth.isEmpty()) {
                QCOMPARE(entry.value(QStringLiteral("authorized")).toBool(), false);
                continue;
            }
            QCOMPARE(entry.value(QStringLiteral("method")).toString(), QStringLiteral("GET"));
            QCOMPARE(auth.value(QStringLiteral("user")).toString(), QStringLiteral("admin"));
            seen.append({entry.value(QStringLiteral("path")).toString(), entry.value(QStringLiteral("query")).toArray(),
                         auth.value(QStringLiteral("password")).toString()});
        }
        QCOMPARE(seen.size(), expected.size());
        for (int i = 0; i < seen.size(); ++i) {
            const QString where = QStringLiteral("%1, request %2").arg(server).arg(i);
            QVERIFY2(seen.at(i).path == expected.at(i).path, qPrintable(where + QLatin1String(": ") + seen.at(i).path));
            QVERIFY2(seen.at(i).query == expected.at(i).query, qPrintable(where));
            QVERIFY2(seen.at(i).password == expected.at(i).password,
                     qPrintable(where + QLatin1String(": ") + seen.at(i).password));
        }
    }

private slots:
    // Logs in to a small fleet the way discovery and the operator would, and
    // holds the simulator's wire log against the prescribed requests.
    void loginsOnTheWire()
    {
        PeerSim sim;
        QVERIFY2(sim.start(kFleet), qPrintable(sim.errorString()));
        const BaseServerInfo plain = baseOf(sim.server(QStringLiteral("Plain")));
        const BaseServerInfo second = baseOf(sim.server(QStringLiteral("Second")));
        const BaseServerInfo locked = baseOf(sim.server(QStringLiteral("Locked")));
        const BaseServerInfo hung = baseOf(sim.server(QStringLiteral("Hung")));

        ServerInfoManager::Timeouts timeouts;
        timeouts.knownPasswordsMs = 1500;
        ServerInfoManager manager(nullptr, timeouts);
        QHash<QString, ReportPtr> reports;
        for (const BaseServerInfo &base : {plain, second, locked, hung}) {
            reports.insert(base.name, std::make_shared<Report>());
            manager.loginWithKnownPasswords(base, succeeded(reports[base.name]), failed(reports[base.name]));
        }
        for (const ReportPtr &report : qAsConst(reports))
            QTRY_VERIFY(report->done);

        QVERIFY(reports["Plain"]->success);
        QCOMPARE(reports["Plain"]->extra.password, QStringLiteral("738"));
        QCOMPARE(reports["Plain"]->host, QStringLiteral("127.0.0.31"));
        QCOMPARE(reports["Plain"]->extra.timeZoneId, QByteArray("Europe/Berlin"));
        QCOMPARE(reports["Plain"]->extra.interfaces.size(), 1);
        QVERIFY(reports["Second"]->success);
        QCOMPARE(reports["Second"]->extra.password, QStringLiteral("morvy"));
        // Qt's fixed-offset identifier, which it must also read back.
        QCOMPARE(reports["Second"]->extra.timeZoneId, QTimeZone(10800).id());
        QCOMPARE(QTimeZone(reports["Second"]->extra.timeZoneId).offsetFromUtc(QDateTime::currentDateTimeUtc()), 10800);
        QVERIFY(!reports["Locked"]->success);
        QCOMPARE(reports["Locked"]->code, 401);
        QVERIFY(!reports["Hung"]->success);
        QCOMPARE(reports["Hung"]->code, -1);

        // The operator types the locked system's password.
        const QString typed = QStringLiteral("g#te:k/ey%");
        auto typedLogin = std::make_shared<Report>();
        manager.loginWithPassword(locked, typed, succeeded(typedLogin), failed(typedLogin));
        QTRY_VERIFY(typedLogin->done);
        QVERIFY(typedLogin->success);
        QCOMPARE(ServerInfoManager::knownPasswords(), QStringList({"738", "morvy", typed}));

        // Someone else changes its password to a default; the refresh falls back.
        QVERIFY(!sim.update(QStringLiteral("Locked"), {{"password", "morvy"}}).isEmpty());
        auto refreshed = std::make_shared<Report>();
        manager.refreshExtraInfo({ServerInfo(locked, typedLogin->extra)}, succeeded(refreshed), failed(refreshed));
        QTRY_VERIFY(refreshed->done);
        QVERIFY(refreshed->success);
        QCOMPARE(refreshed->extra.password, QStringLiteral("morvy"));

        const QJsonArray log = sim.requestLog();
        const QString time = QStringLiteral("/api/gettime");
        const QString interfaces = QStringLiteral("/api/iflist");
        compareWireLog(log, QStringLiteral("Plain"), {{time, kLocal, "738"}, {interfaces, {}, "738"}});
        compareWireLog(log, QStringLiteral("Second"),
                       {{time, {}, "738"}, {time, {}, "morvy"}, {interfaces, {}, "morvy"}});
        compareWireLog(log, QStringLiteral("Locked"),
                       {{time, kLocal, "738"},
                        {time, kLocal, "morvy"},
                        {time, kLocal, typed},
                        {interfaces, {}, typed},
                        {time, kLocal, typed},
                        {time, kLocal, "738"},
                        {time, kLocal, "morvy"},
                        {interfaces, {}, "morvy"}});
        // The silent server saw one password at most, and no second one.
        int hungCredentialed = 0;
        for (const QJsonValue &value : log) {
            const QJsonObject entry = value.toObject();
            if (entry.value(QStringLiteral("name")).toString() == QLatin1String("Hung")
                && !entry.value(QStringLiteral("auth")).isNull()) {
                ++hungCredentialed;
                QCOMPARE(entry.value(QStringLiteral("auth")).toObject().value(QStringLiteral("password")).toString(),
                         QStringLiteral("738"));
            }
        }
        QVERIFY(hungCredentialed <= 1);
    }
};

QTEST_GUILESS_MAIN(TestFleetLogin)
#include "tst_fleet_login.moc"
