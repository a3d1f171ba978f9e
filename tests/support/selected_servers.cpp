#include "selected_servers.h"

#include "models/servers_selection_model.h"

QUuid addSelectedServer(rtu::ServersSelectionModel &model, const TestServer &server)
{
    rtu::BaseServerInfo base;
    base.id = QUuid::createUuid();
    base.name = server.name;
    base.systemName = server.systemName;
    base.hostAddress = server.host;
    base.displayAddress = server.host;
    base.port = server.port;
    base.flags = server.flags;
    model.addServer(base);
    model.updatePasswordInfo(base.id, server.password);
    model.updateTimeDateInfo(base.id, server.utcDateTimeMs, server.timeZoneId, server.timestampMs);
    model.updateInterfacesInfo(base.id, server.host, server.interfaces);
    return base.id;
}

void addSelectedServers(rtu::ServersSelectionModel &model, const QList<QList<int>> &dhcpStates)
{
    int host = 2;
    for (const QList<int> &states : dhcpStates) {
        TestServer server;
        server.host = QStringLiteral("127.0.0.%1").arg(host);
        for (int i = 0; i < states.size(); ++i)
            server.interfaces << testInterface(host * 10 + i, states.at(i));
        addSelectedServer(model, server);
        ++host;
    }
}

rtu::InterfaceInfo testInterface(int number, int useDHCP)
{
    const QString n = QString::number(number);
    return rtu::InterfaceInfo(QStringLiteral("eth") + n, QStringLiteral("127.0.1.") + n,
                              QStringLiteral("00:00:00:00:00:0") + n, QStringLiteral("255.255.255.0"),
                              QStringLiteral("127.0.1.254"), QStringLiteral("127.0.0.53"), useDHCP);
}
