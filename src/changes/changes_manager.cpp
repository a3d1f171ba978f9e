#include "changes/changes_manager.h"

#include "changes/change_set.h"
#include "changes/run_ledger.h"
#include "changes/changes_summary_model.h"
#include "core/constants.h"
#include "core/date_time_helpers.h"
#include "core/diagnostics.h"
#include "core/page_navigator.h"
#include "models/servers_selection_model.h"
#include "protocol/http_client.h"
#include "protocol/server_requests.h"

#include <QDateTime>
#include <QHash>
#include <QLocale>
#include <QPointer>
#include <QTimeZone>
#include <QTimer>

#include <functional>
#include <optional>
#include <utility>
#include <vector>

namespace rtu {

namespace {

// An interface check is a quick read; a server that needs longer counts as
// not (yet) showing its new settings.
constexpr int kInterfaceCheckTimeoutMs = 2000;

const QString kTurnOnDhcpName = QStringLiteral("turnOnDhcp");
// An accepted interface change that no check could confirm in time.
const QString kCheckTimeout = QStringLiteral("Request timeout");

struct QueuedRequest
{
    bool exclusive = true;
    const ServerInfo *server = nullptr; // the run's copy of the addressee
    std::function<void()> action;
    QString what; // for the diagnostics
};

QString serverText(const ServerInfo &server)
{
    return serverLabel(server.baseInfo());
}

// A refusal can come with an empty reason (a server error without text, an
// HTTP status without a phrase); only code 0 with no reason is an acceptance.
bool accepted(int errorCode, const QString &reason)
{
    return errorCode == 0 && reason.isEmpty();
}

qint64 nowMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}

} // namespace

class ChangesManager::Impl : public QObject
{
public:
    Impl(ChangesManager *owner, PageNavigator *context, HttpClient *client, ServersSelectionModel *selectionModel,
         const ChangesManagerTiming &timing)
        : QObject(owner), owner(owner), context(context), client(client), selectionModel(selectionModel),
          timing(timing)
    {
    }

    ChangeSet &changes()
    {
        if (!changeSet)
            changeSet = std::make_unique<ChangeSet>();
        return *changeSet;
    }

    InterfaceChange &interfaceChange(const QString &name)
    {
        InterfaceChangesList &list = changes().interfaces;
        for (InterfaceChange &change : list) {
            if (change.name == name)
                return change;
        }
        list.resize(list.size() + 1);
        list.last().name = name;
        return list.last();
    }

    // Wraps a callback so that it only acts for the run it was made in:
    // answers that arrive after their run ended (or after the manager went)
    // must not touch a later run's state.
    template<typename Function>
    auto forThisRun(Function function)
    {
        return [self = QPointer<Impl>(this), run = runId, function](auto &&...args) {
            if (self && self->running && self->runId == run)
                function(std::forward<decltype(args)>(args)...);
        };
    }

    void applyChanges();
    void showProgress();
    void buildDateTimeRequests(const ChangeSet &changes);
    void buildSystemNameRequests(const ChangeSet &changes);
    void buildPasswordRequests(const ChangeSet &changes);
    void buildPortRequests(const ChangeSet &changes);
    void buildInterfaceRequests(const ChangeSet &changes);
    void enqueue(const QString &what, const ServerInfo *server, bool exclusive, int weight,
                 std::function<void()> action);
    // One exclusive request per target for a setting with a single row.
    // When that row succeeded, writeBack updates the run's copy of the server
    // at once (the next request to it depends on it) and publish the list
    // once the next request is out.
    using SettingSender = std::function<void(ServerInfo *server, const OperationCallback &callback)>;
    using SettingWriter = std::function<void(ServerInfo *server)>;
    // By id: an answer given at once to the next request may end the run
    // and free the copies.
    using SettingPublisher = std::function<void(const QUuid &id)>;
    void enqueueSettingRequests(ChangeSetting setting, const QString &value, AffectedEntity rowFlag,
                                const SettingSender &send, const SettingWriter &writeBack,
                                const SettingPublisher &publish);

    void pump();
    void completeEntry(int weight, const std::function<void()> &afterNextRequest = {});
    void finishRun();

    bool addRow(const ServerInfo &server, ChangeSetting setting, const QString &value, int errorCode,
                const QString &reason, AffectedEntities flags, AffectedEntities rowFlags,
                const QString &interfaceName = QString(), ChangeReason knownReason = ChangeReason::None,
                const std::optional<QString> &scriptValue = std::nullopt);
    bool addInterfaceRows(const ServerInfo &server, const InterfaceChange &change, int errorCode,
                          const QString &reason, AffectedEntities flags,
                          ChangeReason knownReason = ChangeReason::None);

