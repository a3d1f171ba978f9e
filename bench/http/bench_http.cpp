// Times the HTTP transport against the simulated fleet. Runs only inside the
// private network namespace:
//   scripts/netns.sh build/bin/bench_http [--mode batch|idle|hostile|curl] [--servers N] [--runs R]
//
// batch   (100 servers): system name, then port, on every server: 200
//         configure requests one after another through HttpClient, against
//         the same requests replayed one at a time on kept-alive connections
//         by a blocking raw-socket client (the protocol floor); then the
//         requests on the wire per login.
// idle    (1000 servers): every server logged in, then refreshed after 20 s;
//         the process's open TCP sockets over time.
// hostile (3 good servers): a peer with endless replies is asked in parallel;
//         how its requests end, how the good servers are served, the event
//         loop's worst lateness and the memory high-water mark.
// curl    (nginx): GETs of a small file one after another on one kept-alive
//         connection, through HttpClient and through curl, in alternating
//         runs; requests per second of each, the first request left out.

#include "peer_sim.h"
#include "private_network.h"
#include "web_server.h"
#include "protocol/http_authentication.h"
#include "protocol/http_client.h"
#include "protocol/http_request_writer.h"
#include "protocol/server_requests.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QSet>
#include <QCryptographicHash>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTcpSocket>
#include <QTimer>
#include <QUrlQuery>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>

using namespace rtu;

