// The client against real servers: Apache 2.4 and nginx, started with
// configurations written here, their logs taken as the ground truth.

#include "protocol/http_authenticator.h"
#include "protocol/http_client.h"
#include "protocol/server_requests.h"

#include "peer_sim.h"
#include "private_network.h"
#include "web_server.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

#include <memory>

using namespace rtu;
using rtu::test::PeerSim;
using rtu::test::WebServer;

namespace {

const QString kHost = QStringLiteral("127.0.0.61");
const QString kPassword = QStringLiteral("738");
const QString kUtf8Password = QStringLiteral("p€ss wörd");
const QByteArray kRealm = "tessaly";

// The servers' REST API as a CGI script: what a change asks is written down
// before the answer, however late that comes, so that the log proves the
// change was carried out. "slow=S" waits S seconds; "status=N" answers N.
const QByteArray kApi = R"sh(#!/bin/sh
slow=0
case "$QUERY_STRING" in *slow=*) slow=${QUERY_STRING##*slow=}; slow=${slow%%&*};; esac
case "$PATH_INFO" in /configure|/settime|/ifconfig) echo "$PATH_INFO?$QUERY_STRING" >> "$APPLIED";; esac
sleep "$slow"
case "$QUERY_STRING" in *status=503*) printf 'Status: 503 Service Unavailable\r\n';; esac
printf 'Content-Type: application/json\r\n\r\n'
case "$PATH_INFO" in
/gettime) printf '{"error": "0", "errorString": "", "reply": {"utcTime": "1700000000000", "timezoneId": "Europe/Berlin"}}';;
/iflist) printf '{"error": "0", "errorString": "", "reply": [{"name": "eth0", "ipAddr": "127.0.0.61", "mac": "02:00:00:00:00:61", "netMask": "255.0.0.0", "gateway": "", "dns_servers": "", "dhcp": false}], "padding": "%s"}' "$(head -c 30000 /dev/zero | tr '\0' p)";;
*) printf '{"error": "0", "errorString": "", "reply": {"applied": "%s", "by": "a script of the interop tests"}}' "$QUERY_STRING";;
esac
)sh";

// One virtual host per case: its address and port, what guards its path,
// and what else it does there and in the whole host.
struct Site
{
    QString host;
    quint16 port;
    QString auth; // "digest", "basic" or "" (none)
    QString location;
    QString vhost;
};

const QString kGzip = QStringLiteral("SetEnv force-gzip 1\nSetOutputFilter DEFLATE");
// admin:738 for the simulated server behind a proxy that checked Digest.
const QString kToSimulator = QStringLiteral("RequestHeader set Authorization \"Basic YWRtaW46NzM4\"");

const QMap<QString, Site> kSites{
    {QStringLiteral("digest"), {kHost, 8061, QStringLiteral("digest"), QStringLiteral("AuthDigestNcCheck On"), {}}},
    {QStringLiteral("stale"), {kHost, 8062, QStringLiteral("digest"), QStringLiteral("AuthDigestNonceLifetime 1"), {}}},
    {QStringLiteral("basic"), {kHost, 8063, QStringLiteral("basic"), {}, {}}},
    {QStringLiteral("max3"), {kHost, 8064, {}, {}, QStringLiteral("MaxKeepAliveRequests 3")}},
    {QStringLiteral("idle1s"), {kHost, 8065, {}, {}, QStringLiteral("KeepAliveTimeout 1")}},
    {QStringLiteral("idle150ms"), {kHost, 8066, {}, {}, QStringLiteral("KeepAliveTimeout 150ms")}},
    {QStringLiteral("gzip"), {kHost, 8067, {}, kGzip, {}}},
    {QStringLiteral("plain"),
     {kHost, 8068, {}, {}, QStringLiteral("Redirect 301 /moved /api/gettime\nRedirect 302 /found /api/gettime")}},
    // Reverse proxies in front of simulated servers.
    {QStringLiteral("proxy-digest"),
     {QStringLiteral("127.0.0.71"), 8080, QStringLiteral("digest"), kToSimulator,
      QStringLiteral("ProxyPass / http://127.0.0.71:7001/")}},
    {QStringLiteral("proxy-basic"),
     {QStringLiteral("127.0.0.72"), 8080, QStringLiteral("basic738"), {},
      QStringLiteral("ProxyPass / http://127.0.0.72:7001/")}},
    {QStringLiteral("proxy-gzip"),
     {QStringLiteral("127.0.0.73"), 8080, {}, kGzip, QStringLiteral("ProxyPass / http://127.0.0.73:7001/")}},
};