    // The run's rows by id (see RunLedger).
    void expectRow(const ServerInfo &server, ChangeSetting setting, const QString &value,
                   const std::optional<QString> &oldValue, const QString &interfaceName = QString());
    void expectInterfaceRows(const ServerInfo &server, const InterfaceChange &change);
    void answerRow(const ServerInfo &server, ChangeSetting setting, const QString &interfaceName, bool succeeded,
                   int errorCode, const QString &reason, bool flagReported, ChangeReason knownReason,
                   const std::optional<QString> &scriptValue);
    void abandonRun();

    void onDateTimeAnswer(ServerInfo *server, const DateTimeChange &sent, qint64 sentAtMs, int errorCode,
                          const QString &reason, AffectedEntities flags);
    void sendPasswordRequest(ServerInfo *server, const QString &password, bool useNewPasswordAsOld);
    void onPasswordAnswer(ServerInfo *server, const QString &password, int errorCode, const QString &reason,
                          AffectedEntities flags);
    void checkPassword(ServerInfo *server, const QString &password, int errorCode, const QString &reason,
                       AffectedEntities flags);
    void sendInterfaceRequest(const InterfaceWait &wait);
    void onInterfaceCheckAnswer(const QUuid &id, const BaseServerInfo &info, bool succeeded,
                                const InterfaceInfoList &interfaces);
    void failWait(const QUuid &id, int errorCode, const QString &reason, AffectedEntities flags,
                  ChangeReason knownReason = ChangeReason::None);
    void serverDiscovered(const BaseServerInfo &info);
    void stopSending();

    ChangesManager *const owner;
    PageNavigator *const context;
    // Null only while a stopped run refuses what it has not sent.
    HttpClient *client;
    ServersSelectionModel *const selectionModel;
    ChangesSummaryModel *successfulResults = nullptr;
    ChangesSummaryModel *failedResults = nullptr;
    std::vector<ServerInfo> serverCopies;
    QVector<ServerInfo *> targets;
    std::unique_ptr<ChangeSet> changeSet;
    QVector<QueuedRequest> queue;
    QHash<QUuid, InterfaceWait> waits;
    int completedCount = 0;
    int nextIndex = 0;
    int totalChanges = 0;
    int appliedChanges = 0;

    const ChangesManagerTiming timing;
    bool running = false;
    bool stopping = false;
    bool pumping = false;
    bool progressShown = false;
    int runId = 0;
    qint64 runStartMs = 0;
    RunLedger ledger;
    // What the rows of a stopped run say they were not sent for.
    ChangeReason stopReason = ChangeReason::Interrupted;
};

void ChangesManager::Impl::applyChanges()
{
    // Whatever happens to it, an apply leaves nothing staged: edits it did
    // not send must not go out with the next batch.
    const std::unique_ptr<ChangeSet> staged = std::move(changeSet);
    // A second start would mix its answers into the counters of the first.
    if (running || !staged || !selectionModel || selectionModel->selectedCount() == 0) {
        if (staged)
            qCInfo(logChanges).noquote() << "apply refused:" << (running ? "a run is under way" : "nothing selected")
                                         << "- its changes are dropped";
        return;
    }

    serverCopies.clear();
    targets.clear();
    const ServerInfoPtrContainer selected = selectionModel->selectedServers();
    serverCopies.reserve(size_t(selected.size()));
    for (const ServerInfo *server : selected) {
        if (server && server->hasExtraInfo())
            serverCopies.push_back(*server);
    }
    for (ServerInfo &copy : serverCopies)
        targets.append(&copy);

    queue.clear();
    waits.clear();
    totalChanges = 0;
    appliedChanges = 0;
    ++runId;
    running = true;
    runStartMs = nowMs();
    ledger.clear();

    buildDateTimeRequests(*staged);
    buildSystemNameRequests(*staged);
    buildPasswordRequests(*staged);
    buildPortRequests(*staged);
    buildInterfaceRequests(*staged);

    qCInfo(logChanges).noquote() << "run" << runId << "started:" << targets.size() << "of"
                                 << selected.size() << "selected servers logged in," << queue.size() << "requests,"
                                 << totalChanges << "changes";
    emit owner->totalChangesCountChanged();
    emit owner->appliedChangesCountChanged();

    if (successfulResults)
        successfulResults->deleteLater();
    if (failedResults)
        failedResults->deleteLater();
    successfulResults = new ChangesSummaryModel(true, this);
    failedResults = new ChangesSummaryModel(false, this);

    nextIndex = 0;
    completedCount = 0;
    progressShown = false;

    // Nothing to send (no logged-in target, or nothing left to change on
    // them): no answer would ever end the run, so it ends here.
    if (queue.isEmpty()) {
        finishRun();
        return;
    }
    // The first request goes out before the progress page is built, which
    // then happens while the server works on it.
    pump();
    if (running)
        showProgress();
}

