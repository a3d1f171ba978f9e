// The finder's read loop, fed through real UDP sockets on loopback: each
// section is one datagram to the finder's answering socket, or to the group
// when it starts with the line "@group". Every accepted answer is reported
// once, in order, as parsed and with its sender's address; the finder's
// signals never contradict each other (added once, changed and removed only
// while live). Needs scripts/netns.sh.
#include "discovery/servers_finder.h"
#include "fuzz_support.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QNetworkDatagram>
#include <QSet>
#include <QUdpSocket>

#include <cstdio>
#include <cstdlib>
#include <deque>

using namespace rtu;

namespace {

// Larger answers may be dropped unread; smaller ones must all arrive.
constexpr int kAlwaysReadBytes = 8192;
constexpr int kMaxDatagramBytes = 65507;
const QHostAddress kGroup(QStringLiteral("239.255.11.11"));

struct Expected
{
    BaseServerInfo record;
    int size = 0;
};

struct Harness
{
    ServersFinder::Holder finder;
    QUdpSocket peer;
    quint16 port = 0;
    QHostAddress finderAddress;
    quint16 finderPort = 0;

    std::deque<Expected> expected;
    int discovered = 0;
    QSet<QUuid> live;
    QSet<QString> unknown;

    void start();
    void onDiscovered(const BaseServerInfo &record);
    void send(const QByteArray &datagram, bool toGroup);
    void settle();
};

Harness *harness = nullptr;

void Harness::start()
{
    if (qEnvironmentVariable("TESSALY_PRIVATE_NET") != QLatin1String("1")) {
        std::fprintf(stderr, "This target opens sockets: run it inside scripts/netns.sh\n");
        std::exit(1);
    }
    QUdpSocket probe;
    FUZZ_CHECK(probe.bind(QHostAddress(QHostAddress::AnyIPv4), 0));
    port = probe.localPort();
    probe.close();
    FUZZ_CHECK(peer.bind(QHostAddress(QHostAddress::AnyIPv4), port, QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint));
    FUZZ_CHECK(peer.joinMulticastGroup(kGroup));
    peer.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 4 * 1024 * 1024);

    ServersFinderParameters parameters;
    parameters.port = port;
    parameters.cycleIntervalMs = 100;
    parameters.serverTimeoutMs = 300;
    parameters.answeringAddressTimeoutMs = 300;
    parameters.unknownTimeoutMs = 300;
    parameters.displayAddressSwitchMs = 100;
    finder = ServersFinder::create(parameters);
    QObject::connect(finder.data(), &ServersFinder::serverDiscovered,
                     [this](const BaseServerInfo &record) { onDiscovered(record); });
    QObject::connect(finder.data(), &ServersFinder::serverAdded, [this](const BaseServerInfo &record) {
        FUZZ_CHECK(!live.contains(record.id));
        live.insert(record.id);
    });
    QObject::connect(finder.data(), &ServersFinder::serverChanged,
                     [this](const BaseServerInfo &record) { FUZZ_CHECK(live.contains(record.id)); });
    QObject::connect(finder.data(), &ServersFinder::serversRemoved, [this](const IDsVector &removed) {
        FUZZ_CHECK(!removed.isEmpty());
        for (const QUuid &id : removed)
            FUZZ_CHECK(live.remove(id));
    });
    QObject::connect(finder.data(), &ServersFinder::unknownAdded, [this](const QString &address) {
        FUZZ_CHECK(!unknown.contains(address));
        unknown.insert(address);
    });
    QObject::connect(finder.data(), &ServersFinder::unknownRemoved,
                     [this](const QString &address) { FUZZ_CHECK(unknown.remove(address)); });

    // The finder's first request tells where its answers go.
    QElapsedTimer clock;
    clock.start();
    while (finderPort == 0) {
        FUZZ_CHECK(clock.elapsed() < 10000);
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        while (peer.hasPendingDatagrams()) {
            const QNetworkDatagram request = peer.receiveDatagram();
            if (request.senderPort() != port) {
                finderAddress = request.senderAddress();
                finderPort = quint16(request.senderPort());
            }
        }
    }
}

void Harness::onDiscovered(const BaseServerInfo &record)
{
    ++discovered;
    FUZZ_CHECK(record.hostAddress == finderAddress.toString());
    FUZZ_CHECK(record.displayAddress.isEmpty());
    while (!expected.empty() && expected.front().size > kAlwaysReadBytes
           && !fuzz::sameAnswer(expected.front().record, record))
        expected.pop_front();
    FUZZ_CHECK(!expected.empty());
    FUZZ_CHECK(fuzz::sameAnswer(expected.front().record, record));
    expected.pop_front();
}

void Harness::send(const QByteArray &datagram, bool toGroup)
{
    if (datagram.size() > kMaxDatagramBytes)
        return;
    if (toGroup) {
        peer.writeDatagram(datagram, kGroup, port);
        return;
    }
    if (peer.writeDatagram(datagram, finderAddress, finderPort) != datagram.size())
        return;
    if (const std::optional<BaseServerInfo> record = ServersFinder::parseAnswer(datagram))
        expected.push_back(Expected{*record, int(datagram.size())});
}

// Runs the event loop until every answer that must arrive has been reported.
void Harness::settle()
{
    QElapsedTimer clock;
    clock.start();
    int quietTurns = 0;
    while (quietTurns < 2) {
        const int before = discovered;
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        const bool waiting = std::any_of(expected.begin(), expected.end(),
                                         [](const Expected &item) { return item.size <= kAlwaysReadBytes; });
        quietTurns = discovered == before && !waiting ? quietTurns + 1 : 0;
        FUZZ_CHECK(clock.elapsed() < 5000);
    }
    expected.clear();
    while (peer.hasPendingDatagrams())
        peer.receiveDatagram();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::ensureApplication();
    harness = new Harness;
    harness->start();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QList<QByteArray> parts =
        fuzz::sections(QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(size)));
    // The socket's buffer holds a few large datagrams only: read between.
    int unread = 0;
    for (const QByteArray &part : parts) {
        const bool toGroup = part.startsWith("@group\n");
        harness->send(toGroup ? part.mid(7) : part, toGroup);
        unread += part.size();
        if (unread > 32 * 1024) {
            harness->settle();
            unread = 0;
        }
    }
    harness->settle();
    return 0;
}
