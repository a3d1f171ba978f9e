#pragma once

#include "core/server_info.h"

#include <QString>
#include <QStringList>
#include <QVector>

namespace rtu {

// How far logging in to a found server got.
enum class LoginOutcome {
    // Found, no login has reported yet.
    Pending,
    LoggedIn,
    // Every password tried was refused: the system is locked to the tool.
    PasswordRejected,
    // The server could not be read (no answer, an error, a reply not understood).
    Failed,
};

// One server as the core knows it, by id, for front ends that do not show
// the server list.
struct ServerState
{
    // Its record: base information, and extra information once logged in.
    ServerInfo info;
    // The system it is listed under: empty for servers not set up yet.
    QString systemName;
    // Where it answers: the shown address first, then the others its
    // discovery answers came from, then those of its interfaces.
    QStringList addresses;
    LoginOutcome login = LoginOutcome::Pending;
    // Logged in with one of the default passwords, not a typed one.
    bool defaultPassword = false;
    // While two hosts answer with its id: their addresses.
    QStringList conflict;
    bool selected = false;

    // Changes go only to logged-in servers that answer alone.
    bool selectable() const { return login == LoginOutcome::LoggedIn && conflict.isEmpty(); }
};

// How many found servers are at each login outcome.
struct LoginTally
{
    int found = 0;
    int pending = 0;
    int loggedIn = 0;
    int rejected = 0;
    int failed = 0;
};

struct SystemState
{
    // Empty for the servers not set up yet.
    QString name;
    int loggedState = 0; // Constants::LoggedState
    QVector<ServerState> servers;
};

} // namespace rtu