void ChangesManager::Impl::showProgress()
{
    progressShown = true;
    if (context)
        context->runStarted();
    emit owner->runStarted();
}

void ChangesManager::Impl::enqueue(const QString &what, const ServerInfo *server, bool exclusive, int weight,
                                   std::function<void()> action)
{
    queue.append(QueuedRequest{exclusive, server, std::move(action), what});
    totalChanges += weight;
}

void ChangesManager::Impl::buildDateTimeRequests(const ChangeSet &changes)
{
    if (!changes.dateTime)
        return;
    const DateTimeChange change = *changes.dateTime;
    const QTimeZone zone = timeZoneById(change.timeZoneId);
    for (ServerInfo *server : qAsConst(targets)) {
        const ExtraServerInfo &extra = server->extraInfo();
        const qint64 clock = serverClockNowMs(extra.utcDateTimeMs, extra.timestampMs, monotonicNowMs());
        expectRow(*server, ChangeSetting::DateTime, isoDateTimeText(change.valueAt(monotonicNowMs()), zone),
                  clock > 0 ? std::optional<QString>(isoDateTimeText(clock, timeZoneById(extra.timeZoneId)))
                            : std::nullopt);
        expectRow(*server, ChangeSetting::TimeZone, ianaZoneId(change.timeZoneId),
                  extra.timeZoneId.isEmpty() ? std::nullopt : std::optional<QString>(ianaZoneId(extra.timeZoneId)));
        enqueue(QStringLiteral("date and time"), server, true, 2, [this, server, change] {
            // The server sets its clock about when it gets the request.
            const qint64 sentAtMs = monotonicNowMs();
            const DateTimeChange sent{change.valueAt(sentAtMs), change.timeZoneId};
            sendSetTimeRequest(client, *server, sent.utcDateTimeMs, sent.timeZoneId,
                               forThisRun([this, server, sent, sentAtMs](int errorCode, const QString &reason,
                                                                         AffectedEntities flags) {
                                   onDateTimeAnswer(server, sent, sentAtMs, errorCode, reason, flags);
                               }));
        });
    }
}

void ChangesManager::Impl::buildSystemNameRequests(const ChangeSet &changes)
{
    if (!changes.systemName)
        return;
    const QString systemName = *changes.systemName;
    enqueueSettingRequests(
        ChangeSetting::SystemName, systemName, SystemNameAffected,
        [this, systemName](ServerInfo *server, const OperationCallback &callback) {
            sendChangeSystemNameRequest(client, *server, systemName, callback);
        },
        [systemName](ServerInfo *server) { server->writableBaseInfo().systemName = systemName; },
        [this, systemName](const QUuid &id) { selectionModel->updateSystemNameInfo(id, systemName); });
}

void ChangesManager::Impl::buildPasswordRequests(const ChangeSet &changes)
{
    if (!changes.password)
        return;
    const QString password = *changes.password;
    for (ServerInfo *server : qAsConst(targets)) {
        // A password is never kept beside the results.
        expectRow(*server, ChangeSetting::Password, QString(), std::nullopt);
        enqueue(QStringLiteral("password"), server, true, 1, [this, server, password] { sendPasswordRequest(server, password, false); });
    }
}

void ChangesManager::Impl::buildPortRequests(const ChangeSet &changes)
{
    if (!changes.port)
        return;
    const int port = *changes.port;
    enqueueSettingRequests(
        ChangeSetting::Port, QString::number(port), PortAffected,
        [this, port](ServerInfo *server, const OperationCallback &callback) {
            sendChangePortRequest(client, *server, port, callback);
        },
        [port](ServerInfo *server) { server->writableBaseInfo().port = port; },
        [this, port](const QUuid &id) { selectionModel->updatePortInfo(id, port); });
}

void ChangesManager::Impl::enqueueSettingRequests(ChangeSetting setting, const QString &value,
                                                  AffectedEntity rowFlag, const SettingSender &send,
                                                  const SettingWriter &writeBack, const SettingPublisher &publish)
{
    const QString rowName = settingRowName(setting);
    for (ServerInfo *server : qAsConst(targets)) {
        const BaseServerInfo &base = server->baseInfo();
        expectRow(*server, setting, value,
                  setting == ChangeSetting::Port ? QString::number(base.port) : base.systemName);
        enqueue(rowName, server, true, 1, [=] {
            send(server, forThisRun([=](int errorCode, const QString &reason, AffectedEntities flags) {
                     std::function<void()> show;
                     if (addRow(*server, setting, value, errorCode, reason, flags, rowFlag)) {
                         writeBack(server);
                         show = [publish, id = server->baseInfo().id] { publish(id); };
                     }
                     completeEntry(1, show);
                 }));
        });
    }
}

