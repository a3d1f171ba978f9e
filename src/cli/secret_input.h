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
// Returns false with a message when a line is missing or the new password
// is blank (the window refuses it).
bool readSecrets(const Options &options, Secrets &secrets, QString &error);

} // namespace rtu::cli
