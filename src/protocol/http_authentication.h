#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

#include <optional>

namespace rtu {

// One challenge of a WWW-Authenticate field: the scheme in lower case and
// its parameters, names in lower case, values unquoted.
struct HttpChallenge
{
    QByteArray scheme;
    QHash<QByteArray, QByteArray> params;

    // All challenges of a field value (several fields joined with ", ").
    static QList<HttpChallenge> parse(const QByteArray &value);
};

// The Authorization value of Basic credentials; user and password go out
// as UTF-8, so any password the tool can set is one it can send.
QByteArray basicAuthorization(const QString &user, const QString &password);

// Digest (SHA-256 or MD5, each also in its session form, with qop "auth" or
// in the older form without qop) answers to one server's nonce, counting its
// uses so that the nonce can be reused.
class HttpDigest
{
public:
    // Stronger ones compare greater.
    enum class Algorithm { Md5, Sha256 };

    // Nothing when the challenge asks for what cannot be answered here.
    static std::optional<HttpDigest> fromChallenge(const HttpChallenge &challenge);

    Algorithm algorithm() const { return m_algorithm; }

    // The Authorization value for one request; each call counts one use.
    QByteArray authorization(const QByteArray &method, const QByteArray &uri, const QString &user,
                             const QString &password, const QByteArray &clientNonce);

private:
    QByteArray m_realm;
    QByteArray m_nonce;
    QByteArray m_opaque;
    Algorithm m_algorithm = Algorithm::Md5;
    bool m_session = false; // MD5-sess, SHA-256-sess
    bool m_qopAuth = false;
    quint32 m_count = 0;
};

} // namespace rtu
