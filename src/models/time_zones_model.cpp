#include "models/time_zones_model.h"

#include "core/date_time_helpers.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QHash>
#include <QSet>
#include <QTimer>
#include <QTimeZone>
#include <QVector>

#include <algorithm>
#include <climits>
#include <memory>

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

// Where no row is the "Universal" one, UTC and its aliases get this row of
// their own rather than joining the first region at offset 0.
const QString kUtcRowText = QStringLiteral("(UTC+00:00) UTC");
const QByteArray kUtcId = QByteArrayLiteral("UTC");

bool isUniversal(const ZoneEntry &entry)
{
    return entry.displayName.contains(QLatin1String("Universal"));
}

// Builds the list in steps, so that the platform's list can be built in
// slices on the event loop.
class EntriesBuilder
{
public:
    EntriesBuilder(const QList<QByteArray> &ids, const TimeZoneLookup &lookup) : m_ids(ids), m_lookup(lookup) {}

    // Works for about budgetMs (all at once when negative); true when done.
    bool build(qint64 budgetMs)
    {
        QElapsedTimer timer;
        timer.start();
        while (m_next < m_ids.size()) {
            const QByteArray &id = m_ids.at(m_next++);
            if (!isUtcLike(id))
                addByDisplayText(id);
            if (budgetMs >= 0 && timer.elapsed() >= budgetMs)
                return false;
        }
        finish();
        return true;
    }

    ZoneEntries take() { return std::move(m_entries); }

private:
    void addByDisplayText(const QByteArray &id)
    {
        const TimeZoneFacts facts = m_lookup(id);
        const auto found = m_rowByName.constFind(facts.displayText);
        if (found != m_rowByName.constEnd()) {
            m_entries[found.value()].ids.append(id);
        } else {
            m_rowByName.insert(facts.displayText, m_entries.size());
            m_entries.append({facts.displayText, facts.standardOffset, {id}});
        }
        m_listed.insert(id);
    }

    void finish()
    {
        const bool universalRow = std::any_of(m_entries.cbegin(), m_entries.cend(), [](const ZoneEntry &entry) {
            return entry.offset == 0 && isUniversal(entry);
        });
        if (!universalRow) {
            m_entries.append({kUtcRowText, 0, {kUtcId}});
            m_listed.insert(kUtcId);
        }
        sort();
        for (const QByteArray &id : qAsConst(m_ids)) {
            if (isUtcLike(id))
                attach(id, m_lookup(id).standardOffset);
        }
        for (const QByteArray &id : utcAliases())
            attach(id, 0);
    }

    void sort()
    {
        std::sort(m_entries.begin(), m_entries.end(), [](const ZoneEntry &first, const ZoneEntry &second) {
            if (first.offset != second.offset)
                return first.offset < second.offset;
            return first.displayName < second.displayName;
        });
        m_rowByName.clear();

        // Attaching only appends identifiers, so each offset's target row is
        // fixed from here on: the first of its offset, unless a "Universal"
        // row (or failing that the UTC row) is there.
        for (int row = 0; row < m_entries.size(); ++row) {
            const ZoneEntry &entry = m_entries.at(row);
            const auto target = m_targetByOffset.constFind(entry.offset);
            const bool preferred = isUniversal(entry) || entry.ids.first() == kUtcId;
            if (target == m_targetByOffset.constEnd()
                || (preferred && !isUniversal(m_entries.at(target.value()))))
                m_targetByOffset.insert(entry.offset, row);
        }
    }

    // Joins the row of that offset; without such a row the identifier is left out.
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

    const QList<QByteArray> m_ids;
    const TimeZoneLookup m_lookup;
    int m_next = 0;
    ZoneEntries m_entries;
    QHash<QString, int> m_rowByName;
    QHash<int, int> m_targetByOffset;
    QSet<QByteArray> m_listed;
};

TimeZoneLookup platformLookup(const QDateTime &now)
{
    return [now](const QByteArray &id) {
        const QTimeZone zone = timeZoneById(id);
        return TimeZoneFacts{timeZoneDisplayText(zone, now), zone.standardTimeOffset(now)};
    };
}

// The platform's list, built once per process: opening its zones costs
// about a tenth of a second, and a picker appears with every settings page.
struct PlatformList
{
    std::unique_ptr<EntriesBuilder> builder;
    ZoneEntries entries;
    bool ready = false;
};

PlatformList &platformList()
{
    static PlatformList list;
    return list;
}

bool buildPlatformList(qint64 budgetMs)
{
    PlatformList &list = platformList();
    if (list.ready)
        return true;
    if (!list.builder)
        list.builder = std::make_unique<EntriesBuilder>(platformTimeZoneIds(), platformLookup(QDateTime::currentDateTime()));
    if (!list.builder->build(budgetMs))
        return false;
    list.entries = list.builder->take();
    list.builder.reset();
    list.ready = true;
    return true;
}

const ZoneEntries &platformEntries()
{
    buildPlatformList(-1);
    return platformList().entries;
}

ZoneEntries buildEntries(const QList<QByteArray> &ids, const TimeZoneLookup &lookup)
{
    EntriesBuilder builder(ids, lookup);
    builder.build(-1);
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
    Impl(TimeZonesModel *owner, const ServerInfoPtrContainer &selectedServers, const ZoneEntries &zones)
        : QObject(owner), owner(owner), entries(zones), initialId(initialZoneId(selectedServers))
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
    : QAbstractListModel(parent), m_impl(new Impl(this, selectedServers, platformEntries()))
{
}

TimeZonesModel::TimeZonesModel(const ServerInfoPtrContainer &selectedServers, QObject *parent,
                               const QList<QByteArray> &ids, const TimeZoneLookup &lookup)
    : QAbstractListModel(parent), m_impl(new Impl(this, selectedServers, buildEntries(ids, lookup)))
{
}

void TimeZonesModel::prepareAhead(QObject *context)
{
    // Slices short enough that discovery and painting go on meanwhile.
    constexpr qint64 kSliceMs = 5;
    auto *timer = new QTimer(context);
    timer->setInterval(0);
    QObject::connect(timer, &QTimer::timeout, timer, [timer] {
        if (buildPlatformList(kSliceMs))
            timer->deleteLater();
    });
    timer->start();
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

int TimeZonesModel::indexOfText(const QString &text) const
{
    const QString wanted = text.trimmed();
    if (wanted.isEmpty())
        return -1;
    const QByteArray wantedId = QString(wanted).replace(QLatin1Char(' '), QLatin1Char('_')).toUtf8();
    for (int row = 0; row < m_impl->entries.size(); ++row) {
        const ZoneEntry &entry = m_impl->entries.at(row);
        if (!isValidValue(row))
            continue;
        if (entry.displayName.contains(wanted, Qt::CaseInsensitive))
            return row;
        for (const QByteArray &id : entry.ids) {
            if (id.toLower().contains(wantedId.toLower()))
                return row;
        }
    }
    return -1;
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
