#include "cli/session.h"

#include "app/rtu_context.h"
#include "changes/changes_manager.h"
#include "cli/fleet_listing.h"
#include "cli/interrupt_watch.h"
#include "cli/progress_meter.h"
#include "cli/run_results.h"
#include "core/constants.h"
#include "core/date_time_helpers.h"
#include "models/ip_settings_model.h"
#include "models/selection.h"
#include "models/servers_selection_model.h"
#include "models/time_zones_model.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <memory>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace rtu::cli {

namespace {

const QString kProgram = QStringLiteral("tessaly-config-cli");

// Changes of the server list come in bursts; one look per burst is enough.
constexpr int kLookDelayMs = 50;
// A login with a typed password gives up after 2 s; a system whose servers
// brought no new login for longer is done with.
constexpr qint64 kLoginQuietMs = 2500;

void writeTo(std::FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

bool stderrIsTerminal()
{
#ifdef Q_OS_UNIX
    return ::isatty(STDERR_FILENO);
#else
    return false;
#endif
}

QString plural(int count, const QString &one, const QString &many)
{
    return QStringLiteral("%1 %2").arg(count).arg(count == 1 ? one : many);
}

// A selected server with the system it is listed under.
struct Target
{
    ListedServer server;
    QString system;
};

} // namespace

class Session::Impl : public QObject
{
public:
    enum class Phase { Looking, LoggingIn, Running, Over };

    struct Login
    {
        enum class State { Waiting, Trying, Done };
        QString system;
        QString password;
        State state = State::Waiting;
        int loggedIn = 0;
        QElapsedTimer sinceProgress;
    };

    Impl(Session *owner, const Options &options, const Secrets &secrets)
        : QObject(owner), owner(owner), options(options), meter(&errorDevice, stderrIsTerminal())
    {
        errorDevice.open(stderr, QIODevice::WriteOnly | QIODevice::Unbuffered);
        for (int i = 0; i < options.logins.size(); ++i) {
            Login login;
            login.system = options.logins.at(i);
            login.password = secrets.loginPasswords.value(i);
            logins.append(login);
        }
        newPassword = secrets.newPassword;
        lookTimer.setSingleShot(true);
        lookTimer.setInterval(kLookDelayMs);
        connect(&lookTimer, &QTimer::timeout, this, &Impl::look);
        loginTimer.setInterval(100);
        connect(&loginTimer, &QTimer::timeout, this, &Impl::look);
        connect(&watch, &InterruptWatch::interrupted, this, &Impl::onInterrupt);
    }

    void start();
    void look();
    void followLogins(const FleetListing &fleet);
    void tryLogin(Login &login, const ListedSystem &system);
    void onLoginFailed(const QString &system);
    void onWaitOver();
    void proceed();
    void apply();
    bool matches(const QString &system, const ListedServer &server) const;
    bool matchesServerOption(const QString &option, const ListedServer &server) const;
    void selectMatching(const FleetListing &fleet, bool final);
    void warnUnmatched(const FleetListing &fleet);
    QVector<Target> targets(const FleetListing &fleet) const;
    void printSelection(const QVector<Target> &selected);
    QString addChanges(const QVector<Target> &selected);
    QString addDateTimeChange(Selection *selection);
    QString checkInterfaces(const QVector<Target> &selected, int flags);
    void onPage();
    void runOver();
    void onInterrupt();
    void finish(int status);

    void out(const QString &text) { writeTo(stdout, text); }
    void err(const QString &text)
    {
        meter.breakLine();
        errorDevice.write(text.toUtf8());
    }
    void warn(const QString &text) { err(QStringLiteral("%1: %2\n").arg(kProgram, text)); }

