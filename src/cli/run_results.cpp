#include "cli/run_results.h"

#include "cli/fleet_listing.h"

#include <QStringList>

#include <algorithm>

namespace rtu::cli {

const QString kHiddenValue = QStringLiteral("********");

namespace {

QString shownValueOf(const ChangeOutcome &row)
{
    return row.setting == ChangeSetting::Password ? kHiddenValue : row.value;
}

QString settingText(const ChangeOutcome &row)
{
    const QString name = settingRowName(row.setting);
    return row.interfaceName.isEmpty() ? name : QStringLiteral("%1 %2").arg(row.interfaceName, name);
}

QString outcomeText(const ChangeOutcome &row)
{
    switch (row.result) {
    case ChangeOutcome::Result::Ok:
        return QStringLiteral("ok");
    case ChangeOutcome::Result::NotSent:
        return QStringLiteral("not sent: %1").arg(row.reasonText);
    case ChangeOutcome::Result::Pending:
        return QStringLiteral("no answer");
    case ChangeOutcome::Result::Failed:
        break;
    }
    return row.reasonText.isEmpty() ? QStringLiteral("failed (%1)").arg(reasonKey(row.reason))
                                    : QStringLiteral("failed: %1").arg(row.reasonText);
}

} // namespace

ResultCounts countResults(const QVector<ChangeOutcome> &rows)
{
    ResultCounts counts;
    for (const ChangeOutcome &row : rows) {
        switch (row.result) {
        case ChangeOutcome::Result::Ok:
            ++counts.ok;
            break;
        case ChangeOutcome::Result::NotSent:
            ++counts.notSent;
            break;
        case ChangeOutcome::Result::Failed:
        case ChangeOutcome::Result::Pending:
            ++counts.failed;
            break;
        }
    }
    return counts;
}

QVector<ChangeOutcome> notSentRows(const ServerState &server, const QVector<QPair<ChangeSetting, QString>> &settings)
{
    const ChangeReason reason = unavailableReason(server);
    const BaseServerInfo &base = server.info.baseInfo();
    QVector<ChangeOutcome> rows;
    for (const auto &setting : settings) {
        ChangeOutcome row;
        row.serverId = base.id;
        row.setting = setting.first;
        row.value = setting.second;
        // Discovery tells these without a login.
        if (setting.first == ChangeSetting::SystemName)
            row.oldValue = base.systemName;
        else if (setting.first == ChangeSetting::Port)
            row.oldValue = QString::number(base.port);
        row.result = ChangeOutcome::Result::NotSent;
        row.reason = reason;
        row.reasonText = unavailableText(server);
        rows.append(row);
    }
    return rows;
}

QString resultsTable(const QVector<ChangeOutcome> &rows, const QHash<QUuid, ServerState> &servers)
{
    int settingWidth = 0;
    int valueWidth = 0;
    for (const ChangeOutcome &row : rows) {
        settingWidth = std::max(settingWidth, int(settingText(row).size()));
        valueWidth = std::max(valueWidth, int(std::min(shownValueOf(row).size(), 40)));
    }
    QString text;
    QUuid current;
    for (const ChangeOutcome &row : rows) {
        if (row.serverId != current) {
            current = row.serverId;
            const auto server = servers.constFind(current);
            const QString label = server == servers.cend() ? QString() : serverLabel(*server);
            text += QStringLiteral("%1 %2\n").arg(label, current.toString());
        }
        text += QStringLiteral("  %1  %2  %3\n")
                    .arg(settingText(row).leftJustified(settingWidth), shownValueOf(row).leftJustified(valueWidth),
                         outcomeText(row));
    }
    return text;
}

QString countsLine(const ResultCounts &counts)
{
    const int total = counts.ok + counts.failed + counts.notSent;
    QString line = QStringLiteral("%1 %2: %3 succeeded, %4 failed")
                       .arg(total)
                       .arg(total == 1 ? QStringLiteral("change") : QStringLiteral("changes"))
                       .arg(counts.ok)
                       .arg(counts.failed);
    if (counts.notSent > 0)
        line += QStringLiteral(", %1 not sent").arg(counts.notSent);
    return line + QLatin1Char('\n');
}

QJsonObject resultRowJson(const ChangeOutcome &row, const ServerState &server)
{
    const bool hidden = row.setting == ChangeSetting::Password;
    const QJsonValue nothing;
    return {{QStringLiteral("id"), row.serverId.toString()},
            {QStringLiteral("name"), server.info.baseInfo().name},
            {QStringLiteral("system"), server.systemName},
            {QStringLiteral("address"), server.addresses.isEmpty() ? nothing : QJsonValue(server.addresses.first())},
            {QStringLiteral("setting"), settingKey(row.setting)},
            {QStringLiteral("interface"), row.interfaceName.isEmpty() ? nothing : QJsonValue(row.interfaceName)},
            {QStringLiteral("value"), hidden ? nothing : QJsonValue(row.value)},
            {QStringLiteral("oldValue"), hidden || !row.oldValue ? nothing : QJsonValue(*row.oldValue)},
            {QStringLiteral("outcome"), resultKey(row.result == ChangeOutcome::Result::Pending
                                                      ? ChangeOutcome::Result::Failed
                                                      : row.result)},
            {QStringLiteral("reasonCode"), row.reason == ChangeReason::None ? nothing : QJsonValue(reasonKey(row.reason))},
            {QStringLiteral("reason"), row.reasonText}};
}

} // namespace rtu::cli
