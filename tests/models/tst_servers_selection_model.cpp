#include "core/constants.h"
#include "models/servers_selection_model.h"
#include "protocol/server_info_manager.h"
#include "protocol/server_requests.h"

#include "fake_media_server.h"

#include <QAbstractItemModelTester>
#include <QElapsedTimer>
#include <QtTest>

#include <algorithm>
#include <limits>

using namespace rtu;
using Model = ServersSelectionModel;

namespace {

// Servers whose address answers nothing: as long as the test does not run
// the event loop, their automatic logins stay pending.
BaseServerInfo makeServer(const QString &name, const QString &systemName, int flags = 0)
{
    static int counter = 0;
    BaseServerInfo info;
    info.id = QUuid::createUuid();
    info.displayAddress = QStringLiteral("10.1.0.%1").arg(++counter);
    info.flags = flags;
    info.name = name;
    info.systemName = systemName;
    info.hostAddress = QStringLiteral("127.0.0.1");
    info.port = 1;
    return info;
}

BaseServerInfo makeServer(const QString &name, const QString &systemName, const test::FakeMediaServer &fake)
{
    BaseServerInfo info = makeServer(name, systemName);
    info.port = fake.port();
    return info;
}

QVariant value(const Model &model, int row, int role)
{
    return model.data(model.index(row), role);
}

int rowOf(const Model &model, const QUuid &id)
{
    for (int row = 0; row < model.rowCount(); ++row) {
        if (value(model, row, Model::IdRole).toUuid() == id)
            return row;
    }
    return -1;
}

QStringList systemNames(const Model &model)
{
    QStringList names;
    for (int row = 0; row < model.rowCount(); ++row) {
        if (value(model, row, Model::ItemTypeRole).toInt() == Constants::SystemItemType)
            names.append(value(model, row, Model::NameRole).toString());
    }
    return names;
}

QList<QPair<int, int>> ranges(const QSignalSpy &spy)
{
    QList<QPair<int, int>> result;
    for (const QList<QVariant> &arguments : spy)
        result.append({arguments.at(1).toInt(), arguments.at(2).toInt()});
    return result;
}

// Every row a dataChanged spy announced, with the roles it named.
QMap<int, QVector<int>> announcedRows(const QSignalSpy &spy)
{
    QMap<int, QVector<int>> rows;
    for (const QList<QVariant> &arguments : spy) {
        const int first = arguments.at(0).toModelIndex().row();
        const int last = arguments.at(1).toModelIndex().row();
        for (int row = first; row <= last; ++row) {
            for (int role : arguments.at(2).value<QVector<int>>()) {
                if (!rows[row].contains(role))
                    rows[row].append(role);
            }
            std::sort(rows[row].begin(), rows[row].end());
        }
    }
    return rows;
}

// Logs a server in the way a confirmed change does, then leaves it unselected.
void logIn(Model &model, const QUuid &id, const QString &password = QStringLiteral("738"))
{
    model.updatePasswordInfo(id, password);
    model.changeItemSelectedState(rowOf(model, id));
}

} // namespace

class TestServersSelectionModel : public QObject
{
    Q_OBJECT

private slots:
    void rolesOfEveryRowKind()
    {
        Model model(nullptr);
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        const BaseServerInfo one = makeServer(QStringLiteral("Cam one"), QStringLiteral("Beta"));
        const BaseServerInfo two = makeServer(QStringLiteral("Cam two"), QStringLiteral("Beta"));
        model.addServer(one);
        model.addServer(two);
        model.updateInterfacesInfo(
            one.id, QStringLiteral("127.0.0.5"),
            {InterfaceInfo(QStringLiteral("eth0"), QStringLiteral("192.168.5.5"), QStringLiteral("11:22:33:44:55:66"),
                           QStringLiteral("255.255.255.0"), QStringLiteral("192.168.5.1"), QStringLiteral("8.8.8.8"),
                           Qt::Checked)});
        model.updatePasswordInfo(one.id, QStringLiteral("738"));
        model.unknownAdded(QStringLiteral("172.16.0.9"));

        QCOMPARE(model.rowCount(), 5);
        QCOMPARE(model.rowCount(model.index(0)), 0);
        QCOMPARE(model.serversCount(), 2);
        QCOMPARE(model.selectedCount(), 1);

        // Every role of every row, in role order: itemType, name, selectedState,
        // selectedServersCount, serversCount, loggedState, id, systemName,
        // macAddress, ipAddress, port, loggedIn, defaultPassword, conflict.
        const QVariant none;
        const QString beta = QStringLiteral("Beta");
        const QList<QVariantList> expected = {
            {int(Constants::SystemItemType), beta, int(Qt::PartiallyChecked), 1, 2,
             int(Constants::LoggedToAllServers), none, beta, none, none, none, none, none, QString()},
            {int(Constants::ServerItemType), QStringLiteral("Cam one (%1)").arg(one.displayAddress), int(Qt::Checked),
             none, none, none, one.id, beta, QStringLiteral("11:22:33:44:55:66"), none, 1, true, true, QString()},
            {int(Constants::ServerItemType), QStringLiteral("Cam two (%1)").arg(two.displayAddress),
             int(Qt::Unchecked), none, none, none, two.id, beta, QStringLiteral("Server is unavailable"), none, 1,
             false, false, QString()},
            {int(Constants::UnknownGroupType), QStringLiteral("Other discovered servers"), none, none, none, none,
             none, none, none, none, none, none, none, none},
            {int(Constants::UnknownEntityType), none, none, none, none, none, none, none, none,
             QStringLiteral("172.16.0.9"), none, none, none, none},
        };
        for (int row = 0; row < expected.size(); ++row) {
            for (int column = 0; column < expected.at(row).size(); ++column) {
                const int role = Model::ItemTypeRole + column;
                const QVariant actual = value(model, row, role);
                const QVariant wanted = expected.at(row).at(column);
                QVERIFY2(actual == wanted && actual.isValid() == wanted.isValid(),
                         qPrintable(QStringLiteral("row %1 role %2: %3").arg(row).arg(role).arg(actual.toString())));
            }
        }
        for (int row = 0; row < model.rowCount(); ++row) {
            QVERIFY(!value(model, row, Qt::UserRole).isValid());
            QVERIFY(!value(model, row, Model::LastRole).isValid());
            QVERIFY(!value(model, row, Qt::DisplayRole).isValid());
        }

        // The address that answered the information request becomes the one
        // every later request goes to.
        const ServerInfoPtrContainer selected = model.selectedServers();
        QCOMPARE(selected.size(), 1);
        QCOMPARE(selected.first()->baseInfo().hostAddress, QStringLiteral("127.0.0.5"));
        QCOMPARE(selected.first()->extraInfo().interfaces.first().useDHCP, int(Qt::Checked));

        const QHash<int, QByteArray> names = model.roleNames();
        const QList<QByteArray> expectedNames = {"itemType", "name", "selectedState", "selectedServersCount",
                                                 "serversCount", "loggedState", "id", "systemName",
                                                 "macAddress", "ipAddress", "port", "loggedIn",
                                                 "defaultPassword", "conflict"};
        for (int index = 0; index < expectedNames.size(); ++index)
            QCOMPARE(names.value(Qt::UserRole + 1 + index), expectedNames.at(index));
        QCOMPARE(Model::ItemTypeRole, 257);
        QCOMPARE(Model::DefaultPasswordRole, 269);
        QCOMPARE(names.size(), expectedNames.size());
    }

