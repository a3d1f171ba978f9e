// What the servers selection model costs per discovery cycle with a large
// fleet, and the peak memory of the process. Opens sockets (the model's logins
// and, in the real run, the fleet): run it inside the private namespace.
//   scripts/netns.sh build/bin/bench_selection_model --mode feed [--servers N] [--cycles C]
//   scripts/netns.sh build/bin/bench_selection_model --mode fleet [--servers N] [--seconds S]
//   scripts/netns.sh build/bin/bench_selection_model --mode scale [--servers N] [--step K]

#include "discovery/servers_finder.h"
#include "models/servers_selection_model.h"
#include "peer_sim.h"
#include "platform/multicast_membership.h"
#include "private_network.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QUdpSocket>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>

using namespace rtu;

namespace {

void print(const QString &line)
{
    std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
}

long peakRssKb()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

double cpuMs()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec * 1e3 + usage.ru_utime.tv_usec / 1e3 + usage.ru_stime.tv_sec * 1e3
        + usage.ru_stime.tv_usec / 1e3;
}

QString summary(QVector<double> samples)
{
    if (samples.isEmpty())
        return QStringLiteral("no samples");
    std::sort(samples.begin(), samples.end());
    double total = 0;
    for (double sample : samples)
        total += sample;
    return QStringLiteral("median %1 ms, mean %2 ms, max %3 ms over %4 cycles")
        .arg(samples.at(samples.size() / 2), 0, 'f', 3)
        .arg(total / samples.size(), 0, 'f', 3)
        .arg(samples.last(), 0, 'f', 3)
        .arg(samples.size());
}

double elapsedMs(const QElapsedTimer &timer)
{
    return timer.nsecsElapsed() / 1e6;
}

// Reading every role of every row, as a view does after a relayout.
double scanRows(const ServersSelectionModel &model)
{
    QElapsedTimer timer;
    timer.start();
    int valid = 0;
    for (int row = 0; row < model.rowCount(); ++row) {
        for (int role = ServersSelectionModel::ItemTypeRole; role < ServersSelectionModel::LastRole; ++role)
            valid += model.data(model.index(row), role).isValid() ? 1 : 0;
    }
    const double ms = elapsedMs(timer);
    Q_UNUSED(valid)
    return ms;
}

