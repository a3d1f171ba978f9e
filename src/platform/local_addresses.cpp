#include "platform/local_addresses.h"

#ifdef _WIN32
#include <QNetworkInterface>
#else
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
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
    QList<QHostAddress> result;
    ifaddrs *list = nullptr;
    if (getifaddrs(&list) != 0)
        return result;
    for (const ifaddrs *entry = list; entry; entry = entry->ifa_next) {
        if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET || !(entry->ifa_flags & IFF_UP))
            continue;
        const auto *address = reinterpret_cast<const sockaddr_in *>(entry->ifa_addr);
        const QHostAddress host(quint32(ntohl(address->sin_addr.s_addr)));
        if (!result.contains(host))
            result.append(host);
    }
    freeifaddrs(list);
    return result;
}

#endif

} // namespace rtu::platform
