#include "hostile_run.h"
#include "private_network.h"

#include <QTemporaryDir>

#include <atomic>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace rtu;
using rtu::test::HostileRun;

// Servers whose clock or zone cannot be true.
class TestHostileClock : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { TESSALY_REQUIRE_PRIVATE_NETWORK(); }

    // Clocks at the ends of the 64-bit range, and two far apart: such a
    // reading is no time, so the server is not logged in with it, and no
    // selection that could hold it does arithmetic on it.
    void absurdClocks_data()
    {
        QTest::addColumn<QStringList>("clocks");
        QTest::newRow("largest") << QStringList{QStringLiteral("9223372036854775807")};
        QTest::newRow("smallest") << QStringList{QStringLiteral("-9223372036854775808")};
        QTest::newRow("5e18 and -5e18")
            << QStringList{QStringLiteral("5000000000000000000"), QStringLiteral("-5000000000000000000")};
    }

    void absurdClocks()
    {
        QFETCH(QStringList, clocks);
        QJsonArray hostile;
        for (int i = 0; i < clocks.size(); ++i) {
            hostile.append(QJsonObject{
                {QStringLiteral("name"), i == 0 ? QStringLiteral("Hostile") : QStringLiteral("Hostile %1").arg(i + 1)},
                {QStringLiteral("knobs"), QJsonObject{{QStringLiteral("utcTime"), clocks.at(i)}}}});
        }
        HostileRun run;
        QVERIFY2(run.start(hostile), qPrintable(run.sim.errorString()));
        QTRY_VERIFY_WITH_TIMEOUT(run.goodServersLoggedIn(), HostileRun::kWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(run.requestsTo(QStringLiteral("Hostile")) > 0, HostileRun::kWaitMs);
        QTest::qWait(500);
        // Every selection the operator could make of them.
        run.model->setAllItemSelected(true);
        for (int i = 0; i < clocks.size(); ++i) {
            const QString name = i == 0 ? QStringLiteral("Hostile") : QStringLiteral("Hostile %1").arg(i + 1);
            QVERIFY2(!run.loggedIn(name), qPrintable(name));
            run.model->setItemSelected(run.rowOf(name));
        }
        run.changeGoodServers(QStringLiteral("Renamed"));
    }

    // A zone id that names a file: here a named pipe that nobody writes to,
    // so that opening it blocks. The tool must not open it; after a few
    // seconds every open is answered, so that a tool that does open it comes
    // back and the test can tell by the stall.
    void zoneIdThatNamesAFile()
    {
        QTemporaryDir directory;
        const QByteArray fifo = QFile::encodeName(directory.filePath(QStringLiteral("zone")));
        QVERIFY(::mkfifo(fifo.constData(), 0600) == 0);
        std::atomic<bool> done{false};
        std::thread releaser([&] {
            std::this_thread::sleep_for(std::chrono::seconds(5));
            while (!done) {
                const int writer = ::open(fifo.constData(), O_WRONLY | O_NONBLOCK);
                if (writer >= 0)
                    ::close(writer); // the reader sees the end of the file
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        });
        const auto stopReleaser = qScopeGuard([&] {
            done = true;
            releaser.join();
        });

        HostileRun run;
        const QString zone = QStringLiteral("../../../..") + QFile::decodeName(fifo);
        QVERIFY2(run.start(QJsonArray{QJsonObject{{QStringLiteral("name"), QStringLiteral("Hostile")},
                                                  {QStringLiteral("knobs"),
                                                   QJsonObject{{QStringLiteral("zoneId"), zone}}}}}),
                 qPrintable(run.sim.errorString()));
        QTRY_VERIFY_WITH_TIMEOUT(run.goodServersLoggedIn() && run.loggedIn(QStringLiteral("Hostile")),
                                 HostileRun::kWaitMs);
        // The selection's date and time are read in the server's zone.
        run.model->setItemSelected(run.rowOf(QStringLiteral("Hostile")));
        QTest::qWait(100);
        QVERIFY2(run.longestStallMs < 3000, qPrintable(QString::number(run.longestStallMs)));
        run.changeGoodServers(QStringLiteral("Renamed"));
    }
};

QTEST_GUILESS_MAIN(TestHostileClock)
#include "tst_hostile_clock.moc"
