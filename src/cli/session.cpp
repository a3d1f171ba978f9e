#include "cli/session.h"

#include "app/rtu_context.h"
#include "changes/change_draft.h"
#include "changes/changes_manager.h"
#include "cli/draft_builder.h"
#include "cli/fleet_listing.h"
#include "cli/interrupt_watch.h"
#include "cli/progress_meter.h"
#include "cli/run_results.h"
#include "core/constants.h"
#include "core/input_rules.h"
#include "models/selection.h"
#include "models/servers_selection_model.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <iterator>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace rtu::cli {

namespace {

const QString kProgram = QStringLiteral("tessaly-config-cli");

constexpr int kPollMs = 100;
// A login with a typed password gives up after 2 s; a system whose servers
// brought no new login for longer is done with.
constexpr qint64 kLoginQuietMs = 2500;

// A server that took a new port announces it with its next answer; answers
// sent before the move may still come for about two cycles.
qint64 portAnnouncementMs(const ServersFinderParameters &discovery)
{
    return 3 * qint64(discovery.cycleIntervalMs) + 500;
}

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

QString jsonText(const QJsonObject &document)
{
    return QString::fromUtf8(QJsonDocument(document).toJson());
}

// A selection option that matched no server that can be changed.
struct Unmatched
{
    QString target;
    QString code;
    QString text;
};

// Why none of these servers can be changed: the most telling reason first.
Unmatched unmatchedOf(const QString &target, const QVector<const ServerState *> &matched)
{
    if (matched.isEmpty())
        return {target, QStringLiteral("notFound"), QStringLiteral("no such server was found")};
    for (const ChangeReason reason : {ChangeReason::Conflict, ChangeReason::PasswordRejected,
                                      ChangeReason::LoginPending, ChangeReason::LoginFailed}) {
        for (const ServerState *server : matched) {
            if (unavailableReason(*server) == reason)
                return {target, reasonKey(reason), unavailableText(*server)};
        }
    }
    return {target, reasonKey(ChangeReason::LoginFailed), unavailableText(*matched.first())};
}

// A server a port change went to, until it announces the new port.
struct PortWatch
{
    int newPort = 0;
    int lastAnnounced = 0;
};

} // namespace

class Session::Impl : public QObject
{
public:
    enum class Phase { Looking, Selecting, Running, Confirming, Over };

    struct Login
    {
        QString system;
        QString password;
        bool trying = false;
        bool found = false;
        QSet<QUuid> tried;
        int loggedIn = 0;
        QElapsedTimer sinceProgress;
    };

    Impl(Session *owner, const Options &options, const Secrets &secrets)
        : QObject(owner), owner(owner), options(options), secrets(secrets),
          meter(&errorDevice, stderrIsTerminal())
    {
        errorDevice.open(stderr, QIODevice::WriteOnly | QIODevice::Unbuffered);
        for (int i = 0; i < options.logins.size(); ++i) {
            Login login;
            login.system = options.logins.at(i);
            login.password = secrets.loginPasswords.value(i);
            logins.append(login);
        }
        pollTimer.setInterval(kPollMs);
        connect(&pollTimer, &QTimer::timeout, this, &Impl::poll);
        for (QTimer *timer : {&waitLimit, &deadline, &confirmLimit})
            timer->setSingleShot(true);
        connect(&waitLimit, &QTimer::timeout, this, &Impl::onWaitOver);
        connect(&deadline, &QTimer::timeout, this, &Impl::onDeadline);
        connect(&confirmLimit, &QTimer::timeout, this, [this] { endConfirming(ConfirmEnd::Limit); });
        connect(&watch, &InterruptWatch::interrupted, this, &Impl::onInterrupt);
    }

    void start();
    void poll();
    void noteFound();
    void onCycleStarted();
    void followLogins(const QVector<SystemState> &systems);
    void onLoginFailed(const QString &system);
    void onWaitOver();
    void proceed();
    void apply(const Fleet &fleet);
    QString checkSelection(const QVector<const ServerState *> &selected, const Selection &selection,
                           QByteArray &zoneId) const;
    void printSelection(const QVector<const ServerState *> &selected);
    void onRunStarted();
    void onRunFinished();
    void onAnswer(const BaseServerInfo &info);
    enum class ConfirmEnd { Confirmed, Limit, Interrupted, Deadline };
    void endConfirming(ConfirmEnd end);
    void report();
    void refuseSelection(const QVector<Unmatched> &unmatched, int status);
    void onInterrupt();
    void onDeadline();
    void finish(int status);

