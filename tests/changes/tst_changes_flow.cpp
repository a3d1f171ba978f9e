#include "changes/changes_manager.h"
#include "core/constants.h"
#include "app/rtu_context.h"
#include "models/servers_selection_model.h"

#include "peer_sim.h"
#include "summary_rows.h"
#include "private_network.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimeZone>
#include <QtTest>

using namespace rtu;
using rtu::test::PeerSim;
using Row = rtu::test::SummaryRow;
const auto rowsOf = rtu::test::summaryRows;

namespace {

// Three servers of one system, each with one static interface (its
// discovery address) and the second one with a static extra interface.
const char kFleet[] = R"({"servers": [
  {"id": "{5b1d0c8e-0000-4000-8000-000000000001}", "name": "Alpha", "systemName": "Lab",
   "addresses": ["127.0.0.2"], "timezoneId": "Europe/Berlin",
   "interfaces": [{"name": "eth0", "ipAddr": "127.0.0.2"},
                  {"name": "eth1", "ipAddr": "10.20.0.2", "netMask": "255.255.0.0", "dhcp": true}]},
  {"id": "{5b1d0c8e-0000-4000-8000-000000000002}", "name": "Beta", "systemName": "Lab",
   "addresses": ["127.0.0.3"], "timezoneId": "Europe/Berlin",
   "interfaces": [{"name": "eth0", "ipAddr": "127.0.0.3"},
                  {"name": "eth1", "ipAddr": "10.20.0.3", "netMask": "255.255.0.0"}]},
  {"id": "{5b1d0c8e-0000-4000-8000-000000000003}", "name": "Gamma", "systemName": "Lab",
   "addresses": ["127.0.0.4"], "timezoneId": "Asia/Tokyo",
   "interfaces": [{"name": "eth0", "ipAddr": "127.0.0.4"}]}
]})";

// The simulator's view of one claimed change: does the server now hold it?
bool serverHolds(const QJsonObject &state, const Row &row, qint64 expectedUtcMs)
{
    if (row.name == QLatin1String("system name"))
        return state.value(QStringLiteral("systemName")).toString() == row.value;
    if (row.name == QLatin1String("password"))
        return state.value(QStringLiteral("password")).toString() == row.value;
    if (row.name == QLatin1String("port"))
        return QString::number(state.value(QStringLiteral("port")).toInt()) == row.value;
    if (row.name == QLatin1String("time zone"))
        return row.value.contains(state.value(QStringLiteral("timezoneId")).toString())
            || row.value == QTimeZone(state.value(QStringLiteral("timezoneId")).toString().toUtf8()).comment();
    if (row.name == QLatin1String("date / time")) {
        // The server's clock runs on from the value set.
        const qint64 serverNow = qint64(state.value(QStringLiteral("utcTimeMs")).toDouble());
        return serverNow >= expectedUtcMs && serverNow - expectedUtcMs < 120000;
    }
    if (row.name == QLatin1String("dhcp")) {
        // Several servers at once: every static interface switched to DHCP.
        for (const QJsonValue &iface : state.value(QStringLiteral("interfaces")).toArray()) {
            if (!iface.toObject().value(QStringLiteral("dhcp")).toBool())
                return false;
        }
        return row.value == QLatin1String("on");
    }
    return false;
}

QString wireLine(const QJsonObject &entry)
{
    const QJsonObject auth = entry.value(QStringLiteral("auth")).toObject();
    QString line = QStringLiteral("%1 %2 %3").arg(entry.value(QStringLiteral("local")).toString(),
                                                  entry.value(QStringLiteral("method")).toString(),
                                                  entry.value(QStringLiteral("path")).toString());
    const QString query = entry.value(QStringLiteral("rawQuery")).toString();
    if (!query.isEmpty())
        line += QLatin1Char('?') + query;
    line += auth.isEmpty() ? QStringLiteral(" [no credentials]")
                           : QStringLiteral(" [%1:%2]").arg(auth.value(QStringLiteral("user")).toString(),
                                                            auth.value(QStringLiteral("password")).toString());
    const QString body = entry.value(QStringLiteral("body")).toString();
    if (!body.isEmpty())
        line += QLatin1Char(' ') + QString::fromUtf8(QJsonDocument::fromJson(body.toUtf8()).toJson(QJsonDocument::Compact));
    const QJsonValue status = entry.value(QStringLiteral("status"));
    line += QStringLiteral(" -> %1").arg(status.isNull() ? QStringLiteral("no answer") : QString::number(status.toInt()));
    return line;
}

} // namespace

