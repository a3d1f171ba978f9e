#include "protocol/server_info_manager.h"

#include "core/diagnostics.h"
#include "protocol/http_client.h"
#include "protocol/server_requests.h"

#include <QElapsedTimer>
#include <QHash>
#include <QPointer>
#include <QQueue>

#include <memory>

namespace rtu {

namespace {

// Shared by every manager of the process; they only grow.
struct KnownPasswords
{
    // The defaults, then every password a login succeeded with.
    QStringList all = defaultPasswords();
    // A password the operator typed is offered only to servers of the
    // system it worked for, never to every host that turns up.
    QHash<QString, QStringList> typedBySystem;
};

KnownPasswords &knownPasswordLists()
{
    static KnownPasswords lists;
    return lists;
}

void addOnce(QStringList &list, const QString &password)
{
    if (!list.contains(password))
        list.append(password);
}

// How a password came to be tried, never the password itself.
const char *passwordKind(const QString &password)
{
    return defaultPasswords().contains(password) ? "a default password" : "a password learned for its system";
}

void logRefusal(const BaseServerInfo &base, const char *kind, int code, const QString &reason)
{
    qCInfo(logLogin).noquote() << serverLabel(base) << (code == 401 ? "refused" : "could not be read with") << kind
                               << QStringLiteral("(code %1%2)")
                                      .arg(code)
                                      .arg(reason.isEmpty() ? QString() : QStringLiteral(": ") + reason);
}

// A login succeeded: the password is offered to the server's system later.
ExtraInfoCallback loggedIn(const BaseServerInfo &base, const ServerInfoManager::LoginSuccessCallback &success,
                           const char *kind)
{
    return [base, success, kind](const QUuid &id, const ExtraServerInfo &extra) {
        qCInfo(logLogin).noquote() << serverLabel(base) << "logged in with" << kind;
        KnownPasswords &lists = knownPasswordLists();
        addOnce(lists.all, extra.password);
        if (!defaultPasswords().contains(extra.password))
            addOnce(lists.typedBySystem[base.systemName], extra.password);
        if (success)
            success(id, extra, base.hostAddress);
    };
}

} // namespace

class ServerInfoManager::Impl : public QObject
{
public:
    // Chains of requests under way, and those waiting for a free place.
    struct Pool
    {
        int running = 0;
        QQueue<std::function<void()>> waiting;
        bool starting = false;
    };

    // One place in a pool, given back when the chain reports (or, should a
    // report never come, when its last callback goes).
    class Place
    {
    public:
        Place(Impl *impl, Pool *pool) : m_impl(impl), m_pool(pool) {}
        ~Place() { release(); }
        Place(const Place &) = delete;
        Place &operator=(const Place &) = delete;

        void release()
        {
            if (m_released)
                return;
            m_released = true;
            if (m_impl && !m_impl->closing)
                m_impl->release(*m_pool);
        }

    private:
        QPointer<Impl> m_impl;
        Pool *const m_pool;
        bool m_released = false;
    };
    using PlacePtr = std::shared_ptr<Place>;

    Impl(ServerInfoManager *owner, const Timeouts &timeouts, HttpClient *client)
        : QObject(owner), owner(owner), timeouts(timeouts), client(client ? client : new HttpClient(this))
    {
        this->client->setParent(this);
        clock.start();
    }

    ~Impl() override { closing = true; }

    // Runs the chain now if its pool has room, else when a place frees.
    void schedule(Pool &pool, const std::function<void(const PlacePtr &)> &chain)
    {
        Pool *const target = &pool;
        pool.waiting.enqueue([this, target, chain]() { chain(std::make_shared<Place>(this, target)); });
        startWaiting(pool);
    }

    void release(Pool &pool)
    {
        --pool.running;
        startWaiting(pool);
    }

    void startWaiting(Pool &pool)
    {
        // A chain that reports at once gives its place back from inside the
        // loop; the loop itself then starts the next one.
        if (pool.starting)
            return;
        pool.starting = true;
        while (pool.running < qMax(1, timeouts.concurrentLogins) && !pool.waiting.isEmpty()) {
            ++pool.running;
            pool.waiting.dequeue()();
        }
        pool.starting = false;
    }

    // The caller's callbacks, giving the place back before they report.
    static LoginSuccessCallback releasing(const PlacePtr &place, const LoginSuccessCallback &success)
    {
        return [place, success](const QUuid &id, const ExtraServerInfo &extra, const QString &host) {
            place->release();
            if (success)
                success(id, extra, host);
        };
    }

    static LoginFailedCallback releasing(const PlacePtr &place, const LoginFailedCallback &failed)
    {
        return [place, failed](const QUuid &id, int code) {
            place->release();
            if (failed)
                failed(id, code);
        };
    }

