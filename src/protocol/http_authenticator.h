#pragma once

#include "protocol/http_authentication.h"

#include <QByteArray>
#include <QHash>
#include <QSet>
#include <QString>

namespace rtu {

// What a request shows of its credentials, and whether it may answer a
// server's 401. It remembers the Digest nonce a server gave for each user and
// password, so that later requests answer it at once, and which servers want
// Digest, so that none of them is shown a password in the open.
class HttpAuthenticator
{
public:
    enum class Scheme { None, Basic, Digest };

    // One request's credentials and what it has sent of them.
    struct Attempt
    {
        QString user;
        QString password;
        bool sentBasic = false;
        bool answeredChallenge = false;
    };

    // The Authorization value for the next sending of the request (empty:
    // none); a Digest answer counts one use of its nonce.
    QByteArray authorization(const QString &server, Attempt &attempt, const QByteArray &method,
                             const QByteArray &target);
    // Whether a 401 with these WWW-Authenticate challenges can be answered,
    // and how: once per request, and only with something other than what it
    // sent. Digest is preferred; a Digest challenge replaces the nonce held
    // for the credentials, a Basic one makes the server a Basic server again.
    Scheme answerChallenge(const QString &server, Attempt &attempt, const QByteArray &challenges);
    // The server refused the credentials for good: their nonce is dropped.
    void rejected(const QString &server, const Attempt &attempt);

private:
    static QString digestKey(const QString &server, const Attempt &attempt);

    QHash<QString, HttpDigest> m_digests; // by server and credentials
    QSet<QString> m_digestServers;
};

} // namespace rtu
