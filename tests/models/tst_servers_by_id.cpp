#include "core/constants.h"
#include "models/servers_selection_model.h"

#include "fake_media_server.h"
#include "selected_servers.h"

#include <QtTest>

#include <algorithm>

using namespace rtu;
using Model = ServersSelectionModel;

namespace {

BaseServerInfo server(const QString &name, const QString &systemName, quint16 port)
{
    BaseServerInfo info;
    info.id = QUuid::createUuid();
    info.name = name;
    info.systemName = systemName;
    info.hostAddress = QStringLiteral("127.0.0.1");
    info.displayAddress = QStringLiteral("127.0.0.1");
    info.port = port;
    return info;
}

ServerState stateOf(const Model &model, const QUuid &id)
{
    for (const SystemState &system : model.systems()) {
        for (const ServerState &state : system.servers) {
            if (state.info.baseInfo().id == id)
                return state;
        }
    }
    return ServerState();
}

QVector<QUuid> selectedIds(Model &model)
{
    QVector<QUuid> ids;
    for (const ServerInfo *info : model.selectedServers())
        ids.append(info->baseInfo().id);
    return ids;
}

} // namespace

// What front ends that do not show the list read of the servers, by id.
class TestServersById : public QObject
{
    Q_OBJECT

private slots:
    // Each server found is pending until its login reports; the outcome
    // tells a refused password from a server that could not be read.
    void loginOutcomes()
    {
        test::FakeMediaServer good(QStringLiteral("morvy"));
        good.ip = QStringLiteral("127.0.0.44");
        test::FakeMediaServer refusing(QStringLiteral("unknown-secret-1"));
        test::FakeMediaServer gone(QStringLiteral("738"));
        gone.shutDown();
        Model model(nullptr);
        const BaseServerInfo north = server(QStringLiteral("north"), QStringLiteral("North"), good.port());
        const BaseServerInfo south = server(QStringLiteral("south"), QStringLiteral("South"), refusing.port());
        const BaseServerInfo west = server(QStringLiteral("west"), QStringLiteral("West"), gone.port());
        for (const BaseServerInfo &info : {north, south, west})
            model.addServer(info);
        model.unknownAdded(QStringLiteral("127.0.0.200"));

        LoginTally tally = model.loginTally();
        QCOMPARE(tally.found, 3);
        QCOMPARE(tally.pending, 3);
        QCOMPARE(stateOf(model, north.id).login, LoginOutcome::Pending);

        QTRY_COMPARE(model.loginTally().pending, 0);
        tally = model.loginTally();
        QCOMPARE(tally.loggedIn, 1);
        QCOMPARE(tally.rejected, 1);
        QCOMPARE(tally.failed, 1);

        const ServerState logged = stateOf(model, north.id);
        QCOMPARE(logged.login, LoginOutcome::LoggedIn);
        QVERIFY(logged.defaultPassword);
        QVERIFY(logged.selectable());
        QCOMPARE(logged.info.extraInfo().password, QStringLiteral("morvy"));
        // Where it answers and where its interfaces are.
        QCOMPARE(logged.addresses, QStringList({QStringLiteral("127.0.0.1"), QStringLiteral("127.0.0.44")}));
        QCOMPARE(stateOf(model, south.id).login, LoginOutcome::PasswordRejected);
        QCOMPARE(stateOf(model, west.id).login, LoginOutcome::Failed);
        QVERIFY(!stateOf(model, west.id).selectable());

        const QVector<SystemState> systems = model.systems();
        QCOMPARE(systems.size(), 3);
        for (const SystemState &system : systems) {
            QCOMPARE(system.servers.size(), 1);
            QCOMPARE(system.servers.first().systemName, system.name);
            QCOMPARE(system.loggedState, system.name == QLatin1String("South") ? int(Constants::NotLogged)
                                                                               : int(Constants::LoggedToAllServers));
        }
        QCOMPARE(model.unknownHosts(), QStringList{QStringLiteral("127.0.0.200")});
    }

    // Every address the server's answers came from while it answered
    // lately, its shown one first; one it stopped answering from goes.
    void addressesItAnswersFrom()
    {
        ServersSelectionTiming timing;
        timing.answeringAddressMs = 300;
        Model model(nullptr, timing);
        BaseServerInfo info = server(QStringLiteral("gate"), QStringLiteral("Harbour"), 1);
        model.addServer(info);
        for (const char *address : {"127.0.0.12", "127.0.0.11"}) {
            info.hostAddress = QString::fromLatin1(address);
            model.serverDiscovered(info);
        }
        QCOMPARE(stateOf(model, info.id).addresses,
                 QStringList({QStringLiteral("127.0.0.1"), QStringLiteral("127.0.0.11"), QStringLiteral("127.0.0.12")}));

        QTest::qWait(400);
        info.hostAddress = QStringLiteral("127.0.0.11");
        model.serverDiscovered(info);
        QCOMPARE(stateOf(model, info.id).addresses, QStringList({QStringLiteral("127.0.0.1"), QStringLiteral("127.0.0.11")}));
    }

    // Exactly the ids given that can be changed, in one selection change,
    // and without the refresh a click in the list asks for.
    void selectsExactlyTheIdsThatCanBeChanged()
    {
        test::FakeMediaServer fake(QStringLiteral("738"));
        Model model(nullptr);
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        TestServer first;
        first.name = QStringLiteral("first");
        TestServer second;
        second.name = QStringLiteral("second");
        const QUuid one = addSelectedServer(model, first);
        const QUuid two = addSelectedServer(model, second);
        const BaseServerInfo logging = server(QStringLiteral("fake"), QStringLiteral("system"), fake.port());
        model.addServer(logging);
        QTRY_COMPARE(stateOf(model, logging.id).login, LoginOutcome::LoggedIn);
        const int reads = fake.answered(QStringLiteral("gettime"));
        const QUuid twin = addSelectedServer(model, TestServer());
        model.setServerConflict(twin, {QStringLiteral("127.0.0.2"), QStringLiteral("127.0.0.9")});

        QSignalSpy changes(&model, &Model::selectionChanged);
        QCOMPARE(model.selectServers({one, twin, logging.id, QUuid::createUuid()}), 2);
        QCOMPARE(changes.count(), 1);
        QCOMPARE(selectedIds(model), QVector<QUuid>({one, logging.id}));
        QVERIFY(!stateOf(model, two).selected);
        QVERIFY(stateOf(model, one).selected);

        QCOMPARE(model.selectServers({one, logging.id}), 2);
        QCOMPARE(changes.count(), 1);
        QCOMPARE(model.selectServers({two}), 1);
        QCOMPARE(changes.count(), 2);
        QCOMPARE(selectedIds(model), QVector<QUuid>{two});

        QTest::qWait(200);
        QCOMPARE(fake.answered(QStringLiteral("gettime")), reads);
    }
};

QTEST_GUILESS_MAIN(TestServersById)
#include "tst_servers_by_id.moc"
