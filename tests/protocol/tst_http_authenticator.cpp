#include "protocol/http_authenticator.h"

#include <QtTest>

using namespace rtu;
using Scheme = HttpAuthenticator::Scheme;

Q_DECLARE_METATYPE(HttpAuthenticator::Scheme)

namespace {

const QString kServer = QStringLiteral("127.0.0.41:7001");
const QByteArray kDigest = R"(Digest realm="r", nonce="n1", qop="auth")";
const QByteArray kBasic = R"(Basic realm="r")";

HttpAuthenticator::Attempt attempt(const QString &password = QStringLiteral("738"))
{
    HttpAuthenticator::Attempt a;
    a.user = QStringLiteral("admin");
    a.password = password;
    return a;
}

// What the next sending carries: "Basic", "Digest <algorithm> <nonce> #<count>" or "".
QString shown(HttpAuthenticator &auth, HttpAuthenticator::Attempt &a, const QString &server = kServer)
{
    const QByteArray value = auth.authorization(server, a, "GET", "/api/gettime");
    if (!value.startsWith("Digest "))
        return QString::fromLatin1(value.left(value.indexOf(' ')));
    const HttpChallenge fields = HttpChallenge::parse(value).value(0);
    return QStringLiteral("Digest %1 %2 #%3")
        .arg(QString::fromLatin1(fields.params.value("algorithm")), QString::fromLatin1(fields.params.value("nonce")))
        .arg(fields.params.value("nc").toInt(nullptr, 16));
}

// A server that has challenged once with the given field, and a request
// that answered it and was served.
void learn(HttpAuthenticator &auth, const QByteArray &challenge)
{
    auto first = attempt();
    QCOMPARE(shown(auth, first), QString());
    QVERIFY(auth.answerChallenge(kServer, first, challenge) != Scheme::None);
    QVERIFY(!shown(auth, first).isEmpty());
    auth.answered(kServer, first);
}

} // namespace

class TestHttpAuthenticator : public QObject
{
    Q_OBJECT

private slots:
    // A 401 is answered once, and only with something other than what the
    // request sent; the strongest offer the tool can answer wins.
    void answersChallenges_data()
    {
        QTest::addColumn<QByteArray>("learned"); // what the server asked before; empty: nothing yet
        QTest::addColumn<QString>("sent");
        QTest::addColumn<QByteArray>("challenge");
        QTest::addColumn<Scheme>("answer");
        QTest::addColumn<QString>("next");
        const QByteArray stale = R"(Digest realm="r", nonce="n2", qop="auth", stale=true)";
        const QByteArray sha256 = R"(Digest realm="r", nonce="s1", qop="auth", algorithm=SHA-256)";
        const QByteArray unanswerable = R"(Digest realm="r", nonce="u1", algorithm=SHA-512-256)";
        QTest::newRow("nothing before a challenge: Basic") << QByteArray() << "" << kBasic << Scheme::Basic << "Basic";
        QTest::newRow("nothing before a challenge: Digest")
            << QByteArray() << "" << kDigest << Scheme::Digest << "Digest MD5 n1 #1";
        QTest::newRow("Digest preferred to Basic")
            << QByteArray() << "" << kBasic + ", " + kDigest << Scheme::Digest << "Digest MD5 n1 #1";
        QTest::newRow("SHA-256 preferred to MD5 and Basic")
            << QByteArray() << "" << kBasic + ", " + kDigest + ", " + sha256 << Scheme::Digest
            << "Digest SHA-256 s1 #1";
        QTest::newRow("SHA-256 preferred, offered first")
            << QByteArray() << "" << sha256 + ", " + kDigest << Scheme::Digest << "Digest SHA-256 s1 #1";
        QTest::newRow("unanswerable Digest beside Basic")
            << QByteArray() << "" << unanswerable + ", " + kBasic << Scheme::Basic << "Basic";
        QTest::newRow("unanswerable Digest alone") << QByteArray() << "" << unanswerable << Scheme::None << QString();
        QTest::newRow("no challenge") << QByteArray() << "" << QByteArray() << Scheme::None << QString();
        QTest::newRow("Basic refused") << kBasic << "Basic" << kBasic << Scheme::None << QString();
        QTest::newRow("Digest after Basic") << kBasic << "Basic" << kDigest << Scheme::Digest << "Digest MD5 n1 #1";
        QTest::newRow("stale nonce") << kDigest << "Digest MD5 n1 #2" << stale << Scheme::Digest << "Digest MD5 n2 #1";
        QTest::newRow("Basic after Digest") << kDigest << "Digest MD5 n1 #2" << kBasic << Scheme::Basic << "Basic";
    }

