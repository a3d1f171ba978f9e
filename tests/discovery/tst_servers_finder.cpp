#include "core/constants.h"
#include "discovery/servers_finder.h"
#include "peer_sim.h"
#include "platform/local_addresses.h"
#include "platform/multicast_membership.h"
#include "private_network.h"

#include <QtTest>

#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkInterface>
#include <QProcess>
#include <QScopeGuard>
#include <QUdpSocket>

using namespace rtu;

namespace {

QByteArray answerText(const QUuid &id, const QString &name, const QString &flags = QString(),
                      const QString &systemName = QStringLiteral("North"), int port = 7001)
{
    const QJsonObject description{{QStringLiteral("application"), QStringLiteral("Media Server")},
                                  {QStringLiteral("id"), id.toString()},
                                  {QStringLiteral("name"), name},
                                  {QStringLiteral("systemName"), systemName},
                                  {QStringLiteral("port"), port},
                                  {QStringLiteral("flags"), flags}};
    return QJsonDocument(description).toJson(QJsonDocument::Compact);
}

// Servers on 127.0.0.x: one socket on the group hears the requests, and every
// answering address replies to the asker from its own socket.
class FakeServers : public QObject
{
public:
    explicit FakeServers(const ServersFinderParameters &parameters) : m_request(parameters.request)
    {
        QVERIFY(m_receiver.bind(QHostAddress::AnyIPv4, parameters.port, QUdpSocket::ShareAddress));
        QVERIFY(platform::joinMulticastGroup(m_receiver.socketDescriptor(), parameters.multicastGroup,
                                             QStringLiteral("127.0.0.1")));
        connect(&m_receiver, &QUdpSocket::readyRead, this, &FakeServers::answer);
    }

    // An empty answer leaves the address silent.
    void setAnswer(const QString &address, const QByteArray &answer)
    {
        QUdpSocket *&socket = m_sockets[address];
        if (!socket) {
            socket = new QUdpSocket(this);
            QVERIFY(socket->bind(QHostAddress(address), 0));
        }
        m_answers[address] = answer;
    }

    void setSilent(const QString &address) { m_answers[address].clear(); }

    // Sends straight to the socket from which the finder's requests came.
    void sendToFinder(const QString &from, const QByteArray &datagram)
    {
        setAnswer(from, m_answers.value(from));
        QVERIFY(m_finderPort != 0);
        QCOMPARE(m_sockets[from]->writeDatagram(datagram, m_finderAddress, m_finderPort), qint64(datagram.size()));
    }

    int finderRequests() const { return m_finderRequests; }
    const QSet<QString> &askers() const { return m_askers; }

private:
    void answer()
    {
        while (m_receiver.hasPendingDatagrams()) {
            QHostAddress sender;
            quint16 port = 0;
            QByteArray datagram(int(m_receiver.pendingDatagramSize()), '\0');
            m_receiver.readDatagram(datagram.data(), datagram.size(), &sender, &port);
            if (datagram != m_request)
                continue;
            m_askers.insert(sender.toString());
            if (sender == QHostAddress(QHostAddress::LocalHost)) {
                m_finderAddress = sender;
                m_finderPort = port;
                ++m_finderRequests;
            }
            for (auto it = m_answers.cbegin(); it != m_answers.cend(); ++it) {
                if (!it.value().isEmpty())
                    m_sockets[it.key()]->writeDatagram(it.value(), sender, port);
            }
        }
    }

