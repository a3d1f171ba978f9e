#pragma once

#include "core/server_info.h"

#include <QByteArray>
#include <QString>

namespace rtu {
class ServersSelectionModel;
}

// A logged-in server as a test wants it selected.
struct TestServer
{
    QString name = QStringLiteral("server");
    QString systemName = QStringLiteral("system");
    QString host = QStringLiteral("127.0.0.2");
    int port = 7001;
    int flags = 0x3;
    QString password = QStringLiteral("admin");
    qint64 utcDateTimeMs = 0;
    qint64 timestampMs = 0;
    QByteArray timeZoneId = QByteArrayLiteral("Europe/Berlin");
    rtu::InterfaceInfoList interfaces;
};

// Adds the server and selects it through the model's update slots, the way
// confirmed changes reach it, so no network is needed. Returns its id.
QUuid addSelectedServer(rtu::ServersSelectionModel &model, const TestServer &server);

// Adds one selected server per entry, on hosts 127.0.0.2 upward, each with
// one interface per given DHCP state (2 on, 0 off).
void addSelectedServers(rtu::ServersSelectionModel &model, const QList<QList<int>> &dhcpStates);

// An interface on the loopback network with DHCP on (2) or off (0).
rtu::InterfaceInfo testInterface(int number, int useDHCP);
