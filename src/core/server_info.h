#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUuid>
#include <QVector>

#include <functional>
#include <memory>

namespace rtu {

// What discovery learns about a server without logging in.
struct BaseServerInfo
{
    QUuid id;
    QString displayAddress;
    int flags = 0;
    QString name;
    QString systemName;
    QString hostAddress;
    int port = 0;
};

// Only the identity and the settings the operator can see take part; the
// addresses and flags do not.
bool operator==(const BaseServerInfo &first, const BaseServerInfo &second);
bool operator!=(const BaseServerInfo &first, const BaseServerInfo &second);

struct InterfaceInfo
{
    InterfaceInfo() = default;
    InterfaceInfo(const QString &name, const QString &ip, const QString &macAddress, const QString &mask,
                  const QString &gateway, const QString &dns, int useDHCP);

    QString name;
    QString ip;
    QString macAddress;
    QString mask;
    QString gateway;
    QString dns;
    int useDHCP = 0; // Qt::CheckState
};

// Interfaces of one server are matched by name, so the name is not compared.
bool operator==(const InterfaceInfo &first, const InterfaceInfo &second);
bool operator!=(const InterfaceInfo &first, const InterfaceInfo &second);

using InterfaceInfoList = QList<InterfaceInfo>;

// What is known after logging in to a server.
struct ExtraServerInfo
{
    ExtraServerInfo() = default;
    ExtraServerInfo(const QString &password, qint64 timestampMs, qint64 utcDateTimeMs,
                    const QByteArray &timeZoneId, const InterfaceInfoList &interfaces);

    QString password;
    qint64 timestampMs = 0;
    qint64 utcDateTimeMs = 0;
    QByteArray timeZoneId;
    InterfaceInfoList interfaces;
};

// A server as the rest of the system holds it: logged in exactly when it has
// extra information.
class ServerInfo
{
public:
    ServerInfo() = default;
    explicit ServerInfo(const BaseServerInfo &baseInfo);
    ServerInfo(const BaseServerInfo &baseInfo, const ExtraServerInfo &extraInfo);
    ServerInfo(const ServerInfo &other);
    ServerInfo(ServerInfo &&other) noexcept = default;
    ~ServerInfo();

    // Keeps the target's extra information when the source has none: a
    // rediscovered record must not log a server out.
    ServerInfo &operator=(const ServerInfo &other);
    ServerInfo &operator=(ServerInfo &&other) noexcept;

    const BaseServerInfo &baseInfo() const { return m_base; }
    BaseServerInfo &writableBaseInfo() { return m_base; }

    bool hasExtraInfo() const { return static_cast<bool>(m_extra); }
    const ExtraServerInfo &extraInfo() const { return *m_extra; }
    ExtraServerInfo &writableExtraInfo() { return *m_extra; }
    void setExtraInfo(const ExtraServerInfo &extraInfo);
    void resetExtraInfo();

private:
    BaseServerInfo m_base;
    std::unique_ptr<ExtraServerInfo> m_extra;
};

using IDsVector = QVector<QUuid>;
using ServerInfoPtrContainer = QVector<ServerInfo *>;
using Callback = std::function<void()>;

// Decodes the capability text of a server ("SF_timeCtrl SF_IfListCtrl ...")
// into Constants::ServerFlag bits.
int flagsFromText(const QString &text);

} // namespace rtu