    QJsonObject applyDocument(int status, const QJsonArray &unmatched = QJsonArray()) const;
    QVector<ChangeOutcome> allRows() const;
    void out(const QString &text) { writeTo(stdout, text); }
    void err(const QString &text)
    {
        meter.breakLine();
        errorDevice.write(text.toUtf8());
    }
    void warn(const QString &text) { err(QStringLiteral("%1: %2\n").arg(kProgram, text)); }

    Session *const owner;
    const Options options;
    const Secrets secrets;
    const ServersFinderParameters discovery = [] {
        // No window to draw first: the first discovery request goes out at
        // once, the later ones at the protocol's own times.
        ServersFinderParameters parameters;
        parameters.firstCycleDelayMs = 0;
        return parameters;
    }();
    QVector<Login> logins;
    QFile errorDevice;
    ProgressMeter meter;
    InterruptWatch watch;
    RtuContext *context = nullptr;
    ServersSelectionModel *model = nullptr;
    ChangesManager *manager = nullptr;
    ChangeDraft draft;
    QTimer pollTimer;
    QTimer waitLimit;
    QTimer deadline;
    QTimer confirmLimit;
    QElapsedTimer clock;
    // Discovery has found the fleet once a whole cycle (not the first)
    // brought no new server: every server known answered it, or the next
    // cycle began.
    int foundCount = 0;
    int cycles = 0;
    bool newInCycle = false;
    QSet<QUuid> answeredInCycle;
    bool discoveryQuiet = false;
    Phase phase = Phase::Looking;

    // The run: its servers as selected, by id, and its rows.
    QHash<QUuid, ServerState> servers;
    QVector<QUuid> selectedIds;
    QVector<ChangeOutcome> rows;
    QVector<ChangeOutcome> skippedRows;
    QHash<QUuid, PortWatch> portWatches;
    // The port each server last announced during the run.
    QHash<QUuid, int> announcedPorts;
    QElapsedTimer runClock;
    qint64 runMs = 0;
    QString startedAt;
    bool runSeen = false;
    bool interrupted = false;
    bool timedOut = false;
};

void Session::Impl::start()
{
    clock.start();
    context = new RtuContext(this, discovery);
    model = qobject_cast<ServersSelectionModel *>(context->selectionModel());
    manager = qobject_cast<ChangesManager *>(context->changesManager());
    connect(context, &RtuContext::loginOperationFailed, this, &Impl::onLoginFailed);
    connect(context, &RtuContext::serverAnswered, this, &Impl::onAnswer);
    connect(context, &RtuContext::discoveryCycleStarted, this, &Impl::onCycleStarted);
    connect(manager, &ChangesManager::runStarted, this, &Impl::onRunStarted);
    connect(manager, &ChangesManager::runFinished, this, &Impl::onRunFinished);
    connect(manager, &ChangesManager::appliedChangesCountChanged, this,
            [this] { meter.update(manager->appliedChangesCount(), manager->totalChangesCount()); });
    pollTimer.start();
    waitLimit.start(options.waitMs);
    if (options.timeoutMs)
        deadline.start(*options.timeoutMs);
    err(QStringLiteral("looking for servers (at most %1 s)\n").arg(options.waitMs / 1000.0));
}

void Session::Impl::poll()
{
    if (phase != Phase::Looking)
        return;
    noteFound();
    if (!discoveryQuiet && cycles >= 2 && !newInCycle && answeredInCycle.size() >= foundCount)
        discoveryQuiet = true;
    if (!logins.isEmpty())
        followLogins(model->systems());
    const bool typing = std::any_of(logins.cbegin(), logins.cend(), [](const Login &login) { return login.trying; });
    if (discoveryQuiet && model->loginTally().pending == 0 && !typing)
        proceed();
}