namespace {

const QString kPassword = QStringLiteral("738");

void print(const QString &line)
{
    std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
}

double medianOf(QVector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.size() % 2 ? values.at(values.size() / 2)
                             : (values.at(values.size() / 2 - 1) + values.at(values.size() / 2)) / 2;
}

QString spread(const QVector<double> &values, const QString &unit)
{
    return QStringLiteral("min %1 / median %2 / max %3 %4")
        .arg(*std::min_element(values.begin(), values.end()), 0, 'f', 4)
        .arg(medianOf(values), 0, 'f', 4)
        .arg(*std::max_element(values.begin(), values.end()), 0, 'f', 4)
        .arg(unit);
}

QVector<BaseServerInfo> fleetServers(test::PeerSim &sim)
{
    QVector<BaseServerInfo> servers;
    for (const QJsonValue &value : sim.servers()) {
        const QJsonObject state = value.toObject();
        BaseServerInfo base;
        base.id = QUuid::fromString(state.value(QStringLiteral("id")).toString());
        base.name = state.value(QStringLiteral("name")).toString();
        base.flags = flagsFromText(state.value(QStringLiteral("flags")).toString());
        base.hostAddress = state.value(QStringLiteral("addresses")).toArray().first().toString();
        base.port = state.value(QStringLiteral("port")).toInt();
        servers.append(base);
    }
    return servers;
}

// Requests of the simulator's log, and how many of them were refused with 401.
QPair<int, int> wireCount(test::PeerSim &sim)
{
    const QJsonArray log = sim.requestLog();
    int challenged = 0;
    for (const QJsonValue &entry : log)
        challenged += entry.toObject().value(QStringLiteral("status")).toInt() == 401;
    return {log.size(), challenged};
}

qint64 statusField(const char *name)
{
    QFile file(QStringLiteral("/proc/self/status"));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : file.readAll().split('\n')) {
        if (line.startsWith(name))
            return line.mid(int(qstrlen(name))).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

// This process's TCP sockets that are not listening.
int openTcpSockets()
{
    QSet<QByteArray> inodes;
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString &fd : fds.entryList(QDir::System | QDir::NoDotAndDotDot)) {
        char buffer[64] = {};
        const ssize_t size = ::readlink(QFile::encodeName(fds.filePath(fd)).constData(), buffer, sizeof buffer - 1);
        const QByteArray text(buffer, int(std::max<ssize_t>(size, 0)));
        if (text.startsWith("socket:["))
            inodes.insert(text.mid(8, text.size() - 9));
    }
    int open = 0;
    for (const char *table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        QFile file(QString::fromLatin1(table));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QList<QByteArray> lines = file.readAll().split('\n');
        for (int i = 1; i < lines.size(); ++i) {
            const QList<QByteArray> fields = lines.at(i).simplified().split(' ');
            if (fields.size() > 9 && fields.at(3) != "0A" && inodes.contains(fields.at(9)))
                ++open;
        }
    }
    return open;
}

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The same URL the tool builds for a configure request.
QUrl configureUrl(const BaseServerInfo &server, const QString &key, const QString &value)
{
    QUrl url;
    url.setScheme(QStringLiteral("http"));
    url.setHost(server.hostAddress);
    url.setPort(server.port);
    url.setUserName(QStringLiteral("admin"));
    url.setPassword(kPassword);
    url.setPath(QStringLiteral("/api/configure"));
    QUrlQuery query;
    query.addQueryItem(key, value);
    query.addQueryItem(QStringLiteral("oldPassword"), kPassword);
    url.setQuery(query);
    return url;
}

// One batch: system name, then port, on every server.
struct Prepared
{
    QUrl url;
    QByteArray bytes; // as HttpClient sends them
};

QVector<Prepared> prepareBatch(const QVector<BaseServerInfo> &servers, const QString &name, int port)
{
    QVector<Prepared> requests;
    const QByteArray authorization = basicAuthorization(QStringLiteral("admin"), kPassword);
    for (int step = 0; step < 2; ++step) {
        for (const BaseServerInfo &server : servers) {
            const QUrl url = step == 0 ? configureUrl(server, QStringLiteral("systemName"), name)
                                       : configureUrl(server, QStringLiteral("port"), QString::number(port));
            requests.append({url, HttpRequestWriter::write("GET", url, authorization, QByteArray())});
        }
    }
    return requests;
}

QString serverKey(const QUrl &url)
{
    return url.host() + QLatin1Char(':') + QString::number(url.port());
}

// Where a reply ends, from its head: the floors read Content-Length only.
bool replyComplete(const QByteArray &in, int *headEnd, bool *closes)
{
    *headEnd = in.indexOf("\r\n\r\n");
    if (*headEnd < 0)
        return false;
    const QByteArray head = in.left(*headEnd).toLower();
    const int at = head.indexOf("content-length:");
    const qint64 length = at < 0 ? 0 : head.mid(at + 15, head.indexOf('\r', at) - at - 15).trimmed().toLongLong();
    *closes = head.contains("connection: close");
    return in.size() >= *headEnd + 4 + length;
}

bool replyAccepted(const QByteArray &in, QString *error)
{
    if (in.startsWith("HTTP/1.1 200") && !in.contains("\"error\": \"1\""))
        return true;
    *error = QString::fromLatin1(in.left(in.indexOf('\r')));
    return false;
}

// The protocol floor: blocking sockets, one request at a time, each
// connection kept until the server closes it.
void floorBatch(const QVector<Prepared> &requests, QString *error)
{
    QHash<QString, int> sockets;
    for (const Prepared &request : requests) {
        const QString key = serverKey(request.url);
        int fd = sockets.value(key, -1);
        if (fd < 0) {
            fd = ::socket(AF_INET, SOCK_STREAM, 0);
            const int one = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_port = htons(quint16(request.url.port()));
            ::inet_pton(AF_INET, request.url.host().toLatin1().constData(), &address.sin_addr);
            if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
                ::close(fd);
                *error = QStringLiteral("connect failed");
                break;
            }
            sockets.insert(key, fd);
        }
        qint64 sent = 0;
        while (sent < request.bytes.size()) {
            const ssize_t now = ::send(fd, request.bytes.constData() + sent, size_t(request.bytes.size() - sent),
                                       MSG_NOSIGNAL);
            if (now <= 0)
                break;
            sent += now;
        }
        QByteArray in;
        int headEnd = -1;
        bool closes = false;
        char buffer[65536];
        while (sent == request.bytes.size() && !replyComplete(in, &headEnd, &closes)) {
            const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
            if (got <= 0)
                break;
            in.append(buffer, int(got));
        }
        if (!replyAccepted(in, error))
            break;
        if (closes)
            ::close(sockets.take(key));
    }
    for (const int fd : qAsConst(sockets))
        ::close(fd);
}

