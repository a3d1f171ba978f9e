#pragma once

#include "protocol/http_authentication.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>
#include <unordered_map>

namespace rtu {

// What each server asked for when it challenged a request, and the Digest
// nonces it gave. One memory serves the whole process, so that what one
// client learned at a login the other uses for the changes that follow.
//
// No credentials go to a server before it has challenged: after a Basic
// challenge Basic goes out with the first request, after a Digest one only
// Digest. A nonce is lent to one request at a time and comes back with its
// answer, so that its count reaches the server in order even when requests
// to the server run in parallel; a request finding none lent out answers a
// challenge of its own, and its nonce joins the others.
class HttpAuthenticator
{
public:
    enum class Scheme { None, Basic, Digest };

    // One request's credentials and what it has sent of them.
    struct Attempt
    {
        QString user;
        QString password;
        Scheme sent = Scheme::None;
        bool answeredChallenge = false;
        std::optional<HttpDigest> digest; // lent to this request
    };

    // The one memory of the process.
    static HttpAuthenticator &shared();

    // The Authorization value for the next sending of the request (empty:
    // none); a Digest answer counts one use of its nonce.
    QByteArray authorization(const QString &server, Attempt &attempt, const QByteArray &method,
                             const QByteArray &target);
    // Whether a 401 with these WWW-Authenticate challenges can be answered,
    // and how: once per request, and only with something other than what it
    // sent. The strongest offer wins: Digest SHA-256, Digest MD5, Basic.
    Scheme answerChallenge(const QString &server, Attempt &attempt, const QByteArray &challenges);
    // The request was answered (not with a 401): its nonce may serve the next.
    void answered(const QString &server, Attempt &attempt);
    // The sending ended without an answer: the server may or may not have
    // counted its nonce, which is given up.
    void abandoned(Attempt &attempt);
    // What the server asked for last; None before any challenge.
    Scheme schemeOf(const QString &server) const;
    // Forgets every server, as a new process would start.
    void clear();

private:
    struct Server
    {
        Scheme asked = Scheme::None;
        QList<HttpDigest> nonces; // not lent out; the last one came back last
    };

    // Parallel requests per server the nonces serve at once.
    static constexpr int kMaxNonces = 16;

    std::unordered_map<QString, Server> m_servers; // by host and port
};

} // namespace rtu
