#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QObject>
#include <QString>

namespace rtu {

class ServersSelectionModel;

// What the selected servers have in common, computed once: each value is the
// one all of them share, or a fixed value that stands for disagreement. A new
// object replaces it on every selection change. The servers' clock alone runs
// on: every read gives its current value.
class Selection : public QObject
{
    Q_OBJECT

    Q_PROPERTY(int count READ count NOTIFY changed)
    Q_PROPERTY(int port READ port NOTIFY changed)
    Q_PROPERTY(int flags READ flags NOTIFY changed)
    Q_PROPERTY(int dhcpState READ dhcpState NOTIFY changed)
    Q_PROPERTY(QString systemName READ systemName NOTIFY changed)
    Q_PROPERTY(QString password READ password NOTIFY changed)
    Q_PROPERTY(QDateTime dateTime READ dateTime NOTIFY changed)
    Q_PROPERTY(bool editableInterfaces READ editableInterfaces NOTIFY changed)

public:
    Selection(ServersSelectionModel *model, QObject *parent);
    ~Selection() override;

    int count() const;
    int port() const;
    int flags() const;
    int dhcpState() const;
    QString systemName() const;
    QString password() const;
    QDateTime dateTime() const;
    bool editableInterfaces() const;

    // The servers' common clock now, as the wall clock of a zone; a zone the
    // platform does not know gives the servers' own zone.
    Q_INVOKABLE QDateTime dateTimeIn(const QByteArray &timeZoneId) const;
    // The servers' common clock now, in ms since the epoch; 0 when they have none.
    Q_INVOKABLE qint64 currentClockMs() const;

signals:
    void changed();

private:
    class Impl;
    Impl *const m_impl;
};

} // namespace rtu
