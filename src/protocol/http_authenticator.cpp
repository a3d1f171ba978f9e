#include "protocol/http_authenticator.h"

#include <QRandomGenerator>

namespace rtu {

namespace {

QByteArray clientNonce()
{
    return QByteArray::number(QRandomGenerator::global()->generate64(), 16).rightJustified(16, '0');
}

} // namespace

QByteArray HttpAuthenticator::authorization(const QString &server, Attempt &attempt, const QByteArray &method,
                                            const QByteArray &target)
{
    attempt.sentBasic = false;
    if (attempt.password.isEmpty())
        return QByteArray();
    const auto digest = m_digests.find(digestKey(server, attempt));
    if (digest != m_digests.end())
        return digest->authorization(method, target, attempt.user, attempt.password, clientNonce());
    // A server known to want Digest is asked for a challenge first rather
    // than shown the password in the open.
    if (m_digestServers.contains(server))
        return QByteArray();
    attempt.sentBasic = true;
    return basicAuthorization(attempt.user, attempt.password);
}

HttpAuthenticator::Scheme HttpAuthenticator::answerChallenge(const QString &server, Attempt &attempt,
                                                             const QByteArray &challenges)
{
    if (attempt.answeredChallenge || attempt.password.isEmpty())
        return Scheme::None;
    const QList<HttpChallenge> parsed = HttpChallenge::parse(challenges);
    for (const HttpChallenge &challenge : parsed) {
        if (const auto digest = HttpDigest::fromChallenge(challenge)) {
            m_digests.insert(digestKey(server, attempt), *digest);
            m_digestServers.insert(server);
            attempt.answeredChallenge = true;
            return Scheme::Digest;
        }
    }
    for (const HttpChallenge &challenge : parsed) {
        if (challenge.scheme == "basic" && !attempt.sentBasic) {
            m_digests.remove(digestKey(server, attempt));
            m_digestServers.remove(server);
            attempt.answeredChallenge = true;
            return Scheme::Basic;
        }
    }
    return Scheme::None;
}

void HttpAuthenticator::rejected(const QString &server, const Attempt &attempt)
{
    m_digests.remove(digestKey(server, attempt));
}

QString HttpAuthenticator::digestKey(const QString &server, const Attempt &attempt)
{
    return server + QLatin1Char('\n') + attempt.user + QLatin1Char('\n') + attempt.password;
}

} // namespace rtu