    const QByteArray m_request;
    QUdpSocket m_receiver;
    QHash<QString, QUdpSocket *> m_sockets;
    QMap<QString, QByteArray> m_answers; // ordered: answers leave in address order
    QHostAddress m_finderAddress;
    quint16 m_finderPort = 0;
    int m_finderRequests = 0;
    QSet<QString> m_askers;
};

// Everything the finder said, in order.
struct Recorder
{
    explicit Recorder(ServersFinder *finder)
    {
        QObject::connect(finder, &ServersFinder::serverDiscovered, [this](const BaseServerInfo &info) {
            discovered.append(info);
            ++discoveredById[info.id];
        });
        // Each add or change must follow the discovery of that same answer.
        const auto follows = [this](const BaseServerInfo &info) {
            return !discovered.isEmpty() && discovered.last().id == info.id
                   && discovered.last().hostAddress == info.hostAddress;
        };
        QObject::connect(finder, &ServersFinder::serverAdded, [this, follows](const BaseServerInfo &info) {
            added.append(info);
            outOfOrder += !follows(info);
        });
        QObject::connect(finder, &ServersFinder::serverChanged, [this, follows](const BaseServerInfo &info) {
            changed.append(info);
            outOfOrder += !follows(info);
        });
        QObject::connect(finder, &ServersFinder::serversRemoved,
                         [this](const IDsVector &ids) { removed.append(ids); });
        QObject::connect(finder, &ServersFinder::unknownAdded, [this](const QString &ip) { unknownAdded.append(ip); });
        QObject::connect(finder, &ServersFinder::unknownRemoved,
                         [this](const QString &ip) { unknownRemoved.append(ip); });
        QObject::connect(finder, &ServersFinder::serverConflictChanged,
                         [this](const QUuid &id, const QStringList &addresses) { conflicts[id].append(addresses); });
    }

    bool discoveredFrom(const QUuid &id, const QString &address) const
    {
        return std::any_of(discovered.begin(), discovered.end(), [&](const BaseServerInfo &info) {
            return info.id == id && info.hostAddress == address;
        });
    }

    QVector<BaseServerInfo> changesOf(const QUuid &id) const
    {
        QVector<BaseServerInfo> result;
        for (const BaseServerInfo &info : changed) {
            if (info.id == id)
                result.append(info);
        }
        return result;
    }

    QVector<BaseServerInfo> discovered;
    QHash<QUuid, int> discoveredById;
    QHash<QUuid, QVector<QStringList>> conflicts;
    int outOfOrder = 0;
    QVector<BaseServerInfo> added;
    QVector<BaseServerInfo> changed;
    QVector<IDsVector> removed;
    QStringList unknownAdded;
    QStringList unknownRemoved;
};

const int kWaitMs = 8000;

// Runs an action when the event posted to it arrives.
class TurnEnd : public QObject
{
public:
    explicit TurnEnd(std::function<void()> action) : m_action(std::move(action)) {}

    bool event(QEvent *event) override
    {
        if (event->type() != QEvent::User)
            return QObject::event(event);
        m_action();
        return true;
    }

private:
    std::function<void()> m_action;
};

} // namespace

class TestServersFinder : public QObject
{
    Q_OBJECT

private:
    ServersFinderParameters m_parameters;
    ServersFinder::Holder m_finder;
    QScopedPointer<Recorder> m_recorder;
    QScopedPointer<FakeServers> m_servers;

    // Lets the finder hear a few more answers of a server.
    void waitForAnswers(const QUuid &id, int count)
    {
        const int target = m_recorder->discoveredById.value(id) + count;
        QTRY_VERIFY_WITH_TIMEOUT(m_recorder->discoveredById.value(id) >= target, kWaitMs);
    }

    // A fresh finder and fake servers on other parameters.
    void restartWith(const ServersFinderParameters &parameters)
    {
        m_servers.reset(new FakeServers(parameters));
        m_finder = ServersFinder::create(parameters);
        m_recorder.reset(new Recorder(m_finder.data()));
    }

    void sendRequestFrom(QUdpSocket &asker)
    {
        QCOMPARE(asker.writeDatagram(m_parameters.request, QHostAddress(m_parameters.multicastGroup),
                                     m_parameters.port),
                 qint64(m_parameters.request.size()));
    }

private slots:
    void initTestCase()
    {
        TESSALY_REQUIRE_PRIVATE_NETWORK();

        // A port of our own, so finders of other tests in the namespace stay out.
        QUdpSocket probe;
        QVERIFY(probe.bind(QHostAddress(QHostAddress::AnyIPv4), 0));
        m_parameters.port = probe.localPort();
        m_parameters.cycleIntervalMs = 100;
        m_parameters.serverTimeoutMs = 1000;
        m_parameters.answeringAddressTimeoutMs = 1000;
        m_parameters.displayAddressSwitchMs = 800;
        m_parameters.unknownTimeoutMs = 1500;
    }

