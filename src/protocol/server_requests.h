#pragma once

#include "core/constants.h"
#include "core/server_info.h"

#include <QJsonObject>
#include <QStringList>

#include <functional>
#include <optional>

namespace rtu {

class HttpClient;

// Outcome of a request: 0 accepted; -1 not sent, unreadable reply or refused
// by the server; otherwise the HTTP status (0 for a network error or time-out,
// 401 for a rejected password).
using OperationCallback =
    std::function<void(int errorCode, const QString &reason, AffectedEntities affected)>;
using ExtraInfoCallback = std::function<void(const QUuid &id, const ExtraServerInfo &extraInfo)>;
using ReplyParser = std::function<bool(const QJsonObject &reply, ExtraServerInfo &out)>;

// One interface to change; unset members are not sent.
struct InterfaceChange
{
    InterfaceChange() = default;
    explicit InterfaceChange(const QString &name) : name(name) {}

    QString name;
    std::optional<bool> useDHCP;
    std::optional<QString> address;
    std::optional<QString> mask;
    std::optional<QString> dns;
    std::optional<QString> gateway;
};
using InterfaceChangesList = QVector<InterfaceChange>;

// Interfaces kept per server: what one page can show, and a bound on what a
// server listing thousands can cost.
constexpr int kMaxInterfaces = 64;

// Failure texts of changes. A change the server may have carried out says so
// (once); one that never left the tool says that it was not sent, and why.
QString mayHaveBeenApplied(const QString &reason);
QString notSentReason(const QString &cause);

// "738", then "morvy".
const QStringList &defaultPasswords();

bool parseTimeReply(const QJsonObject &reply, ExtraServerInfo &out);
// Keeps the first kMaxInterfaces interfaces.
bool parseInterfacesReply(const QJsonObject &reply, ExtraServerInfo &out);

// Reading requests.
void requestExtraServerInfo(HttpClient *client, const BaseServerInfo &baseInfo, const QString &password,
                            const ExtraInfoCallback &success, const OperationCallback &failed, int timeoutMs);
void sendGetTimeRequest(HttpClient *client, const BaseServerInfo &baseInfo, const QString &password,
                        const ExtraInfoCallback &success, const OperationCallback &failed, int timeoutMs);
void sendIfListRequest(HttpClient *client, const BaseServerInfo &baseInfo, const QString &password,
                       const ExtraInfoCallback &success, const OperationCallback &failed, int timeoutMs);

// Change requests; each reports success and failure through its callback.
void sendSetTimeRequest(HttpClient *client, const ServerInfo &info, qint64 utcDateTimeMs,
                        const QByteArray &timeZoneId, const OperationCallback &callback);
void sendChangeSystemNameRequest(HttpClient *client, const ServerInfo &info, const QString &systemName,
                                 const OperationCallback &callback);
void sendChangePasswordRequest(HttpClient *client, const ServerInfo &info, const QString &password,
                               bool useNewPasswordAsOld, const OperationCallback &callback);
void sendChangePortRequest(HttpClient *client, const ServerInfo &info, int port,
                           const OperationCallback &callback);
void sendIfConfigRequest(HttpClient *client, const ServerInfo &info, const InterfaceChangesList &changes,
                         const OperationCallback &callback);

// The bytes of the request line ("GET /api/configure?... HTTP/1.1") that a
// "configure" request with these query items, in this order, goes out with.
int configureRequestLineBytes(const QVector<QPair<QString, QString>> &items);

} // namespace rtu
