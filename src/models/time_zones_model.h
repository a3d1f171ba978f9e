#pragma once

#include "core/server_info.h"

#include <QAbstractListModel>
#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>

namespace rtu {

// What the zone list needs to know of one zone identifier.
struct TimeZoneFacts
{
    QString displayText;
    int standardOffset = 0;
};

using TimeZoneLookup = std::function<TimeZoneFacts(const QByteArray &id)>;

// The time zones of the platform's database for the zone picker, one row per
// display text, sorted by standard offset. A snapshot of the selection it
// was built for. The database part is built once per process.
class TimeZonesModel : public QAbstractListModel
{
    Q_OBJECT

    Q_PROPERTY(int initIndex READ initIndex NOTIFY initIndexChanged)
    Q_PROPERTY(int currentTimeZoneIndex READ currentTimeZoneIndex NOTIFY currentTimeZoneIndexChanged)

public:
    TimeZonesModel(const ServerInfoPtrContainer &selectedServers, QObject *parent);
    // A list built from other identifiers than the platform's (for tests).
    TimeZonesModel(const ServerInfoPtrContainer &selectedServers, QObject *parent, const QList<QByteArray> &ids,
                   const TimeZoneLookup &lookup);
    ~TimeZonesModel() override;

    // Builds the platform's list in short slices on the event loop of the
    // calling thread, so that the first picker finds it ready.
    static void prepareAhead(QObject *context);

    int initIndex() const;
    int currentTimeZoneIndex() const;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role) const override;

signals:
    void initIndexChanged();
    void currentTimeZoneIndexChanged();

public slots:
    bool isValidValue(int index) const;
    QByteArray timeZoneIdByIndex(int index) const;
    // The first zone row whose text or identifiers contain text (any case,
    // a blank matching the '_' of identifiers), or -1.
    int indexOfText(const QString &text) const;

private:
    class Impl;
    Impl *const m_impl;
};

} // namespace rtu
