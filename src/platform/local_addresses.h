#pragma once

#include <QHostAddress>
#include <QList>

namespace rtu::platform {

// The IPv4 addresses of the interfaces that are up, each once, in the order
// the system lists them. Asked every discovery cycle: Qt's own listing
// builds whole interface records and costs several times as much.
QList<QHostAddress> localIPv4Addresses();

} // namespace rtu::platform
