#include "hostile_run.h"
#include "private_network.h"

#include <QAbstractItemModel>

using namespace rtu;
using rtu::test::HostileRun;
using rtu::test::peers;

// One server that costs what a fleet costs.
class TestHostileInterfaces : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { TESSALY_REQUIRE_PRIVATE_NETWORK(); }

    // One server with a thousand interfaces, selected alone: what it costs
    // is bounded, and the interface list keeps to what a page can hold.
    void thousandInterfaces()
    {
        QJsonArray interfaces{QJsonObject{{QStringLiteral("name"), QStringLiteral("eth0")},
                                          {QStringLiteral("ipAddr"), QStringLiteral("127.0.0.20")}}};
        for (int i = 1; i < 1000; ++i) {
            interfaces.append(QJsonObject{{QStringLiteral("name"), QStringLiteral("eth%1").arg(i)},
                                          {QStringLiteral("ipAddr"), QStringLiteral("10.%1.%2.1").arg(i / 250).arg(i % 250)}});
        }
        HostileRun run;
        QVERIFY2(run.start(QJsonArray{QJsonObject{{QStringLiteral("name"), QStringLiteral("Hostile")},
                                                  {QStringLiteral("interfaces"), interfaces}}}),
                 qPrintable(run.sim.errorString()));
        QTRY_VERIFY_WITH_TIMEOUT(run.goodServersLoggedIn() && run.loggedIn(QStringLiteral("Hostile")),
                                 HostileRun::kWaitMs);
        run.model->setItemSelected(run.rowOf(QStringLiteral("Hostile")));
        std::unique_ptr<QObject> settings(run.context->ipSettingsModel());
        auto *list = qobject_cast<QAbstractItemModel *>(settings.get());
        QVERIFY(list);
        QVERIFY2(list->rowCount() <= 64, qPrintable(QString::number(list->rowCount())));
        settings.reset();
        run.changeGoodServers(QStringLiteral("Renamed"));
        run.checkMemory();
    }
};

QTEST_GUILESS_MAIN(TestHostileInterfaces)
#include "tst_hostile_interfaces.moc"