void Session::Impl::noteFound()
{
    const int found = model->serversCount();
    if (found > foundCount) {
        newInCycle = true;
        discoveryQuiet = false;
    }
    foundCount = found;
}

void Session::Impl::onCycleStarted()
{
    if (phase != Phase::Looking)
        return;
    noteFound();
    if (cycles >= 2 && !newInCycle)
        discoveryQuiet = true;
    ++cycles;
    newInCycle = false;
    answeredInCycle.clear();
}

// A system that refuses the known passwords gets the one typed for it, and
// again for servers of it found refusing later.
void Session::Impl::followLogins(const QVector<SystemState> &systems)
{
    for (Login &login : logins) {
        const auto system = std::find_if(systems.cbegin(), systems.cend(),
                                         [&login](const SystemState &each) { return each.name == login.system; });
        if (system == systems.cend())
            continue;
        login.found = true;
        int loggedIn = 0;
        bool fresh = false;
        for (const ServerState &server : system->servers) {
            loggedIn += server.login == LoginOutcome::LoggedIn ? 1 : 0;
            fresh = fresh
                    || (server.login == LoginOutcome::PasswordRejected
                        && !login.tried.contains(server.info.baseInfo().id));
        }
        if (!login.trying && fresh) {
            for (const ServerState &server : system->servers) {
                if (server.login != LoginOutcome::LoggedIn)
                    login.tried.insert(server.info.baseInfo().id);
            }
            login.trying = true;
            login.loggedIn = loggedIn;
            login.sinceProgress.start();
            context->tryLoginWith(login.system, login.password);
        } else if (login.trying) {
            const bool allIn = std::all_of(system->servers.cbegin(), system->servers.cend(),
                                           [](const ServerState &server) {
                                               return server.login == LoginOutcome::LoggedIn;
                                           });
            if (allIn) {
                login.trying = false;
            } else if (loggedIn > login.loggedIn) {
                login.loggedIn = loggedIn;
                login.sinceProgress.restart();
            } else if (login.sinceProgress.elapsed() > kLoginQuietMs) {
                login.trying = false;
                warn(QStringLiteral("system \"%1\": %2 of %3 logged in")
                         .arg(login.system)
                         .arg(loggedIn)
                         .arg(plural(system->servers.size(), QStringLiteral("server"), QStringLiteral("servers"))));
            }
        }
    }
}

void Session::Impl::onLoginFailed(const QString &system)
{
    for (Login &login : logins) {
        if (login.system == system && login.trying) {
            login.trying = false;
            warn(QStringLiteral("login to system \"%1\" failed: no server accepted the password").arg(system));
        }
    }
}

void Session::Impl::onWaitOver()
{
    if (phase != Phase::Looking)
        return;
    const LoginTally tally = model->loginTally();
    if (tally.pending > 0)
        warn(QStringLiteral("--wait is over with %1 of %2 servers still logging in")
                 .arg(tally.pending)
                 .arg(tally.found));
    proceed();
}

void Session::Impl::proceed()
{
    phase = Phase::Selecting;
    pollTimer.stop();
    waitLimit.stop();
    const Fleet fleet{model->systems(), model->unknownHosts()};
    for (const Login &login : qAsConst(logins)) {
        if (!login.found)
            warn(QStringLiteral("no system \"%1\" was found; its password was not used").arg(login.system));
    }
    err(QStringLiteral("found %1 in %2, %3 logged in (%4 s)\n")
            .arg(plural(fleet.serversCount(), QStringLiteral("server"), QStringLiteral("servers")),
                 plural(fleet.systems.size(), QStringLiteral("system"), QStringLiteral("systems")))
            .arg(fleet.loggedInCount())
            .arg(clock.elapsed() / 1000.0, 0, 'f', 1));
    if (options.command == Command::List) {
        out(options.json ? jsonText(listingJson(fleet)) : listingTable(fleet));
        finish(timedOut ? ExitSomeFailed : ExitSucceeded);
        return;
    }
    apply(fleet);
}

