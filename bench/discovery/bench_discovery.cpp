// How long the finder takes to report a whole simulated fleet, and whether any
// answer is lost on the way. Runs only inside the private network namespace:
//   scripts/netns.sh build/bin/bench_discovery [--servers N] [--buffer BYTES] [--cycles C] [--work-us US]

#include "discovery/servers_finder.h"
#include "peer_sim.h"
#include "platform/multicast_membership.h"
#include "private_network.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QSet>
#include <QTextStream>
#include <QTimer>
#include <QUdpSocket>

#include <cstdio>
#include <ctime>

using namespace rtu;

namespace {

// Counters of the namespace's UDP layer: drops show up as RcvbufErrors.
QHash<QString, qint64> udpCounters()
{
    QFile file(QStringLiteral("/proc/net/snmp"));
    QHash<QString, qint64> counters;
    if (!file.open(QIODevice::ReadOnly))
        return counters;
    QStringList header;
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (const QByteArray &line : lines) {
        if (!line.startsWith("Udp: "))
            continue;
        const QStringList fields = QString::fromLatin1(line).split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (header.isEmpty()) {
            header = fields;
            continue;
        }
        for (int i = 1; i < fields.size() && i < header.size(); ++i)
            counters.insert(header.at(i), fields.at(i).toLongLong());
    }
    return counters;
}

int grantedReceiveBuffer(int requested)
{
    QUdpSocket probe;
    probe.bind(QHostAddress(QHostAddress::LocalHost), 0);
    if (requested > 0)
        probe.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, requested);
    return probe.socketOption(QAbstractSocket::ReceiveBufferSizeSocketOption).toInt();
}

