#include "changes/changes_manager.h"
#include "core/constants.h"
#include "core/date_time_helpers.h"
#include "app/rtu_context.h"
#include "models/servers_selection_model.h"
#include "protocol/http_client.h"

#include "fake_http_server.h"
#include "summary_rows.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QPointer>
#include <QTimeZone>
#include <QUrlQuery>
#include <QtTest>

#include <algorithm>
#include <memory>
#include <optional>

using namespace rtu;
using rtu::test::FakeHttpServer;
using rtu::test::FakeReply;
using rtu::test::ReceivedRequest;
using Row = rtu::test::SummaryRow;
const auto rowsOf = rtu::test::summaryRows;

namespace {

const QString kPassword = QStringLiteral("738");

// One request as a simulated server saw it, with the manager's progress at
// that moment (to tell whether earlier requests had been answered).
QJsonObject nic(const QString &name, const QString &ip, bool dhcp = false)
{
    return {{QStringLiteral("name"), name},          {QStringLiteral("ipAddr"), ip},
            {QStringLiteral("mac"), QStringLiteral("00:11:22:33:44:55")},
            {QStringLiteral("netMask"), QStringLiteral("255.255.0.0")},
            {QStringLiteral("gateway"), QStringLiteral("10.1.0.1")},
            {QStringLiteral("dns_servers"), QStringLiteral("10.1.0.1")},
            {QStringLiteral("dhcp"), dhcp}};
}

struct Seen
{
    QString command;
    QUrlQuery query;
    QByteArray body;
    QString password;
    int appliedAtArrival = -1;
    qint64 atMs = 0;
    int sequence = 0; // arrival order over all servers
};

int g_arrivals = 0;

// A server behind a fake HTTP endpoint: it keeps its settings, answers the
// REST commands like a real one and can be told to answer otherwise.
class SimServer
{
public:
    using Override = std::function<std::optional<FakeReply>(const QString &command, const ReceivedRequest &request)>;

    SimServer(const QString &name, const ChangesManager *const *manager) : m_manager(manager)
    {
        http.setHandler([this](const ReceivedRequest &request) { return handle(request); });
        base.id = QUuid::createUuid();
        base.name = name;
        base.systemName = QStringLiteral("lab");
        base.flags = Constants::AllowChangeDateTimeFlag | Constants::AllowIfConfigFlag;
        base.hostAddress = http.host();
        base.displayAddress = http.host();
        base.port = http.port();
        systemName = base.systemName;
        port = base.port;
    }

    QVector<Seen> seen(const QString &command) const
    {
        QVector<Seen> result;
        for (const Seen &item : m_seen) {
            if (item.command == command)
                result.append(item);
        }
        return result;
    }
    void forgetSeen() { m_seen.clear(); }

    // The record discovery would report now.
    BaseServerInfo discovered() const
    {
        BaseServerInfo info = base;
        info.port = port;
        info.systemName = systemName;
        return info;
    }

    FakeHttpServer http;
    BaseServerInfo base;
    QString password = kPassword;
    QString systemName;
    int port = 0;
    qint64 utcMs = 1700000000000;
    QByteArray timeZoneId = "Europe/Berlin";
    // In the wire form of "iflist".
    QJsonArray interfaces{nic(QStringLiteral("eth0"), QStringLiteral("10.1.0.2"))};
    bool applyInterfaceChanges = true;
    int ifListDelayMs = 0;
    Override override;

private:
    static FakeReply ok() { return FakeReply::json(QByteArrayLiteral("{\"error\":\"0\"}")); }

    FakeReply handle(const ReceivedRequest &request)
    {
        const QString command = request.path().section(QLatin1Char('/'), -1);
        if (!request.hasAuthorization)
            return FakeReply::unauthorized();
        Seen seen;
        seen.command = command;
        seen.query = QUrlQuery(QUrl::fromEncoded(request.target).query(QUrl::FullyEncoded));
        seen.body = request.body;
        seen.password = request.password;
        seen.appliedAtArrival = *m_manager ? (*m_manager)->appliedChangesCount() : -1;
        seen.atMs = QDateTime::currentMSecsSinceEpoch();
        seen.sequence = ++g_arrivals;
        m_seen.append(seen);

        if (override) {
            if (const std::optional<FakeReply> reply = override(command, request))
                return *reply;
        }
        if (request.password != password)
            return FakeReply::unauthorized();

        const QUrlQuery &query = seen.query;
        if (command == QLatin1String("gettime")) {
            QJsonObject reply{{QStringLiteral("utcTime"), QString::number(utcMs)},
                              {QStringLiteral("timezoneId"), QString::fromUtf8(timeZoneId)}};
            return FakeReply::json(QJsonDocument(QJsonObject{{QStringLiteral("error"), QStringLiteral("0")},
                                                             {QStringLiteral("reply"), reply}})
                                       .toJson());
        }
        if (command == QLatin1String("iflist")) {
            FakeReply reply = FakeReply::json(QJsonDocument(QJsonObject{{QStringLiteral("error"), QStringLiteral("0")},
                                                                        {QStringLiteral("reply"), interfaces}})
                                                  .toJson());
            reply.delayMs = ifListDelayMs;
            return reply;
        }
        if (command == QLatin1String("configure")) {
            if (query.queryItemValue(QStringLiteral("oldPassword"), QUrl::FullyDecoded) != password)
                return FakeReply::json(QByteArrayLiteral("{\"error\":\"1\",\"errorString\":\"Wrong old password\"}"));
            if (query.hasQueryItem(QStringLiteral("systemName")))
                systemName = query.queryItemValue(QStringLiteral("systemName"), QUrl::FullyDecoded);
            if (query.hasQueryItem(QStringLiteral("password")))
                password = query.queryItemValue(QStringLiteral("password"), QUrl::FullyDecoded);
            if (query.hasQueryItem(QStringLiteral("port")))
                port = query.queryItemValue(QStringLiteral("port")).toInt();
            return ok();
        }
        if (command == QLatin1String("settime")) {
            utcMs = query.queryItemValue(QStringLiteral("datetime")).toLongLong();
            timeZoneId = query.queryItemValue(QStringLiteral("timezone"), QUrl::FullyDecoded).toUtf8();
            return ok();
        }
        if (command == QLatin1String("ifconfig")) {
            if (!applyInterfaceChanges)
                return ok();
            for (const QJsonValue &value : QJsonDocument::fromJson(request.body).array()) {
                const QJsonObject change = value.toObject();
                for (int i = 0; i < interfaces.size(); ++i) {
                    QJsonObject iface = interfaces.at(i).toObject();
                    if (iface.value(QStringLiteral("name")) == change.value(QStringLiteral("name"))) {
                        for (auto it = change.begin(); it != change.end(); ++it)
                            iface.insert(it.key(), it.value());
                        interfaces.replace(i, iface);
                    }
                }
            }
            return ok();
        }
        return FakeReply::json(QByteArrayLiteral("{\"error\":\"1\",\"errorString\":\"Unknown command\"}"), 404,
                               "Not Found");
    }

