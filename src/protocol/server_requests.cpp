#include "protocol/server_requests.h"

#include "core/ascii.h"
#include "core/date_time_helpers.h"
#include "core/json_object.h"
#include "protocol/http_client.h"
#include "protocol/http_request_writer.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>
#include <QNetworkReply>
#include <QTimeZone>
#include <QUrl>
#include <QUrlQuery>

#include <algorithm>

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

bool isSpace(QChar c)
{
    return c == QLatin1Char(' ') || (c.unicode() >= 9 && c.unicode() <= 13);
}

// Reads the digits of `base` from `at` on; false when there is none.
bool readDigits(const QString &text, int &at, int end, int base, bool &nonZero)
{
    const int start = at;
    for (; at < end; ++at) {
        const int value = text[at].unicode() < 128 ? hexDigitValue(char(text[at].unicode())) : -1;
        if (value < 0 || value >= base)
            break;
        nonZero = nonZero || value != 0;
    }
    return at > start;
}

bool isLetter(QChar c, char lower)
{
    return c.unicode() == ushort(lower) || c.unicode() == ushort(lower - 'a' + 'A');
}

// Whether the text holds a number other than zero in any usual notation:
// decimal, with a fraction or an exponent ("1.0", ".5", "1e3"), with a
// prefix for hexadecimal, octal or binary ("0x1"), or an infinity; blanks
// around it and a sign are allowed. Judged as text, so that no code is too
// long to count. Read by hand: every refresh reply passes here, and a pattern
// match cost more than the rest of the check.
bool holdsNonZeroNumber(const QString &text)
{
    int at = 0;
    int end = text.size();
    while (at < end && isSpace(text[at]))
        ++at;
    while (end > at && isSpace(text[end - 1]))
        --end;
    if (at < end && (text[at] == QLatin1Char('+') || text[at] == QLatin1Char('-')))
        ++at;
    const QStringRef rest = text.midRef(at, end - at);
    if (rest.compare(QLatin1String("inf"), Qt::CaseInsensitive) == 0
        || rest.compare(QLatin1String("infinity"), Qt::CaseInsensitive) == 0)
        return true;

    bool nonZero = false;
    if (end - at > 2 && text[at] == QLatin1Char('0')) {
        const QChar prefix = text[at + 1];
        const int base = isLetter(prefix, 'x') ? 16 : isLetter(prefix, 'o') ? 8 : isLetter(prefix, 'b') ? 2 : 0;
        if (base) {
            at += 2;
            return readDigits(text, at, end, base, nonZero) && at == end && nonZero;
        }
    }
    const bool whole = readDigits(text, at, end, 10, nonZero);
    bool fraction = false;
    if (at < end && text[at] == QLatin1Char('.')) {
        ++at;
        fraction = readDigits(text, at, end, 10, nonZero);
    }
    if (!whole && !fraction)
        return false;
    if (at < end && isLetter(text[at], 'e')) {
        ++at;
        if (at < end && (text[at] == QLatin1Char('+') || text[at] == QLatin1Char('-')))
            ++at;
        bool exponentNonZero = false;
        if (!readDigits(text, at, end, 10, exponentNonZero))
            return false;
    }
    return at == end && nonZero;
}