void ChangesManager::Impl::buildInterfaceRequests(const ChangeSet &changes)
{
    if (changes.interfaces.isEmpty())
        return;

    auto addEntry = [this](ServerInfo *server, const InterfaceChangesList &list) {
        InterfaceWait wait;
        wait.lastCheckMs = runStartMs;
        wait.server = server;
        wait.changes = list;
        for (const InterfaceChange &change : list) {
            wait.changesCount += setMembersCount(change);
            expectInterfaceRows(*server, change);
        }
        enqueue(QStringLiteral("interfaces"), server, false, wait.changesCount, [this, wait] { sendInterfaceRequest(wait); });
    };

    if (targets.size() == 1) {
        addEntry(targets.first(), changes.interfaces);
        return;
    }
    // Several servers share no interface names or addresses, so the one
    // change that applies to all of them is switching to DHCP.
    for (ServerInfo *server : qAsConst(targets)) {
        InterfaceChangesList changes;
        for (const InterfaceInfo &iface : server->extraInfo().interfaces) {
            if (iface.useDHCP != Qt::Unchecked)
                continue;
            InterfaceChange change(iface.name);
            change.useDHCP = true;
            changes.append(change);
        }
        if (!changes.isEmpty())
            addEntry(server, changes);
    }
}

void ChangesManager::Impl::pump()
{
    // Answers given synchronously (refused preconditions) complete entries
    // from inside an action; the loop below then simply goes on.
    if (pumping)
        return;
    pumping = true;
    while (nextIndex < queue.size()) {
        const QueuedRequest &entry = queue.at(nextIndex);
        const bool unanswered = completedCount < nextIndex;
        // An exclusive request, and the group of interface requests after
        // the last exclusive one, go out only when everything before them is
        // answered: an interface request built before a port or password
        // answer of its server would use the old port or password.
        const bool followsExclusive = nextIndex > 0 && queue.at(nextIndex - 1).exclusive;
        if (unanswered && (entry.exclusive || followsExclusive))
            break;
        const std::function<void()> action = entry.action;
        if (entry.server) {
            qCDebug(logChanges).noquote() << "request" << nextIndex + 1 << "of" << queue.size() << "sent:" << entry.what
                                          << "to" << serverText(*entry.server);
        }
        ++nextIndex;
        action();
    }
    pumping = false;
    // The next request waits for an answer: its connection can be opened
    // meanwhile, so that it leaves the moment the answer is in.
    if (running && client && nextIndex < queue.size()) {
        if (const ServerInfo *next = queue.at(nextIndex).server)
            client->preconnect(next->baseInfo().hostAddress, quint16(next->baseInfo().port));
    }
}

void ChangesManager::Impl::completeEntry(int weight, const std::function<void()> &afterNextRequest)
{
    appliedChanges += weight;
    ++completedCount;
    const bool last = completedCount == queue.size();
    // The next request goes out first: the list and the progress page then
    // update while the server works on it, not ahead of it.
    if (!last)
        pump();
    if (afterNextRequest)
        afterNextRequest();
    emit owner->appliedChangesCountChanged();
    if (last)
        finishRun();
}

void ChangesManager::Impl::finishRun()
{
    qCInfo(logChanges).noquote() << "run" << runId << "ended:" << appliedChanges << "of" << totalChanges
                                 << "changes answered," << (successfulResults ? successfulResults->rowCount() : 0)
                                 << "succeeded";
    changeSet.reset();
    waits.clear();
    targets.clear();
    queue.clear();
    serverCopies.clear();
    nextIndex = 0;
    completedCount = 0;
    running = false;
    // A run every request of which was refused at once still passes
    // through the progress page, as any other run.
    if (!progressShown)
        showProgress();
    if (context)
        context->runFinished();
    emit owner->runFinished();
}

