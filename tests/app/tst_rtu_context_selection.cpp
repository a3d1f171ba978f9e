#include "app/rtu_context.h"
#include "models/selection.h"
#include "models/ip_settings_model.h"
#include "models/servers_selection_model.h"
#include "models/time_zones_model.h"
#include "selected_servers.h"

#include <QPointer>
#include <QtTest>

using namespace rtu;

class TestRtuContextSelection : public QObject
{
    Q_OBJECT

private slots:
    void newSummaryOnEverySelectionChange()
    {
        RtuContext context(nullptr);
        auto *model = qobject_cast<ServersSelectionModel *>(context.selectionModel());
        QVERIFY(model);
        QCOMPARE(context.selectionModel(), model);
        QCOMPARE(context.selection(), nullptr);
        QCOMPARE(context.property("selection").value<QObject *>(), nullptr);
        QSignalSpy changed(&context, &RtuContext::selectionChanged);

        TestServer server;
        server.port = 7005;
        addSelectedServer(*model, server);
        const int serverRow = 1; // right below its system row

        // Deselecting the only selected server is a selection change.
        model->changeItemSelectedState(serverRow);
        QCOMPARE(changed.count(), 1);
        QPointer<QObject> first = context.selection();
        QVERIFY(first);
        QCOMPARE(first->property("count").toInt(), 0);
        QCOMPARE(first->property("port").toInt(), 0);

        model->changeItemSelectedState(serverRow);
        QCOMPARE(changed.count(), 2);
        auto *second = qobject_cast<Selection *>(context.selection());
        QVERIFY(second);
        QVERIFY(!first); // the old summary is gone
        QCOMPARE(second->count(), 1);
        QCOMPARE(second->port(), 7005);
        QCOMPARE(context.property("selection").value<QObject *>(), second);

        // The documents force a refresh by emitting the model's signal themselves.
        QPointer<QObject> beforeRefresh = second;
        QVERIFY(QMetaObject::invokeMethod(model, "selectionChanged"));
        QCOMPARE(changed.count(), 3);
        QVERIFY(!beforeRefresh);
        QVERIFY(context.selection());
        QCOMPARE(context.selection()->property("count").toInt(), 1);
    }

    void snapshotModelsPerCall()
    {
        RtuContext context(nullptr);
        auto *model = qobject_cast<ServersSelectionModel *>(context.selectionModel());
        TestServer server;
        server.timeZoneId = "Asia/Tokyo";
        server.interfaces << testInterface(1, Qt::Checked) << testInterface(2, Qt::Unchecked);
        addSelectedServer(*model, server);

        std::unique_ptr<QObject> first(context.ipSettingsModel());
        std::unique_ptr<QObject> second(context.ipSettingsModel());
        QVERIFY(qobject_cast<IpSettingsModel *>(first.get()));
        QVERIFY(first != second);
        QCOMPARE(first->parent(), nullptr);
        QCOMPARE(qobject_cast<IpSettingsModel *>(second.get())->rowCount(), 2);

        QObject owner;
        auto *zones = qobject_cast<TimeZonesModel *>(context.timeZonesModel(&owner));
        QVERIFY(zones);
        QCOMPARE(zones->parent(), &owner);
        QCOMPARE(zones->timeZoneIdByIndex(zones->initIndex()), QByteArray("Asia/Tokyo"));
        QVERIFY(context.timeZonesModel(&owner) != zones);
    }
};

QTEST_GUILESS_MAIN(TestRtuContextSelection)

#include "tst_rtu_context_selection.moc"