void Session::Impl::apply(const Fleet &fleet)
{
    QVector<const ServerState *> all;
    for (const SystemState &system : fleet.systems) {
        for (const ServerState &server : system.servers)
            all.append(&server);
    }
    // Every name must match a server that can be changed; --all owns up to
    // the servers it cannot change as rows that were not sent.
    QVector<Unmatched> unmatched;
    QSet<const ServerState *> candidates;
    if (options.all)
        candidates = QSet<const ServerState *>(all.cbegin(), all.cend());
    const auto claim = [&](const QString &target, const std::function<bool(const ServerState &)> &matches) {
        QVector<const ServerState *> matched;
        std::copy_if(all.cbegin(), all.cend(), std::back_inserter(matched),
                     [&matches](const ServerState *server) { return matches(*server); });
        if (std::none_of(matched.cbegin(), matched.cend(), [](const ServerState *server) { return server->selectable(); }))
            unmatched.append(unmatchedOf(target, matched));
        for (const ServerState *server : matched)
            candidates.insert(server);
    };
    for (const QString &name : options.systems) {
        claim(QStringLiteral("--system %1").arg(shownValue(name)),
              [&name](const ServerState &server) { return server.systemName == name; });
    }
    for (const QString &option : options.servers) {
        const QUuid id(option);
        claim(QStringLiteral("--server %1").arg(shownValue(option)), [&option, &id](const ServerState &server) {
            return (!id.isNull() && id == server.info.baseInfo().id) || server.addresses.contains(option);
        });
    }
    if (!unmatched.isEmpty()) {
        refuseSelection(unmatched, ExitNothingMatched);
        return;
    }

    QVector<const ServerState *> selected;
    QVector<const ServerState *> skipped;
    for (const ServerState *server : qAsConst(all)) {
        if (candidates.contains(server))
            (server->selectable() ? selected : skipped).append(server);
    }
    if (selected.isEmpty()) {
        QVector<Unmatched> reasons{{QStringLiteral("--all"), QStringLiteral("notFound"),
                                    QStringLiteral("no server that can be changed was found")}};
        for (const ServerState *server : qAsConst(skipped))
            reasons.append({serverLabel(*server), reasonKey(unavailableReason(*server)), unavailableText(*server)});
        refuseSelection(reasons, ExitNothingMatched);
        return;
    }
    if (options.expect && *options.expect != selected.size()) {
        refuseSelection({{QStringLiteral("--expect %1").arg(*options.expect), QStringLiteral("countMismatch"),
                          QStringLiteral("%1 selected").arg(plural(selected.size(), QStringLiteral("server is"),
                                                                    QStringLiteral("servers are")))}},
                        ExitNothingMatched);
        return;
    }

    for (const ServerState *server : qAsConst(selected)) {
        servers.insert(server->info.baseInfo().id, *server);
        selectedIds.append(server->info.baseInfo().id);
    }
    for (const ServerState *server : qAsConst(skipped))
        servers.insert(server->info.baseInfo().id, *server);

    const int selectedCount = model->selectServers(QSet<QUuid>(selectedIds.cbegin(), selectedIds.cend()));
    const auto *selection = qobject_cast<const Selection *>(context->selection());
    QByteArray zoneId = options.zoneId;
    QString error;
    if (!selection || selectedCount != selected.size())
        error = QStringLiteral("the selection could not be made (%1 of %2 servers)").arg(selectedCount).arg(selected.size());
    else
        error = checkSelection(selected, *selection, zoneId);
    if (error.isEmpty()) {
        Options withZone = options;
        withZone.zoneId = zoneId;
        fillDraft(withZone, secrets, draft, selection);
        error = problemText(draft.validate());
    }
    if (!error.isEmpty()) {
        warn(error + QStringLiteral("; nothing was sent"));
        finish(ExitUsageError);
        return;
    }
    printSelection(selected);
    for (const ServerState *server : qAsConst(skipped))
        skippedRows += notSentRows(*server, draft.settings());

    if (options.dryRun) {
        if (options.json)
            out(jsonText(applyDocument(ExitSucceeded)));
        err(QStringLiteral("dry run: nothing was sent\n"));
        finish(ExitSucceeded);
        return;
    }
    phase = Phase::Running;
    startedAt = nowText();
    runClock.start();
    draft.submit(*manager);
    manager->applyChanges();
    // The manager starts a run whenever a draft and a selection are there.
    if (!runSeen) {
        manager->clearChanges();
        warn(QStringLiteral("the changes manager did not start the run"));
        finish(ExitSomeFailed);
    }
}

