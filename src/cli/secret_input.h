#pragma once

#include <QString>
#include <QStringList>

namespace rtu::cli {

struct Options;

// The passwords a command needs, never taken from its arguments.
struct Secrets
{
    // One per --login, in the same order.
    QStringList loginPasswords;
    QString newPassword;
};

// Reads one line of standard input per --login, then one for --set-password;
// on a terminal each is asked for on standard error and typed without echo.
// Returns false with a message when a line is missing, is not UTF-8 or holds
// a control character, or when more input follows the last line needed.
// What the window's rules say of the passwords is checked with the changes.
bool readSecrets(const Options &options, Secrets &secrets, QString &error);

} // namespace rtu::cli