    void init()
    {
        m_servers.reset(new FakeServers(m_parameters));
        m_finder = ServersFinder::create(m_parameters);
        m_recorder.reset(new Recorder(m_finder.data()));
    }

    void cleanup()
    {
        m_recorder.reset();
        m_finder.reset();
        m_servers.reset();
    }

    void serverAppearsChangesAndFallsSilent()
    {
        const QUuid stays = QUuid::createUuid();
        const QUuid first = QUuid::createUuid();
        const QUuid second = QUuid::createUuid();
        m_servers->setAnswer(QStringLiteral("127.0.0.2"), answerText(stays, QStringLiteral("Stays")));
        m_servers->setAnswer(QStringLiteral("127.0.0.3"), answerText(first, QStringLiteral("First")));
        m_servers->setAnswer(QStringLiteral("127.0.0.4"), answerText(second, QStringLiteral("Second")));

        QTRY_COMPARE_WITH_TIMEOUT(m_recorder->added.size(), 3, kWaitMs);
        const auto added = std::find_if(m_recorder->added.cbegin(), m_recorder->added.cend(),
                                        [&](const BaseServerInfo &info) { return info.id == stays; });
        QVERIFY(added != m_recorder->added.cend());
        QCOMPARE(added->name, QStringLiteral("Stays"));
        QCOMPARE(added->systemName, QStringLiteral("North"));
        QCOMPARE(added->port, 7001);
        QCOMPARE(added->hostAddress, QStringLiteral("127.0.0.2"));
        QVERIFY(added->displayAddress.isEmpty());

        // The displayed address follows in one change and then stays put.
        QTRY_COMPARE_WITH_TIMEOUT(m_recorder->changesOf(stays).size(), 1, kWaitMs);
        QCOMPARE(m_recorder->changesOf(stays).first().displayAddress, QStringLiteral("127.0.0.2"));
        waitForAnswers(stays, 3);
        QCOMPARE(m_recorder->changesOf(stays).size(), 1);
        QCOMPARE(m_recorder->added.size(), 3);

        m_servers->setAnswer(QStringLiteral("127.0.0.2"),
                             answerText(stays, QStringLiteral("Renamed"), QString(), QStringLiteral("South"), 7002));
        QTRY_COMPARE_WITH_TIMEOUT(m_recorder->changesOf(stays).size(), 2, kWaitMs);
        const BaseServerInfo renamed = m_recorder->changesOf(stays).last();
        QCOMPARE(renamed.name, QStringLiteral("Renamed"));
        QCOMPARE(renamed.systemName, QStringLiteral("South"));
        QCOMPARE(renamed.port, 7002);
        QCOMPARE(renamed.displayAddress, QStringLiteral("127.0.0.2"));
        waitForAnswers(stays, 3);
        QCOMPARE(m_recorder->changesOf(stays).size(), 2);

        // Two servers that fall silent together leave in one signal.
        m_servers->setSilent(QStringLiteral("127.0.0.3"));
        m_servers->setSilent(QStringLiteral("127.0.0.4"));
        QTRY_COMPARE_WITH_TIMEOUT(m_recorder->removed.size(), 1, kWaitMs);
        IDsVector removed = m_recorder->removed.first();
        std::sort(removed.begin(), removed.end());
        IDsVector expected{first, second};
        std::sort(expected.begin(), expected.end());
        QCOMPARE(removed, expected);

        // The one still answering outlives another time-out.
        waitForAnswers(stays, int(m_parameters.serverTimeoutMs / m_parameters.cycleIntervalMs) + 2);
        QCOMPARE(m_recorder->removed.size(), 1);

        QCOMPARE(m_recorder->outOfOrder, 0);
        for (const BaseServerInfo &info : qAsConst(m_recorder->discovered))
            QVERIFY(info.displayAddress.isEmpty());

        // A removed server that answers again is new again.
        m_servers->setAnswer(QStringLiteral("127.0.0.3"), answerText(first, QStringLiteral("First")));
        QTRY_COMPARE_WITH_TIMEOUT(m_recorder->added.size(), 4, kWaitMs);
        QCOMPARE(m_recorder->added.last().id, first);
        QVERIFY(m_recorder->added.last().displayAddress.isEmpty());
    }