bool ChangesManager::Impl::addRow(const ServerInfo &server, ChangeSetting setting, const QString &value,
                                  int errorCode, const QString &reason, AffectedEntities flags,
                                  AffectedEntities rowFlags, const QString &interfaceName,
                                  ChangeReason knownReason, const std::optional<QString> &scriptValue)
{
    const QString name = settingRowName(setting);
    const bool flagReported = (flags & rowFlags) == rowFlags;
    const bool succeeded = accepted(errorCode, reason) && flagReported && knownReason == ChangeReason::None;
    if (logChanges().isInfoEnabled()) {
        // The summary shows a new password; the diagnostics never do.
        const QString shown = name == QLatin1String("password") ? QStringLiteral("(redacted)") : value;
        qCInfo(logChanges).noquote() << "row:" << serverText(server) << name << "=" << shown << "->"
                                     << (succeeded ? QStringLiteral("success")
                                                   : QStringLiteral("failed (code %1, flags 0x%2): %3")
                                                         .arg(errorCode)
                                                         .arg(int(flags), 0, 16)
                                                         .arg(reason.isEmpty() ? QStringLiteral("no reason")
                                                                               : reason));
    }
    if (succeeded)
        successfulResults->addRequestResult(server, name, value, QString());
    else
        failedResults->addRequestResult(server, name, value, stopping ? notSentReason() : reason);
    answerRow(server, setting, interfaceName, succeeded, errorCode, reason, flagReported, knownReason, scriptValue);
    return succeeded;
}

bool ChangesManager::Impl::addInterfaceRows(const ServerInfo &server, const InterfaceChange &change,
                                            int errorCode, const QString &reason, AffectedEntities flags,
                                            ChangeReason knownReason)
{
    bool succeeded = true;
    const QString &name = change.name;
    if (change.useDHCP) {
        succeeded &= addRow(server, ChangeSetting::Dhcp,
                            *change.useDHCP ? QStringLiteral("on") : QStringLiteral("off"), errorCode, reason,
                            flags, AffectedEntities(IpAddressAffected) | SubnetMaskAffected, name, knownReason);
    }
    if (change.address)
        succeeded &= addRow(server, ChangeSetting::Address, *change.address, errorCode, reason, flags,
                            IpAddressAffected, name, knownReason);
    if (change.mask)
        succeeded &= addRow(server, ChangeSetting::Mask, *change.mask, errorCode, reason, flags, SubnetMaskAffected,
                            name, knownReason);
    if (change.dns)
        succeeded &= addRow(server, ChangeSetting::Dns, *change.dns, errorCode, reason, flags, DnsAffected, name,
                            knownReason);
    if (change.gateway)
        succeeded &= addRow(server, ChangeSetting::Gateway, *change.gateway, errorCode, reason, flags,
                            GatewayAffected, name, knownReason);
    return succeeded;
}

void ChangesManager::Impl::onDateTimeAnswer(ServerInfo *server, const DateTimeChange &sent, qint64 sentAtMs,
                                            int errorCode, const QString &reason, AffectedEntities flags)
{
    const QTimeZone zone = timeZoneById(sent.timeZoneId);
    const QLocale locale = QLocale::system();
    // The wall clock of the new zone, named by that zone: read as a local
    // date-time, the long format would label it with the workstation's zone.
    const QDateTime shown = zone.isValid() ? QDateTime::fromMSecsSinceEpoch(sent.utcDateTimeMs, zone)
                                           : wallClockInZone(sent.utcDateTimeMs, zone);
    const QString dateTimeText = locale.toString(shown, locale.dateTimeFormat(QLocale::LongFormat));
    const QString zoneText = timeZoneDisplayText(zone, QDateTime::currentDateTime());

    bool succeeded = addRow(*server, ChangeSetting::DateTime, dateTimeText, errorCode, reason, flags,
                            DateTimeAffected, QString(), ChangeReason::None,
                            isoDateTimeText(sent.utcDateTimeMs, zone));
    succeeded &= addRow(*server, ChangeSetting::TimeZone, zoneText, errorCode, reason, flags, TimeZoneAffected);
    if (succeeded) {
        ExtraServerInfo &extra = server->writableExtraInfo();
        extra.utcDateTimeMs = sent.utcDateTimeMs;
        extra.timeZoneId = sent.timeZoneId;
        extra.timestampMs = sentAtMs;
        selectionModel->updateTimeDateInfo(server->baseInfo().id, sent.utcDateTimeMs, sent.timeZoneId, sentAtMs);
    }
    completeEntry(2);
}

void ChangesManager::Impl::sendPasswordRequest(ServerInfo *server, const QString &password, bool useNewPasswordAsOld)
{
    sendChangePasswordRequest(
        client, *server, password, useNewPasswordAsOld,
        forThisRun([this, server, password, useNewPasswordAsOld](int errorCode, const QString &reason,
                                                                 AffectedEntities flags) {
            // A server that took the new password but whose answer was lost
            // now only accepts the new one: one more try with it. When the
            // connection closed unanswered, or the answer came too late, the
            // change itself is not sent again; reading with the new password
            // tells whether it took.
            if (!useNewPasswordAsOld && !accepted(errorCode, reason)) {
                if (reason == QLatin1String(HttpClient::kUnansweredChange)
                    || reason == QLatin1String(HttpClient::kTimedOutChange))
                    checkPassword(server, password, errorCode, reason, flags);
                else
                    sendPasswordRequest(server, password, true);
                return;
            }
            onPasswordAnswer(server, password, errorCode, reason, flags);
        }));
}

