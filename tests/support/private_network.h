#pragma once

#include <QtGlobal>

namespace rtu::test {

// Set by scripts/netns.sh: the process runs in a fresh network namespace
// whose traffic cannot leave the machine.
inline bool insidePrivateNetwork()
{
    return qEnvironmentVariable("TESSALY_PRIVATE_NET") == QLatin1String("1");
}

} // namespace rtu::test

// For initTestCase() of every test that opens a socket.
#define TESSALY_REQUIRE_PRIVATE_NETWORK()                                                                    \
    do {                                                                                                     \
        if (!rtu::test::insidePrivateNetwork())                                                              \
            QFAIL("This test opens sockets: run it inside scripts/netns.sh (TESSALY_PRIVATE_NET=1)");        \
    } while (false)
