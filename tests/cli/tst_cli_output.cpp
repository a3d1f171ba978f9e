#include "changes/changes_manager.h"
#include "changes/changes_summary_model.h"
#include "cli/fleet_listing.h"
#include "cli/run_results.h"
#include "core/constants.h"
#include "models/servers_selection_model.h"
#include "selected_servers.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QtTest>

using namespace rtu;
using namespace rtu::cli;

namespace {

BaseServerInfo unloggedServer(const QString &name, const QString &systemName, const QString &host)
{
    BaseServerInfo base;
    base.id = QUuid::createUuid();
    base.name = name;
    base.systemName = systemName;
    base.hostAddress = host;
    base.displayAddress = host;
    base.port = 7001;
    return base;
}

ServerInfo resultServer(const QString &id, const QString &name, const QString &address)
{
    BaseServerInfo base;
    base.id = QUuid(id);
    base.name = name;
    base.displayAddress = address;
    return ServerInfo(base);
}

} // namespace

// What the command reads from the window's models and how it shows it.
class TestCliOutput : public QObject
{
    Q_OBJECT

private:
    // Two systems and a server not set up yet, in the list's order; one
    // server logged in with a typed password, one not logged in, one
    // deselected; one host that only asks.
    struct Fleet
    {
        Fleet()
        {
            TestServer server;
            server.systemName = QStringLiteral("North");
            server.name = QStringLiteral("Cam (gate) 1");
            server.host = QStringLiteral("127.0.0.2");
            server.password = QStringLiteral("738");
            gate = addSelectedServer(model, server);
            server.name = QStringLiteral("Yard");
            server.host = QStringLiteral("127.0.0.3");
            server.password = QStringLiteral("typed one");
            yard = addSelectedServer(model, server);
            model.addServer(unloggedServer(QStringLiteral("Dock"), QStringLiteral("North"), QStringLiteral("127.0.0.4")));
            server.systemName = QStringLiteral("South");
            server.name = QStringLiteral("Pier");
            server.host = QStringLiteral("127.0.0.5");
            server.password = QStringLiteral("morvy");
            addSelectedServer(model, server);
            // Deselects Pier, the one server of South.
            model.changeItemSelectedState(model.rowCount() - 1);
            BaseServerInfo fresh = unloggedServer(QStringLiteral("New"), QStringLiteral("NewSystem-1"),
                                                  QStringLiteral("127.0.0.6"));
            fresh.flags = Constants::IsFactoryFlag;
            model.addServer(fresh);
            model.unknownAdded(QStringLiteral("127.0.0.200"));
        }

        ServersSelectionModel model{nullptr};
        QUuid gate;
        QUuid yard;
    };

private slots:
    void fleetAsTheListShowsIt()
    {
        Fleet f;
        const FleetListing fleet = readFleet(f.model);
        QCOMPARE(fleet.systems.size(), 3);
        QCOMPARE(fleet.systems.at(0).name, QString());
        QCOMPARE(fleet.systems.at(1).name, QStringLiteral("North"));
        QCOMPARE(fleet.systems.at(2).name, QStringLiteral("South"));
        QCOMPARE(fleet.serversCount(), 5);
        QCOMPARE(fleet.loggedInCount(), 3);
        QCOMPARE(fleet.unknownHosts, QStringList{QStringLiteral("127.0.0.200")});

        const ListedSystem &north = *fleet.system(QStringLiteral("North"));
        QCOMPARE(north.servers.size(), 3);
        const ListedServer &gate = north.servers.at(0);
        QCOMPARE(gate.id, f.gate);
        // The address is split off the shown name, whatever the name holds.
        QCOMPARE(gate.name, QStringLiteral("Cam (gate) 1"));
        QCOMPARE(gate.address, QStringLiteral("127.0.0.2"));
        QCOMPARE(gate.port, 7001);
        QVERIFY(gate.loggedIn && gate.defaultPassword && gate.selected);
        const ListedServer &yard = north.servers.at(1);
        QVERIFY(yard.loggedIn && !yard.defaultPassword && yard.selected);
        const ListedServer &dock = north.servers.at(2);
        QVERIFY(!dock.loggedIn && !dock.selected);
        QCOMPARE(north.selectedCount, 2);
        QVERIFY(!fleet.system(QStringLiteral("South"))->servers.at(0).selected);
        QCOMPARE(fleet.selectedServers().size(), 2);
        QCOMPARE(fleet.system(QStringLiteral("West")), nullptr);
    }

