#pragma once

#include <QObject>
#include <QStringList>

namespace rtu {

// The workstation's IPv4 addresses, those discovery asks on, for the list to
// name while it has found nothing yet.
class LocalIPv4Addresses : public QObject
{
    Q_OBJECT

    Q_PROPERTY(QStringList addresses READ addresses NOTIFY addressesChanged)

public:
    explicit LocalIPv4Addresses(QObject *parent = nullptr);
    ~LocalIPv4Addresses() override;

    QStringList addresses() const;

public slots:
    // Reads them again; addressesChanged() only when they differ.
    void refresh();

signals:
    void addressesChanged();

private:
    QStringList m_addresses;
};

} // namespace rtu