// Whether the reply's "error" says no: a number or a boolean that is not
// zero or false, or a string holding a number other than zero. Absent, null,
// any other string, an array or an object all count as "no error".
bool serverRefused(const QJsonObject &reply)
{
    const QJsonValue error = reply.value(QLatin1String("error"));
    switch (error.type()) {
    case QJsonValue::Bool:
        return error.toBool();
    case QJsonValue::Double:
        return error.toDouble() != 0;
    case QJsonValue::String:
        return holdsNonZeroNumber(error.toString());
    default:
        return false;
    }
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

bool isBlank(const QByteArray &body)
{
    return std::all_of(body.begin(), body.end(), [](char c) { return isSpace(QLatin1Char(c)); });
}

// A 2xx answer to a change: an empty body or an object without a refusal is
// the server's yes. Anything else that cannot be read may hide a no or a yes.
HttpClient::OnSuccessReply changeAccepted(const OperationCallback &callback, AffectedEntities affected)
{
    if (!callback)
        return HttpClient::OnSuccessReply();
    return [callback, affected](const QByteArray &body, int status) {
        if (isBlank(body)) {
            callback(0, QString(), affected);
            return;
        }
        const std::optional<QJsonObject> reply = parseJsonObject(body);
        if (!reply)
            callback(-1, mayHaveBeenApplied(QStringLiteral("Unreadable answer (HTTP %1)").arg(status)), affected);
        else if (serverRefused(*reply))
            callback(-1, reply->value(QStringLiteral("errorString")).toString(), affected);
        else
            callback(0, QString(), affected);
    };
}

// The client's reasons (as HttpClient words them) for a request that never
// reached the server: nobody took the connection, there was no such host,
// or the address could not be used.
QString networkError(const QString &detail)
{
    return QStringLiteral("Network Error: %1").arg(detail);
}

bool neverWritten(const QString &reason, int status)
{
    static const QStringList unsent{
        networkError(QStringLiteral("#%1").arg(QNetworkReply::ConnectionRefusedError)),
        networkError(QStringLiteral("#%1").arg(QNetworkReply::HostNotFoundError)),
        networkError(QStringLiteral("#%1").arg(QNetworkReply::ProtocolUnknownError))};
    return status == 0 && unsent.contains(reason);
}

// What a failed change tells: one that never reached the server was not
// sent; one that did may have been carried out unless the server answered
// that it refused it (a 4xx). A time-out says for itself whether the request
// had gone out.
HttpClient::OnErrorReply changeFailure(const OperationCallback &callback, AffectedEntities affected)
{
    if (!callback)
        return HttpClient::OnErrorReply();
    return [callback, affected](const QString &reason, int status) {
        QString told = reason;
        if (neverWritten(reason, status))
            told = notSentReason(reason);
        else if ((status < 400 || status > 499) && reason != networkError(QStringLiteral("Request Timed Out")))
            told = mayHaveBeenApplied(reason);
        callback(status, told, affected);
    };
}

void sendChange(HttpClient *client, const QUrl &url, const QByteArray *body, AffectedEntities affected,
                const OperationCallback &callback)
{
    if (body) {
        client->sendPost(url, *body, changeAccepted(callback, affected), changeFailure(callback, affected), 0,
                         HttpClient::Kind::Change);
    } else {
        client->sendGet(url, changeAccepted(callback, affected), changeFailure(callback, affected), 0,
                        HttpClient::Kind::Change);
    }
}

// A change refused before it went out.
void refuseChange(const OperationCallback &callback, AffectedEntities affected)
{
    report(callback, -1, notSentReason(kInvalidParameters), affected);
}

void sendConfigure(HttpClient *client, const ServerInfo &info, const QString &password, const QueryItems &items,
                   AffectedEntities affected, const OperationCallback &callback)
{
    sendChange(client, makeUrl(info.baseInfo(), password, QStringLiteral("configure"), items), nullptr, affected,
               callback);
}

} // namespace

QString mayHaveBeenApplied(const QString &reason)
{
    static const QString phrase = QStringLiteral("the change may have been applied");
    if (reason.contains(phrase))
        return reason;
    return reason.isEmpty() ? phrase : reason + QStringLiteral("; ") + phrase;
}

QString notSentReason(const QString &cause)
{
    return QStringLiteral("Not sent (%1)").arg(cause);
}

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
        refuseChange(callback, affected);
        return;
    }
    const QString password = info.extraInfo().password;
    const QueryItems items{{QStringLiteral("datetime"), QString::number(utcDateTimeMs)},
                           {QStringLiteral("timezone"), QString::fromUtf8(timeZoneId)}};
    sendChange(client, makeUrl(info.baseInfo(), password, QStringLiteral("settime"), items), nullptr, affected,
               callback);
}

void sendChangeSystemNameRequest(HttpClient *client, const ServerInfo &info, const QString &systemName,
                                 const OperationCallback &callback)
{
    const AffectedEntities affected = SystemNameAffected;
    if (!client || !info.hasExtraInfo() || systemName.isEmpty()) {
        refuseChange(callback, affected);
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
        refuseChange(callback, affected);
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
        refuseChange(callback, affected);
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
        refuseChange(callback, affected);
        return;
    }
    const QByteArray json = QJsonDocument(body).toJson();
    sendChange(client, makeUrl(info.baseInfo(), info.extraInfo().password, QStringLiteral("ifconfig")), &json,
               affected, callback);
}

int configureRequestLineBytes(const QVector<QPair<QString, QString>> &items)
{
    const QByteArray target = HttpRequestWriter::target(makeUrl(BaseServerInfo(), QString(), QStringLiteral("configure"), items));
    return int(qstrlen("GET ") + target.size() + qstrlen(" HTTP/1.1"));
}

} // namespace rtu
