#include "protocol/server_info_manager.h"

#include "protocol/http_client.h"
#include "protocol/server_requests.h"

#include <QElapsedTimer>
#include <QHash>

namespace rtu {

namespace {

// Shared by every manager of the process; it only grows.
QStringList &knownPasswordList()
{
    static QStringList passwords = defaultPasswords();
    return passwords;
}

// A login succeeded: the password joins the known ones for later servers.
ExtraInfoCallback loggedIn(const BaseServerInfo &base, const ServerInfoManager::LoginSuccessCallback &success)
{
    return [base, success](const QUuid &id, const ExtraServerInfo &extra) {
        QStringList &passwords = knownPasswordList();
        if (!passwords.contains(extra.password))
            passwords.append(extra.password);
        if (success)
            success(id, extra, base.hostAddress);
    };
}

} // namespace

class ServerInfoManager::Impl : public QObject
{
public:
    Impl(ServerInfoManager *owner, const Timeouts &timeouts, HttpClient *client)
        : QObject(owner), owner(owner), timeouts(timeouts), client(client ? client : new HttpClient(this))
    {
        this->client->setParent(this);
        clock.start();
    }

    void loginWithKnownPasswords(const BaseServerInfo &base, int index, const LoginSuccessCallback &success,
                                 const LoginFailedCallback &failed)
    {
        // Read afresh each time: a password learnt meanwhile is tried too.
        const QStringList &passwords = knownPasswordList();
        if (index >= passwords.size()) {
            if (failed)
                failed(base.id, 401);
            return;
        }
        auto onFailed = [this, base, index, success, failed](int code, const QString &, AffectedEntities) {
            if (code == 401)
                loginWithKnownPasswords(base, index + 1, success, failed);
            else if (failed)
                failed(base.id, -1);
        };
        requestExtraServerInfo(client, base, passwords.at(index), loggedIn(base, success), onFailed,
                               timeouts.knownPasswordsMs);
    }

    void loginWithPassword(const BaseServerInfo &base, const QString &password, const LoginSuccessCallback &success,
                           const LoginFailedCallback &failed)
    {
        auto onFailed = [base, failed](int code, const QString &, AffectedEntities) {
            if (failed)
                failed(base.id, code);
        };
        requestExtraServerInfo(client, base, password, loggedIn(base, success), onFailed, timeouts.givenPasswordMs);
    }

    void refresh(const ServerInfo &server, const LoginSuccessCallback &success, const LoginFailedCallback &failed)
    {
        const qint64 stamp = clock.elapsed();
        const BaseServerInfo base = server.baseInfo();
        const QString password =
            server.hasExtraInfo() ? server.extraInfo().password : defaultPasswords().constFirst();

        auto onSuccess = [this, base, stamp, success](const QUuid &id, const ExtraServerInfo &extra) {
            lastSuccessStamp.insert(id, stamp);
            if (success)
                success(id, extra, base.hostAddress);
        };
        auto onFailed = [this, base, stamp, success, failed](int, const QString &, AffectedEntities) {
            // A refresh started later may have succeeded meanwhile; then this
            // failure is stale and the caller keeps the fresh data.
            auto unlessStale = [this, stamp, failed](const QUuid &id, int code) {
                if (lastSuccessStamp.value(id, 0) > stamp)
                    return;
                if (failed)
                    failed(id, code);
            };
            loginWithKnownPasswords(base, 0, success, unlessStale);
        };
        requestExtraServerInfo(client, base, password, onSuccess, onFailed, timeouts.knownPasswordsMs);
    }

    ServerInfoManager *const owner;
    const Timeouts timeouts;
    HttpClient *const client;
    QElapsedTimer clock;
    QHash<QUuid, qint64> lastSuccessStamp;
};

ServerInfoManager::ServerInfoManager(QObject *parent) : ServerInfoManager(parent, Timeouts()) {}

ServerInfoManager::ServerInfoManager(QObject *parent, const Timeouts &timeouts)
    : ServerInfoManager(parent, timeouts, nullptr)
{
}

ServerInfoManager::ServerInfoManager(QObject *parent, const Timeouts &timeouts, HttpClient *client)
    : QObject(parent), m_impl(new Impl(this, timeouts, client))
{
}

ServerInfoManager::~ServerInfoManager() = default;

void ServerInfoManager::loginWithKnownPasswords(const BaseServerInfo &baseInfo, const LoginSuccessCallback &success,
                                                const LoginFailedCallback &failed)
{
    m_impl->loginWithKnownPasswords(baseInfo, 0, success, failed);
}

void ServerInfoManager::loginWithPassword(const BaseServerInfo &baseInfo, const QString &password,
                                          const LoginSuccessCallback &success, const LoginFailedCallback &failed)
{
    m_impl->loginWithPassword(baseInfo, password, success, failed);
}

void ServerInfoManager::refreshExtraInfo(const QVector<ServerInfo> &servers, const LoginSuccessCallback &success,
                                         const LoginFailedCallback &failed)
{
    for (const ServerInfo &server : servers)
        m_impl->refresh(server, success, failed);
}

QStringList ServerInfoManager::knownPasswords()
{
    return knownPasswordList();
}

} // namespace rtu