// The nginx case: chunked answers of Apache's CGI passed on.
constexpr quint16 kNginxPort = 8069;

QString authBlock(const QString &scheme)
{
    if (scheme == QLatin1String("digest")) {
        return QStringLiteral("AuthType Digest\nAuthName \"tessaly\"\nAuthDigestProvider file\n"
                              "AuthUserFile @DIR@/digest.pw\nRequire valid-user\n");
    }
    if (scheme.startsWith(QLatin1String("basic"))) {
        return QStringLiteral("AuthType Basic\nAuthName \"tessaly\"\nAuthBasicProvider file\n"
                              "AuthUserFile @DIR@/%1.pw\nRequire valid-user\n")
            .arg(scheme);
    }
    return QString();
}

QString apacheSites()
{
    QString sites;
    for (auto it = kSites.begin(); it != kSites.end(); ++it) {
        const Site &site = it.value();
        const bool proxy = it.key().startsWith(QLatin1String("proxy"));
        sites += QStringLiteral("Listen %1:%2\n<VirtualHost %1:%2>\nServerName %1\n").arg(site.host).arg(site.port);
        sites += QStringLiteral("ErrorLog @DIR@/logs/%1-error.log\nCustomLog @DIR@/logs/%1-access.log interop\n")
                     .arg(it.key());
        if (!proxy)
            sites += QStringLiteral("SetEnv APPLIED @DIR@/logs/%1-applied.log\nScriptAlias /api @DIR@/cgi/api\n")
                         .arg(it.key());
        sites += site.vhost + QLatin1Char('\n');
        sites += QStringLiteral("<Location %1>\n").arg(proxy ? QStringLiteral("/") : QStringLiteral("/api"));
        sites += authBlock(site.auth) + site.location + QStringLiteral("\n</Location>\n</VirtualHost>\n");
    }
    return sites;
}

QByteArray digestLine(const QString &password)
{
    return "admin:" + kRealm + ':'
           + QCryptographicHash::hash("admin:" + kRealm + ':' + password.toUtf8(), QCryptographicHash::Md5).toHex()
           + '\n';
}

QByteArray basicLine(const QString &password)
{
    return "admin:{SHA}" + QCryptographicHash::hash(password.toUtf8(), QCryptographicHash::Sha1).toBase64() + '\n';
}

// One line of a site's access log, in the "interop" format.
struct Access
{
    QString method;
    QString target;
    int status = 0;
    int earlier = 0; // requests the connection carried before
    QString coding;
    QString authorization;
};

QVector<Access> accessLog(const WebServer &server, const QString &site)
{
    static const QRegularExpression line(QStringLiteral(R"re(^\d+ (\S+) (\S+) (\d+) (\d+) (\S+) "(.*)"$)re"));
    QVector<Access> entries;
    for (const QString &text : server.log(site + QStringLiteral("-access.log"))) {
        const QRegularExpressionMatch m = line.match(text);
        if (m.hasMatch())
            entries.append({m.captured(1), m.captured(2), m.captured(3).toInt(), m.captured(4).toInt(),
                            m.captured(5), m.captured(6)});
    }
    return entries;
}

// What one request ended in: "ok", else its failure reason and status.
struct Outcome
{
    bool done = false;
    QString text;
};
using OutcomePtr = std::shared_ptr<Outcome>;

// Two clients, as the tool has: one for logins and reads, one for changes.
struct Clients
{
    explicit Clients(int idleCloseMs)
    {
        HttpClient::Limits limits;
        limits.idleCloseMs = idleCloseMs;
        reads = std::make_unique<HttpClient>(nullptr, limits);
        changes = std::make_unique<HttpClient>(nullptr, limits);
    }

