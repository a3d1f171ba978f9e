#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QUrl>

#include <functional>

namespace rtu {

// The one transport of the servers' REST requests: GET and POST with a
// time-out, each ending in exactly one call of either callback.
class HttpClient : public QObject
{
    Q_OBJECT

public:
    using OnSuccessReply = std::function<void(const QByteArray &body)>;
    using OnErrorReply = std::function<void(const QString &reason, int httpStatus)>;

    // Time-out argument: negative arms none, 0 means the default.
    static constexpr qint64 kDefaultTimeoutMs = 10000;
    // Larger reply bodies are aborted: a broken or hostile server must not
    // be able to exhaust the tool's memory.
    static constexpr qint64 kMaxReplyBytes = 4 * 1024 * 1024;

    explicit HttpClient(QObject *parent);
    ~HttpClient() override;

    // Virtual so that fuzzing and tests can answer requests without sockets.
    virtual void sendGet(const QUrl &url, const OnSuccessReply &success, const OnErrorReply &failure,
                         qint64 timeoutMs);
    virtual void sendPost(const QUrl &url, const QByteArray &body, const OnSuccessReply &success,
                          const OnErrorReply &failure, qint64 timeoutMs);

private:
    class Impl;
    Impl *const m_impl;
};

} // namespace rtu
