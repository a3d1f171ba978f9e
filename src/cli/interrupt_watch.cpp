#include "cli/interrupt_watch.h"

#include <QSocketNotifier>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace rtu::cli {

#ifdef Q_OS_UNIX

namespace {

// The handler may only write to a descriptor; the event loop reads the other end.
int g_pipe[2] = {-1, -1};
struct sigaction g_previous;
bool g_installed = false;

void onSignal(int)
{
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(g_pipe[0], &byte, 1);
    errno = saved;
}

} // namespace

InterruptWatch::InterruptWatch(QObject *parent) : QObject(parent)
{
    // A process started with Ctrl-C ignored (in the background of a script)
    // keeps ignoring it.
    struct sigaction current;
    if (sigaction(SIGINT, nullptr, &current) != 0 || current.sa_handler == SIG_IGN)
        return;
    if (g_installed || ::socketpair(AF_UNIX, SOCK_STREAM, 0, g_pipe) != 0)
        return;
    ::fcntl(g_pipe[0], F_SETFD, FD_CLOEXEC);
    ::fcntl(g_pipe[1], F_SETFD, FD_CLOEXEC);
    m_notifier = new QSocketNotifier(g_pipe[1], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] {
        char buffer[16];
        [[maybe_unused]] const ssize_t drained = ::read(g_pipe[1], buffer, sizeof buffer);
        emit interrupted();
    });
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, &g_previous);
    g_installed = true;
}

InterruptWatch::~InterruptWatch()
{
    release();
    if (m_notifier) {
        delete m_notifier;
        ::close(g_pipe[0]);
        ::close(g_pipe[1]);
        g_pipe[0] = g_pipe[1] = -1;
    }
}

void InterruptWatch::release()
{
    if (!g_installed)
        return;
    sigaction(SIGINT, &g_previous, nullptr);
    g_installed = false;
}

#else

InterruptWatch::InterruptWatch(QObject *parent) : QObject(parent) {}

InterruptWatch::~InterruptWatch() = default;

void InterruptWatch::release() {}

#endif

} // namespace rtu::cli