    const ChangesManager *const *m_manager;
    QVector<Seen> m_seen;
};

QVector<Row> rowsFor(QObject *model, const SimServer &server)
{
    QVector<Row> result;
    const QString prefix = server.base.id.toString();
    for (const Row &row : rowsOf(model)) {
        if (row.id.startsWith(prefix))
            result.append(row);
    }
    return result;
}

QStringList namesOf(const QVector<Row> &rows)
{
    QStringList names;
    for (const Row &row : rows)
        names.append(row.name);
    return names;
}

// The real client, counting the configure requests it was given.
class CountingClient : public HttpClient
{
public:
    using HttpClient::HttpClient;

    void sendGet(const QUrl &url, const OnSuccessReply &success, const OnErrorReply &failure, qint64 timeoutMs,
                 Kind kind) override
    {
        if (url.path().endsWith(QLatin1String("/configure")))
            ++configureRequests;
        HttpClient::sendGet(url, success, failure, timeoutMs, kind);
    }

    int configureRequests = 0;
};

} // namespace

class TestChangesManager : public QObject
{
    Q_OBJECT

private:
    // A fresh set of collaborators per test.
    struct Fixture
    {
        explicit Fixture(const ChangesManagerTiming &timing = fastTiming())
            : context(nullptr), client(nullptr), model(nullptr),
              manager(new ChangesManager(&context, &client, &model, nullptr, timing))
        {
            managerPtr = manager.get();
        }

        SimServer &addServer(const QString &name)
        {
            servers.push_back(std::make_unique<SimServer>(name, &managerPtr));
            return *servers.back();
        }

        // Adds every server to the model, waits for the automatic logins and
        // selects them all.
        bool selectAll()
        {
            for (const auto &server : servers)
                model.addServer(server->base);
            if (!QTest::qWaitFor([this] { return loggedInCount() == int(servers.size()); }, 10000))
                return false;
            model.setAllItemSelected(true);
            if (model.selectedCount() != int(servers.size()))
                return false;
            // Selecting refreshes the servers' information once (the model
            // announces nothing when nothing shown changed); let its requests
            // arrive before a test looks at requests.
            const auto refreshed = [this] {
                for (const auto &server : servers) {
                    if (server->seen(QStringLiteral("iflist")).size() < 2)
                        return false;
                }
                return true;
            };
            if (!QTest::qWaitFor(refreshed, 5000))
                return false;
            // The logins are not part of what the tests look at.
            for (const auto &server : servers)
                server->forgetSeen();
            return true;
        }

        int loggedInCount() const
        {
            int count = 0;
            for (int row = 0; row < model.rowCount(); ++row)
                count += model.data(model.index(row), ServersSelectionModel::LoggedInRole).toBool() ? 1 : 0;
            return count;
        }

        const ServerInfo *record(const SimServer &server)
        {
            for (ServerInfo *info : model.selectedServers()) {
                if (info->baseInfo().id == server.base.id)
                    return info;
            }
            return nullptr;
        }

        bool waitForPage(int page, int timeoutMs = 5000)
        {
            return QTest::qWaitFor([this, page] { return context.currentPage() == page; }, timeoutMs);
        }

        RtuContext context;
        CountingClient client;
        ServersSelectionModel model;
        std::unique_ptr<ChangesManager> manager;
        const ChangesManager *managerPtr = nullptr;
        std::vector<std::unique_ptr<SimServer>> servers;
    };