    OutcomePtr send(const QUrl &url, HttpClient::Kind kind, qint64 timeoutMs)
    {
        auto outcome = std::make_shared<Outcome>();
        HttpClient *client = kind == HttpClient::Kind::Read ? reads.get() : changes.get();
        client->sendGet(
            url,
            [outcome](const QByteArray &) {
                outcome->done = true;
                outcome->text = QStringLiteral("ok");
            },
            [outcome](const QString &reason, int status) {
                outcome->done = true;
                outcome->text = QStringLiteral("%1 (%2)").arg(reason).arg(status);
            },
            timeoutMs, kind);
        return outcome;
    }

    std::unique_ptr<HttpClient> reads;
    std::unique_ptr<HttpClient> changes;
};

QUrl apiUrl(quint16 port, const QString &command, const QString &password)
{
    QUrl url(QStringLiteral("http://%1:%2/api/%3").arg(kHost).arg(port).arg(command));
    url.setUserName(QStringLiteral("admin"));
    url.setPassword(password);
    return url;
}

// The command line program, run to its end.
QJsonObject runCli(const QStringList &arguments, QString *describe)
{
    QProcess process;
    process.start(QCoreApplication::applicationDirPath() + QStringLiteral("/tessaly-config-cli"), arguments);
    process.closeWriteChannel();
    if (!process.waitForFinished(60000))
        process.kill();
    const QByteArray out = process.readAllStandardOutput();
    *describe = QStringLiteral("exit %1\n%2\n%3")
                    .arg(process.exitCode())
                    .arg(QString::fromUtf8(out), QString::fromUtf8(process.readAllStandardError()));
    return QJsonDocument::fromJson(out).object();
}

} // namespace

