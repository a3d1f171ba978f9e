#pragma once

#include <QString>
#include <QtGlobal>

namespace rtu::platform {

// Joins an IPv4 multicast group on a bound socket for one local interface
// address. Qt's own join picks interfaces by QNetworkInterface, which cannot
// name an interface by one of its addresses; the socket option can.
// Returns false when either text is empty or the system refuses.
bool joinMulticastGroup(qintptr socketDescriptor, const QString &groupAddress, const QString &interfaceAddress);

} // namespace rtu::platform