// The same on Qt's sockets and event loop, with nothing else: one QTcpSocket
// per server, each request written from the answer of the one before.
void qtSocketBatch(const QVector<Prepared> &requests, QString *error)
{
    QHash<QString, QTcpSocket *> sockets;
    QEventLoop loop;
    int next = 0;
    QByteArray in;
    QTcpSocket *current = nullptr;
    std::function<void()> sendNext;
    const auto onReadyRead = [&]() {
        in += current->readAll();
        int headEnd = -1;
        bool closes = false;
        if (!replyComplete(in, &headEnd, &closes))
            return;
        if (!replyAccepted(in, error)) {
            loop.quit();
            return;
        }
        if (closes) {
            sockets.remove(sockets.key(current));
            current->disconnect();
            current->abort();
            current->deleteLater();
        }
        sendNext();
    };
    sendNext = [&]() {
        if (next == requests.size()) {
            loop.quit();
            return;
        }
        const Prepared &request = requests.at(next++);
        in.clear();
        current = sockets.value(serverKey(request.url));
        if (current) {
            current->write(request.bytes);
            return;
        }
        QTcpSocket *socket = new QTcpSocket(&loop);
        current = socket;
        sockets.insert(serverKey(request.url), socket);
        QObject::connect(socket, &QTcpSocket::readyRead, onReadyRead);
        const QByteArray bytes = request.bytes;
        QObject::connect(socket, &QTcpSocket::connected, [socket, bytes]() {
            socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
            socket->write(bytes);
        });
        socket->connectToHost(request.url.host(), quint16(request.url.port()),
                              QIODevice::ReadWrite | QIODevice::Unbuffered);
    };
    QTimer::singleShot(60000, &loop, &QEventLoop::quit);
    sendNext();
    loop.exec();
    if (next != requests.size() && error->isEmpty())
        *error = QStringLiteral("did not finish");
}

// The transport alone: HttpClient::sendGet with the URLs the request
// functions build, each request sent from the answer of the one before.
void transportBatch(HttpClient &client, const QVector<Prepared> &requests, QString *error)
{
    QEventLoop loop;
    int next = 0;
    std::function<void()> sendNext = [&]() {
        if (next == requests.size()) {
            loop.quit();
            return;
        }
        client.sendGet(
            requests.at(next++).url,
            [&](const QByteArray &body) {
                if (body.contains("\"error\": \"1\"")) {
                    *error = QString::fromUtf8(body);
                    loop.quit();
                    return;
                }
                sendNext();
            },
            [&](const QString &reason, int status) {
                *error = QStringLiteral("%1 %2").arg(status).arg(reason);
                loop.quit();
            },
            0);
    };
    QTimer::singleShot(60000, &loop, &QEventLoop::quit);
    sendNext();
    loop.exec();
    if (next != requests.size() && error->isEmpty())
        *error = QStringLiteral("did not finish");
}

// The transport this client replaced, for comparison: one access manager,
// credentials in the URL answering the server's challenge, connections
// pooled per set of credentials.
void accessManagerBatch(QNetworkAccessManager &manager, const QVector<Prepared> &requests, QString *error)
{
    QEventLoop loop;
    int next = 0;
    std::function<void()> sendNext = [&]() {
        if (next == requests.size()) {
            loop.quit();
            return;
        }
        const QUrl url = requests.at(next++).url;
        QNetworkRequest request(url);
        request.setPeerVerifyName(QString::fromLatin1(
            QCryptographicHash::hash(url.userInfo(QUrl::FullyEncoded).toUtf8(), QCryptographicHash::Sha256).toHex()));
        QNetworkReply *reply = manager.get(request);
        QObject::connect(reply, &QNetworkReply::finished, &loop, [&, reply]() {
            reply->deleteLater();
            const QByteArray body = reply->readAll();
            if (reply->error() != QNetworkReply::NoError || body.contains("\"error\": \"1\"")) {
                *error = reply->errorString();
                loop.quit();
                return;
            }
            sendNext();
        });
    };
    QTimer::singleShot(60000, &loop, &QEventLoop::quit);
    sendNext();
    loop.exec();
    if (next != requests.size() && error->isEmpty())
        *error = QStringLiteral("did not finish");
}

