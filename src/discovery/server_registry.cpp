#include "discovery/server_registry.h"

#include "core/constants.h"

#include <algorithm>
#include <utility>

namespace rtu {

namespace {

// Only these bits make a server look different to the operator; the factory
// mark comes and goes while a server is being set up.
constexpr int kVisibleFlags = ~static_cast<int>(Constants::IsFactoryFlag);

template <typename Table>
void removeOlderThan(Table &table, qint64 now, qint64 timeoutMs)
{
    for (auto it = table.begin(); it != table.end();) {
        if (now - it.value() > timeoutMs)
            it = table.erase(it);
        else
            ++it;
    }
}

} // namespace

ServerRegistry::ServerRegistry(const ServersFinderParameters &parameters) : m_parameters(parameters) {}

ServerRegistry::Answer ServerRegistry::takeAnswer(BaseServerInfo &record, const QString &sender, qint64 now)
{
    Answer result;
    record.hostAddress = sender;
    // Even an answer that is not followed shows the host is a server.
    m_answeringAddresses.insert(sender, now);
    result.unknownRemoved = m_unknownHosts.remove(sender) > 0;

    const auto found = m_servers.find(record.id);
    if (found == m_servers.end()) {
        result.refusal = add(record, sender, now);
        result.added = result.followed();
        return result;
    }

    Entry &entry = found.value();
    if (!entry.answers.contains(sender) && entry.answers.size() >= m_parameters.maxAddressesPerServer) {
        result.refusal = Refusal::TooManyAddressesForId;
        return result;
    }
    entry.answers.insert(sender, now);
    entry.lastSeenMs = now;
    if (!entry.trusted.contains(sender)) {
        // While the server answers where it is known, a second host with its
        // id is neither followed nor told anything.
        for (const QString &address : qAsConst(entry.trusted)) {
            if (isLive(entry, address, now)) {
                result.refusal = Refusal::NotTrusted;
                result.conflict = updateConflict(record.id, entry, now);
                return result;
            }
        }
        // Silent where it was known: it moved.
        entry.trusted = {sender};
    }
    result.conflict = updateConflict(record.id, entry, now);

    result.displayAddress = entry.info.displayAddress;
    if (entry.info.displayAddress == sender) {
        entry.displayAddressMs = now;
    } else if (now - entry.displayAddressMs > m_parameters.displayAddressSwitchMs) {
        entry.displayAddressMs = now;
        result.displayAddress = sender;
        result.changes |= DisplayAddressSwitched;
    }
    // The id is the table's key, so these are all the record can differ in.
    if (record.name != entry.info.name)
        result.changes |= NameChanged;
    if (record.systemName != entry.info.systemName)
        result.changes |= SystemNameChanged;
    if (record.port != entry.info.port)
        result.changes |= PortChanged;
    if ((record.flags ^ entry.info.flags) & kVisibleFlags)
        result.changes |= FlagsChanged;
    if (result.changes) {
        entry.info.name = record.name;
        entry.info.systemName = record.systemName;
        entry.info.port = record.port;
        entry.info.displayAddress = result.displayAddress;
        entry.info.flags = record.flags;
    }
    return result;
}

ServerRegistry::Refusal ServerRegistry::add(const BaseServerInfo &record, const QString &sender, qint64 now)
{
    // A flood of made-up ids is not followed beyond the limits.
    if (m_servers.size() >= m_parameters.maxServers)
        return Refusal::TooManyServers;
    if (m_idsPerAddress.value(sender) >= m_parameters.maxServersPerAddress)
        return Refusal::TooManyIdsForAddress;
    Entry entry;
    entry.lastSeenMs = now;
    // Old enough that the next answer fills in the displayed address.
    entry.displayAddressMs = now - m_parameters.displayAddressSwitchMs - 1;
    entry.info = record;
    entry.answers.insert(sender, now);
    entry.trusted.insert(sender);
    m_servers.insert(record.id, entry);
    ++m_idsPerAddress[sender];
    return Refusal::None;
}

bool ServerRegistry::takeRequest(const QString &sender, qint64 now)
{
    if (m_answeringAddresses.contains(sender))
        return false;
    const auto known = m_unknownHosts.find(sender);
    if (known != m_unknownHosts.end()) {
        known.value() = now;
        return false;
    }
    m_unknownHosts.insert(sender, now);
    return true;
}

ServerRegistry::Expiry ServerRegistry::expire(qint64 now)
{
    Expiry result;
    for (auto it = m_servers.begin(); it != m_servers.end();) {
        if (now - it->lastSeenMs > m_parameters.serverTimeoutMs) {
            result.servers.append(it.key());
            const auto count = m_idsPerAddress.find(it->info.hostAddress);
            if (count != m_idsPerAddress.end() && --count.value() <= 0)
                m_idsPerAddress.erase(count);
            it = m_servers.erase(it);
        } else {
            ++it;
        }
    }

    for (auto it = m_servers.begin(); it != m_servers.end(); ++it) {
        removeOlderThan(it->answers, now, m_parameters.answeringAddressTimeoutMs);
        // Expiry can end a conflict, never start one.
        if (!it->conflict.isEmpty()) {
            if (auto change = updateConflict(it.key(), it.value(), now))
                result.conflicts.append(*change);
        }
    }
    removeOlderThan(m_answeringAddresses, now, m_parameters.answeringAddressTimeoutMs);

    for (auto it = m_unknownHosts.begin(); it != m_unknownHosts.end();) {
        if (now - it.value() > m_parameters.unknownTimeoutMs) {
            result.unknowns.append(it.key());
            it = m_unknownHosts.erase(it);
        } else {
            ++it;
        }
    }
    return result;
}

std::optional<ServerRegistry::ConflictChange> ServerRegistry::trustAddresses(const QUuid &id,
                                                                             const QStringList &addresses,
                                                                             qint64 now)
{
    const auto found = m_servers.find(id);
    if (found == m_servers.end())
        return std::nullopt;
    Entry &entry = found.value();
    QSet<QString> trusted;
    for (const QString &address : addresses) {
        if (!address.isEmpty())
            trusted.insert(address);
    }
    // Addresses it was known at keep their trust while they answer, and
    // addresses it was moved to keep it until it could have got there.
    for (const QString &address : qAsConst(entry.trusted)) {
        if (isLive(entry, address, now))
            trusted.insert(address);
    }
    for (auto it = entry.expected.begin(); it != entry.expected.end();) {
        if (now - it.value() > m_parameters.expectedAddressMs) {
            it = entry.expected.erase(it);
        } else {
            trusted.insert(it.key());
            ++it;
        }
    }
    entry.trusted = trusted;
    return updateConflict(id, entry, now);
}

std::optional<ServerRegistry::ConflictChange> ServerRegistry::expectAddresses(const QUuid &id,
                                                                              const QStringList &addresses,
                                                                              qint64 now)
{
    const auto found = m_servers.find(id);
    if (found == m_servers.end())
        return std::nullopt;
    for (const QString &address : addresses) {
        if (address.isEmpty())
            continue;
        found->expected.insert(address, now);
        found->trusted.insert(address);
    }
    return updateConflict(id, found.value(), now);
}

QString ServerRegistry::knownAnswering(const QUuid &id, qint64 now) const
{
    const auto found = m_servers.constFind(id);
    if (found == m_servers.constEnd())
        return {};
    QStringList live;
    for (const QString &address : found->trusted) {
        if (isLive(found.value(), address, now))
            live.append(address);
    }
    std::sort(live.begin(), live.end());
    return live.value(0);
}

bool ServerRegistry::isLive(const Entry &entry, const QString &address, qint64 now) const
{
    const auto found = entry.answers.constFind(address);
    return found != entry.answers.constEnd() && now - found.value() <= m_parameters.answeringAddressTimeoutMs;
}

std::optional<ServerRegistry::ConflictChange> ServerRegistry::updateConflict(const QUuid &id, Entry &entry,
                                                                            qint64 now) const
{
    // Every answer comes here; a conflict takes two answering addresses,
    // which nearly no server has.
    if (entry.answers.size() < 2 && entry.conflict.isEmpty())
        return std::nullopt;
    QStringList known;
    QStringList others;
    for (auto it = entry.answers.cbegin(); it != entry.answers.cend(); ++it) {
        if (isLive(entry, it.key(), now))
            (entry.trusted.contains(it.key()) ? known : others).append(it.key());
    }
    ConflictChange change;
    if (!known.isEmpty() && !others.isEmpty()) {
        std::sort(known.begin(), known.end());
        std::sort(others.begin(), others.end());
        change.knownCount = known.size();
        change.addresses = known + others;
    }
    if (change.addresses == entry.conflict)
        return std::nullopt;
    change.id = id;
    change.previous = std::exchange(entry.conflict, change.addresses);
    return change;
}

} // namespace rtu