    void onlyVisibleFlagsMakeAChange()
    {
        const QUuid id = QUuid::createUuid();
        const QString address = QStringLiteral("127.0.0.5");
        m_servers->setAnswer(address, answerText(id, QStringLiteral("Flags"), QStringLiteral("SF_IfListCtrl")));
        QTRY_COMPARE_WITH_TIMEOUT(m_recorder->changesOf(id).size(), 1, kWaitMs); // the displayed address

        m_servers->setAnswer(address,
                             answerText(id, QStringLiteral("Flags"), QStringLiteral("SF_IfListCtrl SF_AutoSystemName")));
        const int factory = Constants::AllowIfConfigFlag | Constants::IsFactoryFlag;
        QTRY_VERIFY_WITH_TIMEOUT(m_recorder->discovered.last().flags == factory, kWaitMs);
        waitForAnswers(id, 3);
        QCOMPARE(m_recorder->changesOf(id).size(), 1);

        m_servers->setAnswer(
            address, answerText(id, QStringLiteral("Flags"), QStringLiteral("SF_AutoSystemName SF_IfListCtrl SF_timeCtrl")));
        QTRY_COMPARE_WITH_TIMEOUT(m_recorder->changesOf(id).size(), 2, kWaitMs);
        QCOMPARE(m_recorder->changesOf(id).last().flags, factory | Constants::AllowChangeDateTimeFlag);
        waitForAnswers(id, 3);
        QCOMPARE(m_recorder->changesOf(id).size(), 2);
    }

    void displayedAddressStaysWhileItAnswers()
    {
        const QUuid id = QUuid::createUuid();
        const QByteArray answer = answerText(id, QStringLiteral("Twice"));
        m_servers->setAnswer(QStringLiteral("127.0.0.6"), answer);
        m_servers->setAnswer(QStringLiteral("127.0.0.7"), answer);

        QTRY_COMPARE_WITH_TIMEOUT(m_recorder->changesOf(id).size(), 1, kWaitMs);
        QCOMPARE(m_recorder->added.size(), 1);
        const QString shown = m_recorder->changesOf(id).first().displayAddress;
        QVERIFY(shown == QLatin1String("127.0.0.6") || shown == QLatin1String("127.0.0.7"));
        const QString other = shown == QLatin1String("127.0.0.6") ? QStringLiteral("127.0.0.7")
                                                                    : QStringLiteral("127.0.0.6");

        // Both keep answering for well over the switch delay: nothing moves.
        // Nothing says the second address is the same server's: it is in
        // conflict with the first, and its answers are not passed on.
        waitForAnswers(id, int(2 * m_parameters.displayAddressSwitchMs / m_parameters.cycleIntervalMs));
        QCOMPARE(m_recorder->changesOf(id).size(), 1);
        QCOMPARE(m_recorder->conflicts.value(id), QVector<QStringList>{(QStringList{shown, other})});
        QVERIFY(!m_recorder->discoveredFrom(id, other));

        QElapsedTimer silence;
        silence.start();
        m_servers->setSilent(shown);
        QTRY_COMPARE_WITH_TIMEOUT(m_recorder->changesOf(id).size(), 2, kWaitMs);
        QCOMPARE(m_recorder->changesOf(id).last().displayAddress, other);
        QVERIFY(silence.elapsed() >= m_parameters.displayAddressSwitchMs / 2);
        QVERIFY(m_recorder->removed.isEmpty());
        QCOMPARE(m_recorder->conflicts.value(id).last(), QStringList());
    }

    // A second host answering with a known id is a conflict until it falls
    // silent; addresses the server is known at (its own interfaces, made
    // known before or during the conflict) are followed.
    void secondHostWithAKnownId_data()
    {
        QTest::addColumn<QString>("trusted");
        QTest::newRow("another host") << QString();
        QTest::newRow("an address of its own") << QStringLiteral("before");
        QTest::newRow("an address of its own, made known late") << QStringLiteral("during");
    }