// The tool's way: the request functions over HttpClient, as the changes
// manager sends them.
void requestFunctionsBatch(HttpClient &client, const QVector<BaseServerInfo> &servers, const QString &name, int port,
                           QString *error)
{
    QEventLoop loop;
    int next = 0;
    std::function<void()> sendNext = [&]() {
        if (next == 2 * servers.size()) {
            loop.quit();
            return;
        }
        const int index = next++;
        ExtraServerInfo extra;
        extra.password = kPassword;
        const ServerInfo info(servers.at(index % servers.size()), extra);
        const OperationCallback answered = [&](int code, const QString &reason, AffectedEntities) {
            if (code != 0) {
                *error = QStringLiteral("%1 %2").arg(code).arg(reason);
                loop.quit();
                return;
            }
            sendNext();
        };
        if (index < servers.size())
            sendChangeSystemNameRequest(&client, info, name, answered);
        else
            sendChangePortRequest(&client, info, port, answered);
    };
    QTimer::singleShot(60000, &loop, &QEventLoop::quit);
    sendNext();
    loop.exec();
    if (next != 2 * servers.size() && error->isEmpty())
        *error = QStringLiteral("did not finish");
}

// Logs every server in at once, as the selection model does with new
// servers; returns how many succeeded.
int logInAll(HttpClient &client, const QVector<BaseServerInfo> &servers, int limitMs)
{
    QEventLoop loop;
    int done = 0;
    int succeeded = 0;
    for (const BaseServerInfo &server : servers) {
        requestExtraServerInfo(
            &client, server, kPassword,
            [&](const QUuid &, const ExtraServerInfo &) {
                ++succeeded;
                if (++done == servers.size())
                    loop.quit();
            },
            [&](int, const QString &, AffectedEntities) {
                if (++done == servers.size())
                    loop.quit();
            },
            0);
    }
    QTimer::singleShot(limitMs, &loop, &QEventLoop::quit);
    if (done < servers.size())
        loop.exec();
    return succeeded;
}

