#include "cli/run_results.h"

#include "changes/changes_manager.h"
#include "changes/changes_summary_model.h"

#include <QAbstractItemModel>
#include <QStringList>

#include <algorithm>

namespace rtu::cli {

const QString kHiddenValue = QStringLiteral("********");

namespace {

using Roles = ChangesSummaryModel::Roles;

// The order in which a run sends the settings; the interface rows keep
// their own order, since they do not name their interface.
int settingRank(const QString &setting)
{
    static const QStringList order = {QStringLiteral("date / time"), QStringLiteral("time zone"),
                                      QStringLiteral("system name"), QStringLiteral("password"),
                                      QStringLiteral("port")};
    const int rank = order.indexOf(setting);
    return rank < 0 ? order.size() : rank;
}

// A row's id reads "{server id}name (address)".
void splitRowId(const QString &id, ResultRow &row)
{
    const int close = id.startsWith(QLatin1Char('{')) ? id.indexOf(QLatin1Char('}')) : -1;
    row.serverId = id.left(close + 1);
    const QString rest = id.mid(close + 1);
    const int open = rest.lastIndexOf(QLatin1String(" ("));
    if (open < 0 || !rest.endsWith(QLatin1Char(')'))) {
        row.serverName = rest;
        return;
    }
    row.serverName = rest.left(open);
    row.address = rest.mid(open + 2, rest.size() - open - 3);
}

void readModel(const QAbstractItemModel *model, ResultRow::Outcome outcome, QVector<ResultRow> &rows)
{
    if (!model)
        return;
    for (int i = 0; i < model->rowCount(); ++i) {
        const QModelIndex index = model->index(i, 0);
        ResultRow row;
        splitRowId(model->data(index, Roles::IdRole).toString(), row);
        row.setting = model->data(index, Roles::NameRole).toString();
        row.value = row.setting == QLatin1String("password") ? kHiddenValue
                                                             : model->data(index, Roles::ValueRole).toString();
        row.reason = model->data(index, Roles::ReasonRole).toString();
        row.outcome = outcome;
        if (outcome == ResultRow::Outcome::Failed && row.reason == ChangesManager::notSentReason())
            row.outcome = ResultRow::Outcome::NotSent;
        rows.append(row);
    }
}

QString outcomeText(const ResultRow &row)
{
    switch (row.outcome) {
    case ResultRow::Outcome::Succeeded:
        return QStringLiteral("ok");
    case ResultRow::Outcome::NotSent:
        return QStringLiteral("not sent");
    case ResultRow::Outcome::Failed:
        break;
    }
    return row.reason.isEmpty() ? QStringLiteral("failed") : QStringLiteral("failed: %1").arg(row.reason);
}

} // namespace

QVector<ResultRow> readResults(const QAbstractItemModel *succeeded, const QAbstractItemModel *failed)
{
    QVector<ResultRow> rows;
    readModel(succeeded, ResultRow::Outcome::Succeeded, rows);
    readModel(failed, ResultRow::Outcome::Failed, rows);
    std::stable_sort(rows.begin(), rows.end(), [](const ResultRow &first, const ResultRow &second) {
        if (first.serverId != second.serverId)
            return first.serverId < second.serverId;
        return settingRank(first.setting) < settingRank(second.setting);
    });
    return rows;
}

ResultCounts countResults(const QVector<ResultRow> &rows)
{
    ResultCounts counts;
    for (const ResultRow &row : rows) {
        switch (row.outcome) {
        case ResultRow::Outcome::Succeeded:
            ++counts.succeeded;
            break;
        case ResultRow::Outcome::Failed:
            ++counts.failed;
            break;
        case ResultRow::Outcome::NotSent:
            ++counts.notSent;
            break;
        }
    }
    return counts;
}

QString resultsTable(const QVector<ResultRow> &rows)
{
    int settingWidth = 0;
    int valueWidth = 0;
    for (const ResultRow &row : rows) {
        settingWidth = std::max(settingWidth, int(row.setting.size()));
        valueWidth = std::max(valueWidth, int(row.value.size()));
    }
    QString text;
    QString server;
    for (const ResultRow &row : rows) {
        if (row.serverId != server) {
            server = row.serverId;
            const QString label = row.address.isEmpty() ? row.serverName
                                                        : QStringLiteral("%1 (%2)").arg(row.serverName, row.address);
            text += QStringLiteral("%1 %2\n").arg(label, row.serverId);
        }
        text += QStringLiteral("  %1  %2  %3\n")
                    .arg(row.setting.leftJustified(settingWidth), row.value.leftJustified(valueWidth),
                         outcomeText(row));
    }
    return text;
}

QString countsLine(const ResultCounts &counts)
{
    const int total = counts.succeeded + counts.failed + counts.notSent;
    QString line = QStringLiteral("%1 %2: %3 succeeded, %4 failed")
                       .arg(total)
                       .arg(total == 1 ? QStringLiteral("change") : QStringLiteral("changes"))
                       .arg(counts.succeeded)
                       .arg(counts.failed);
    if (counts.notSent > 0)
        line += QStringLiteral(", %1 not sent").arg(counts.notSent);
    return line + QLatin1Char('\n');
}

QJsonObject resultRowJson(const ResultRow &row)
{
    QString outcome;
    switch (row.outcome) {
    case ResultRow::Outcome::Succeeded:
        outcome = QStringLiteral("ok");
        break;
    case ResultRow::Outcome::Failed:
        outcome = QStringLiteral("failed");
        break;
    case ResultRow::Outcome::NotSent:
        outcome = QStringLiteral("not sent");
        break;
    }
    return {{QStringLiteral("id"), row.serverId},
            {QStringLiteral("name"), row.serverName},
            {QStringLiteral("address"), row.address.isEmpty() ? QJsonValue() : QJsonValue(row.address)},
            {QStringLiteral("setting"), row.setting},
            {QStringLiteral("value"), row.value},
            {QStringLiteral("result"), outcome},
            {QStringLiteral("reason"), row.reason}};
}

} // namespace rtu::cli
