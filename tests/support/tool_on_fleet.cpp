#include "tool_on_fleet.h"

#include "core/constants.h"

#include <QJsonArray>
#include <QTest>
#include <QUdpSocket>

namespace rtu::test {

ServersFinderParameters ToolOnFleet::shortCycles()
{
    ServersFinderParameters parameters;
    parameters.cycleIntervalMs = 200;
    parameters.serverTimeoutMs = 1500;
    parameters.answeringAddressTimeoutMs = 1500;
    parameters.displayAddressSwitchMs = 1200;
    parameters.unknownTimeoutMs = 5000;
    return parameters;
}

quint16 ToolOnFleet::freeDiscoveryPort()
{
    QUdpSocket probe;
    if (!probe.bind(QHostAddress(QHostAddress::AnyIPv4), 0))
        return 0;
    return probe.localPort();
}

bool ToolOnFleet::start(const QJsonObject &fleet)
{
    // A discovery port of its own keeps other finders in the namespace out.
    discovery.port = freeDiscoveryPort();
    if (!discovery.port
        || !sim.start(fleet, {QStringLiteral("--discovery-port"), QString::number(discovery.port),
                              QStringLiteral("--quiet-discovery")}))
        return false;
    for (const QJsonValue &server : sim.servers())
        m_ids.insert(server[QStringLiteral("name")].toString(), server[QStringLiteral("id")].toString());
    context.reset(new RtuContext(nullptr, discovery));
    model = qobject_cast<ServersSelectionModel *>(context->selectionModel());
    manager = qobject_cast<ChangesManager *>(context->changesManager());
    return model && manager;
}

int ToolOnFleet::rowOf(const QString &name) const
{
    const QUuid id(m_ids.value(name));
    for (int row = 0; row < model->rowCount(); ++row) {
        if (model->data(model->index(row), ServersSelectionModel::IdRole).toUuid() == id)
            return row;
    }
    return -1;
}

QVariant ToolOnFleet::role(const QString &name, int role) const
{
    const int row = rowOf(name);
    return row < 0 ? QVariant() : model->data(model->index(row), role);
}

bool ToolOnFleet::loggedIn(const QString &name) const
{
    return role(name, ServersSelectionModel::LoggedInRole).toBool();
}

bool ToolOnFleet::allLoggedIn() const
{
    for (auto it = m_ids.cbegin(); it != m_ids.cend(); ++it) {
        if (!loggedIn(it.key()))
            return false;
    }
    return true;
}

bool ToolOnFleet::select(const QStringList &names)
{
    model->setAllItemSelected(false);
    for (const QString &name : names) {
        const int row = rowOf(name);
        if (row < 0 || !loggedIn(name))
            return false;
        model->changeItemSelectedState(row);
    }
    return model->selectedCount() == names.size();
}

bool ToolOnFleet::applyAndWait(int timeoutMs)
{
    context->setCurrentPage(Constants::SettingsPage);
    manager->applyChanges();
    return QTest::qWaitFor([this] { return context->currentPage() == Constants::SummaryPage; }, timeoutMs);
}

QJsonArray ToolOnFleet::changeRequests(const QString &name)
{
    static const QStringList changes{QStringLiteral("/api/configure"), QStringLiteral("/api/settime"),
                                     QStringLiteral("/api/ifconfig")};
    QJsonArray result;
    for (const QJsonValue &entry : sim.requestLog()) {
        if (entry[QStringLiteral("name")].toString() == name && entry[QStringLiteral("authorized")].toBool()
            && changes.contains(entry[QStringLiteral("path")].toString()))
            result.append(entry);
    }
    return result;
}

} // namespace rtu::test