int runBatch(int serverCount, int runs)
{
    test::PeerSim sim;
    if (!sim.start("{}", {QStringLiteral("--generate"), QString::number(serverCount), QStringLiteral("--systems"),
                          QString::number(std::max(1, serverCount / 20))})) {
        std::fprintf(stderr, "fleet did not start: %s\n", qPrintable(sim.errorString()));
        return 1;
    }
    QVector<BaseServerInfo> servers = fleetServers(sim);
    print(QStringLiteral("batch: %1 servers, %2 configure requests per batch, %3 runs")
              .arg(servers.size())
              .arg(2 * servers.size())
              .arg(runs));
    HttpClient client(nullptr);
    const QStringList names{QStringLiteral("floor (blocking sockets)"), QStringLiteral("bare QTcpSocket loop"),
                            QStringLiteral("HttpClient::sendGet"), QStringLiteral("request functions"),
                            QStringLiteral("QNetworkAccessManager")};
    QNetworkAccessManager manager;
    QPair<int, int> managerWire;
    QVector<QVector<double>> wall(names.size());
    QVector<QVector<double>> cpu(names.size());
    int port = servers.first().port;
    QPair<int, int> batchWire;
    for (int run = 0; run < runs; ++run) {
        // The order rotates, so that none always meets a fresh or a tired
        // simulator. Every batch moves the servers to the other port.
        for (int step = 0; step < names.size(); ++step) {
            const int kind = (run + step) % names.size();
            // For profiling one way alone.
            if (qEnvironmentVariableIsSet("BENCH_KIND") && qEnvironmentVariableIntValue("BENCH_KIND") != kind)
                continue;
            const int newPort = port == 7001 ? 7002 : 7001;
            const QString name = QStringLiteral("Bench %1 %2").arg(run).arg(step);
            const QVector<Prepared> requests = prepareBatch(servers, name, newPort);
            QString error;
            sim.clearLog();
            const double cpuBefore = cpuSeconds();
            QElapsedTimer clock;
            clock.start();
            switch (kind) {
            case 0:
                floorBatch(requests, &error);
                break;
            case 1:
                qtSocketBatch(requests, &error);
                break;
            case 2:
                transportBatch(client, requests, &error);
                break;
            case 3:
                requestFunctionsBatch(client, servers, name, newPort, &error);
                break;
            default:
                accessManagerBatch(manager, requests, &error);
                break;
            }
            wall[kind].append(clock.nsecsElapsed() / 1e9);
            cpu[kind].append((cpuSeconds() - cpuBefore) * 1000);
            if (!error.isEmpty()) {
                std::fprintf(stderr, "%s: %s\n", qPrintable(names.at(kind)), qPrintable(error));
                return 1;
            }
            if (kind == 3)
                batchWire = wireCount(sim);
            else if (kind == 4)
                managerWire = wireCount(sim);
            port = newPort;
            for (BaseServerInfo &server : servers)
                server.port = port;
        }
    }
    for (int kind = 0; kind < names.size(); ++kind) {
        if (wall.at(kind).isEmpty())
            continue;
        print(QStringLiteral("  %1 %2, CPU median %3 ms, ratio of medians to the floor %4")
                  .arg(names.at(kind) + QLatin1Char(':'), -26)
                  .arg(spread(wall.at(kind), QStringLiteral("s")))
                  .arg(medianOf(cpu.at(kind)), 0, 'f', 1)
                  .arg(wall.at(0).isEmpty() ? 0.0 : medianOf(wall.at(kind)) / medianOf(wall.at(0)), 0, 'f', 3));
    }
    print(QStringLiteral("  on the wire per batch: request functions %1 requests (%2 answered 401), "
                         "QNetworkAccessManager %3 (%4 answered 401)")
              .arg(batchWire.first)
              .arg(batchWire.second)
              .arg(managerWire.first)
              .arg(managerWire.second));

    sim.clearLog();
    HttpClient logins(nullptr);
    const int succeeded = logInAll(logins, servers, 30000);
    const QPair<int, int> loginWire = wireCount(sim);
    print(QStringLiteral("logins: %1 of %2 succeeded, 2 requests each; on the wire %3 requests (%4 answered 401): "
                         "%5 per request")
              .arg(succeeded)
              .arg(servers.size())
              .arg(loginWire.first)
              .arg(loginWire.second)
              .arg(double(loginWire.first) / (2 * servers.size()), 0, 'f', 2));
    return 0;
}

int runIdle(int serverCount)
{
    test::PeerSim sim;
    if (!sim.start("{}", {QStringLiteral("--generate"), QString::number(serverCount), QStringLiteral("--systems"),
                          QString::number(std::max(1, serverCount / 20))})) {
        std::fprintf(stderr, "fleet did not start: %s\n", qPrintable(sim.errorString()));
        return 1;
    }
    const QVector<BaseServerInfo> servers = fleetServers(sim);
    HttpClient client(nullptr);
    const int before = openTcpSockets();
    QElapsedTimer clock;
    clock.start();
    const int loggedIn = logInAll(client, servers, 60000);
    print(QStringLiteral("idle: %1 of %2 servers logged in in %3 ms; open TCP sockets right after: %4 (before: %5)")
              .arg(loggedIn)
              .arg(servers.size())
              .arg(clock.elapsed())
              .arg(openTcpSockets())
              .arg(before));

    // One refresh of every server 20 s after the login, as the 20 s rule
    // does for servers found together; sockets sampled every 100 ms, except
    // while CPU at rest is measured.
    QVector<int> perSecond(25, -1);
    double cpuAtRestStart = 0;
    double cpuAtRestEnd = 0;
    QElapsedTimer window;
    window.start();
    QEventLoop loop;
    QTimer sampler;
    sampler.setInterval(100);
    QObject::connect(&sampler, &QTimer::timeout, [&]() {
        const qint64 ms = window.elapsed();
        if (ms >= 25000) {
            loop.quit();
            return;
        }
        // Reading the socket tables costs CPU: not while CPU at rest is measured.
        if (ms > 5000 && ms < 19900)
            return;
        const int open = openTcpSockets();
        perSecond[int(ms / 1000)] = std::max(perSecond.at(int(ms / 1000)), open);
    });
    QTimer::singleShot(5000, Qt::PreciseTimer, [&]() { cpuAtRestStart = cpuSeconds(); });
    QTimer::singleShot(19900, Qt::PreciseTimer, [&]() { cpuAtRestEnd = cpuSeconds(); });
    int refreshed = -1;
    QTimer::singleShot(20000, Qt::PreciseTimer, [&]() { refreshed = logInAll(client, servers, 4000); });
    sampler.start();
    loop.exec();
    QStringList timeline;
    for (int second = 0; second < perSecond.size(); ++second)
        timeline.append(QStringLiteral("%1s:%2").arg(second).arg(
            perSecond.at(second) < 0 ? QStringLiteral("-") : QString::number(perSecond.at(second))));
    print(QStringLiteral("  most open TCP sockets per second after the login: %1").arg(timeline.join(QLatin1Char(' '))));
    print(QStringLiteral("  refresh at 20 s: %1 of %2 succeeded")
              .arg(refreshed)
              .arg(servers.size()));
    print(QStringLiteral("  CPU of the process at rest (5 s to 19.9 s): %1 %")
              .arg(100 * (cpuAtRestEnd - cpuAtRestStart) / 14.9, 0, 'f', 2));
    return 0;
}