    void secondHostWithAKnownId()
    {
        QFETCH(QString, trusted);
        const QUuid id = QUuid::createUuid();
        const QString known = QStringLiteral("127.0.0.6");
        const QString second = QStringLiteral("127.0.0.7");
        m_servers->setAnswer(known, answerText(id, QStringLiteral("Known")));
        QTRY_COMPARE_WITH_TIMEOUT(m_recorder->changesOf(id).size(), 1, kWaitMs);
        if (trusted == QLatin1String("before"))
            m_finder->trustAddresses(id, {second});
        m_servers->setAnswer(second, answerText(id, QStringLiteral("Other name")));

        const QVector<QStringList> inConflict{(QStringList{known, second})};
        if (trusted == QLatin1String("before")) {
            QTRY_VERIFY_WITH_TIMEOUT(m_recorder->discoveredFrom(id, second), kWaitMs);
            QVERIFY(m_recorder->conflicts.value(id).isEmpty());
            return;
        }
        QTRY_COMPARE_WITH_TIMEOUT(m_recorder->conflicts.value(id), inConflict, kWaitMs);
        if (trusted == QLatin1String("during")) {
            m_finder->trustAddresses(id, {known, second});
            QCOMPARE(m_recorder->conflicts.value(id).last(), QStringList());
            QTRY_VERIFY_WITH_TIMEOUT(m_recorder->discoveredFrom(id, second), kWaitMs);
            return;
        }
        m_servers->setSilent(second);
        QTRY_COMPARE_WITH_TIMEOUT(m_recorder->conflicts.value(id).last(), QStringList(), kWaitMs);
        QVERIFY(!m_recorder->discoveredFrom(id, second));
        QCOMPARE(m_recorder->changesOf(id).size(), 1);
        QCOMPARE(m_recorder->changesOf(id).first().displayAddress, known);
        QVERIFY(m_recorder->removed.isEmpty());
    }

    void otherAskersBecomeUnknownEntities()
    {
        QUdpSocket asker;
        QVERIFY(asker.bind(QHostAddress(QStringLiteral("127.0.0.9")), 0));
        asker.setSocketOption(QAbstractSocket::MulticastLoopbackOption, 1);

        // Our own requests are heard on the group too, but never reported.
        QTRY_VERIFY_WITH_TIMEOUT(m_servers->finderRequests() >= 3, kWaitMs);
        QVERIFY(m_recorder->unknownAdded.isEmpty());

        sendRequestFrom(asker);
        QTRY_COMPARE_WITH_TIMEOUT(m_recorder->unknownAdded, QStringList{QStringLiteral("127.0.0.9")}, kWaitMs);
        QElapsedTimer lastRequest;
        for (int i = 0; i < 4; ++i) {
            QTest::qWait(int(m_parameters.unknownTimeoutMs / 4));
            sendRequestFrom(asker);
            lastRequest.start();
        }
        // Still asking, so still the one entity, reported once.
        QCOMPARE(m_recorder->unknownAdded.size(), 1);
        QVERIFY(m_recorder->unknownRemoved.isEmpty());

        QTRY_COMPARE_WITH_TIMEOUT(m_recorder->unknownRemoved, QStringList{QStringLiteral("127.0.0.9")}, kWaitMs);
        QVERIFY(lastRequest.elapsed() >= m_parameters.unknownTimeoutMs);
        const int requestsSoFar = m_servers->finderRequests();
        QTRY_VERIFY_WITH_TIMEOUT(m_servers->finderRequests() >= requestsSoFar + 3, kWaitMs);
        QCOMPARE(m_recorder->unknownAdded.size(), 1);
    }

    void listenerBoundLateStillHearsTheGroup()
    {
        // Nobody else may hold the group in this test.
        m_servers.reset();
        m_recorder.reset();
        m_finder.reset();

        QUdpSocket blocker; // without address sharing, so the finder's listener cannot bind
        QVERIFY(blocker.bind(QHostAddress(QHostAddress::AnyIPv4), m_parameters.port,
                             QUdpSocket::DontShareAddress));
        m_finder = ServersFinder::create(m_parameters);
        m_recorder.reset(new Recorder(m_finder.data()));
        QTest::qWait(4 * m_parameters.cycleIntervalMs); // cycles run without a listener
        blocker.close();

        QUdpSocket asker;
        QVERIFY(asker.bind(QHostAddress(QStringLiteral("127.0.0.13")), 0));
        QElapsedTimer waited;
        waited.start();
        while (m_recorder->unknownAdded.isEmpty() && waited.elapsed() < kWaitMs) {
            sendRequestFrom(asker);
            QTest::qWait(m_parameters.cycleIntervalMs);
        }
        QCOMPARE(m_recorder->unknownAdded, QStringList{QStringLiteral("127.0.0.13")});
    }

