#include "platform/local_addresses.h"

#ifdef _WIN32
#include <QNetworkInterface>
#else
#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <vector>
#endif

namespace rtu::platform {

#ifdef _WIN32

QList<QHostAddress> localIPv4Addresses()
{
    QList<QHostAddress> result;
    for (const QNetworkInterface &interface : QNetworkInterface::allInterfaces()) {
        if (!(interface.flags() & QNetworkInterface::IsUp))
            continue;
        for (const QNetworkAddressEntry &entry : interface.addressEntries()) {
            const QHostAddress address = entry.ip();
            if (address.protocol() == QAbstractSocket::IPv4Protocol && !result.contains(address))
                result.append(address);
        }
    }
    return result;
}

#else

QList<QHostAddress> localIPv4Addresses()
{
    // The interface ioctls answer from the IPv4 table alone; a netlink
    // listing (getifaddrs) also dumps every link with its statistics.
    QList<QHostAddress> result;
    const int socket = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (socket < 0)
        return result;
    std::vector<ifreq> entries(16);
    ifconf list {};
    for (;;) {
        list.ifc_len = int(entries.size() * sizeof(ifreq));
        list.ifc_req = entries.data();
        if (ioctl(socket, SIOCGIFCONF, &list) != 0) {
            list.ifc_len = 0;
            break;
        }
        // A full answer may have been cut short: ask again with more room.
        if (list.ifc_len < int(entries.size() * sizeof(ifreq)) || entries.size() >= 65536)
            break;
        entries.resize(entries.size() * 2);
    }
    const int count = list.ifc_len / int(sizeof(ifreq));
    for (int i = 0; i < count; ++i) {
        ifreq entry = entries[size_t(i)];
        if (entry.ifr_addr.sa_family != AF_INET)
            continue;
        const auto *address = reinterpret_cast<const sockaddr_in *>(&entry.ifr_addr);
        const QHostAddress host(quint32(ntohl(address->sin_addr.s_addr)));
        if (ioctl(socket, SIOCGIFFLAGS, &entry) != 0 || !(entry.ifr_flags & IFF_UP))
            continue;
        if (!result.contains(host))
            result.append(host);
    }
    ::close(socket);
    return result;
}

#endif

} // namespace rtu::platform