    void systemsOrderAndGrouping()
    {
        Model model(nullptr);
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
        QSignalSpy layout(&model, &Model::layoutChanged);
        QSignalSpy count(&model, &Model::serversCountChanged);

        model.addServer(makeServer(QStringLiteral("b1"), QStringLiteral("beta")));
        const BaseServerInfo alpha = makeServer(QStringLiteral("a1"), QStringLiteral("Alpha"));
        model.addServer(alpha);
        model.addServer(makeServer(QStringLiteral("c1"), QStringLiteral("alpha2")));
        QCOMPARE(systemNames(model),
                 QStringList({QStringLiteral("Alpha"), QStringLiteral("alpha2"), QStringLiteral("beta")}));
        QCOMPARE(ranges(inserted), (QList<QPair<int, int>>{{0, 0}, {1, 1}, {0, 0}, {1, 1}, {2, 2}, {3, 3}}));
        // One relayout for the whole turn, after it.
        QCOMPARE(layout.count(), 0);
        QTRY_COMPARE(layout.count(), 1);
        QTest::qWait(20);
        QCOMPARE(layout.count(), 1);
        QCOMPARE(count.count(), 3);
        model.addServer(makeServer(QStringLiteral("g1"), QStringLiteral("Gamma")));
        QCOMPARE(systemNames(model).last(), QStringLiteral("Gamma"));

        // A second server of a system follows the first.
        const BaseServerInfo second = makeServer(QStringLiteral("a2"), QStringLiteral("Alpha"));
        model.addServer(second);
        QCOMPARE(ranges(inserted).last(), qMakePair(2, 2));
        QCOMPARE(rowOf(model, alpha.id), 1);
        QCOMPARE(rowOf(model, second.id), 2);
        QCOMPARE(value(model, 0, Model::ServersCountRole).toInt(), 2);
        QCOMPARE(value(model, 2, Model::SystemNameRole).toString(), QStringLiteral("Alpha"));

        // Factory servers share the system with the empty name, whatever name
        // they report; it sorts first.
        const BaseServerInfo fresh =
            makeServer(QStringLiteral("new"), QStringLiteral("auto-1"), Constants::IsFactoryFlag);
        model.addServer(fresh);
        model.addServer(makeServer(QStringLiteral("new2"), QStringLiteral("auto-2"),
                                   Constants::IsFactoryFlag | Constants::AllowIfConfigFlag));
        QCOMPARE(systemNames(model).first(), QString());
        QCOMPARE(value(model, 0, Model::ServersCountRole).toInt(), 2);
        QCOMPARE(value(model, rowOf(model, fresh.id), Model::SystemNameRole).toString(), QString());
        QCOMPARE(model.serversCount(), 7);
        QCOMPARE(model.rowCount(), 12);
    }

    void selectingServers()
    {
        Model model(nullptr);
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QVector<BaseServerInfo> servers;
        for (const char *name : {"a", "b", "c", "offline"})
            servers.append(makeServer(QString::fromLatin1(name), QStringLiteral("S")));
        for (const BaseServerInfo &server : servers)
            model.addServer(server);
        for (int index = 0; index < 3; ++index)
            logIn(model, servers[index].id);
        QCOMPARE(model.selectedCount(), 0);
        const int a = rowOf(model, servers[0].id);
        const int b = rowOf(model, servers[1].id);
        const int c = rowOf(model, servers[2].id);
        const int offline = rowOf(model, servers[3].id);
        QSignalSpy selection(&model, &Model::selectionChanged);

        model.changeItemSelectedState(a);
        QCOMPARE(value(model, a, Model::SelectedStateRole).toInt(), int(Qt::Checked));
        QCOMPARE(value(model, 0, Model::SelectedStateRole).toInt(), int(Qt::PartiallyChecked));
        QCOMPARE(model.selectedCount(), 1);
        model.changeItemSelectedState(a);
        QCOMPARE(value(model, a, Model::SelectedStateRole).toInt(), int(Qt::Unchecked));
        QCOMPARE(value(model, 0, Model::SelectedStateRole).toInt(), int(Qt::Unchecked));
        QCOMPARE(selection.count(), 2);

        // Only logged-in servers can be selected.
        model.changeItemSelectedState(offline);
        model.setItemSelected(offline);
        QCOMPARE(value(model, offline, Model::SelectedStateRole).toInt(), int(Qt::Unchecked));
        QCOMPARE(model.selectedCount(), 0);
        QCOMPARE(selection.count(), 2);

        // Select-only: one of three selected stays as the only one; the only
        // selected one is deselected.
        model.changeItemSelectedState(c);
        model.changeItemSelectedState(a);
        model.changeItemSelectedState(b);
        QCOMPARE(model.selectedCount(), 3);
        model.setItemSelected(b);
        QCOMPARE(model.selectedCount(), 1);
        QCOMPARE(value(model, b, Model::SelectedStateRole).toInt(), int(Qt::Checked));
        QCOMPARE(value(model, a, Model::SelectedStateRole).toInt(), int(Qt::Unchecked));
        QCOMPARE(value(model, 0, Model::SelectedServersCountRole).toInt(), 1);
        model.setItemSelected(b);
        QCOMPARE(model.selectedCount(), 0);
        model.setItemSelected(a);
        QCOMPARE(model.selectedCount(), 1);

        // Selected servers come in row order, whatever the order of clicks.
        model.changeItemSelectedState(c);
        model.setItemSelected(c);
        model.changeItemSelectedState(a);
        const ServerInfoPtrContainer selected = model.selectedServers();
        QCOMPARE(selected.size(), 2);
        QCOMPARE(selected.at(0)->baseInfo().id, servers[0].id);
        QCOMPARE(selected.at(1)->baseInfo().id, servers[2].id);

        // A system row with some servers selected deselects all; with none
        // it selects every logged-in one.
        model.changeItemSelectedState(0);
        QCOMPARE(model.selectedCount(), 0);
        QCOMPARE(value(model, 0, Model::SelectedStateRole).toInt(), int(Qt::Unchecked));
        model.changeItemSelectedState(0);
        QCOMPARE(model.selectedCount(), 3);
        QCOMPARE(value(model, 0, Model::SelectedServersCountRole).toInt(), 3);
        QCOMPARE(value(model, 0, Model::SelectedStateRole).toInt(), int(Qt::PartiallyChecked));
        QCOMPARE(value(model, offline, Model::SelectedStateRole).toInt(), int(Qt::Unchecked));

        // Rows past the systems do not select anything.
        model.unknownAdded(QStringLiteral("10.9.9.9"));
        const int before = selection.count();
        model.changeItemSelectedState(model.rowCount() - 1);
        model.setItemSelected(model.rowCount() - 2);
        model.changeItemSelectedState(-1);
        QCOMPARE(selection.count(), before);
        QCOMPARE(model.selectedCount(), 3);
    }

