#pragma once

#include "changes/changes_summary_model.h"

#include <QModelIndex>
#include <QString>
#include <QVector>

namespace rtu::test {

// One result row as the summary page would show it.
struct SummaryRow
{
    QString id;       // "{server id}name (address)"
    QString serverId; // the "{server id}" part
    QString name;
    QString value;
    QString reason;
};

inline QVector<SummaryRow> summaryRows(QObject *object)
{
    QVector<SummaryRow> rows;
    auto *model = qobject_cast<ChangesSummaryModel *>(object);
    if (!model)
        return rows;
    for (int i = 0; i < model->rowCount(); ++i) {
        const QModelIndex index = model->index(i);
        const QString id = model->data(index, ChangesSummaryModel::IdRole).toString();
        rows.append({id, id.left(id.indexOf(QLatin1Char('}')) + 1),
                     model->data(index, ChangesSummaryModel::NameRole).toString(),
                     model->data(index, ChangesSummaryModel::ValueRole).toString(),
                     model->data(index, ChangesSummaryModel::ReasonRole).toString()});
    }
    return rows;
}

} // namespace rtu::test