    Session *const owner;
    const Options options;
    QString newPassword;
    QVector<Login> logins;
    QFile errorDevice;
    ProgressMeter meter;
    InterruptWatch watch;
    RtuContext *context = nullptr;
    ServersSelectionModel *model = nullptr;
    ChangesManager *manager = nullptr;
    QTimer lookTimer;
    QTimer loginTimer;
    Phase phase = Phase::Looking;
    QVector<Target> selected;
    QElapsedTimer runClock;
    bool interrupted = false;
};

void Session::Impl::start()
{
    // No window to draw first: the first discovery request goes out at once,
    // the later ones at the protocol's own times.
    ServersFinderParameters discovery;
    discovery.firstCycleDelayMs = 0;
    context = new RtuContext(this, discovery);
    model = qobject_cast<ServersSelectionModel *>(context->selectionModel());
    manager = qobject_cast<ChangesManager *>(context->changesManager());

    const auto later = [this] {
        if (!lookTimer.isActive())
            lookTimer.start();
    };
    connect(model, &QAbstractItemModel::rowsInserted, this, later);
    connect(model, &QAbstractItemModel::rowsRemoved, this, later);
    connect(model, &QAbstractItemModel::dataChanged, this, later);
    connect(model, &QAbstractItemModel::modelReset, this, later);
    connect(context, &RtuContext::loginOperationFailed, this, &Impl::onLoginFailed);
    QTimer::singleShot(options.waitMs, this, &Impl::onWaitOver);
    err(QStringLiteral("looking for servers for %1 s\n").arg(options.waitMs / 1000.0));
}

void Session::Impl::look()
{
    if (phase != Phase::Looking && phase != Phase::LoggingIn)
        return;
    const FleetListing fleet = readFleet(*model);
    followLogins(fleet);
    if (phase == Phase::Looking) {
        // A system that refused the known passwords gets its own at once.
        for (Login &login : logins) {
            const ListedSystem *system = fleet.system(login.system);
            if (login.state == Login::State::Waiting && system && system->locked)
                tryLogin(login, *system);
        }
        // Selecting early makes the model refresh the servers now, not while
        // the changes go out.
        if (options.command == Command::Apply)
            selectMatching(fleet, false);
        return;
    }
    const bool loginsDone = std::all_of(logins.cbegin(), logins.cend(),
                                        [](const Login &login) { return login.state == Login::State::Done; });
    if (loginsDone)
        proceed();
}

void Session::Impl::followLogins(const FleetListing &fleet)
{
    for (Login &login : logins) {
        if (login.state != Login::State::Trying)
            continue;
        const ListedSystem *system = fleet.system(login.system);
        const int loggedIn = system ? int(std::count_if(system->servers.cbegin(), system->servers.cend(),
                                                        [](const ListedServer &server) { return server.loggedIn; }))
                                    : 0;
        if (system && loggedIn == system->servers.size()) {
            login.state = Login::State::Done;
        } else if (loggedIn > login.loggedIn) {
            login.loggedIn = loggedIn;
            login.sinceProgress.restart();
        } else if (login.sinceProgress.elapsed() > kLoginQuietMs) {
            login.state = Login::State::Done;
            warn(QStringLiteral("system \"%1\": %2 of %3 logged in")
                     .arg(login.system)
                     .arg(loggedIn)
                     .arg(plural(system ? system->servers.size() : 0, QStringLiteral("server"),
                                 QStringLiteral("servers"))));
        }
    }
    const bool trying = std::any_of(logins.cbegin(), logins.cend(),
                                    [](const Login &login) { return login.state == Login::State::Trying; });
    if (!trying)
        loginTimer.stop();
}

void Session::Impl::tryLogin(Login &login, const ListedSystem &system)
{
    login.state = Login::State::Trying;
    login.loggedIn = int(std::count_if(system.servers.cbegin(), system.servers.cend(),
                                       [](const ListedServer &server) { return server.loggedIn; }));
    login.sinceProgress.start();
    loginTimer.start();
    context->tryLoginWith(login.system, login.password);
}

void Session::Impl::onLoginFailed(const QString &system)
{
    for (Login &login : logins) {
        if (login.system == system && login.state == Login::State::Trying) {
            login.state = Login::State::Done;
            warn(QStringLiteral("login to system \"%1\" failed: no server accepted the password").arg(system));
        }
    }
    if (!lookTimer.isActive())
        lookTimer.start();
}

void Session::Impl::onWaitOver()
{
    if (phase != Phase::Looking)
        return;
    phase = Phase::LoggingIn;
    const FleetListing fleet = readFleet(*model);
    for (Login &login : logins) {
        if (login.state != Login::State::Waiting)
            continue;
        const ListedSystem *system = fleet.system(login.system);
        const bool allLoggedIn = system && std::all_of(system->servers.cbegin(), system->servers.cend(),
                                                       [](const ListedServer &server) { return server.loggedIn; });
        if (!system) {
            login.state = Login::State::Done;
            warn(QStringLiteral("no system \"%1\" was found; its password was not used").arg(login.system));
        } else if (allLoggedIn) {
            login.state = Login::State::Done;
        } else {
            tryLogin(login, *system);
        }
    }
    look();
}

void Session::Impl::proceed()
{
    loginTimer.stop();
    const FleetListing fleet = readFleet(*model);
    err(QStringLiteral("found %1 in %2, %3 logged in\n")
            .arg(plural(fleet.serversCount(), QStringLiteral("server"), QStringLiteral("servers")),
                 plural(fleet.systems.size(), QStringLiteral("system"), QStringLiteral("systems")))
            .arg(fleet.loggedInCount()));
    if (options.command == Command::List) {
        out(options.json ? QString::fromUtf8(QJsonDocument(listingJson(fleet)).toJson()) : listingTable(fleet));
        finish(ExitSucceeded);
        return;
    }
    apply();
}

bool Session::Impl::matchesServerOption(const QString &option, const ListedServer &server) const
{
    const QUuid id(option);
    return (!id.isNull() && id == server.id) || (!server.address.isEmpty() && option == server.address);
}

bool Session::Impl::matches(const QString &system, const ListedServer &server) const
{
    if (options.all || options.systems.contains(system))
        return true;
    return std::any_of(options.servers.cbegin(), options.servers.cend(),
                       [this, &server](const QString &option) { return matchesServerOption(option, server); });
}

// Makes the selection hold every logged-in server that matches, through the
// list's own operations; at the end also drops servers that no longer match.
void Session::Impl::selectMatching(const FleetListing &fleet, bool final)
{
    const auto selectedNow = [this](int row) {
        return model->data(model->index(row), ServersSelectionModel::SelectedStateRole).toInt() == Qt::Checked;
    };
    const auto wanted = [](const ListedServer &server) { return server.loggedIn && !server.selected; };

    if (options.all) {
        const bool missing = std::any_of(fleet.systems.cbegin(), fleet.systems.cend(), [&wanted](const ListedSystem &system) {
            return std::any_of(system.servers.cbegin(), system.servers.cend(), wanted);
        });
        if (missing)
            model->setAllItemSelected(true);
        return;
    }
    for (const ListedSystem &system : fleet.systems) {
        if (!options.systems.contains(system.name)
            || std::none_of(system.servers.cbegin(), system.servers.cend(), wanted))
            continue;
        // A system row selects all of its logged-in servers, or deselects
        // them when some are selected already.
        if (system.selectedCount == 0) {
            model->changeItemSelectedState(system.row);
            continue;
        }
        for (const ListedServer &server : system.servers) {
            if (wanted(server))
                model->changeItemSelectedState(server.row);
        }
    }
    for (const ListedSystem &system : fleet.systems) {
        for (const ListedServer &server : system.servers) {
            if (server.loggedIn && matches(system.name, server) && !selectedNow(server.row))
                model->changeItemSelectedState(server.row);
        }
    }
    if (!final)
        return;
    const FleetListing now = readFleet(*model);
    for (const ListedSystem &system : now.systems) {
        for (const ListedServer &server : system.servers) {
            if (server.selected && !matches(system.name, server))
                model->changeItemSelectedState(server.row);
        }
    }
}

void Session::Impl::warnUnmatched(const FleetListing &fleet)
{
    for (const QString &name : options.systems) {
        const ListedSystem *system = fleet.system(name);
        if (!system) {
            warn(QStringLiteral("no system \"%1\" was found").arg(name));
        } else if (std::none_of(system->servers.cbegin(), system->servers.cend(),
                                [](const ListedServer &server) { return server.loggedIn; })) {
            warn(QStringLiteral("system \"%1\" has no logged-in server%2")
                     .arg(name, system->locked ? QStringLiteral(" (--login gives its password)") : QString()));
        }
    }
    for (const QString &option : options.servers) {
        int found = 0;
        int loggedIn = 0;
        for (const ListedSystem &system : fleet.systems) {
            for (const ListedServer &server : system.servers) {
                if (matchesServerOption(option, server)) {
                    ++found;
                    loggedIn += server.loggedIn ? 1 : 0;
                }
            }
        }
        if (found == 0)
            warn(QStringLiteral("no server \"%1\" was found").arg(option));
        else if (loggedIn == 0)
            warn(QStringLiteral("server \"%1\" is not logged in").arg(option));
    }
}

QVector<Target> Session::Impl::targets(const FleetListing &fleet) const
{
    QVector<Target> result;
    for (const ListedSystem &system : fleet.systems) {
        for (const ListedServer &server : system.servers) {
            if (server.selected)
                result.append(Target{server, system.name});
        }
    }
    return result;
}

void Session::Impl::printSelection(const QVector<Target> &selected)
{
    int labelWidth = 0;
    int systemWidth = 0;
    for (const Target &target : selected) {
        labelWidth = std::max(labelWidth, int(serverLabel(target.server).size()));
        systemWidth = std::max(systemWidth, int(systemLabel(target.system).size()));
    }
    QString text = QStringLiteral("selected %1:\n")
                       .arg(plural(selected.size(), QStringLiteral("server"), QStringLiteral("servers")));
    for (const Target &target : selected) {
        text += QStringLiteral("  %1  %2  %3\n")
                    .arg(serverLabel(target.server).leftJustified(labelWidth),
                         systemLabel(target.system).leftJustified(systemWidth), target.server.id.toString());
    }
    // With --json standard output holds the one document.
    if (options.json)
        err(text);
    else
        out(text);
}

QString Session::Impl::checkInterfaces(const QVector<Target> &selected, int flags)
{
    const QString &name = selected.first().server.name;
    const bool allowed = flags & Constants::AllowIfConfigFlag;
    if (options.dhcpOn) {
        if (selected.size() < 2)
            return QStringLiteral("--dhcp on is for several servers; for one use --set-ip INTERFACE=dhcp");
        if (!allowed)
            return QStringLiteral("some selected servers do not let their interfaces be changed");
        return QString();
    }
    if (options.interfaces.isEmpty())
        return QString();
    if (selected.size() != 1)
        return QStringLiteral("--set-ip changes one server; %1 are selected").arg(selected.size());
    if (!allowed)
        return QStringLiteral("server \"%1\" does not let its interfaces be changed").arg(name);
    const std::unique_ptr<QObject> object(context->ipSettingsModel());
    const auto *interfaces = qobject_cast<const IpSettingsModel *>(object.get());
    QStringList names;
    for (int row = 0; interfaces && row < interfaces->rowCount(); ++row)
        names.append(interfaces->data(interfaces->index(row), IpSettingsModel::AdapterNameRole).toString());
    for (const InterfaceSetting &setting : options.interfaces) {
        if (!names.contains(setting.name))
            return QStringLiteral("server \"%1\" has no interface \"%2\" (it has: %3)")
                .arg(name, setting.name, names.join(QStringLiteral(", ")));
    }
    return QString();
}

QString Session::Impl::addDateTimeChange(Selection *selection)
{
    if (!(selection->flags() & Constants::AllowChangeDateTimeFlag))
        return QStringLiteral("some selected servers do not let their date and time be changed");
    QByteArray zoneId = options.zoneId;
    if (zoneId.isEmpty()) {
        // As the window's zone picker starts: the servers' common zone.
        const std::unique_ptr<QObject> object(context->timeZonesModel(nullptr));
        const auto *zones = qobject_cast<const TimeZonesModel *>(object.get());
        if (!zones || !zones->isValidValue(zones->initIndex()))
            return QStringLiteral("the selected servers are in different time zones: choose one with --set-zone");
        zoneId = zones->timeZoneIdByIndex(zones->initIndex());
    }
    if (!options.time) {
        // A new zone alone keeps the servers' clock running, as the window does.
        const qint64 clock = selection->currentClockMs();
        if (clock <= 0)
            return QStringLiteral("the selected servers' clocks differ: give --set-time with --set-zone");
        manager->addCurrentDateTimeChange(clock, zoneId);
        return QString();
    }
    const TimeSetting &time = *options.time;
    if (time.now) {
        manager->addCurrentDateTimeChange(QDateTime::currentMSecsSinceEpoch(), zoneId);
    } else if (time.instantMs) {
        const QDateTime wall = wallClockInZone(*time.instantMs, timeZoneById(zoneId));
        manager->addDateTimeChange(wall.date(), wall.time(), zoneId);
    } else {
        manager->addDateTimeChange(time.date, time.time, zoneId);
    }
    return QString();
}

// The changes as the settings panels hand them over, after the checks the
// panels make against the selection.
QString Session::Impl::addChanges(const QVector<Target> &selected)
{
    auto *selection = qobject_cast<Selection *>(context->selection());
    if (!selection)
        return QStringLiteral("the selection is not ready");
    QString error = checkInterfaces(selected, selection->flags());
    if (!error.isEmpty())
        return error;
    if (options.time || !options.zoneId.isEmpty()) {
        error = addDateTimeChange(selection);
        if (!error.isEmpty())
            return error;
    }
    if (options.port)
        manager->addPortChange(*options.port);
    if (options.dhcpOn)
        manager->turnOnDhcp();
    for (const InterfaceSetting &setting : options.interfaces) {
        if (!setting.dhcp) {
            manager->addAddressChange(setting.name, setting.address);
            manager->addMaskChange(setting.name, setting.mask);
        }
        if (setting.dns)
            manager->addDNSChange(setting.name, *setting.dns);
        if (setting.gateway)
            manager->addGatewayChange(setting.name, *setting.gateway);
        manager->addDHCPChange(setting.name, setting.dhcp);
    }
    if (options.systemName)
        manager->addSystemChange(*options.systemName);
    if (options.setPassword)
        manager->addPasswordChange(newPassword);
    return QString();
}

void Session::Impl::apply()
{
    selectMatching(readFleet(*model), true);
    const FleetListing fleet = readFleet(*model);
    if (!options.all)
        warnUnmatched(fleet);
    selected = targets(fleet);
    if (selected.isEmpty()) {
        warn(QStringLiteral("no logged-in server matched the selection"));
        finish(ExitNothingMatched);
        return;
    }
    printSelection(selected);

    const QString error = addChanges(selected);
    if (!error.isEmpty() || options.dryRun) {
        manager->clearChanges();
        if (!error.isEmpty()) {
            warn(error + QStringLiteral("; nothing was sent"));
            finish(ExitUsageError);
            return;
        }
        if (options.json) {
            QJsonArray servers;
            for (const Target &target : qAsConst(selected))
                servers.append(serverJson(target.server, target.system));
            out(QString::fromUtf8(QJsonDocument(QJsonObject{{QStringLiteral("selected"), servers},
                                                            {QStringLiteral("dryRun"), true}})
                                      .toJson()));
        }
        err(QStringLiteral("dry run: nothing was sent\n"));
        finish(ExitSucceeded);
        return;
    }

    connect(context, &RtuContext::currentPageChanged, this, &Impl::onPage);
    connect(manager, &ChangesManager::appliedChangesCountChanged, this,
            [this] { meter.update(manager->appliedChangesCount(), manager->totalChangesCount()); });
    phase = Phase::Running;
    runClock.start();
    manager->applyChanges();
    // The manager refuses a run without a change set or a selection; the
    // checks above leave neither out, but a command must not wait for nothing.
    if (phase == Phase::Running && context->currentPage() == Constants::SettingsPage) {
        warn(QStringLiteral("the changes manager did not start the run"));
        finish(ExitSomeFailed);
    }
}

void Session::Impl::onPage()
{
    const int page = context->currentPage();
    if (phase != Phase::Running)
        return;
    if (page == Constants::ProgressPage)
        meter.start(manager->totalChangesCount(), selected.size());
    else if (page == Constants::SummaryPage)
        runOver();
}

void Session::Impl::runOver()
{
    const qint64 elapsedMs = runClock.elapsed();
    meter.finish(manager->appliedChangesCount(), manager->totalChangesCount(), elapsedMs);
    const QVector<ResultRow> rows =
        readResults(qobject_cast<const QAbstractItemModel *>(manager->successfulResultsModel()),
                    qobject_cast<const QAbstractItemModel *>(manager->failedResultsModel()));
    const ResultCounts counts = countResults(rows);
    if (options.json) {
        QJsonArray servers;
        for (const Target &target : qAsConst(selected))
            servers.append(serverJson(target.server, target.system));
        QJsonArray results;
        for (const ResultRow &row : rows)
            results.append(resultRowJson(row));
        const QJsonObject document{{QStringLiteral("selected"), servers},
                                   {QStringLiteral("results"), results},
                                   {QStringLiteral("succeeded"), counts.succeeded},
                                   {QStringLiteral("failed"), counts.failed},
                                   {QStringLiteral("notSent"), counts.notSent},
                                   {QStringLiteral("interrupted"), interrupted},
                                   {QStringLiteral("seconds"), elapsedMs / 1000.0}};
        out(QString::fromUtf8(QJsonDocument(document).toJson()));
    } else if (rows.isEmpty()) {
        out(QStringLiteral("nothing to change on the selected servers\n"));
    } else {
        out(resultsTable(rows) + countsLine(counts));
    }
    if (interrupted)
        finish(ExitInterrupted);
    else
        finish(counts.failed + counts.notSent > 0 ? ExitSomeFailed : ExitSucceeded);
}

void Session::Impl::onInterrupt()
{
    watch.release();
    if (phase == Phase::Over)
        return;
    if (phase == Phase::Running) {
        interrupted = true;
        warn(QStringLiteral("interrupted: nothing more is sent; waiting for the answers to the requests under "
                            "way (Ctrl-C again quits at once)"));
        manager->stopSending();
        return;
    }
    warn(QStringLiteral("interrupted before anything was changed"));
    finish(ExitInterrupted);
}

void Session::Impl::finish(int status)
{
    phase = Phase::Over;
    lookTimer.stop();
    loginTimer.stop();
    emit owner->finished(status);
}

Session::Session(const Options &options, const Secrets &secrets, QObject *parent)
    : QObject(parent), m_impl(new Impl(this, options, secrets))
{
}

Session::~Session() = default;

void Session::start()
{
    m_impl->start();
}

int runCommand(const QStringList &arguments)
{
    const ParsedArguments parsed = parseArguments(arguments);
    if (!parsed.error.isEmpty()) {
        writeTo(stderr, QStringLiteral("%1: %2\nTry '%1 --help'.\n").arg(kProgram, parsed.error));
        return ExitUsageError;
    }
    if (parsed.options.command == Command::Help) {
        writeTo(stdout, usageText());
        return ExitSucceeded;
    }
    if (parsed.options.command == Command::Version) {
        writeTo(stdout, versionText());
        return ExitSucceeded;
    }
    Secrets secrets;
    QString error;
    if (!readSecrets(parsed.options, secrets, error)) {
        writeTo(stderr, QStringLiteral("%1: %2\n").arg(kProgram, error));
        return ExitUsageError;
    }

    Session session(parsed.options, secrets);
    int status = ExitSucceeded;
    // Queued: an exit asked for before the loop runs would be lost.
    QObject::connect(&session, &Session::finished, QCoreApplication::instance(), [&status](int exitStatus) {
        status = exitStatus;
        QCoreApplication::exit(exitStatus);
    }, Qt::QueuedConnection);
    session.start();
    QCoreApplication::exec();
    return status;
}

} // namespace rtu::cli
