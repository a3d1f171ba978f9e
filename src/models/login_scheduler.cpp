#include "models/login_scheduler.h"

#include "core/diagnostics.h"

#include <utility>

namespace rtu::listing {

LoginScheduler::LoginScheduler(QObject *parent, const ServersSelectionTiming &timing, HttpClient *loginClient,
                               const ServerGroups &groups, ServerInfoManager::LoginSuccessCallback success,
                               ServerInfoManager::LoginFailedCallback failed)
    : QObject(parent), m_timing(timing), m_groups(groups), m_success(std::move(success)),
      m_failed(std::move(failed)), m_manager(new ServerInfoManager(this, ServerInfoManager::Timeouts(), loginClient))
{
    m_clock.start();
    m_loginTimer.setSingleShot(true);
    m_loginTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_loginTimer, &QTimer::timeout, this, &LoginScheduler::startHeldLogins);
}

qint64 LoginScheduler::nextRefreshSlot()
{
    // A thousand servers found at once come due over one throttle period.
    const qint64 spacing = m_timing.refreshThrottleMs / 1000;
    const qint64 time = now();
    m_lastRefreshSlot = m_lastRefreshSlot > time - spacing ? m_lastRefreshSlot + spacing : time;
    return m_lastRefreshSlot;
}

void LoginScheduler::hold(ServerEntry &server)
{
    server.loginHeld = true;
    const qint64 time = now();
    if (m_held.isEmpty())
        m_heldSinceMs = time;
    m_held.append(server.info.baseInfo().id);
    m_loginTimer.start(
        int(qBound<qint64>(0, m_heldSinceMs + m_timing.loginHoldMaxMs - time, m_timing.loginQuietMs)));
}

void LoginScheduler::startHeldLogins()
{
    // With what each server reports now: it may have moved meanwhile, been
    // logged in by the operator's password, or gone (and come back, which
    // lists its id twice).
    for (const QUuid &id : std::exchange(m_held, {})) {
        ServerEntry *const server = m_groups.find(id);
        if (!server || !server->loginHeld)
            continue;
        server->loginHeld = false;
        if (!server->info.hasExtraInfo())
            loginAutomatically(*server);
    }
}

void LoginScheduler::loginAutomatically(ServerEntry &server)
{
    const BaseServerInfo &base = server.info.baseInfo();
    if (server.conflict.isEmpty()) {
        qCDebug(logLogin).noquote() << serverLabel(base) << "logging in with the known passwords";
        m_manager->loginWithKnownPasswords(base, freshSuccess(), freshFailure());
    } else {
        qCDebug(logLogin).noquote() << serverLabel(base)
                                    << "logging in with the default passwords alone: two hosts answer as it";
        m_manager->loginWithDefaultPasswords(base, freshSuccess(), freshFailure());
    }
}

void LoginScheduler::loginWithPassword(const BaseServerInfo &baseInfo, const QString &password,
                                       const std::function<void()> &onSuccess)
{
    m_manager->loginWithPassword(
        baseInfo, password,
        [success = freshSuccess(), onSuccess](const QUuid &id, const ExtraServerInfo &extraInfo, const QString &host) {
            success(id, extraInfo, host);
            onSuccess();
        },
        freshFailure());
}

void LoginScheduler::refresh(const QVector<ServerInfo> &servers)
{
    if (!servers.isEmpty())
        m_manager->refreshExtraInfo(servers, freshSuccess(), freshFailure());
}

void LoginScheduler::refreshIfDue(ServerEntry &server, const BaseServerInfo &baseInfo)
{
    // The address that answers for it may not be its own: its password is
    // not sent there until one host answers alone.
    if (!server.conflict.isEmpty())
        return;
    const qint64 time = now();
    const qint64 sinceRefresh = time - server.refreshedAtMs;
    if (sinceRefresh < 0 || sinceRefresh < m_timing.refreshThrottleMs)
        return;
    server.refreshedAtMs = time;
    if (server.loginState == PasswordRejected)
        return;

    ServerInfo record(baseInfo);
    if (server.info.hasExtraInfo())
        record.setExtraInfo(server.info.extraInfo());
    m_manager->refreshExtraInfo({record}, freshSuccess(), freshFailure());
}

ServerInfoManager::LoginSuccessCallback LoginScheduler::freshSuccess() const
{
    return [this, asked = m_changeCount](const QUuid &id, const ExtraServerInfo &extraInfo, const QString &host) {
        if (!changedSince(id, asked))
            m_success(id, extraInfo, host);
    };
}

ServerInfoManager::LoginFailedCallback LoginScheduler::freshFailure() const
{
    return [this, asked = m_changeCount](const QUuid &id, int errorCode) {
        if (!changedSince(id, asked))
            m_failed(id, errorCode);
    };
}

bool LoginScheduler::changedSince(const QUuid &id, quint64 asked) const
{
    const ServerEntry *server = m_groups.find(id);
    if (!server || server->changedAt <= asked)
        return false;
    qCInfo(logLogin).noquote() << serverLabel(server->info.baseInfo())
                               << "report dropped: it read the server before a change was confirmed";
    return true;
}

} // namespace rtu::listing
