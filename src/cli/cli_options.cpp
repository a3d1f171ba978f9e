#include "cli/cli_options.h"

#include "cli/draft_builder.h"
#include "cli/secret_input.h"
#include "core/input_rules.h"
#include "models/time_zones_model.h"
#include "tool_revision.h"

#include <QCommandLineParser>
#include <QDateTime>
#include <QSet>

#include <algorithm>
#include <cmath>

namespace rtu::cli {

namespace {

const QString kProgram = QStringLiteral("tessaly-config-cli");

// The zone as the window's picker would send it: the identifier of one of
// its rows. An identifier that only names another row's zone is pointed there.
QString checkZone(const QByteArray &zoneId)
{
    const TimeZonesModel zones({}, nullptr);
    for (int row = 0; row < zones.rowCount(); ++row) {
        if (zones.isValidValue(row) && zones.timeZoneIdByIndex(row) == zoneId)
            return QString();
    }
    QString error = QStringLiteral("--set-zone: unknown time zone \"%1\"").arg(shownValue(QString::fromUtf8(zoneId)));
    const int near = zones.indexOfText(QString::fromUtf8(zoneId));
    if (near >= 0)
        error += QStringLiteral(" (did you mean \"%1\"?)").arg(QString::fromUtf8(zones.timeZoneIdByIndex(near)));
    return error;
}

QString parseTime(const QString &text, TimeSetting &setting)
{
    if (text == QLatin1String("now")) {
        setting.now = true;
        return QString();
    }
    const QDateTime parsed = QDateTime::fromString(text, Qt::ISODate);
    if (!text.contains(QLatin1Char('T')) || !parsed.isValid())
        return QStringLiteral("--set-time: \"%1\" is neither now nor a date and time such as 2024-05-31T14:30:00")
            .arg(shownValue(text));
    // The window's time field has no finer unit than seconds.
    const QTime time(parsed.time().hour(), parsed.time().minute(), parsed.time().second());
    if (parsed.timeSpec() == Qt::LocalTime) {
        setting.date = parsed.date();
        setting.time = time;
    } else {
        setting.instantMs = QDateTime(parsed.date(), time, parsed.timeSpec(), parsed.offsetFromUtc())
                                .toMSecsSinceEpoch();
    }
    if (!rules::isAcceptableDate(parsed.date()))
        return QStringLiteral("--set-time: the year must be between %1 and %2").arg(rules::kMinYear).arg(rules::kMaxYear);
    return QString();
}

// NAME=ADDRESS/MASK[,gw=GATEWAY][,dns=DNS] or NAME=dhcp[,dns=DNS]; the
// values themselves are judged with the rest of the draft.
QString parseInterface(const QString &text, InterfaceEdit &setting)
{
    const int equals = text.indexOf(QLatin1Char('='));
    if (equals <= 0)
        return QStringLiteral("--set-ip: expected INTERFACE=ADDRESS/MASK[,gw=GATEWAY][,dns=DNS] or "
                              "INTERFACE=dhcp[,dns=DNS], got \"%1\"")
            .arg(shownValue(text));
    setting.name = text.left(equals);
    const QStringList parts = text.mid(equals + 1).split(QLatin1Char(','));
    const QString name = shownValue(setting.name);

    const QString &first = parts.first();
    // Given on the command line: the DHCP state is part of the change.
    setting.dhcpChanged = true;
    if (first == QLatin1String("dhcp")) {
        setting.useDhcp = true;
    } else {
        const int slash = first.indexOf(QLatin1Char('/'));
        if (slash < 0)
            return QStringLiteral("--set-ip: interface %1 needs ADDRESS/MASK or dhcp, got \"%2\"")
                .arg(name, shownValue(first));
        setting.address = first.left(slash);
        setting.mask = first.mid(slash + 1);
    }

    for (const QString &part : parts.mid(1)) {
        const QString key = part.section(QLatin1Char('='), 0, 0);
        const QString value = part.section(QLatin1Char('='), 1);
        std::optional<QString> *target = nullptr;
        if (key == QLatin1String("gw")) {
            // Under DHCP the window's gateway field is disabled.
            if (setting.useDhcp)
                return QStringLiteral("--set-ip: interface %1 takes its gateway from DHCP").arg(name);
            target = &setting.gateway;
        } else if (key == QLatin1String("dns")) {
            target = &setting.dns;
        }
        if (!target || !part.contains(QLatin1Char('=')))
            return QStringLiteral("--set-ip: unknown setting \"%1\" for interface %2 (gw= or dns=)")
                .arg(shownValue(part), name);
        if (target->has_value())
            return QStringLiteral("--set-ip: %1 given twice for interface %2").arg(key, name);
        *target = value;
    }
    return QString();
}

struct OptionNames
{
    QStringList shared;
    QStringList applyOnly;
};

const OptionNames &optionNames()
{
    static const OptionNames names{
        {QStringLiteral("wait"), QStringLiteral("json"), QStringLiteral("login"), QStringLiteral("timeout")},
        {QStringLiteral("all"), QStringLiteral("system"), QStringLiteral("server"), QStringLiteral("expect"),
         QStringLiteral("dry-run"),
         QStringLiteral("set-system-name"), QStringLiteral("set-port"), QStringLiteral("set-password"),
         QStringLiteral("set-time"), QStringLiteral("set-zone"), QStringLiteral("dhcp"), QStringLiteral("set-ip")}};
    return names;
}

// Seconds above 0, at most an hour, as milliseconds.
QString readSeconds(const QCommandLineParser &parser, const QString &name, int &milliseconds)
{
    bool ok = false;
    const QString text = parser.value(name);
    const double seconds = text.toDouble(&ok);
    if (!ok || !std::isfinite(seconds) || seconds <= 0 || seconds > 3600)
        return QStringLiteral("--%1: \"%2\" is not a number of seconds above 0 (at most 3600)")
            .arg(name, shownValue(text));
    milliseconds = std::max(1, int(std::lround(seconds * 1000)));
    return QString();
}

QString readOptions(const QCommandLineParser &parser, Options &options)
{
    for (const QString &name : {QStringLiteral("wait"), QStringLiteral("timeout"), QStringLiteral("expect"),
                                QStringLiteral("set-system-name"), QStringLiteral("set-port"),
                                QStringLiteral("set-time"), QStringLiteral("set-zone"), QStringLiteral("dhcp")}) {
        if (parser.values(name).size() > 1)
            return QStringLiteral("--%1 is given more than once").arg(name);
    }

    if (parser.isSet(QStringLiteral("wait"))) {
        const QString error = readSeconds(parser, QStringLiteral("wait"), options.waitMs);
        if (!error.isEmpty())
            return error;
    }
    if (parser.isSet(QStringLiteral("timeout"))) {
        int milliseconds = 0;
        const QString error = readSeconds(parser, QStringLiteral("timeout"), milliseconds);
        if (!error.isEmpty())
            return error;
        options.timeoutMs = milliseconds;
    }
    if (parser.isSet(QStringLiteral("expect"))) {
        const QString text = parser.value(QStringLiteral("expect"));
        bool ok = false;
        const int count = text.toInt(&ok);
        if (!ok || count < 1 || text != QString::number(count))
            return QStringLiteral("--expect: \"%1\" is not a number of servers (1 or more)").arg(shownValue(text));
        options.expect = count;
    }
    options.json = parser.isSet(QStringLiteral("json"));
    options.logins = parser.values(QStringLiteral("login"));
    if (options.logins.size() != QSet<QString>(options.logins.begin(), options.logins.end()).size())
        return QStringLiteral("--login: a system is named twice");

    options.dryRun = parser.isSet(QStringLiteral("dry-run"));
    options.all = parser.isSet(QStringLiteral("all"));
    options.systems = parser.values(QStringLiteral("system"));
    options.servers = parser.values(QStringLiteral("server"));

    if (parser.isSet(QStringLiteral("set-system-name")))
        options.systemName = parser.value(QStringLiteral("set-system-name"));
    if (parser.isSet(QStringLiteral("set-port")))
        options.port = parser.value(QStringLiteral("set-port"));
    options.setPassword = parser.isSet(QStringLiteral("set-password"));
    if (parser.isSet(QStringLiteral("set-time"))) {
        TimeSetting setting;
        const QString error = parseTime(parser.value(QStringLiteral("set-time")), setting);
        if (!error.isEmpty())
            return error;
        options.time = setting;
    }
    if (parser.isSet(QStringLiteral("set-zone"))) {
        options.zoneId = parser.value(QStringLiteral("set-zone")).toUtf8();
        const QString error = checkZone(options.zoneId);
        if (!error.isEmpty())
            return error;
    }
    if (parser.isSet(QStringLiteral("dhcp"))) {
        if (parser.value(QStringLiteral("dhcp")) != QLatin1String("on"))
            return QStringLiteral("--dhcp: only \"on\" (turning DHCP off takes an address: --set-ip)");
        options.dhcpOn = true;
    }
    QSet<QString> interfaceNames;
    for (const QString &text : parser.values(QStringLiteral("set-ip"))) {
        InterfaceEdit setting;
        const QString error = parseInterface(text, setting);
        if (!error.isEmpty())
            return error;
        if (interfaceNames.contains(setting.name))
            return QStringLiteral("--set-ip: interface %1 is given twice").arg(shownValue(setting.name));
        interfaceNames.insert(setting.name);
        options.interfaces.append(setting);
    }
    return QString();
}

QString checkCommand(const QCommandLineParser &parser, const Options &options)
{
    if (options.command == Command::List) {
        for (const QString &name : optionNames().applyOnly) {
            if (parser.isSet(name))
                return QStringLiteral("--%1 belongs to apply, not to list").arg(name);
        }
        return QString();
    }
    if (options.all && (!options.systems.isEmpty() || !options.servers.isEmpty()))
        return QStringLiteral("--all selects every logged-in server: leave out --system and --server");
    if (!options.all && options.systems.isEmpty() && options.servers.isEmpty())
        return QStringLiteral("apply needs a selection: --system NAME, --server ID-OR-ADDRESS or --all");
    if (!options.hasChanges())
        return QStringLiteral("apply needs a change: --set-system-name, --set-port, --set-password, --set-time, "
                              "--set-zone, --dhcp on or --set-ip");
    if (options.dhcpOn && !options.interfaces.isEmpty())
        return QStringLiteral("--dhcp on is for several servers and --set-ip for one: give one of them");
    // The values, by the window's rules; the passwords come later.
    return checkValues(options, Secrets(), false);
}

// "-all" read as "--all" would be a guess: only "-h" has one dash.
QString singleDashError(const QStringList &arguments, const QString &parserError)
{
    if (!parserError.startsWith(QLatin1String("Unknown option")))
        return parserError;
    for (const QString &argument : arguments) {
        if (argument.size() > 2 && argument.startsWith(QLatin1Char('-')) && argument.at(1) != QLatin1Char('-'))
            return QStringLiteral("unknown option \"%1\" (long options take two dashes: -%1)").arg(shownValue(argument));
    }
    return parserError;
}

} // namespace

QString shownValue(const QString &value)
{
    // Enough to recognise it; the rest would bury the message.
    constexpr int kLongest = 60;
    constexpr int kKept = 40;
    if (value.size() <= kLongest)
        return value;
    return QStringLiteral("%1... (%2 characters)").arg(value.left(kKept)).arg(value.size());
}

bool Options::hasChanges() const
{
    return systemName || port || setPassword || time || !zoneId.isEmpty() || dhcpOn || !interfaces.isEmpty();
}

int Options::secretsCount() const
{
    return logins.size() + (setPassword ? 1 : 0);
}

ParsedArguments parseArguments(const QStringList &arguments)
{
    ParsedArguments result;
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsCompactedShortOptions);
    parser.addOptions({
        {{QStringLiteral("h"), QStringLiteral("help")}, QString()},
        {QStringLiteral("version"), QString()},
        {QStringLiteral("wait"), QString(), QStringLiteral("SECONDS")},
        {QStringLiteral("timeout"), QString(), QStringLiteral("SECONDS")},
        {QStringLiteral("expect"), QString(), QStringLiteral("N")},
        {QStringLiteral("json"), QString()},
        {QStringLiteral("login"), QString(), QStringLiteral("SYSTEM")},
        {QStringLiteral("all"), QString()},
        {QStringLiteral("system"), QString(), QStringLiteral("NAME")},
        {QStringLiteral("server"), QString(), QStringLiteral("ID-OR-ADDRESS")},
        {QStringLiteral("dry-run"), QString()},
        {QStringLiteral("set-system-name"), QString(), QStringLiteral("NAME")},
        {QStringLiteral("set-port"), QString(), QStringLiteral("PORT")},
        {QStringLiteral("set-password"), QString()},
        {QStringLiteral("set-time"), QString(), QStringLiteral("now|DATETIME")},
        {QStringLiteral("set-zone"), QString(), QStringLiteral("ZONE-ID")},
        {QStringLiteral("dhcp"), QString(), QStringLiteral("on")},
        {QStringLiteral("set-ip"), QString(), QStringLiteral("SETTING")},
    });
    if (!parser.parse(QStringList(kProgram) + arguments)) {
        result.error = singleDashError(arguments, parser.errorText());
        return result;
    }
    Options &options = result.options;
    if (parser.isSet(QStringLiteral("help"))) {
        options.command = Command::Help;
        return result;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        options.command = Command::Version;
        return result;
    }

