#include "protocol/http_client.h"

#include <QCryptographicHash>
#include <QHash>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QTimer>

#include <algorithm>
#include <limits>

namespace rtu {

namespace {

QString errorText(QNetworkReply::NetworkError code)
{
    switch (code) {
    case QNetworkReply::NoError:
        return QString();
    case QNetworkReply::TimeoutError:
    case QNetworkReply::OperationCanceledError:
        return QStringLiteral("Request Timed Out");
    default:
        return QStringLiteral("#%1").arg(static_cast<int>(code));
    }
}

} // namespace

class HttpClient::Impl : public QObject
{
public:
    struct Pending
    {
        OnSuccessReply success;
        OnErrorReply failure;
        bool tooLarge = false;
    };

    explicit Impl(HttpClient *owner)
        : QObject(owner), owner(owner), manager(new QNetworkAccessManager(this))
    {
        connect(manager, &QNetworkAccessManager::finished, this, &Impl::onReply);
    }

    static QNetworkRequest makeRequest(const QUrl &url)
    {
        QNetworkRequest request(url);
        // Qt keeps one set of credentials per pooled connection to a server
        // and shares it between the parallel connections to that server, so
        // two requests with different passwords in flight at once could each
        // authenticate with the other's. The connection pool is also keyed by
        // the peer verification name, so each set of credentials gets
        // connections of its own.
        request.setPeerVerifyName(QString::fromLatin1(
            QCryptographicHash::hash(url.userInfo(QUrl::FullyEncoded).toUtf8(), QCryptographicHash::Sha256)
                .toHex()));
        // A URL without a password would be answered with credentials cached
        // from an earlier request to that server, so an empty password could
        // pass for a real one: such a request sends no credentials.
        if (url.password().isEmpty())
            request.setAttribute(QNetworkRequest::AuthenticationReuseAttribute, QNetworkRequest::Manual);
        return request;
    }

    void sendGet(const QUrl &url, const OnSuccessReply &success, const OnErrorReply &failure, qint64 timeoutMs)
    {
        track(manager->get(makeRequest(url)), success, failure, timeoutMs);
    }

    void sendPost(const QUrl &url, const QByteArray &body, const OnSuccessReply &success,
                  const OnErrorReply &failure, qint64 timeoutMs)
    {
        QNetworkRequest request = makeRequest(url);
        request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
        track(manager->post(request, body), success, failure, timeoutMs);
    }

    void track(QNetworkReply *reply, const OnSuccessReply &success, const OnErrorReply &failure, qint64 timeoutMs)
    {
        armTimeout(reply, timeoutMs);
        replies.insert(reply, Pending{success, failure, false});

        connect(reply, &QNetworkReply::metaDataChanged, this, [this, reply]() {
            const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
            if (length.isValid() && length.toLongLong() > kMaxReplyBytes)
                abortTooLarge(reply);
        });
        connect(reply, &QNetworkReply::downloadProgress, this, [this, reply](qint64 received, qint64) {
            if (received > kMaxReplyBytes)
                abortTooLarge(reply);
        });
    }

    void armTimeout(QNetworkReply *reply, qint64 timeoutMs)
    {
        if (timeoutMs < 0)
            return;
        // The timer must not keep the reply alive nor outlive it harmfully:
        // it only holds a guarded pointer. A coarse timer could fire up to 5%
        // early, cutting a slow server off before its time.
        QPointer<QNetworkReply> guard(reply);
        const qint64 intervalMs = std::min<qint64>(timeoutMs == 0 ? kDefaultTimeoutMs : timeoutMs,
                                                   std::numeric_limits<int>::max());
        QTimer::singleShot(int(intervalMs), Qt::PreciseTimer, [guard]() {
            if (guard)
                guard->abort();
        });
    }

    void abortTooLarge(QNetworkReply *reply)
    {
        const auto it = replies.find(reply);
        if (it == replies.end() || it->tooLarge)
            return;
        it->tooLarge = true;
        reply->abort();
    }

    void onReply(QNetworkReply *reply)
    {
        reply->deleteLater();
        const auto it = replies.find(reply);
        if (it == replies.end())
            return;
        const Pending pending = it.value();
        replies.erase(it);

        const QNetworkReply::NetworkError error = reply->error();
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (error == QNetworkReply::NoError && status >= 200 && status <= 299 && !pending.tooLarge) {
            if (pending.success)
                callBack([&]() { pending.success(reply->readAll()); });
            return;
        }
        if (pending.failure) {
            const QString reason = failureReason(reply, error, pending.tooLarge);
            callBack([&]() { pending.failure(reason, status); });
        }
    }

    static QString failureReason(QNetworkReply *reply, QNetworkReply::NetworkError error, bool tooLarge)
    {
        if (tooLarge)
            return QStringLiteral("Network Error: Reply too large");
        // A time-out that strikes after the status line arrived must not pass
        // the server's phrase (say "OK") off as the reason of the failure.
        const bool timedOut =
            error == QNetworkReply::TimeoutError || error == QNetworkReply::OperationCanceledError;
        const QVariant phrase = reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute);
        const QString reason = phrase.isValid() && !timedOut ? phrase.toString() : QString();
        return reason.isEmpty() ? QStringLiteral("Network Error: %1").arg(errorText(error)) : reason;
    }

    // The callback may destroy this client; nothing of it is touched after.
    template<typename Call>
    void callBack(const Call &call)
    {
        QPointer<Impl> alive(this);
        ++callbackDepth;
        call();
        if (alive)
            --callbackDepth;
    }

    HttpClient *const owner;
    QNetworkAccessManager *const manager;
    QHash<QNetworkReply *, Pending> replies;
    int callbackDepth = 0;
};

HttpClient::HttpClient(QObject *parent) : QObject(parent), m_impl(new Impl(this)) {}

HttpClient::~HttpClient()
{
    // Pending callbacks are dropped unanswered; the replies go with the
    // manager, so their armed time-outs find nothing to abort.
    m_impl->replies.clear();
    disconnect(m_impl->manager, nullptr, m_impl, nullptr);
    if (m_impl->callbackDepth > 0) {
        // Destroyed from one of its callbacks: Qt is still inside the finished
        // signal of that reply, which must outlive this call.
        m_impl->manager->setParent(nullptr);
        m_impl->manager->deleteLater();
    }
}

void HttpClient::sendGet(const QUrl &url, const OnSuccessReply &success, const OnErrorReply &failure,
                         qint64 timeoutMs)
{
    m_impl->sendGet(url, success, failure, timeoutMs);
}

void HttpClient::sendPost(const QUrl &url, const QByteArray &body, const OnSuccessReply &success,
                          const OnErrorReply &failure, qint64 timeoutMs)
{
    m_impl->sendPost(url, body, success, failure, timeoutMs);
}

} // namespace rtu