// Calls the model's slots directly, as discovery does once per cycle, without
// any network traffic answering.
int feed(int servers, int systems, int cycles)
{
    ServersSelectionModel model(nullptr);
    QVector<BaseServerInfo> fleet;
    for (int index = 0; index < servers; ++index) {
        BaseServerInfo info;
        info.id = QUuid::createUuid();
        info.name = QStringLiteral("Server %1").arg(index + 1, 4, 10, QLatin1Char('0'));
        info.systemName = QStringLiteral("System %1").arg(index % systems + 1, 2, 10, QLatin1Char('0'));
        info.hostAddress = QStringLiteral("127.0.0.1");
        info.displayAddress = QStringLiteral("10.%1.%2.1").arg(index / 250).arg(index % 250);
        info.port = 1; // nothing listens: the automatic logins stay pending
        info.flags = 3;
        fleet.append(info);
    }

    QElapsedTimer timer;
    timer.start();
    for (const BaseServerInfo &info : qAsConst(fleet))
        model.addServer(info);
    print(QStringLiteral("add %1 servers in %2 systems: %3 ms")
              .arg(servers)
              .arg(systems)
              .arg(elapsedMs(timer), 0, 'f', 3));

    timer.restart();
    for (int index = 0; index < servers; ++index) {
        model.updateInterfacesInfo(fleet[index].id, fleet[index].hostAddress,
                                   {InterfaceInfo(QStringLiteral("eth0"), fleet[index].displayAddress,
                                                  QStringLiteral("02:00:00:00:%1:%2").arg(index / 256).arg(index % 256),
                                                  QStringLiteral("255.0.0.0"), QString(), QString(), Qt::Unchecked)});
    }
    model.setAllItemSelected(false);
    print(QStringLiteral("log in %1 servers through the update slots: %2 ms")
              .arg(servers)
              .arg(elapsedMs(timer), 0, 'f', 3));

    QVector<double> discovered, unchanged, moved, scans;
    for (int cycle = 0; cycle < cycles; ++cycle) {
        timer.restart();
        for (const BaseServerInfo &info : qAsConst(fleet))
            model.serverDiscovered(info);
        discovered.append(elapsedMs(timer));

        timer.restart();
        for (const BaseServerInfo &info : qAsConst(fleet))
            model.changeServer(info);
        unchanged.append(elapsedMs(timer));

        // The displayed address of every server switches: a data change each.
        timer.restart();
        for (BaseServerInfo &info : fleet) {
            const bool atHost = info.displayAddress == info.hostAddress;
            info.displayAddress = atHost ? QStringLiteral("10.0.0.1") : info.hostAddress;
            model.changeServer(info);
        }
        moved.append(elapsedMs(timer));
        scans.append(scanRows(model));
    }
    print(QStringLiteral("%1 x serverDiscovered per cycle (throttled): %2").arg(servers).arg(summary(discovered)));
    print(QStringLiteral("%1 x changeServer, nothing changed: %2").arg(servers).arg(summary(unchanged)));
    print(QStringLiteral("%1 x changeServer, displayed address switched: %2").arg(servers).arg(summary(moved)));
    print(QStringLiteral("reading all %1 roles of all %2 rows: %3")
              .arg(ServersSelectionModel::LastRole - ServersSelectionModel::ItemTypeRole)
              .arg(model.rowCount())
              .arg(summary(scans)));

    // A cycle in which every server is due for its refresh: one request each.
    ServersSelectionTiming noThrottle;
    noThrottle.refreshThrottleMs = 0;
    ServersSelectionModel refreshing(nullptr, noThrottle);
    for (const BaseServerInfo &info : qAsConst(fleet))
        refreshing.addServer(info);
    timer.restart();
    for (const BaseServerInfo &info : qAsConst(fleet))
        refreshing.serverDiscovered(info);
    print(QStringLiteral("%1 x serverDiscovered, all due for refresh (requests queued): %2 ms")
              .arg(servers)
              .arg(elapsedMs(timer), 0, 'f', 3));

    timer.restart();
    model.setAllItemSelected(true);
    print(QStringLiteral("select all %1 servers (one refresh batch queued): %2 ms")
              .arg(model.selectedCount())
              .arg(elapsedMs(timer), 0, 'f', 3));
    timer.restart();
    model.setAllItemSelected(false);
    print(QStringLiteral("deselect all: %1 ms").arg(elapsedMs(timer), 0, 'f', 3));

    print(QStringLiteral("peak RSS: %1 KiB").arg(peakRssKb()));
    return 0;
}

