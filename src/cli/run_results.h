#pragma once

#include "changes/change_outcome.h"
#include "models/server_state.h"

#include <QHash>
#include <QJsonObject>
#include <QString>
#include <QUuid>
#include <QVector>

namespace rtu::cli {

// What a table shows for a password.
extern const QString kHiddenValue;

struct ResultCounts
{
    int ok = 0;
    int failed = 0;
    int notSent = 0;
};

ResultCounts countResults(const QVector<ChangeOutcome> &rows);

// The rows a server that could not be changed gets: one per setting, not
// sent, with the reason.
QVector<ChangeOutcome> notSentRows(const ServerState &server, const QVector<QPair<ChangeSetting, QString>> &settings);

// Rows by server (in the order of `rows`), each with the server's name and
// address from `servers`.
QString resultsTable(const QVector<ChangeOutcome> &rows, const QHash<QUuid, ServerState> &servers);
QString countsLine(const ResultCounts &counts);
QJsonObject resultRowJson(const ChangeOutcome &row, const ServerState &server);

} // namespace rtu::cli
