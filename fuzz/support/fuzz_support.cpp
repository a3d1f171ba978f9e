#include "fuzz_support.h"

#include "core/constants.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>
#include <cstdlib>

namespace rtu::fuzz {

void fail(const char *what, const char *file, int line)
{
    std::fprintf(stderr, "fuzz property failed: %s (%s:%d)\n", what, file, line);
    std::abort();
}

void ensureApplication()
{
    if (QCoreApplication::instance())
        return;
    static int argc = 1;
    static char name[] = "fuzz";
    static char *argv[] = {name, nullptr};
    new QCoreApplication(argc, argv);
}

QList<QByteArray> sections(const QByteArray &data)
{
    QList<QByteArray> result;
    int start = 0;
    for (;;) {
        const int separator = data.indexOf("\n---\n", start);
        if (separator < 0) {
            result.append(data.mid(start));
            return result;
        }
        result.append(data.mid(start, separator - start));
        start = separator + 5;
    }
}

QByteArray firstLine(const QByteArray &section)
{
    const int end = section.indexOf('\n');
    return end < 0 ? section : section.left(end);
}

QByteArray afterFirstLine(const QByteArray &section)
{
    const int end = section.indexOf('\n');
    return end < 0 ? QByteArray() : section.mid(end + 1);
}

Reply parseReply(const QByteArray &section)
{
    const QByteArray line = firstLine(section);
    const int blank = line.indexOf(' ');
    bool number = false;
    Reply reply;
    reply.status = (blank < 0 ? line : line.left(blank)).toInt(&number);
    if (!number || reply.status < 0)
        reply.status = 0;
    reply.reason = blank < 0 ? QString() : QString::fromLatin1(line.mid(blank + 1));
    reply.body = afterFirstLine(section);
    return reply;
}

FakeHttpClient::FakeHttpClient(QObject *parent) : HttpClient(parent) {}

void FakeHttpClient::sendGet(const QUrl &url, const OnSuccessReply &success, const OnErrorReply &failure, qint64,
                             Kind)
{
    ++m_sent;
    m_pending.push_back(Request{url, QByteArray(), false, success, failure});
}

void FakeHttpClient::sendPost(const QUrl &url, const QByteArray &body, const OnSuccessReply &success,
                              const OnErrorReply &failure, qint64, Kind)
{
    ++m_sent;
    m_pending.push_back(Request{url, body, true, success, failure});
}

void FakeHttpClient::answerOldest(const Reply &reply)
{
    const Request request = m_pending.front();
    m_pending.pop_front();
    if (reply.status >= 200 && reply.status <= 299) {
        if (request.success)
            request.success(reply.body);
        return;
    }
    if (request.failure) {
        const QString reason = reply.reason.isEmpty() ? QStringLiteral("Network Error: #1") : reply.reason;
        request.failure(reason, reply.status);
    }
}

void FakeHttpClient::timeOutOldest()
{
    answerOldest(Reply{0, QStringLiteral("Network Error: Request Timed Out"), QByteArray()});
}

QByteArray answerDatagram(const BaseServerInfo &info)
{
    QStringList flags;
    if (info.flags & Constants::AllowChangeDateTimeFlag)
        flags.append(QStringLiteral("SF_timeCtrl"));
    if (info.flags & Constants::AllowIfConfigFlag)
        flags.append(QStringLiteral("SF_IfListCtrl"));
    if (info.flags & Constants::IsFactoryFlag)
        flags.append(QStringLiteral("SF_AutoSystemName"));
    const QJsonObject answer{{QStringLiteral("application"), QStringLiteral("Media Server")},
                             {QStringLiteral("id"), info.id.toString()},
                             {QStringLiteral("name"), info.name},
                             {QStringLiteral("systemName"), info.systemName},
                             {QStringLiteral("port"), info.port},
                             {QStringLiteral("flags"), flags.join(QLatin1Char(' '))}};
    return QJsonDocument(answer).toJson(QJsonDocument::Compact);
}

QByteArray timeReplyBody(const ExtraServerInfo &extra)
{
    const QJsonObject time{{QStringLiteral("utcTime"), QString::number(extra.utcDateTimeMs)},
                           {QStringLiteral("timezoneId"),
                            QString::fromUtf8(extra.timeZoneId.constData(), extra.timeZoneId.size())}};
    const QJsonObject reply{{QStringLiteral("error"), QStringLiteral("0")}, {QStringLiteral("reply"), time}};
    return QJsonDocument(reply).toJson(QJsonDocument::Compact);
}

QByteArray interfacesReplyBody(const InterfaceInfoList &interfaces)
{
    QJsonArray list;
    for (const InterfaceInfo &item : interfaces) {
        list.append(QJsonObject{{QStringLiteral("name"), item.name},
                                {QStringLiteral("ipAddr"), item.ip},
                                {QStringLiteral("mac"), item.macAddress},
                                {QStringLiteral("netMask"), item.mask},
                                {QStringLiteral("gateway"), item.gateway},
                                {QStringLiteral("dns_servers"), item.dns},
                                {QStringLiteral("dhcp"), item.useDHCP == Qt::Checked}});
    }
    const QJsonObject reply{{QStringLiteral("error"), QStringLiteral("0")}, {QStringLiteral("reply"), list}};
    return QJsonDocument(reply).toJson(QJsonDocument::Compact);
}

bool wellFormed(const QString &text)
{
    return QString::fromUtf8(text.toUtf8()) == text;
}

bool sameAnswer(const BaseServerInfo &first, const BaseServerInfo &second)
{
    return first.id == second.id && first.name == second.name && first.systemName == second.systemName
           && first.port == second.port && first.flags == second.flags;
}

bool sameInterfaces(const InterfaceInfoList &first, const InterfaceInfoList &second)
{
    if (first.size() != second.size())
        return false;
    for (int i = 0; i < first.size(); ++i) {
        if (first.at(i) != second.at(i) || first.at(i).name != second.at(i).name)
            return false;
    }
    return true;
}

} // namespace rtu::fuzz