// The model behind a real finder and a simulated fleet that answers every
// cycle and logs in over HTTP; the time spent inside the model's slots is
// measured per cycle, and the process's CPU time beside it.
int runFleet(int servers, int systems, int seconds)
{
    ServersFinderParameters parameters;
    QUdpSocket probe;
    probe.bind(QHostAddress(QHostAddress::AnyIPv4), 0);
    parameters.port = probe.localPort();
    probe.close();

    test::PeerSim sim;
    QElapsedTimer timer;
    timer.start();
    if (!sim.start("{}", {QStringLiteral("--generate"), QString::number(servers), QStringLiteral("--systems"),
                          QString::number(systems), QStringLiteral("--quiet-discovery"),
                          QStringLiteral("--discovery-port"), QString::number(parameters.port)})) {
        std::fprintf(stderr, "fleet did not start: %s\n", qPrintable(sim.errorString()));
        return 1;
    }
    print(QStringLiteral("fleet of %1 servers with HTTP up in %2 ms").arg(servers).arg(timer.elapsed()));

    ServersSelectionModel model(nullptr);
    ServersFinder::Holder finder = ServersFinder::create(parameters);
    qint64 slotNs = 0;
    int calls = 0;
    QElapsedTimer slotTimer;
    auto timed = [&](auto call) {
        slotTimer.start();
        call();
        slotNs += slotTimer.nsecsElapsed();
        ++calls;
    };
    QObject::connect(finder.data(), &ServersFinder::serverAdded, &model,
                     [&](const BaseServerInfo &info) { timed([&] { model.addServer(info); }); });
    QObject::connect(finder.data(), &ServersFinder::serverChanged, &model,
                     [&](const BaseServerInfo &info) { timed([&] { model.changeServer(info); }); });
    QObject::connect(finder.data(), &ServersFinder::serversRemoved, &model,
                     [&](const IDsVector &ids) { timed([&] { model.removeServers(ids); }); });
    QObject::connect(finder.data(), &ServersFinder::unknownAdded, &model,
                     [&](const QString &address) { timed([&] { model.unknownAdded(address); }); });
    QObject::connect(finder.data(), &ServersFinder::unknownRemoved, &model,
                     [&](const QString &address) { timed([&] { model.unknownRemoved(address); }); });
    QObject::connect(finder.data(), &ServersFinder::serverDiscovered, &model,
                     [&](const BaseServerInfo &info) { timed([&] { model.serverDiscovered(info); }); });

    auto loggedIn = [&model]() {
        int count = 0;
        for (int row = 0; row < model.rowCount(); ++row)
            count += model.data(model.index(row), ServersSelectionModel::LoggedInRole).toBool() ? 1 : 0;
        return count;
    };

    QVector<double> slotPerCycle, cpuPerCycle;
    double lastCpu = cpuMs();
    qint64 lastSlotNs = 0;
    int lastCalls = 0;
    int second = 0;
    QElapsedTimer clock;
    clock.start();
    QTimer sampler;
    sampler.setInterval(parameters.cycleIntervalMs);
    QObject::connect(&sampler, &QTimer::timeout, [&]() {
        const double cpu = cpuMs();
        const double slotMs = (slotNs - lastSlotNs) / 1e6;
        print(QStringLiteral("t=%1 s: servers %2, logged in %3, model slots %4 calls %5 ms, process CPU %6 ms")
                  .arg(clock.elapsed() / 1000.0, 0, 'f', 1)
                  .arg(model.serversCount())
                  .arg(loggedIn())
                  .arg(calls - lastCalls)
                  .arg(slotMs, 0, 'f', 3)
                  .arg(cpu - lastCpu, 0, 'f', 1));
        // The first cycles are the start-up wave; the steady state follows.
        if (++second > 3) {
            slotPerCycle.append(slotMs);
            cpuPerCycle.append(cpu - lastCpu);
        }
        lastCpu = cpu;
        lastSlotNs = slotNs;
        lastCalls = calls;
    });
    sampler.start();
    QTimer::singleShot(seconds * 1000, QCoreApplication::instance(), &QCoreApplication::quit);
    QCoreApplication::exec();

    print(QStringLiteral("steady state, time in the model's slots per cycle: %1").arg(summary(slotPerCycle)));
    print(QStringLiteral("steady state, process CPU per cycle (finder, HTTP, model): %1").arg(summary(cpuPerCycle)));
    print(QStringLiteral("servers listed %1, logged in %2, rows %3")
              .arg(model.serversCount())
              .arg(loggedIn())
              .arg(model.rowCount()));
    print(QStringLiteral("peak RSS: %1 KiB").arg(peakRssKb()));
    return 0;
}