    static ChangesManagerTiming fastTiming()
    {
        ChangesManagerTiming timing;
        timing.checkSpacingMs = 150;
        timing.maxCheckAttempts = 4;
        timing.confirmationLimitMs = 5000;
        return timing;
    }

private slots:
    void exclusiveRequestsGoOneAfterAnother()
    {
        Fixture f;
        SimServer &first = f.addServer(QStringLiteral("one"));
        SimServer &second = f.addServer(QStringLiteral("two"));
        QVERIFY(f.selectAll());
        QSignalSpy pages(&f.context, &RtuContext::currentPageChanged);
        QSignalSpy applied(f.manager.get(), &ChangesManager::appliedChangesCountChanged);
        // Each answer's progress is announced once the next request is out.
        QVector<QPair<int, int>> announced; // applied count, requests sent by then
        connect(f.manager.get(), &ChangesManager::appliedChangesCountChanged, this, [&] {
            announced.append({f.manager->appliedChangesCount(), f.client.configureRequests});
        });
        // The progress page is built while the first request is out.
        int sentWhenShown = -1;
        connect(&f.context, &RtuContext::currentPageChanged, this, [&] {
            if (f.context.currentPage() == Constants::ProgressPage)
                sentWhenShown = f.client.configureRequests;
        });

        f.manager->addPortChange(7020);
        f.manager->addSystemChange(QStringLiteral("renamed"));
        f.manager->applyChanges();
        QCOMPARE(f.manager->totalChangesCount(), 4);
        QCOMPARE(f.context.currentPage(), int(Constants::ProgressPage));
        QVERIFY(f.waitForPage(Constants::SummaryPage));

        // Merge both servers' logs by arrival.
        QVector<QPair<const SimServer *, Seen>> sent;
        for (SimServer *server : {&first, &second}) {
            for (const Seen &seen : server->seen(QStringLiteral("configure")))
                sent.append({server, seen});
        }
        std::sort(sent.begin(), sent.end(),
                  [](const auto &a, const auto &b) { return a.second.sequence < b.second.sequence; });
        QCOMPARE(sent.size(), 4);
        const QVector<const SimServer *> expectedOrder{&first, &second, &first, &second};
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(sent.at(i).first, expectedOrder.at(i));
            QCOMPARE(sent.at(i).second.appliedAtArrival, i);
            QCOMPARE(sent.at(i).second.query.hasQueryItem(QStringLiteral("systemName")), i < 2);
            QCOMPARE(sent.at(i).second.query.hasQueryItem(QStringLiteral("port")), i >= 2);
        }
        QCOMPARE(f.manager->appliedChangesCount(), 4);
        QCOMPARE(applied.count(), 1 + 4); // reset at the start, then one per answer
        const QVector<QPair<int, int>> expected{{1, 2}, {2, 3}, {3, 4}, {4, 4}};
        QCOMPARE(announced.mid(1), expected);
        QCOMPARE(pages.count(), 2);
        QCOMPARE(sentWhenShown, 1);