void print(const QString &line)
{
    std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption serversOption(QStringLiteral("servers"), QStringLiteral("fleet size"),
                                           QStringLiteral("N"), QStringLiteral("1000"));
    const QCommandLineOption bufferOption(QStringLiteral("buffer"),
                                          QStringLiteral("receive buffer to ask for (0: system default)"),
                                          QStringLiteral("BYTES"),
                                          QString::number(ServersFinderParameters().receiveBufferBytes));
    const QCommandLineOption cyclesOption(QStringLiteral("cycles"), QStringLiteral("requests to wait for"),
                                          QStringLiteral("C"), QStringLiteral("3"));
    const QCommandLineOption workOption(QStringLiteral("work-us"),
                                        QStringLiteral("time a receiver spends on each reported answer"),
                                        QStringLiteral("US"), QStringLiteral("0"));
    parser.addOptions({serversOption, bufferOption, cyclesOption, workOption});
    parser.process(app);
    const int servers = parser.value(serversOption).toInt();
    const int cycles = qMax(2, parser.value(cyclesOption).toInt());
    const qint64 workNs = parser.value(workOption).toLongLong() * 1000;

    if (!test::insidePrivateNetwork()) {
        std::fprintf(stderr, "bench_discovery opens sockets: run it inside scripts/netns.sh\n");
        return 2;
    }

    ServersFinderParameters parameters;
    parameters.receiveBufferBytes = parser.value(bufferOption).toInt();

    test::PeerSim fleet;
    QElapsedTimer startUp;
    startUp.start();
    if (!fleet.start("{}", {QStringLiteral("--generate"), QString::number(servers), QStringLiteral("--systems"),
                            QString::number(qMax(1, servers / 20)), QStringLiteral("--no-http"),
                            QStringLiteral("--quiet-discovery")})) {
        std::fprintf(stderr, "fleet did not start: %s\n", qPrintable(fleet.errorString()));
        return 1;
    }
    print(QStringLiteral("fleet of %1 servers up in %2 ms").arg(servers).arg(startUp.elapsed()));
    print(QStringLiteral("receive buffer: asked %1, granted %2 bytes")
              .arg(parameters.receiveBufferBytes)
              .arg(grantedReceiveBuffer(parameters.receiveBufferBytes)));

    // Hears what the finder sends to the group, as any host on the network would.
    QUdpSocket capture;
    if (!capture.bind(QHostAddress(QHostAddress::AnyIPv4), parameters.port, QUdpSocket::ShareAddress)
        || !platform::joinMulticastGroup(capture.socketDescriptor(), parameters.multicastGroup,
                                         QStringLiteral("127.0.0.1"))) {
        std::fprintf(stderr, "cannot listen on the group\n");
        return 1;
    }

    const QHash<QString, qint64> before = udpCounters();
    QElapsedTimer clock;
    QVector<qint64> requestTimes;
    QStringList requestSummaries;
    QString firstSender;
    QSet<QUuid> seen;
    int reportedBeforeSecondRequest = -1;
    int discovered = 0;
    int added = 0;
    int changed = 0;
    int removals = 0;
    qint64 firstAnswerMs = -1;
    qint64 allFoundMs = -1;

    clock.start();
    const std::clock_t cpuStart = std::clock();
    ServersFinder::Holder finder = ServersFinder::create(parameters);
    QObject::connect(finder.data(), &ServersFinder::serverDiscovered, [&](const BaseServerInfo &info) {
        ++discovered;
        // Stands for the selection model's work on each answer.
        QElapsedTimer busy;
        busy.start();
        while (busy.nsecsElapsed() < workNs) {
        }
        if (firstAnswerMs < 0)
            firstAnswerMs = clock.elapsed();
        seen.insert(info.id);
    });
    QObject::connect(finder.data(), &ServersFinder::serverAdded, [&](const BaseServerInfo &) {
        if (++added == servers)
            allFoundMs = clock.elapsed();
    });
    QObject::connect(finder.data(), &ServersFinder::serverChanged, [&](const BaseServerInfo &) { ++changed; });
    QObject::connect(finder.data(), &ServersFinder::serversRemoved, [&](const IDsVector &ids) { removals += ids.size(); });

    QObject::connect(&capture, &QUdpSocket::readyRead, [&] {
        while (capture.hasPendingDatagrams()) {
            QHostAddress sender;
            quint16 port = 0;
            QByteArray datagram(int(capture.pendingDatagramSize()), '\0');
            capture.readDatagram(datagram.data(), datagram.size(), &sender, &port);
            if (datagram != parameters.request)
                continue;
            // With several local addresses a cycle sends several requests:
            // cycles are counted on the first sender.
            const QString from = QStringLiteral("%1:%2").arg(sender.toString()).arg(port);
            requestSummaries.append(QStringLiteral("%1 bytes from %2").arg(datagram.size()).arg(from));
            if (firstSender.isEmpty())
                firstSender = from;
            if (from != firstSender)
                continue;
            requestTimes.append(clock.elapsed());
            if (requestTimes.size() == 2)
                reportedBeforeSecondRequest = seen.size();
            if (requestTimes.size() == cycles)
                QTimer::singleShot(parameters.cycleIntervalMs / 2, &app, &QCoreApplication::quit);
        }
    });
    QTimer::singleShot((cycles + 3) * parameters.cycleIntervalMs, &app, &QCoreApplication::quit);
    app.exec();

    const QHash<QString, qint64> after = udpCounters();
    const qint64 cpuMs = qint64(std::clock() - cpuStart) * 1000 / CLOCKS_PER_SEC;
    const qint64 runMs = clock.elapsed();
    finder.reset();
    const QJsonObject stats = fleet.stats();

    QStringList intervals;
    for (int i = 1; i < requestTimes.size(); ++i)
        intervals.append(QString::number(requestTimes.at(i) - requestTimes.at(i - 1)));
    print(QStringLiteral("requests heard on the group: %1 (%2); cycle intervals ms: %3")
              .arg(requestSummaries.size())
              .arg(requestSummaries.join(QStringLiteral(", ")))
              .arg(intervals.join(QLatin1Char(' '))));
    if (!requestTimes.isEmpty())
        print(QStringLiteral("first request heard at %1 ms after creation").arg(requestTimes.first()));
    print(QStringLiteral("first answer reported at %1 ms, all %2 servers reported at %3 ms after creation")
              .arg(firstAnswerMs)
              .arg(servers)
              .arg(allFoundMs));
    if (!requestTimes.isEmpty() && allFoundMs >= 0)
        print(QStringLiteral("=> from first request heard to all reported: %1 ms")
                  .arg(allFoundMs - requestTimes.first()));
    print(QStringLiteral("distinct servers reported before the second cycle: %1 of %2")
              .arg(reportedBeforeSecondRequest)
              .arg(servers));
    const qint64 answersSent = stats.value(QStringLiteral("answers")).toVariant().toLongLong();
    print(QStringLiteral("fleet: %1 requests heard, %2 answers sent, %3 send failures")
              .arg(stats.value(QStringLiteral("requests")).toVariant().toLongLong())
              .arg(answersSent)
              .arg(stats.value(QStringLiteral("sendFailures")).toVariant().toLongLong()));
    print(QStringLiteral("finder: %1 answers reported, lost %2; %3 added, %4 changed, %5 removed")
              .arg(discovered)
              .arg(answersSent - discovered)
              .arg(added)
              .arg(changed)
              .arg(removals));
    print(QStringLiteral("kernel UDP: RcvbufErrors +%1, InErrors +%2, InDatagrams +%3")
              .arg(after.value(QStringLiteral("RcvbufErrors")) - before.value(QStringLiteral("RcvbufErrors")))
              .arg(after.value(QStringLiteral("InErrors")) - before.value(QStringLiteral("InErrors")))
              .arg(after.value(QStringLiteral("InDatagrams")) - before.value(QStringLiteral("InDatagrams"))));
    print(QStringLiteral("CPU time of this process (finder and capture): %1 ms in %2 ms, %3 cycles")
              .arg(cpuMs)
              .arg(runMs)
              .arg(requestTimes.size()));
    return (allFoundMs >= 0 && answersSent == discovered) ? 0 : 1;
}
