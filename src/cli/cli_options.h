#pragma once

#include "changes/change_draft.h"

#include <QByteArray>
#include <QDate>
#include <QString>
#include <QStringList>
#include <QTime>
#include <QVector>

#include <optional>

namespace rtu::cli {

enum class Command { Help, Version, List, Apply };

// --set-time: the current time, a wall clock in the zone that is set, or an
// instant given with its offset.
struct TimeSetting
{
    bool now = false;
    QDate date;
    QTime time;
    std::optional<qint64> instantMs;
};

// Long enough for 10,000 servers to be found and logged in; a fleet that
// settles earlier ends the looking then.
constexpr int kDefaultWaitMs = 30000;

struct Options
{
    Command command = Command::Help;
    // The longest time to look for servers and log in to them.
    int waitMs = kDefaultWaitMs;
    // The whole command, looking included.
    std::optional<int> timeoutMs;
    bool json = false;
    bool dryRun = false;
    // Systems to log in to, each with the next line of standard input.
    QStringList logins;

    bool all = false;
    QStringList systems;
    QStringList servers;
    // Exactly this many servers must be selected.
    std::optional<int> expect;

    std::optional<QString> systemName;
    std::optional<QString> port;
    // The new password comes from standard input, after the login passwords.
    bool setPassword = false;
    std::optional<TimeSetting> time;
    QByteArray zoneId;
    bool dhcpOn = false;
    // One per --set-ip, as an interface line of the network panel holds it.
    QVector<InterfaceEdit> interfaces;

    bool hasChanges() const;
    // Lines to read from standard input.
    int secretsCount() const;
};

struct ParsedArguments
{
    Options options;
    // Set when the arguments are refused: what is wrong, for the user.
    QString error;
};

// Reads the arguments that follow the program name and applies the window's
// rules to every value they give.
ParsedArguments parseArguments(const QStringList &arguments);

// A value as an error message repeats it: a huge one shortened.
QString shownValue(const QString &value);

QString usageText();
QString versionText();

} // namespace rtu::cli
