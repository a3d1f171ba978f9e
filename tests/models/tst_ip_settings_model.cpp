#include "models/ip_settings_model.h"
#include "models/servers_selection_model.h"
#include "selected_servers.h"

#include <QAbstractItemModelTester>
#include <QtTest>

using namespace rtu;

namespace {

// Reaches rows the public index() refuses, as a view holding a stale index would.
class ProbedModel : public IpSettingsModel
{
public:
    using IpSettingsModel::IpSettingsModel;
    QModelIndex rawIndex(int row) const { return createIndex(row, 0); }
};

QVariant value(const IpSettingsModel &model, int row, int role)
{
    return model.data(model.index(row, 0), role);
}

} // namespace

class TestIpSettingsModel : public QObject
{
    Q_OBJECT

private slots:
    void oneServerListsItsInterfaces()
    {
        ServersSelectionModel selection(nullptr);
        TestServer server;
        server.interfaces << testInterface(7, Qt::Checked) << testInterface(3, Qt::Unchecked)
                          << testInterface(5, Qt::Checked);
        addSelectedServer(selection, server);

        IpSettingsModel model(&selection, nullptr);
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QVERIFY(model.isSingleSelection());
        QCOMPARE(model.property("isSingleSelection").toBool(), true);
        QCOMPARE(model.rowCount(), 3);
        for (int row = 0; row < 3; ++row) {
            const InterfaceInfo &expected = server.interfaces.at(row);
            QCOMPARE(value(model, row, IpSettingsModel::AdapterNameRole).toString(), expected.name);
            QCOMPARE(value(model, row, IpSettingsModel::AddressRole).toString(), expected.ip);
            QCOMPARE(value(model, row, IpSettingsModel::SubnetMaskRole).toString(), expected.mask);
            QCOMPARE(value(model, row, IpSettingsModel::UseDHCPRole).toInt(), expected.useDHCP);
            QCOMPARE(value(model, row, IpSettingsModel::DnsRole).toString(), expected.dns);
            QCOMPARE(value(model, row, IpSettingsModel::GatewayRole).toString(), expected.gateway);
            QCOMPARE(value(model, row, IpSettingsModel::ReadableNameRole).toString(),
                     QStringLiteral("Interface #%1").arg(row + 1));
        }
    }

    void rolesAndBounds()
    {
        ServersSelectionModel selection(nullptr);
        TestServer server;
        server.interfaces << testInterface(1, Qt::Checked);
        addSelectedServer(selection, server);
        ProbedModel model(&selection, nullptr);

        const QHash<int, QByteArray> names = model.roleNames();
        QCOMPARE(names.size(), 7);
        QCOMPARE(names.value(258), QByteArray("adapterName"));
        QCOMPARE(names.value(259), QByteArray("address"));
        QCOMPARE(names.value(260), QByteArray("subnetMask"));
        QCOMPARE(names.value(261), QByteArray("useDHCP"));
        QCOMPARE(names.value(262), QByteArray("readableName"));
        QCOMPARE(names.value(263), QByteArray("dns"));
        QCOMPARE(names.value(264), QByteArray("gateway"));

        QVERIFY(model.data(model.rawIndex(0), 258).isValid());
        QVERIFY(model.data(model.rawIndex(0), 264).isValid());
        QVERIFY(!model.data(model.rawIndex(0), 257).isValid());
        QVERIFY(!model.data(model.rawIndex(0), 265).isValid());
        QVERIFY(!model.data(model.rawIndex(0), Qt::DisplayRole).isValid());
        QVERIFY(!model.data(model.rawIndex(-1), 258).isValid());
        QVERIFY(!model.data(model.rawIndex(1), 258).isValid());
    }

    void severalServersShareOneBlankRow_data()
    {
        QTest::addColumn<QList<QList<int>>>("servers");
        QTest::addColumn<int>("useDHCP");

        QTest::newRow("first on DHCP") << QList<QList<int>>{{2, 0}, {0}} << int(Qt::Checked);
        QTest::newRow("all off") << QList<QList<int>>{{0}, {0}} << int(Qt::Unchecked);
        QTest::newRow("first off, a later server all off") << QList<QList<int>>{{0, 2}, {0, 0}}
                                                           << int(Qt::Unchecked);
        QTest::newRow("first off, a server without interfaces") << QList<QList<int>>{{0, 2}, {}}
                                                                << int(Qt::Unchecked);
        QTest::newRow("first off, nobody all off") << QList<QList<int>>{{0, 2}, {2, 0}} << int(Qt::Checked);
        QTest::newRow("first without interfaces") << QList<QList<int>>{{}, {2}} << -1;
    }

    void severalServersShareOneBlankRow()
    {
        QFETCH(QList<QList<int>>, servers);
        QFETCH(int, useDHCP);

        ServersSelectionModel selection(nullptr);
        addSelectedServers(selection, servers);
        QCOMPARE(selection.selectedCount(), servers.size());

        IpSettingsModel model(&selection, nullptr);
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QVERIFY(!model.isSingleSelection());
        if (useDHCP < 0) {
            QCOMPARE(model.rowCount(), 0);
            return;
        }
        QCOMPARE(model.rowCount(), 1);
        QCOMPARE(value(model, 0, IpSettingsModel::UseDHCPRole).toInt(), useDHCP);
        for (const int role : {IpSettingsModel::AdapterNameRole, IpSettingsModel::AddressRole,
                               IpSettingsModel::SubnetMaskRole, IpSettingsModel::DnsRole,
                               IpSettingsModel::GatewayRole}) {
            const QVariant text = value(model, 0, role);
            QVERIFY(text.isValid());
            QCOMPARE(text.toString(), QString());
        }
        QCOMPARE(value(model, 0, IpSettingsModel::ReadableNameRole).toString(), QStringLiteral("Interface #1"));
    }

    void noSelection()
    {
        ServersSelectionModel selection(nullptr);
        IpSettingsModel model(&selection, nullptr);
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QCOMPARE(model.rowCount(), 0);
        QVERIFY(model.isSingleSelection());
    }

    void keepsItsRowsAfterTheSelectionChanges()
    {
        ServersSelectionModel selection(nullptr);
        TestServer first;
        first.interfaces << testInterface(1, Qt::Checked) << testInterface(2, Qt::Unchecked);
        addSelectedServer(selection, first);
        IpSettingsModel model(&selection, nullptr);
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QSignalSpy reset(&model, &QAbstractItemModel::modelReset);

        TestServer second;
        second.host = QStringLiteral("127.0.0.3");
        second.interfaces << testInterface(9, Qt::Unchecked);
        addSelectedServer(selection, second);
        selection.setAllItemSelected(false);
        QCOMPARE(selection.selectedCount(), 0);

        QCOMPARE(model.rowCount(), 2);
        QVERIFY(model.isSingleSelection());
        QCOMPARE(value(model, 1, IpSettingsModel::AddressRole).toString(), first.interfaces.at(1).ip);
        QCOMPARE(reset.count(), 0);
    }
};

QTEST_GUILESS_MAIN(TestIpSettingsModel)

#include "tst_ip_settings_model.moc"