void ChangesManager::Impl::checkPassword(ServerInfo *server, const QString &password, int errorCode,
                                         const QString &reason, AffectedEntities flags)
{
    sendGetTimeRequest(
        client, server->baseInfo(), password, forThisRun([this, server, password](const QUuid &, const ExtraServerInfo &) {
            onPasswordAnswer(server, password, 0, QString(), PasswordAffected);
        }),
        forThisRun([this, server, password, errorCode, reason, flags](int, const QString &, AffectedEntities) {
            onPasswordAnswer(server, password, errorCode, reason, flags);
        }),
        0);
}

void ChangesManager::Impl::onPasswordAnswer(ServerInfo *server, const QString &password, int errorCode,
                                            const QString &reason, AffectedEntities flags)
{
    if (addRow(*server, ChangeSetting::Password, password, errorCode, reason, flags, PasswordAffected)) {
        server->writableExtraInfo().password = password;
        selectionModel->updatePasswordInfo(server->baseInfo().id, password);
    }
    completeEntry(1);
}

void ChangesManager::Impl::sendInterfaceRequest(const InterfaceWait &wait)
{
    const QUuid id = wait.server->baseInfo().id;
    waits.insert(id, wait);
    // Once the server accepts, its answers from these addresses are its own,
    // not another host's claiming its id.
    QStringList expected;
    for (const InterfaceChange &change : wait.changes) {
        if (change.address)
            expected.append(*change.address);
    }
    sendIfConfigRequest(
        client, *wait.server, wait.changes,
        forThisRun([this, id, expected](int errorCode, const QString &reason, AffectedEntities flags) {
            if (!accepted(errorCode, reason)) {
                failWait(id, errorCode, reason, flags);
                return;
            }
            if (!expected.isEmpty())
                emit owner->addressesExpected(id, expected);
            const std::function<void()> onLimit =
                forThisRun([this, id, flags] {
                    failWait(id, -1, mayHaveBeenApplied(kCheckTimeout), flags, ChangeReason::ConfirmationTimeout);
                });
            QTimer::singleShot(int(timing.confirmationLimitMs), Qt::PreciseTimer, this, onLimit);
        }));
}

void ChangesManager::Impl::serverDiscovered(const BaseServerInfo &info)
{
    const auto it = waits.find(info.id);
    if (it == waits.end() || it->checkInProgress)
        return;
    if (nowMs() - it->lastCheckMs < timing.checkSpacingMs)
        return;
    it->checkInProgress = true;
    qCDebug(logChanges).noquote() << "interface check" << it->attempts + 1 << "of" << serverText(*it->server)
                                  << "seen at" << info.hostAddress;
    const QString password = it->server->extraInfo().password;
    const QUuid id = info.id;
    // The iterator may be gone after this call: a refused check answers at once.
    sendIfListRequest(
        client, info, password,
        forThisRun([this, id, info](const QUuid &, const ExtraServerInfo &extra) {
            onInterfaceCheckAnswer(id, info, true, extra.interfaces);
        }),
        forThisRun([this, id, info](int, const QString &, AffectedEntities) {
            onInterfaceCheckAnswer(id, info, false, InterfaceInfoList());
        }),
        kInterfaceCheckTimeoutMs);
}

