#include "models/time_zones_model.h"

#include "core/date_time_helpers.h"

#include <QDateTime>
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

bool listsId(const ZoneEntries &entries, const QByteArray &id)
{
    return std::any_of(entries.cbegin(), entries.cend(),
                       [&id](const ZoneEntry &entry) { return entry.ids.contains(id); });
}

// Joins the row of that offset, preferring one named "Universal"; without such
// a row the identifier is left out.
void attach(ZoneEntries &entries, const QByteArray &id, int offset)
{
    if (listsId(entries, id))
        return;
    ZoneEntry *target = nullptr;
    for (ZoneEntry &entry : entries) {
        if (entry.offset != offset)
            continue;
        if (entry.displayName.contains(QLatin1String("Universal"))) {
            target = &entry;
            break;
        }
        if (!target)
            target = &entry;
    }
    if (target)
        target->ids.append(id);
}

ZoneEntries buildEntries()
{
    const QDateTime now = QDateTime::currentDateTime();
    const QList<QByteArray> ids = QTimeZone::availableTimeZoneIds();

    ZoneEntries entries;
    for (const QByteArray &id : ids) {
        if (isUtcLike(id))
            continue;
        const QTimeZone zone(id);
        const QString displayName = timeZoneDisplayText(zone, now);
        const auto found = std::find_if(entries.begin(), entries.end(), [&displayName](const ZoneEntry &entry) {
            return entry.displayName == displayName;
        });
        if (found != entries.end())
            found->ids.append(id);
        else
            entries.append({displayName, zone.standardTimeOffset(now), {id}});
    }

    std::stable_sort(entries.begin(), entries.end(), [](const ZoneEntry &first, const ZoneEntry &second) {
        if (first.offset != second.offset)
            return first.offset < second.offset;
        return first.displayName < second.displayName;
    });

    for (const QByteArray &id : ids) {
        if (isUtcLike(id))
            attach(entries, id, QTimeZone(id).standardTimeOffset(now));
    }
    for (const QByteArray &id : utcAliases())
        attach(entries, id, 0);
    return entries;
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
