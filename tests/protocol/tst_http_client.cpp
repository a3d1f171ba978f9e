#include "protocol/http_authenticator.h"
#include "protocol/http_client.h"

#include "compressed.h"
#include "fake_http_server.h"

#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <algorithm>
#include <memory>
#include <vector>

using namespace rtu;
using rtu::test::FakeHttpServer;
using rtu::test::FakeReply;
using rtu::test::ReceivedRequest;

Q_DECLARE_METATYPE(rtu::HttpClient::Kind)

namespace {

// Everything the callbacks of one request saw.
struct Outcome
{
    int successes = 0;
    int failures = 0;
    QByteArray body;
    QString reason;
    int status = -1;

    int calls() const { return successes + failures; }
};
using OutcomePtr = std::shared_ptr<Outcome>;

} // namespace

Q_DECLARE_METATYPE(FakeReply)

namespace {

HttpClient::OnSuccessReply onSuccess(const OutcomePtr &outcome)
{
    return [outcome](const QByteArray &body) {
        ++outcome->successes;
        outcome->body = body;
    };
}

HttpClient::OnErrorReply onFailure(const OutcomePtr &outcome)
{
    return [outcome](const QString &reason, int status) {
        ++outcome->failures;
        outcome->reason = reason;
        outcome->status = status;
    };
}

OutcomePtr get(HttpClient &client, const QUrl &url, qint64 timeoutMs = 0,
               HttpClient::Kind kind = HttpClient::Kind::Change)
{
    auto outcome = std::make_shared<Outcome>();
    client.sendGet(url, onSuccess(outcome), onFailure(outcome), timeoutMs, kind);
    return outcome;
}

OutcomePtr read(HttpClient &client, const QUrl &url, qint64 timeoutMs = 0)
{
    return get(client, url, timeoutMs, HttpClient::Kind::Read);
}

QUrl withCredentials(QUrl url, const QString &password)
{
    url.setUserName(QStringLiteral("admin"));
    url.setPassword(password, QUrl::DecodedMode);
    return url;
}

QByteArrayList headerNames(const ReceivedRequest &request)
{
    QByteArrayList names;
    for (const auto &header : request.headers)
        names.append(header.first);
    return names;
}

// Connections to these ports as the system sees them on the client's side,
// where a close takes effect at once (the server notices later): established
// or connecting, and with closedByPeer also those only the server has closed.
int clientConnectionsTo(const QSet<quint16> &ports, bool closedByPeer = false)
{
    QFile table(QStringLiteral("/proc/net/tcp"));
    if (!table.open(QIODevice::ReadOnly))
        return -1;
    int count = 0;
    const QList<QByteArray> lines = table.readAll().split('\n');
    for (int i = 1; i < lines.size(); ++i) {
        const QList<QByteArray> fields = lines.at(i).simplified().split(' ');
        if (fields.size() < 4)
            continue;
        const quint16 remotePort = fields.at(2).split(':').value(1).toUShort(nullptr, 16);
        const QByteArray state = fields.at(3); // 01 established, 02 connecting, 08 close wait
        if (ports.contains(remotePort) && (state == "01" || state == "02" || (closedByPeer && state == "08")))
            ++count;
    }
    return count;
}

// Lets the event loop run for a while, to see that nothing else arrives.
void settle(int ms)
{
    QTest::qWait(ms);
}

} // namespace

class TestHttpClient : public QObject
{
    Q_OBJECT

private slots:
    // What servers asked for is remembered for the process; each case
    // starts from a memory as fresh as a new process's.
    void init() { HttpAuthenticator::shared().clear(); }