    void requestsGoOutFromAnAddressAddedLater()
    {
        const QString added = QStringLiteral("10.77.0.1");
        const QStringList address{added + QStringLiteral("/32"), QStringLiteral("dev"), QStringLiteral("lo")};
        QCOMPARE(QProcess::execute(QStringLiteral("ip"), QStringList{QStringLiteral("addr"), QStringLiteral("add")}
                                                              + address),
                 0);
        const auto removeAddress = qScopeGuard([&address] {
            QProcess::execute(QStringLiteral("ip"), QStringList{QStringLiteral("addr"), QStringLiteral("del")} + address);
        });

        // The same addresses as Qt's full listing: those of interfaces that are up.
        QList<QHostAddress> expected;
        for (const QNetworkInterface &interface : QNetworkInterface::allInterfaces()) {
            for (const QNetworkAddressEntry &entry : interface.addressEntries()) {
                if ((interface.flags() & QNetworkInterface::IsUp) && !expected.contains(entry.ip())
                    && entry.ip().protocol() == QAbstractSocket::IPv4Protocol)
                    expected.append(entry.ip());
            }
        }
        QVERIFY(expected.contains(QHostAddress(added)));
        QCOMPARE(platform::localIPv4Addresses(), expected);

        QTRY_VERIFY_WITH_TIMEOUT(m_servers->askers().contains(added), kWaitMs);
    }

    void askerThatAnswersIsAServer()
    {
        const QString address = QStringLiteral("127.0.0.10");
        QUdpSocket asker;
        QVERIFY(asker.bind(QHostAddress(address), 0));
        QTRY_VERIFY_WITH_TIMEOUT(m_servers->finderRequests() >= 1, kWaitMs); // the listener is up
        sendRequestFrom(asker);
        QElapsedTimer sinceRequest;
        sinceRequest.start();
        QTRY_COMPARE_WITH_TIMEOUT(m_recorder->unknownAdded, QStringList{address}, kWaitMs);

        // Its first answer ends it as an unknown entity, long before the time-out would.
        const QUuid id = QUuid::createUuid();
        m_servers->setAnswer(address, answerText(id, QStringLiteral("Asks too")));
        QTRY_COMPARE_WITH_TIMEOUT(m_recorder->unknownRemoved, QStringList{address}, kWaitMs);
        QVERIFY(sinceRequest.elapsed() < m_parameters.unknownTimeoutMs);
        QCOMPARE(m_recorder->added.size(), 1);
        QCOMPARE(m_recorder->added.first().hostAddress, address);

        // While its answers are fresh, its requests are a server's, not an unknown's.
        for (int i = 0; i < 3; ++i) {
            waitForAnswers(id, 1);
            sendRequestFrom(asker);
        }
        waitForAnswers(id, 2);
        QCOMPARE(m_recorder->unknownAdded.size(), 1);
    }

