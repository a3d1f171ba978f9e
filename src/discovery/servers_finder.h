#pragma once

#include "core/server_info.h"

#include <QByteArray>
#include <QObject>
#include <QSharedPointer>
#include <QString>
#include <QStringList>
#include <QUuid>

#include <optional>

namespace rtu {

// The discovery protocol's fixed values. Tests shorten the times and move the
// port; the tool always uses the defaults.
struct ServersFinderParameters
{
    QString multicastGroup = QStringLiteral("239.255.11.11");
    quint16 port = 5007;
    QByteArray request = QByteArrayLiteral("{ magic: \"7B938F06-ACF1-45f0-8303-98AA8057739A\" }");
    int cycleIntervalMs = 2000;
    // When the first cycle comes after creation; below 0, one cycle interval
    // (the window draws itself meanwhile). A command that waits for the
    // answers asks at once.
    int firstCycleDelayMs = -1;
    qint64 serverTimeoutMs = 12000;
    qint64 answeringAddressTimeoutMs = 12000;
    qint64 unknownTimeoutMs = 60000;
    qint64 displayAddressSwitchMs = 12000;
    // Room for a thousand answers to one request arriving at once; 0 keeps
    // the system's default.
    int receiveBufferBytes = 4 * 1024 * 1024;
    // Real answers are about 250 bytes; anything far larger is dropped
    // unread, so that no host can make the finder parse megabytes.
    int maxDatagramBytes = 8 * 1024;
    // Datagrams handled per socket in one turn of the event loop; the rest
    // wait for the next turn, so that a flood cannot stall the window.
    int datagramsPerTurn = 64;
    // Answers are read at most this often per socket. A fleet's answers
    // trickle in all the time, and waking for each one or two cost more than
    // handling them; what comes meanwhile waits in the system's buffer.
    int answerReadGapMs = 20;
    // Datagrams read ahead into memory per socket, so that the system's
    // buffer does not overflow while earlier answers are handled.
    int readAheadDatagrams = 8192;
    // Live servers followed at most; answers with further ids are ignored
    // until some fall silent.
    int maxServers = 10000;
    // New ids one address may bring, so that a single host cannot fill the
    // list and crowd out the real servers.
    int maxServersPerAddress = 64;
    // How long an address the tool moved a server to stays trusted before
    // the server answers from it: as long as a move may take to confirm.
    qint64 expectedAddressMs = 180000;
    // Addresses followed per id; answers from further ones are ignored.
    int maxAddressesPerServer = 64;
};

// Finds the servers of the local network by multicast, follows their answers
// and reports servers that appear, change and fall silent, and hosts that
// only ask. It starts working when created and stops when destroyed.
class ServersFinder : public QObject
{
    Q_OBJECT

public:
    using Holder = QSharedPointer<ServersFinder>;

    static Holder create(const ServersFinderParameters &parameters = ServersFinderParameters());
    ~ServersFinder() override;

    // Reads one answer datagram; empty when it is not a server's description.
    static std::optional<BaseServerInfo> parseAnswer(const QByteArray &datagram);

public slots:
    // The addresses a server is known at besides the one it first answered
    // from (those of its own interfaces, once logged in). Answers for its id
    // from any other address are not followed while one of these answers.
    void trustAddresses(const QUuid &id, const QStringList &addresses);
    // The tool moved the server to these addresses: its answers from them
    // are its own for a while, even before it first answers from them.
    void expectAddresses(const QUuid &id, const QStringList &addresses);

signals:
    void serverDiscovered(const rtu::BaseServerInfo &baseInfo);
    void serverAdded(const rtu::BaseServerInfo &baseInfo);
    void serverChanged(const rtu::BaseServerInfo &baseInfo);
    void serversRemoved(const rtu::IDsVector &removed);
    void unknownAdded(const QString &ip);
    void unknownRemoved(const QString &ip);
    // Hosts that answer with one id from addresses it is not known at, while
    // it answers from one it is known at: those first, then the others. Empty
    // once the others have been silent for the answering-address time-out.
    void serverConflictChanged(const QUuid &id, const QStringList &addresses);
    // A cycle begins: its requests go out now, its answers follow.
    void cycleStarted();

private:
    explicit ServersFinder(const ServersFinderParameters &parameters);

    class Impl;
    Impl *const m_impl;
};

} // namespace rtu
