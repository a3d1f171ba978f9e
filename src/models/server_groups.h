#pragma once

#include "core/server_info.h"
#include "models/span_tree.h"

#include <QHash>
#include <QStringList>
#include <QUuid>
#include <QVector>

#include <memory>
#include <vector>

namespace rtu {

class ModelChangeHelper;

// The rows behind the server list, kept apart from what the list does with
// them: every system with its servers in list order, their counts, where each
// row is and what each row last told the views, then the unknown hosts.
namespace listing {

enum LoginState {
    LoggedIn = 0,
    PasswordRejected = 1,
    Unavailable = 2,
};

struct SystemEntry;

// What a row last told the views, so that a change announces only the rows
// and roles whose shown values really changed.
struct ServerShown
{
    QString name;
    QString displayAddress;
    QString systemName;
    QString macAddress;
    int selectedState = Qt::Unchecked;
    int port = 0;
    bool loggedIn = false;
    bool defaultPassword = false;
    // The addresses that answer as it while there are several: the row names them.
    QStringList conflict;
};

struct SystemShown
{
    QString name;
    int selectedState = Qt::Unchecked;
    int selectedCount = 0;
    int serversCount = 0;
    int loggedState = 0;
};

struct ServerEntry
{
    qint64 refreshedAtMs = 0;
    int selectedState = Qt::Unchecked;
    int loginState = Unavailable;
    ServerInfo info;
    SystemEntry *system = nullptr;
    int index = 0; // place among the servers of its system
    ServerShown shown;
    // The addresses of hosts answering with its id, while there are two.
    QStringList conflict;
    // Found in a burst whose logins have not started yet.
    bool loginHeld = false;
    // When a change of the tool's was last confirmed (the count of confirmed
    // changes then), and when its port: reads started earlier are stale.
    quint64 changedAt = 0;
    qint64 portChangedAtMs = -1; // never
    // Its password is one a change of the tool's set and the server
    // confirmed, not since replaced by a login of its own: a sibling's login
    // knows nothing of it.
    bool passwordConfirmed = false;
    // A login has reported, success or failure.
    bool loginReported = false;
    // The addresses its discovery answers came from, and when (monotonic ms).
    QHash<QString, qint64> answeredAtMs;

    bool selected() const { return selectedState == Qt::Checked; }
    // Changes go only where the server is known to answer alone.
    bool selectable() const { return info.hasExtraInfo() && conflict.isEmpty(); }
    bool blankPassword() const { return info.hasExtraInfo() && info.extraInfo().password.isEmpty(); }
};

// Entries are held by pointer: ServerInfo assignment keeps the target's extra
// information, so shifting records by assignment would corrupt them, and the
// pointers handed out by selectedServers() stay put while rows move.
using ServerEntryPtr = std::unique_ptr<ServerEntry>;

// A system and its servers: one block of rows of the span tree.
struct SystemEntry : SpanTree::Node
{
    int selectedCount = 0;
    int loggedCount = 0;
    int rejectedCount = 0;
    // Logged-in servers whose password is not known yet; a password learnt
    // for one of them is shared with the others.
    int blankPasswords = 0;
    std::vector<ServerEntryPtr> servers;
    SystemShown shown;
};

// Servers with the factory flag are grouped under the empty system name.
QString targetSystemName(const BaseServerInfo &baseInfo);
QString macAddressText(const ServerEntry &server);
bool hasDefaultPassword(const ServerInfo &info);
int systemSelectedState(const SystemEntry &system);
int systemLoggedState(const SystemEntry &system);

class ServerGroups
{
public:
    explicit ServerGroups(ModelChangeHelper *helper) : helper(helper) {}

    // Locating entries
    ServerEntry *find(const QUuid &id) const { return byId.value(id); }
    int systemRows() const { return order.totalSpan(); }
    int rowOf(const SystemEntry &system) const { return order.firstRowOf(&system); }
    int rowOf(const ServerEntry &server) const { return rowOf(*server.system) + 1 + server.index; }
    SystemEntry *systemAtRow(int row, ServerEntry **server) const;
    SystemEntry *firstSystem() const { return static_cast<SystemEntry *>(order.first()); }
    static SystemEntry *nextSystem(const SystemEntry *system)
    {
        return static_cast<SystemEntry *>(SpanTree::next(system));
    }

    // Counting: every change of a server's state goes between these two, so
    // that the counts of its system always match its servers.
    void uncount(ServerEntry &server);
    void count(ServerEntry &server);
    void setSelected(ServerEntry &server, bool selected);

    // Structure: each announces its rows to the views.
    SystemEntry *createSystem(const QString &name);
    void dropSystem(SystemEntry &system);
    // Appends the server to the system's block.
    ServerEntry *insertServer(ServerEntryPtr server, SystemEntry &system);
    void moveServer(ServerEntry &server, SystemEntry &target);
    // A rename in place, whatever the order of names then.
    void renameSystem(SystemEntry &system, const QString &name);
    void removeAll(const IDsVector &ids);
    // Hosts that ask like a tool and are no server's address: after the
    // systems, under their group row, sorted.
    void addUnknown(const QString &address);
    void removeUnknown(const QString &address);

    // Announcing what the views show
    void announce(ServerEntry &server);
    void announce(SystemEntry &system);
    void announceAll();

    ModelChangeHelper *const helper;
    // The systems in row order; they own their servers.
    SpanTree order;
    QHash<QString, SystemEntry *> systemsByName;
    QHash<QUuid, ServerEntry *> byId;
    int selectedTotal = 0;
    QStringList unknownEntities;
};

} // namespace listing
} // namespace rtu