    void selectingAll()
    {
        Model model(nullptr);
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        const BaseServerInfo a = makeServer(QStringLiteral("a"), QStringLiteral("One"));
        const BaseServerInfo b = makeServer(QStringLiteral("b"), QStringLiteral("One"));
        const BaseServerInfo offline = makeServer(QStringLiteral("x"), QStringLiteral("One"));
        const BaseServerInfo c = makeServer(QStringLiteral("c"), QStringLiteral("Two"));
        for (const BaseServerInfo &server : {a, b, offline, c})
            model.addServer(server);
        for (const BaseServerInfo &server : {a, b, c})
            logIn(model, server.id);
        model.changeItemSelectedState(rowOf(model, a.id));
        QSignalSpy selection(&model, &Model::selectionChanged);
        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);

        model.setAllItemSelected(true);
        QCOMPARE(selection.count(), 1);
        QCOMPARE(model.selectedCount(), 3);
        QCOMPARE(value(model, rowOf(model, offline.id), Model::SelectedStateRole).toInt(), int(Qt::Unchecked));
        QCOMPARE(value(model, 0, Model::SelectedStateRole).toInt(), int(Qt::PartiallyChecked));
        QCOMPARE(value(model, rowOf(model, c.id) - 1, Model::SelectedStateRole).toInt(), int(Qt::Checked));
        // The views hear of exactly the rows whose marks or counts changed.
        using Roles = QVector<int>;
        const QMap<int, Roles> expected{
            {0, Roles{Model::SelectedServersCountRole}},
            {rowOf(model, b.id), Roles{Model::SelectedStateRole}},
            {rowOf(model, c.id) - 1, Roles{Model::SelectedStateRole, Model::SelectedServersCountRole}},
            {rowOf(model, c.id), Roles{Model::SelectedStateRole}},
        };
        QCOMPARE(announcedRows(changed), expected);
        changed.clear();

        model.setAllItemSelected(true);
        QCOMPARE(selection.count(), 1);
        QCOMPARE(model.selectedCount(), 3);
        QCOMPARE(changed.count(), 0);

