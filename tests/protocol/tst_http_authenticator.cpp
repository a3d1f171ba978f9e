#include "protocol/http_authenticator.h"

#include <QtTest>

using namespace rtu;
using Scheme = HttpAuthenticator::Scheme;

Q_DECLARE_METATYPE(HttpAuthenticator::Scheme)

namespace {

const QString kServer = QStringLiteral("127.0.0.41:7001");
const QByteArray kDigest = R"(Digest realm="r", nonce="n1", qop="auth")";

HttpAuthenticator::Attempt attempt(const QString &password)
{
    return {QStringLiteral("admin"), password};
}

// What the next sending carries: "Basic", "Digest <nonce> #<count>" or "".
QString shown(HttpAuthenticator &auth, HttpAuthenticator::Attempt &a, const QString &server = kServer)
{
    const QByteArray value = auth.authorization(server, a, "GET", "/api/gettime");
    if (!value.startsWith("Digest "))
        return QString::fromLatin1(value.left(value.indexOf(' ')));
    const HttpChallenge fields = HttpChallenge::parse(value).value(0);
    return QStringLiteral("Digest %1 #%2")
        .arg(QString::fromLatin1(fields.params.value("nonce")))
        .arg(fields.params.value("nc").toInt(nullptr, 16));
}

} // namespace

class TestHttpAuthenticator : public QObject
{
    Q_OBJECT

private slots:
    // A 401 is answered once, and only with something other than what the
    // request sent; Digest wins, and its new nonce replaces the held one.
    void answersChallenges_data()
    {
        QTest::addColumn<QString>("sent"); // Basic, Digest, or nothing to a Digest server
        QTest::addColumn<QByteArray>("challenge");
        QTest::addColumn<Scheme>("answer");
        QTest::addColumn<QString>("next");
        const QByteArray basic = R"(Basic realm="r")";
        const QByteArray stale = R"(Digest realm="r", nonce="n2", qop="auth", stale=true)";
        QTest::newRow("Basic again") << "Basic" << basic << Scheme::None << QString();
        QTest::newRow("Digest after Basic") << "Basic" << kDigest << Scheme::Digest << "Digest n1 #1";
        QTest::newRow("Digest preferred") << "Basic" << basic + ", " + kDigest << Scheme::Digest << "Digest n1 #1";
        const QByteArray sha256 = R"(Digest nonce="n1", algorithm=SHA-256, )";
        QTest::newRow("unanswerable Digest") << "Basic" << sha256 + basic << Scheme::None << QString();
        QTest::newRow("no challenge") << "Basic" << QByteArray() << Scheme::None << QString();
        QTest::newRow("stale nonce") << "Digest" << stale << Scheme::Digest << "Digest n2 #1";
        QTest::newRow("Basic after Digest") << "Digest" << basic << Scheme::Basic << "Basic";
        QTest::newRow("Basic to a Digest server") << "" << basic << Scheme::Basic << "Basic";
        QTest::newRow("Digest to a Digest server") << "" << stale << Scheme::Digest << "Digest n2 #1";
    }

    void answersChallenges()
    {
        QFETCH(QString, sent);
        QFETCH(QByteArray, challenge);
        QFETCH(Scheme, answer);
        QFETCH(QString, next);
        HttpAuthenticator auth;
        if (sent != QLatin1String("Basic")) {
            auto earlier = attempt(QStringLiteral("738"));
            QCOMPARE(shown(auth, earlier), QStringLiteral("Basic"));
            QCOMPARE(auth.answerChallenge(kServer, earlier, kDigest), Scheme::Digest);
        }
        auto a = attempt(sent.isEmpty() ? QStringLiteral("other") : QStringLiteral("738"));
        QCOMPARE(shown(auth, a), sent == QLatin1String("Digest") ? QStringLiteral("Digest n1 #1") : sent);

        QCOMPARE(auth.answerChallenge(kServer, a, challenge), answer);
        if (answer != Scheme::None)
            QCOMPARE(shown(auth, a), next);
        QCOMPARE(auth.answerChallenge(kServer, a, challenge), Scheme::None);
    }

    // A nonce serves later requests with the same credentials to the same
    // server, counted, until the credentials are refused.
    void holdsNoncesPerServerAndCredentials()
    {
        HttpAuthenticator auth;
        auto first = attempt(QStringLiteral("738"));
        QCOMPARE(shown(auth, first), QStringLiteral("Basic"));
        QCOMPARE(auth.answerChallenge(kServer, first, kDigest), Scheme::Digest);
        QCOMPARE(shown(auth, first), QStringLiteral("Digest n1 #1"));
        auto second = attempt(QStringLiteral("738"));
        QCOMPARE(shown(auth, second), QStringLiteral("Digest n1 #2"));
        auto other = attempt(QStringLiteral("other"));
        QCOMPARE(shown(auth, other), QString());
        auto elsewhere = attempt(QStringLiteral("738"));
        QCOMPARE(shown(auth, elsewhere, QStringLiteral("127.0.0.42:7001")), QStringLiteral("Basic"));
        auto none = attempt(QString());
        QCOMPARE(shown(auth, none), QString());
        QCOMPARE(auth.answerChallenge(kServer, none, kDigest), Scheme::None);

        auto third = attempt(QStringLiteral("738"));
        QCOMPARE(shown(auth, third), QStringLiteral("Digest n1 #3"));
        auth.rejected(kServer, third);
        auto fourth = attempt(QStringLiteral("738"));
        QCOMPARE(shown(auth, fourth), QString());
    }
};

QTEST_GUILESS_MAIN(TestHttpAuthenticator)
#include "tst_http_authenticator.moc"