// What a host inventing ids costs per step of new ids as the list grows:
// through the finder (answers on the wire to reports) and through the model
// (one system name for all, and a name of its own for each). The limits are
// raised above the sizes measured; logins stay queued, since the event loop
// does not run while the model is fed.
int scale(int total, int step)
{
    auto answer = [](const QUuid &id, const QString &systemName) {
        return QJsonDocument(QJsonObject{{QStringLiteral("application"), QStringLiteral("Media Server")},
                                         {QStringLiteral("id"), id.toString()},
                                         {QStringLiteral("name"), QStringLiteral("Fake")},
                                         {QStringLiteral("systemName"), systemName},
                                         {QStringLiteral("port"), 1},
                                         {QStringLiteral("flags"), QString()}})
            .toJson(QJsonDocument::Compact);
    };

    // The finder: a fake host on the group learns where the finder asks from,
    // then answers with new ids, one step at a time.
    ServersFinderParameters parameters;
    QUdpSocket host;
    host.bind(QHostAddress(QHostAddress::AnyIPv4), 0, QUdpSocket::ShareAddress);
    parameters.port = host.localPort();
    parameters.cycleIntervalMs = 200;
    parameters.serverTimeoutMs = 3600 * 1000;
    parameters.answeringAddressTimeoutMs = 3600 * 1000;
    parameters.maxServers = total + step;
    platform::joinMulticastGroup(host.socketDescriptor(), parameters.multicastGroup, QStringLiteral("127.0.0.1"));
    QHostAddress finderAddress;
    quint16 finderPort = 0;
    QObject::connect(&host, &QUdpSocket::readyRead, [&]() {
        while (host.hasPendingDatagrams()) {
            QHostAddress sender;
            quint16 port = 0;
            QByteArray datagram(int(host.pendingDatagramSize()), '\0');
            host.readDatagram(datagram.data(), datagram.size(), &sender, &port);
            if (datagram == parameters.request) {
                finderAddress = sender;
                finderPort = port;
            }
        }
    });
    ServersFinder::Holder finder = ServersFinder::create(parameters);
    int reported = 0;
    QObject::connect(finder.data(), &ServersFinder::serverAdded, [&reported](const BaseServerInfo &) { ++reported; });
    QElapsedTimer timer;
    timer.start();
    while (finderPort == 0 && timer.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    QUdpSocket answering;
    answering.bind(QHostAddress(QStringLiteral("127.0.0.9")), 0);
    print(QStringLiteral("finder: ms per %1 new ids from one host, by ids known after the step").arg(step));
    for (int known = step; known <= total; known += step) {
        timer.restart();
        for (int index = 0; index < step; ++index)
            answering.writeDatagram(answer(QUuid::createUuid(), QStringLiteral("Flood")), finderAddress, finderPort);
        while (reported < known && timer.elapsed() < 60000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        print(QStringLiteral("  %1: %2 ms%3")
                  .arg(known, 6)
                  .arg(elapsedMs(timer), 9, 'f', 1)
                  .arg(reported < known ? QStringLiteral(" (only %1 reported)").arg(reported) : QString()));
    }

    for (const bool distinct : {false, true}) {
        ServersSelectionTiming timing;
        timing.maxServers = total + step;
        ServersSelectionModel model(nullptr, timing);
        print(QStringLiteral("model, %1: ms per %2 new ids, by ids listed after the step")
                  .arg(distinct ? QStringLiteral("a system name each") : QStringLiteral("one system name"))
                  .arg(step));
        int index = 0;
        for (int known = step; known <= total; known += step) {
            QVector<BaseServerInfo> fresh;
            for (; index < known; ++index) {
                BaseServerInfo info;
                info.id = QUuid::createUuid();
                info.name = QStringLiteral("Fake");
                info.systemName = distinct ? QStringLiteral("System %1").arg(qHash(info.id)) : QStringLiteral("Flood");
                info.hostAddress = QStringLiteral("127.0.0.9");
                info.port = 1;
                fresh.append(info);
            }
            timer.restart();
            for (const BaseServerInfo &info : qAsConst(fresh))
                model.addServer(info);
            print(QStringLiteral("  %1: %2 ms (rows %3)")
                      .arg(known, 6)
                      .arg(elapsedMs(timer), 9, 'f', 1)
                      .arg(model.rowCount()));
        }
    }
    print(QStringLiteral("peak RSS: %1 KiB").arg(peakRssKb()));
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption modeOption(QStringLiteral("mode"), QStringLiteral("feed, fleet or scale"),
                                        QStringLiteral("mode"), QStringLiteral("feed"));
    const QCommandLineOption serversOption(QStringLiteral("servers"), QStringLiteral("fleet size"), QStringLiteral("n"),
                                           QStringLiteral("1000"));
    const QCommandLineOption systemsOption(QStringLiteral("systems"), QStringLiteral("systems"), QStringLiteral("k"),
                                           QStringLiteral("20"));
    const QCommandLineOption cyclesOption(QStringLiteral("cycles"), QStringLiteral("fed cycles"), QStringLiteral("c"),
                                          QStringLiteral("50"));
    const QCommandLineOption secondsOption(QStringLiteral("seconds"), QStringLiteral("length of the fleet run"),
                                           QStringLiteral("s"), QStringLiteral("50"));
    const QCommandLineOption stepOption(QStringLiteral("step"), QStringLiteral("new ids per timed step (scale)"),
                                        QStringLiteral("k"), QStringLiteral("2000"));
    parser.addOptions({modeOption, serversOption, systemsOption, cyclesOption, secondsOption, stepOption});
    parser.process(application);

    if (!test::insidePrivateNetwork()) {
        std::fprintf(stderr, "bench_selection_model opens sockets: run it inside scripts/netns.sh\n");
        return 2;
    }
    const int servers = parser.value(serversOption).toInt();
    const int systems = qMax(1, parser.value(systemsOption).toInt());
    if (parser.value(modeOption) == QLatin1String("fleet"))
        return runFleet(servers, systems, parser.value(secondsOption).toInt());
    if (parser.value(modeOption) == QLatin1String("scale"))
        return scale(servers, qMax(1, parser.value(stepOption).toInt()));
    return feed(servers, systems, parser.value(cyclesOption).toInt());
}
