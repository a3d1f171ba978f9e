#include "models/time_zones_model.h"

#include "core/date_time_helpers.h"

#include <QDateTime>
#include <QHash>
#include <QSet>
#include <QTimeZone>
#include <QVector>

#include <algorithm>
#include <climits>

namespace rtu {

namespace {

const QByteArray kDifferentId = QByteArrayLiteral("<Different>");
const QByteArray kUnknownId = QByteArrayLiteral("<Unknown>");

struct ZoneEntry
{
    QString displayName;
    int offset = 0;
    QList<QByteArray> ids;
};

using ZoneEntries = QVector<ZoneEntry>;

bool isUtcLike(const QByteArray &id)
{
    return id.contains("UTC") || id.contains("GMT");
}

const QList<QByteArray> &utcAliases()
{
    static const QList<QByteArray> aliases = {
        "Etc/GMT", "Etc/GMT+0", "Etc/UCT", "Etc/Universal", "Etc/UTC", "GMT",
        "GMT+0",   "GMT0",      "GMT-0",   "Greenwich",     "UCT",     "Universal",
    };
    return aliases;
}

// Zones are kept for the life of the process: the offset name of a zone is
// looked up through a second, lazily built zone object inside Qt that costs
// far more than everything else, and the list is rebuilt each time the date
// panel appears.
const QTimeZone &cachedZone(const QByteArray &id)
{
    static QHash<QByteArray, QTimeZone> zones;
    auto found = zones.find(id);
    if (found == zones.end())
        found = zones.insert(id, QTimeZone(id));
    return found.value();
}

class EntriesBuilder
{
public:
    explicit EntriesBuilder(const QDateTime &now) : m_now(now) {}

    void addByDisplayText(const QByteArray &id)
    {
        const QTimeZone &zone = cachedZone(id);
        const QString displayName = timeZoneDisplayText(zone, m_now);
        const auto found = m_rowByName.constFind(displayName);
        if (found != m_rowByName.constEnd()) {
            m_entries[found.value()].ids.append(id);
        } else {
            m_rowByName.insert(displayName, m_entries.size());
            m_entries.append({displayName, zone.standardTimeOffset(m_now), {id}});
        }
        m_listed.insert(id);
    }

    void sort()
    {
        std::sort(m_entries.begin(), m_entries.end(), [](const ZoneEntry &first, const ZoneEntry &second) {
            if (first.offset != second.offset)
                return first.offset < second.offset;
            return first.displayName < second.displayName;
        });
        m_rowByName.clear();

        // Attaching only appends identifiers, so each offset's target row is fixed from here on.
        for (int row = 0; row < m_entries.size(); ++row) {
            const ZoneEntry &entry = m_entries.at(row);
            const auto target = m_targetByOffset.constFind(entry.offset);
            if (target == m_targetByOffset.constEnd())
                m_targetByOffset.insert(entry.offset, row);
            else if (entry.displayName.contains(QLatin1String("Universal"))
                     && !m_entries.at(target.value()).displayName.contains(QLatin1String("Universal")))
                m_targetByOffset.insert(entry.offset, row);
        }
    }

    void attach(const QByteArray &id)
    {
        attach(id, cachedZone(id).standardTimeOffset(m_now));
    }

    // Joins the row of that offset, preferring one named "Universal"; without
    // such a row the identifier is left out.
    void attach(const QByteArray &id, int offset)
    {
        if (m_listed.contains(id))
            return;
        const auto target = m_targetByOffset.constFind(offset);
        if (target == m_targetByOffset.constEnd())
            return;
        m_entries[target.value()].ids.append(id);
        m_listed.insert(id);
    }

    ZoneEntries take() { return std::move(m_entries); }

private:
    const QDateTime m_now;
    ZoneEntries m_entries;
    QHash<QString, int> m_rowByName;
    QHash<int, int> m_targetByOffset;
    QSet<QByteArray> m_listed;
};

ZoneEntries buildEntries()
{
    const QList<QByteArray> ids = QTimeZone::availableTimeZoneIds();
    EntriesBuilder builder(QDateTime::currentDateTime());
    for (const QByteArray &id : ids) {
        if (!isUtcLike(id))
            builder.addByDisplayText(id);
    }
    builder.sort();
    for (const QByteArray &id : ids) {
        if (isUtcLike(id))
            builder.attach(id);
    }
    for (const QByteArray &id : utcAliases())
        builder.attach(id, 0);
    return builder.take();
}

QByteArray initialZoneId(const ServerInfoPtrContainer &servers)
{
    if (servers.isEmpty() || !servers.first()->hasExtraInfo())
        return kDifferentId;
    const QByteArray id = servers.first()->extraInfo().timeZoneId;
    for (const ServerInfo *server : servers) {
        if (!server->hasExtraInfo() || server->extraInfo().timeZoneId != id)
            return kDifferentId;
    }
    return id;
}

int rowOf(const ZoneEntries &entries, const QByteArray &id)
{
    for (int row = 0; row < entries.size(); ++row) {
        if (entries.at(row).ids.contains(id))
            return row;
    }
    return -1;
}

} // namespace

class TimeZonesModel::Impl : public QObject
{
public:
    Impl(TimeZonesModel *owner, const ServerInfoPtrContainer &selectedServers)
        : QObject(owner), owner(owner), entries(buildEntries()), initialId(initialZoneId(selectedServers))
    {
        if (initialId == kDifferentId)
            entries.prepend({TimeZonesModel::tr("<Different>"), INT_MAX, {kDifferentId}});
        initIndex = rowOf(entries, initialId);
        if (initIndex < 0) {
            entries.prepend({TimeZonesModel::tr("<Unknown>"), INT_MIN, {kUnknownId}});
            initIndex = 0;
        }
    }

    TimeZonesModel *const owner;
    ZoneEntries entries;
    const QByteArray initialId;
    int initIndex = 0;
};

TimeZonesModel::TimeZonesModel(const ServerInfoPtrContainer &selectedServers, QObject *parent)
    : QAbstractListModel(parent), m_impl(new Impl(this, selectedServers))
{
}

TimeZonesModel::~TimeZonesModel() = default;

int TimeZonesModel::initIndex() const
{
    return m_impl->initIndex;
}

int TimeZonesModel::currentTimeZoneIndex() const
{
    return rowOf(m_impl->entries, QDateTime::currentDateTime().timeZone().id());
}

bool TimeZonesModel::isValidValue(int index) const
{
    if (index < 0 || index >= m_impl->entries.size())
        return false;
    const QList<QByteArray> &ids = m_impl->entries.at(index).ids;
    return ids.isEmpty() || (ids.first() != kDifferentId && ids.first() != kUnknownId);
}

QByteArray TimeZonesModel::timeZoneIdByIndex(int index) const
{
    if (index < 0 || index >= m_impl->entries.size() || m_impl->entries.at(index).ids.isEmpty())
        return QByteArray();
    return m_impl->entries.at(index).ids.first();
}

int TimeZonesModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_impl->entries.size();
}

QVariant TimeZonesModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() < 0 || index.row() >= m_impl->entries.size())
        return QVariant();

    const ZoneEntry &entry = m_impl->entries.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
    case Qt::ToolTipRole:
    case Qt::StatusTipRole:
    case Qt::WhatsThisRole:
    case Qt::AccessibleTextRole:
    case Qt::AccessibleDescriptionRole:
        return entry.displayName;
    case Qt::UserRole:
        return entry.ids.isEmpty() ? QByteArray() : entry.ids.first();
    default:
        return QVariant();
    }
}

} // namespace rtu
