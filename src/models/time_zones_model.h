#pragma once

#include "core/server_info.h"

#include <QAbstractListModel>

namespace rtu {

// The time zones of the platform's database for the zone picker, one row per
// display text, sorted by standard offset. A snapshot of the selection it
// was built for.
class TimeZonesModel : public QAbstractListModel
{
    Q_OBJECT

    Q_PROPERTY(int initIndex READ initIndex NOTIFY initIndexChanged)
    Q_PROPERTY(int currentTimeZoneIndex READ currentTimeZoneIndex NOTIFY currentTimeZoneIndexChanged)

public:
    TimeZonesModel(const ServerInfoPtrContainer &selectedServers, QObject *parent);
    ~TimeZonesModel() override;

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

private:
    class Impl;
    Impl *const m_impl;
};

} // namespace rtu