// What the settings panels would not let the operator do with this selection.
QString Session::Impl::checkSelection(const QVector<const ServerState *> &selected, const Selection &selection,
                                     QByteArray &zoneId) const
{
    const int flags = selection.flags();
    const ServerState &first = *selected.first();
    const QString &name = first.info.baseInfo().name;
    if ((options.time || !options.zoneId.isEmpty()) && !(flags & Constants::AllowChangeDateTimeFlag))
        return QStringLiteral("some selected servers do not let their date and time be changed");
    if (zoneId.isEmpty() && (options.time || !options.zoneId.isEmpty())) {
        // As the window's zone picker starts: the servers' common zone.
        zoneId = first.info.extraInfo().timeZoneId;
        for (const ServerState *server : selected) {
            if (server->info.extraInfo().timeZoneId != zoneId)
                return QStringLiteral("the selected servers are in different time zones: choose one with --set-zone");
        }
    }
    // A new zone alone keeps the servers' common clock, as the window does.
    if (!options.time && !options.zoneId.isEmpty() && selection.currentClockMs() <= 0)
        return QStringLiteral("the selected servers' clocks differ: give --set-time with --set-zone");
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
    QStringList names;
    for (const InterfaceInfo &iface : first.info.extraInfo().interfaces)
        names.append(iface.name);
    for (const InterfaceEdit &setting : options.interfaces) {
        if (!names.contains(setting.name))
            return QStringLiteral("server \"%1\" has no interface \"%2\" (it has: %3)")
                .arg(name, shownValue(setting.name), names.join(QStringLiteral(", ")));
    }
    return QString();
}

void Session::Impl::printSelection(const QVector<const ServerState *> &selected)
{
    int labelWidth = 0;
    int systemWidth = 0;
    for (const ServerState *server : selected) {
        labelWidth = std::max(labelWidth, int(serverLabel(*server).size()));
        systemWidth = std::max(systemWidth, int(systemLabel(server->systemName).size()));
    }
    QString text = QStringLiteral("selected %1:\n")
                       .arg(plural(selected.size(), QStringLiteral("server"), QStringLiteral("servers")));
    for (const ServerState *server : selected) {
        text += QStringLiteral("  %1  %2  %3\n")
                    .arg(serverLabel(*server).leftJustified(labelWidth),
                         systemLabel(server->systemName).leftJustified(systemWidth),
                         server->info.baseInfo().id.toString());
    }
    // With --json standard output holds the one document.
    if (options.json)
        err(text);
    else
        out(text);
}

void Session::Impl::refuseSelection(const QVector<Unmatched> &unmatched, int status)
{
    QJsonArray items;
    for (const Unmatched &item : unmatched) {
        warn(QStringLiteral("%1: %2").arg(item.target, item.text));
        items.append(QJsonObject{{QStringLiteral("target"), item.target},
                                 {QStringLiteral("reasonCode"), item.code},
                                 {QStringLiteral("reason"), item.text}});
    }
    warn(QStringLiteral("nothing was sent"));
    if (options.json)
        out(jsonText(applyDocument(status, items)));
    finish(status);
}

void Session::Impl::onRunStarted()
{
    runSeen = true;
    meter.start(manager->totalChangesCount(), selectedIds.size());
}

