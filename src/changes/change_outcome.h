#pragma once

#include <QString>
#include <QUuid>

#include <optional>

namespace rtu {

// The settings a run changes, one result row each (an interface's per member).
enum class ChangeSetting { DateTime, TimeZone, SystemName, Password, Port, Dhcp, Address, Mask, Dns, Gateway };

// Why a row did not succeed, in words a script can rely on; the text beside
// it is for people and may change.
enum class ChangeReason {
    None,
    // The server answered the change with an error.
    Refused,
    // The server refused the password the change was sent with.
    Unauthorized,
    // Another HTTP error status.
    HttpError,
    // No answer: connection refused, closed or timed out.
    Network,
    // The change went out and no answer that can be read came back: it may
    // have been applied.
    Unanswered,
    // The server accepted the request without reporting this setting changed.
    NotReported,
    // The server never showed the new interface settings.
    NotConfirmed,
    ConfirmationTimeout,
    // The server took a new port and still announces the old one.
    PortNotAnnounced,
    // Not sent: the run was stopped (Ctrl-C).
    Interrupted,
    // Not sent, or sent and unanswered, when the run's time limit came.
    TimeLimit,
    // Not sent: the server was found but could not be changed.
    LoginFailed,
    PasswordRejected,
    LoginPending,
    Conflict,
};

// One row of a run: one setting of one server.
struct ChangeOutcome
{
    enum class Result { Pending, Ok, Failed, NotSent };

    QUuid serverId;
    ChangeSetting setting = ChangeSetting::SystemName;
    // Interface rows only.
    QString interfaceName;
    // As scripts read it: a port in decimal, a zone as its IANA id, a date
    // and time in ISO 8601 with its offset, DHCP "on" or "off"; empty for a
    // password, which is never kept here.
    QString value;
    // The value before the change, where the tool knew it (same form).
    std::optional<QString> oldValue;
    Result result = Result::Pending;
    ChangeReason reason = ChangeReason::None;
    QString reasonText;
    // What the summary shows as the value.
    QString shownValue;
};

// "date / time", "port", ...: the setting names of the summary rows.
QString settingRowName(ChangeSetting setting);
// "dateTime", "port", ...
QString settingKey(ChangeSetting setting);
// "refused", "timeLimit", ...; empty for None.
QString reasonKey(ChangeReason reason);
// "ok", "failed", "notSent" ("pending" only before a row is answered).
QString resultKey(ChangeOutcome::Result result);

// The reason of a failed row from what the request layer reported:
// errorCode 0 with a reason is a transport failure, -1 the server's refusal
// (or an answer not understood), anything else an HTTP status; a change
// that may have gone through is unanswered. A request accepted without the
// row's flag did not report the setting changed.
ChangeReason reasonOf(int errorCode, const QString &reason, bool flagReported);

} // namespace rtu
