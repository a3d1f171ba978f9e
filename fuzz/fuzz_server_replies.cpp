// The replies of a server to every request of its REST API, answered from
// the fuzzer's bytes through a client without sockets. The first section
// names the request (and may give the server's flags on a second line);
// each further section is one reply, "STATUS REASON" and the body:
//
//   extra
//   SF_timeCtrl SF_IfListCtrl
//   ---
//   200 OK
//   {"error": "0", "reply": {"utcTime": "1700000000000", "timezoneId": "UTC"}}
//
// Every request reports exactly once, with a code its reply explains, and
// every record it accepts, written back as a reply, reads the same.
#include "fuzz_support.h"

#include "core/json_object.h"
#include "protocol/server_requests.h"

using namespace rtu;

namespace {

struct Outcome
{
    int calls = 0;
    bool success = false;
    int code = 0;
    AffectedEntities affected;
    ExtraServerInfo extra;
};

void checkTimeRoundTrip(const ExtraServerInfo &extra)
{
    ExtraServerInfo again;
    FUZZ_CHECK(parseTimeReply(parseJsonObject(fuzz::timeReplyBody(extra)).value_or(QJsonObject()), again));
    FUZZ_CHECK(again.utcDateTimeMs == extra.utcDateTimeMs);
    FUZZ_CHECK(again.timeZoneId == extra.timeZoneId);
}

void checkInterfacesRoundTrip(const InterfaceInfoList &interfaces)
{
    if (interfaces.isEmpty())
        return; // a login without them; an empty list is not a reply
    for (const InterfaceInfo &item : interfaces) {
        for (const QString &text : {item.name, item.ip, item.macAddress, item.mask, item.gateway, item.dns}) {
            if (!fuzz::wellFormed(text))
                return;
        }
    }
    ExtraServerInfo again;
    FUZZ_CHECK(
        parseInterfacesReply(parseJsonObject(fuzz::interfacesReplyBody(interfaces)).value_or(QJsonObject()), again));
    FUZZ_CHECK(fuzz::sameInterfaces(again.interfaces, interfaces));
}

// One client for the whole run: making one per input costs more than the
// input itself.
fuzz::FakeHttpClient *client = nullptr;

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::ensureApplication();
    client = new fuzz::FakeHttpClient;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QList<QByteArray> parts = fuzz::sections(QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(size)));
    const QByteArray operation = fuzz::firstLine(parts.first());
    const QByteArray flagsLine = fuzz::firstLine(fuzz::afterFirstLine(parts.first()));

    BaseServerInfo base;
    base.id = QUuid::fromString(QStringLiteral("{6b1f07f5-3c5e-4a57-9a4e-2f6f7b0c9d11}"));
    base.hostAddress = QStringLiteral("127.0.0.2");
    base.port = 7001;
    base.flags = flagsLine.isEmpty() ? int(Constants::AllowChangeDateTimeFlag | Constants::AllowIfConfigFlag)
                                     : flagsFromText(QString::fromLatin1(flagsLine));
    const ServerInfo loggedIn(base, ExtraServerInfo(QStringLiteral("738"), 1, 1, "UTC", {}));

    const int sentBefore = client->sentCount();
    Outcome outcome;
    const ExtraInfoCallback success = [&outcome, &base](const QUuid &id, const ExtraServerInfo &extra) {
        FUZZ_CHECK(id == base.id);
        ++outcome.calls;
        outcome.success = true;
        outcome.extra = extra;
    };
    const OperationCallback failed = [&outcome](int code, const QString &, AffectedEntities affected) {
        ++outcome.calls;
        outcome.code = code;
        outcome.affected = affected;
    };

    AffectedEntities expected;
    bool reading = true;
    if (operation == "extra") {
        requestExtraServerInfo(client, base, QStringLiteral("738"), success, failed, 0);
        expected = AllDateTimeEntitiesAffected;
    } else if (operation == "gettime") {
        sendGetTimeRequest(client, base, QStringLiteral("738"), success, failed, 0);
        expected = AllDateTimeEntitiesAffected;
    } else if (operation == "iflist") {
        sendIfListRequest(client, base, QStringLiteral("738"), success, failed, 2000);
        expected = base.flags & Constants::AllowIfConfigFlag ? AllInterfaceEntitiesAffected : AllEntitiesAffected;
    } else {
        reading = false;
        if (operation == "settime") {
            sendSetTimeRequest(client, loggedIn, 1700000000000, "Europe/Berlin", failed);
            expected = AllDateTimeEntitiesAffected;
        } else if (operation == "systemName") {
            sendChangeSystemNameRequest(client, loggedIn, QStringLiteral("North"), failed);
            expected = SystemNameAffected;
        } else if (operation == "password") {
            sendChangePasswordRequest(client, loggedIn, QStringLiteral("secret"), false, failed);
            expected = PasswordAffected;
        } else if (operation == "port") {
            sendChangePortRequest(client, loggedIn, 7002, failed);
            expected = PortAffected;
        } else if (operation == "ifconfig") {
            InterfaceChange change(QStringLiteral("eth0"));
            change.useDHCP = false;
            change.address = QStringLiteral("10.0.0.2");
            change.mask = QStringLiteral("255.0.0.0");
            change.dns = QStringLiteral("10.0.0.1");
            change.gateway = QStringLiteral("10.0.0.1");
            sendIfConfigRequest(client, loggedIn, {change}, failed);
            expected = AllInterfaceEntitiesAffected;
        } else {
            return 0;
        }
    }

    // Replies in order, then time-outs for whatever is still waiting. A
    // request leads to at most one more (the interfaces after the time).
    QList<fuzz::Reply> answered;
    for (int next = 1; client->hasPending(); ++next) {
        FUZZ_CHECK(client->sentCount() - sentBefore <= 2);
        if (next < parts.size()) {
            answered.append(fuzz::parseReply(parts.at(next)));
            client->answerOldest(answered.last());
        } else {
            answered.append(fuzz::Reply{0, QString(), QByteArray()});
            client->timeOutOldest();
        }
    }
    FUZZ_CHECK(outcome.calls == 1);

    if (outcome.success) {
        FUZZ_CHECK(reading);
        const fuzz::Reply &first = answered.first();
        FUZZ_CHECK(first.status >= 200 && first.status <= 299);
        if (operation != "iflist") {
            FUZZ_CHECK(outcome.extra.password == QStringLiteral("738"));
            checkTimeRoundTrip(outcome.extra);
        } else {
            FUZZ_CHECK(outcome.extra.password.isEmpty() && !outcome.extra.interfaces.isEmpty());
        }
        checkInterfacesRoundTrip(outcome.extra.interfaces);
        return 0;
    }
    FUZZ_CHECK(outcome.affected == expected);
    if (answered.isEmpty()) {
        FUZZ_CHECK(outcome.code == -1); // refused before sending
        return 0;
    }
    // A failure comes from the first reply: a reading request's second step
    // never fails the request.
    const fuzz::Reply &first = answered.first();
    const bool accepted = first.status >= 200 && first.status <= 299;
    if (accepted)
        FUZZ_CHECK(reading ? outcome.code == -1 : outcome.code == 0 || outcome.code == -1);
    else
        FUZZ_CHECK(outcome.code == first.status);
    return 0;
}