        model.setAllItemSelected(false);
        QCOMPARE(selection.count(), 2);
        QCOMPARE(model.selectedCount(), 0);
        QVERIFY(model.selectedServers().isEmpty());
        model.setAllItemSelected(false);
        QCOMPARE(selection.count(), 2);
    }

    void selectionOutdated()
    {
        Model model(nullptr);
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        BaseServerInfo a = makeServer(QStringLiteral("a"), QStringLiteral("S"));
        BaseServerInfo b = makeServer(QStringLiteral("b"), QStringLiteral("S"));
        model.addServer(a);
        model.addServer(b);
        logIn(model, a.id);
        logIn(model, b.id);
        model.changeItemSelectedState(rowOf(model, a.id));
        QVERIFY(!model.selectionOutdated());
        QSignalSpy outdated(&model, &Model::selectionOutdatedChanged);

        // Changes of servers that are not selected, and changes of what does
        // not tell servers apart, keep the selection current.
        b.port = 7010;
        model.changeServer(b);
        a.displayAddress = QStringLiteral("10.200.0.1");
        a.hostAddress = QStringLiteral("127.0.0.9");
        model.changeServer(a);
        QVERIFY(!model.selectionOutdated());
        QCOMPARE(value(model, rowOf(model, b.id), Model::PortRole).toInt(), 7010);
        QCOMPARE(value(model, rowOf(model, a.id), Model::NameRole).toString(), QStringLiteral("a (10.200.0.1)"));

        a.port = 8000;
        model.changeServer(a);
        QVERIFY(model.selectionOutdated());
        QVERIFY(outdated.count() > 0);
        QCOMPARE(model.property("selectionOutdated").toBool(), true);

        // Any selection change makes the selection current again.
        model.changeItemSelectedState(rowOf(model, b.id));
        QVERIFY(!model.selectionOutdated());

        // Changes confirmed by this tool are not news to the operator.
        model.updatePortInfo(a.id, 9000);
        QVERIFY(!model.selectionOutdated());
        QCOMPARE(value(model, rowOf(model, a.id), Model::PortRole).toInt(), 9000);

        const QByteArray zone = "Europe/Berlin";
        model.updateTimeDateInfo(a.id, 1000000, zone, 1000000);
        QVERIFY(model.selectionOutdated()); // new zone
        model.setItemSelected(rowOf(model, a.id));
        model.setAllItemSelected(true);
        QVERIFY(!model.selectionOutdated());
        // The clock drifting by up to 5 s between readings is no change.
        model.updateTimeDateInfo(a.id, 2004000, zone, 2000000);
        QVERIFY(!model.selectionOutdated());
        model.updateTimeDateInfo(a.id, 3009000, zone, 3000000);
        QVERIFY(!model.selectionOutdated());
        model.updateTimeDateInfo(a.id, 4015001, zone, 4000000);
        QVERIFY(model.selectionOutdated());
        QCOMPARE(model.selectedServers().first()->extraInfo().utcDateTimeMs, 4015001);

        const InterfaceInfo eth0(QStringLiteral("eth0"), QStringLiteral("192.168.3.3"), QStringLiteral("mac"),
                                 QStringLiteral("255.255.255.0"), QString(), QString(), Qt::Unchecked);
        model.updateInterfacesInfo(b.id, b.hostAddress, {eth0});
        model.setAllItemSelected(false);
        model.setAllItemSelected(true);
        QVERIFY(!model.selectionOutdated());
        model.updateInterfacesInfo(b.id, b.hostAddress, {eth0});
        QVERIFY(!model.selectionOutdated());
        InterfaceInfo wider = eth0;
        wider.mask = QStringLiteral("255.255.0.0");
        model.updateInterfacesInfo(b.id, b.hostAddress, {wider});
        QVERIFY(model.selectionOutdated());
        QCOMPARE(model.selectedServers().last()->extraInfo().interfaces.first().mask, wider.mask);
    }

    void confirmedUpdatesSelectAndShareThePassword()
    {
        Model model(nullptr);
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        const BaseServerInfo a = makeServer(QStringLiteral("a"), QStringLiteral("S"));
        const BaseServerInfo b = makeServer(QStringLiteral("b"), QStringLiteral("S"));
        const BaseServerInfo other = makeServer(QStringLiteral("o"), QStringLiteral("T"));
        for (const BaseServerInfo &server : {a, b, other})
            model.addServer(server);
        for (const BaseServerInfo &server : {a, b, other})
            logIn(model, server.id);
        QSignalSpy selection(&model, &Model::selectionChanged);

        // A confirmed value lands on a server of the selection being applied.
        model.updateTimeDateInfo(b.id, 5000, "UTC", 5000);
        QCOMPARE(value(model, rowOf(model, b.id), Model::SelectedStateRole).toInt(), int(Qt::Checked));
        QCOMPARE(model.selectedCount(), 1);
        QCOMPARE(selection.count(), 0);

        // The servers of one system share their administrator password.
        model.updatePasswordInfo(a.id, QStringLiteral("n3w"));
        QCOMPARE(model.selectedCount(), 2);
        for (const QUuid &id : {a.id, b.id})
            QCOMPARE(value(model, rowOf(model, id), Model::DefaultPasswordRole).toBool(), false);
        QCOMPARE(value(model, rowOf(model, other.id), Model::DefaultPasswordRole).toBool(), true);
        for (ServerInfo *info : model.selectedServers())
            QCOMPARE(info->extraInfo().password, QStringLiteral("n3w"));

        // Unknown ids are ignored.
        model.updatePasswordInfo(QUuid::createUuid(), QStringLiteral("x"));
        model.updatePortInfo(QUuid::createUuid(), 1);
        model.updateSystemNameInfo(QUuid::createUuid(), QStringLiteral("x"));
        model.changeServer(makeServer(QStringLiteral("ghost"), QStringLiteral("S")));
        QCOMPARE(model.rowCount(), 5);
    }

    void unknownAddresses()
    {
        Model model(nullptr);
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        BaseServerInfo server = makeServer(QStringLiteral("a"), QStringLiteral("S"));
        model.addServer(server);
        model.updateInterfacesInfo(server.id, server.hostAddress,
                                   {InterfaceInfo(QStringLiteral("eth0"), QStringLiteral("192.168.7.7"), QString(),
                                                  QString(), QString(), QString(), Qt::Unchecked)});
        QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
        QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
        QSignalSpy layout(&model, &Model::layoutChanged);

        model.unknownAdded(QStringLiteral("9.0.0.1"));
        QCOMPARE(ranges(inserted), (QList<QPair<int, int>>{{2, 3}}));
        QCOMPARE(model.rowCount(), 4);
        model.unknownAdded(QStringLiteral("10.0.0.2")); // sorts as text, before 9.0.0.1
        QCOMPARE(ranges(inserted).last(), qMakePair(3, 3));
        QCOMPARE(value(model, 3, Model::IpAddressRole).toString(), QStringLiteral("10.0.0.2"));
        QCOMPARE(value(model, 4, Model::IpAddressRole).toString(), QStringLiteral("9.0.0.1"));
        // Views relayout after the turn (the event loop does not run here,
        // so that the pending login keeps the server's interfaces).
        QCOMPARE(layout.count(), 0);

        // Addresses of known servers are no unknown hosts.
        model.unknownAdded(server.hostAddress);
        model.unknownAdded(QStringLiteral("192.168.7.7"));
        QCOMPARE(model.rowCount(), 5);
        QCOMPARE(model.serversCount(), 1);

        model.unknownRemoved(QStringLiteral("1.2.3.4"));
        QCOMPARE(removed.count(), 0);
        model.unknownRemoved(QStringLiteral("10.0.0.2"));
        QCOMPARE(ranges(removed), (QList<QPair<int, int>>{{3, 3}}));
        model.unknownRemoved(QStringLiteral("9.0.0.1"));
        QCOMPARE(ranges(removed).last(), qMakePair(2, 3));
        QCOMPARE(model.rowCount(), 2);
        QCOMPARE(layout.count(), 0);

        // A host that turns out to be a server, or one of its interfaces,
        // leaves the unknown group.
        model.unknownAdded(QStringLiteral("10.0.0.50"));
        model.unknownAdded(QStringLiteral("10.0.0.60"));
        server.hostAddress = QStringLiteral("10.0.0.50");
        model.changeServer(server);
        QCOMPARE(model.rowCount(), 4);
        QCOMPARE(value(model, 3, Model::IpAddressRole).toString(), QStringLiteral("10.0.0.60"));
        model.updateInterfacesInfo(server.id, server.hostAddress,
                                   {InterfaceInfo(QStringLiteral("eth1"), QStringLiteral("10.0.0.60"), QString(),
                                                  QString(), QString(), QString(), Qt::Unchecked)});
        QCOMPARE(model.rowCount(), 2);

        // Systems added later push the group down.
        model.unknownAdded(QStringLiteral("10.0.0.70"));
        model.addServer(makeServer(QStringLiteral("b"), QStringLiteral("A")));
        QCOMPARE(value(model, 4, Model::ItemTypeRole).toInt(), int(Constants::UnknownGroupType));
        QCOMPARE(value(model, 5, Model::IpAddressRole).toString(), QStringLiteral("10.0.0.70"));
    }

    void changingSystems()
    {
        Model model(nullptr);
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        BaseServerInfo lone = makeServer(QStringLiteral("lone"), QStringLiteral("A"));
        BaseServerInfo mover = makeServer(QStringLiteral("mover"), QStringLiteral("B"));
        const BaseServerInfo stay = makeServer(QStringLiteral("stay"), QStringLiteral("C"));
        BaseServerInfo split = makeServer(QStringLiteral("split"), QStringLiteral("C"));
        for (const BaseServerInfo &server : {lone, mover, stay, split})
            model.addServer(server);
        logIn(model, mover.id);
        model.changeItemSelectedState(rowOf(model, mover.id));
        QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
        QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
        QSignalSpy moved(&model, &QAbstractItemModel::rowsMoved);
        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);

        // The only server of a system renames its system in place: no row
        // comes or goes, both rows say the new name.
        lone.systemName = QStringLiteral("Z");
        model.changeServer(lone);
        QCOMPARE(systemNames(model), QStringList({QStringLiteral("Z"), QStringLiteral("B"), QStringLiteral("C")}));
        QCOMPARE(rowOf(model, lone.id), 1);
        QCOMPARE(value(model, 1, Model::SystemNameRole).toString(), QStringLiteral("Z"));
        QCOMPARE(removed.count() + inserted.count() + moved.count(), 0);
        QVERIFY(announcedRows(changed).value(0).contains(Model::NameRole));
        QCOMPARE(announcedRows(changed).value(1), QVector<int>{Model::SystemNameRole});

        // Into an existing system: moved to its end (one move, the row keeps
        // its delegate), selection kept, the empty system dropped.
        mover.systemName = QStringLiteral("C");
        changed.clear();
        model.changeServer(mover);
        QCOMPARE(systemNames(model), QStringList({QStringLiteral("Z"), QStringLiteral("C")}));
        QCOMPARE(moved.count(), 1);
        QCOMPARE(moved.first().at(1).toInt(), 3);
        QCOMPARE(moved.first().at(4).toInt(), 7);
        QCOMPARE(ranges(removed), (QList<QPair<int, int>>{{2, 2}}));
        QCOMPARE(inserted.count(), 0);
        QVERIFY(announcedRows(changed).value(5).contains(Model::SystemNameRole));
        QCOMPARE(rowOf(model, mover.id), 5);
        QCOMPARE(value(model, 5, Model::SelectedStateRole).toInt(), int(Qt::Checked));
        QCOMPARE(value(model, 5, Model::LoggedInRole).toBool(), true);
        QCOMPARE(value(model, 2, Model::SelectedServersCountRole).toInt(), 1);
        QCOMPARE(model.selectedCount(), 1);
        QCOMPARE(model.rowCount(), 6);

        // Out of a system with several servers into a new one: the system
        // row comes, the server moves into it.
        split.systemName = QStringLiteral("Alpha");
        model.changeServer(split);
        QCOMPARE(ranges(inserted), (QList<QPair<int, int>>{{0, 0}}));
        QCOMPARE(moved.count(), 2);
        QCOMPARE(systemNames(model), QStringList({QStringLiteral("Alpha"), QStringLiteral("Z"), QStringLiteral("C")}));
        QCOMPARE(rowOf(model, split.id), 1);
        QCOMPARE(value(model, 4, Model::ServersCountRole).toInt(), 2);

        // A confirmed system name makes a factory server an ordinary one.
        const BaseServerInfo fresh =
            makeServer(QStringLiteral("fresh"), QStringLiteral("auto-7"), Constants::IsFactoryFlag);
        model.addServer(fresh);
        QCOMPARE(systemNames(model).first(), QString());
        model.updateSystemNameInfo(fresh.id, QStringLiteral("Yard"));
        QCOMPARE(value(model, rowOf(model, fresh.id), Model::SystemNameRole).toString(), QStringLiteral("Yard"));
        QVERIFY(!systemNames(model).contains(QString()));
        QCOMPARE(model.serversCount(), 5);
    }

    void factoryServerKeepsItsGroup()
    {
        // A factory server whose reported name changes stays in the group of
        // unassigned servers, without leaving an empty system behind.
        Model model(nullptr);
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        BaseServerInfo fresh = makeServer(QStringLiteral("fresh"), QStringLiteral("auto-1"), Constants::IsFactoryFlag);
        model.addServer(fresh);
        fresh.systemName = QStringLiteral("auto-2");
        model.changeServer(fresh);
        QCOMPARE(systemNames(model), QStringList({QString()}));
        QCOMPARE(model.rowCount(), 2);

        // Once set up it moves to its system.
        fresh.flags = 0;
        model.changeServer(fresh);
        QCOMPARE(systemNames(model), QStringList({QStringLiteral("auto-2")}));
        QCOMPARE(model.rowCount(), 2);
    }

    void removingServers()
    {
        Model model(nullptr);
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        const BaseServerInfo a = makeServer(QStringLiteral("a"), QStringLiteral("A"));
        const BaseServerInfo b = makeServer(QStringLiteral("b"), QStringLiteral("B"));
        const BaseServerInfo b2 = makeServer(QStringLiteral("b2"), QStringLiteral("B"));
        for (const BaseServerInfo &server : {a, b, b2})
            model.addServer(server);
        logIn(model, a.id);
        model.changeItemSelectedState(rowOf(model, a.id));
        QSignalSpy selection(&model, &Model::selectionChanged);
        QSignalSpy count(&model, &Model::serversCountChanged);
        QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);

        model.removeServers({b.id, QUuid::createUuid()});
        QCOMPARE(ranges(removed), (QList<QPair<int, int>>{{3, 3}}));
        QCOMPARE(value(model, 2, Model::ServersCountRole).toInt(), 1);
        QCOMPARE(selection.count(), 0);
        QCOMPARE(count.count(), 1);

        model.removeServers({a.id});
        QCOMPARE(ranges(removed).mid(1), (QList<QPair<int, int>>{{1, 1}, {0, 0}}));
        QCOMPARE(selection.count(), 1);
        QCOMPARE(model.selectedCount(), 0);
        QCOMPARE(systemNames(model), QStringList({QStringLiteral("B")}));

        model.removeServers({});
        QCOMPARE(count.count(), 3);
        QCOMPARE(selection.count(), 1);
    }

    void refreshesAnnounceOnlyWhatChanged()
    {
        Model model(nullptr);
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        const BaseServerInfo one = makeServer(QStringLiteral("one"), QStringLiteral("S"));
        model.addServer(one);
        model.addServer(makeServer(QStringLiteral("two"), QStringLiteral("S")));
        InterfaceInfoList interfaces{InterfaceInfo(QStringLiteral("eth0"), QStringLiteral("192.168.1.5"),
                                                   QStringLiteral("aa:bb:cc:dd:ee:01"),
                                                   QStringLiteral("255.255.255.0"), QString(), QString(),
                                                   Qt::Unchecked)};
        model.updatePasswordInfo(one.id, QStringLiteral("738"));
        model.updateInterfacesInfo(one.id, one.hostAddress, interfaces);
        model.updateTimeDateInfo(one.id, 5000, "UTC", 1000);
        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);

        // The same readings again, as every refresh brings them: nothing shown changed.
        model.updatePasswordInfo(one.id, QStringLiteral("738"));
        model.updateInterfacesInfo(one.id, one.hostAddress, interfaces);
        model.updateTimeDateInfo(one.id, 9000, "UTC", 5000);
        model.changeServer(one);
        QCOMPARE(changed.count(), 0);

        interfaces[0].macAddress = QStringLiteral("aa:bb:cc:dd:ee:02");
        model.updateInterfacesInfo(one.id, one.hostAddress, interfaces);
        QCOMPARE(announcedRows(changed), (QMap<int, QVector<int>>{{1, {Model::MacAddressRole}}}));

        changed.clear();
        BaseServerInfo moved = one;
        moved.displayAddress = QStringLiteral("10.9.9.9");
        model.changeServer(moved);
        QCOMPARE(announcedRows(changed), (QMap<int, QVector<int>>{{1, {Model::NameRole}}}));
    }

    // While two hosts answer with a server's id, its row names both and
    // cannot be selected by any means; it is deselected when that starts.
    void conflictRefusesSelection()
    {
        Model model(nullptr);
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        const BaseServerInfo contested = makeServer(QStringLiteral("contested"), QStringLiteral("S"));
        const BaseServerInfo plain = makeServer(QStringLiteral("plain"), QStringLiteral("S"));
        model.addServer(contested);
        model.addServer(plain);
        QSignalSpy trusted(&model, &Model::addressesTrusted);
        model.updateInterfacesInfo(contested.id, QStringLiteral("10.0.0.1"),
                                   {InterfaceInfo(QStringLiteral("eth0"), QStringLiteral("10.0.0.2"), {}, {}, {}, {},
                                                  Qt::Unchecked)});
        QCOMPARE(trusted.count(), 1);
        QCOMPARE(trusted.first().at(1).toStringList(), (QStringList{"10.0.0.1", "10.0.0.2"}));
        model.updatePasswordInfo(plain.id, QStringLiteral("738"));
        QCOMPARE(model.selectedCount(), 2);
        const int row = rowOf(model, contested.id);

        QSignalSpy selection(&model, &Model::selectionChanged);
        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
        model.setServerConflict(contested.id, {QStringLiteral("10.0.0.1"), QStringLiteral("10.0.0.66")});
        QCOMPARE(selection.count(), 1);
        QCOMPARE(model.selectedCount(), 1);
        QVERIFY(announcedRows(changed).value(row).contains(Model::ConflictRole));
        const QString why = value(model, row, Model::ConflictRole).toString();
        QVERIFY2(why.contains(QLatin1String("10.0.0.1")) && why.contains(QLatin1String("10.0.0.66")), qPrintable(why));
        QCOMPARE(value(model, row, Model::NameRole).toString(), QStringLiteral("contested ()"));

        model.changeItemSelectedState(row);
        model.setItemSelected(row);
        model.setAllItemSelected(false);
        model.setAllItemSelected(true);
        model.changeItemSelectedState(row - 1); // the system row: deselects the plain server
        model.changeItemSelectedState(row - 1);
        model.updatePasswordInfo(contested.id, QStringLiteral("738"));
        QCOMPARE(value(model, row, Model::SelectedStateRole).toInt(), int(Qt::Unchecked));
        QCOMPARE(model.selectedServers().size(), 1);

        model.setServerConflict(contested.id, {});
        QCOMPARE(value(model, row, Model::ConflictRole).toString(), QString());
        QCOMPARE(value(model, row, Model::NameRole).toString(), QStringLiteral("contested (%1)").arg(contested.displayAddress));
        model.changeItemSelectedState(row);
        QCOMPARE(model.selectedCount(), 2);
    }

    // A server answering from several addresses says which, and what the
    // operator can do. Addresses it once named as its own (logged in) prove
    // it is one server: they are trusted again, and once the conflict is
    // over it is logged in with what is known for its system.
    void conflictSaysWhatToDo()
    {
        test::FakeMediaServer fake(QStringLiteral("pw-harbour-1"));
        Model model(nullptr);
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        const BaseServerInfo gate = makeServer(QStringLiteral("gate"), QStringLiteral("Harbour"), fake);
        const BaseServerInfo dock = makeServer(QStringLiteral("dock"), QStringLiteral("Harbour"));
        model.addServer(gate);
        model.addServer(dock);
        model.tryLoginWith(QStringLiteral("Harbour"), QStringLiteral("pw-harbour-1"), Callback());
        QTRY_VERIFY(value(model, rowOf(model, gate.id), Model::LoggedInRole).toBool());
        const QStringList own{gate.hostAddress, fake.ip};
        // Both stay in the one system, whose row comes first.
        const auto harbour = [&model](int role) { return value(model, 0, role); };

        // Not logged in, in conflict with an address it never named.
        model.setServerConflict(dock.id, {QStringLiteral("10.0.0.5"), QStringLiteral("10.0.0.66")});
        const QString why = value(model, rowOf(model, dock.id), Model::ConflictRole).toString();
        for (const char *fact : {"10.0.0.5 and 10.0.0.66", "no typed password is sent", "one server with several "
                                 "interfaces", "copied disk image"})
            QVERIFY2(why.contains(QLatin1String(fact)), qPrintable(why));
        const QString login = harbour(Model::ConflictRole).toString();
        QVERIFY2(login.contains(QLatin1String("dock answers from 10.0.0.5 and 10.0.0.66")), qPrintable(login));
        QVERIFY2(!login.contains(QLatin1String("gate")), qPrintable(login));

        // It leaves, comes back answering from both of its addresses and is
        // tried with the default passwords alone meanwhile.
        model.removeServers({gate.id});
        model.addServer(gate);
        QSignalSpy trusted(&model, &Model::addressesTrusted);
        model.setServerConflict(gate.id, own);
        const QString proven = value(model, rowOf(model, gate.id), Model::ConflictRole).toString();
        QVERIFY2(proven.contains(QLatin1String("listed them all as its own")), qPrintable(proven));
        QVERIFY(!harbour(Model::ConflictRole).toString().contains(QLatin1String("gate")));
        QTRY_COMPARE(trusted.count(), 1);
        QCOMPARE(trusted.first().at(0).toUuid(), gate.id);
        QCOMPARE(trusted.first().at(1).toStringList(), own);
        QTRY_COMPARE(harbour(Model::LoggedStateRole).toInt(),
                     int(Constants::PartiallyLogged));
        QVERIFY(!value(model, rowOf(model, gate.id), Model::LoggedInRole).toBool());

        // Discovery no longer sees a conflict.
        model.setServerConflict(gate.id, {});
        QTRY_VERIFY(value(model, rowOf(model, gate.id), Model::LoggedInRole).toBool());
        QCOMPARE(value(model, rowOf(model, gate.id), Model::ConflictRole).toString(), QString());
    }

    // However many interfaces come in over time, a server keeps 64.
    void interfacesAreBounded()
    {
        Model model(nullptr);
        const BaseServerInfo server = makeServer(QStringLiteral("one"), QStringLiteral("S"));
        model.addServer(server);
        for (const QString &prefix : {QStringLiteral("eth"), QStringLiteral("wlan")}) {
            InterfaceInfoList interfaces;
            for (int i = 0; i < 50; ++i)
                interfaces.append(InterfaceInfo(prefix + QString::number(i), QStringLiteral("10.2.0.%1").arg(i), {},
                                                {}, {}, {}, Qt::Unchecked));
            model.updateInterfacesInfo(server.id, server.hostAddress, interfaces);
        }
        const InterfaceInfoList kept = model.selectedServers().value(0)->extraInfo().interfaces;
        QCOMPARE(kept.size(), kMaxInterfaces);
        QCOMPARE(kept.first().name, QStringLiteral("eth0"));
        QCOMPARE(kept.last().name, QStringLiteral("wlan13"));
    }

    void clockJumps_data()
    {
        constexpr qint64 lowest = std::numeric_limits<qint64>::min();
        constexpr qint64 highest = std::numeric_limits<qint64>::max();
        QTest::addColumn<qint64>("storedUtc");
        QTest::addColumn<qint64>("storedStamp");
        QTest::addColumn<qint64>("utc");
        QTest::addColumn<qint64>("stamp");
        QTest::addColumn<bool>("moved");
        QTest::newRow("same offset") << qint64(10000) << qint64(0) << qint64(14000) << qint64(4000) << false;
        QTest::newRow("five seconds is not a jump")
            << qint64(10000) << qint64(0) << qint64(15000) << qint64(0) << false;
        QTest::newRow("a jump") << qint64(10000) << qint64(0) << qint64(15001) << qint64(0) << true;
        QTest::newRow("lowest reading") << qint64(10000) << qint64(0) << lowest << qint64(1) << true;
        QTest::newRow("highest reading") << qint64(10000) << qint64(0) << highest << qint64(-1) << true;
        QTest::newRow("offsets far apart") << qint64(5000000000000000000) << qint64(0)
                                           << qint64(-5000000000000000000) << qint64(0) << true;
        QTest::newRow("from the lowest back") << lowest << qint64(1) << qint64(10000) << qint64(0) << true;
    }

    void clockJumps()
    {
        QFETCH(qint64, storedUtc);
        QFETCH(qint64, storedStamp);
        QFETCH(qint64, utc);
        QFETCH(qint64, stamp);
        QFETCH(bool, moved);
        Model model(nullptr);
        const BaseServerInfo server = makeServer(QStringLiteral("one"), QStringLiteral("S"));
        model.addServer(server);
        model.updateTimeDateInfo(server.id, storedUtc, "UTC", storedStamp);
        emit model.selectionChanged(); // clears the outdated mark

        model.updateTimeDateInfo(server.id, utc, "UTC", stamp);
        QCOMPARE(model.selectionOutdated(), moved);
        QCOMPARE(model.selectedServers().first()->extraInfo().utcDateTimeMs, utc);
    }

    void manySystemsKeepTheirOrder()
    {
        // Systems come and go in any order; names and rows stay consistent.
        Model model(nullptr);
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QVector<BaseServerInfo> servers;
        for (int index = 0; index < 240; ++index) {
            const int system = (index * 37) % 61;
            const QString name = (system % 2 ? QStringLiteral("sys-%1") : QStringLiteral("SYS-%1")).arg(system, 3, 10,
                                                                                                   QLatin1Char('0'));
            servers.append(makeServer(QStringLiteral("s%1").arg(index), name));
            model.addServer(servers.last());
        }
        IDsVector gone;
        for (int index = 0; index < servers.size(); index += 3)
            gone.append(servers.at(index).id);
        model.removeServers(gone);

        const QStringList names = systemNames(model);
        QCOMPARE(names.size(), 61);
        for (int index = 1; index < names.size(); ++index)
            QVERIFY(QString::compare(names.at(index - 1), names.at(index), Qt::CaseInsensitive) < 0);
        int listed = 0;
        QString system;
        int expectedServers = 0;
        for (int row = 0; row < model.rowCount(); ++row) {
            if (value(model, row, Model::ItemTypeRole).toInt() == Constants::SystemItemType) {
                QCOMPARE(expectedServers, 0);
                system = value(model, row, Model::NameRole).toString();
                expectedServers = value(model, row, Model::ServersCountRole).toInt();
                continue;
            }
            QCOMPARE(value(model, row, Model::SystemNameRole).toString(), system);
            --expectedServers;
            ++listed;
        }
        QCOMPARE(listed, 160);
        QCOMPARE(model.serversCount(), 160);
        for (int index = 1; index < servers.size(); index += 3)
            QVERIFY(rowOf(model, servers.at(index).id) > 0);
    }

    void listStopsAtItsLimit()
    {
        ServersSelectionTiming timing;
        timing.maxServers = 3;
        Model model(nullptr, timing);
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QVector<BaseServerInfo> servers;
        for (int index = 0; index < 4; ++index)
            servers.append(makeServer(QStringLiteral("s%1").arg(index), QStringLiteral("S%1").arg(index % 2)));
        for (int index = 0; index < 3; ++index)
            model.addServer(servers.at(index));
        QVERIFY(model.serversLimitReached());

        model.addServer(servers.at(3));
        QCOMPARE(model.serversCount(), 3);
        QCOMPARE(rowOf(model, servers.at(3).id), -1);
        QCOMPARE(model.rowCount(), 5);

        model.removeServers({servers.at(0).id});
        QVERIFY(!model.serversLimitReached());
        model.addServer(servers.at(3));
        QVERIFY(rowOf(model, servers.at(3).id) > 0);
        QVERIFY(model.serversLimitReached());
    }

    // The rest talks to servers over HTTP.

    void automaticLogin()
    {
        test::FakeMediaServer second(QStringLiteral("morvy"));
        test::FakeMediaServer refusing(QStringLiteral("unknown-secret-1"));
        test::FakeMediaServer silent(QStringLiteral("738"));
        Model model(nullptr);
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        const BaseServerInfo good = makeServer(QStringLiteral("good"), QStringLiteral("North"), second);
        const BaseServerInfo bad = makeServer(QStringLiteral("bad"), QStringLiteral("South"), refusing);
        const BaseServerInfo gone = makeServer(QStringLiteral("gone"), QStringLiteral("West"), silent);
        silent.shutDown();
        for (const BaseServerInfo &server : {good, bad, gone})
            model.addServer(server);

        QTRY_VERIFY(value(model, rowOf(model, good.id), Model::LoggedInRole).toBool());
        QCOMPARE(value(model, rowOf(model, good.id), Model::MacAddressRole).toString(), second.macAddress);
        QCOMPARE(value(model, rowOf(model, good.id), Model::DefaultPasswordRole).toBool(), true);
        QCOMPARE(second.answered(QStringLiteral("gettime")), 1);
        QCOMPARE(second.answered(QStringLiteral("iflist")), 1);

        const int southRow = rowOf(model, bad.id) - 1;
        QTRY_COMPARE(value(model, southRow, Model::LoggedStateRole).toInt(), int(Constants::NotLogged));
        QCOMPARE(value(model, southRow + 1, Model::MacAddressRole).toString(), QString());
        QCOMPARE(value(model, southRow + 1, Model::LoggedInRole).toBool(), false);
        QCOMPARE(refusing.answered(QStringLiteral("gettime")), 0);

        // A server that cannot be reached is unavailable, which does not
        // lock its system.
        const int westRow = rowOf(model, gone.id) - 1;
        QCOMPARE(value(model, westRow, Model::LoggedStateRole).toInt(), int(Constants::LoggedToAllServers));
        QCOMPARE(value(model, westRow + 1, Model::MacAddressRole).toString(), QStringLiteral("Server is unavailable"));

        // Selecting a logged-in server refreshes it once.
        model.changeItemSelectedState(rowOf(model, good.id));
        QTRY_COMPARE(second.answered(QStringLiteral("gettime")), 2);
    }

    // A fleet that answers at once is listed before its logins start; new
    // servers that keep coming without a pause still get them started, and
    // a server that went and came back meanwhile is logged in once.
    void loginsWaitForTheEndOfABurst()
    {
        test::FakeMediaServer first(QStringLiteral("morvy"));
        ServersSelectionTiming timing;
        timing.loginQuietMs = 500;
        timing.loginHoldMaxMs = 1500;
        Model model(nullptr, timing);
        const BaseServerInfo firstInfo = makeServer(QStringLiteral("first"), QStringLiteral("North"), first);
        model.addServer(firstInfo);
        model.removeServers({firstInfo.id});
        model.addServer(firstInfo);
        QElapsedTimer sinceFirst;
        sinceFirst.start();
        int answeredWhileHeld = -1;
        while (sinceFirst.elapsed() < 2500) {
            QTest::qWait(100);
            if (answeredWhileHeld < 0 && sinceFirst.elapsed() >= 1000)
                answeredWhileHeld = first.answered(QStringLiteral("gettime"));
            model.addServer(makeServer(QStringLiteral("next"), QStringLiteral("South")));
        }
        QCOMPARE(answeredWhileHeld, 0);
        QCOMPARE(first.answered(QStringLiteral("gettime")), 1);
    }

    void loginWithPassword()
    {
        test::FakeMediaServer first(QStringLiteral("pw-east-1"));
        test::FakeMediaServer second(QStringLiteral("pw-east-1"));
        Model model(nullptr);
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        const BaseServerInfo one = makeServer(QStringLiteral("one"), QStringLiteral("East"), first);
        const BaseServerInfo two = makeServer(QStringLiteral("two"), QStringLiteral("East"), second);
        model.addServer(one);
        model.addServer(two);
        QTRY_COMPARE(value(model, 0, Model::LoggedStateRole).toInt(), int(Constants::NotLogged));

        int failures = 0;
        const Callback failed = [&failures]() { ++failures; };
        model.tryLoginWith(QStringLiteral("East"), QStringLiteral("wrong"), failed);
        QCOMPARE(failures, 0);
        QTRY_COMPARE(failures, 1);
        QCOMPARE(value(model, 0, Model::LoggedStateRole).toInt(), int(Constants::NotLogged));

        model.tryLoginWith(QStringLiteral("East"), QStringLiteral("pw-east-1"), failed);
        QTRY_VERIFY(value(model, 1, Model::LoggedInRole).toBool() && value(model, 2, Model::LoggedInRole).toBool());
        QCOMPARE(value(model, 0, Model::LoggedStateRole).toInt(), int(Constants::LoggedToAllServers));
        QCOMPARE(value(model, 1, Model::DefaultPasswordRole).toBool(), false);
        QCOMPARE(failures, 1);

        // Servers in their factory state are listed, and logged in to, under
        // the empty system name.
        test::FakeMediaServer fresh(QStringLiteral("pw-fresh-1"));
        BaseServerInfo factory = makeServer(QStringLiteral("fresh"), QStringLiteral("auto-99"), fresh);
        factory.flags = Constants::IsFactoryFlag;
        model.addServer(factory);
        QTRY_COMPARE(value(model, 0, Model::LoggedStateRole).toInt(), int(Constants::NotLogged));
        model.tryLoginWith(value(model, 0, Model::SystemNameRole).toString(), QStringLiteral("pw-fresh-1"), failed);
        QTRY_VERIFY(value(model, 1, Model::LoggedInRole).toBool());
        QCOMPARE(failures, 1);
        // Servers already logged in are left alone.
        QCOMPARE(first.answered(QStringLiteral("gettime")), 1);

        // Nothing left to try reports the failure at once.
        model.tryLoginWith(QStringLiteral("East"), QStringLiteral("pw-east-1"), failed);
        QCOMPARE(failures, 2);
        model.tryLoginWith(QStringLiteral("Nowhere"), QStringLiteral("x"), failed);
        QCOMPARE(failures, 3);
        model.tryLoginWith(QStringLiteral("Nowhere"), QStringLiteral("x"), Callback());

        // The typed password is offered to the system's servers only, also
        // under the name the tool gives the system.
        QVERIFY(!ServerInfoManager::knownPasswords(QStringLiteral("West")).contains(QStringLiteral("pw-east-1")));
        model.updateSystemNameInfo(one.id, QStringLiteral("West"));
        QVERIFY(ServerInfoManager::knownPasswords(QStringLiteral("West")).contains(QStringLiteral("pw-east-1")));
    }

    void failedRefreshDeselects()
    {
        test::FakeMediaServer first(QStringLiteral("738"));
        test::FakeMediaServer second(QStringLiteral("738"));
        ServersSelectionTiming timing;
        timing.refreshThrottleMs = 0;
        Model model(nullptr, timing);
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        const BaseServerInfo one = makeServer(QStringLiteral("one"), QStringLiteral("West"), first);
        const BaseServerInfo two = makeServer(QStringLiteral("two"), QStringLiteral("West"), second);
        model.addServer(one);
        model.addServer(two);
        QTRY_VERIFY(value(model, 1, Model::LoggedInRole).toBool() && value(model, 2, Model::LoggedInRole).toBool());
        model.setAllItemSelected(true);
        QTRY_VERIFY(first.answered(QStringLiteral("gettime")) == 2 && second.answered(QStringLiteral("gettime")) == 2);
        QSignalSpy selection(&model, &Model::selectionChanged);

        // The password was changed elsewhere: the server is locked and leaves
        // the selection, which is still not empty.
        first.setPassword(QStringLiteral("changed-elsewhere-1"));
        model.serverDiscovered(one);
        QTRY_COMPARE(value(model, 0, Model::LoggedStateRole).toInt(), int(Constants::PartiallyLogged));
        QCOMPARE(value(model, 1, Model::SelectedStateRole).toInt(), int(Qt::Unchecked));
        QCOMPARE(value(model, 1, Model::LoggedInRole).toBool(), false);
        QCOMPARE(value(model, 0, Model::SelectedServersCountRole).toInt(), 1);
        QCOMPARE(model.selectedCount(), 1);
        QCOMPARE(selection.count(), 0);

        // A locked server is not refreshed on rediscovery.
        const int rejectedBefore = first.rejected();
        model.serverDiscovered(one);
        model.serverDiscovered(two);
        QTRY_COMPARE(second.answered(QStringLiteral("gettime")), 3);
        QCOMPARE(first.rejected(), rejectedBefore);

        second.setPassword(QStringLiteral("changed-elsewhere-2"));
        model.serverDiscovered(two);
        QTRY_COMPARE(selection.count(), 1);
        QCOMPARE(model.selectedCount(), 0);
        QCOMPARE(value(model, 0, Model::LoggedStateRole).toInt(), int(Constants::NotLogged));
    }

    void rediscoveryIsThrottled()
    {
        test::FakeMediaServer fake(QStringLiteral("738"));
        ServersSelectionTiming timing;
        timing.refreshThrottleMs = 2000;
        Model model(nullptr, timing);
        const BaseServerInfo server = makeServer(QStringLiteral("one"), QStringLiteral("S"), fake);
        model.addServer(server);
        QElapsedTimer sinceAdded;
        sinceAdded.start();
        QTRY_VERIFY(value(model, 1, Model::LoggedInRole).toBool());

        model.serverDiscovered(server);
        QTRY_VERIFY(sinceAdded.elapsed() > timing.refreshThrottleMs);
        QCOMPARE(fake.answered(QStringLiteral("gettime")), 1);
        model.serverDiscovered(server);
        model.serverDiscovered(server);
        QTRY_COMPARE(fake.answered(QStringLiteral("gettime")), 2);
        QTest::qWait(200); // a second refresh would have arrived by now
        QCOMPARE(fake.answered(QStringLiteral("gettime")), 2);
    }
};

QTEST_GUILESS_MAIN(TestServersSelectionModel)
#include "tst_servers_selection_model.moc"
