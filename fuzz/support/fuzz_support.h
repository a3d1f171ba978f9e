#pragma once

#include "core/server_info.h"
#include "protocol/http_client.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUrl>

#include <deque>

// Helpers shared by the fuzz targets: a failed property stops the run with a
// message (libFuzzer then keeps the input), a client that answers from the
// fuzzer's bytes instead of sockets, and writers of the documented formats
// for the round trips.

#define FUZZ_CHECK(condition) \
    ((condition) ? void() : rtu::fuzz::fail(#condition, __FILE__, __LINE__))

namespace rtu::fuzz {

[[noreturn]] void fail(const char *what, const char *file, int line);

// The application object the tool's classes expect; made once per process.
void ensureApplication();

// An input split into sections at each line "---". Texts with a line for
// each part are how every target reads its input, so seeds stay readable.
QList<QByteArray> sections(const QByteArray &data);

// The first line of a section and the rest.
QByteArray firstLine(const QByteArray &section);
QByteArray afterFirstLine(const QByteArray &section);

// How a server answers one request: "STATUS REASON" on the first line, the
// body after it. A status that is not a number is a transport failure
// (status 0), like a refused connection.
struct Reply
{
    int status = 0;
    QString reason;
    QByteArray body;
};
Reply parseReply(const QByteArray &section);

// Answers requests from a queue the target fills, in the order they were
// sent, exactly as HttpClient reports: success with the body for 2xx,
// failure with the reason (or "Network Error: ...") and the status
// otherwise. Nothing goes on the network.
class FakeHttpClient : public HttpClient
{
public:
    struct Request
    {
        QUrl url;
        QByteArray body;
        bool post = false;
        OnSuccessReply success;
        OnErrorReply failure;
    };

    explicit FakeHttpClient(QObject *parent = nullptr);

    void sendGet(const QUrl &url, const OnSuccessReply &success, const OnErrorReply &failure, qint64 timeoutMs,
                 Kind kind) override;
    void sendPost(const QUrl &url, const QByteArray &body, const OnSuccessReply &success,
                  const OnErrorReply &failure, qint64 timeoutMs, Kind kind) override;

    bool hasPending() const { return !m_pending.empty(); }
    int pendingCount() const { return int(m_pending.size()); }
    int sentCount() const { return m_sent; }
    const Request &oldest() const { return m_pending.front(); }
    // Answers the oldest request; its callbacks may send new ones.
    void answerOldest(const Reply &reply);
    // Answers the oldest request as timed out.
    void timeOutOldest();

private:
    std::deque<Request> m_pending;
    int m_sent = 0;
};

// The documented formats, written from records, for the round trips.
QByteArray answerDatagram(const BaseServerInfo &info);
QByteArray timeReplyBody(const ExtraServerInfo &extra);
QByteArray interfacesReplyBody(const InterfaceInfoList &interfaces);

// Whether a text survives UTF-8 unchanged: JSON writers replace a lone
// surrogate, which a peer can send as an escape.
bool wellFormed(const QString &text);

// Whether two records agree on everything a reply carries.
bool sameAnswer(const BaseServerInfo &first, const BaseServerInfo &second);
bool sameInterfaces(const InterfaceInfoList &first, const InterfaceInfoList &second);

} // namespace rtu::fuzz
