#pragma once

#include "core/server_info.h"
#include "discovery/servers_finder.h"

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QUuid>
#include <QVector>

#include <optional>

namespace rtu {

// What the finder follows, decided from answers and their times alone: the
// live servers, the addresses each answers from and is trusted at, conflicts
// over an id, and the hosts that only ask. No sockets and no clock: every
// call is given the time, so that the rules can be tried at any moment.
class ServerRegistry
{
public:
    // Why an accepted answer is not followed.
    enum class Refusal {
        None,
        TooManyServers,
        TooManyIdsForAddress,
        TooManyAddressesForId,
        // Another address answers with this id where the server is known.
        NotTrusted,
    };

    // What made a known server's answer a change.
    enum Change {
        NameChanged = 0x1,
        SystemNameChanged = 0x2,
        PortChanged = 0x4,
        FlagsChanged = 0x8,
        DisplayAddressSwitched = 0x10,
    };

    struct ConflictChange
    {
        QUuid id;
        // Those it is known at first, then the others; empty when it ended.
        QStringList addresses;
        int knownCount = 0;
        QStringList previous;
    };

    struct Answer
    {
        Refusal refusal = Refusal::None;
        bool added = false;
        int changes = 0; // Change bits
        // The displayed address a change reports.
        QString displayAddress;
        // The sender had only asked until now.
        bool unknownRemoved = false;
        std::optional<ConflictChange> conflict;

        bool followed() const { return refusal == Refusal::None; }
    };

    // What one pass of expiry removed, in table order.
    struct Expiry
    {
        IDsVector servers;
        QVector<ConflictChange> conflicts;
        QStringList unknowns;
    };

    explicit ServerRegistry(const ServersFinderParameters &parameters);

    // Takes an accepted answer and sets the record's host address to the
    // sender.
    Answer takeAnswer(BaseServerInfo &record, const QString &sender, qint64 now);
    // Takes another host's request; true when that host is a new unknown one.
    bool takeRequest(const QString &sender, qint64 now);
    Expiry expire(qint64 now);

    std::optional<ConflictChange> trustAddresses(const QUuid &id, const QStringList &addresses, qint64 now);
    std::optional<ConflictChange> expectAddresses(const QUuid &id, const QStringList &addresses, qint64 now);

    // An address the server is known at that answers now; empty if none.
    QString knownAnswering(const QUuid &id, qint64 now) const;

private:
    struct Entry
    {
        qint64 lastSeenMs = 0;
        qint64 displayAddressMs = 0;
        BaseServerInfo info;
        // The latest answer from each address that answers with this id.
        QHash<QString, qint64> answers;
        // Where the server is known to be. Another address answering meanwhile
        // is a second host claiming its id, not a move.
        QSet<QString> trusted;
        // Addresses the tool itself moved the server to, and when: trusted
        // before the server first answers from them.
        QHash<QString, qint64> expected;
        // As last reported.
        QStringList conflict;
    };

    Refusal add(const BaseServerInfo &record, const QString &sender, qint64 now);
    bool isLive(const Entry &entry, const QString &address, qint64 now) const;
    std::optional<ConflictChange> updateConflict(const QUuid &id, Entry &entry, qint64 now) const;

    const ServersFinderParameters m_parameters;
    QHash<QUuid, Entry> m_servers;
    // Live ids per address they first answered from.
    QHash<QString, int> m_idsPerAddress;
    QHash<QString, qint64> m_answeringAddresses;
    QHash<QString, qint64> m_unknownHosts;
};

} // namespace rtu
