#pragma once

#include <QByteArray>
#include <QDate>
#include <QString>
#include <QStringList>
#include <QTime>
#include <QVector>

#include <optional>

namespace rtu::cli {

enum class Command { Help, Version, List, Apply };

// One interface of the one selected server, as its line in the window's
// network panel would send it.
struct InterfaceSetting
{
    QString name;
    // DHCP on; otherwise the static address and mask below.
    bool dhcp = false;
    QString address;
    QString mask;
    // Set when given; an empty text clears the setting, as a blank field does.
    std::optional<QString> gateway;
    std::optional<QString> dns;
};

// --set-time: the current time, a wall clock in the zone that is set, or an
// instant given with its offset.
struct TimeSetting
{
    bool now = false;
    QDate date;
    QTime time;
    std::optional<qint64> instantMs;
};

struct Options
{
    Command command = Command::Help;
    int waitMs = 3000;
    bool json = false;
    bool dryRun = false;
    // Systems to log in to, each with the next line of standard input.
    QStringList logins;

    bool all = false;
    QStringList systems;
    QStringList servers;

    std::optional<QString> systemName;
    std::optional<int> port;
    // The new password comes from standard input, after the login passwords.
    bool setPassword = false;
    std::optional<TimeSetting> time;
    QByteArray zoneId;
    bool dhcpOn = false;
    QVector<InterfaceSetting> interfaces;

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

QString usageText();
QString versionText();

} // namespace rtu::cli
