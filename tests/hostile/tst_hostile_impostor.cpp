#include "hostile_run.h"
#include "private_network.h"

#include "summary_rows.h"

using namespace rtu;
using rtu::test::HostileRun;
using rtu::test::peers;

// Hosts that answer with another server's id.
class TestHostileImpostor : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { TESSALY_REQUIRE_PRIVATE_NETWORK(); }

    // A second host answers with a real server's id, starting before or
    // after it. Changes reach the real
    // server or fail; none sent to the impostor counts as a success, the
    // impostor never gets a change, and the row never shows its address.
    void impostor_data()
    {
        QTest::addColumn<QJsonArray>("hostile");
        QTest::addColumn<QString>("late");
        const QByteArray real = R"({"id": "{c0ffee00-0000-4000-8000-000000000001}", "name": "Real",
                                    "addresses": ["127.0.0.20"], "knobs": {"discovery": %1}})";
        // The first impostor looks exactly like the server; the second one
        // gives a name of its own.
        const QByteArray impostor = R"({"id": "{c0ffee00-0000-4000-8000-000000000001}", "name": "Impostor",
                                        "impostor": true, "addresses": ["127.0.0.21"],
                                        "answerExtra": %2, "knobs": {"discovery": %1}})";
        QTest::newRow("impostor answers first")
            << peers("[" + QString::fromLatin1(impostor).arg("true", R"({"name": "Real"})").toLatin1() + ","
                     + QString::fromLatin1(real).arg("false").toLatin1() + "]")
            << QStringLiteral("Real");
        QTest::newRow("impostor answers second")
            << peers("[" + QString::fromLatin1(real).arg("true").toLatin1() + ","
                     + QString::fromLatin1(impostor).arg("false", "{}").toLatin1() + "]")
            << QStringLiteral("Impostor");
    }

    void impostor()
    {
        QFETCH(QJsonArray, hostile);
        QFETCH(QString, late);
        HostileRun run;
        QVERIFY2(run.start(hostile), qPrintable(run.sim.errorString()));
        QTRY_VERIFY_WITH_TIMEOUT(run.goodServersLoggedIn() && run.loggedIn(QStringLiteral("Real")),
                                 HostileRun::kWaitMs);
        QVERIFY(!run.sim.setKnobs(late, {{QStringLiteral("discovery"), true}}).isEmpty());
        QTest::qWait(1500);
        const QString shown = run.role(QStringLiteral("Real"), ServersSelectionModel::NameRole).toString();
        // Both hosts are named where the operator looks.
        const QString conflict = run.role(QStringLiteral("Real"), ServersSelectionModel::ConflictRole).toString();
        QVERIFY2(conflict.contains(QLatin1String("127.0.0.20")) && conflict.contains(QLatin1String("127.0.0.21")),
                 qPrintable(conflict));

        // The operator renames the system of everything it can select.
        run.model->setAllItemSelected(true);
        run.manager->addSystemChange(QStringLiteral("Renamed"));
        run.manager->applyChanges();
        QTRY_COMPARE_WITH_TIMEOUT(run.context->currentPage(), int(Constants::SummaryPage), HostileRun::kWaitMs);
        const QString contested = QUuid(run.idOf(QStringLiteral("Real"))).toString();
        QStringList toImpostor;
        for (const QJsonValue &entry : run.sim.requestLog()) {
            if (entry[QStringLiteral("local")].toString() == QLatin1String("127.0.0.21:7001"))
                toImpostor.append(entry[QStringLiteral("path")].toString() + QLatin1Char(':')
                                  + entry[QStringLiteral("auth")][QStringLiteral("password")].toString());
        }
        const QVector<test::SummaryRow> successes = test::summaryRows(run.manager->successfulResultsModel());
        qInfo("the impostor received %d requests (%s); %d success rows for the contested id; shown as %s",
              int(toImpostor.size()), qPrintable(toImpostor.join(QLatin1Char(' '))),
              int(std::count_if(successes.begin(), successes.end(),
                                [&contested](const test::SummaryRow &row) { return row.serverId == contested; })),
              qPrintable(shown));
        for (const test::SummaryRow &row : successes) {
            if (row.serverId == contested)
                QCOMPARE(run.sim.server(QStringLiteral("Real"))[QStringLiteral("systemName")].toString(),
                         QStringLiteral("Renamed"));
        }
        for (const QJsonValue &entry : run.sim.requestLog())
            QVERIFY2(entry[QStringLiteral("local")].toString() != QLatin1String("127.0.0.21:7001")
                         || entry[QStringLiteral("path")].toString() != QLatin1String("/api/configure"),
                     qPrintable(entry[QStringLiteral("rawQuery")].toString()));
        for (const QString &name : HostileRun::kGoodNames)
            QCOMPARE(run.sim.server(name)[QStringLiteral("systemName")].toString(), QStringLiteral("Renamed"));
        QVERIFY2(!shown.contains(QLatin1String("127.0.0.21")), qPrintable(shown));
    }

    // A server the tool itself moves to a new address is followed there at
    // once: its answers from the address it accepted are not a conflict, and
    // the change is confirmed long before the old address could expire.
    void movedByTheToolIsNoConflict()
    {
        HostileRun run;
        run.discovery.answeringAddressTimeoutMs = 60000;
        run.discovery.serverTimeoutMs = 60000;
        QVERIFY2(run.start(peers(R"([{"name": "Mover", "systemName": "Fleet", "addresses": ["127.0.0.30"]}])")),
                 qPrintable(run.sim.errorString()));
        QTRY_VERIFY_WITH_TIMEOUT(run.loggedIn(QStringLiteral("Mover")), HostileRun::kWaitMs);
        run.context->setCurrentPage(Constants::SettingsPage);
        run.model->changeItemSelectedState(run.rowOf(QStringLiteral("Mover")));
        QCOMPARE(run.model->selectedCount(), 1);
        run.manager->addAddressChange(QStringLiteral("eth0"), QStringLiteral("127.0.0.31"));
        run.manager->applyChanges();
        QTRY_COMPARE_WITH_TIMEOUT(run.context->currentPage(), int(Constants::SummaryPage), 15000);
        QCOMPARE(run.manager->appliedChangesCount(), run.manager->totalChangesCount());
        QVERIFY(test::summaryRows(run.manager->failedResultsModel()).isEmpty());
        QCOMPARE(run.sim.server(QStringLiteral("Mover"))[QStringLiteral("addresses")].toArray(),
                 QJsonArray{QStringLiteral("127.0.0.31")});
        QTest::qWait(1000);
        QCOMPARE(run.role(QStringLiteral("Mover"), ServersSelectionModel::ConflictRole).toString(), QString());
        const QString shown = run.role(QStringLiteral("Mover"), ServersSelectionModel::NameRole).toString();
        QVERIFY2(shown.contains(QLatin1String("127.0.0.31")), qPrintable(shown));
    }
};

QTEST_GUILESS_MAIN(TestHostileImpostor)
#include "tst_hostile_impostor.moc"
