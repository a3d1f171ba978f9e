#include "changes/change_draft.h"

#include "changes/changes_manager.h"
#include "core/date_time_helpers.h"
#include "core/input_rules.h"
#include "protocol/server_info_manager.h"
#include "protocol/server_requests.h"

#include <QDateTime>

#include <algorithm>

namespace rtu {

namespace {

using QueryItems = QVector<QPair<QString, QString>>;

// The longest line a change with this item goes out on, whichever of these
// passwords it authenticates with ("oldPassword" is part of every change).
int longestLine(const QString &key, const QString &value, const QStringList &passwords)
{
    int longest = 0;
    for (const QString &password : passwords) {
        longest = std::max(longest, configureRequestLineBytes(QueryItems{
                                        {key, value}, {QStringLiteral("oldPassword"), password}}));
    }
    return longest;
}

bool isNameOrPassword(const QString &text)
{
    return !rules::isBlank(text) && rules::isPlainText(text);
}

} // namespace

class ChangeDraft::Impl : public QObject
{
public:
    explicit Impl(ChangeDraft *owner) : QObject(owner) {}

    QStringList oldPasswords() const
    {
        QStringList passwords = ServerInfoManager::knownPasswords() + currentPasswords;
        if (password)
            passwords.append(*password);
        return passwords;
    }

    Problem validateInterface(const InterfaceEdit &line) const;
    Problem validateDateTime(const DateTimeEdit &edit) const;

