#include "changes/change_outcome.h"

#include "protocol/server_requests.h"

#include <iterator>

namespace rtu {

namespace {

struct SettingNames
{
    const char *rowName;
    const char *key;
};

// In the order of ChangeSetting.
constexpr SettingNames kSettings[] = {
    {"date / time", "dateTime"}, {"time zone", "timeZone"}, {"system name", "systemName"},
    {"password", "password"},    {"port", "port"},          {"dhcp", "dhcp"},
    {"ip", "address"},           {"mask", "mask"},          {"dns", "dns"},
    {"gateway", "gateway"},
};

// In the order of ChangeReason.
constexpr const char *kReasonKeys[] = {
    "", "refused", "unauthorized", "httpError", "network", "unanswered", "notReported", "notConfirmed",
    "confirmationTimeout", "portNotAnnounced", "interrupted", "timeLimit", "loginFailed", "passwordRejected",
    "loginPending", "conflict",
};

static_assert(std::size(kSettings) == size_t(ChangeSetting::Gateway) + 1, "a setting without names");
static_assert(std::size(kReasonKeys) == size_t(ChangeReason::Conflict) + 1, "a reason without a key");

} // namespace

QString settingRowName(ChangeSetting setting)
{
    return QString::fromLatin1(kSettings[size_t(setting)].rowName);
}

QString settingKey(ChangeSetting setting)
{
    return QString::fromLatin1(kSettings[size_t(setting)].key);
}

QString reasonKey(ChangeReason reason)
{
    return QString::fromLatin1(kReasonKeys[size_t(reason)]);
}

QString resultKey(ChangeOutcome::Result result)
{
    switch (result) {
    case ChangeOutcome::Result::Pending:
        return QStringLiteral("pending");
    case ChangeOutcome::Result::Ok:
        return QStringLiteral("ok");
    case ChangeOutcome::Result::Failed:
        return QStringLiteral("failed");
    case ChangeOutcome::Result::NotSent:
        break;
    }
    return QStringLiteral("notSent");
}

ChangeReason reasonOf(int errorCode, const QString &reason, bool flagReported)
{
    if (errorCode == 0 && reason.isEmpty())
        return flagReported ? ChangeReason::None : ChangeReason::NotReported;
    // The request layer words a change that may have gone through so.
    const bool mayHaveGoneThrough = mayHaveBeenApplied(reason) == reason;
    if (errorCode == 0)
        return mayHaveGoneThrough ? ChangeReason::Unanswered : ChangeReason::Network;
    if (errorCode == -1)
        return mayHaveGoneThrough ? ChangeReason::Unanswered : ChangeReason::Refused;
    return errorCode == 401 ? ChangeReason::Unauthorized : ChangeReason::HttpError;
}

} // namespace rtu
