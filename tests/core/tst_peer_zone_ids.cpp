// A server names its time zone, and the platform reads a zone by opening its
// name as a path below its database. Every way a peer's name reaches a zone
// must treat a name outside the platform's list as an unknown zone and open
// nothing.
#include "app/rtu_context.h"
#include "changes/changes_manager.h"
#include "core/date_time_helpers.h"
#include "models/selection.h"
#include "models/servers_selection_model.h"
#include "models/time_zones_model.h"
#include "protocol/server_requests.h"
#include "selected_servers.h"

#include <QTemporaryDir>
#include <QtTest>

#include <sys/inotify.h>
#include <unistd.h>

using namespace rtu;

namespace {

const QDate kDate(2026, 1, 15);
const QTime kTime(12, 0);

} // namespace

class TestPeerZoneIds : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // Standard input becomes a pipe that never ends: a zone read from
        // "/proc/self/fd/0" would block, and the alarm ends the test.
        int fds[2];
        QCOMPARE(pipe(fds), 0);
        QVERIFY(dup2(fds[0], STDIN_FILENO) >= 0);
        m_pipeWriter = fds[1];
        alarm(60);

        QVERIFY(m_dir.isValid());
        QFile decoy(m_dir.filePath(QStringLiteral("zone")));
        QVERIFY(decoy.open(QIODevice::WriteOnly));
        decoy.write("TZif");
        decoy.close();
        m_decoyPath = QFileInfo(decoy).canonicalFilePath().toUtf8();
        m_watch = inotify_init1(IN_NONBLOCK);
        QVERIFY(m_watch >= 0);
        QVERIFY(inotify_add_watch(m_watch, m_decoyPath.constData(), IN_OPEN | IN_ACCESS) >= 0);
    }

    void cleanupTestCase()
    {
        alarm(0);
        close(m_watch);
        close(m_pipeWriter);
    }

    void everyWayInTreatsThePathAsUnknown_data()
    {
        QTest::addColumn<QByteArray>("id");
        QTest::newRow("standard input") << QByteArray("../../../../proc/self/fd/0");
        QTest::newRow("passwd") << QByteArray("../../etc/passwd");
        QTest::newRow("decoy file") << QByteArray("../../../../../../..") + m_decoyPath;
    }

    void everyWayInTreatsThePathAsUnknown()
    {
        QFETCH(QByteArray, id);
        QVERIFY(!timeZoneById(id).isValid());

        // The selection reads a zoneless clock as UTC.
        ServersSelectionModel model(nullptr);
        TestServer server;
        server.utcDateTimeMs = QDateTime(kDate, kTime, Qt::UTC).toMSecsSinceEpoch();
        server.timestampMs = monotonicNowMs();
        server.timeZoneId = id;
        addSelectedServer(model, server);
        Selection selection(&model, nullptr);
        QCOMPARE(selection.dateTime().time().hour(), 12);
        QCOMPARE(selection.dateTimeIn(id).time().hour(), 12);

        TimeZonesModel zones(model.selectedServers(), nullptr);
        QCOMPARE(zones.timeZoneIdByIndex(zones.initIndex()), QByteArray("<Unknown>"));

        RtuContext context(nullptr);
        QCOMPARE(context.applyTimeZone(kDate, kTime, id, "Asia/Tokyo"), QDateTime(kDate, kTime));
        QCOMPARE(context.applyTimeZone(kDate, kTime, "Asia/Tokyo", id), QDateTime(kDate, kTime));

        int refusals = 0;
        sendSetTimeRequest(nullptr, *model.selectedServers().first(), server.utcDateTimeMs, id,
                           [&refusals](int code, const QString &, AffectedEntities) { refusals += code == -1; });
        QCOMPARE(refusals, 1);

        // A change in that zone is refused before anything is sent, and its rows still get a text.
        ChangesManager manager(nullptr, nullptr, &model, nullptr);
        manager.addDateTimeChange(kDate, kTime, id);
        manager.applyChanges();
        QCOMPARE(manager.failedResultsModel()->property("changesCount").toInt(), 2);

        char events[4096];
        QVERIFY2(read(m_watch, events, sizeof events) < 0, "a peer's zone name was opened as a file");
    }

private:
    QTemporaryDir m_dir;
    QByteArray m_decoyPath;
    int m_watch = -1;
    int m_pipeWriter = -1;
};

QTEST_GUILESS_MAIN(TestPeerZoneIds)

#include "tst_peer_zone_ids.moc"
