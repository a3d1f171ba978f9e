#pragma once

#include "app/rtu_context.h"
#include "changes/changes_manager.h"
#include "discovery/servers_finder.h"
#include "models/servers_selection_model.h"

#include "peer_sim.h"
#include "summary_rows.h"

#include <QJsonObject>
#include <QStringList>

#include <memory>

namespace rtu::test {

// The tool's core (application context, server list, changes manager) beside
// a simulated fleet of its own, which it finds on a discovery port of its own
// in short cycles. Servers are named by their name in the fleet.
class ToolOnFleet
{
public:
    static constexpr int kWaitMs = 20000;

    // Discovery in short cycles; change `discovery` before start() for others.
    static ServersFinderParameters shortCycles();
    // A UDP port nothing listens on now.
    static quint16 freeDiscoveryPort();

    bool start(const QJsonObject &fleet);

    QString idOf(const QString &name) const { return m_ids.value(name); }
    int rowOf(const QString &name) const;
    QVariant role(const QString &name, int role) const;
    bool loggedIn(const QString &name) const;
    bool allLoggedIn() const;
    // Makes exactly these servers the selection, through the list's slots.
    bool select(const QStringList &names);
    // Applies what was staged and waits for the summary; false if no run ended.
    bool applyAndWait(int timeoutMs = kWaitMs);
    QVector<SummaryRow> succeeded() const { return summaryRows(manager->successfulResultsModel()); }
    QVector<SummaryRow> failed() const { return summaryRows(manager->failedResultsModel()); }
    // Change requests ("configure", "settime", "ifconfig") a server received.
    QJsonArray changeRequests(const QString &name);

    PeerSim sim;
    ServersFinderParameters discovery = shortCycles();
    std::unique_ptr<RtuContext> context;
    ServersSelectionModel *model = nullptr;
    ChangesManager *manager = nullptr;

private:
    QHash<QString, QString> m_ids;
};

} // namespace rtu::test
