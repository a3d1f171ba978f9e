#include "changes/run_ledger.h"

namespace rtu {

void RunLedger::clear()
{
    m_rows.clear();
    m_byServer.clear();
}

void RunLedger::expect(const ChangeOutcome &row)
{
    m_byServer[row.serverId].append(m_rows.size());
    m_rows.append(row);
}

bool RunLedger::answer(const QUuid &serverId, ChangeSetting setting, const QString &interfaceName,
                       ChangeOutcome::Result result, ChangeReason reason, const QString &reasonText,
                       const std::optional<QString> &value)
{
    for (const int index : m_byServer.value(serverId)) {
        ChangeOutcome &row = m_rows[index];
        if (row.result != ChangeOutcome::Result::Pending || row.setting != setting
            || row.interfaceName != interfaceName)
            continue;
        row.result = result;
        row.reason = reason;
        row.reasonText = reasonText;
        if (value)
            row.value = *value;
        return true;
    }
    return false;
}

QVector<ChangeOutcome> RunLedger::answerPending(ChangeOutcome::Result result, ChangeReason reason,
                                                const QString &reasonText)
{
    QVector<ChangeOutcome> answered;
    for (ChangeOutcome &row : m_rows) {
        if (row.result != ChangeOutcome::Result::Pending)
            continue;
        row.result = result;
        row.reason = reason;
        row.reasonText = reasonText;
        answered.append(row);
    }
    return answered;
}

} // namespace rtu
