#include "changes/changes_manager.h"
#include "core/constants.h"
#include "core/page_navigator.h"
#include "models/servers_selection_model.h"
#include "protocol/http_client.h"

#include "fake_http_server.h"
#include "private_network.h"
#include "summary_rows.h"

#include <QtTest>

#include <memory>
#include <vector>

using namespace rtu;
using rtu::test::FakeHttpServer;
using rtu::test::FakeReply;
using rtu::test::ReceivedRequest;
using Row = rtu::test::SummaryRow;
const auto rowsOf = rtu::test::summaryRows;

namespace {

const QString kPassword = QStringLiteral("738");

struct Pages : PageNavigator
{
    void setCurrentPage(int page) override { shown.append(page); }
    int current() const { return shown.isEmpty() ? Constants::SettingsPage : shown.last(); }
    QVector<int> shown;
};

// A server that reads like a real one and takes its time over each change.
class SlowServer
{
public:
    explicit SlowServer(int changeDelayMs)
    {
        http.setHandler([changeDelayMs](const ReceivedRequest &request) {
            if (!request.hasAuthorization || request.password != kPassword)
                return FakeReply::unauthorized();
            const QString command = request.path().section(QLatin1Char('/'), -1);
            if (command == QLatin1String("gettime"))
                return FakeReply::json(R"({"error":"0","reply":{"utcTime":"1700000000000","timezoneId":"Europe/Berlin"}})");
            if (command == QLatin1String("iflist"))
                return FakeReply::json(R"({"error":"0","reply":[]})");
            FakeReply reply = FakeReply::json(R"({"error":"0"})");
            reply.delayMs = changeDelayMs;
            return reply;
        });
        base.id = QUuid::createUuid();
        base.name = QStringLiteral("slow");
        base.systemName = QStringLiteral("lab");
        base.flags = Constants::AllowChangeDateTimeFlag | Constants::AllowIfConfigFlag;
        base.hostAddress = http.host();
        base.port = http.port();
    }

    // The changes it was asked for, logins and refreshes left out.
    int changeRequests() const
    {
        int count = 0;
        for (const ReceivedRequest &request : http.authenticatedRequests()) {
            const QString command = request.path().section(QLatin1Char('/'), -1);
            count += command != QLatin1String("gettime") && command != QLatin1String("iflist") ? 1 : 0;
        }
        return count;
    }

    FakeHttpServer http;
    BaseServerInfo base;
};

} // namespace

class TestChangesStop : public QObject
{
    Q_OBJECT

private:
    struct Fixture
    {
        Fixture() : manager(&pages, &client, &model, nullptr) {}

        // Two servers, logged in and selected, whose changes take a while.
        bool addServers(int changeDelayMs)
        {
            for (int i = 0; i < 2; ++i) {
                servers.push_back(std::make_unique<SlowServer>(changeDelayMs));
                model.addServer(servers.back()->base);
            }
            const auto loggedIn = [this] {
                int count = 0;
                for (int row = 0; row < model.rowCount(); ++row)
                    count += model.data(model.index(row), ServersSelectionModel::LoggedInRole).toBool() ? 1 : 0;
                return count == int(servers.size());
            };
            if (!QTest::qWaitFor(loggedIn, 10000))
                return false;
            model.setAllItemSelected(true);
            return model.selectedCount() == int(servers.size());
        }

        bool waitForFirstChange()
        {
            return QTest::qWaitFor([this] { return servers.front()->changeRequests() + servers.back()->changeRequests() > 0; },
                                   5000);
        }

        Pages pages;
        HttpClient client{nullptr};
        ServersSelectionModel model{nullptr};
        ChangesManager manager;
        std::vector<std::unique_ptr<SlowServer>> servers;
    };

private slots:
    void initTestCase() { TESSALY_REQUIRE_PRIVATE_NETWORK(); }

    // Whatever the change, the request under way is answered and recorded,
    // and every change of the other server is recorded as not sent without
    // reaching it.
    void unsentChangesAreRecorded_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QStringList>("rows");
        QTest::newRow("system name") << QStringLiteral("system name") << QStringList{QStringLiteral("system name")};
        QTest::newRow("password") << QStringLiteral("password") << QStringList{QStringLiteral("password")};
        QTest::newRow("port") << QStringLiteral("port") << QStringList{QStringLiteral("port")};
        QTest::newRow("date and time") << QStringLiteral("date / time")
                                       << QStringList{QStringLiteral("date / time"), QStringLiteral("time zone")};
    }

    void unsentChangesAreRecorded()
    {
        QFETCH(QString, change);
        QFETCH(QStringList, rows);
        Fixture f;
        QVERIFY(f.addServers(400));
        if (change == QLatin1String("system name"))
            f.manager.addSystemChange(QStringLiteral("renamed"));
        else if (change == QLatin1String("password"))
            f.manager.addPasswordChange(QStringLiteral("new secret"));
        else if (change == QLatin1String("port"))
            f.manager.addPortChange(7777);
        else
            f.manager.addDateTimeChange(QDate(2030, 1, 2), QTime(3, 4, 5), QByteArrayLiteral("Asia/Tokyo"));
        f.manager.applyChanges();
        QVERIFY(f.waitForFirstChange());
        const SlowServer &first = f.servers.front()->changeRequests() > 0 ? *f.servers.front() : *f.servers.back();
        const SlowServer &second = &first == f.servers.front().get() ? *f.servers.back() : *f.servers.front();

        f.manager.stopSending();
        // Recorded at once; the run ends with the answer under way.
        const QVector<Row> notSent = rowsOf(f.manager.failedResultsModel());
        QCOMPARE(notSent.size(), rows.size());
        for (int i = 0; i < rows.size(); ++i) {
            QCOMPARE(notSent.at(i).name, rows.at(i));
            QCOMPARE(notSent.at(i).reason, ChangesManager::notSentReason());
            QCOMPARE(notSent.at(i).serverId, second.base.id.toString());
        }
        QCOMPARE(f.pages.current(), int(Constants::ProgressPage));

        QTRY_COMPARE(f.pages.current(), int(Constants::SummaryPage));
        const QVector<Row> done = rowsOf(f.manager.successfulResultsModel());
        QCOMPARE(done.size(), rows.size());
        for (const Row &row : done)
            QCOMPARE(row.serverId, first.base.id.toString());
        QCOMPARE(first.changeRequests(), 1);
        QCOMPARE(second.changeRequests(), 0);
        QCOMPARE(f.manager.appliedChangesCount(), f.manager.totalChangesCount());
    }

    // Outside a run there is nothing to stop: the last run's rows stay as
    // they are and the page does not move.
    void stopOutsideARunChangesNothing()
    {
        Fixture f;
        QVERIFY(f.addServers(0));
        f.manager.stopSending();
        QVERIFY(f.pages.shown.isEmpty());
        QVERIFY(!f.manager.failedResultsModel());

        f.manager.addPortChange(7777);
        f.manager.applyChanges();
        QTRY_COMPARE(f.pages.current(), int(Constants::SummaryPage));
        const int pagesBefore = f.pages.shown.size();
        f.manager.stopSending();
        QCOMPARE(f.pages.shown.size(), pagesBefore);
        QCOMPARE(rowsOf(f.manager.successfulResultsModel()).size(), 2);
        QCOMPARE(rowsOf(f.manager.failedResultsModel()).size(), 0);
    }
};

QTEST_GUILESS_MAIN(TestChangesStop)
#include "tst_changes_stop.moc"
