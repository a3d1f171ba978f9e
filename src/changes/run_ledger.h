#pragma once

#include "changes/change_outcome.h"

#include <QHash>
#include <QVector>

#include <optional>

namespace rtu {

// The rows of one run, known when its requests are queued (with the values
// before the change) and answered as the requests are: what the front ends
// read by server id instead of the summary's texts.
class RunLedger
{
public:
    void clear();
    void expect(const ChangeOutcome &row);
    // Answers the first pending row of that server, setting and interface;
    // false when there is none. A value given replaces the expected one.
    bool answer(const QUuid &serverId, ChangeSetting setting, const QString &interfaceName,
                ChangeOutcome::Result result, ChangeReason reason, const QString &reasonText,
                const std::optional<QString> &value = std::nullopt);
    // Answers every row still pending; returns them as answered.
    QVector<ChangeOutcome> answerPending(ChangeOutcome::Result result, ChangeReason reason,
                                         const QString &reasonText);
    const QVector<ChangeOutcome> &rows() const { return m_rows; }

private:
    QVector<ChangeOutcome> m_rows;
    // Row indexes of each server, in queue order: a run has thousands.
    QHash<QUuid, QVector<int>> m_byServer;
};

} // namespace rtu
