#include "app/local_ipv4_addresses.h"

#include "platform/local_addresses.h"

#include <QHostAddress>

namespace rtu {

LocalIPv4Addresses::LocalIPv4Addresses(QObject *parent)
    : QObject(parent)
{
    refresh();
}

LocalIPv4Addresses::~LocalIPv4Addresses() = default;

QStringList LocalIPv4Addresses::addresses() const
{
    return m_addresses;
}

void LocalIPv4Addresses::refresh()
{
    QStringList addresses;
    for (const QHostAddress &address : platform::localIPv4Addresses())
        addresses.append(address.toString());
    if (addresses == m_addresses)
        return;
    m_addresses = addresses;
    emit addressesChanged();
}

} // namespace rtu