    void loginWithKnownPasswords(const BaseServerInfo &base, int index, const LoginSuccessCallback &success,
                                 const LoginFailedCallback &failed, bool defaultsOnly = false)
    {
        // Read afresh each time: a password learnt meanwhile is tried too.
        const QStringList passwords = defaultsOnly ? defaultPasswords() : knownPasswords(base.systemName);
        if (index >= passwords.size()) {
            if (failed)
                failed(base.id, 401);
            return;
        }
        const char *const kind = passwordKind(passwords.at(index));
        qCDebug(logLogin).noquote() << serverLabel(base) << "tried with" << kind
                                    << QStringLiteral("(%1 of %2)").arg(index + 1).arg(passwords.size());
        auto onFailed = [this, base, index, success, failed, defaultsOnly, kind](int code, const QString &reason,
                                                                                AffectedEntities) {
            logRefusal(base, kind, code, reason);
            if (code == 401)
                loginWithKnownPasswords(base, index + 1, success, failed, defaultsOnly);
            else if (failed)
                failed(base.id, -1);
        };
        requestExtraServerInfo(client, base, passwords.at(index), loggedIn(base, success, kind), onFailed,
                               timeouts.knownPasswordsMs);
    }

    void scheduleAutomaticLogin(const BaseServerInfo &base, const LoginSuccessCallback &success,
                                const LoginFailedCallback &failed, bool defaultsOnly)
    {
        schedule(automatic, [this, base, success, failed, defaultsOnly](const PlacePtr &place) {
            loginWithKnownPasswords(base, 0, releasing(place, success), releasing(place, failed), defaultsOnly);
        });
    }

    void loginWithPassword(const BaseServerInfo &base, const QString &password, const LoginSuccessCallback &success,
                           const LoginFailedCallback &failed)
    {
        const char *const kind = "the password typed for its system";
        qCDebug(logLogin).noquote() << serverLabel(base) << "tried with" << kind;
        auto onFailed = [base, failed, kind](int code, const QString &reason, AffectedEntities) {
            logRefusal(base, kind, code, reason);
            if (failed)
                failed(base.id, code);
        };
        requestExtraServerInfo(client, base, password, loggedIn(base, success, kind), onFailed,
                               timeouts.givenPasswordMs);
    }

    void refresh(const ServerInfo &server, qint64 stamp, const PlacePtr &place, const LoginSuccessCallback &success,
                 const LoginFailedCallback &failed)
    {
        const BaseServerInfo base = server.baseInfo();
        const QString password =
            server.hasExtraInfo() ? server.extraInfo().password : defaultPasswords().constFirst();

        const char *const kind = passwordKind(password);
        qCDebug(logLogin).noquote() << serverLabel(base) << "refreshed with" << kind;
        auto onSuccess = [this, base, stamp, success](const QUuid &id, const ExtraServerInfo &extra) {
            qCDebug(logLogin).noquote() << serverLabel(base) << "refreshed";
            lastSuccessStamp.insert(id, stamp);
            if (success)
                success(id, extra, base.hostAddress);
        };
        auto onFailed = [this, base, stamp, place, success, failed, kind](int code, const QString &reason,
                                                                         AffectedEntities) {
            logRefusal(base, kind, code, reason);
            // A refresh started later may have succeeded meanwhile; then this
            // failure is stale and the caller keeps the fresh data.
            auto unlessStale = [this, stamp, place, failed](const QUuid &id, int code) {
                if (lastSuccessStamp.value(id, 0) > stamp) {
                    qCDebug(logLogin).noquote() << id.toString() << "failure dropped: a later refresh succeeded";
                    place->release();
                    return;
                }
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
    Pool automatic;
    Pool operatorLogins;
    bool closing = false;
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
    m_impl->scheduleAutomaticLogin(baseInfo, success, failed, false);
}

void ServerInfoManager::loginWithDefaultPasswords(const BaseServerInfo &baseInfo, const LoginSuccessCallback &success,
                                                  const LoginFailedCallback &failed)
{
    m_impl->scheduleAutomaticLogin(baseInfo, success, failed, true);
}

void ServerInfoManager::loginWithPassword(const BaseServerInfo &baseInfo, const QString &password,
                                          const LoginSuccessCallback &success, const LoginFailedCallback &failed)
{
    Impl *const impl = m_impl;
    impl->schedule(impl->operatorLogins, [impl, baseInfo, password, success, failed](const Impl::PlacePtr &place) {
        impl->loginWithPassword(baseInfo, password, Impl::releasing(place, success), Impl::releasing(place, failed));
    });
}

void ServerInfoManager::refreshExtraInfo(const QVector<ServerInfo> &servers, const LoginSuccessCallback &success,
                                         const LoginFailedCallback &failed)
{
    Impl *const impl = m_impl;
    for (const ServerInfo &server : servers) {
        // Stamped when asked for: a refresh asked for later counts as later.
        const qint64 stamp = impl->clock.elapsed();
        impl->schedule(impl->automatic, [impl, server, stamp, success, failed](const Impl::PlacePtr &place) {
            impl->refresh(server, stamp, place, Impl::releasing(place, success), Impl::releasing(place, failed));
        });
    }
}

QStringList ServerInfoManager::knownPasswords()
{
    return knownPasswordLists().all;
}

QStringList ServerInfoManager::knownPasswords(const QString &systemName)
{
    const KnownPasswords &lists = knownPasswordLists();
    return defaultPasswords() + lists.typedBySystem.value(systemName);
}

void ServerInfoManager::systemRenamed(const QString &from, const QString &to)
{
    KnownPasswords &lists = knownPasswordLists();
    const QStringList typed = lists.typedBySystem.value(from);
    if (typed.isEmpty() || from == to)
        return;
    QStringList &target = lists.typedBySystem[to];
    for (const QString &password : typed)
        addOnce(target, password);
}

} // namespace rtu