class TestChangesFlow : public QObject
{
    Q_OBJECT

private:
    struct Tool
    {
        RtuContext context{nullptr};
        ServersSelectionModel *model = qobject_cast<ServersSelectionModel *>(context.selectionModel());
        ChangesManager *manager = qobject_cast<ChangesManager *>(context.changesManager());
        QVector<int> pages;

        Tool()
        {
            QObject::connect(&context, &RtuContext::currentPageChanged,
                             [this] { pages.append(context.currentPage()); });
        }

        int loggedIn() const
        {
            int count = 0;
            for (int row = 0; row < model->rowCount(); ++row)
                count += model->data(model->index(row), ServersSelectionModel::LoggedInRole).toBool() ? 1 : 0;
            return count;
        }

        QVariant roleOf(const QString &id, int role) const
        {
            for (int row = 0; row < model->rowCount(); ++row) {
                const QModelIndex index = model->index(row);
                if (model->data(index, ServersSelectionModel::IdRole).toUuid() == QUuid(id))
                    return model->data(index, role);
            }
            return QVariant();
        }

        const ServerInfo *record(const QString &id) const
        {
            for (ServerInfo *info : model->selectedServers()) {
                if (info->baseInfo().id == QUuid(id))
                    return info;
            }
            return nullptr;
        }
    };

private slots:
    void initTestCase() { TESSALY_REQUIRE_PRIVATE_NETWORK(); }

