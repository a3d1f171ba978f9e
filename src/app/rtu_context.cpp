#include "app/rtu_context.h"

#include "changes/changes_manager.h"
#include "core/constants.h"
#include "core/date_time_helpers.h"
#include "models/selection.h"
#include "discovery/servers_finder.h"
#include "models/ip_settings_model.h"
#include "models/servers_selection_model.h"
#include "models/time_zones_model.h"
#include "protocol/http_client.h"
#include "tool_revision.h"

#include <QPointer>
#include <QTimeZone>

#include <memory>

namespace rtu {

namespace {

// Discovery answers sent before a confirmed port change may arrive for up to
// about two cycles after it.
ServersSelectionTiming selectionTiming(const ServersFinderParameters &discovery)
{
    ServersSelectionTiming timing;
    timing.announcedPortSettleMs = 2 * qint64(discovery.cycleIntervalMs) + discovery.answerReadGapMs;
    return timing;
}

} // namespace

class RtuContext::Impl : public QObject
{
public:
    Impl(RtuContext *owner, const ServersFinderParameters &discovery)
        : QObject(owner), owner(owner), httpClient(new HttpClient(this)),
          selectionModel(new ServersSelectionModel(this, selectionTiming(discovery))),
          changesManager(new ChangesManager(owner, httpClient, selectionModel, this)),
          serversFinder(ServersFinder::create(discovery))
    {
        ServersFinder *finder = serversFinder.data();
        connect(finder, &ServersFinder::serverAdded, selectionModel, &ServersSelectionModel::addServer);
        connect(finder, &ServersFinder::serverChanged, selectionModel, &ServersSelectionModel::changeServer);
        connect(finder, &ServersFinder::serversRemoved, selectionModel, &ServersSelectionModel::removeServers);
        connect(finder, &ServersFinder::unknownAdded, selectionModel, &ServersSelectionModel::unknownAdded);
        connect(finder, &ServersFinder::unknownRemoved, selectionModel, &ServersSelectionModel::unknownRemoved);
        connect(finder, &ServersFinder::serverConflictChanged, selectionModel,
                &ServersSelectionModel::setServerConflict);
        connect(selectionModel, &ServersSelectionModel::addressesTrusted, finder, &ServersFinder::trustAddresses);
        connect(changesManager, &ChangesManager::addressesExpected, finder, &ServersFinder::expectAddresses);
        // The changes manager hears of an answer before the model refreshes
        // the server from it.
        connect(finder, &ServersFinder::serverDiscovered, changesManager, &ChangesManager::serverDiscovered);
        connect(finder, &ServersFinder::serverDiscovered, selectionModel, &ServersSelectionModel::serverDiscovered);
        connect(finder, &ServersFinder::serverDiscovered, owner, &RtuContext::serverAnswered);
        connect(finder, &ServersFinder::cycleStarted, owner, &RtuContext::discoveryCycleStarted);
    }

    // A summary never changes, so every selection change gets a new one.
    void rebuildSelection()
    {
        selection = std::make_unique<Selection>(selectionModel, nullptr);
        emit owner->selectionChanged();
    }

    RtuContext *const owner;
    HttpClient *const httpClient;
    ServersSelectionModel *const selectionModel;
    std::unique_ptr<Selection> selection;
    ChangesManager *const changesManager;
    const ServersFinder::Holder serversFinder;
    int currentPage = Constants::SettingsPage;
};

RtuContext::RtuContext(QObject *parent, const ServersFinderParameters &discovery)
    : QObject(parent), m_impl(new Impl(this, discovery))
{
    connect(m_impl->selectionModel, &ServersSelectionModel::selectionChanged, m_impl,
            [this]() { m_impl->rebuildSelection(); }, Qt::DirectConnection);
    // Every settings page shows a zone picker; its list is ready before the first.
    TimeZonesModel::prepareAhead(m_impl);
}

RtuContext::~RtuContext() = default;

int RtuContext::currentPage() const
{
    return m_impl->currentPage;
}

void RtuContext::setCurrentPage(int page)
{
    if (m_impl->currentPage == page)
        return;
    m_impl->currentPage = page;
    emit currentPageChanged();
}

QObject *RtuContext::selection() const
{
    return m_impl->selection.get();
}

QString RtuContext::toolDisplayName() const
{
    return QStringLiteral("Orvane Tessaly Server Configuration Tool");
}

bool RtuContext::isBeta() const
{
    return QLatin1String(TESSALY_BETA) == QLatin1String("true");
}

QString RtuContext::toolVersion() const
{
    return QStringLiteral(TESSALY_VERSION);
}

QString RtuContext::toolRevision() const
{
    return QStringLiteral(TESSALY_REVISION);
}

QString RtuContext::toolSupportMail() const
{
    return QStringLiteral(TESSALY_SUPPORT_MAIL);
}

QString RtuContext::toolCompanyUrl() const
{
    return QStringLiteral(TESSALY_COMPANY_URL);
}

QObject *RtuContext::selectionModel()
{
    return m_impl->selectionModel;
}

QObject *RtuContext::ipSettingsModel()
{
    return new IpSettingsModel(m_impl->selectionModel, nullptr);
}

QObject *RtuContext::timeZonesModel(QObject *parent)
{
    return new TimeZonesModel(m_impl->selectionModel->selectedServers(), parent);
}

QObject *RtuContext::changesManager()
{
    return m_impl->changesManager;
}

QDateTime RtuContext::applyTimeZone(const QDate &date, const QTime &time, const QByteArray &prevTimeZoneId,
                                    const QByteArray &newTimeZoneId)
{
    if (newTimeZoneId.isEmpty())
        return QDateTime();

    const QTimeZone source = prevTimeZoneId.isEmpty() ? QDateTime::currentDateTime().timeZone()
                                                      : timeZoneById(prevTimeZoneId);
    const QTimeZone target = timeZoneById(newTimeZoneId);
    if (!date.isValid() || time.isNull() || !source.isValid() || !target.isValid() || !time.isValid())
        return QDateTime(date, time, Qt::LocalTime);

    const qint64 instant = utcMsFromWallClock(date, time, source);
    return wallClockInZone(instant, target);
}

void RtuContext::tryLoginWith(const QString &primarySystem, const QString &password)
{
    const QPointer<RtuContext> context(this);
    m_impl->selectionModel->tryLoginWith(primarySystem, password, [context, primarySystem]() {
        if (context)
            emit context->loginOperationFailed(primarySystem);
    }, [context, primarySystem]() {
        if (context)
            emit context->loginOperationSucceeded(primarySystem);
    });
}

} // namespace rtu