int runHostile()
{
    test::PeerSim sim;
    if (!sim.start(R"({"servers": [{"name": "G1", "addresses": ["127.0.0.61"]},
                                   {"name": "G2", "addresses": ["127.0.0.62"]},
                                   {"name": "G3", "addresses": ["127.0.0.63"]}]})")) {
        std::fprintf(stderr, "fleet did not start: %s\n", qPrintable(sim.errorString()));
        return 1;
    }
    const QVector<BaseServerInfo> good = fleetServers(sim);
    const QString script = QStringLiteral(TESSALY_SOURCE_DIR "/bench/http/hostile_peer.py");
    print(QStringLiteral("hostile: 6 requests in parallel to the peer, a login of each of 3 good servers every 100 "
                         "ms for 3 s; VmHWM at start %1 kB")
              .arg(statusField("VmHWM:")));
    for (const QString &mode : {QStringLiteral("none"), QStringLiteral("chunked401"), QStringLiteral("chunked200"),
                                QStringLiteral("headers"),
                                QStringLiteral("headerline"), QStringLiteral("statusline")}) {
        QProcess peer;
        if (mode != QLatin1String("none")) {
            peer.start(QStringLiteral("python3"),
                       {script, mode, QStringLiteral("127.0.0.70"), QStringLiteral("7001")});
            if (!peer.waitForReadyRead(5000) || !peer.readLine().startsWith("ready")) {
                std::fprintf(stderr, "hostile peer did not start\n");
                return 1;
            }
        }
        HttpClient client(nullptr);
        QEventLoop loop;
        QElapsedTimer clock;
        clock.start();

        qint64 lastTick = 0;
        qint64 worstLateness = 0;
        QTimer probe;
        probe.setTimerType(Qt::PreciseTimer);
        probe.setInterval(10);
        QObject::connect(&probe, &QTimer::timeout, [&]() {
            const qint64 now = clock.elapsed();
            if (lastTick > 0)
                worstLateness = std::max(worstLateness, now - lastTick - 10);
            lastTick = now;
        });
        probe.start();

        int hostileDone = mode == QLatin1String("none") ? 6 : 0;
        qint64 hostileLastMs = 0;
        QSet<QString> reasons;
        if (mode != QLatin1String("none")) {
            QUrl url(QStringLiteral("http://127.0.0.70:7001/api/gettime"));
            url.setUserName(QStringLiteral("admin"));
            url.setPassword(kPassword);
            for (int i = 0; i < 6; ++i) {
                client.sendGet(
                    url, [&](const QByteArray &) { reasons.insert(QStringLiteral("success?!")); ++hostileDone; },
                    [&](const QString &reason, int status) {
                        reasons.insert(QStringLiteral("%1 (%2)").arg(reason).arg(status));
                        hostileLastMs = clock.elapsed();
                        ++hostileDone;
                    },
                    10000);
            }
        }
        int loginsSent = 0;
        int loginsOk = 0;
        int loginsDone = 0;
        qint64 worstLoginMs = 0;
        QTimer logins;
        logins.setInterval(100);
        QObject::connect(&logins, &QTimer::timeout, [&]() {
            if (clock.elapsed() > 3000) {
                logins.stop();
                return;
            }
            for (const BaseServerInfo &server : good) {
                ++loginsSent;
                const qint64 sentAt = clock.elapsed();
                requestExtraServerInfo(
                    &client, server, kPassword,
                    [&, sentAt](const QUuid &, const ExtraServerInfo &) {
                        ++loginsOk;
                        ++loginsDone;
                        worstLoginMs = std::max(worstLoginMs, clock.elapsed() - sentAt);
                    },
                    [&, sentAt](int, const QString &, AffectedEntities) {
                        ++loginsDone;
                        worstLoginMs = std::max(worstLoginMs, clock.elapsed() - sentAt);
                    },
                    5000);
            }
        });
        logins.start();
        QTimer check;
        check.setInterval(20);
        QObject::connect(&check, &QTimer::timeout, [&]() {
            if (!logins.isActive() && loginsDone == loginsSent && hostileDone == 6)
                loop.quit();
        });
        check.start();
        QTimer::singleShot(20000, &loop, &QEventLoop::quit);
        loop.exec();

        qint64 peerBytes = 0;
        if (peer.state() != QProcess::NotRunning) {
            peer.waitForReadyRead(500);
            for (const QByteArray &line : peer.readAll().split('\n')) {
                if (line.startsWith("sent "))
                    peerBytes += line.mid(5).toLongLong();
            }
            peer.kill();
            peer.waitForFinished(2000);
        }
        const QStringList reasonList = reasons.values();
        print(QStringLiteral("  %1: peer requests ended by %2 ms: %3; peer sent %4 MiB")
                  .arg(mode, -10)
                  .arg(hostileLastMs)
                  .arg(reasonList.isEmpty() ? QStringLiteral("-") : reasonList.join(QStringLiteral(", ")))
                  .arg(peerBytes / 1048576.0, 0, 'f', 1));
        print(QStringLiteral("  %1  good logins %2 of %3, slowest %4 ms; event loop worst lateness %5 ms; VmHWM %6 kB")
                  .arg(QString(), -10)
                  .arg(loginsOk)
                  .arg(loginsSent)
                  .arg(worstLoginMs)
                  .arg(worstLateness)
                  .arg(statusField("VmHWM:")));
    }
    return 0;
}