        QCOMPARE(rowsOf(f.manager->successfulResultsModel()).size(), 4);
        QVERIFY(rowsOf(f.manager->failedResultsModel()).isEmpty());
        for (SimServer *server : {&first, &second}) {
            QCOMPARE(server->systemName, QStringLiteral("renamed"));
            QCOMPARE(server->port, 7020);
            QCOMPARE(namesOf(rowsFor(f.manager->successfulResultsModel(), *server)),
                     QStringList({QStringLiteral("system name"), QStringLiteral("port")}));
        }
        // The model shows the confirmed values.
        f.model.setAllItemSelected(true);
        for (SimServer *server : {&first, &second}) {
            const ServerInfo *record = f.record(*server);
            QVERIFY(record);
            QCOMPARE(record->baseInfo().systemName, QStringLiteral("renamed"));
            QCOMPARE(record->baseInfo().port, 7020);
        }
    }

    // While one server works on its request, the connection to the next is
    // opened, so that the next request leaves with the answer.
    void nextConnectionOpensWhileAnAnswerIsAwaited()
    {
        Fixture f;
        SimServer &first = f.addServer(QStringLiteral("one"));
        SimServer &second = f.addServer(QStringLiteral("two"));
        QVERIFY(f.selectAll());
        first.override = [](const QString &command, const ReceivedRequest &) -> std::optional<FakeReply> {
            if (command != QLatin1String("configure"))
                return std::nullopt;
            FakeReply slow = FakeReply::json(QByteArrayLiteral("{\"error\":\"0\"}"));
            slow.delayMs = 1000;
            return slow;
        };
        // The logins' connections have gone idle and closed.
        QTRY_COMPARE(second.http.openConnections(), 0);
        const int connections = second.http.connectionCount();

        f.manager->addSystemChange(QStringLiteral("renamed"));
        f.manager->applyChanges();
        QTRY_COMPARE(first.seen(QStringLiteral("configure")).size(), 1);
        QTRY_COMPARE(second.http.connectionCount(), connections + 1);
        QVERIFY(second.seen(QStringLiteral("configure")).isEmpty());
        QVERIFY(f.waitForPage(Constants::SummaryPage));
        QCOMPARE(second.seen(QStringLiteral("configure")).size(), 1);
        QCOMPARE(second.http.connectionCount(), connections + 1);
        QCOMPARE(rowsOf(f.manager->successfulResultsModel()).size(), 2);
    }

    void dateTimeRowsPerServer()
    {
        Fixture f;
        SimServer &first = f.addServer(QStringLiteral("one"));
        SimServer &refusing = f.addServer(QStringLiteral("two"));
        SimServer &third = f.addServer(QStringLiteral("three"));
        // Refuses without saying why: must not count as applied.
        refusing.override = [](const QString &command, const ReceivedRequest &) -> std::optional<FakeReply> {
            if (command == QLatin1String("settime"))
                return FakeReply::json(QByteArrayLiteral("{\"error\":\"2\"}"));
            return std::nullopt;
        };
        QVERIFY(f.selectAll());
        const QByteArray refusingZoneBefore = f.record(refusing)->extraInfo().timeZoneId;

        const QDate date(2026, 3, 10);
        const QTime time(14, 30);
        f.manager->addDateTimeChange(date, time, QByteArrayLiteral("Asia/Kolkata"));
        f.manager->applyChanges();
        QCOMPARE(f.manager->totalChangesCount(), 6);
        QVERIFY(f.waitForPage(Constants::SummaryPage));
        QCOMPARE(f.manager->appliedChangesCount(), 6);

        // 14:30 in a zone at UTC+05:30 is 09:00 UTC.
        const qint64 expectedUtc = QDateTime(date, QTime(9, 0), Qt::UTC).toMSecsSinceEpoch();
        // The wall clock of the new zone, labelled with that zone, not the workstation's.
        const QDateTime inNewZone(date, time, QTimeZone("Asia/Kolkata"));
        const QString format = QLocale::system().dateTimeFormat(QLocale::LongFormat);
        const QString expectedText = QLocale::system().toString(inNewZone, format);
        QVERIFY(expectedText.contains(QLatin1String("14:30")));
        if (format.contains(QLatin1Char('t')))
            QVERIFY(expectedText.contains(inNewZone.timeZoneAbbreviation()));
        for (SimServer *server : {&first, &third}) {
            QCOMPARE(server->utcMs, expectedUtc);
            QCOMPARE(server->timeZoneId, QByteArrayLiteral("Asia/Kolkata"));
            const QVector<Row> rows = rowsFor(f.manager->successfulResultsModel(), *server);
            QCOMPARE(namesOf(rows), QStringList({QStringLiteral("date / time"), QStringLiteral("time zone")}));
            QCOMPARE(rows.at(0).value, expectedText);
            QVERIFY(rows.at(1).value.contains(QLatin1String("Asia/Kolkata"))
                    || rows.at(1).value == QTimeZone("Asia/Kolkata").comment());
            const ServerInfo *record = f.record(*server);
            QCOMPARE(record->extraInfo().timeZoneId, QByteArrayLiteral("Asia/Kolkata"));
            QCOMPARE(record->extraInfo().utcDateTimeMs, expectedUtc);
        }
        const QVector<Row> failed = rowsOf(f.manager->failedResultsModel());
        QCOMPARE(failed.size(), 2);
        for (const Row &row : failed) {
            QVERIFY(row.id.startsWith(refusing.base.id.toString()));
            QVERIFY(row.reason.isEmpty());
        }
        QCOMPARE(f.record(refusing)->extraInfo().timeZoneId, refusingZoneBefore);
    }

    // A clock that was read, not typed, runs on until each request leaves.
    void untypedClockRunsOnUntilEachRequest()
    {
        Fixture f;
        SimServer &first = f.addServer(QStringLiteral("one"));
        SimServer &second = f.addServer(QStringLiteral("two"));
        // A slow first answer holds the second request back.
        first.override = [](const QString &command, const ReceivedRequest &) -> std::optional<FakeReply> {
            if (command != QLatin1String("settime"))
                return std::nullopt;
            FakeReply reply = FakeReply::json(QByteArrayLiteral("{\"error\":\"0\"}"));
            reply.delayMs = 700;
            return reply;
        };
        QVERIFY(f.selectAll());

        const qint64 reading = QDateTime(QDate(2026, 3, 10), QTime(9, 0), Qt::UTC).toMSecsSinceEpoch();
        f.manager->addCurrentDateTimeChange(reading, QByteArrayLiteral("Asia/Kolkata"));
        QTest::qWait(300);
        f.manager->applyChanges();
        QVERIFY(f.waitForPage(Constants::SummaryPage));
        QCOMPARE(rowsOf(f.manager->successfulResultsModel()).size(), 4);

        const Seen toFirst = first.seen(QStringLiteral("settime")).value(0);
        const Seen toSecond = second.seen(QStringLiteral("settime")).value(0);
        const qint64 sentFirst = toFirst.query.queryItemValue(QStringLiteral("datetime")).toLongLong();
        const qint64 sentSecond = toSecond.query.queryItemValue(QStringLiteral("datetime")).toLongLong();
        QVERIFY2(sentFirst - reading >= 300 && sentFirst - reading < 5000, qPrintable(QString::number(sentFirst - reading)));
        QVERIFY2(sentSecond - sentFirst >= 650, qPrintable(QString::number(sentSecond - sentFirst)));
        QVERIFY(qAbs((sentSecond - sentFirst) - (toSecond.atMs - toFirst.atMs)) < 300);
        // The records keep what each server was sent, read when it was sent.
        const ExtraServerInfo &record = f.record(second)->extraInfo();
        QCOMPARE(record.utcDateTimeMs, sentSecond);
        QVERIFY(qAbs(record.timestampMs - toSecond.atMs) < 300);
    }

    void passwordIsRetriedOnceWithTheNewOne()
    {
        Fixture f;
        SimServer &plain = f.addServer(QStringLiteral("plain"));
        SimServer &alreadyChanged = f.addServer(QStringLiteral("changed"));
        SimServer &stubborn = f.addServer(QStringLiteral("stubborn"));
        QVERIFY(f.selectAll());
        const QString newPassword = QStringLiteral("s3cret&x=1");
        // Took the new password earlier but the answer got lost: only the new
        // one is accepted now.
        alreadyChanged.password = newPassword;
        int stubbornAttempts = 0;
        stubborn.override = [&stubbornAttempts](const QString &command,
                                                const ReceivedRequest &) -> std::optional<FakeReply> {
            if (command != QLatin1String("configure"))
                return std::nullopt;
            ++stubbornAttempts;
            return FakeReply::json(QByteArray(), 500, stubbornAttempts == 1 ? "First refusal" : "Second refusal");
        };

        f.manager->addPasswordChange(newPassword);
        f.manager->applyChanges();
        QCOMPARE(f.manager->totalChangesCount(), 3);
        QVERIFY(f.waitForPage(Constants::SummaryPage));
        QCOMPARE(f.manager->appliedChangesCount(), 3);

        const QVector<Seen> plainSent = plain.seen(QStringLiteral("configure"));
        QCOMPARE(plainSent.size(), 1);
        QCOMPARE(plainSent.at(0).password, kPassword);
        QCOMPARE(plainSent.at(0).query.queryItemValue(QStringLiteral("oldPassword"), QUrl::FullyDecoded), kPassword);
        QCOMPARE(plain.password, newPassword);

        const QVector<Seen> changedSent = alreadyChanged.seen(QStringLiteral("configure"));
        QCOMPARE(changedSent.size(), 2);
        QCOMPARE(changedSent.at(1).password, newPassword);
        QCOMPARE(changedSent.at(1).query.queryItemValue(QStringLiteral("oldPassword"), QUrl::FullyDecoded),
                 newPassword);

        QCOMPARE(stubbornAttempts, 2);
        const QVector<Row> failed = rowsOf(f.manager->failedResultsModel());
        QCOMPARE(failed.size(), 1);
        QVERIFY(failed.at(0).id.startsWith(stubborn.base.id.toString()));
        // A 500 does not say that nothing was done.
        QCOMPARE(failed.at(0).reason, QStringLiteral("Second refusal; the change may have been applied"));

        QCOMPARE(rowsFor(f.manager->successfulResultsModel(), plain).size(), 1);
        QCOMPARE(rowsFor(f.manager->successfulResultsModel(), alreadyChanged).size(), 1);
        QCOMPARE(rowsFor(f.manager->successfulResultsModel(), plain).at(0).value, newPassword);
        QCOMPARE(f.record(plain)->extraInfo().password, newPassword);
        QCOMPARE(f.record(alreadyChanged)->extraInfo().password, newPassword);
        QCOMPARE(stubborn.password, kPassword);
    }

    void severalTargetsOnlyTurnDhcpOn()
    {
        Fixture f;
        SimServer &mixed = f.addServer(QStringLiteral("mixed"));
        mixed.interfaces.append(nic(QStringLiteral("eth1"), QStringLiteral("192.168.5.5"), true));
        SimServer &allDhcp = f.addServer(QStringLiteral("dhcp"));
        allDhcp.interfaces = {nic(QStringLiteral("eth0"), QStringLiteral("10.1.0.3"), true)};
        SimServer &twoStatic = f.addServer(QStringLiteral("static"));
        twoStatic.interfaces.append(nic(QStringLiteral("eth7"), QStringLiteral("10.9.0.2")));
        QVERIFY(f.selectAll());

        // The collected list only says that something changed.
        f.manager->addAddressChange(QStringLiteral("eth0"), QStringLiteral("172.16.0.9"));
        f.manager->turnOnDhcp();
        f.manager->applyChanges();
        QCOMPARE(f.manager->totalChangesCount(), 3);

        QTRY_COMPARE(mixed.seen(QStringLiteral("ifconfig")).size() + twoStatic.seen(QStringLiteral("ifconfig")).size(), 2);
        QVERIFY(allDhcp.seen(QStringLiteral("ifconfig")).isEmpty());
        const QJsonArray mixedBody = QJsonDocument::fromJson(mixed.seen(QStringLiteral("ifconfig")).at(0).body).array();
        QCOMPARE(mixedBody, QJsonArray({QJsonObject{{QStringLiteral("name"), QStringLiteral("eth0")},
                                                    {QStringLiteral("dhcp"), true}}}));
        const QJsonArray staticBody =
            QJsonDocument::fromJson(twoStatic.seen(QStringLiteral("ifconfig")).at(0).body).array();
        QCOMPARE(staticBody.size(), 2);
        QCOMPARE(staticBody.at(1).toObject().value(QStringLiteral("name")).toString(), QStringLiteral("eth7"));

        // Discovery sees both again; the checks confirm the switch.
        QVERIFY(QTest::qWaitFor(
            [&] {
                f.manager->serverDiscovered(mixed.discovered());
                f.manager->serverDiscovered(twoStatic.discovered());
                return f.context.currentPage() == Constants::SummaryPage;
            },
            5000));
        const QVector<Row> ok = rowsOf(f.manager->successfulResultsModel());
        QCOMPARE(ok.size(), 3);
        for (const Row &row : ok) {
            QCOMPARE(row.name, QStringLiteral("dhcp"));
            QCOMPARE(row.value, QStringLiteral("on"));
        }
        QVERIFY(rowsFor(f.manager->successfulResultsModel(), allDhcp).isEmpty());
        QCOMPARE(f.record(twoStatic)->extraInfo().interfaces.at(1).useDHCP, int(Qt::Checked));
        QCOMPARE(f.record(mixed)->extraInfo().interfaces.at(0).useDHCP, int(Qt::Checked));
    }

    void lastAddressWins()
    {
        Fixture f;
        SimServer &server = f.addServer(QStringLiteral("one"));
        QVERIFY(f.selectAll());
        f.manager->addAddressChange(QStringLiteral("eth0"), QStringLiteral("10.1.0.50"));
        f.manager->addMaskChange(QStringLiteral("eth0"), QStringLiteral("255.255.255.0"));
        f.manager->addAddressChange(QStringLiteral("eth0"), QStringLiteral("10.1.0.60"));
        f.manager->applyChanges();
        QCOMPARE(f.manager->totalChangesCount(), 2);
        QTRY_COMPARE(server.seen(QStringLiteral("ifconfig")).size(), 1);
        const QJsonArray body = QJsonDocument::fromJson(server.seen(QStringLiteral("ifconfig")).at(0).body).array();
        QCOMPARE(body.size(), 1);
        QCOMPARE(body.at(0).toObject().value(QStringLiteral("ipAddr")).toString(), QStringLiteral("10.1.0.60"));

        QVERIFY(QTest::qWaitFor(
            [&] {
                f.manager->serverDiscovered(server.discovered());
                return f.context.currentPage() == Constants::SummaryPage;
            },
            5000));
        const QVector<Row> ok = rowsOf(f.manager->successfulResultsModel());
        QCOMPARE(namesOf(ok), QStringList({QStringLiteral("ip"), QStringLiteral("mask")}));
        QCOMPARE(ok.at(0).value, QStringLiteral("10.1.0.60"));
        QCOMPARE(f.record(server)->extraInfo().interfaces.at(0).ip, QStringLiteral("10.1.0.60"));
    }

    void checksAreSpacedAndPartialMatchIsReported()
    {
        ChangesManagerTiming timing = fastTiming();
        timing.checkSpacingMs = 200;
        timing.maxCheckAttempts = 3;
        Fixture f(timing);
        SimServer &server = f.addServer(QStringLiteral("one"));
        server.interfaces.append(nic(QStringLiteral("eth1"), QStringLiteral("10.2.0.2")));
        QVERIFY(f.selectAll());
        server.applyInterfaceChanges = false;
        server.ifListDelayMs = 100;
        // eth0 already has this gateway; eth1 never takes the new address.
        f.manager->addGatewayChange(QStringLiteral("eth0"), QStringLiteral("10.1.0.1"));
        f.manager->addAddressChange(QStringLiteral("eth1"), QStringLiteral("10.2.0.99"));
        const QString hostBefore = f.record(server)->baseInfo().hostAddress;

        QElapsedTimer sinceStart;
        sinceStart.start();
        const qint64 startMs = QDateTime::currentMSecsSinceEpoch();
        f.manager->applyChanges();
        // Discovery answers far more often than checks may go out.
        QTimer discovery;
        connect(&discovery, &QTimer::timeout, [&] { f.manager->serverDiscovered(server.discovered()); });
        discovery.start(10);
        QVERIFY(f.waitForPage(Constants::SummaryPage, 5000));
        discovery.stop();

        const QVector<Seen> checks = server.seen(QStringLiteral("iflist"));
        QCOMPARE(checks.size(), timing.maxCheckAttempts);
        QVERIFY(checks.at(0).atMs - startMs >= timing.checkSpacingMs - 5);
        for (int i = 1; i < checks.size(); ++i) {
            // A check waits for the previous answer and then the spacing.
            QVERIFY2(checks.at(i).atMs - checks.at(i - 1).atMs >= server.ifListDelayMs + timing.checkSpacingMs - 5,
                     qPrintable(QString::number(checks.at(i).atMs - checks.at(i - 1).atMs)));
        }
        const QVector<Row> ok = rowsOf(f.manager->successfulResultsModel());
        QCOMPARE(namesOf(ok), QStringList({QStringLiteral("gateway")}));
        const QVector<Row> failed = rowsOf(f.manager->failedResultsModel());
        QCOMPARE(namesOf(failed), QStringList({QStringLiteral("ip")}));
        QCOMPARE(failed.at(0).reason, QStringLiteral("Can't apply this parameter"));
        QCOMPARE(f.manager->appliedChangesCount(), 2);
        // Not confirmed as a whole: the model keeps what it had.
        QCOMPARE(f.record(server)->extraInfo().interfaces.at(1).ip, QStringLiteral("10.2.0.2"));
        QCOMPARE(f.record(server)->baseInfo().hostAddress, hostBefore);
    }

    void unconfirmedChangeTimesOutAndLateAnswerIsIgnored()
    {
        ChangesManagerTiming timing = fastTiming();
        timing.checkSpacingMs = 50;
        timing.confirmationLimitMs = 400;
        Fixture f(timing);
        SimServer &server = f.addServer(QStringLiteral("one"));
        QVERIFY(f.selectAll());
        server.ifListDelayMs = 900; // answers after the limit, within the check's time-out
        f.manager->addDNSChange(QStringLiteral("eth0"), QStringLiteral("8.8.4.4"));
        f.manager->applyChanges();
        QTRY_COMPARE(server.seen(QStringLiteral("ifconfig")).size(), 1);
        QElapsedTimer accepted;
        accepted.start();
        QTest::qWait(int(timing.checkSpacingMs) + 20);
        f.manager->serverDiscovered(server.discovered());
        QTRY_COMPARE(server.seen(QStringLiteral("iflist")).size(), 1);

        QVERIFY(f.waitForPage(Constants::SummaryPage, 3000));
        QVERIFY(accepted.elapsed() >= timing.confirmationLimitMs - 50);
        const QVector<Row> failed = rowsOf(f.manager->failedResultsModel());
        QCOMPARE(namesOf(failed), QStringList({QStringLiteral("dns")}));
        // The server took the change; only no check could show it in time.
        QCOMPARE(failed.at(0).reason, QStringLiteral("Request timeout; the change may have been applied"));

        // The late answer would confirm the change; it must change nothing.
        QSignalSpy modelChanges(&f.model, &QAbstractItemModel::dataChanged);
        QTest::qWait(server.ifListDelayMs);
        QVERIFY(rowsOf(f.manager->successfulResultsModel()).isEmpty());
        QCOMPARE(rowsOf(f.manager->failedResultsModel()).size(), 1);
        QCOMPARE(modelChanges.count(), 0);
        QCOMPARE(f.record(server)->extraInfo().interfaces.at(0).dns, QStringLiteral("10.1.0.1"));
        QCOMPARE(f.manager->appliedChangesCount(), 1);
    }

    void clearingAfterARunKeepsTheResults()
    {
        Fixture f;
        SimServer &server = f.addServer(QStringLiteral("one"));
        QVERIFY(f.selectAll());
        f.manager->addSystemChange(QStringLiteral("other"));
        f.manager->applyChanges();
        QVERIFY(f.waitForPage(Constants::SummaryPage));
        QObject *results = f.manager->successfulResultsModel();
        f.manager->clearChanges();
        QCOMPARE(f.manager->successfulResultsModel(), results);
        QCOMPARE(rowsOf(results).size(), 1);
        QCOMPARE(f.manager->appliedChangesCount(), 1);
        // Nothing is pending any more: a new apply does nothing.
        f.context.setCurrentPage(Constants::SettingsPage);
        f.manager->applyChanges();
        QCOMPARE(f.context.currentPage(), int(Constants::SettingsPage));
        QCOMPARE(server.seen(QStringLiteral("configure")).size(), 1);
        QCOMPARE(f.manager->successfulResultsModel(), results);
    }

    void emptyRunEndsAtOnce()
    {
        Fixture f;
        SimServer &first = f.addServer(QStringLiteral("one"));
        SimServer &second = f.addServer(QStringLiteral("two"));
        first.interfaces = {nic(QStringLiteral("eth0"), QStringLiteral("10.1.0.2"), true)};
        second.interfaces = first.interfaces;
        QVERIFY(f.selectAll());

        f.manager->addSystemChange(QStringLiteral("first run"));
        f.manager->applyChanges();
        QVERIFY(f.waitForPage(Constants::SummaryPage));
        QPointer<QObject> oldResults = f.manager->successfulResultsModel();
        QCOMPARE(rowsOf(oldResults).size(), 2);
        f.context.setCurrentPage(Constants::SettingsPage);

        // Every interface already uses DHCP: there is nothing to send.
        f.manager->turnOnDhcp();
        QSignalSpy pages(&f.context, &RtuContext::currentPageChanged);
        f.manager->applyChanges();
        QCOMPARE(f.context.currentPage(), int(Constants::SummaryPage));
        QCOMPARE(f.manager->totalChangesCount(), 0);
        QCOMPARE(f.manager->appliedChangesCount(), 0);
        QVERIFY(f.manager->successfulResultsModel() != oldResults.data());
        QVERIFY(rowsOf(f.manager->successfulResultsModel()).isEmpty());
        QVERIFY(rowsOf(f.manager->failedResultsModel()).isEmpty());
        QVERIFY(first.seen(QStringLiteral("ifconfig")).isEmpty());
        QTRY_VERIFY(oldResults.isNull());
        // The run is over: the change set went with it.
        f.context.setCurrentPage(Constants::SettingsPage);
        f.manager->applyChanges();
        QCOMPARE(f.context.currentPage(), int(Constants::SettingsPage));
    }

    void interfaceRequestFollowsPortAndPasswordAnswers()
    {
        Fixture f;
        SimServer &server = f.addServer(QStringLiteral("one"));
        QVERIFY(f.selectAll());
        // Where the server listens after the port change.
        SimServer moved(QStringLiteral("moved"), &f.managerPtr);
        moved.base = server.base;
        moved.base.port = moved.http.port();
        moved.port = moved.http.port();
        const QString newPassword = QStringLiteral("n3w");
        moved.password = newPassword;
        // A slow answer to the port change leaves room for a premature send.
        FakeReply slowPort = FakeReply::json(QByteArrayLiteral("{\"error\":\"0\"}"));
        slowPort.delayMs = 300;
        int configureCount = 0;
        server.override = [&](const QString &command, const ReceivedRequest &) -> std::optional<FakeReply> {
            if (command != QLatin1String("configure"))
                return std::nullopt;
            // The password change is answered normally, the port change slowly.
            if (++configureCount == 2) {
                server.port = moved.port;
                return slowPort;
            }
            return std::nullopt;
        };

        f.manager->addPasswordChange(newPassword);
        f.manager->addPortChange(moved.port);
        f.manager->addGatewayChange(QStringLiteral("eth0"), QStringLiteral("10.1.0.254"));
        f.manager->applyChanges();
        QCOMPARE(f.manager->totalChangesCount(), 3);

        QTRY_COMPARE(moved.seen(QStringLiteral("ifconfig")).size(), 1);
        QVERIFY(server.seen(QStringLiteral("ifconfig")).isEmpty());
        const Seen ifconfig = moved.seen(QStringLiteral("ifconfig")).at(0);
        QCOMPARE(ifconfig.password, newPassword);
        QCOMPARE(ifconfig.appliedAtArrival, 2);

        QVERIFY(QTest::qWaitFor(
            [&] {
                f.manager->serverDiscovered(moved.discovered());
                return f.context.currentPage() == Constants::SummaryPage;
            },
            5000));
        QCOMPARE(namesOf(rowsOf(f.manager->successfulResultsModel())),
                 QStringList({QStringLiteral("password"), QStringLiteral("port"), QStringLiteral("gateway")}));
        QVERIFY(rowsOf(f.manager->failedResultsModel()).isEmpty());
        QCOMPARE(moved.interfaces.at(0)[QStringLiteral("gateway")].toString(), QStringLiteral("10.1.0.254"));
        const QVector<Seen> checks = moved.seen(QStringLiteral("iflist"));
        QVERIFY(!checks.isEmpty());
        QCOMPARE(checks.last().password, newPassword);
    }

    void failuresNeverCountAsApplied()
    {
        Fixture f;
        SimServer &vanishing = f.addServer(QStringLiteral("vanishing"));
        SimServer &refusing = f.addServer(QStringLiteral("refusing"));
        SimServer &fine = f.addServer(QStringLiteral("fine"));
        QVERIFY(f.selectAll());
        vanishing.override = [](const QString &command, const ReceivedRequest &) -> std::optional<FakeReply> {
            if (command == QLatin1String("configure")) {
                FakeReply reply;
                reply.drop = true;
                return reply;
            }
            return std::nullopt;
        };
        refusing.override = [](const QString &command, const ReceivedRequest &) -> std::optional<FakeReply> {
            if (command == QLatin1String("configure"))
                return FakeReply::json(QByteArrayLiteral("{\"error\":\"4\",\"errorString\":\"Name is locked\"}"));
            return std::nullopt;
        };
        f.manager->addSystemChange(QStringLiteral("x"));
        f.manager->applyChanges();
        QVERIFY(f.waitForPage(Constants::SummaryPage, 15000));
        QCOMPARE(f.manager->appliedChangesCount(), 3);
        QCOMPARE(namesOf(rowsFor(f.manager->successfulResultsModel(), fine)), QStringList({QStringLiteral("system name")}));
        const QVector<Row> refused = rowsFor(f.manager->failedResultsModel(), refusing);
        QCOMPARE(refused.size(), 1);
        QCOMPARE(refused.at(0).reason, QStringLiteral("Name is locked"));
        const QVector<Row> lost = rowsFor(f.manager->failedResultsModel(), vanishing);
        QCOMPARE(lost.size(), 1);
        QVERIFY(!lost.at(0).reason.isEmpty());
        QCOMPARE(f.record(vanishing)->baseInfo().systemName, QStringLiteral("lab"));
        QCOMPARE(f.record(refusing)->baseInfo().systemName, QStringLiteral("lab"));
    }

    // What front ends read by id: every row known when the run starts (with
    // the value before), answered as the requests are, each failure with a
    // code that does not hang on its text; the run's start and end as events.
    void outcomesByServerId()
    {
        Fixture f;
        SimServer &first = f.addServer(QStringLiteral("one"));
        SimServer &second = f.addServer(QStringLiteral("two"));
        QVERIFY(f.selectAll());
        second.override = [](const QString &command, const ReceivedRequest &request) -> std::optional<FakeReply> {
            if (command == QLatin1String("configure") && request.query().contains(QLatin1String("port=")))
                return FakeReply::json(QByteArrayLiteral("{\"error\":\"1\",\"errorString\":\"Port is in use\"}"));
            return std::nullopt;
        };
        QSignalSpy started(f.manager.get(), &ChangesManager::runStarted);
        QSignalSpy finished(f.manager.get(), &ChangesManager::runFinished);
        QVector<ChangeOutcome> atStart;
        connect(f.manager.get(), &ChangesManager::runStarted, this, [&] { atStart = f.manager->outcomes(); });
        bool summaryShownFirst = false;
        connect(f.manager.get(), &ChangesManager::runFinished, this,
                [&] { summaryShownFirst = f.context.currentPage() == Constants::SummaryPage; });

        f.manager->addSystemChange(QStringLiteral("renamed"));
        f.manager->addPortChange(7020);
        f.manager->applyChanges();
        QVERIFY(f.waitForPage(Constants::SummaryPage));
        QCOMPARE(started.count(), 1);
        QCOMPARE(finished.count(), 1);
        QVERIFY(summaryShownFirst);
        QCOMPARE(atStart.size(), 4);
        QVERIFY(std::all_of(atStart.cbegin(), atStart.cend(),
                            [](const ChangeOutcome &row) { return row.result == ChangeOutcome::Result::Pending; }));

        const QVector<ChangeOutcome> rows = f.manager->outcomes();
        QCOMPARE(rows.size(), 4);
        const QVector<QPair<const SimServer *, ChangeSetting>> order{{&first, ChangeSetting::SystemName},
                                                                     {&second, ChangeSetting::SystemName},
                                                                     {&first, ChangeSetting::Port},
                                                                     {&second, ChangeSetting::Port}};
        for (int i = 0; i < rows.size(); ++i) {
            const ChangeOutcome &row = rows.at(i);
            QCOMPARE(row.serverId, order.at(i).first->base.id);
            QCOMPARE(row.setting, order.at(i).second);
            const bool name = row.setting == ChangeSetting::SystemName;
            QCOMPARE(row.value, name ? QStringLiteral("renamed") : QStringLiteral("7020"));
            QCOMPARE(row.oldValue.value_or(QString()),
                     name ? QStringLiteral("lab") : QString::number(order.at(i).first->base.port));
            const bool refused = i == 3;
            QCOMPARE(row.result, refused ? ChangeOutcome::Result::Failed : ChangeOutcome::Result::Ok);
            QCOMPARE(row.reason, refused ? ChangeReason::Refused : ChangeReason::None);
            QCOMPARE(row.reasonText, refused ? QStringLiteral("Port is in use") : QString());
        }
    }

    // A time limit ends the run at once: what is under way fails as
    // unanswered, what was not sent is not sent, and no late answer counts.
    void anAbandonedRunEndsAtOnce()
    {
        Fixture f;
        SimServer &slow = f.addServer(QStringLiteral("slow"));
        SimServer &next = f.addServer(QStringLiteral("next"));
        QVERIFY(f.selectAll());
        slow.override = [](const QString &command, const ReceivedRequest &) -> std::optional<FakeReply> {
            if (command != QLatin1String("configure"))
                return std::nullopt;
            FakeReply reply = FakeReply::json(QByteArrayLiteral("{\"error\":\"0\"}"));
            reply.delayMs = 800;
            return reply;
        };
        QSignalSpy finished(f.manager.get(), &ChangesManager::runFinished);
        f.manager->addSystemChange(QStringLiteral("renamed"));
        f.manager->applyChanges();
        QTRY_COMPARE(slow.seen(QStringLiteral("configure")).size(), 1);
        f.manager->abandonRun();
        QCOMPARE(finished.count(), 1);
        QCOMPARE(f.context.currentPage(), int(Constants::SummaryPage));
        QCOMPARE(f.manager->appliedChangesCount(), f.manager->totalChangesCount());

        const QVector<ChangeOutcome> rows = f.manager->outcomes();
        QCOMPARE(rows.size(), 2);
        QCOMPARE(rows.at(0).serverId, slow.base.id);
        QCOMPARE(rows.at(0).result, ChangeOutcome::Result::Failed);
        QCOMPARE(rows.at(0).reason, ChangeReason::TimeLimit);
        QCOMPARE(rows.at(1).serverId, next.base.id);
        QCOMPARE(rows.at(1).result, ChangeOutcome::Result::NotSent);
        QCOMPARE(rows.at(1).reason, ChangeReason::TimeLimit);
        QCOMPARE(rowsOf(f.manager->failedResultsModel()).size(), 2);

        // The answer that comes after the end changes nothing.
        QTest::qWait(1200);
        QCOMPARE(finished.count(), 1);
        QCOMPARE(f.manager->outcomes().at(0).result, ChangeOutcome::Result::Failed);
        QVERIFY(next.seen(QStringLiteral("configure")).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestChangesManager)
#include "tst_changes_manager.moc"