    void batchesAgainstTheFleet()
    {
        PeerSim sim;
        QVERIFY2(sim.start(kFleet), qPrintable(sim.errorString()));
        Tool tool;
        QVERIFY(tool.model && tool.manager);
        QTRY_COMPARE_WITH_TIMEOUT(tool.loggedIn(), 3, 20000);
        QSignalSpy refreshed(tool.model, &QAbstractItemModel::dataChanged);
        tool.model->setAllItemSelected(true);
        QCOMPARE(tool.model->selectedCount(), 3);
        refreshed.clear();
        QTRY_VERIFY_WITH_TIMEOUT(refreshed.count() >= 3, 10000);

        QStringList ids;
        QHash<QString, QJsonObject> before;
        for (const QJsonValue &server : sim.servers()) {
            const QString id = server.toObject().value(QStringLiteral("id")).toString();
            ids.append(id);
            before.insert(id, server.toObject());
        }
        sim.clearLog();

        // One batch: every kind of change at once.
        const QDate date(2026, 7, 4);
        const QTime time(9, 15);
        const QByteArray zone("America/Chicago");
        // 09:15 in summer Chicago (UTC-5) is 14:15 UTC.
        const qint64 expectedUtc = QDateTime(date, QTime(14, 15), Qt::UTC).toMSecsSinceEpoch();
        tool.manager->addDateTimeChange(date, time, zone);
        tool.manager->addSystemChange(QStringLiteral("Harbor"));
        tool.manager->addPasswordChange(QStringLiteral("Tide-42"));
        tool.manager->addPortChange(7101);
        tool.manager->turnOnDhcp();
        tool.manager->applyChanges();
        // 2 + 1 + 1 + 1 per server, and one DHCP switch for each static interface.
        QCOMPARE(tool.manager->totalChangesCount(), 3 * 5 + 2 + 1 + 1);
        QTRY_COMPARE_WITH_TIMEOUT(tool.context.currentPage(), int(Constants::SummaryPage), 60000);
        QCOMPARE(tool.pages, QVector<int>({Constants::ProgressPage, Constants::SummaryPage}));
        QCOMPARE(tool.manager->appliedChangesCount(), tool.manager->totalChangesCount());

        const QVector<Row> succeeded = rowsOf(tool.manager->successfulResultsModel());
        const QVector<Row> failed = rowsOf(tool.manager->failedResultsModel());
        for (const Row &row : failed)
            qWarning("failed: %s %s %s: %s", qPrintable(row.serverId), qPrintable(row.name), qPrintable(row.value),
                     qPrintable(row.reason));
        QVERIFY(failed.isEmpty());
        QCOMPARE(succeeded.size(), tool.manager->totalChangesCount());

        // What the rows claim is what the servers hold.
        for (const Row &row : succeeded) {
            const QJsonObject state = sim.server(row.serverId);
            QVERIFY2(serverHolds(state, row, expectedUtc),
                     qPrintable(row.serverId + QLatin1Char(' ') + row.name + QLatin1Char(' ') + row.value));
        }
        for (const QString &id : ids) {
            const QJsonObject state = sim.server(id);
            QCOMPARE(state.value(QStringLiteral("timezoneId")).toString(), QString::fromUtf8(zone));
            // The model shows the new values.
            QCOMPARE(tool.roleOf(id, ServersSelectionModel::SystemNameRole).toString(), QStringLiteral("Harbor"));
            QCOMPARE(tool.roleOf(id, ServersSelectionModel::PortRole).toInt(), 7101);
            const ServerInfo *record = tool.record(id);
            QVERIFY(record);
            QCOMPARE(record->extraInfo().password, QStringLiteral("Tide-42"));
            QCOMPARE(record->extraInfo().timeZoneId, zone);
            for (const InterfaceInfo &iface : record->extraInfo().interfaces)
                QCOMPARE(iface.useDHCP, int(Qt::Checked));
        }

        const QJsonArray wire = sim.requestLog();
        for (const QJsonValue &entry : wire)
            qInfo("wire: %s", qPrintable(wireLine(entry.toObject())));

        // Second batch: the last server falls silent after the first answer.
        tool.context.setCurrentPage(Constants::SettingsPage);
        tool.pages.clear();
        const QString silent = ids.last();
        QMetaObject::Connection silencer =
            connect(tool.manager, &ChangesManager::appliedChangesCountChanged, this, [&] {
                if (tool.manager->appliedChangesCount() == 1)
                    sim.setKnobs(silent, {{QStringLiteral("hang"), true}, {QStringLiteral("discovery"), false}});
            });
        tool.manager->addSystemChange(QStringLiteral("Harbor 2"));
        tool.manager->addPortChange(7102);
        tool.manager->applyChanges();
        QCOMPARE(tool.manager->totalChangesCount(), 6);
        QTRY_COMPARE_WITH_TIMEOUT(tool.context.currentPage(), int(Constants::SummaryPage), 60000);
        disconnect(silencer);
        QCOMPARE(tool.pages, QVector<int>({Constants::ProgressPage, Constants::SummaryPage}));
        QCOMPARE(tool.manager->appliedChangesCount(), 6);

        const QVector<Row> lost = rowsOf(tool.manager->failedResultsModel());
        QCOMPARE(lost.size(), 2);
        for (const Row &row : lost) {
            QCOMPARE(row.serverId, silent);
            QVERIFY(!row.reason.isEmpty());
        }
        const QVector<Row> applied = rowsOf(tool.manager->successfulResultsModel());
        QCOMPARE(applied.size(), 4);
        for (const Row &row : applied) {
            QVERIFY(row.serverId != silent);
            QVERIFY(serverHolds(sim.server(row.serverId), row, 0));
        }
        const QJsonObject silentState = sim.server(silent);
        QCOMPARE(silentState.value(QStringLiteral("systemName")).toString(), QStringLiteral("Harbor"));
        QCOMPARE(silentState.value(QStringLiteral("port")).toInt(), 7101);
        QVERIFY(tool.roleOf(silent, ServersSelectionModel::SystemNameRole).toString() != QLatin1String("Harbor 2"));
    }
};

QTEST_GUILESS_MAIN(TestChangesFlow)
#include "tst_changes_flow.moc"