// Requests per second of curl on one connection: N requests and one, so
// that its start and its first connection cancel out.
double curlRate(const QString &configPath, const QString &singlePath, int requests)
{
    const auto seconds = [](const QString &config) {
        QElapsedTimer clock;
        clock.start();
        QProcess curl;
        curl.start(QStringLiteral("curl"), {QStringLiteral("--silent"), QStringLiteral("--fail"),
                                            QStringLiteral("--config"), config});
        if (!curl.waitForFinished(120000) || curl.exitCode() != 0)
            return -1.0;
        return clock.nsecsElapsed() / 1e9;
    };
    const double many = seconds(configPath);
    const double one = seconds(singlePath);
    return many < 0 || one < 0 ? -1.0 : (requests - 1) / (many - one);
}

// The same through HttpClient: each read sent from the answer of the one
// before, timed from the first answer on.
double clientRate(HttpClient &client, const QUrl &url, int requests, QString *error)
{
    QEventLoop loop;
    QElapsedTimer clock;
    int answered = 0;
    std::function<void()> sendNext = [&]() {
        client.sendGet(
            url,
            [&](const QByteArray &) {
                if (++answered == 1)
                    clock.start();
                if (answered == requests)
                    loop.quit();
                else
                    sendNext();
            },
            [&](const QString &reason, int status) {
                *error = QStringLiteral("%1 %2").arg(status).arg(reason);
                loop.quit();
            },
            0, HttpClient::Kind::Read);
    };
    QTimer::singleShot(120000, &loop, &QEventLoop::quit);
    sendNext();
    loop.exec();
    return answered == requests ? (requests - 1) / (clock.nsecsElapsed() / 1e9) : -1.0;
}

