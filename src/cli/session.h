#pragma once

#include "cli/cli_options.h"
#include "cli/secret_input.h"

#include <QObject>
#include <QStringList>

namespace rtu::cli {

enum ExitStatus : int {
    ExitSucceeded = 0,
    ExitSomeFailed = 1,
    ExitUsageError = 2,
    ExitNothingMatched = 3,
    ExitInterrupted = 130,
};

// One run of the command on the tool's own application context: it looks
// for servers for the time given, logs in to the systems named, then lists
// the servers, or selects some through the selection model and applies the
// changes through the changes manager, following the run by the context's
// page and the manager's counters, as the window does.
class Session : public QObject
{
    Q_OBJECT

public:
    Session(const Options &options, const Secrets &secrets, QObject *parent = nullptr);
    ~Session() override;

    // Creates the context; discovery starts at once.
    void start();

signals:
    void finished(int exitStatus);

private:
    class Impl;
    Impl *const m_impl;
};

// The whole command, from the arguments after the program name to the exit
// status; runs the event loop of the application object, which must exist.
int runCommand(const QStringList &arguments);

} // namespace rtu::cli