    void wholeFleetAnsweringAtOnceIsFoundWithoutLoss()
    {
        // One request a second leaves quiet gaps in which every answer sent is in.
        cleanup();
        ServersFinderParameters parameters = m_parameters;
        parameters.cycleIntervalMs = 1000;
        parameters.serverTimeoutMs = 30000;
        parameters.answeringAddressTimeoutMs = 30000;

        const int size = 300;
        test::PeerSim fleet;
        QVERIFY2(fleet.start("{}", {QStringLiteral("--generate"), QString::number(size), QStringLiteral("--systems"),
                                    QStringLiteral("7"), QStringLiteral("--no-http"), QStringLiteral("--quiet-discovery"),
                                    QStringLiteral("--discovery-port"), QString::number(parameters.port)}),
                 qPrintable(fleet.errorString()));
        m_finder = ServersFinder::create(parameters);
        m_recorder.reset(new Recorder(m_finder.data()));

        QTRY_COMPARE_WITH_TIMEOUT(m_recorder->added.size(), size, kWaitMs);
        QHash<QUuid, BaseServerInfo> added;
        for (const BaseServerInfo &info : qAsConst(m_recorder->added))
            added.insert(info.id, info);
        const QJsonArray servers = fleet.servers();
        QCOMPARE(servers.size(), size);
        for (const QJsonValue &value : servers) {
            const QJsonObject server = value.toObject();
            const BaseServerInfo info = added.value(QUuid(server.value(QStringLiteral("id")).toString()));
            QCOMPARE(info.name, server.value(QStringLiteral("name")).toString());
            QCOMPARE(info.systemName, server.value(QStringLiteral("systemName")).toString());
            QCOMPARE(info.port, server.value(QStringLiteral("port")).toInt());
            QCOMPARE(info.hostAddress, server.value(QStringLiteral("addresses")).toArray().first().toString());
        }

        // Every answer the fleet sent was reported.
        QTRY_COMPARE_WITH_TIMEOUT(qint64(m_recorder->discovered.size()),
                                  fleet.stats().value(QStringLiteral("answers")).toVariant().toLongLong(), kWaitMs);
        QVERIFY(m_recorder->discovered.size() >= size);
    }

    // Answers that come soon after a read wait for the next paced read, and
    // that read does come without a new request.
    void answersAreReadAtAPace()
    {
        cleanup();
        ServersFinderParameters parameters = m_parameters;
        parameters.cycleIntervalMs = 3000;
        parameters.serverTimeoutMs = 30000;
        parameters.answeringAddressTimeoutMs = 30000;
        parameters.answerReadGapMs = 400;
        restartWith(parameters);
        QElapsedTimer clock;
        QHash<QUuid, qint64> seenAt;
        connect(m_finder.data(), &ServersFinder::serverAdded, this,
                [&](const BaseServerInfo &info) { seenAt.insert(info.id, clock.elapsed()); });

        const QUuid first = QUuid::createUuid();
        const QUuid second = QUuid::createUuid();
        m_servers->setAnswer(QStringLiteral("127.0.0.2"), answerText(first, QStringLiteral("First")));
        clock.start();
        QTRY_VERIFY_WITH_TIMEOUT(seenAt.contains(first), kWaitMs);
        m_servers->sendToFinder(QStringLiteral("127.0.0.3"), answerText(second, QStringLiteral("Second")));
        QTRY_VERIFY_WITH_TIMEOUT(seenAt.contains(second), kWaitMs);
        const qint64 apart = seenAt.value(second) - seenAt.value(first);
        QVERIFY2(apart >= 300 && apart < 2500, qPrintable(QString::number(apart)));
        QCOMPARE(m_servers->finderRequests(), 1);
    }

    void badDatagramsAreDroppedHarmlessly()
    {
        const QString address = QStringLiteral("127.0.0.11");
        QTRY_VERIFY_WITH_TIMEOUT(m_servers->finderRequests() >= 1, kWaitMs);

        QByteArray huge(65000, 'x');
        QByteArray zeroFirst(1, '\0');
        zeroFirst += answerText(QUuid::createUuid(), QStringLiteral("Hidden"));
        const QList<QByteArray> bad{QByteArray(),
                                    huge,
                                    QByteArray("\xff\xfe\x00\x01 not text", 13),
                                    QByteArray("[1,2,3]"),
                                    QByteArray("{\"application\":\"Web Client\",\"id\":\"{6f1c2a3b-4d5e-4f60-8a7b-9c0d1e2f3a4b}\"}"),
                                    zeroFirst,
                                    m_parameters.request};
        for (const QByteArray &datagram : bad)
            m_servers->sendToFinder(address, datagram);

        // Garbage on the group is not a request either.
        QUdpSocket stranger;
        QVERIFY(stranger.bind(QHostAddress(QStringLiteral("127.0.0.12")), 0));
        for (const QByteArray &datagram : {QByteArray(), huge, QByteArray("{ magic: \"7B938F06\" }")}) {
            QCOMPARE(stranger.writeDatagram(datagram, QHostAddress(m_parameters.multicastGroup), m_parameters.port),
                     qint64(datagram.size()));
        }

        // A good answer behind them still gets through, and is all that counts.
        const QUuid id = QUuid::createUuid();
        m_servers->sendToFinder(address, QByteArray(answerText(id, QStringLiteral("After"))).append('\0').append("tail"));
        QTRY_COMPARE_WITH_TIMEOUT(m_recorder->added.size(), 1, kWaitMs);
        QCOMPARE(m_recorder->added.first().id, id);
        QCOMPARE(m_recorder->added.first().name, QStringLiteral("After"));
        QCOMPARE(m_recorder->discovered.size(), 1);

        // And the listener still hears a request wrapped in other text.
        stranger.writeDatagram(QByteArray("prefix ") + m_parameters.request + " suffix",
                               QHostAddress(m_parameters.multicastGroup), m_parameters.port);
        QTRY_COMPARE_WITH_TIMEOUT(m_recorder->unknownAdded, QStringList{QStringLiteral("127.0.0.12")}, kWaitMs);
    }

