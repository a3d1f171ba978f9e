#include "protocol/http_client.h"

#include "fake_http_server.h"

#include <QPointer>
#include <QtTest>

#include <memory>

using namespace rtu;
using rtu::test::FakeHttpServer;
using rtu::test::FakeReply;

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

OutcomePtr get(HttpClient &client, const QUrl &url, qint64 timeoutMs = 0)
{
    auto outcome = std::make_shared<Outcome>();
    client.sendGet(url, onSuccess(outcome), onFailure(outcome), timeoutMs);
    return outcome;
}

QUrl withCredentials(QUrl url, const QString &password)
{
    url.setUserName(QStringLiteral("admin"));
    url.setPassword(password, QUrl::DecodedMode);
    return url;
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
    void successForEvery2xx_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::newRow("200 with a body that is not JSON") << 200 << QByteArray("not json \0 at all", 17);
        QTest::newRow("204 without a body") << 204 << QByteArray();
        QTest::newRow("299") << 299 << QByteArray("{\"error\":\"0\"}");
    }

    void successForEvery2xx()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        FakeHttpServer server;
        FakeReply reply;
        reply.status = status;
        reply.body = body;
        server.enqueue(reply);
        HttpClient client(nullptr);

        const OutcomePtr outcome = get(client, server.url(QStringLiteral("/api/gettime")));
        QTRY_COMPARE(outcome->calls(), 1);
        QCOMPARE(outcome->successes, 1);
        QCOMPARE(outcome->body, body);
        QCOMPARE(server.requests().size(), 1);
        QCOMPARE(server.requests().first().method, QByteArray("GET"));
        QCOMPARE(server.requests().first().target, QByteArray("/api/gettime"));
    }

    void failureReasons_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("phrase");
        QTest::addColumn<QString>("reason");
        QTest::newRow("300 is not a success") << 300 << QByteArray("Multiple Choices") << "Multiple Choices";
        QTest::newRow("404 with the server's phrase") << 404 << QByteArray("Not Here") << "Not Here";
        QTest::newRow("500 with the server's phrase")
            << 500 << QByteArray("Internal Server Error") << "Internal Server Error";
        QTest::newRow("no phrase: empty error text") << 302 << QByteArray() << "Network Error: ";
    }

    void failureReasons()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, phrase);
        QFETCH(QString, reason);
        FakeHttpServer server;
        FakeReply reply;
        reply.status = status;
        reply.reason = phrase;
        reply.body = "{}";
        server.enqueue(reply);
        HttpClient client(nullptr);

        const OutcomePtr outcome = get(client, server.url(QStringLiteral("/x")));
        QTRY_COMPARE(outcome->calls(), 1);
        QCOMPARE(outcome->failures, 1);
        QCOMPARE(outcome->reason, reason);
        QCOMPARE(outcome->status, status);
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
        QTRY_COMPARE(outcome->calls(), 1);
        QCOMPARE(outcome->failures, 1);
        QCOMPARE(outcome->reason, QStringLiteral("Network Error: #1"));
        QCOMPARE(outcome->status, 0);
    }

    void postCarriesBodyAndContentType()
    {
        FakeHttpServer server;
        HttpClient client(nullptr);
        auto outcome = std::make_shared<Outcome>();
        const QByteArray body("[\n    {\n        \"name\": \"eth0\"\n    }\n]\n");
        client.sendPost(server.url(QStringLiteral("/api/ifconfig")), body, onSuccess(outcome), onFailure(outcome), 0);
        const OutcomePtr plain = get(client, server.url(QStringLiteral("/api/iflist")));
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
    }

    // Credentials travel in the URL and answer the server's challenge; a
    // refused password ends in one 401 with the server's phrase.
    void basicAuthentication_data()
    {
        QTest::addColumn<QString>("accepted");
        QTest::addColumn<QString>("sent");
        QTest::addColumn<bool>("succeeds");
        QTest::newRow("right password") << "738" << "738" << true;
        QTest::newRow("password with special characters") << "p@ss:w/rd%" << "p@ss:w/rd%" << true;
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

        const OutcomePtr outcome = get(client, withCredentials(server.url(QStringLiteral("/api/gettime")), sent));
        QTRY_COMPARE(outcome->calls(), 1);
        settle(50);
        QCOMPARE(outcome->calls(), 1);
        QCOMPARE(outcome->successes, succeeds ? 1 : 0);
        if (!succeeds) {
            QCOMPARE(outcome->reason, QStringLiteral("Unauthorized"));
            QCOMPARE(outcome->status, 401);
        }
        const auto authenticated = server.authenticatedRequests();
        QCOMPARE(authenticated.size(), 1);
        QCOMPARE(authenticated.first().user, QStringLiteral("admin"));
        QCOMPARE(authenticated.first().password, sent);
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
};

QTEST_GUILESS_MAIN(TestHttpClient)
#include "tst_http_client.moc"
