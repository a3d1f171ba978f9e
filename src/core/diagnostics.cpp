#include "core/diagnostics.h"

#include "core/server_info.h"

#include <QUrl>
#include <QUrlQuery>

namespace rtu {

// Debug and info stay off unless a rule turns them on.
Q_LOGGING_CATEGORY(logDiscovery, "rtu.discovery", QtWarningMsg)
Q_LOGGING_CATEGORY(logHttp, "rtu.http", QtWarningMsg)
Q_LOGGING_CATEGORY(logLogin, "rtu.login", QtWarningMsg)
Q_LOGGING_CATEGORY(logChanges, "rtu.changes", QtWarningMsg)

QString redactedTarget(const QUrl &url)
{
    QString target = url.path(QUrl::FullyEncoded);
    if (target.isEmpty())
        target = QStringLiteral("/");
    if (!url.hasQuery())
        return target;
    QStringList items;
    const QUrlQuery query(url);
    for (const auto &item : query.queryItems(QUrl::FullyEncoded)) {
        // "password", "oldPassword" and whatever else a server may call one.
        const bool secret = QUrl::fromPercentEncoding(item.first.toLatin1()).contains(QLatin1String("password"),
                                                                                      Qt::CaseInsensitive);
        items.append(secret ? item.first + QLatin1String("=(redacted)")
                            : item.second.isNull() ? item.first : item.first + QLatin1Char('=') + item.second);
    }
    return target + QLatin1Char('?') + items.join(QLatin1Char('&'));
}

QString serverLabel(const BaseServerInfo &server)
{
    return QStringLiteral("%1 \"%2\" at %3:%4").arg(server.id.toString(), server.name, server.hostAddress).arg(server.port);
}

} // namespace rtu
