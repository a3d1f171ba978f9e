#pragma once

#include "models/server_groups.h"
#include "models/servers_selection_model.h"
#include "protocol/server_info_manager.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <QVector>

#include <limits>

namespace rtu {

class HttpClient;

namespace listing {

// When the listed servers are logged in and refreshed: new servers once
// their burst is listed, a refresh at most once per throttle period, first
// refreshes of a burst spread over that period. What a login or refresh
// reports is dropped when a change of the tool's to that server was confirmed
// after it was asked for: it read the server before the change.
class LoginScheduler : public QObject
{
public:
    LoginScheduler(QObject *parent, const ServersSelectionTiming &timing, HttpClient *loginClient,
                   const ServerGroups &groups, ServerInfoManager::LoginSuccessCallback success,
                   ServerInfoManager::LoginFailedCallback failed);

    ServerInfoManager *manager() const { return m_manager; }
    // Milliseconds on a monotonic clock, so that a change of the
    // workstation's clock cannot hold back a refresh.
    qint64 now() const { return m_clock.elapsed(); }
    qint64 nextRefreshSlot();

    // A server just listed: it is logged in with the rest of its burst.
    void hold(ServerEntry &server);
    // With the known passwords; with the defaults alone while two hosts
    // answer as the server, for a typed one must not reach the wrong host.
    void loginAutomatically(ServerEntry &server);
    void loginWithPassword(const BaseServerInfo &baseInfo, const QString &password,
                           const std::function<void()> &onSuccess);
    void refresh(const QVector<ServerInfo> &servers);
    // On rediscovery: refreshes the server unless it was refreshed lately,
    // its password was refused, or another host answers as it too.
    void refreshIfDue(ServerEntry &server, const BaseServerInfo &baseInfo);
    void changeConfirmed(ServerEntry &server) { server.changedAt = ++m_changeCount; }

private:
    void startHeldLogins();
    ServerInfoManager::LoginSuccessCallback freshSuccess() const;
    ServerInfoManager::LoginFailedCallback freshFailure() const;
    bool changedSince(const QUuid &id, quint64 asked) const;

    const ServersSelectionTiming m_timing;
    const ServerGroups &m_groups;
    const ServerInfoManager::LoginSuccessCallback m_success;
    const ServerInfoManager::LoginFailedCallback m_failed;
    ServerInfoManager *const m_manager;
    QElapsedTimer m_clock;
    quint64 m_changeCount = 0;
    // Servers added together get their first refreshes spread out rather
    // than all due in one turn.
    qint64 m_lastRefreshSlot = std::numeric_limits<qint64>::min();
    // New servers whose automatic login waits for the end of their burst, in
    // the order they were found.
    QVector<QUuid> m_held;
    qint64 m_heldSinceMs = 0;
    QTimer m_loginTimer;
};

} // namespace listing
} // namespace rtu
