#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>

namespace rtu {

class ServersSelectionModel;

// What the selected servers have in common, computed once: each value is the
// one all of them share, or a fixed value that stands for disagreement. A new
// object replaces it on every selection change.
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

signals:
    void changed();

private:
    class Impl;
    Impl *const m_impl;
};

} // namespace rtu