    void fleetInJson()
    {
        Fleet f;
        const QJsonObject json = listingJson(readFleet(f.model));
        QCOMPARE(json.value(QStringLiteral("serversCount")).toInt(), 5);
        QCOMPARE(json.value(QStringLiteral("loggedInCount")).toInt(), 3);
        QCOMPARE(json.value(QStringLiteral("unknownHosts")).toArray(), QJsonArray{QStringLiteral("127.0.0.200")});
        const QJsonArray systems = json.value(QStringLiteral("systems")).toArray();
        QCOMPARE(systems.size(), 3);
        const QJsonArray north = systems.at(1).toObject().value(QStringLiteral("servers")).toArray();
        QCOMPARE(north.size(), 3);
        QCOMPARE(north.at(0).toObject().value(QStringLiteral("id")).toString(), f.gate.toString());
        QCOMPARE(north.at(0).toObject().value(QStringLiteral("name")).toString(), QStringLiteral("Cam (gate) 1"));
        QCOMPARE(north.at(0).toObject().value(QStringLiteral("address")).toString(), QStringLiteral("127.0.0.2"));
        QCOMPARE(north.at(0).toObject().value(QStringLiteral("password")).toString(), QStringLiteral("default"));
        QCOMPARE(north.at(1).toObject().value(QStringLiteral("password")).toString(), QStringLiteral("typed"));
        QVERIFY(north.at(2).toObject().value(QStringLiteral("password")).isNull());
        QCOMPARE(north.at(2).toObject().value(QStringLiteral("loggedIn")).toBool(), false);
        // Which password, never the password itself.
        const QByteArray text = QJsonDocument(json).toJson();
        QVERIFY(!text.contains("typed one"));
        QVERIFY(!text.contains("738"));
    }

    void fleetAsATable()
    {
        Fleet f;
        const QStringList lines = listingTable(readFleet(f.model)).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        // Systems in the list's order, each followed by its servers, the
        // asking hosts last.
        const QStringList starts = {QStringLiteral("  NAME"),         QStringLiteral("Unassigned system: 1 server"),
                                    QStringLiteral("  New "),         QStringLiteral("North: 3 servers"),
                                    QStringLiteral("  Cam (gate) 1"), QStringLiteral("  Yard"),
                                    QStringLiteral("  Dock"),         QStringLiteral("South: 1 server"),
                                    QStringLiteral("  Pier"),         QStringLiteral("Other discovered servers: 1"),
                                    QStringLiteral("  127.0.0.200")};
        QCOMPARE(lines.size(), starts.size());
        for (int i = 0; i < starts.size(); ++i)
            QVERIFY2(lines.at(i).startsWith(starts.at(i)), qPrintable(lines.at(i)));
        QVERIFY(lines.at(4).contains(QStringLiteral("default password")));
        QVERIFY(lines.at(5).contains(QStringLiteral("typed password")));
        QVERIFY(lines.at(6).contains(QStringLiteral("not logged in")));
        QVERIFY(!lines.join(QLatin1Char('\n')).contains(QStringLiteral("typed one")));
        QCOMPARE(listingTable(FleetListing()), QStringLiteral("No server was found.\n"));
    }