    void answersChallenges()
    {
        QFETCH(QByteArray, learned);
        QFETCH(QString, sent);
        QFETCH(QByteArray, challenge);
        QFETCH(Scheme, answer);
        QFETCH(QString, next);
        HttpAuthenticator auth;
        if (!learned.isEmpty())
            learn(auth, learned);
        auto a = attempt();
        QCOMPARE(shown(auth, a), sent);

        QCOMPARE(auth.answerChallenge(kServer, a, challenge), answer);
        if (answer != Scheme::None)
            QCOMPARE(shown(auth, a), next);
        QCOMPARE(auth.answerChallenge(kServer, a, challenge), Scheme::None);
    }

    // No credentials before a challenge; after one, the scheme the server
    // asked for goes out at once, per server, and only with a password.
    void remembersTheSchemePerServer_data()
    {
        QTest::addColumn<QByteArray>("challenge");
        QTest::addColumn<QString>("next");
        QTest::newRow("Basic") << kBasic << "Basic";
        QTest::newRow("Digest") << kDigest << "Digest MD5 n1 #2";
    }

    void remembersTheSchemePerServer()
    {
        QFETCH(QByteArray, challenge);
        QFETCH(QString, next);
        HttpAuthenticator auth;
        QCOMPARE(auth.schemeOf(kServer), Scheme::None);
        learn(auth, challenge);
        auto later = attempt(QStringLiteral("other"));
        QCOMPARE(shown(auth, later), next);
        auto elsewhere = attempt();
        QCOMPARE(shown(auth, elsewhere, QStringLiteral("127.0.0.42:7001")), QString());
        auto none = attempt(QString());
        QCOMPARE(shown(auth, none), QString());
        QCOMPARE(auth.answerChallenge(kServer, none, challenge), Scheme::None);
        auth.clear();
        auto afterClear = attempt();
        QCOMPARE(shown(auth, afterClear), QString());
    }

    // A nonce serves one request at a time, so that its count reaches the
    // server in order: a parallel request goes without, and the nonce its
    // own challenge gives joins the first; a refused or unanswered request
    // gives its nonce up.
    void lendsNoncesOneAtATime()
    {
        HttpAuthenticator auth;
        learn(auth, kDigest);
        auto first = attempt();
        QCOMPARE(shown(auth, first), QStringLiteral("Digest MD5 n1 #2"));
        auto parallel = attempt();
        QCOMPARE(shown(auth, parallel), QString());
        QCOMPARE(auth.answerChallenge(kServer, parallel, R"(Digest realm="r", nonce="n2", qop="auth")"),
                 Scheme::Digest);
        QCOMPARE(shown(auth, parallel), QStringLiteral("Digest MD5 n2 #1"));
        auth.answered(kServer, parallel);
        auth.answered(kServer, first);
        auto a = attempt();
        auto b = attempt();
        auto c = attempt();
        QCOMPARE(shown(auth, a), QStringLiteral("Digest MD5 n1 #3"));
        QCOMPARE(shown(auth, b), QStringLiteral("Digest MD5 n2 #2"));
        QCOMPARE(shown(auth, c), QString());

        // a is refused for good, b never answered: neither nonce comes back.
        QCOMPARE(auth.answerChallenge(kServer, a, kBasic + ", " + kDigest), Scheme::Digest);
        QCOMPARE(auth.answerChallenge(kServer, a, kDigest), Scheme::None);
        auth.answered(kServer, a);
        auth.abandoned(b);
        auth.answered(kServer, b);
        auto d = attempt();
        QCOMPARE(shown(auth, d), QString());
    }
};

QTEST_GUILESS_MAIN(TestHttpAuthenticator)
#include "tst_http_authenticator.moc"
