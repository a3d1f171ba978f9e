#include "protocol/http_authenticator.h"
#include "protocol/http_client.h"

#include "fake_http_server.h"

#include <QLoggingCategory>
#include <QRegularExpression>
#include <QUrlQuery>
#include <QtTest>

using namespace rtu;
using rtu::test::FakeHttpServer;
using rtu::test::FakeReply;
using rtu::test::ReceivedRequest;

namespace {

const QString kOld = QStringLiteral("0ld pass@738");
const QString kNew = QStringLiteral("n3w:S€cret");

QStringList logged;

void capture(QtMsgType, const QMessageLogContext &context, const QString &message)
{
    logged.append(QString::fromLatin1(context.category) + QLatin1String(": ") + message);
}

// A Digest change with both passwords in the URL on connections of its own,
// reads on a reused connection, one opened beside it and left idle, and a
// time-out.
void exchange(quint16 *port)
{
    FakeHttpServer server;
    *port = server.port();
    server.setHandler([](const ReceivedRequest &request) {
        FakeReply reply = FakeReply::json("{}");
        reply.silent = request.path() == QLatin1String("/api/slow");
        if (!request.header("Authorization").startsWith("Digest ")) {
            reply = FakeReply::unauthorized();
            reply.headers = {{"WWW-Authenticate", R"(Digest realm="r", nonce="n1", qop="auth")"}};
        }
        return reply;
    });
    HttpClient::Limits limits;
    limits.idleCloseMs = 100;
    HttpClient client(nullptr, limits);
    const auto url = [&server](const QString &path) {
        QUrl url = server.url(path);
        url.setUserName(QStringLiteral("admin"));
        url.setPassword(kOld);
        return url;
    };
    QUrl configure = url(QStringLiteral("/api/configure"));
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("systemName"), QStringLiteral("Lab"));
    query.addQueryItem(QStringLiteral("password"), kNew);
    query.addQueryItem(QStringLiteral("oldPassword"), kOld);
    configure.setQuery(query);
    int done = 0;
    const auto succeeded = [&done](const QByteArray &) { ++done; };
    const auto failed = [&done](const QString &, int) { ++done; };
    client.sendGet(configure, succeeded, failed, 0);
    QTRY_COMPARE(done, 1);
    const auto read = HttpClient::Kind::Read;
    client.sendGet(url(QStringLiteral("/api/gettime")), succeeded, failed, 0, read);
    QTRY_COMPARE(done, 2);
    client.sendGet(url(QStringLiteral("/api/slow")), succeeded, failed, 300, read);
    client.sendGet(url(QStringLiteral("/api/iflist")), succeeded, failed, 0, read);
    QTRY_COMPARE_WITH_TIMEOUT(done, 4, 5000);
    QTest::qWait(300);
}

} // namespace

class TestHttpClientLog : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        HttpAuthenticator::shared().clear();
        logged.clear();
        qInstallMessageHandler(capture);
    }

    void cleanup()
    {
        qInstallMessageHandler(nullptr);
        QLoggingCategory::setFilterRules(QString());
    }

    // Each request, time-out and connection has its line; none shows a
    // password, the URL's user information or what Authorization carried.
    void linesNameRequestsNotSecrets()
    {
        QLoggingCategory::setFilterRules(QStringLiteral("rtu.http=true"));
        quint16 port = 0;
        exchange(&port);
        const QString all = logged.join(QLatin1Char('\n'));
        const QString configure = "GET /api/configure?systemName=Lab&password=(redacted)&oldPassword=(redacted) HOST";
        const QStringList expected{
            "connection 1 to HOST opened",
            configure + " answers a Digest challenge",
            "connection 1 to HOST closed: a change's own, answered",
            configure + " -> 200, 2 bytes in # ms (connection 2)",
            "connection 2 to HOST closed: a change's own, answered",
            "connection 3 to HOST opened",
            "connection 3 to HOST reused",
            "GET /api/slow HOST timed out after # ms on connection 3",
            "GET /api/slow HOST -> Network Error: Request Timed Out in # ms (connection 3)",
            "connection 3 to HOST closed: timed out",
            "GET /api/iflist HOST -> 200, 2 bytes in # ms (connection 4)",
            "connection 4 to HOST closed: idle",
        };
        for (QString line : expected) {
            line = QRegularExpression::escape(QLatin1String("rtu.http: ") + line);
            line.replace(QLatin1String("\\#"), QLatin1String("\\d+"));
            line.replace(QLatin1String("HOST"), QStringLiteral("127\\.0\\.0\\.1\\:%1").arg(port));
            QVERIFY2(all.contains(QRegularExpression(QLatin1Char('^') + line + QLatin1Char('$'),
                                                     QRegularExpression::MultilineOption)),
                     qPrintable(line + QLatin1String("\nnot in\n") + all));
        }
        QStringList secrets{QStringLiteral("Authorization"), QStringLiteral("admin"), QStringLiteral("Digest username"),
                            QString::fromLatin1(("admin:" + kOld).toUtf8().toBase64())};
        for (const QString &password : {kOld, kNew})
            secrets << password << QString::fromLatin1(QUrl::toPercentEncoding(password));
        for (const QString &secret : qAsConst(secrets))
            QVERIFY2(!all.contains(secret, Qt::CaseInsensitive), qPrintable(secret));
    }

    // Without a rule the client writes nothing at all.
    void silentByDefault()
    {
        quint16 port = 0;
        exchange(&port);
        QCOMPARE(logged, QStringList());
    }
};

QTEST_GUILESS_MAIN(TestHttpClientLog)
#include "tst_http_client_log.moc"
