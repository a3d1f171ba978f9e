#include "core/rtu_context.h"

#include "core/constants.h"
#include "core/date_time_helpers.h"
#include "discovery/servers_finder.h"
#include "models/servers_selection_model.h"
#include "protocol/http_client.h"
#include "tool_revision.h"

#include <QPointer>
#include <QTimeZone>

namespace rtu {

class RtuContext::Impl : public QObject
{
public:
    Impl(RtuContext *owner, const ServersFinderParameters &discovery)
        : QObject(owner), owner(owner), httpClient(new HttpClient(this)),
          selectionModel(new ServersSelectionModel(this)), serversFinder(ServersFinder::create(discovery))
    {
        ServersFinder *finder = serversFinder.data();
        connect(finder, &ServersFinder::serverAdded, selectionModel, &ServersSelectionModel::addServer);
        connect(finder, &ServersFinder::serverChanged, selectionModel, &ServersSelectionModel::changeServer);
        connect(finder, &ServersFinder::serversRemoved, selectionModel, &ServersSelectionModel::removeServers);
        connect(finder, &ServersFinder::unknownAdded, selectionModel, &ServersSelectionModel::unknownAdded);
        connect(finder, &ServersFinder::unknownRemoved, selectionModel, &ServersSelectionModel::unknownRemoved);
        connect(finder, &ServersFinder::serverDiscovered, selectionModel,
                &ServersSelectionModel::serverDiscovered);
    }

    RtuContext *const owner;
    HttpClient *const httpClient;
    ServersSelectionModel *const selectionModel;
    const ServersFinder::Holder serversFinder;
    int currentPage = Constants::SettingsPage;
};

RtuContext::RtuContext(QObject *parent, const ServersFinderParameters &discovery)
    : QObject(parent), m_impl(new Impl(this, discovery))
{
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
    return QStringLiteral("2.3.2.9296");
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

QDateTime RtuContext::applyTimeZone(const QDate &date, const QTime &time, const QByteArray &prevTimeZoneId,
                                    const QByteArray &newTimeZoneId)
{
    if (newTimeZoneId.isEmpty())
        return QDateTime();

    const QTimeZone source = prevTimeZoneId.isEmpty() ? QDateTime::currentDateTime().timeZone()
                                                      : QTimeZone(prevTimeZoneId);
    const QTimeZone target(newTimeZoneId);
    if (!date.isValid() || time.isNull() || !source.isValid() || !target.isValid() || !time.isValid())
        return QDateTime(date, time, Qt::LocalTime);

    const qint64 instant = utcMsFromWallClock(date, time, source);
    return wallClockInZone(instant, target);
}

void RtuContext::tryLoginWith(const QString &primarySystem, const QString &password)
{
    // The model calls back only when no server of the system took the password.
    const QPointer<RtuContext> context(this);
    m_impl->selectionModel->tryLoginWith(primarySystem, password, [context, primarySystem]() {
        if (context)
            emit context->loginOperationFailed(primarySystem);
    });
}

} // namespace rtu
