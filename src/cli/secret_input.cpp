#include "cli/secret_input.h"

#include "cli/cli_options.h"
#include "core/input_rules.h"

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

enum class LineRead { Read, Ended, NotUtf8 };

// One line without its line end.
LineRead readLine(const QString &prompt, QString &line)
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
        return LineRead::Ended;
    // A line end written by Windows.
    if (!text.empty() && text.back() == '\r')
        text.pop_back();
    const QByteArray bytes = QByteArray::fromRawData(text.data(), int(text.size()));
    const bool utf8 = rules::isValidUtf8(bytes);
    if (utf8)
        line = QString::fromUtf8(bytes);
    // The password leaves no copy behind in freed memory.
    std::fill(text.begin(), text.end(), '\0');
    return utf8 ? LineRead::Read : LineRead::NotUtf8;
}

// A line read for `what`, or the message of why it cannot be used.
bool readSecret(const QString &prompt, const QString &what, QString &secret, QString &error)
{
    switch (readLine(prompt, secret)) {
    case LineRead::Ended:
        error = QStringLiteral("standard input ended before %1").arg(what);
        return false;
    case LineRead::NotUtf8:
        error = QStringLiteral("standard input: %1 is not valid UTF-8").arg(what);
        return false;
    case LineRead::Read:
        break;
    }
    if (!rules::isPlainText(secret)) {
        error = QStringLiteral("standard input: %1 holds a control character").arg(what);
        return false;
    }
    return true;
}

// Lines nobody asked for mean the input was meant for something else.
bool inputEnded()
{
    return onTerminal() || std::cin.peek() == std::char_traits<char>::eof();
}

} // namespace

bool readSecrets(const Options &options, Secrets &secrets, QString &error)
{
    for (const QString &system : options.logins) {
        QString password;
        if (!readSecret(QStringLiteral("Password of system \"%1\": ").arg(system),
                        QStringLiteral("the password of system \"%1\" (--login)").arg(shownValue(system)), password,
                        error))
            return false;
        secrets.loginPasswords.append(password);
    }
    if (options.setPassword
        && !readSecret(QStringLiteral("New administrator password: "),
                       QStringLiteral("the new password (--set-password)"), secrets.newPassword, error))
        return false;
    if (options.secretsCount() > 0 && !inputEnded()) {
        error = QStringLiteral("standard input holds more than the %1 that --login and --set-password read")
                    .arg(options.secretsCount() == 1 ? QStringLiteral("one line")
                                                     : QStringLiteral("%1 lines").arg(options.secretsCount()));
        return false;
    }
    return true;
}

} // namespace rtu::cli
