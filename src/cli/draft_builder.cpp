#include "cli/draft_builder.h"

#include "cli/cli_options.h"
#include "cli/secret_input.h"
#include "core/date_time_helpers.h"
#include "core/input_rules.h"
#include "models/selection.h"
#include "protocol/server_requests.h"

#include <QDateTime>

namespace rtu::cli {

namespace {

// Why a name or password is refused.
QString textRefusal(const QString &text)
{
    if (text.isEmpty() || (rules::isBlank(text) && rules::isPlainText(text)))
        return QStringLiteral("it is blank");
    if (!rules::isPlainText(text))
        return QStringLiteral("it holds a control character");
    return QStringLiteral("it would make a request longer than the %1 bytes servers take on a line")
        .arg(rules::kMaxRequestLineBytes);
}

// The zone and clock of --set-time and --set-zone on the selected servers.
DateTimeEdit dateTimeEdit(const Options &options, const Selection &selection, const QByteArray &zoneId)
{
    DateTimeEdit edit;
    edit.zoneId = zoneId;
    edit.serversClockMs = selection.currentClockMs();
    if (!options.time) {
        // A new zone alone keeps the servers' clock running, as the window
        // does with fields it shows and nobody typed in.
        const QDateTime shown = selection.dateTimeIn(zoneId);
        edit.date = shown.date();
        edit.time = shown.time();
        return edit;
    }
    const TimeSetting &time = *options.time;
    edit.useCurrent = time.now;
    edit.typed = true;
    if (time.instantMs) {
        const QDateTime wall = wallClockInZone(*time.instantMs, timeZoneById(zoneId));
        edit.date = wall.date();
        edit.time = wall.time();
    } else {
        edit.date = time.date;
        edit.time = time.time;
    }
    return edit;
}

} // namespace

void fillDraft(const Options &options, const Secrets &secrets, ChangeDraft &draft, const Selection *selection)
{
    draft.clear();
    for (const QString &password : secrets.loginPasswords)
        draft.addCurrentPassword(password);
    if (options.port)
        draft.setPort(*options.port);
    if (options.dhcpOn)
        draft.turnOnDhcp();
    for (const InterfaceEdit &edit : options.interfaces)
        draft.addInterface(edit);
    if (selection && (options.time || !options.zoneId.isEmpty()))
        draft.setDateTime(dateTimeEdit(options, *selection, options.zoneId));
    if (options.systemName)
        draft.setSystemName(*options.systemName);
    if (options.setPassword)
        draft.setPassword(secrets.newPassword);
}

QString checkValues(const Options &options, const Secrets &secrets, bool withPasswords)
{
    for (int i = 0; i < secrets.loginPasswords.size(); ++i) {
        const QString &password = secrets.loginPasswords.at(i);
        // Every change sends the password it logged in with on its line.
        const int line = configureRequestLineBytes({{QStringLiteral("port"), QString::number(rules::kMaxPort)},
                                                    {QStringLiteral("oldPassword"), password}});
        if (!rules::isPlainText(password) || line > rules::kMaxRequestLineBytes)
            return QStringLiteral("--login %1: invalid password: %2")
                .arg(shownValue(options.logins.value(i)), textRefusal(password));
    }
    Options values = options;
    values.setPassword = values.setPassword && withPasswords;
    ChangeDraft draft;
    fillDraft(values, secrets, draft);
    return problemText(draft.validate());
}

QString problemText(const ChangeDraft::Problem &problem)
{
    const QString value = shownValue(problem.value);
    const auto ofInterface = [&problem, &value](const QString &what) {
        return QStringLiteral("--set-ip: invalid %1 for interface %2: \"%3\"")
            .arg(what, shownValue(problem.interfaceName), value);
    };
    switch (problem.field) {
    case ChangeDraft::NoField:
        return QString();
    case ChangeDraft::PortField:
        return QStringLiteral("--set-port: invalid port \"%1\" (%2 to %3)")
            .arg(value)
            .arg(rules::kMinPort)
            .arg(rules::kMaxPort);
    case ChangeDraft::SystemNameField:
        return QStringLiteral("--set-system-name: invalid system name: %1").arg(textRefusal(problem.value));
    case ChangeDraft::PasswordField:
        return QStringLiteral("--set-password: invalid password: %1").arg(textRefusal(problem.value));
    case ChangeDraft::AddressField:
        return ofInterface(QStringLiteral("ip address"));
    case ChangeDraft::MaskField:
        return ofInterface(QStringLiteral("mask")) + QStringLiteral(" (dotted, its ones before its zeros, such as 255.255.255.0)");
    case ChangeDraft::DnsField:
        return ofInterface(QStringLiteral("dns"));
    case ChangeDraft::GatewayField:
        return ofInterface(QStringLiteral("gateway"));
    case ChangeDraft::TimeZoneField:
        return QStringLiteral("--set-zone: invalid time zone \"%1\"").arg(value);
    case ChangeDraft::DateField:
        return QStringLiteral("--set-time: invalid date: the year must be between %1 and %2")
            .arg(rules::kMinYear)
            .arg(rules::kMaxYear);
    case ChangeDraft::TimeField:
        break;
    }
    return QStringLiteral("--set-time: invalid time");
}

} // namespace rtu::cli