    void floodsAreBoundedAndCapped()
    {
        // Few datagrams per turn and few servers, so that a small flood shows both bounds.
        cleanup();
        ServersFinderParameters parameters = m_parameters;
        parameters.datagramsPerTurn = 4;
        parameters.maxServers = 6;
        parameters.maxServersPerAddress = 4;
        parameters.serverTimeoutMs = 30000;
        restartWith(parameters);
        const QString address = QStringLiteral("127.0.0.13");
        QTRY_VERIFY_WITH_TIMEOUT(m_servers->finderRequests() >= 1, kWaitMs);

        // Answers handled per turn of the event loop: an event posted at the
        // first answer of a turn closes it (urgent, as the finder's own).
        int inTurn = 0;
        int mostInTurn = 0;
        TurnEnd turnEnd([&]() { inTurn = 0; });
        connect(m_finder.data(), &ServersFinder::serverDiscovered, &turnEnd, [&]() {
            if (inTurn++ == 0)
                QCoreApplication::postEvent(&turnEnd, new QEvent(QEvent::User), Qt::HighEventPriority);
            mostInTurn = qMax(mostInTurn, inTurn);
        });

        // Valid JSON, but far larger than any answer: dropped unread.
        const QUuid padded = QUuid::createUuid();
        QByteArray large = answerText(padded, QStringLiteral("Padded"));
        large.insert(1, QByteArray(parameters.maxDatagramBytes, ' '));
        m_servers->sendToFinder(address, large);
        QVector<QUuid> ids;
        for (int index = 0; index < 12; ++index) {
            ids.append(QUuid::createUuid());
            m_servers->sendToFinder(address, answerText(ids.last(), QStringLiteral("Flood %1").arg(index)));
        }

        // One host brings no more than its share...
        QTRY_COMPARE_WITH_TIMEOUT(m_recorder->added.size(), parameters.maxServersPerAddress, kWaitMs);
        QTest::qWait(300);
        QCOMPARE(m_recorder->added.size(), parameters.maxServersPerAddress);
        // ...and the others fill the list up to the limit, not beyond.
        for (int index = 0; index < 4; ++index) {
            ids.append(QUuid::createUuid());
            m_servers->sendToFinder(QStringLiteral("127.0.0.14"), answerText(ids.last(), QStringLiteral("Other %1").arg(index)));
        }
        QTRY_COMPARE_WITH_TIMEOUT(m_recorder->added.size(), parameters.maxServers, kWaitMs);
        QTest::qWait(300);
        QCOMPARE(m_recorder->added.size(), parameters.maxServers);
        QCOMPARE(m_recorder->discovered.size(), parameters.maxServers); // ids beyond the limits are not followed
        for (int index = 0; index < parameters.maxServers; ++index) {
            const int sent = index < parameters.maxServersPerAddress ? index : 12 + index - parameters.maxServersPerAddress;
            QCOMPARE(m_recorder->added.at(index).id, ids.at(sent));
        }
        QVERIFY2(mostInTurn <= parameters.datagramsPerTurn, qPrintable(QString::number(mostInTurn)));
        QVERIFY(mostInTurn > 0);
    }
};

QTEST_GUILESS_MAIN(TestServersFinder)
#include "tst_servers_finder.moc"
