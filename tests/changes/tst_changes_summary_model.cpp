#include "changes/changes_summary_model.h"
#include "core/server_info.h"

#include <QAbstractItemModelTester>
#include <QtTest>

using namespace rtu;

namespace {

ServerInfo server(const char *id, const QString &name, const QString &address)
{
    BaseServerInfo base;
    base.id = QUuid(id);
    base.name = name;
    base.displayAddress = address;
    base.hostAddress = address;
    base.systemName = QStringLiteral("system");
    base.port = 7001;
    return ServerInfo(base);
}

// Reaches rows the public index() refuses, as a view holding a stale index would.
class ProbedModel : public ChangesSummaryModel
{
public:
    using ChangesSummaryModel::ChangesSummaryModel;
    QModelIndex rawIndex(int row) const { return createIndex(row, 0); }
};

QStringList column(const QAbstractItemModel &model, int role)
{
    QStringList values;
    for (int row = 0; row < model.rowCount(); ++row)
        values << model.data(model.index(row, 0), role).toString();
    return values;
}

const char kFirstId[] = "{0a000000-0000-0000-0000-000000000001}";
const char kSecondId[] = "{b0000000-0000-0000-0000-000000000002}";

} // namespace

class TestChangesSummaryModel : public QObject
{
    Q_OBJECT

private slots:
    void rowsStaySortedByServerInArrivalOrder()
    {
        ChangesSummaryModel model(true, nullptr);
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
        QSignalSpy counted(&model, &ChangesSummaryModel::changesCountChanged);

        const ServerInfo later = server(kSecondId, QStringLiteral("Beta"), QStringLiteral("127.0.0.3:7001"));
        const ServerInfo earlier = server(kFirstId, QStringLiteral("Alpha"), QStringLiteral("127.0.0.2:7001"));
        model.addRequestResult(later, QStringLiteral("port"), QStringLiteral("7002"), QString());
        model.addRequestResult(later, QStringLiteral("password"), QStringLiteral("secret"), QString());
        model.addRequestResult(later, QStringLiteral("system name"), QStringLiteral("north"), QString());
        model.addRequestResult(earlier, QStringLiteral("dhcp"), QStringLiteral("on"), QString());
        model.addRequestResult(earlier, QStringLiteral("ip"), QStringLiteral("127.0.0.9"), QString());

        QCOMPARE(model.rowCount(), 5);
        QCOMPARE(model.changesCount(), 5);
        QCOMPARE(model.property("changesCount").toInt(), 5);
        QCOMPARE(counted.count(), 5);

        const QString alphaId = QStringLiteral("{0a000000-0000-0000-0000-000000000001}Alpha (127.0.0.2:7001)");
        const QString betaId = QStringLiteral("{b0000000-0000-0000-0000-000000000002}Beta (127.0.0.3:7001)");
        QCOMPARE(column(model, ChangesSummaryModel::IdRole), QStringList({alphaId, alphaId, betaId, betaId, betaId}));
        QCOMPARE(column(model, ChangesSummaryModel::NameRole),
                 QStringList({"dhcp", "ip", "port", "password", "system name"}));
        QCOMPARE(column(model, ChangesSummaryModel::ValueRole),
                 QStringList({"on", "127.0.0.9", "7002", "secret", "north"}));

        // A server's rows follow its last row; an earlier server goes in front.
        QList<int> positions;
        for (const QList<QVariant> &arguments : qAsConst(inserted)) {
            QCOMPARE(arguments.at(1).toInt(), arguments.at(2).toInt());
            positions << arguments.at(1).toInt();
        }
        QCOMPARE(positions, QList<int>({0, 1, 2, 0, 1}));
    }

    void successRoleFollowsTheModel_data()
    {
        QTest::addColumn<bool>("success");
        QTest::newRow("successful results") << true;
        QTest::newRow("failed results") << false;
    }

    void successRoleFollowsTheModel()
    {
        QFETCH(bool, success);
        ChangesSummaryModel model(success, nullptr);
        QCOMPARE(model.isSuccessChangesModel(), success);
        QCOMPARE(model.property("isSuccessChangesModel").toBool(), success);

        const ServerInfo first = server(kFirstId, QStringLiteral("Alpha"), QStringLiteral("127.0.0.2:7001"));
        // A failed change may come without a reason; it is still a failure.
        model.addRequestResult(first, QStringLiteral("gateway"), QStringLiteral("127.0.0.1"), QString());
        model.addRequestResult(first, QStringLiteral("dns"), QStringLiteral("127.0.0.53"), QStringLiteral("denied"));
        for (int row = 0; row < model.rowCount(); ++row) {
            const QVariant value = model.data(model.index(row), ChangesSummaryModel::SuccessRole);
            QCOMPARE(value.userType(), int(QMetaType::Bool));
            QCOMPARE(value.toBool(), success);
        }
        QCOMPARE(model.data(model.index(0), ChangesSummaryModel::ReasonRole).toString(), QString());
    }

    void outsideRowsAndRolesGiveNothing()
    {
        ProbedModel model(true, nullptr);
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        model.addRequestResult(server(kFirstId, QStringLiteral("Alpha"), QStringLiteral("127.0.0.2:7001")),
                               QStringLiteral("port"), QStringLiteral("7003"), QString());

        const QHash<int, QByteArray> names = model.roleNames();
        QCOMPARE(names.size(), 5);
        QCOMPARE(names.value(257), QByteArray("id"));
        QCOMPARE(names.value(258), QByteArray("name"));
        QCOMPARE(names.value(259), QByteArray("value"));
        QCOMPARE(names.value(260), QByteArray("reason"));
        QCOMPARE(names.value(261), QByteArray("success"));

        QVERIFY(model.data(model.rawIndex(0), 257).isValid());
        QVERIFY(model.data(model.rawIndex(0), 261).isValid());
        QVERIFY(!model.data(model.rawIndex(0), 256).isValid());
        QVERIFY(!model.data(model.rawIndex(0), 262).isValid());
        QVERIFY(!model.data(model.rawIndex(0), Qt::DisplayRole).isValid());
        QVERIFY(!model.data(model.rawIndex(-1), 257).isValid());
        QVERIFY(!model.data(model.rawIndex(1), 257).isValid());
        QVERIFY(!model.data(QModelIndex(), 257).isValid());
    }
};

QTEST_GUILESS_MAIN(TestChangesSummaryModel)

#include "tst_changes_summary_model.moc"
