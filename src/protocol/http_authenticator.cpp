#include "protocol/http_authenticator.h"

#include <QRandomGenerator>

namespace rtu {

namespace {

QByteArray clientNonce()
{
    return QByteArray::number(QRandomGenerator::global()->generate64(), 16).rightJustified(16, '0');
}

} // namespace

HttpAuthenticator &HttpAuthenticator::shared()
{
    static HttpAuthenticator memory;
    return memory;
}

QByteArray HttpAuthenticator::authorization(const QString &server, Attempt &attempt, const QByteArray &method,
                                            const QByteArray &target)
{
    attempt.sent = Scheme::None;
    if (attempt.password.isEmpty())
        return QByteArray();
    if (!attempt.digest) {
        const auto it = m_servers.find(server);
        if (it == m_servers.end())
            return QByteArray();
        Server &known = it->second;
        if (known.asked == Scheme::Basic) {
            attempt.sent = Scheme::Basic;
            return basicAuthorization(attempt.user, attempt.password);
        }
        // With every nonce lent out the request goes without credentials,
        // and the server's challenge gives it one of its own.
        if (known.asked != Scheme::Digest || known.nonces.isEmpty())
            return QByteArray();
        attempt.digest = known.nonces.takeLast();
    }
    attempt.sent = Scheme::Digest;
    return attempt.digest->authorization(method, target, attempt.user, attempt.password, clientNonce());
}

HttpAuthenticator::Scheme HttpAuthenticator::answerChallenge(const QString &server, Attempt &attempt,
                                                             const QByteArray &challenges)
{
    // The nonce the server refused, or counted for a refusal, is not lent again.
    attempt.digest.reset();
    if (attempt.answeredChallenge || attempt.password.isEmpty())
        return Scheme::None;
    const QList<HttpChallenge> parsed = HttpChallenge::parse(challenges);
    std::optional<HttpDigest> strongest;
    bool basicOffered = false;
    for (const HttpChallenge &challenge : parsed) {
        basicOffered = basicOffered || challenge.scheme == "basic";
        const auto digest = HttpDigest::fromChallenge(challenge);
        if (digest && (!strongest || digest->algorithm() > strongest->algorithm()))
            strongest = digest;
    }
    if (strongest) {
        m_servers[server].asked = Scheme::Digest;
        attempt.digest = strongest;
        attempt.answeredChallenge = true;
        return Scheme::Digest;
    }
    if (basicOffered && attempt.sent != Scheme::Basic) {
        Server &known = m_servers[server];
        known.asked = Scheme::Basic;
        known.nonces.clear();
        attempt.answeredChallenge = true;
        return Scheme::Basic;
    }
    return Scheme::None;
}

void HttpAuthenticator::answered(const QString &server, Attempt &attempt)
{
    if (!attempt.digest)
        return;
    const auto it = m_servers.find(server);
    if (it != m_servers.end() && it->second.asked == Scheme::Digest && it->second.nonces.size() < kMaxNonces)
        it->second.nonces.append(std::move(*attempt.digest));
    attempt.digest.reset();
}

void HttpAuthenticator::abandoned(Attempt &attempt)
{
    attempt.digest.reset();
}

HttpAuthenticator::Scheme HttpAuthenticator::schemeOf(const QString &server) const
{
    const auto it = m_servers.find(server);
    return it == m_servers.end() ? Scheme::None : it->second.asked;
}

void HttpAuthenticator::clear()
{
    m_servers.clear();
}

} // namespace rtu
