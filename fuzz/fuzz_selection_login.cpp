// Logging in through the servers selection model: discovery records and the
// servers' replies, in any order, drive the model through its slots; its
// logins go over a client without sockets. Each section is one event:
//
//   add | change | seen       and an answer datagram on the next lines
//   reply STATUS REASON       and the body: answers the oldest request
//   timeout                   the oldest request times out
//   login D SYSTEM            the operator's password "pD" for SYSTEM
//   select R | only R | all | none | remove R
//   unknown ADDRESS | gone ADDRESS
//
// The model stays consistent (QAbstractItemModelTester), every login ends,
// the operator's callback comes at most once, and every logged-in server's
// record, written back as replies, reads the same.
#include "fuzz_support.h"

#include "core/json_object.h"
#include "discovery/servers_finder.h"
#include "models/servers_selection_model.h"
#include "protocol/server_info_manager.h"
#include "protocol/server_requests.h"

#include <QAbstractItemModelTester>
#include <QCoreApplication>

using namespace rtu;
using Model = ServersSelectionModel;

namespace {

int number(const QByteArray &text)
{
    return text.trimmed().toInt();
}

QUuid idAt(const Model &model, int row)
{
    return model.data(model.index(row, 0), Model::IdRole).toUuid();
}

void checkLoggedIn(const ServerInfo &server)
{
    FUZZ_CHECK(server.hasExtraInfo());
    const ExtraServerInfo &extra = server.extraInfo();
    FUZZ_CHECK(ServerInfoManager::knownPasswords().contains(extra.password));
    ExtraServerInfo time;
    FUZZ_CHECK(parseTimeReply(parseJsonObject(fuzz::timeReplyBody(extra)).value_or(QJsonObject()), time));
    FUZZ_CHECK(time.utcDateTimeMs == extra.utcDateTimeMs && time.timeZoneId == extra.timeZoneId);
    for (const InterfaceInfo &item : extra.interfaces) {
        for (const QString &text : {item.name, item.ip, item.macAddress, item.mask, item.gateway, item.dns}) {
            if (!fuzz::wellFormed(text))
                return;
        }
    }
    if (extra.interfaces.isEmpty())
        return;
    ExtraServerInfo interfaces;
    FUZZ_CHECK(parseInterfacesReply(parseJsonObject(fuzz::interfacesReplyBody(extra.interfaces)).value_or(QJsonObject()),
                                    interfaces));
    FUZZ_CHECK(fuzz::sameInterfaces(interfaces.interfaces, extra.interfaces));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::ensureApplication();
    return 0;
}

static void run(const QByteArray &input)
{
    // Declared before the model, which may still hold the operator's callback.
    int callbacks = 0;
    int logins = 0;
    int hosts = 0;
    ServersSelectionTiming timing;
    timing.refreshThrottleMs = 0;
    auto *client = new fuzz::FakeHttpClient;
    Model model(nullptr, timing, client);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);

    const QList<QByteArray> events = fuzz::sections(input);
    for (const QByteArray &event : events) {
        const QByteArray line = fuzz::firstLine(event);
        const int blank = line.indexOf(' ');
        const QByteArray verb = blank < 0 ? line : line.left(blank);
        const QByteArray argument = blank < 0 ? QByteArray() : line.mid(blank + 1);
        if (verb == "add" || verb == "change" || verb == "seen") {
            std::optional<BaseServerInfo> record = ServersFinder::parseAnswer(fuzz::afterFirstLine(event));
            if (!record)
                continue;
            record->hostAddress = QStringLiteral("127.0.0.%1").arg(2 + hosts++ % 8);
            if (verb == "add")
                model.addServer(*record);
            else if (verb == "change")
                model.changeServer(*record);
            else
                model.serverDiscovered(*record);
        } else if (verb == "reply" && client->hasPending()) {
            client->answerOldest(fuzz::parseReply(argument + '\n' + fuzz::afterFirstLine(event)));
        } else if (verb == "timeout" && client->hasPending()) {
            client->timeOutOldest();
        } else if (verb == "login") {
            ++logins;
            const int split = argument.indexOf(' ');
            const QString password = QStringLiteral("p%1").arg(number(argument.left(1)) % 10);
            const QString system = split < 0 ? QString() : QString::fromUtf8(argument.mid(split + 1));
            int *count = &callbacks;
            model.tryLoginWith(system, password, [count]() { ++*count; });
        } else if (verb == "select") {
            model.changeItemSelectedState(number(argument));
        } else if (verb == "only") {
            model.setItemSelected(number(argument));
        } else if (verb == "all" || verb == "none") {
            model.setAllItemSelected(verb == "all");
        } else if (verb == "remove") {
            model.removeServers({idAt(model, number(argument))});
        } else if (verb == "unknown") {
            model.unknownAdded(QString::fromUtf8(argument));
        } else if (verb == "gone") {
            model.unknownRemoved(QString::fromUtf8(argument));
        }
        QCoreApplication::processEvents();
    }

    // Every login ends: a time-out stops it, a refresh that fails tries the
    // known passwords once more from the first.
    const int waiting = client->pendingCount();
    int drained = 0;
    while (client->hasPending()) {
        client->timeOutOldest();
        FUZZ_CHECK(++drained <= 2 * waiting);
    }
    FUZZ_CHECK(callbacks <= logins);
    QCoreApplication::processEvents();

    int loggedRows = 0;
    for (int row = 0; row < model.rowCount(); ++row)
        loggedRows += model.data(model.index(row, 0), Model::LoggedInRole).toBool() ? 1 : 0;
    model.setAllItemSelected(true);
    const ServerInfoPtrContainer selected = model.selectedServers();
    FUZZ_CHECK(selected.size() == loggedRows);
    for (const ServerInfo *server : selected)
        checkLoggedIn(*server);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    run(QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(size)));
    // What the model left for deletion goes now, so that every input ends
    // with the heap it started with (libFuzzer checks for leaks otherwise).
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return 0;
}