class TestInterop : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        TESSALY_REQUIRE_PRIVATE_NETWORK();
        QVERIFY(m_apache.writeFile(QStringLiteral("cgi/api"), kApi, true));
        QVERIFY(m_apache.writeFile(QStringLiteral("digest.pw"), digestLine(kPassword)));
        QVERIFY(m_apache.writeFile(QStringLiteral("basic.pw"), basicLine(kUtf8Password)));
        QVERIFY(m_apache.writeFile(QStringLiteral("basic738.pw"), basicLine(kPassword)));
        QList<QPair<QString, quint16>> listening;
        for (const Site &site : kSites)
            listening.append({site.host, site.port});
        QVERIFY2(m_apache.start(apacheSites(), listening), qPrintable(m_apache.errorString()));
        // nginx passes on, chunked, what the CGI writes without a length.
        const QString nginxSite = QStringLiteral(
            "log_format interop '$remote_port $request_method $request_uri $status $sent_http_transfer_encoding';\n"
            "server {\n listen %1:%2;\n access_log @DIR@/logs/nginx-access.log interop;\n"
            " location / {\n  proxy_pass http://%1:%3;\n  proxy_http_version 1.1;\n  proxy_buffering off;\n }\n}\n")
                                      .arg(kHost)
                                      .arg(kNginxPort)
                                      .arg(kSites.value(QStringLiteral("plain")).port);
        QVERIFY2(m_nginx.start(nginxSite, {{kHost, kNginxPort}}), qPrintable(m_nginx.errorString()));
    }

    void init() { HttpAuthenticator::shared().clear(); }

    // Each case: requests on one site, then what the site's logs must show.
    // Steps: "read CMD", "change CMD", "reads N CMD", "parallel N CMD"
    // (reads and changes from both clients at once), "pause MS",
    // "timeout MS" (for the steps after it).
    void realServers_data()
    {
        QTest::addColumn<QString>("site");
        QTest::addColumn<int>("idleCloseMs"); // the client's idle limit
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QStringList>("failures"); // in order; every other request succeeds
        QTest::addColumn<QStringList>("checks");
        const QString mayHaveApplied = QString::fromLatin1(HttpClient::kTimedOutChange) + QStringLiteral(" (0)");

        QTest::newRow("Digest, nonce counts checked, in turn and in parallel")
            << "digest" << 300 << QStringList{"reads 12 gettime", "change configure?systemName=A", "parallel 16 gettime",
                                              "parallel 16 gettime", "parallel 16 gettime"}
            << QStringList() << QStringList{"challenged first", "no Basic", "Digest never refused"};
        QTest::newRow("Digest, a nonce that goes stale")
            << "stale" << 300 << QStringList{"read gettime", "pause 2100", "change configure?systemName=B"}
            << QStringList() << QStringList{"challenged first", "no Basic", "stale answered"};
        QTest::newRow("Basic, a UTF-8 password")
            << "basic" << 300 << QStringList{"read gettime", "change configure?systemName=C", "read iflist"}
            << QStringList() << QStringList{"challenged first", "Basic after"};
        // Three requests after the first on one connection.
        QTest::newRow("MaxKeepAliveRequests 3")
            << "max3" << 300
            << QStringList{"reads 9 gettime", "change configure?systemName=D", "change configure?systemName=DD",
                           "reads 2 gettime"}
            << QStringList() << QStringList{"earlier at most 3", "changes on fresh connections"};
        QTest::newRow("KeepAliveTimeout 1 s, kept up to 750 ms")
            << "idle1s" << 5000
            << QStringList{"read gettime", "pause 200", "read gettime", "pause 900", "read gettime",
                           "change configure?systemName=E"}
            << QStringList() << QStringList{"earlier 0 1 0 0", "changes on fresh connections"};
        QTest::newRow("KeepAliveTimeout 150 ms: never kept")
            << "idle150ms" << 5000
            << QStringList{"reads 4 gettime", "change configure?systemName=F", "pause 150",
                           "change configure?systemName=G"}
            << QStringList() << QStringList{"earlier 0 0 0 0 0 0"};
        QTest::newRow("gzip forced on every answer")
            << "gzip" << 300 << QStringList{"read iflist", "change configure?systemName=H"} << QStringList()
            << QStringList{"gzip", "applied 1"};
        QTest::newRow("a slow script beyond the time-out")
            << "plain" << 300
            << QStringList{"timeout 1000", "read gettime?slow=2", "change configure?systemName=I&slow=2"}
            << QStringList{QStringLiteral("Network Error: Request Timed Out (0)"), mayHaveApplied}
            << QStringList{"applied 1"};
        QTest::newRow("301, 302 and 503 are not followed")
            << "plain" << 300 << QStringList{"change ../moved", "change ../found", "change configure?status=503"}
            << QStringList{"Moved Permanently (301)", "Found (302)", "Service Unavailable (503)"}
            << QStringList{"requests 3"};
        QTest::newRow("nginx passing on chunked answers")
            << "nginx" << 300 << QStringList{"read iflist", "change configure?systemName=J", "read iflist"}
            << QStringList() << QStringList{"chunked"};
    }

    void realServers()
    {
        QFETCH(QString, site);
        QFETCH(int, idleCloseMs);
        QFETCH(QStringList, steps);
        QFETCH(QStringList, failures);
        QFETCH(QStringList, checks);
        const bool viaNginx = site == QLatin1String("nginx");
        const QString logSite = viaNginx ? QStringLiteral("plain") : site;
        const Site apacheSite = kSites.value(logSite);
        const quint16 port = viaNginx ? kNginxPort : apacheSite.port;
        const QString password = apacheSite.auth == QLatin1String("basic") ? kUtf8Password : kPassword;
        const int accessBefore = accessLog(m_apache, logSite).size();
        const int appliedBefore = m_apache.log(logSite + QStringLiteral("-applied.log")).size();

        Clients clients(idleCloseMs);
        QStringList unexpected;
        QStringList seenFailures;
        qint64 timeoutMs = 5000;
        const auto collect = [&](const QVector<OutcomePtr> &outcomes) {
            for (const OutcomePtr &outcome : outcomes) {
                QTRY_VERIFY_WITH_TIMEOUT(outcome->done, 15000);
                if (outcome->text != QLatin1String("ok"))
                    seenFailures.append(outcome->text);
            }
        };
        for (const QString &step : qAsConst(steps)) {
            const QStringList words = step.split(QLatin1Char(' '));
            const QString what = words.first();
            if (what == QLatin1String("pause")) {
                QTest::qWait(words.at(1).toInt());
            } else if (what == QLatin1String("timeout")) {
                timeoutMs = words.at(1).toInt();
            } else if (what == QLatin1String("read") || what == QLatin1String("change")) {
                const auto kind = what == QLatin1String("read") ? HttpClient::Kind::Read : HttpClient::Kind::Change;
                collect({clients.send(apiUrl(port, words.at(1), password), kind, timeoutMs)});
            } else if (what == QLatin1String("reads")) {
                for (int i = 0; i < words.at(1).toInt(); ++i)
                    collect({clients.send(apiUrl(port, words.at(2), password), HttpClient::Kind::Read, timeoutMs)});
            } else if (what == QLatin1String("parallel")) {
                QVector<OutcomePtr> outcomes;
                for (int i = 0; i < words.at(1).toInt(); ++i) {
                    const auto kind = i % 2 ? HttpClient::Kind::Change : HttpClient::Kind::Read;
                    outcomes.append(clients.send(apiUrl(port, words.at(2), password), kind, timeoutMs));
                }
                collect(outcomes);
            }
            if (QTest::currentTestFailed())
                return;
        }
        QCOMPARE(seenFailures, failures);

        const QVector<Access> access = accessLog(m_apache, logSite).mid(accessBefore);
        const QStringList errors = m_apache.log(logSite + QStringLiteral("-error.log"));
        const QString accessText = [&access] {
            QStringList lines;
            for (const Access &a : access)
                lines << QStringLiteral("%1 %2 %3 k=%4 %5 %6")
                             .arg(a.method, a.target)
                             .arg(a.status)
                             .arg(a.earlier)
                             .arg(a.coding, a.authorization.left(24));
            return lines.join(QLatin1Char('\n'));
        }();
        for (const QString &check : qAsConst(checks)) {
            const QString context = check + QStringLiteral("\n") + accessText;
            if (check == QLatin1String("challenged first")) {
                QVERIFY2(!access.isEmpty() && access.first().authorization == QLatin1String("-")
                             && access.first().status == 401,
                         qPrintable(context));
            } else if (check == QLatin1String("no Basic")) {
                for (const Access &a : access)
                    QVERIFY2(!a.authorization.startsWith(QLatin1String("Basic")), qPrintable(context));
                QVERIFY2(errors.filter(QStringLiteral("AH01781")).isEmpty(), qPrintable(errors.join('\n')));
            } else if (check == QLatin1String("Basic after")) {
                for (const Access &a : access.mid(1))
                    QVERIFY2(a.authorization.startsWith(QLatin1String("Basic ")) && a.status == 200,
                             qPrintable(context));
            } else if (check == QLatin1String("Digest never refused")) {
                for (const Access &a : access) {
                    QVERIFY2(a.status == 200 || !a.authorization.startsWith(QLatin1String("Digest")),
                             qPrintable(context));
                }
                QVERIFY2(errors.filter(QStringLiteral("nonce")).isEmpty(), qPrintable(errors.join('\n')));
            } else if (check == QLatin1String("stale answered")) {
                int refusedDigest = 0;
                for (const Access &a : access)
                    refusedDigest += a.status == 401 && a.authorization.startsWith(QLatin1String("Digest"));
                QVERIFY2(refusedDigest == 1, qPrintable(context));
            } else if (check.startsWith(QLatin1String("earlier at most"))) {
                for (const Access &a : access)
                    QVERIFY2(a.earlier <= check.section(QLatin1Char(' '), 3).toInt(), qPrintable(context));
            } else if (check.startsWith(QLatin1String("earlier "))) {
                QStringList earlier;
                for (const Access &a : access)
                    earlier << QString::number(a.earlier);
                QCOMPARE(earlier.join(QLatin1Char(' ')), check.mid(8));
            } else if (check == QLatin1String("changes on fresh connections")) {
                for (const Access &a : access) {
                    if (a.target.startsWith(QLatin1String("/api/configure")))
                        QVERIFY2(a.earlier == 0, qPrintable(context));
                }
            } else if (check == QLatin1String("gzip")) {
                for (const Access &a : access)
                    QVERIFY2(a.coding == QLatin1String("gzip"), qPrintable(context));
            } else if (check.startsWith(QLatin1String("applied "))) {
                QTRY_COMPARE_WITH_TIMEOUT(m_apache.log(logSite + QStringLiteral("-applied.log")).size() - appliedBefore,
                                          check.mid(8).toInt(), 5000);
            } else if (check.startsWith(QLatin1String("requests "))) {
                QTest::qWait(200);
                QCOMPARE(accessLog(m_apache, logSite).mid(accessBefore).size(), check.mid(9).toInt());
            } else if (check == QLatin1String("chunked")) {
                // The long answers at least; a short one may come whole to a
                // connection that closes after it.
                const QStringList lines = m_nginx.log(QStringLiteral("nginx-access.log"));
                QVERIFY2(lines.size() >= 3, qPrintable(lines.join('\n')));
                for (const QString &line : lines.mid(lines.size() - 3)) {
                    QVERIFY2(line.contains(QLatin1String(" 200 "))
                                 && (!line.contains(QLatin1String("iflist")) || line.endsWith(QLatin1String(" chunked"))),
                             qPrintable(lines.join('\n')));
                }
            } else {
                QFAIL(qPrintable(QStringLiteral("unknown check ") + check));
            }
        }
    }

    // The command finds simulated servers whose discovery answers announce
    // the port of an Apache reverse proxy in front of each, logs in through
    // the proxies (Digest, Basic and forced gzip) and renames them all.
    void commandThroughProxies()
    {
        QJsonArray servers;
        for (int i = 1; i <= 3; ++i) {
            servers.append(QJsonObject{{QStringLiteral("name"), QStringLiteral("Proxied %1").arg(i)},
                                       {QStringLiteral("addresses"), QJsonArray{QStringLiteral("127.0.0.7%1").arg(i)}},
                                       {QStringLiteral("answerExtra"), QJsonObject{{QStringLiteral("port"), 8080}}}});
        }
        PeerSim sim;
        QVERIFY2(sim.start(QJsonObject{{QStringLiteral("servers"), servers}}), qPrintable(sim.errorString()));

        QString describe;
        const QJsonObject listing =
            runCli({QStringLiteral("list"), QStringLiteral("--json"), QStringLiteral("--wait"), QStringLiteral("1")},
                   &describe);
        QVERIFY2(listing.value(QStringLiteral("counts")).toObject().value(QStringLiteral("loggedIn")).toInt() == 3,
                 qPrintable(describe));

        const QJsonObject applied = runCli({QStringLiteral("apply"), QStringLiteral("--all"),
                                            QStringLiteral("--set-system-name"), QStringLiteral("Behind Proxies"),
                                            QStringLiteral("--json"), QStringLiteral("--wait"), QStringLiteral("1")},
                                           &describe);
        const QJsonArray rows = applied.value(QStringLiteral("results")).toArray();
        QVERIFY2(rows.size() == 3, qPrintable(describe));
        for (const QJsonValue &row : rows)
            QVERIFY2(row.toObject().value(QStringLiteral("outcome")).toString() == QLatin1String("ok"),
                     qPrintable(describe));
        for (int i = 1; i <= 3; ++i) {
            const QJsonObject state = sim.server(QStringLiteral("Proxied %1").arg(i));
            QCOMPARE(state.value(QStringLiteral("systemName")).toString(), QStringLiteral("Behind Proxies"));
        }

        // Through each proxy: challenged before any credentials, never Basic
        // where Digest is asked; the gzip one compressed the logins' answers
        // (Apache leaves the shortest alone).
        for (const QString &site : {QStringLiteral("proxy-digest"), QStringLiteral("proxy-basic"),
                                    QStringLiteral("proxy-gzip")}) {
            const QVector<Access> access = accessLog(m_apache, site);
            QVERIFY2(!access.isEmpty(), qPrintable(site));
            int compressed = 0;
            for (const Access &a : access) {
                const QString line = site + QLatin1Char(' ') + a.target + QLatin1Char(' ') + a.authorization.left(8);
                if (site == QLatin1String("proxy-digest"))
                    QVERIFY2(!a.authorization.startsWith(QLatin1String("Basic")), qPrintable(line));
                compressed += a.coding == QLatin1String("gzip");
            }
            if (site == QLatin1String("proxy-gzip"))
                QVERIFY2(compressed >= 2, qPrintable(site));
            else
                QVERIFY2(access.first().authorization == QLatin1String("-"), qPrintable(site));
            QVERIFY(m_apache.log(site + QStringLiteral("-error.log")).filter(QStringLiteral("AH01781")).isEmpty());
        }
    }

    void cleanupTestCase()
    {
        m_nginx.stop();
        m_apache.stop();
    }

private:
    WebServer m_apache{WebServer::Apache};
    WebServer m_nginx{WebServer::Nginx};
};

QTEST_GUILESS_MAIN(TestInterop)
#include "tst_interop.moc"