void ChangesManager::Impl::onInterfaceCheckAnswer(const QUuid &id, const BaseServerInfo &info, bool succeeded,
                                                  const InterfaceInfoList &interfaces)
{
    const auto it = waits.find(id);
    if (it == waits.end())
        return;
    it->checkInProgress = false;
    it->lastCheckMs = nowMs();

    QVector<bool> matched;
    InterfaceInfoList matchedInterfaces;
    for (const InterfaceChange &change : qAsConst(it->changes)) {
        bool found = false;
        for (const InterfaceInfo &iface : interfaces) {
            if (matches(change, iface)) {
                matchedInterfaces.append(iface);
                found = true;
                break;
            }
        }
        matched.append(found);
    }
    const bool confirmed = !matched.contains(false);
    qCDebug(logChanges).noquote() << "interface check of" << serverText(*it->server) << "at" << info.hostAddress
                                  << (!succeeded ? "unanswered"
                                                 : confirmed ? "confirms the change" : "does not show the change yet");
    if (!succeeded || !confirmed) {
        ++it->attempts;
        if (it->attempts < timing.maxCheckAttempts)
            return;
    }

    const InterfaceWait wait = *it;
    waits.erase(it);
    // The server took the change; only its own listing shows that it did not
    // carry it out.
    const QString unconfirmed = succeeded ? QStringLiteral("Can't apply this parameter")
                                          : mayHaveBeenApplied(kCheckTimeout);
    for (int i = 0; i < wait.changes.size(); ++i) {
        if (matched.at(i))
            addInterfaceRows(*wait.server, wait.changes.at(i), 0, QString(), AllEntitiesAffected);
        else
            addInterfaceRows(*wait.server, wait.changes.at(i), -1, unconfirmed, NoEntitiesAffected,
                             succeeded ? ChangeReason::NotConfirmed : ChangeReason::ConfirmationTimeout);
    }
    if (succeeded && confirmed) {
        wait.server->writableBaseInfo().hostAddress = info.hostAddress;
        selectionModel->updateInterfacesInfo(id, info.hostAddress, matchedInterfaces);
    }
    completeEntry(wait.changesCount);
}

void ChangesManager::Impl::failWait(const QUuid &id, int errorCode, const QString &reason, AffectedEntities flags,
                                    ChangeReason knownReason)
{
    const auto it = waits.find(id);
    if (it == waits.end())
        return;
    const InterfaceWait wait = *it;
    waits.erase(it);
    for (const InterfaceChange &change : wait.changes)
        addInterfaceRows(*wait.server, change, errorCode, reason, flags, knownReason);
    completeEntry(wait.changesCount);
}

void ChangesManager::Impl::expectRow(const ServerInfo &server, ChangeSetting setting, const QString &value,
                                     const std::optional<QString> &oldValue, const QString &interfaceName)
{
    ChangeOutcome row;
    row.serverId = server.baseInfo().id;
    row.setting = setting;
    row.interfaceName = interfaceName;
    row.value = value;
    row.oldValue = oldValue;
    row.shownValue = value;
    ledger.expect(row);
}

void ChangesManager::Impl::expectInterfaceRows(const ServerInfo &server, const InterfaceChange &change)
{
    const InterfaceInfo *before = nullptr;
    for (const InterfaceInfo &iface : server.extraInfo().interfaces) {
        if (iface.name == change.name)
            before = &iface;
    }
    const auto old = [before](const QString InterfaceInfo::*member) {
        return before ? std::optional<QString>(before->*member) : std::nullopt;
    };
    const auto onOff = [](bool on) { return on ? QStringLiteral("on") : QStringLiteral("off"); };
    if (change.useDHCP)
        expectRow(server, ChangeSetting::Dhcp, onOff(*change.useDHCP),
                  before ? std::optional<QString>(onOff(before->useDHCP == Qt::Checked)) : std::nullopt, change.name);
    if (change.address)
        expectRow(server, ChangeSetting::Address, *change.address, old(&InterfaceInfo::ip), change.name);
    if (change.mask)
        expectRow(server, ChangeSetting::Mask, *change.mask, old(&InterfaceInfo::mask), change.name);
    if (change.dns)
        expectRow(server, ChangeSetting::Dns, *change.dns, old(&InterfaceInfo::dns), change.name);
    if (change.gateway)
        expectRow(server, ChangeSetting::Gateway, *change.gateway, old(&InterfaceInfo::gateway), change.name);
}

void ChangesManager::Impl::answerRow(const ServerInfo &server, ChangeSetting setting, const QString &interfaceName,
                                     bool succeeded, int errorCode, const QString &reason, bool flagReported,
                                     ChangeReason knownReason, const std::optional<QString> &scriptValue)
{
    using Result = ChangeOutcome::Result;
    if (succeeded) {
        ledger.answer(server.baseInfo().id, setting, interfaceName, Result::Ok, ChangeReason::None, QString(),
                      scriptValue);
    } else if (stopping) {
        ledger.answer(server.baseInfo().id, setting, interfaceName, Result::NotSent, stopReason, notSentReason(),
                      scriptValue);
    } else {
        const ChangeReason code =
            knownReason != ChangeReason::None ? knownReason : reasonOf(errorCode, reason, flagReported);
        ledger.answer(server.baseInfo().id, setting, interfaceName, Result::Failed, code, reason, scriptValue);
    }
}