    std::optional<QString> port;
    std::optional<QString> systemName;
    std::optional<QString> password;
    bool dhcpOnAll = false;
    QVector<InterfaceEdit> interfaces;
    std::optional<DateTimeEdit> dateTime;
    QStringList currentPasswords;
};

ChangeDraft::Problem ChangeDraft::Impl::validateInterface(const InterfaceEdit &line) const
{
    const auto refused = [&line](Field field, const QString &value) { return Problem{field, line.name, value}; };
    // Without DHCP the server needs both address and mask.
    if (!line.useDhcp) {
        if (!rules::isAcceptableAddress(line.address))
            return refused(AddressField, line.address);
        if (!rules::isAcceptableMask(line.mask))
            return refused(MaskField, line.mask);
    }
    // An emptied field clears the setting; anything else must be an address.
    if (line.dns && !rules::isEmptyAddress(*line.dns) && !rules::isAcceptableAddress(*line.dns))
        return refused(DnsField, *line.dns);
    if (line.gateway && !rules::isEmptyAddress(*line.gateway) && !rules::isAcceptableAddress(*line.gateway))
        return refused(GatewayField, *line.gateway);
    return Problem();
}

ChangeDraft::Problem ChangeDraft::Impl::validateDateTime(const DateTimeEdit &edit) const
{
    if (edit.zoneId.isEmpty() || !timeZoneById(edit.zoneId).isValid())
        return Problem{TimeZoneField, QString(), QString::fromUtf8(edit.zoneId)};
    if (edit.useCurrent)
        return Problem();
    if (!rules::isAcceptableDate(edit.date))
        return Problem{DateField, QString(), edit.date.toString(Qt::ISODate)};
    if (!edit.time.isValid())
        return Problem{TimeField, QString(), edit.time.toString(Qt::ISODate)};
    return Problem();
}

QString ChangeDraft::Problem::message() const
{
    const auto invalid = [](const QString &what) {
        return tr("Invalid %1 specified. Can't apply changes").arg(what);
    };
    const auto invalidOf = [this](const QString &what) {
        return tr("Invalid %1 for interface %2 specified. Can't apply changes.").arg(what, interfaceName);
    };
    switch (field) {
    case NoField:
        return QString();
    case PortField:
        return invalid(tr("port"));
    case SystemNameField:
        return invalid(tr("system name"));
    case PasswordField:
        return invalid(tr("password"));
    case AddressField:
        return invalidOf(tr("ip address"));
    case MaskField:
        return invalidOf(tr("mask"));
    case DnsField:
        return invalidOf(tr("dns"));
    case GatewayField:
        return invalidOf(tr("gateway"));
    case TimeZoneField:
        return QStringLiteral("Please choose time zone");
    case DateField:
        return QStringLiteral("Please enter valid date");
    case TimeField:
        break;
    }
    return QStringLiteral("Please enter valid time");
}

ChangeDraft::ChangeDraft(QObject *parent) : QObject(parent), m_impl(new Impl(this)) {}

ChangeDraft::~ChangeDraft() = default;

void ChangeDraft::clear()
{
    Impl &d = *m_impl;
    d.port.reset();
    d.systemName.reset();
    d.password.reset();
    d.dhcpOnAll = false;
    d.interfaces.clear();
    d.dateTime.reset();
}

void ChangeDraft::setPort(const QString &text)
{
    m_impl->port = text;
}

void ChangeDraft::setSystemName(const QString &name)
{
    m_impl->systemName = name;
}

void ChangeDraft::setPassword(const QString &password)
{
    m_impl->password = password;
}

void ChangeDraft::turnOnDhcp()
{
    m_impl->dhcpOnAll = true;
}

void ChangeDraft::addInterface(const QVariantMap &line)
{
    InterfaceEdit edit;
    edit.name = line.value(QStringLiteral("name")).toString();
    edit.useDhcp = line.value(QStringLiteral("useDhcp")).toBool();
    edit.dhcpChanged = line.value(QStringLiteral("dhcpChanged")).toBool();
    edit.address = line.value(QStringLiteral("address")).toString();
    edit.mask = line.value(QStringLiteral("mask")).toString();
    if (line.contains(QStringLiteral("dns")))
        edit.dns = line.value(QStringLiteral("dns")).toString();
    if (line.contains(QStringLiteral("gateway")))
        edit.gateway = line.value(QStringLiteral("gateway")).toString();
    addInterface(edit);
}

void ChangeDraft::addInterface(const InterfaceEdit &edit)
{
    m_impl->interfaces.append(edit);
}

void ChangeDraft::setDateTime(const QVariant &zoneId, bool useCurrent, const QDate &date, const QTime &time,
                              bool typed, qint64 serversClockMs)
{
    setDateTime(DateTimeEdit{zoneId.toByteArray(), useCurrent, date, time, typed, serversClockMs});
}

void ChangeDraft::setDateTime(const DateTimeEdit &edit)
{
    m_impl->dateTime = edit;
}

void ChangeDraft::addCurrentPassword(const QString &password)
{
    m_impl->currentPasswords.append(password);
}

QVariantMap ChangeDraft::problem() const
{
    const Problem found = validate();
    return {{QStringLiteral("field"), int(found.field)},
            {QStringLiteral("interfaceName"), found.interfaceName},
            {QStringLiteral("message"), found.message()}};
}

bool ChangeDraft::submit(QObject *manager) const
{
    auto *changes = qobject_cast<ChangesManager *>(manager);
    return changes && submit(*changes);
}

ChangeDraft::Problem ChangeDraft::validate() const
{
    const Impl &d = *m_impl;
    if (d.port && !rules::isAcceptablePort(*d.port))
        return Problem{PortField, QString(), *d.port};
    for (const InterfaceEdit &line : d.interfaces) {
        const Problem problem = d.validateInterface(line);
        if (!problem.ok())
            return problem;
    }
    if (d.dateTime) {
        const Problem problem = d.validateDateTime(*d.dateTime);
        if (!problem.ok())
            return problem;
    }
    const QStringList passwords = d.oldPasswords();
    if (d.systemName
        && (!isNameOrPassword(*d.systemName)
            || longestLine(QStringLiteral("systemName"), *d.systemName, passwords) > rules::kMaxRequestLineBytes))
        return Problem{SystemNameField, QString(), *d.systemName};
    if (d.password
        && (!isNameOrPassword(*d.password)
            || longestLine(QStringLiteral("password"), *d.password, passwords) > rules::kMaxRequestLineBytes))
        return Problem{PasswordField, QString(), *d.password};
    return Problem();
}

bool ChangeDraft::submit(ChangesManager &manager) const
{
    if (!validate().ok())
        return false;
    const Impl &d = *m_impl;
    if (d.dateTime) {
        const DateTimeEdit &edit = *d.dateTime;
        // A clock read now runs on until each server gets it; what the
        // operator typed goes as typed.
        if (edit.useCurrent)
            manager.addCurrentDateTimeChange(QDateTime::currentMSecsSinceEpoch(), edit.zoneId);
        else if (edit.typed || edit.serversClockMs <= 0)
            manager.addDateTimeChange(edit.date, edit.time, edit.zoneId);
        else
            manager.addCurrentDateTimeChange(edit.serversClockMs, edit.zoneId);
    }
    if (d.port)
        manager.addPortChange(d.port->toInt());
    if (d.dhcpOnAll)
        manager.turnOnDhcp();
    const auto addressOrNone = [](const QString &text) { return rules::isEmptyAddress(text) ? QString() : text; };
    for (const InterfaceEdit &line : d.interfaces) {
        bool somethingChanged = line.dhcpChanged;
        if (!line.useDhcp) {
            manager.addAddressChange(line.name, line.address);
            manager.addMaskChange(line.name, line.mask);
            somethingChanged = true;
        }
        if (line.dns) {
            manager.addDNSChange(line.name, addressOrNone(*line.dns));
            somethingChanged = true;
        }
        if (line.gateway) {
            manager.addGatewayChange(line.name, addressOrNone(*line.gateway));
            somethingChanged = true;
        }
        // The DHCP state always goes with any other change of the line.
        if (somethingChanged)
            manager.addDHCPChange(line.name, line.useDhcp);
    }
    if (d.systemName)
        manager.addSystemChange(*d.systemName);
    if (d.password)
        manager.addPasswordChange(*d.password);
    return true;
}

QVector<QPair<ChangeSetting, QString>> ChangeDraft::settings() const
{
    const Impl &d = *m_impl;
    QVector<QPair<ChangeSetting, QString>> result;
    if (d.dateTime) {
        const DateTimeEdit &edit = *d.dateTime;
        const QTimeZone zone = timeZoneById(edit.zoneId);
        qint64 instant = edit.serversClockMs;
        if (edit.useCurrent)
            instant = QDateTime::currentMSecsSinceEpoch();
        else if (edit.typed || instant <= 0)
            instant = utcMsFromWallClock(edit.date, edit.time, zone);
        result.append({ChangeSetting::DateTime, isoDateTimeText(instant, zone)});
        result.append({ChangeSetting::TimeZone, ianaZoneId(edit.zoneId)});
    }
    if (d.systemName)
        result.append({ChangeSetting::SystemName, *d.systemName});
    if (d.password)
        result.append({ChangeSetting::Password, QString()});
    if (d.port)
        result.append({ChangeSetting::Port, *d.port});
    if (d.dhcpOnAll)
        result.append({ChangeSetting::Dhcp, QStringLiteral("on")});
    return result;
}

} // namespace rtu
