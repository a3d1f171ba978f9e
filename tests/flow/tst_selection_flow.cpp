#include "core/constants.h"
#include "app/rtu_context.h"
#include "models/servers_selection_model.h"
#include "protocol/server_requests.h"

#include "peer_sim.h"
#include "private_network.h"
#include "test_paths.h"

#include <QAbstractItemModelTester>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUdpSocket>
#include <QtTest>

using namespace rtu;
using Model = ServersSelectionModel;

namespace {

const int kWaitMs = 15000;

// Two systems that take the default passwords, one that refuses them, a
// server still in its factory state, and a host that only asks.
const char kFleet[] = R"({
  "servers": [
    {"name": "Harbor 1", "systemName": "Harbor", "addresses": ["127.0.0.2"]},
    {"name": "Harbor 2", "systemName": "Harbor", "addresses": ["127.0.0.3"]},
    {"name": "Depot 1", "systemName": "Depot", "password": "morvy", "addresses": ["127.0.0.4"]},
    {"name": "Vault 1", "systemName": "vault", "password": "vault-pass-1", "addresses": ["127.0.0.5"]},
    {"name": "Vault 2", "systemName": "vault", "password": "vault-pass-1", "addresses": ["127.0.0.6"]},
    {"name": "Fresh", "systemName": "auto-4711", "flags": "SF_timeCtrl SF_IfListCtrl SF_AutoSystemName",
     "addresses": ["127.0.0.7"]}
  ],
  "askers": [{"address": "127.0.0.250", "intervalMs": 200}]
})";

QVariant value(const QAbstractItemModel &model, int row, int role)
{
    return model.data(model.index(row, 0), role);
}

int rowOf(const QAbstractItemModel &model, const QString &id)
{
    for (int row = 0; row < model.rowCount(); ++row) {
        if (value(model, row, Model::IdRole).toUuid() == QUuid(id))
            return row;
    }
    return -1;
}

// The system row a server row belongs to.
int systemRowOf(const QAbstractItemModel &model, int row)
{
    while (row >= 0 && value(model, row, Model::ItemTypeRole).toInt() != Constants::SystemItemType)
        --row;
    return row;
}

bool allLoggedIn(const QAbstractItemModel &model, const QString &systemName)
{
    bool any = false;
    for (int row = 0; row < model.rowCount(); ++row) {
        if (value(model, row, Model::ItemTypeRole).toInt() != Constants::ServerItemType
            || value(model, row, Model::SystemNameRole).toString() != systemName)
            continue;
        any = true;
        if (!value(model, row, Model::LoggedInRole).toBool())
            return false;
    }
    return any;
}

// Discovery fills in the displayed address after the first answers.
bool allAddressesShown(const QAbstractItemModel &model)
{
    for (int row = 0; row < model.rowCount(); ++row) {
        if (value(model, row, Model::ItemTypeRole).toInt() == Constants::ServerItemType
            && value(model, row, Model::NameRole).toString().endsWith(QLatin1String("()")))
            return false;
    }
    return true;
}

QString expectedSystem(const QJsonObject &server)
{
    const bool factory = server[QStringLiteral("flags")].toString().contains(QLatin1String("SF_AutoSystemName"));
    return factory ? QString() : server[QStringLiteral("systemName")].toString();
}

bool takesDefaults(const QJsonObject &server)
{
    return defaultPasswords().contains(server[QStringLiteral("password")].toString());
}