void Session::Impl::onRunFinished()
{
    if (phase != Phase::Running)
        return;
    runMs = runClock.elapsed();
    rows = manager->outcomes();
    for (ChangeOutcome &row : rows) {
        // Every row is answered before a run ends; one that is not counts as unanswered.
        if (row.result == ChangeOutcome::Result::Pending) {
            row.result = ChangeOutcome::Result::Failed;
            row.reason = ChangeReason::Unanswered;
            row.reasonText = QStringLiteral("No answer was recorded");
        }
        if (row.setting == ChangeSetting::Port && row.result == ChangeOutcome::Result::Ok) {
            PortWatch watch;
            watch.newPort = row.value.toInt();
            watch.lastAnnounced = announcedPorts.value(row.serverId, 0);
            if (watch.lastAnnounced != watch.newPort)
                portWatches.insert(row.serverId, watch);
        }
    }
    const ResultCounts counts = countResults(rows);
    meter.finish(counts.ok + counts.failed, rows.size(), runMs, counts.notSent);
    if (portWatches.isEmpty() || interrupted || timedOut) {
        endConfirming(interrupted ? ConfirmEnd::Interrupted : timedOut ? ConfirmEnd::Deadline : ConfirmEnd::Confirmed);
        return;
    }
    // The window follows the port a server announces: the command checks
    // that it is the new one before it says so.
    phase = Phase::Confirming;
    err(QStringLiteral("waiting for %1 to announce the new port\n")
            .arg(plural(portWatches.size(), QStringLiteral("server"), QStringLiteral("servers"))));
    confirmLimit.start(int(portAnnouncementMs(discovery)));
}

void Session::Impl::onAnswer(const BaseServerInfo &info)
{
    if (phase == Phase::Looking)
        answeredInCycle.insert(info.id);
    if (!options.port || (phase != Phase::Running && phase != Phase::Confirming))
        return;
    announcedPorts.insert(info.id, info.port);
    if (phase != Phase::Confirming)
        return;
    const auto it = portWatches.find(info.id);
    if (it == portWatches.end())
        return;
    it->lastAnnounced = info.port;
    if (info.port == it->newPort) {
        portWatches.erase(it);
        if (portWatches.isEmpty())
            endConfirming(ConfirmEnd::Confirmed);
    }
}

void Session::Impl::endConfirming(ConfirmEnd end)
{
    confirmLimit.stop();
    for (ChangeOutcome &row : rows) {
        const auto watch = portWatches.constFind(row.serverId);
        if (row.setting != ChangeSetting::Port || row.result != ChangeOutcome::Result::Ok
            || watch == portWatches.cend())
            continue;
        row.result = ChangeOutcome::Result::Failed;
        row.reason = end == ConfirmEnd::Deadline ? ChangeReason::TimeLimit : ChangeReason::PortNotAnnounced;
        const QString accepted = QStringLiteral("The server accepted port %1").arg(watch->newPort);
        if (end == ConfirmEnd::Interrupted)
            row.reasonText = accepted + QStringLiteral(" but was interrupted before it announced it");
        else if (end == ConfirmEnd::Deadline)
            row.reasonText = accepted + QStringLiteral(" but the time limit came before it announced it");
        else if (watch->lastAnnounced > 0)
            row.reasonText = accepted + QStringLiteral(" but still announces port %1").arg(watch->lastAnnounced);
        else
            row.reasonText = accepted + QStringLiteral(" but was not heard from since");
    }
    portWatches.clear();
    report();
}

// The rows server by server, in the order they were selected, each
// server's in the order they were sent; those not sent to last.
QVector<ChangeOutcome> Session::Impl::allRows() const
{
    QHash<QUuid, int> rank;
    for (const QUuid &id : selectedIds)
        rank.insert(id, rank.size());
    QVector<ChangeOutcome> ordered = rows;
    std::stable_sort(ordered.begin(), ordered.end(), [&rank](const ChangeOutcome &first, const ChangeOutcome &second) {
        return rank.value(first.serverId) < rank.value(second.serverId);
    });
    return ordered + skippedRows;
}