    // 2xx is success with the body untouched; anything else fails with the
    // server's own phrase, or an empty error text when it sent none.
    void outcomeByStatus_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("phrase");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("reason"); // null: success
        QTest::newRow("200, body not JSON") << 200 << QByteArray("OK") << QByteArray("not json \0 at all", 17)
                                            << QString();
        QTest::newRow("204 without a body") << 204 << QByteArray("No Content") << QByteArray() << QString();
        QTest::newRow("299") << 299 << QByteArray() << QByteArray("{}") << QString();
        QTest::newRow("300 is not a success") << 300 << QByteArray("Multiple Choices") << QByteArray()
                                              << "Multiple Choices";
        QTest::newRow("404, the server's phrase") << 404 << QByteArray("Not Here") << QByteArray("{}") << "Not Here";
        QTest::newRow("500") << 500 << QByteArray("Internal Server Error") << QByteArray() << "Internal Server Error";
        QTest::newRow("no phrase") << 302 << QByteArray() << QByteArray() << "Network Error: ";
    }

    void outcomeByStatus()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, phrase);
        QFETCH(QByteArray, body);
        QFETCH(QString, reason);
        FakeHttpServer server;
        FakeReply reply;
        reply.status = status;
        reply.reason = phrase;
        reply.body = body;
        server.enqueue(reply);
        HttpClient client(nullptr);

        const OutcomePtr outcome = get(client, server.url(QStringLiteral("/api/gettime")));
        QTRY_COMPARE(outcome->calls(), 1);
        QCOMPARE(outcome->successes, reason.isNull() ? 1 : 0);
        if (reason.isNull()) {
            QCOMPARE(outcome->body, body);
        } else {
            QCOMPARE(outcome->reason, reason);
            QCOMPARE(outcome->status, status);
        }
        QCOMPARE(server.requests().size(), 1);
        QCOMPARE(server.requests().first().method, QByteArray("GET"));
        QCOMPARE(server.requests().first().target, QByteArray("/api/gettime"));
    }

    void refusedConnection()
    {
        QUrl url;
        {
            // A port that was just in use and is now certainly closed.
            FakeHttpServer server;
            url = server.url(QStringLiteral("/api/gettime"));
        }
        HttpClient client(nullptr);
        const OutcomePtr outcome = get(client, url);
        QCOMPARE(outcome->calls(), 0); // from the event loop, not from inside sendGet
        QTRY_COMPARE(outcome->calls(), 1);
        QCOMPARE(outcome->failures, 1);
        QCOMPARE(outcome->reason, QStringLiteral("Network Error: #1"));
        QCOMPARE(outcome->status, 0);
    }

    // On loopback the handshake is over when connect returns: the request
    // leaves inside sendGet, not after the caller's turn of the event loop.
    void requestLeavesBeforeTheNextTurn()
    {
        QTcpServer listener;
        QVERIFY(listener.listen(QHostAddress::LocalHost));
        HttpClient client(nullptr);
        const OutcomePtr outcome =
            get(client, QUrl(QStringLiteral("http://127.0.0.1:%1/api/gettime").arg(listener.serverPort())));
        // Both waits poll only the listener's side; the client's loop stays still.
        QVERIFY(listener.waitForNewConnection(5000));
        QTcpSocket *accepted = listener.nextPendingConnection();
        QVERIFY(accepted->waitForReadyRead(5000));
        QVERIFY(accepted->readAll().startsWith("GET /api/gettime HTTP/1.1\r\n"));
        QCOMPARE(outcome->calls(), 0);
    }

    // Servers are reached by address; a name is looked up first, and one
    // that does not resolve fails as "host not found".
    void hostNames_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("reason");
        QTest::newRow("localhost") << QStringLiteral("localhost") << QString();
        QTest::newRow("unknown name") << QStringLiteral("no-such-host.invalid")
                                      << QStringLiteral("Network Error: #3");
    }

    void hostNames()
    {
        QFETCH(QString, host);
        QFETCH(QString, reason);
        FakeHttpServer server;
        QUrl url = server.url(QStringLiteral("/api/gettime"));
        url.setHost(host);
        HttpClient client(nullptr);
        const OutcomePtr outcome = get(client, url);
        QTRY_COMPARE_WITH_TIMEOUT(outcome->calls(), 1, 10000);
        QCOMPARE(outcome->reason, reason);
        QCOMPARE(outcome->successes, reason.isEmpty() ? 1 : 0);
    }

    void postCarriesBodyAndContentType()
    {
        FakeHttpServer server;
        HttpClient client(nullptr);
        auto outcome = std::make_shared<Outcome>();
        const QByteArray body("[\n    {\n        \"name\": \"eth0\"\n    }\n]\n");
        client.sendPost(server.url(QStringLiteral("/api/ifconfig")), body, onSuccess(outcome), onFailure(outcome), 0);
        const OutcomePtr plain = read(client, server.url(QStringLiteral("/api/iflist")));
        QTRY_COMPARE(outcome->calls() + plain->calls(), 2);
        QCOMPARE(outcome->successes, 1);

        const auto &requests = server.requests();
        QCOMPARE(requests.size(), 2);
        const auto post = requests.at(0).method == "POST" ? requests.at(0) : requests.at(1);
        const auto plainGet = requests.at(0).method == "POST" ? requests.at(1) : requests.at(0);
        QCOMPARE(post.method, QByteArray("POST"));
        QCOMPARE(post.body, body);
        QCOMPARE(post.header("Content-Type"), QByteArray("application/json"));
        QCOMPARE(plainGet.method, QByteArray("GET"));
        QVERIFY(plainGet.header("Content-Type").isEmpty());
        QVERIFY(!plainGet.hasAuthorization);
        // Nothing else: no compression, cookie or agent a server might act on.
        QCOMPARE(headerNames(post),
                 QByteArrayList({"Host", "Content-Type", "Content-Length", "Accept-Encoding", "Connection"}));
        QCOMPARE(headerNames(plainGet), QByteArrayList({"Host", "Accept-Encoding", "Connection"}));
        QCOMPARE(plainGet.header("Host"), QStringLiteral("%1:%2").arg(server.host()).arg(server.port()).toLatin1());
        QCOMPARE(plainGet.header("Accept-Encoding"), QByteArray("identity"));
        // A change is the last request on its connection, a read is not.
        QCOMPARE(plainGet.header("Connection"), QByteArray("keep-alive"));
        QCOMPARE(post.header("Connection"), QByteArray("close"));
    }

    // Credentials travel in the URL, as UTF-8, and go out only once the
    // server has challenged: then at once with every later request, from
    // either client of the process. A refused password ends in the server's
    // 401 with its phrase.
    void basicAuthentication_data()
    {
        QTest::addColumn<QString>("accepted");
        QTest::addColumn<QString>("sent");
        QTest::addColumn<bool>("succeeds");
        QTest::newRow("right password") << "738" << "738" << true;
        QTest::newRow("password with special characters") << "p@ss:w/rd%" << "p@ss:w/rd%" << true;
        QTest::newRow("outside Latin-1") << "p€1" << "p€1" << true;
        QTest::newRow("Latin-1, not ASCII") << "ä" << "ä" << true;
        QTest::newRow("CJK") << "日本" << "日本" << true;
        QTest::newRow("wrong password") << "738" << "morvy" << false;
    }

    void basicAuthentication()
    {
        QFETCH(QString, accepted);
        QFETCH(QString, sent);
        QFETCH(bool, succeeds);
        FakeHttpServer server;
        server.requireBasicAuth({accepted});
        HttpClient client(nullptr);
        HttpClient other(nullptr);
        const QUrl url = withCredentials(server.url(QStringLiteral("/api/gettime")), sent);

        // The first request learns the scheme; the next ones, from either
        // client, show credentials at once.
        const std::vector<std::pair<HttpClient *, int>> rounds{{&client, 2}, {&client, 1}, {&other, 1}};
        for (const auto &[sender, expected] : rounds) {
            server.clearLog();
            const OutcomePtr outcome = get(*sender, url);
            QTRY_COMPARE(outcome->calls(), 1);
            settle(50);
            QCOMPARE(outcome->calls(), 1);
            QCOMPARE(outcome->successes, succeeds ? 1 : 0);
            if (!succeeds) {
                QCOMPARE(outcome->reason, QStringLiteral("Unauthorized"));
                QCOMPARE(outcome->status, 401);
            }
            const QVector<ReceivedRequest> requests = server.requests();
            QCOMPARE(requests.size(), expected);
            QCOMPARE(requests.first().hasAuthorization, expected == 1);
            QCOMPARE(requests.last().scheme, QByteArray("basic"));
            QCOMPARE(requests.last().user, QStringLiteral("admin"));
            QCOMPARE(requests.last().password, sent);
        }
    }

    // A Digest server never sees the password in the open, from either
    // client of the process; the strongest algorithm it offers is used, and
    // parallel requests, whose nonce counts it checks strictly, all pass.
    void digestServers_data()
    {
        QTest::addColumn<QByteArrayList>("offered");
        QTest::addColumn<bool>("alsoBasic");
        QTest::addColumn<QByteArray>("used");
        QTest::newRow("MD5 only") << QByteArrayList{"MD5"} << false << QByteArray("MD5");
        QTest::newRow("MD5, SHA-256 and Basic") << QByteArrayList{"MD5", "SHA-256"} << true << QByteArray("SHA-256");
    }

    void digestServers()
    {
        QFETCH(QByteArrayList, offered);
        QFETCH(bool, alsoBasic);
        QFETCH(QByteArray, used);
        FakeHttpServer server;
        server.requireDigestAuth({QStringLiteral("738")}, offered, alsoBasic);
        HttpClient logins(nullptr);
        HttpClient changes(nullptr);
        const QUrl url = withCredentials(server.url(QStringLiteral("/api/gettime")), QStringLiteral("738"));
        const OutcomePtr login = read(logins, url);
        QTRY_COMPARE(login->calls(), 1);
        QCOMPARE(login->successes, 1);
        QCOMPARE(server.requests().size(), 2);

        for (int round = 0; round < 3; ++round) {
            QVector<OutcomePtr> outcomes;
            for (int i = 0; i < 8; ++i) {
                outcomes.append(read(logins, url));
                outcomes.append(get(changes, url));
            }
            for (const OutcomePtr &outcome : qAsConst(outcomes)) {
                QTRY_COMPARE(outcome->calls(), 1);
                QVERIFY2(outcome->successes == 1, qPrintable(outcome->reason));
            }
        }
        QCOMPARE(server.countRefusals(), 0);
        for (const ReceivedRequest &request : server.authenticatedRequests()) {
            QCOMPARE(request.scheme, QByteArray("digest"));
            QVERIFY2(request.header("Authorization").contains(", algorithm=" + used), request.header("Authorization"));
        }
    }

    // Every request is judged by its own password, never by one that an
    // earlier request on the same server got accepted with.
    void credentialsAreNotReusedAcrossPasswords()
    {
        FakeHttpServer server;
        server.requireBasicAuth({QStringLiteral("morvy")});
        HttpClient client(nullptr);
        const QUrl url = server.url(QStringLiteral("/api/gettime"));

        const OutcomePtr first = get(client, withCredentials(url, QStringLiteral("738")));
        QTRY_COMPARE(first->calls(), 1);
        QCOMPARE(first->status, 401);

        const OutcomePtr second = get(client, withCredentials(url, QStringLiteral("morvy")));
        QTRY_COMPARE(second->calls(), 1);
        QCOMPARE(second->successes, 1);

        const OutcomePtr third = get(client, withCredentials(url, QStringLiteral("guess")));
        QTRY_COMPARE(third->calls(), 1);
        QCOMPARE(third->failures, 1);
        QCOMPARE(third->status, 401);

        // The password changes on the server: the old one must now fail.
        server.requireBasicAuth({QStringLiteral("new")});
        const OutcomePtr fourth = get(client, withCredentials(url, QStringLiteral("morvy")));
        QTRY_COMPARE(fourth->calls(), 1);
        QCOMPARE(fourth->status, 401);
        const OutcomePtr fifth = get(client, withCredentials(url, QStringLiteral("new")));
        QTRY_COMPARE(fifth->calls(), 1);
        QCOMPARE(fifth->successes, 1);

        // Without a password nothing cached may stand in for it.
        const OutcomePtr sixth = get(client, withCredentials(url, QString()));
        QTRY_COMPARE(sixth->calls(), 1);
        QCOMPARE(sixth->status, 401);
        QVERIFY(!server.requests().last().hasAuthorization);
        const OutcomePtr seventh = get(client, withCredentials(url, QStringLiteral("new")));
        QTRY_COMPARE(seventh->calls(), 1);
        QCOMPARE(seventh->successes, 1);
    }

    // Requests with different passwords in flight at once to one server each
    // authenticate with their own.
    void parallelRequestsKeepTheirCredentials()
    {
        FakeHttpServer server;
        server.requireBasicAuth({QStringLiteral("right")});
        HttpClient client(nullptr);
        QVector<QPair<OutcomePtr, bool>> outcomes;
        for (int i = 0; i < 6; ++i) {
            const bool right = i % 2 == 0;
            const QString path = QStringLiteral("/api/gettime/%1").arg(i);
            outcomes.append({get(client, withCredentials(server.url(path), right ? "right" : "wrong")), right});
        }
        for (const auto &outcome : outcomes) {
            QTRY_COMPARE(outcome.first->calls(), 1);
            QCOMPARE(outcome.first->successes, outcome.second ? 1 : 0);
            if (!outcome.second)
                QCOMPARE(outcome.first->status, 401);
        }
        for (const auto &request : server.authenticatedRequests()) {
            const bool right = request.path().right(1).toInt() % 2 == 0;
            QCOMPARE(request.password, right ? QStringLiteral("right") : QStringLiteral("wrong"));
        }
    }

    void credentialsAreNotReusedAcrossPorts()
    {
        FakeHttpServer accepting;
        FakeHttpServer refusing;
        accepting.requireBasicAuth({QStringLiteral("738")});
        refusing.requireBasicAuth({QStringLiteral("other")});
        HttpClient client(nullptr);

        const OutcomePtr first = get(client, withCredentials(accepting.url(QStringLiteral("/api/gettime")), "738"));
        QTRY_COMPARE(first->calls(), 1);
        QCOMPARE(first->successes, 1);
        const OutcomePtr second = get(client, withCredentials(refusing.url(QStringLiteral("/api/gettime")), "738"));
        QTRY_COMPARE(second->calls(), 1);
        QCOMPARE(second->status, 401);
        const OutcomePtr third = get(client, refusing.url(QStringLiteral("/api/gettime")));
        QTRY_COMPARE(third->calls(), 1);
        QCOMPARE(third->status, 401);
    }

    // A time-out ends the request once; whatever arrives later is ignored,
    // and a timer outliving its answer does nothing. A change that went out
    // may have been carried out however late its answer, and says so.
    void timeouts_data()
    {
        QTest::addColumn<FakeReply>("reply");
        QTest::addColumn<HttpClient::Kind>("kind");
        QTest::addColumn<qint64>("timeoutMs");
        QTest::addColumn<int>("status"); // -1: success
        QTest::addColumn<QString>("reason");
        const auto read = HttpClient::Kind::Read;
        const auto change = HttpClient::Kind::Change;
        const QString timedOut = QStringLiteral("Network Error: Request Timed Out");
        const QString mayHaveApplied = QString::fromLatin1(HttpClient::kTimedOutChange);
        FakeReply silent;
        silent.silent = true;
        QTest::newRow("read, server never answers") << silent << read << qint64(150) << 0 << timedOut;
        QTest::newRow("change, server never answers") << silent << change << qint64(150) << 0 << mayHaveApplied;
        FakeReply stalled = FakeReply::json(QByteArray(2000, 'x'));
        stalled.stall = true;
        QTest::newRow("read, body stalls") << stalled << read << qint64(150) << 200 << timedOut;
        QTest::newRow("change, body stalls") << stalled << change << qint64(150) << 200 << mayHaveApplied;
        FakeReply late = FakeReply::json("{}");
        late.delayMs = 400;
        QTest::newRow("change answered after the time-out") << late << change << qint64(150) << 0 << mayHaveApplied;
        QTest::newRow("negative: no time-out") << late << change << qint64(-1) << -1 << QString();
        QTest::newRow("time-out after the answer") << FakeReply::json("{}") << change << qint64(100) << -1 << QString();
    }

    void timeouts()
    {
        QFETCH(FakeReply, reply);
        QFETCH(HttpClient::Kind, kind);
        QFETCH(qint64, timeoutMs);
        QFETCH(int, status);
        QFETCH(QString, reason);
        FakeHttpServer server;
        server.enqueue(reply);
        HttpClient client(nullptr);

        QElapsedTimer clock;
        clock.start();
        const OutcomePtr outcome = get(client, server.url(QStringLiteral("/api/gettime")), timeoutMs, kind);
        QTRY_COMPARE(outcome->calls(), 1);
        if (status < 0) {
            QCOMPARE(outcome->successes, 1);
            QCOMPARE(outcome->body, reply.body);
        } else {
            QVERIFY(clock.elapsed() >= timeoutMs - 10);
            QCOMPARE(outcome->reason, reason);
            QCOMPARE(outcome->status, status);
        }
        settle(500);
        QCOMPARE(outcome->calls(), 1);
        // The client still serves after its timers fired.
        const OutcomePtr next = get(client, server.url(QStringLiteral("/api/iflist")), 100);
        QTRY_COMPARE(next->calls(), 1);
        QCOMPARE(next->successes, 1);
    }

    // The one test that waits for the real default.
    void zeroMeansTheDefaultTimeout()
    {
        FakeHttpServer server;
        FakeReply silent;
        silent.silent = true;
        server.setDefaultReply(silent);
        HttpClient client(nullptr);

        QElapsedTimer clock;
        clock.start();
        const OutcomePtr outcome = read(client, server.url(QStringLiteral("/api/gettime")), 0);
        QTRY_COMPARE_WITH_TIMEOUT(outcome->calls(), 1, int(HttpClient::kDefaultTimeoutMs) + 3000);
        QVERIFY2(clock.elapsed() >= HttpClient::kDefaultTimeoutMs - 50, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(HttpClient::kDefaultTimeoutMs, 10000);
        QCOMPARE(outcome->reason, QStringLiteral("Network Error: Request Timed Out"));
        QCOMPARE(outcome->status, 0);
    }

    // A broken or hostile server must not fill the tool's memory.
    void oversizedReplyIsAborted_data()
    {
        QTest::addColumn<FakeReply>("reply");
        QTest::addColumn<bool>("accepted");
        const QByteArray limit(int(HttpClient::kMaxReplyBytes), 'a');
        FakeReply announced = FakeReply::json(limit + "b");
        QTest::newRow("announced by Content-Length") << announced << false;
        FakeReply unannounced = announced;
        unannounced.noLength = true;
        QTest::newRow("body ends with the connection") << unannounced << false;
        FakeReply huge = FakeReply::json(QByteArray(3 * int(HttpClient::kMaxReplyBytes), 'c'));
        huge.noLength = true;
        QTest::newRow("far larger, unannounced") << huge << false;
        QTest::newRow("exactly the limit") << FakeReply::json(limit) << true;
    }

    void oversizedReplyIsAborted()
    {
        QFETCH(FakeReply, reply);
        QFETCH(bool, accepted);
        FakeHttpServer server;
        server.enqueue(reply);
        HttpClient client(nullptr);

        const OutcomePtr outcome = get(client, server.url(QStringLiteral("/api/iflist")), 1000);
        QTRY_COMPARE_WITH_TIMEOUT(outcome->calls(), 1, 10000);
        if (accepted) {
            QCOMPARE(outcome->successes, 1);
            QCOMPARE(outcome->body.size(), reply.body.size());
        } else {
            QCOMPARE(outcome->failures, 1);
            QCOMPARE(outcome->reason, QStringLiteral("Network Error: Reply too large"));
            QCOMPARE(outcome->status, 200);
        }
        // Neither the time-out nor the rest of the body adds a report.
        settle(1200);
        QCOMPARE(outcome->calls(), 1);
    }

    void destroyingTheClientDropsPendingCallbacks()
    {
        FakeHttpServer server;
        FakeReply silent;
        silent.silent = true;
        FakeReply late = FakeReply::json("{}");
        late.delayMs = 100;
        server.enqueue(silent);
        server.enqueue(late);
        auto *client = new HttpClient(nullptr);
        const OutcomePtr waiting = get(*client, server.url(QStringLiteral("/a")), 50);
        const OutcomePtr answered = get(*client, server.url(QStringLiteral("/b")), 0);
        QTRY_COMPARE(server.requests().size(), 2);
        delete client;
        settle(300);
        QCOMPARE(waiting->calls(), 0);
        QCOMPARE(answered->calls(), 0);
    }

    // The owner of a client may go away in reaction to an answer or to a
    // time-out.
    void clientDestroyedInsideItsCallback_data()
    {
        QTest::addColumn<bool>("answered");
        QTest::newRow("in the success callback") << true;
        QTest::newRow("in the failure callback of a time-out") << false;
    }

    void clientDestroyedInsideItsCallback()
    {
        QFETCH(bool, answered);
        FakeHttpServer server;
        server.setHandler([](const ReceivedRequest &request) {
            FakeReply reply = FakeReply::json("{}");
            reply.silent = request.path() != QLatin1String("/answered");
            return reply;
        });
        auto *client = new HttpClient(nullptr);
        QPointer<HttpClient> guard(client);
        const OutcomePtr other = get(*client, server.url(QStringLiteral("/silent")), 300);
        QTRY_COMPARE(server.requests().size(), 1);
        auto outcome = std::make_shared<Outcome>();
        client->sendGet(
            server.url(answered ? QStringLiteral("/answered") : QStringLiteral("/unanswered")),
            [outcome, client](const QByteArray &) {
                ++outcome->successes;
                delete client;
            },
            [outcome, client](const QString &, int) {
                ++outcome->failures;
                delete client;
            },
            100);
        QTRY_COMPARE(outcome->calls(), 1);
        QCOMPARE(outcome->successes, answered ? 1 : 0);
        QVERIFY(guard.isNull());
        settle(400);
        QCOMPARE(outcome->calls(), 1);
        QCOMPARE(other->calls(), 0);
    }

    // Requests one after another share one connection, until the server
    // says it closes it or it has been idle for a while.
    void keepsConnectionsAliveThenCloses()
    {
        FakeHttpServer server;
        FakeReply closing = FakeReply::json("{}");
        closing.closeAfter = true;
        server.setHandler([closing](const ReceivedRequest &request) {
            return request.path() == QLatin1String("/closing") ? closing : FakeReply::json("{}");
        });
        HttpClient::Limits limits;
        limits.idleCloseMs = 300;
        HttpClient client(nullptr, limits);
        const QStringList paths{"/api/gettime", "/api/iflist", "/closing", "/api/gettime", "/api/iflist"};
        for (const QString &path : paths) {
            const OutcomePtr outcome = read(client, server.url(path));
            QTRY_COMPARE(outcome->calls(), 1);
            QCOMPARE(outcome->successes, 1);
            // The connection the server gave up is closed with its answer.
            if (path == QLatin1String("/closing"))
                QCOMPARE(clientConnectionsTo({server.port()}, true), 0);
        }
        QCOMPARE(server.connectionCount(), 2);
        QCOMPARE(server.openConnections(), 1);
        QTRY_COMPARE(server.openConnections(), 0);

        const OutcomePtr later = read(client, server.url(QStringLiteral("/api/iflist")));
        QTRY_COMPARE(later->calls(), 1);
        QCOMPARE(later->successes, 1);
        QCOMPARE(server.connectionCount(), 3);
    }

    // A server's Keep-Alive time-out is honoured: a connection it is about
    // to close, or closes at once, is not used again.
    void honoursKeepAliveTimeout_data()
    {
        QTest::addColumn<QByteArray>("keepAlive"); // the header's value; empty: none
        QTest::addColumn<int>("pauseMs");
        QTest::addColumn<bool>("reused");
        QTest::newRow("timeout=0") << QByteArray("timeout=0") << 0 << false;
        QTest::newRow("timeout=1, asked again at once") << QByteArray("timeout=1") << 0 << true;
        QTest::newRow("timeout=1, asked again after 900 ms") << QByteArray("timeout=1") << 900 << false;
        QTest::newRow("timeout=5, max=99, after 900 ms") << QByteArray("timeout=5, max=99") << 900 << true;
        QTest::newRow("no time-out named, after 900 ms") << QByteArray() << 900 << true;
    }

    void honoursKeepAliveTimeout()
    {
        QFETCH(QByteArray, keepAlive);
        QFETCH(int, pauseMs);
        QFETCH(bool, reused);
        FakeHttpServer server;
        FakeReply reply = FakeReply::json("{}");
        if (!keepAlive.isEmpty())
            reply.headers.append(qMakePair(QByteArray("Keep-Alive"), keepAlive));
        server.setDefaultReply(reply);
        HttpClient::Limits limits;
        limits.idleCloseMs = 3000;
        HttpClient client(nullptr, limits);
        for (int i = 0; i < 2; ++i) {
            const OutcomePtr outcome = read(client, server.url(QStringLiteral("/api/gettime")));
            QTRY_COMPARE(outcome->calls(), 1);
            QCOMPARE(outcome->successes, 1);
            settle(pauseMs);
        }
        QCOMPARE(server.connectionCount(), reused ? 1 : 2);
    }

    // A change goes out on a connection that carried no answer before, its
    // own, which closes with its answer; reads keep sharing theirs.
    void changesHaveConnectionsOfTheirOwn()
    {
        FakeHttpServer server;
        HttpClient client(nullptr);
        const QUrl url = server.url(QStringLiteral("/api/configure"));
        const QVector<QPair<HttpClient::Kind, int>> steps{{HttpClient::Kind::Read, 1},
                                                          {HttpClient::Kind::Read, 1},
                                                          {HttpClient::Kind::Change, 2},
                                                          {HttpClient::Kind::Change, 3},
                                                          {HttpClient::Kind::Read, 3}};
        for (const auto &step : steps) {
            const OutcomePtr outcome = get(client, url, 0, step.first);
            QTRY_COMPARE(outcome->calls(), 1);
            QCOMPARE(outcome->successes, 1);
            QCOMPARE(server.connectionCount(), step.second);
            if (step.first == HttpClient::Kind::Change)
                QCOMPARE(clientConnectionsTo({server.port()}), 1); // the read's, kept alive
        }
        // Opened ahead, a connection has carried nothing: a change takes it.
        client.preconnect(server.host(), server.port());
        QTRY_COMPARE(server.connectionCount(), 4);
        const OutcomePtr ahead = get(client, url);
        QTRY_COMPARE(ahead->calls(), 1);
        QCOMPARE(server.connectionCount(), 4);
    }

    // A connection opened ahead carries the next request to its server; one
    // is opened only to a server without an unused one, and closes unused
    // like any idle connection.
    void opensAConnectionAhead()
    {
        FakeHttpServer server;
        HttpClient::Limits limits;
        limits.idleCloseMs = 100;
        limits.openedAheadHoldMs = 600;
        HttpClient client(nullptr, limits);
        client.preconnect(server.host(), server.port());
        client.preconnect(server.host(), server.port());
        QTRY_COMPARE(server.connectionCount(), 1);
        QVERIFY(server.requests().isEmpty());

        const OutcomePtr outcome = read(client, server.url(QStringLiteral("/api/gettime")));
        QTRY_COMPARE(outcome->calls(), 1);
        QCOMPARE(outcome->successes, 1);
        QCOMPARE(server.connectionCount(), 1);
        // The one it carried has served: the next change needs another.
        client.preconnect(server.host(), server.port());
        QTRY_COMPARE(server.connectionCount(), 2);

        // Unused, it outlasts an idle connection, then closes too.
        QElapsedTimer held;
        held.start();
        QTRY_COMPARE(server.openConnections(), 1);
        QTRY_COMPARE_WITH_TIMEOUT(server.openConnections(), 0, 2000);
        QVERIFY2(held.elapsed() >= 400, qPrintable(QString::number(held.elapsed())));
        QCOMPARE(server.connectionCount(), 2);
        QCOMPARE(server.requests().size(), 1);
    }

    // Parallel requests share a few connections per server and no more than
    // the overall limit; the rest wait their turn.
    void boundsConnections()
    {
        HttpClient::Limits limits;
        limits.connectionsPerServer = 2;
        limits.openConnections = 3;
        HttpClient client(nullptr, limits);
        std::vector<std::unique_ptr<FakeHttpServer>> servers;
        QSet<quint16> ports;
        int mostOpen = 0;
        int mostToOne = 0;
        for (int i = 0; i < 3; ++i) {
            servers.push_back(std::make_unique<FakeHttpServer>());
            ports.insert(servers.back()->port());
            FakeReply slow = FakeReply::json("{}");
            slow.delayMs = 30;
            servers.back()->setDefaultReply(slow);
        }
        for (const auto &server : servers) {
            const quint16 port = server->port();
            connect(server.get(), &FakeHttpServer::requestReceived, this, [&, port]() {
                mostOpen = std::max(mostOpen, clientConnectionsTo(ports));
                mostToOne = std::max(mostToOne, clientConnectionsTo({port}));
            });
        }
        QVector<OutcomePtr> outcomes;
        for (int i = 0; i < 12; ++i)
            outcomes.append(get(client, servers.at(i / 4)->url(QStringLiteral("/api/gettime/%1").arg(i))));
        for (const OutcomePtr &outcome : outcomes) {
            QTRY_COMPARE(outcome->calls(), 1);
            QCOMPARE(outcome->successes, 1);
        }
        QCOMPARE(mostOpen, 3);
        QCOMPARE(mostToOne, 2);
    }

    // A request waiting for a connection still times out from the moment it
    // was sent, and never reaches the server.
    void timeOutRunsWhileWaiting()
    {
        HttpClient::Limits limits;
        limits.openConnections = 1;
        HttpClient client(nullptr, limits);
        FakeHttpServer busy;
        FakeReply silent;
        silent.silent = true;
        busy.setDefaultReply(silent);
        FakeHttpServer other;

        const OutcomePtr hog = get(client, busy.url(QStringLiteral("/api/gettime")), 1000);
        const OutcomePtr waiting = get(client, other.url(QStringLiteral("/api/gettime")), 150);
        QTRY_COMPARE(waiting->calls(), 1);
        QCOMPARE(waiting->reason, QStringLiteral("Network Error: Request Timed Out"));
        QCOMPARE(waiting->status, 0);
        QCOMPARE(hog->calls(), 0);
        QCOMPARE(other.requests().size(), 0);

        QTRY_COMPARE(hog->calls(), 1);
        const OutcomePtr next = get(client, other.url(QStringLiteral("/api/iflist")));
        QTRY_COMPARE(next->calls(), 1);
        QCOMPARE(next->successes, 1);
    }

    // A server may close a kept-alive connection, or one opened ahead of its
    // request, just as the request goes out: a read goes once more on a
    // fresh connection; a change never goes twice, whatever its method, and
    // is reported as possibly carried out.
    void closedKeptAliveConnection_data()
    {
        QTest::addColumn<QString>("connection"); // reused, ahead or fresh
        QTest::addColumn<bool>("post");
        QTest::addColumn<HttpClient::Kind>("kind");
        QTest::addColumn<QString>("reason"); // empty: succeeds
        QTest::addColumn<int>("received");   // requests the server saw
        const QString unanswered = QString::fromLatin1(HttpClient::kUnansweredChange);
        const auto read = HttpClient::Kind::Read;
        const auto change = HttpClient::Kind::Change;
        QTest::newRow("read on a reused connection") << "reused" << false << read << QString() << 3;
        // A change never takes the kept-alive connection: it is dropped on its own.
        QTest::newRow("GET change after a read") << "reused" << false << change << unanswered << 2;
        QTest::newRow("POST change after a read") << "reused" << true << change << unanswered << 2;
        QTest::newRow("read on a connection opened ahead") << "ahead" << false << read << QString() << 2;
        QTest::newRow("change on a connection opened ahead") << "ahead" << false << change << unanswered << 1;
        QTest::newRow("read on a fresh connection") << "fresh" << false << read << "Network Error: #2" << 1;
        QTest::newRow("change on a fresh connection") << "fresh" << false << change << unanswered << 1;
    }

    void closedKeptAliveConnection()
    {
        QFETCH(QString, connection);
        QFETCH(bool, post);
        QFETCH(HttpClient::Kind, kind);
        QFETCH(QString, reason);
        QFETCH(int, received);
        FakeHttpServer server;
        HttpClient client(nullptr);
        if (connection == QLatin1String("reused")) {
            const OutcomePtr first = read(client, server.url(QStringLiteral("/api/gettime")));
            QTRY_COMPARE(first->calls(), 1);
        } else if (connection == QLatin1String("ahead")) {
            client.preconnect(server.host(), server.port());
            QTRY_COMPARE(server.openConnections(), 1);
        }
        FakeReply drop;
        drop.drop = true;
        server.enqueue(drop);
        auto outcome = std::make_shared<Outcome>();
        if (post)
            client.sendPost(server.url(QStringLiteral("/api/ifconfig")), "[]", onSuccess(outcome), onFailure(outcome), 0,
                            kind);
        else
            client.sendGet(server.url(QStringLiteral("/api/iflist")), onSuccess(outcome), onFailure(outcome), 0, kind);
        QTRY_COMPARE(outcome->calls(), 1);
        QCOMPARE(outcome->successes, reason.isEmpty() ? 1 : 0);
        if (!reason.isEmpty()) {
            QCOMPARE(outcome->reason, reason);
            QCOMPARE(outcome->status, 0);
        }
        settle(100);
        QCOMPARE(server.requests().size(), received);
    }

    // A hostile peer costs one failed request: its reply is cut off as soon
    // as it passes a limit and its connection closed, while a good server is
    // served in parallel.
    void hostileReplies_data()
    {
        QTest::addColumn<FakeReply>("reply");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<int>("status");
        const QString protocolFailure = QStringLiteral("Network Error: #399");
        FakeReply challenge = FakeReply::unauthorized();
        challenge.endless = FakeReply::Endless::ChunkedBody;
        QTest::newRow("401 with an endless chunked body")
            << challenge << QStringLiteral("Network Error: Reply too large") << 401;
        FakeReply redirect;
        redirect.status = 302;
        redirect.reason = "Found";
        redirect.endless = FakeReply::Endless::ChunkedBody;
        QTest::newRow("302 with an endless chunked body")
            << redirect << QStringLiteral("Network Error: Reply too large") << 302;
        FakeReply headers;
        headers.endless = FakeReply::Endless::Headers;
        QTest::newRow("endless headers") << headers << protocolFailure << 0;
        FakeReply headerLine;
        headerLine.endless = FakeReply::Endless::HeaderLine;
        QTest::newRow("endless header line") << headerLine << protocolFailure << 0;
        FakeReply statusLine;
        statusLine.endless = FakeReply::Endless::StatusLine;
        QTest::newRow("endless status line") << statusLine << protocolFailure << 0;
        FakeReply garbage;
        garbage.raw = "\x16\x03\x01\x02 not HTTP";
        QTest::newRow("not HTTP") << garbage << protocolFailure << 0;
        FakeReply coded = FakeReply::json("x\x9c");
        coded.headers.append(qMakePair(QByteArray("Content-Encoding"), QByteArray("deflate")));
        QTest::newRow("a content coding cut short") << coded << protocolFailure << 200;
        FakeReply bomb = FakeReply::json(test::gzipped(QByteArray(16 * int(HttpClient::kMaxReplyBytes), '\0')));
        bomb.headers.append(qMakePair(QByteArray("Content-Encoding"), QByteArray("gzip")));
        QTest::newRow("gzip of 64 MiB of zeros") << bomb << QStringLiteral("Network Error: Reply too large") << 200;
    }

    void hostileReplies()
    {
        QFETCH(FakeReply, reply);
        QFETCH(QString, reason);
        QFETCH(int, status);
        FakeHttpServer hostile;
        hostile.setDefaultReply(reply);
        FakeHttpServer good;
        HttpClient client(nullptr);

        const OutcomePtr attacked =
            get(client, withCredentials(hostile.url(QStringLiteral("/api/gettime")), QStringLiteral("738")), 5000);
        QVector<OutcomePtr> served;
        for (int i = 0; i < 20; ++i)
            served.append(get(client, good.url(QStringLiteral("/api/gettime/%1").arg(i)), 5000));
        QTRY_COMPARE(attacked->calls(), 1);
        QCOMPARE(attacked->reason, reason);
        QCOMPARE(attacked->status, status);
        for (const OutcomePtr &outcome : served) {
            QTRY_COMPARE(outcome->calls(), 1);
            QCOMPARE(outcome->successes, 1);
        }
        QTRY_COMPARE(hostile.openConnections(), 0);
        QCOMPARE(hostile.requests().size(), 1);
    }

    // Empty callbacks swallow the outcome; a callback may send again.
    void callbacksMayBeEmptyOrSendAgain()
    {
        FakeHttpServer server;
        server.setHandler([](const ReceivedRequest &request) {
            return request.path() == QLatin1String("/quiet") ? FakeReply::json("{}", 500, "Broken")
                                                             : FakeReply::json("{}");
        });
        HttpClient client(nullptr);
        client.sendGet(server.url(QStringLiteral("/quiet")), {}, {}, 0);
        client.sendGet(server.url(QStringLiteral("/quiet")), {}, {}, 0);

        auto outcome = std::make_shared<Outcome>();
        client.sendGet(
            server.url(QStringLiteral("/first")),
            [&client, &server, outcome](const QByteArray &) {
                client.sendGet(server.url(QStringLiteral("/second")), onSuccess(outcome), onFailure(outcome), 0);
            },
            onFailure(outcome), 0);
        QTRY_COMPARE(outcome->calls(), 1);
        QCOMPARE(outcome->successes, 1);
        QCOMPARE(server.requests().last().target, QByteArray("/second"));
        QCOMPARE(server.requests().size(), 4);
    }
};

QTEST_GUILESS_MAIN(TestHttpClient)
#include "tst_http_client.moc"