void ChangesManager::Impl::abandonRun()
{
    if (!running)
        return;
    stopReason = ChangeReason::TimeLimit;
    stopSending();
    stopReason = ChangeReason::Interrupted;
    if (!running)
        return;
    // What is under way gets no answer any more: the summary shows it too.
    const QString text = QStringLiteral("No answer before the time limit; the change may have been applied");
    const QVector<ChangeOutcome> unanswered =
        ledger.answerPending(ChangeOutcome::Result::Failed, ChangeReason::TimeLimit, text);
    QHash<QUuid, const ServerInfo *> copies;
    for (const ServerInfo &copy : serverCopies)
        copies.insert(copy.baseInfo().id, &copy);
    for (const ChangeOutcome &row : unanswered) {
        if (const ServerInfo *copy = copies.value(row.serverId))
            failedResults->addRequestResult(*copy, settingRowName(row.setting), row.shownValue, text);
    }
    appliedChanges = totalChanges;
    emit owner->appliedChangesCountChanged();
    finishRun();
}

void ChangesManager::Impl::stopSending()
{
    if (!running || stopping)
        return;
    // What is left of the queue goes through its own handlers without a
    // client: each request is refused before a byte is sent, so every change
    // gets the rows and the count it would have had, marked as not sent.
    stopping = true;
    pumping = true;
    HttpClient *const sending = client;
    client = nullptr;
    while (running && nextIndex < queue.size()) {
        const std::function<void()> action = queue.at(nextIndex).action;
        ++nextIndex;
        action();
    }
    client = sending;
    pumping = false;
    stopping = false;
}

ChangesManager::ChangesManager(PageNavigator *context, HttpClient *client, ServersSelectionModel *selectionModel,
                               QObject *parent, const ChangesManagerTiming &timing)
    : QObject(parent), m_impl(new Impl(this, context, client, selectionModel, timing))
{
}

ChangesManager::~ChangesManager() = default;

void ChangesManager::addSystemChange(const QString &systemName)
{
    m_impl->changes().systemName = systemName;
}

void ChangesManager::addPasswordChange(const QString &password)
{
    m_impl->changes().password = password;
}

void ChangesManager::addPortChange(int port)
{
    m_impl->changes().port = port;
}

void ChangesManager::addDHCPChange(const QString &name, bool useDHCP)
{
    m_impl->interfaceChange(name).useDHCP = useDHCP;
}

void ChangesManager::addAddressChange(const QString &name, const QString &address)
{
    m_impl->interfaceChange(name).address = address;
}

void ChangesManager::addMaskChange(const QString &name, const QString &mask)
{
    m_impl->interfaceChange(name).mask = mask;
}

void ChangesManager::addDNSChange(const QString &name, const QString &dns)
{
    m_impl->interfaceChange(name).dns = dns;
}

void ChangesManager::addGatewayChange(const QString &name, const QString &gateway)
{
    m_impl->interfaceChange(name).gateway = gateway;
}

void ChangesManager::addDateTimeChange(const QDate &date, const QTime &time, const QByteArray &timeZoneId)
{
    m_impl->changes().dateTime = DateTimeChange{utcMsFromWallClock(date, time, timeZoneById(timeZoneId)), timeZoneId};
}

void ChangesManager::addCurrentDateTimeChange(qint64 utcDateTimeMs, const QByteArray &timeZoneId)
{
    // No clock to run on: the request is refused as it stands.
    if (utcDateTimeMs <= 0 || !isValidClockMs(utcDateTimeMs)) {
        m_impl->changes().dateTime = DateTimeChange{0, timeZoneId};
        return;
    }
    m_impl->changes().dateTime = DateTimeChange{utcDateTimeMs, timeZoneId, true, monotonicNowMs()};
}

void ChangesManager::turnOnDhcp()
{
    m_impl->interfaceChange(kTurnOnDhcpName);
}

void ChangesManager::applyChanges()
{
    m_impl->applyChanges();
}

void ChangesManager::clearChanges()
{
    m_impl->changeSet.reset();
}

int ChangesManager::totalChangesCount() const
{
    return m_impl->totalChanges;
}

int ChangesManager::appliedChangesCount() const
{
    return m_impl->appliedChanges;
}

QObject *ChangesManager::successfulResultsModel() const
{
    return m_impl->successfulResults;
}

QObject *ChangesManager::failedResultsModel() const
{
    return m_impl->failedResults;
}

void ChangesManager::serverDiscovered(const BaseServerInfo &info)
{
    m_impl->serverDiscovered(info);
}

void ChangesManager::stopSending()
{
    m_impl->stopSending();
}

QString ChangesManager::notSentReason()
{
    return QStringLiteral("Not sent");
}

QVector<ChangeOutcome> ChangesManager::outcomes() const
{
    return m_impl->ledger.rows();
}

void ChangesManager::abandonRun()
{
    m_impl->abandonRun();
}

} // namespace rtu
