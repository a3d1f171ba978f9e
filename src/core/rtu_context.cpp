#include "core/rtu_context.h"

#include "core/constants.h"
#include "core/date_time_helpers.h"
#include "discovery/servers_finder.h"
#include "tool_revision.h"

#include <QTimeZone>

namespace rtu {

class RtuContext::Impl : public QObject
{
public:
    explicit Impl(RtuContext *owner) : QObject(owner), owner(owner), serversFinder(ServersFinder::create()) {}

    RtuContext *const owner;
    const ServersFinder::Holder serversFinder;
    int currentPage = Constants::SettingsPage;
};

RtuContext::RtuContext(QObject *parent) : QObject(parent), m_impl(new Impl(this)) {}

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

} // namespace rtu
