#pragma once

#include <QJsonObject>
#include <QString>
#include <QVector>

class QAbstractItemModel;

namespace rtu::cli {

// One row of a run's summary: one setting of one server.
struct ResultRow
{
    enum class Outcome { Succeeded, Failed, NotSent };

    QString serverId;
    QString serverName;
    QString address;
    QString setting;
    // A password's value is never kept: it reads as kHiddenValue.
    QString value;
    Outcome outcome = Outcome::Succeeded;
    QString reason;
};

extern const QString kHiddenValue;

struct ResultCounts
{
    int succeeded = 0;
    int failed = 0;
    int notSent = 0;
};

// The rows of the successful and the failed result models, server by server
// in the order of their ids, each server's settings in the order the run
// sends them.
QVector<ResultRow> readResults(const QAbstractItemModel *succeeded, const QAbstractItemModel *failed);
ResultCounts countResults(const QVector<ResultRow> &rows);

QString resultsTable(const QVector<ResultRow> &rows);
QString countsLine(const ResultCounts &counts);
QJsonObject resultRowJson(const ResultRow &row);

} // namespace rtu::cli
