#include "protocol/http_authentication.h"

#include <QCryptographicHash>

namespace rtu {

namespace {

bool isTokenChar(char c)
{
    return c > ' ' && c < 127 && !QByteArray("()<>@,;:\\\"/[]?={}").contains(c);
}

void skipSpace(const QByteArray &text, int &pos)
{
    while (pos < text.size() && (text.at(pos) == ' ' || text.at(pos) == '\t'))
        ++pos;
}

QByteArray token(const QByteArray &text, int &pos)
{
    const int start = pos;
    while (pos < text.size() && isTokenChar(text.at(pos)))
        ++pos;
    return text.mid(start, pos - start);
}

// A quoted string (with backslash escapes) or a token; token68 values
// ("abc==") keep their trailing equals signs.
QByteArray paramValue(const QByteArray &text, int &pos)
{
    if (pos < text.size() && text.at(pos) == '"') {
        QByteArray value;
        for (++pos; pos < text.size() && text.at(pos) != '"'; ++pos) {
            if (text.at(pos) == '\\' && pos + 1 < text.size())
                ++pos;
            value += text.at(pos);
        }
        ++pos; // the closing quote, if any
        return value;
    }
    QByteArray value = token(text, pos);
    while (pos < text.size() && text.at(pos) == '=')
        value += text.at(pos++);
    return value;
}

QByteArray quoted(const QByteArray &value)
{
    QByteArray escaped = value;
    escaped.replace('\\', "\\\\").replace('"', "\\\"");
    return '"' + escaped + '"';
}

// Values echoed back into a request field must not break out of it.
bool isPrintable(const QByteArray &value)
{
    for (const char c : value) {
        if ((c >= 0 && c < ' ') || c == 127)
            return false;
    }
    return true;
}

QByteArray hashHex(HttpDigest::Algorithm algorithm, const QByteArray &data)
{
    return QCryptographicHash::hash(data, algorithm == HttpDigest::Algorithm::Sha256 ? QCryptographicHash::Sha256
                                                                                     : QCryptographicHash::Md5)
        .toHex();
}

} // namespace

QList<HttpChallenge> HttpChallenge::parse(const QByteArray &value)
{
    QList<HttpChallenge> challenges;
    int pos = 0;
    while (pos < value.size()) {
        skipSpace(value, pos);
        if (pos < value.size() && value.at(pos) == ',') {
            ++pos;
            continue;
        }
        const QByteArray scheme = token(value, pos);
        if (scheme.isEmpty()) {
            ++pos; // not a challenge: step over the stray character
            continue;
        }
        HttpChallenge challenge;
        challenge.scheme = scheme.toLower();
        // Parameters until the next scheme: a token not followed by "=".
        while (pos < value.size()) {
            skipSpace(value, pos);
            while (pos < value.size() && (value.at(pos) == ',' || value.at(pos) == ' '))
                ++pos;
            const int start = pos;
            const QByteArray name = token(value, pos);
            skipSpace(value, pos);
            if (name.isEmpty() || pos >= value.size() || value.at(pos) != '=') {
                pos = name.isEmpty() ? std::max(pos, start + 1) : start;
                if (!name.isEmpty())
                    break;
                continue;
            }
            ++pos;
            skipSpace(value, pos);
            challenge.params.insert(name.toLower(), paramValue(value, pos));
        }
        challenges.append(challenge);
    }
    return challenges;
}

QByteArray basicAuthorization(const QString &user, const QString &password)
{
    return "Basic " + (user + QLatin1Char(':') + password).toUtf8().toBase64();
}

std::optional<HttpDigest> HttpDigest::fromChallenge(const HttpChallenge &challenge)
{
    if (challenge.scheme != "digest" || !challenge.params.contains("nonce"))
        return std::nullopt;
    HttpDigest digest;
    QByteArray algorithm = challenge.params.value("algorithm", "MD5").toLower();
    digest.m_session = algorithm.endsWith("-sess");
    if (digest.m_session)
        algorithm.chop(5);
    if (algorithm == "sha-256")
        digest.m_algorithm = Algorithm::Sha256;
    else if (algorithm != "md5")
        return std::nullopt;
    if (challenge.params.contains("qop")) {
        for (const QByteArray &qop : challenge.params.value("qop").split(','))
            digest.m_qopAuth = digest.m_qopAuth || qop.trimmed().toLower() == "auth";
        // Only "auth-int" offered: not answerable without hashing the body.
        if (!digest.m_qopAuth)
            return std::nullopt;
    }
    if (digest.m_session && !digest.m_qopAuth)
        return std::nullopt;
    digest.m_realm = challenge.params.value("realm");
    digest.m_nonce = challenge.params.value("nonce");
    digest.m_opaque = challenge.params.value("opaque");
    if (!isPrintable(digest.m_realm) || !isPrintable(digest.m_nonce) || !isPrintable(digest.m_opaque))
        return std::nullopt;
    return digest;
}

QByteArray HttpDigest::authorization(const QByteArray &method, const QByteArray &uri, const QString &user,
                                     const QString &password, const QByteArray &clientNonce)
{
    const auto hash = [this](const QByteArray &data) { return hashHex(m_algorithm, data); };
    const QByteArray userName = user.toUtf8();
    QByteArray ha1 = hash(userName + ':' + m_realm + ':' + password.toUtf8());
    if (m_session)
        ha1 = hash(ha1 + ':' + m_nonce + ':' + clientNonce);
    const QByteArray ha2 = hash(method + ':' + uri);
    QByteArray value = "Digest username=" + quoted(userName) + ", realm=" + quoted(m_realm)
                       + ", nonce=" + quoted(m_nonce) + ", uri=" + quoted(uri);
    if (m_qopAuth) {
        const QByteArray count = QByteArray::number(++m_count, 16).rightJustified(8, '0');
        value += ", qop=auth, nc=" + count + ", cnonce=" + quoted(clientNonce) + ", response="
                 + quoted(hash(ha1 + ':' + m_nonce + ':' + count + ':' + clientNonce + ":auth:" + ha2));
    } else {
        value += ", response=" + quoted(hash(ha1 + ':' + m_nonce + ':' + ha2));
    }
    value += m_algorithm == Algorithm::Sha256 ? ", algorithm=SHA-256" : ", algorithm=MD5";
    if (m_session)
        value += "-sess";
    if (!m_opaque.isEmpty())
        value += ", opaque=" + quoted(m_opaque);
    return value;
}

} // namespace rtu
