#pragma once

#include "fake_http_server.h"

#include <QDateTime>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace rtu::test {

// One server's REST API on a port of its own: answers "gettime" and "iflist"
// behind HTTP basic authentication with a single administrator password.
class FakeMediaServer
{
public:
    explicit FakeMediaServer(const QString &password)
    {
        setPassword(password);
        m_http.setHandler([this](const ReceivedRequest &request) { return answer(request); });
    }

    quint16 port() const { return m_http.port(); }
    void setPassword(const QString &password) { m_http.requireBasicAuth({password}); }
    // Refuses every connection from now on.
    void shutDown() { m_http.close(); }

    // Requests of a command answered with its data.
    int answered(const QString &command) const { return m_answered.value(command); }
    // Requests answered with a challenge.
    int rejected() const
    {
        int answeredTotal = 0;
        for (int count : m_answered)
            answeredTotal += count;
        return m_http.requests().size() - answeredTotal;
    }

    QString macAddress = QStringLiteral("AA:BB:CC:00:00:01");
    QString ip = QStringLiteral("192.168.0.10");

private:
    FakeReply answer(const ReceivedRequest &request)
    {
        const QString command = request.path().section(QLatin1Char('/'), -1);
        ++m_answered[command];
        QJsonObject reply{{QStringLiteral("error"), QStringLiteral("0")}};
        if (command == QLatin1String("gettime")) {
            reply.insert(QStringLiteral("reply"),
                         QJsonObject{{QStringLiteral("utcTime"), QString::number(QDateTime::currentMSecsSinceEpoch())},
                                     {QStringLiteral("timezoneId"), QStringLiteral("Europe/Berlin")}});
        } else if (command == QLatin1String("iflist")) {
            reply.insert(QStringLiteral("reply"),
                         QJsonArray{QJsonObject{{QStringLiteral("name"), QStringLiteral("eth0")},
                                                {QStringLiteral("ipAddr"), ip},
                                                {QStringLiteral("mac"), macAddress},
                                                {QStringLiteral("netMask"), QStringLiteral("255.255.255.0")},
                                                {QStringLiteral("gateway"), QStringLiteral("192.168.0.1")},
                                                {QStringLiteral("dns_servers"), QStringLiteral("192.168.0.1")},
                                                {QStringLiteral("dhcp"), false}}});
        }
        return FakeReply::json(QJsonDocument(reply).toJson(QJsonDocument::Compact));
    }

    FakeHttpServer m_http;
    QHash<QString, int> m_answered;
};

} // namespace rtu::test
