#include "protocol/server_requests.h"

#include "core/date_time_helpers.h"
#include "core/json_object.h"
#include "protocol/http_client.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>
#include <QTimeZone>
#include <QUrl>
#include <QUrlQuery>

namespace rtu {

namespace {

using QueryItems = QVector<QPair<QString, QString>>;

const QString kUserName = QStringLiteral("admin");
const QString kInvalidParameters = QStringLiteral("Invalid request parameters");
const QString kInvalidResponse = QStringLiteral("Invalid response");

QUrl makeUrl(const BaseServerInfo &base, const QString &password, const QString &command,
             const QueryItems &items = QueryItems())
{
    QUrl url;
    url.setScheme(QStringLiteral("http"));
    url.setHost(base.hostAddress, QUrl::DecodedMode);
    url.setPort(base.port);
    url.setUserName(kUserName, QUrl::DecodedMode);
    url.setPassword(password, QUrl::DecodedMode);
    url.setPath(QStringLiteral("/api/") + command, QUrl::DecodedMode);
    if (!items.isEmpty()) {
        QUrlQuery query;
        // A '%' in a value would be read as the start of an escape ("%41"
        // reaching the server as "A"), and a '+' as a blank by a server that
        // decodes its query as a form: values go out exactly as given. A null
        // value stays null, for the bare key.
        for (const auto &item : items) {
            query.addQueryItem(item.first, item.second.isNull()
                                               ? item.second
                                               : QString(item.second)
                                                     .replace(QLatin1Char('%'), QLatin1String("%25"))
                                                     .replace(QLatin1Char('+'), QLatin1String("%2B")));
        }
        url.setQuery(query);
    }
    return url;
}

QJsonObject replyObject(const QByteArray &body)
{
    return parseJsonObject(body).value_or(QJsonObject());
}

// Whether the reply's "error", a string holding a decimal integer, is
// non-zero. Absent, not a string, or not a number: all count as "no error".
// The digits are judged as text, so a code too long for an int still counts
// as the refusal it is instead of overflowing into "accepted".
// Read by hand: every refresh reply passes here, and a pattern match cost
// more than the rest of the check.
bool serverRefused(const QJsonObject &reply)
{
    const QString code = reply.value(QLatin1String("error")).toString();
    const auto space = [](QChar c) { return c == QLatin1Char(' ') || (c.unicode() >= 9 && c.unicode() <= 13); };
    const auto digit = [](QChar c) { return c.unicode() >= '0' && c.unicode() <= '9'; };
    const int size = code.size();
    int at = 0;
    while (at < size && space(code[at]))
        ++at;
    if (at < size && (code[at] == QLatin1Char('+') || code[at] == QLatin1Char('-')))
        ++at;
    while (at < size && code[at] == QLatin1Char('0'))
        ++at;
    if (at == size || !digit(code[at]))
        return false;
    while (at < size && digit(code[at]))
        ++at;
    while (at < size && space(code[at]))
        ++at;
    return at == size;
}

void report(const OperationCallback &callback, int code, const QString &reason, AffectedEntities affected)
{
    if (callback)
        callback(code, reason, affected);
}

HttpClient::OnErrorReply transportFailure(const OperationCallback &callback, AffectedEntities affected)
{
    if (!callback)
        return HttpClient::OnErrorReply();
    return [callback, affected](const QString &reason, int status) { callback(status, reason, affected); };
}

// Sends a reading request and hands the parsed record on; passwordToStore is
// written into the record when the parse succeeded.
void sendReadRequest(HttpClient *client, const BaseServerInfo &base, const QUrl &url, const ReplyParser &parser,
                     const QString &passwordToStore, AffectedEntities affected, const ExtraInfoCallback &success,
                     const OperationCallback &failed, int timeoutMs)
{
    const QUuid id = base.id;
    auto onSuccess = [id, parser, passwordToStore, affected, success, failed](const QByteArray &body) {
        ExtraServerInfo record;
        if (!parser(replyObject(body), record)) {
            report(failed, -1, kInvalidResponse, affected);
            return;
        }
        record.password = passwordToStore;
        if (success)
            success(id, record);
    };
    client->sendGet(url, onSuccess, transportFailure(failed, affected), timeoutMs, HttpClient::Kind::Read);
}

HttpClient::OnSuccessReply changeAccepted(const OperationCallback &callback, AffectedEntities affected)
{
    if (!callback)
        return HttpClient::OnSuccessReply();
    return [callback, affected](const QByteArray &body) {
        const QJsonObject reply = replyObject(body);
        if (serverRefused(reply))
            callback(-1, reply.value(QStringLiteral("errorString")).toString(), affected);
        else
            callback(0, QString(), affected);
    };
}

void sendConfigure(HttpClient *client, const ServerInfo &info, const QString &password, const QueryItems &items,
                   AffectedEntities affected, const OperationCallback &callback)
{
    client->sendGet(makeUrl(info.baseInfo(), password, QStringLiteral("configure"), items),
                    changeAccepted(callback, affected), transportFailure(callback, affected), 0,
                    HttpClient::Kind::Change);
}

} // namespace

const QStringList &defaultPasswords()
{
    static const QStringList passwords{QStringLiteral("738"), QStringLiteral("morvy")};
    return passwords;
}

bool parseTimeReply(const QJsonObject &reply, ExtraServerInfo &out)
{
    if (serverRefused(reply))
        return false;
    const QJsonObject payload = reply.value(QStringLiteral("reply")).toObject();
    if (payload.isEmpty())
        return false;
    const QString zoneIdKey = QStringLiteral("timezoneId");
    const QString offsetKey = QStringLiteral("timeZoneOffset");
    if (!payload.contains(QStringLiteral("utcTime")) || (!payload.contains(zoneIdKey) && !payload.contains(offsetKey)))
        return false;

    // A clock outside what a date can hold is not a reading: every later sum
    // on it would leave the range of its type.
    const qint64 utcMs = payload.value(QStringLiteral("utcTime")).toString().toLongLong();
    if (!isValidClockMs(utcMs))
        return false;

    out.timeZoneId = payload.contains(zoneIdKey)
        ? payload.value(zoneIdKey).toString().toUtf8()
        : QTimeZone(payload.value(offsetKey).toInt()).id();
    out.utcDateTimeMs = utcMs;
    out.timestampMs = monotonicNowMs();
    return true;
}

bool parseInterfacesReply(const QJsonObject &reply, ExtraServerInfo &out)
{
    if (serverRefused(reply))
        return false;
    const QJsonArray payload = reply.value(QStringLiteral("reply")).toArray();
    if (payload.isEmpty())
        return false;

    static const QStringList requiredKeys{
        QStringLiteral("dhcp"), QStringLiteral("gateway"), QStringLiteral("ipAddr"),     QStringLiteral("mac"),
        QStringLiteral("name"), QStringLiteral("netMask"), QStringLiteral("dns_servers")};
    InterfaceInfoList interfaces;
    for (const QJsonValue &value : payload) {
        if (interfaces.size() == kMaxInterfaces)
            break;
        const QJsonObject item = value.toObject();
        for (const QString &key : requiredKeys) {
            if (!item.contains(key))
                return false;
        }
        const auto text = [&item](const char *key) { return item.value(QLatin1String(key)).toString(); };
        interfaces.append(InterfaceInfo(text("name"), text("ipAddr"), text("mac"), text("netMask"), text("gateway"),
                                        text("dns_servers").split(QLatin1Char(' ')).first(),
                                        item.value(QStringLiteral("dhcp")) == QJsonValue(true) ? Qt::Checked
                                                                                               : Qt::Unchecked));
    }
    out.interfaces = interfaces;
    return true;
}

void requestExtraServerInfo(HttpClient *client, const BaseServerInfo &baseInfo, const QString &password,
                            const ExtraInfoCallback &success, const OperationCallback &failed, int timeoutMs)
{
    if (!client) {
        report(failed, -1, kInvalidParameters, AllInterfaceEntitiesAffected | AllDateTimeEntitiesAffected);
        return;
    }
    auto onTime = [client, baseInfo, password, success, timeoutMs](const QUuid &id, const ExtraServerInfo &time) {
        // Interfaces are a bonus: the login stands without them.
        auto withInterfaces = [time, success](const QUuid &id, const ExtraServerInfo &interfaces) {
            ExtraServerInfo record = time;
            record.interfaces = interfaces.interfaces;
            if (success)
                success(id, record);
        };
        auto withoutInterfaces = [id, time, success](int, const QString &, AffectedEntities) {
            if (success)
                success(id, time);
        };
        sendReadRequest(client, baseInfo, makeUrl(baseInfo, password, QStringLiteral("iflist")), parseInterfacesReply,
                        password, AllInterfaceEntitiesAffected, withInterfaces, withoutInterfaces, timeoutMs);
    };
    sendGetTimeRequest(client, baseInfo, password, onTime, failed, timeoutMs);
}

void sendGetTimeRequest(HttpClient *client, const BaseServerInfo &baseInfo, const QString &password,
                        const ExtraInfoCallback &success, const OperationCallback &failed, int timeoutMs)
{
    const AffectedEntities affected = AllDateTimeEntitiesAffected;
    if (!client) {
        report(failed, -1, kInvalidParameters, affected);
        return;
    }
    QueryItems items;
    if (baseInfo.flags & Constants::AllowChangeDateTimeFlag)
        items.append({QStringLiteral("local"), QString()});
    sendReadRequest(client, baseInfo, makeUrl(baseInfo, password, QStringLiteral("gettime"), items), parseTimeReply,
                    password, affected, success, failed, timeoutMs);
}

void sendIfListRequest(HttpClient *client, const BaseServerInfo &baseInfo, const QString &password,
                       const ExtraInfoCallback &success, const OperationCallback &failed, int timeoutMs)
{
    if (!client || !(baseInfo.flags & Constants::AllowIfConfigFlag)) {
        report(failed, -1, kInvalidParameters, AllEntitiesAffected);
        return;
    }
    sendReadRequest(client, baseInfo, makeUrl(baseInfo, password, QStringLiteral("iflist")), parseInterfacesReply,
                    QString(), AllInterfaceEntitiesAffected, success, failed, timeoutMs);
}

void sendSetTimeRequest(HttpClient *client, const ServerInfo &info, qint64 utcDateTimeMs,
                        const QByteArray &timeZoneId, const OperationCallback &callback)
{
    const AffectedEntities affected = AllDateTimeEntitiesAffected;
    if (!info.hasExtraInfo() || utcDateTimeMs <= 0 || !isValidClockMs(utcDateTimeMs)
        || !timeZoneById(timeZoneId).isValid() || !client) {
        report(callback, -1, kInvalidParameters, affected);
        return;
    }
    const QString password = info.extraInfo().password;
    const QueryItems items{{QStringLiteral("datetime"), QString::number(utcDateTimeMs)},
                           {QStringLiteral("timezone"), QString::fromUtf8(timeZoneId)}};
    client->sendGet(makeUrl(info.baseInfo(), password, QStringLiteral("settime"), items),
                    changeAccepted(callback, affected), transportFailure(callback, affected), 0,
                    HttpClient::Kind::Change);
}

void sendChangeSystemNameRequest(HttpClient *client, const ServerInfo &info, const QString &systemName,
                                 const OperationCallback &callback)
{
    const AffectedEntities affected = SystemNameAffected;
    if (!client || !info.hasExtraInfo() || systemName.isEmpty()) {
        report(callback, -1, kInvalidParameters, affected);
        return;
    }
    const QString password = info.extraInfo().password;
    sendConfigure(client, info, password,
                  {{QStringLiteral("systemName"), systemName}, {QStringLiteral("oldPassword"), password}}, affected,
                  callback);
}

void sendChangePasswordRequest(HttpClient *client, const ServerInfo &info, const QString &password,
                               bool useNewPasswordAsOld, const OperationCallback &callback)
{
    const AffectedEntities affected = PasswordAffected;
    if (!client || !info.hasExtraInfo() || password.isEmpty()) {
        report(callback, -1, kInvalidParameters, affected);
        return;
    }
    const QString oldPassword = useNewPasswordAsOld ? password : info.extraInfo().password;
    sendConfigure(client, info, oldPassword,
                  {{QStringLiteral("password"), password}, {QStringLiteral("oldPassword"), oldPassword}}, affected,
                  callback);
}

void sendChangePortRequest(HttpClient *client, const ServerInfo &info, int port, const OperationCallback &callback)
{
    const AffectedEntities affected = PortAffected;
    if (!client || !info.hasExtraInfo() || port == 0) {
        report(callback, -1, kInvalidParameters, affected);
        return;
    }
    const QString password = info.extraInfo().password;
    sendConfigure(client, info, password,
                  {{QStringLiteral("port"), QString::number(port)}, {QStringLiteral("oldPassword"), password}},
                  affected, callback);
}

void sendIfConfigRequest(HttpClient *client, const ServerInfo &info, const InterfaceChangesList &changes,
                         const OperationCallback &callback)
{
    AffectedEntities affected = NoEntitiesAffected;
    QJsonArray body;
    for (const InterfaceChange &change : changes) {
        QJsonObject item;
        if (!change.name.isEmpty())
            item.insert(QStringLiteral("name"), change.name);
        if (change.useDHCP) {
            item.insert(QStringLiteral("dhcp"), *change.useDHCP);
            affected |= IpAddressAffected | SubnetMaskAffected;
        }
        if (change.address && !change.address->isEmpty()) {
            item.insert(QStringLiteral("ipAddr"), *change.address);
            affected |= IpAddressAffected;
        }
        if (change.mask && !change.mask->isEmpty()) {
            item.insert(QStringLiteral("netMask"), *change.mask);
            affected |= SubnetMaskAffected;
        }
        if (change.dns) {
            item.insert(QStringLiteral("dns_servers"), *change.dns);
            affected |= DnsAffected;
        }
        if (change.gateway) {
            item.insert(QStringLiteral("gateway"), *change.gateway);
            affected |= GatewayAffected;
        }
        body.append(item);
    }
    if (!client || !info.hasExtraInfo()) {
        report(callback, -1, kInvalidParameters, affected);
        return;
    }
    client->sendPost(makeUrl(info.baseInfo(), info.extraInfo().password, QStringLiteral("ifconfig")),
                     QJsonDocument(body).toJson(), changeAccepted(callback, affected),
                     transportFailure(callback, affected), 0, HttpClient::Kind::Change);
}

} // namespace rtu