int runCurl(int requests, int runs)
{
    const QString host = QStringLiteral("127.0.0.90");
    const quint16 port = 8090;
    test::WebServer nginx(test::WebServer::Nginx);
    nginx.writeFile(QStringLiteral("www/api/gettime"),
                    R"({"error": "0", "errorString": "", "reply": {"utcTime": "1700000000000", )"
                    R"("timezoneId": "Europe/Berlin"}})");
    const QString site = QStringLiteral("server {\n listen %1:%2;\n root @DIR@/www;\n access_log off;\n"
                                        " keepalive_requests 10000000;\n keepalive_timeout 300s;\n"
                                        " default_type application/json;\n}\n")
                             .arg(host)
                             .arg(port);
    if (!nginx.start(site, {{host, port}})) {
        print(nginx.errorString());
        return 1;
    }
    const QString url = QStringLiteral("http://%1:%2/api/gettime").arg(host).arg(port);
    const QByteArray entry = "url = \"" + url.toLatin1() + "\"\noutput = \"/dev/null\"\n";
    nginx.writeFile(QStringLiteral("curl-many.conf"), entry.repeated(requests));
    nginx.writeFile(QStringLiteral("curl-one.conf"), entry);
    const QString many = nginx.dir() + QStringLiteral("/curl-many.conf");
    const QString one = nginx.dir() + QStringLiteral("/curl-one.conf");

    print(QStringLiteral("%1 GETs on one kept-alive connection to nginx, %2 alternating runs").arg(requests).arg(runs));
    QVector<double> ours;
    QVector<double> theirs;
    QVector<double> ratios;
    for (int run = 0; run < runs; ++run) {
        HttpClient client(nullptr);
        QString error;
        const double own = clientRate(client, QUrl(url), requests, &error);
        const double curl = curlRate(many, one, requests);
        if (own < 0 || curl < 0) {
            print(QStringLiteral("run %1 failed: %2").arg(run + 1).arg(error.isEmpty() ? QStringLiteral("curl") : error));
            return 1;
        }
        ours.append(own);
        theirs.append(curl);
        ratios.append(own / curl);
        print(QStringLiteral("run %1: client %2/s, curl %3/s, ratio %4")
                  .arg(run + 1)
                  .arg(own, 0, 'f', 0)
                  .arg(curl, 0, 'f', 0)
                  .arg(own / curl, 0, 'f', 3));
    }
    print(QStringLiteral("client: ") + spread(ours, QStringLiteral("requests/s")));
    print(QStringLiteral("curl:   ") + spread(theirs, QStringLiteral("requests/s")));
    print(QStringLiteral("client / curl: ") + spread(ratios, QString()));
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption modeOption(QStringLiteral("mode"), QStringLiteral("batch, idle, hostile or curl"),
                                        QStringLiteral("MODE"), QStringLiteral("batch"));
    const QCommandLineOption serversOption(QStringLiteral("servers"),
                                           QStringLiteral("fleet size (batch: 100, idle: 1000); curl: requests (5000)"),
                                           QStringLiteral("N"));
    const QCommandLineOption runsOption(QStringLiteral("runs"), QStringLiteral("batch runs"), QStringLiteral("R"),
                                        QStringLiteral("7"));
    parser.addOptions({modeOption, serversOption, runsOption});
    parser.process(app);
    if (!test::insidePrivateNetwork()) {
        std::fprintf(stderr, "bench_http opens sockets: run it inside scripts/netns.sh\n");
        return 2;
    }
    const QString mode = parser.value(modeOption);
    if (mode == QLatin1String("batch"))
        return runBatch(parser.isSet(serversOption) ? parser.value(serversOption).toInt() : 100,
                        std::max(1, parser.value(runsOption).toInt()));
    if (mode == QLatin1String("idle"))
        return runIdle(parser.isSet(serversOption) ? parser.value(serversOption).toInt() : 1000);
    if (mode == QLatin1String("hostile"))
        return runHostile();
    if (mode == QLatin1String("curl"))
        return runCurl(parser.isSet(serversOption) ? parser.value(serversOption).toInt() : 5000,
                       std::max(1, parser.value(runsOption).toInt()));
    std::fprintf(stderr, "unknown mode %s\n", qPrintable(mode));
    return 2;
}