// Every server of the fleet is listed once under its system, logged in
// exactly when a default password works, and nothing else is listed.
void verifyListing(const QAbstractItemModel &model, const QJsonArray &fleet)
{
    QMap<QString, QPair<int, int>> expectedSystems; // name -> servers, servers that refuse the defaults
    for (const QJsonValue &item : fleet) {
        const QJsonObject server = item.toObject();
        const QString name = server[QStringLiteral("name")].toString();
        const int row = rowOf(model, server[QStringLiteral("id")].toString());
        QVERIFY2(row >= 0, qPrintable(name));
        const QString systemName = expectedSystem(server);
        ++expectedSystems[systemName].first;
        expectedSystems[systemName].second += takesDefaults(server) ? 0 : 1;
        QStringList shownNames;
        for (const QJsonValue &address : server[QStringLiteral("addresses")].toArray())
            shownNames.append(QStringLiteral("%1 (%2)").arg(name, address.toString()));
        const QJsonObject interface = server[QStringLiteral("interfaces")].toArray().first().toObject();

        QCOMPARE(value(model, row, Model::ItemTypeRole).toInt(), int(Constants::ServerItemType));
        QVERIFY2(shownNames.contains(value(model, row, Model::NameRole).toString()),
                 qPrintable(value(model, row, Model::NameRole).toString()));
        QCOMPARE(value(model, systemRowOf(model, row), Model::NameRole).toString(), systemName);
        QCOMPARE(value(model, row, Model::SystemNameRole).toString(), systemName);
        QCOMPARE(value(model, row, Model::IdRole).toUuid(), QUuid(server[QStringLiteral("id")].toString()));
        QCOMPARE(value(model, row, Model::PortRole).toInt(), server[QStringLiteral("port")].toInt());
        QCOMPARE(value(model, row, Model::LoggedInRole).toBool(), takesDefaults(server));
        QCOMPARE(value(model, row, Model::DefaultPasswordRole).toBool(), takesDefaults(server));
        QCOMPARE(value(model, row, Model::MacAddressRole).toString(),
                 takesDefaults(server) ? interface[QStringLiteral("mac")].toString() : QString());
        QCOMPARE(value(model, row, Model::SelectedStateRole).toInt(), int(Qt::Unchecked));
    }

    QStringList systems;
    for (int row = 0; row < model.rowCount(); ++row) {
        if (value(model, row, Model::ItemTypeRole).toInt() != Constants::SystemItemType)
            continue;
        const QString name = value(model, row, Model::NameRole).toString();
        systems.append(name);
        const QPair<int, int> counts = expectedSystems.value(name);
        QCOMPARE(value(model, row, Model::ServersCountRole).toInt(), counts.first);
        QCOMPARE(value(model, row, Model::SystemNameRole).toString(), name);
        const int loggedState = counts.second == 0 ? Constants::LoggedToAllServers
            : counts.second == counts.first        ? Constants::NotLogged
                                                   : Constants::PartiallyLogged;
        QCOMPARE(value(model, row, Model::LoggedStateRole).toInt(), loggedState);
    }
    QStringList sorted = expectedSystems.keys();
    std::sort(sorted.begin(), sorted.end(), [](const QString &first, const QString &second) {
        return QString::compare(first, second, Qt::CaseInsensitive) < 0;
    });
    QCOMPARE(systems, sorted);
    QCOMPARE(model.rowCount(), fleet.size() + systems.size() + 2);
    QCOMPARE(value(model, model.rowCount() - 2, Model::ItemTypeRole).toInt(), int(Constants::UnknownGroupType));
    QCOMPARE(value(model, model.rowCount() - 2, Model::NameRole).toString(),
             QStringLiteral("Other discovered servers"));
}

// One line per row with every role that has a value.
QStringList describe(const QAbstractItemModel &model)
{
    QStringList lines;
    const QHash<int, QByteArray> names = model.roleNames();
    for (int row = 0; row < model.rowCount(); ++row) {
        QStringList values;
        for (int role = Model::ItemTypeRole; role < Model::LastRole; ++role) {
            const QVariant data = value(model, row, role);
            if (data.isValid())
                values.append(QStringLiteral("%1=%2").arg(QString::fromLatin1(names.value(role)), data.toString()));
        }
        lines.append(QStringLiteral("%1: %2").arg(row).arg(values.join(QStringLiteral(", "))));
    }
    return lines;
}

} // namespace

