#include "core/server_info.h"

#include "core/constants.h"

namespace rtu {

bool operator==(const BaseServerInfo &first, const BaseServerInfo &second)
{
    return first.id == second.id && first.name == second.name && first.port == second.port
        && first.systemName == second.systemName;
}

bool operator!=(const BaseServerInfo &first, const BaseServerInfo &second)
{
    return !(first == second);
}

InterfaceInfo::InterfaceInfo(const QString &name, const QString &ip, const QString &macAddress,
                             const QString &mask, const QString &gateway, const QString &dns, int useDHCP)
    : name(name), ip(ip), macAddress(macAddress), mask(mask), gateway(gateway), dns(dns), useDHCP(useDHCP)
{
}

bool operator==(const InterfaceInfo &first, const InterfaceInfo &second)
{
    return first.ip == second.ip && first.macAddress == second.macAddress && first.mask == second.mask
        && first.gateway == second.gateway && first.dns == second.dns && first.useDHCP == second.useDHCP;
}

bool operator!=(const InterfaceInfo &first, const InterfaceInfo &second)
{
    return !(first == second);
}

ExtraServerInfo::ExtraServerInfo(const QString &password, qint64 timestampMs, qint64 utcDateTimeMs,
                                 const QByteArray &timeZoneId, const InterfaceInfoList &interfaces)
    : password(password), timestampMs(timestampMs), utcDateTimeMs(utcDateTimeMs), timeZoneId(timeZoneId),
      interfaces(interfaces)
{
}

ServerInfo::ServerInfo(const BaseServerInfo &baseInfo) : m_base(baseInfo) {}

ServerInfo::ServerInfo(const BaseServerInfo &baseInfo, const ExtraServerInfo &extraInfo)
    : m_base(baseInfo), m_extra(std::make_unique<ExtraServerInfo>(extraInfo))
{
}

ServerInfo::ServerInfo(const ServerInfo &other)
    : m_base(other.m_base), m_extra(other.m_extra ? std::make_unique<ExtraServerInfo>(*other.m_extra) : nullptr)
{
}

ServerInfo::~ServerInfo() = default;

ServerInfo &ServerInfo::operator=(const ServerInfo &other)
{
    if (this == &other)
        return *this;
    m_base = other.m_base;
    if (other.m_extra)
        setExtraInfo(*other.m_extra);
    return *this;
}

ServerInfo &ServerInfo::operator=(ServerInfo &&other) noexcept
{
    if (this == &other)
        return *this;
    m_base = std::move(other.m_base);
    if (other.m_extra)
        m_extra = std::move(other.m_extra);
    return *this;
}

void ServerInfo::setExtraInfo(const ExtraServerInfo &extraInfo)
{
    if (m_extra)
        *m_extra = extraInfo;
    else
        m_extra = std::make_unique<ExtraServerInfo>(extraInfo);
}

void ServerInfo::resetExtraInfo()
{
    m_extra.reset();
}

int flagsFromText(const QString &text)
{
    static const struct
    {
        const char *marker;
        int flag;
    } markers[] = {
        {"SF_timeCtrl", Constants::AllowChangeDateTimeFlag},
        {"SF_IfListCtrl", Constants::AllowIfConfigFlag},
        {"SF_AutoSystemName", Constants::IsFactoryFlag},
    };
    int flags = Constants::NoFlags;
    for (const auto &entry : markers) {
        if (text.contains(QLatin1String(entry.marker), Qt::CaseSensitive))
            flags |= entry.flag;
    }
    return flags;
}

} // namespace rtu
