#include "cli/secret_input.h"

#include "cli/cli_options.h"
#include "cli/input_rules.h"

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>

#ifdef Q_OS_UNIX
#include <termios.h>
#include <unistd.h>
#endif

namespace rtu::cli {

namespace {

#ifdef Q_OS_UNIX
bool onTerminal()
{
    return ::isatty(STDIN_FILENO) && ::isatty(STDERR_FILENO);
}

// Keeps what is typed off the screen while it lives.
class EchoOff
{
public:
    EchoOff()
    {
        m_active = ::tcgetattr(STDIN_FILENO, &m_saved) == 0;
        if (!m_active)
            return;
        termios quiet = m_saved;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    ~EchoOff()
    {
        if (m_active)
            ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &m_saved);
    }
    EchoOff(const EchoOff &) = delete;
    EchoOff &operator=(const EchoOff &) = delete;

private:
    termios m_saved{};
    bool m_active = false;
};
#else
bool onTerminal()
{
    return false;
}
#endif

// One line without its line end; false at the end of the input.
bool readLine(const QString &prompt, QString &line)
{
    const bool terminal = onTerminal();
    if (terminal) {
        std::fputs(prompt.toLocal8Bit().constData(), stderr);
        std::fflush(stderr);
    }
    std::string text;
    bool read = false;
    {
#ifdef Q_OS_UNIX
        std::unique_ptr<EchoOff> echoOff(terminal ? new EchoOff : nullptr);
#endif
        read = bool(std::getline(std::cin, text));
    }
    if (terminal)
        std::fputs("\n", stderr);
    if (!read)
        return false;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    line = QString::fromStdString(text);
    // The password leaves no copy behind in freed memory.
    std::fill(text.begin(), text.end(), '\0');
    return true;
}

} // namespace

bool readSecrets(const Options &options, Secrets &secrets, QString &error)
{
    for (const QString &system : options.logins) {
        QString password;
        if (!readLine(QStringLiteral("Password of system \"%1\": ").arg(system), password)) {
            error = QStringLiteral("standard input ended before the password of system \"%1\" (--login)").arg(system);
            return false;
        }
        secrets.loginPasswords.append(password);
    }
    if (options.setPassword) {
        if (!readLine(QStringLiteral("New administrator password: "), secrets.newPassword)) {
            error = QStringLiteral("standard input ended before the new password (--set-password)");
            return false;
        }
        if (isBlank(secrets.newPassword)) {
            error = QStringLiteral("--set-password: invalid password: it is blank");
            return false;
        }
    }
    return true;
}

} // namespace rtu::cli