    const QStringList positional = parser.positionalArguments();
    if (positional.isEmpty()) {
        result.error = QStringLiteral("missing command: list or apply");
        return result;
    }
    if (positional.first() == QLatin1String("list")) {
        options.command = Command::List;
    } else if (positional.first() == QLatin1String("apply")) {
        options.command = Command::Apply;
    } else {
        result.error = QStringLiteral("unknown command \"%1\": list or apply").arg(shownValue(positional.first()));
        return result;
    }
    if (positional.size() > 1) {
        result.error = QStringLiteral("unexpected argument \"%1\"").arg(shownValue(positional.at(1)));
        return result;
    }

    result.error = readOptions(parser, options);
    if (result.error.isEmpty())
        result.error = checkCommand(parser, options);
    return result;
}

QString usageText()
{
    return QStringLiteral(R"(Usage: tessaly-config-cli list [--wait SECONDS] [--timeout SECONDS] [--json]
                          [--login SYSTEM]...
       tessaly-config-cli apply SELECTION CHANGE... [--expect N] [--dry-run]
                          [--wait SECONDS] [--timeout SECONDS] [--json] [--login SYSTEM]...
       tessaly-config-cli --help | --version

Finds the video-management servers of the local network and logs in to them
as the Orvane Tessaly Server Configuration Tool does, then lists them or
applies one set of changes to the selected ones, as the tool's window would.

Commands:
  list                     the servers found, grouped by system; hosts that
                           only ask for servers come last
  apply                    change the selected servers and print the result
                           of every change

Options of both:
  --wait SECONDS           look for servers at most this long (default 30);
                           the looking ends sooner once every server found
                           has a login outcome and a discovery cycle found
                           no new one
  --timeout SECONDS        the whole command at most this long: what is not
                           sent by then is not sent, what is under way fails
  --json                   print one JSON document (format version 1)
                           instead of a table
  --login SYSTEM           log in to a system that refuses the default
                           passwords, with a password from standard input

Selection (apply; every name must match a logged-in server):
  --system NAME            every server of the system ('' for the servers
                           not set up yet)
  --server ID-OR-ADDRESS   one server, by its id or any address it answers from
  --all                    every server found; those that cannot be changed
                           are reported as not sent
  --expect N               refuse the run unless exactly N servers are selected

Changes (apply; at least one):
  --set-system-name NAME   move the servers to the system NAME
  --set-port PORT          the HTTP port, 1 to 65535; the server must then
                           announce it
  --set-password           the administrator password, the next line of
                           standard input
  --set-time now|DATETIME  the date and time: now, or as 2024-05-31T14:30:00
                           (in the zone set) or with Z or an offset
  --set-zone ZONE-ID       the time zone, such as Europe/Berlin; with
                           --set-time alone the servers' common zone stays
  --dhcp on                DHCP on every interface of several servers
  --set-ip INTERFACE=ADDRESS/MASK[,gw=GATEWAY][,dns=DNS]
  --set-ip INTERFACE=dhcp[,dns=DNS]
                           one server only: a static address with a dotted
                           mask (255.255.255.0) or DHCP; an empty gw= or dns=
                           clears it; once per interface
  --dry-run                print the selection and stop before sending

What matched is printed before anything is sent; progress goes to standard
error. Standard input holds one line per --login, in their order, then the
new password, and nothing more; on a terminal they are asked for without
echo. Passwords are never printed. Names and passwords must be UTF-8 without
control characters.

Exit status: 0 every change succeeded, 1 some change failed or was not sent,
2 usage error or a value refused (nothing was sent), 3 a name matched no
logged-in server or --expect did not hold (nothing was sent), 130 interrupted
(Ctrl-C stops sending; the requests under way are answered first; a second
Ctrl-C quits at once).
)");
}

QString versionText()
{
    return QStringLiteral("%1 %2 (revision %3)\n").arg(kProgram, QStringLiteral(TESSALY_VERSION),
                                                       QStringLiteral(TESSALY_REVISION));
}

} // namespace rtu::cli
