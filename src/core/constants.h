#pragma once

#include <QFlags>
#include <QObject>

namespace rtu {

// Enumerations shared with the QML documents through the type "Constants".
class Constants : public QObject
{
    Q_OBJECT

public:
    enum ServerFlag {
        NoFlags = 0,
        AllowChangeDateTimeFlag = 0x1,
        AllowIfConfigFlag = 0x2,
        IsFactoryFlag = 0x4,
        AllFlags = 0xFFFF,
    };
    Q_ENUM(ServerFlag)

    enum Pages {
        SettingsPage = 0,
        ProgressPage = 1,
        SummaryPage = 2,
    };
    Q_ENUM(Pages)

    enum LoggedState {
        LoggedToAllServers = 0,
        PartiallyLogged = 1,
        NotLogged = 2,
    };
    Q_ENUM(LoggedState)

    enum ItemType {
        SystemItemType = 0,
        ServerItemType = 1,
        UnknownGroupType = 2,
        UnknownEntityType = 3,
    };
    Q_ENUM(ItemType)

    using QObject::QObject;
};

// The settings a configuration request touched.
enum AffectedEntity {
    NoEntitiesAffected = 0x000,
    PortAffected = 0x001,
    PasswordAffected = 0x002,
    SystemNameAffected = 0x004,
    IpAddressAffected = 0x010,
    SubnetMaskAffected = 0x020,
    DnsAffected = 0x040,
    GatewayAffected = 0x080,
    DateTimeAffected = 0x100,
    TimeZoneAffected = 0x200,
    AllInterfaceEntitiesAffected = 0x0F0,
    AllDateTimeEntitiesAffected = 0x300,
    AllEntitiesAffected = 0xFFF,
};
Q_DECLARE_FLAGS(AffectedEntities, AffectedEntity)

} // namespace rtu

Q_DECLARE_OPERATORS_FOR_FLAGS(rtu::AffectedEntities)