class TestSelectionFlow : public QObject
{
    Q_OBJECT

private:
    ServersFinderParameters m_discovery;
    test::PeerSim m_sim;

    // Starts a fleet on a discovery port of its own, so that finders of
    // other tests in the namespace stay out.
    bool startFleet(const std::function<bool(const QStringList &)> &start)
    {
        QUdpSocket probe;
        if (!probe.bind(QHostAddress(QHostAddress::AnyIPv4), 0))
            return false;
        m_discovery.port = probe.localPort();
        probe.close();
        return start({QStringLiteral("--discovery-port"), QString::number(m_discovery.port)});
    }

    // Waits until discovery and the automatic logins have settled.
    void waitForListing(const Model &model, const QJsonArray &fleet)
    {
        QSet<QString> systems;
        for (const QJsonValue &server : fleet)
            systems.insert(expectedSystem(server.toObject()));
        QTRY_COMPARE_WITH_TIMEOUT(model.serversCount(), fleet.size(), kWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(model.rowCount() == fleet.size() + systems.size() + 2, kWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(allAddressesShown(model), kWaitMs);
        for (const QJsonValue &item : fleet) {
            const QJsonObject server = item.toObject();
            const int row = rowOf(model, server[QStringLiteral("id")].toString());
            if (takesDefaults(server)) {
                QTRY_VERIFY_WITH_TIMEOUT(value(model, row, Model::LoggedInRole).toBool(), kWaitMs);
            } else {
                QTRY_COMPARE_WITH_TIMEOUT(value(model, systemRowOf(model, row), Model::LoggedStateRole).toInt() != 0,
                                          true, kWaitMs);
                QTRY_VERIFY_WITH_TIMEOUT(value(model, row, Model::MacAddressRole).toString().isEmpty(), kWaitMs);
            }
        }
    }

private slots:
    void initTestCase()
    {
        TESSALY_REQUIRE_PRIVATE_NETWORK();
        m_discovery.cycleIntervalMs = 200;
        m_discovery.serverTimeoutMs = 1500;
        m_discovery.answeringAddressTimeoutMs = 1500;
        m_discovery.displayAddressSwitchMs = 1200;
        m_discovery.unknownTimeoutMs = 5000;
    }

    void cleanup()
    {
        m_sim.stop();
    }

    void demoFleet()
    {
        const QString demo = test::sourceDir() + QStringLiteral("/tools/peer-sim/fleets/demo.json");
        QVERIFY2(startFleet([&](const QStringList &arguments) { return m_sim.startWithFile(demo, arguments); }),
                 qPrintable(m_sim.errorString()));
        RtuContext context(nullptr, m_discovery);
        auto *model = qobject_cast<Model *>(context.selectionModel());
        QAbstractItemModelTester tester(model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        const QJsonArray fleet = m_sim.servers();
        QVERIFY(fleet.size() > 0);
        waitForListing(*model, fleet);
        if (QTest::currentTestFailed())
            return;
        for (const QString &line : describe(*model))
            qInfo("%s", qPrintable(line));
        verifyListing(*model, fleet);
    }

    void loginToUnknownSystemFailsAtOnce()
    {
        RtuContext context(nullptr, m_discovery);
        QSignalSpy failed(&context, &RtuContext::loginOperationFailed);
        context.tryLoginWith(QStringLiteral("Nowhere"), QStringLiteral("secret"));
        QCOMPARE(failed.count(), 1);
        QCOMPARE(failed.first().first().toString(), QStringLiteral("Nowhere"));
        // One model for the whole run, with a parent, so QML never takes it over.
        QCOMPARE(context.selectionModel(), context.selectionModel());
        QVERIFY(context.selectionModel()->parent());
    }

    void wholeFlow()
    {
        QVERIFY2(startFleet([this](const QStringList &arguments) { return m_sim.start(kFleet, arguments); }),
                 qPrintable(m_sim.errorString()));
        RtuContext context(nullptr, m_discovery);
        auto *model = qobject_cast<Model *>(context.selectionModel());
        QVERIFY(model);
        QAbstractItemModelTester tester(model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        const QJsonArray fleet = m_sim.servers();
        QCOMPARE(fleet.size(), 6);

        // Every server appears under its system; the default passwords log
        // in all but the system that refuses them.
        waitForListing(*model, fleet);
        if (QTest::currentTestFailed())
            return;
        const int vaultRow = systemRowOf(*model, rowOf(*model, fleet.at(3)[QStringLiteral("id")].toString()));
        verifyListing(*model, fleet);
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(value(*model, 0, Model::NameRole).toString(), QString());
        QCOMPARE(value(*model, vaultRow, Model::NameRole).toString(), QStringLiteral("vault"));
        QCOMPARE(value(*model, model->rowCount() - 1, Model::IpAddressRole).toString(), QStringLiteral("127.0.0.250"));

        // The operator's password: a wrong one is reported for the system,
        // the right one logs its servers in.
        QSignalSpy failed(&context, &RtuContext::loginOperationFailed);
        context.tryLoginWith(QStringLiteral("vault"), QStringLiteral("not-the-password"));
        QTRY_COMPARE_WITH_TIMEOUT(failed.count(), 1, kWaitMs);
        QCOMPARE(failed.first().first().toString(), QStringLiteral("vault"));
        QCOMPARE(value(*model, vaultRow, Model::LoggedStateRole).toInt(), int(Constants::NotLogged));

        context.tryLoginWith(QStringLiteral("vault"), QStringLiteral("vault-pass-1"));
        QTRY_VERIFY_WITH_TIMEOUT(allLoggedIn(*model, QStringLiteral("vault")), kWaitMs);
        QCOMPARE(value(*model, vaultRow, Model::LoggedStateRole).toInt(), int(Constants::LoggedToAllServers));
        QCOMPARE(value(*model, vaultRow + 1, Model::DefaultPasswordRole).toBool(), false);
        QCOMPARE(failed.count(), 1);

        // A server renamed on its own side is renamed in its row.
        const QString harbor2 = fleet.at(1)[QStringLiteral("id")].toString();
        const int harbor2Row = rowOf(*model, harbor2);
        QVERIFY(!m_sim.update(QStringLiteral("Harbor 2"), {{QStringLiteral("name"), QStringLiteral("Harbor Two")}})
                     .isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(value(*model, harbor2Row, Model::NameRole).toString(),
                                  QStringLiteral("Harbor Two (127.0.0.3)"), kWaitMs);
        QCOMPARE(rowOf(*model, harbor2), harbor2Row);
        QCOMPARE(value(*model, harbor2Row, Model::LoggedInRole).toBool(), true);

        // The only server of a system moved to a new system renames it in place.
        const int depotRow = systemRowOf(*model, rowOf(*model, fleet.at(2)[QStringLiteral("id")].toString()));
        QVERIFY(!m_sim.update(QStringLiteral("Depot 1"), {{QStringLiteral("systemName"), QStringLiteral("Yard")}})
                     .isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(value(*model, depotRow, Model::NameRole).toString(), QStringLiteral("Yard"), kWaitMs);
        QCOMPARE(value(*model, depotRow + 1, Model::SystemNameRole).toString(), QStringLiteral("Yard"));

        // A server that stops answering leaves the list.
        const QString harbor1 = fleet.at(0)[QStringLiteral("id")].toString();
        QVERIFY(!m_sim.setKnobs(QStringLiteral("Harbor 1"), {{QStringLiteral("discovery"), false}}).isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(rowOf(*model, harbor1), -1, kWaitMs);
        QCOMPARE(model->serversCount(), fleet.size() - 1);
        QCOMPARE(value(*model, systemRowOf(*model, rowOf(*model, harbor2)), Model::ServersCountRole).toInt(), 1);
    }
};

QTEST_GUILESS_MAIN(TestSelectionFlow)
#include "tst_selection_flow.moc"
