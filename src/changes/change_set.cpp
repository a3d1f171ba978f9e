#include "changes/change_set.h"

namespace rtu {

int setMembersCount(const InterfaceChange &change)
{
    return int(change.useDHCP.has_value()) + int(change.address.has_value()) + int(change.mask.has_value())
        + int(change.dns.has_value()) + int(change.gateway.has_value());
}

bool matches(const InterfaceChange &change, const InterfaceInfo &iface)
{
    return change.name == iface.name
        && (!change.useDHCP || *change.useDHCP == (iface.useDHCP == Qt::Checked))
        && (!change.address || *change.address == iface.ip) && (!change.mask || *change.mask == iface.mask)
        && (!change.dns || *change.dns == iface.dns) && (!change.gateway || *change.gateway == iface.gateway);
}

} // namespace rtu