QJsonObject Session::Impl::applyDocument(int status, const QJsonArray &unmatched) const
{
    QJsonArray selected;
    for (const QUuid &id : selectedIds)
        selected.append(serverJson(servers.value(id)));
    QJsonArray results;
    const QVector<ChangeOutcome> all = allRows();
    for (const ChangeOutcome &row : all)
        results.append(resultRowJson(row, servers.value(row.serverId)));
    const ResultCounts counts = countResults(all);
    return {{QStringLiteral("formatVersion"), kFormatVersion},
            {QStringLiteral("command"), QStringLiteral("apply")},
            {QStringLiteral("dryRun"), options.dryRun},
            {QStringLiteral("startedAt"), startedAt.isEmpty() ? QJsonValue() : QJsonValue(startedAt)},
            {QStringLiteral("finishedAt"), nowText()},
            {QStringLiteral("seconds"), runMs / 1000.0},
            {QStringLiteral("interrupted"), interrupted},
            {QStringLiteral("timedOut"), timedOut},
            {QStringLiteral("selected"), selected},
            {QStringLiteral("results"), results},
            {QStringLiteral("counts"), QJsonObject{{QStringLiteral("ok"), counts.ok},
                                                   {QStringLiteral("failed"), counts.failed},
                                                   {QStringLiteral("notSent"), counts.notSent}}},
            {QStringLiteral("unmatched"), unmatched},
            {QStringLiteral("exitStatus"), status}};
}

void Session::Impl::report()
{
    const QVector<ChangeOutcome> all = allRows();
    const ResultCounts counts = countResults(all);
    int status = counts.failed + counts.notSent > 0 || timedOut ? ExitSomeFailed : ExitSucceeded;
    if (interrupted)
        status = ExitInterrupted;
    if (options.json) {
        out(jsonText(applyDocument(status)));
    } else if (all.isEmpty()) {
        out(QStringLiteral("nothing to change on the selected servers\n"));
    } else {
        out(resultsTable(all, servers) + countsLine(counts));
    }
    finish(status);
}

void Session::Impl::onInterrupt()
{
    watch.release();
    switch (phase) {
    case Phase::Over:
        return;
    case Phase::Running:
        interrupted = true;
        warn(QStringLiteral("interrupted: nothing more is sent; waiting for the answers to the requests under "
                            "way (Ctrl-C again quits at once)"));
        manager->stopSending();
        return;
    case Phase::Confirming:
        interrupted = true;
        endConfirming(ConfirmEnd::Interrupted);
        return;
    case Phase::Looking:
    case Phase::Selecting:
        break;
    }
    warn(QStringLiteral("interrupted before anything was changed"));
    finish(ExitInterrupted);
}

void Session::Impl::onDeadline()
{
    timedOut = true;
    switch (phase) {
    case Phase::Over:
        return;
    case Phase::Running:
        warn(QStringLiteral("--timeout: the time is up; what was not sent is not sent, what is under way is not "
                            "waited for"));
        manager->abandonRun();
        return;
    case Phase::Confirming:
        endConfirming(ConfirmEnd::Deadline);
        return;
    case Phase::Looking:
    case Phase::Selecting:
        break;
    }
    if (options.command == Command::List) {
        warn(QStringLiteral("--timeout: the time is up; the list holds what was found so far"));
        proceed();
        return;
    }
    warn(QStringLiteral("--timeout: the time is up before anything was sent"));
    if (options.json)
        out(jsonText(applyDocument(ExitSomeFailed)));
    finish(ExitSomeFailed);
}

void Session::Impl::finish(int status)
{
    phase = Phase::Over;
    pollTimer.stop();
    waitLimit.stop();
    deadline.stop();
    confirmLimit.stop();
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

int runCommand(const QByteArrayList &arguments)
{
    QStringList decoded;
    for (int i = 0; i < arguments.size(); ++i) {
        if (!rules::isValidUtf8(arguments.at(i))) {
            const QString where = i > 0 && arguments.at(i - 1).startsWith("--")
                                      ? QStringLiteral("the value of %1").arg(QString::fromUtf8(arguments.at(i - 1)))
                                      : QStringLiteral("argument %1").arg(i + 1);
            writeTo(stderr, QStringLiteral("%1: %2 is not valid UTF-8; nothing was sent\n").arg(kProgram, where));
            return ExitUsageError;
        }
        decoded.append(QString::fromUtf8(arguments.at(i)));
    }
    return runCommand(decoded);
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
    // Refused before anything is sent, not even a discovery request.
    error = checkValues(parsed.options, secrets);
    if (!error.isEmpty()) {
        writeTo(stderr, QStringLiteral("%1: %2; nothing was sent\n").arg(kProgram, error));
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
