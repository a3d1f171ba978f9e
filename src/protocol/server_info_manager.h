#pragma once

#include "core/server_info.h"

#include <QObject>
#include <QStringList>

#include <functional>

namespace rtu {

class HttpClient;

// Logs in to servers with the known passwords or a given one, and refreshes
// their extra information, over a client of its own.
class ServerInfoManager : public QObject
{
    Q_OBJECT

public:
    using LoginSuccessCallback =
        std::function<void(const QUuid &id, const ExtraServerInfo &extraInfo, const QString &hostAddress)>;
    // 401: the password (or every known one) was rejected; -1 or another
    // code: the server could not be read.
    using LoginFailedCallback = std::function<void(const QUuid &id, int errorCode)>;

    // Time limits and bounds of the requests; tests shorten them, the tool
    // never does.
    struct Timeouts
    {
        int knownPasswordsMs = 10000; // automatic login and refresh
        int givenPasswordMs = 2000;   // the operator's password
        // Logins and refreshes under way at once; the rest wait their turn,
        // so that a flood of made-up servers cannot open thousands of
        // connections. The operator's logins have a share of their own.
        int concurrentLogins = 64;
    };

    explicit ServerInfoManager(QObject *parent);
    ServerInfoManager(QObject *parent, const Timeouts &timeouts);
    // Requests go over `client`, which the manager takes over; tests and
    // fuzzing pass one that answers without sockets. Null: a client of its own.
    ServerInfoManager(QObject *parent, const Timeouts &timeouts, HttpClient *client);
    ~ServerInfoManager() override;

    void loginWithKnownPasswords(const BaseServerInfo &baseInfo, const LoginSuccessCallback &success,
                                 const LoginFailedCallback &failed);
    // As above with the default passwords alone: for a server whose address
    // may be another host's, so that no password the operator typed goes there.
    void loginWithDefaultPasswords(const BaseServerInfo &baseInfo, const LoginSuccessCallback &success,
                                   const LoginFailedCallback &failed);
    void loginWithPassword(const BaseServerInfo &baseInfo, const QString &password,
                           const LoginSuccessCallback &success, const LoginFailedCallback &failed);
    void refreshExtraInfo(const QVector<ServerInfo> &servers, const LoginSuccessCallback &success,
                          const LoginFailedCallback &failed);

    // Every password known to the process, defaults first; it only grows,
    // with each password a login succeeded with.
    static QStringList knownPasswords();
    // What an automatic login of a server of that system tries: the defaults,
    // then the passwords that worked for that system.
    static QStringList knownPasswords(const QString &systemName);
    // The tool renamed a system: what worked for it is offered under the new
    // name too (servers not renamed keep the old one).
    static void systemRenamed(const QString &from, const QString &to);

private:
    class Impl;
    Impl *const m_impl;
};

} // namespace rtu
