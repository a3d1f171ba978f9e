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
// for servers until every one found has a login outcome and discovery has
// gone quiet (or --wait is over), logs in to the systems named, then lists
// the servers, or selects some by id and applies the changes through a
// change draft and the changes manager, following the run by its events.
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
// The same from the bytes of the arguments, which must be UTF-8: a byte
// sequence that is not would reach a server as replacement characters.
int runCommand(const QByteArrayList &arguments);

} // namespace rtu::cli