    // One server's rows stand together, in the order the run sends them,
    // whichever model they come from; the rows never carry a password.
    void resultRows()
    {
        ChangesSummaryModel succeeded(true, nullptr);
        ChangesSummaryModel failed(false, nullptr);
        const ServerInfo b = resultServer(QStringLiteral("{bbbbbbbb-0000-4000-8000-000000000002}"),
                                          QStringLiteral("Beta (spare)"), QStringLiteral("127.0.0.3"));
        const ServerInfo a = resultServer(QStringLiteral("{aaaaaaaa-0000-4000-8000-000000000001}"),
                                          QStringLiteral("Alpha"), QString());
        succeeded.addRequestResult(b, QStringLiteral("system name"), QStringLiteral("Depot"), QString());
        failed.addRequestResult(b, QStringLiteral("port"), QStringLiteral("7010"), QStringLiteral("Port is in use"));
        succeeded.addRequestResult(b, QStringLiteral("password"), QStringLiteral("s3cret!"), QString());
        failed.addRequestResult(a, QStringLiteral("system name"), QStringLiteral("Depot"), ChangesManager::notSentReason());
        succeeded.addRequestResult(a, QStringLiteral("date / time"), QStringLiteral("today"), QString());

        const QVector<ResultRow> rows = readResults(&succeeded, &failed);
        QCOMPARE(rows.size(), 5);
        const QStringList order = {QStringLiteral("date / time"), QStringLiteral("system name"),
                                   QStringLiteral("system name"), QStringLiteral("password"), QStringLiteral("port")};
        for (int i = 0; i < rows.size(); ++i)
            QCOMPARE(rows.at(i).setting, order.at(i));
        QCOMPARE(rows.at(0).serverId, a.baseInfo().id.toString());
        QCOMPARE(rows.at(0).serverName, QStringLiteral("Alpha"));
        QCOMPARE(rows.at(0).address, QString());
        QCOMPARE(rows.at(1).outcome, ResultRow::Outcome::NotSent);
        QCOMPARE(rows.at(2).serverName, QStringLiteral("Beta (spare)"));
        QCOMPARE(rows.at(2).address, QStringLiteral("127.0.0.3"));
        QCOMPARE(rows.at(3).value, kHiddenValue);
        QCOMPARE(rows.at(4).outcome, ResultRow::Outcome::Failed);
        QCOMPARE(rows.at(4).reason, QStringLiteral("Port is in use"));

        const ResultCounts counts = countResults(rows);
        QCOMPARE(counts.succeeded, 3);
        QCOMPARE(counts.failed, 1);
        QCOMPARE(counts.notSent, 1);
        QCOMPARE(countsLine(counts), QStringLiteral("5 changes: 3 succeeded, 1 failed, 1 not sent\n"));

        const QString table = resultsTable(rows);
        QVERIFY(table.contains(QStringLiteral("Beta (spare) (127.0.0.3) {bbbbbbbb-0000-4000-8000-000000000002}\n")));
        QVERIFY(table.contains(QStringLiteral("failed: Port is in use")));
        QVERIFY(table.contains(QStringLiteral("not sent")));
        QVERIFY(!table.contains(QStringLiteral("s3cret!")));
        const QJsonObject port = resultRowJson(rows.at(4));
        QCOMPARE(port.value(QStringLiteral("result")).toString(), QStringLiteral("failed"));
        QCOMPARE(port.value(QStringLiteral("value")).toString(), QStringLiteral("7010"));
        QCOMPARE(resultRowJson(rows.at(1)).value(QStringLiteral("result")).toString(), QStringLiteral("not sent"));
        QVERIFY(resultRowJson(rows.at(0)).value(QStringLiteral("address")).isNull());
        QVERIFY(!QJsonDocument(resultRowJson(rows.at(3))).toJson().contains("s3cret!"));
    }

    void noRunNoRows()
    {
        QVERIFY(readResults(nullptr, nullptr).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestCliOutput)
#include "tst_cli_output.moc"
