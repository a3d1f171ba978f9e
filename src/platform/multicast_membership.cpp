#include "platform/multicast_membership.h"

#ifdef _WIN32
// inet_addr is all the join needs: dotted IPv4 texts.
#define _WINSOCK_DEPRECATED_NO_WARNINGS
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

namespace rtu::platform {

bool joinMulticastGroup(qintptr socketDescriptor, const QString &groupAddress, const QString &interfaceAddress)
{
    if (socketDescriptor < 0 || groupAddress.isEmpty() || interfaceAddress.isEmpty())
        return false;

    const QByteArray group = groupAddress.toLatin1();
    const QByteArray local = interfaceAddress.toLatin1();
    ip_mreq request = {};
    request.imr_multiaddr.s_addr = inet_addr(group.constData());
    request.imr_interface.s_addr = inet_addr(local.constData());

#ifdef _WIN32
    return setsockopt(static_cast<SOCKET>(socketDescriptor), IPPROTO_IP, IP_ADD_MEMBERSHIP,
                      reinterpret_cast<const char *>(&request), sizeof(request))
           == 0;
#else
    return setsockopt(static_cast<int>(socketDescriptor), IPPROTO_IP, IP_ADD_MEMBERSHIP, &request, sizeof(request))
           == 0;
#endif
}

} // namespace rtu::platform
