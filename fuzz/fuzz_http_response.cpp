// The bytes a server sends back on a connection, read by the response parser
// as a socket might deliver them. The first byte picks the limits (the
// client's own, or small ones so that every bound is reached), the next three
// the sizes of the pieces; the rest is the connection's bytes:
//
//   \x80 \x05 \x83 \x01 HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello
//
// Whatever the pieces, the parser ends where it ends read at once, never
// leaves a final state, holds no part beyond its limit, and the challenges
// of a 401 yield only answers that cannot break out of their header. One
// response per request: once a response is complete, no byte that follows,
// at once or later, can be read as the next one, and framing that two
// readers could take differently never keeps the connection.
#include "fuzz_support.h"

#include "protocol/http_authentication.h"
#include "protocol/http_response_parser.h"

using namespace rtu;
using Parser = HttpResponseParser;

namespace {

HttpResponseParser::Limits limitsFrom(unsigned char choice)
{
    HttpResponseParser::Limits limits;
    if (choice & 0x80)
        return limits; // as the client reads replies
    limits.maxBodyBytes = (choice & 0x1f) * 16;
    limits.maxLineBytes = 40 + ((choice >> 5) & 3) * 100;
    limits.maxHeadBytes = 3 * limits.maxLineBytes;
    limits.maxHeadLines = 6;
    limits.maxChunkLineBytes = 12;
    return limits;
}

// Small pieces (empty ones too) below 128, pieces of up to 8 KB above.
qint64 pieceSize(unsigned char choice)
{
    return choice < 128 ? choice % 16 : (choice - 128) * 64 + 1;
}

bool hasControl(const QByteArray &text)
{
    for (const char c : text) {
        if ((c >= 0 && c < ' ') || c == 127)
            return true;
    }
    return false;
}

bool isToken(const QByteArray &text)
{
    if (text.isEmpty())
        return false;
    for (const char c : text) {
        if (c <= ' ' || c >= 127 || QByteArray("()<>@,;:\\\"/[]?={}").contains(c))
            return false;
    }
    return true;
}

void checkBounds(const Parser &parser, const Parser::Limits &limits)
{
    FUZZ_CHECK(parser.body().size() <= limits.maxBodyBytes);
    FUZZ_CHECK((parser.state() == Parser::State::Failed) == (parser.failure() != Parser::Failure::None));
    FUZZ_CHECK(parser.body().isEmpty() || (parser.status() >= 200 && parser.status() <= 299));
    FUZZ_CHECK(parser.reasonPhrase().size() <= limits.maxLineBytes);
    FUZZ_CHECK(parser.headers().size() < limits.maxHeadLines);
    qint64 headBytes = 0;
    for (const auto &field : parser.headers())
        headBytes += field.first.size() + field.second.size();
    FUZZ_CHECK(headBytes <= limits.maxHeadBytes);
    if (parser.state() == Parser::State::Complete)
        FUZZ_CHECK(parser.headComplete() && parser.status() >= 200 && parser.status() <= 999);
    if (parser.state() == Parser::State::Failed)
        FUZZ_CHECK(parser.body().isEmpty() && !parser.keepAlive());
}

bool sameOutcome(const Parser &first, const Parser &second)
{
    return first.state() == second.state() && first.failure() == second.failure()
           && first.status() == second.status() && first.reasonPhrase() == second.reasonPhrase()
           && first.headers() == second.headers() && first.body() == second.body()
           && first.headComplete() == second.headComplete() && first.keepAlive() == second.keepAlive();
}

// Every challenge is read into tokens, and a Digest answer to it carries the
// server's values back exactly, quoted so that none can end the field.
void checkChallenges(const QByteArray &value)
{
    for (const HttpChallenge &challenge : HttpChallenge::parse(value)) {
        FUZZ_CHECK(isToken(challenge.scheme) && challenge.scheme == challenge.scheme.toLower());
        for (auto param = challenge.params.cbegin(); param != challenge.params.cend(); ++param)
            FUZZ_CHECK(isToken(param.key()) && param.key() == param.key().toLower());
        std::optional<HttpDigest> digest = HttpDigest::fromChallenge(challenge);
        if (!digest)
            continue;
        const QByteArray answer = digest->authorization("POST", "/api/configure?a=\"b\"\\", QStringLiteral("admin"),
                                                        QStringLiteral("p\"\\w"), "0123456789abcdef");
        FUZZ_CHECK(!hasControl(answer));
        const QList<HttpChallenge> echoed = HttpChallenge::parse(answer);
        FUZZ_CHECK(echoed.size() == 1 && echoed.first().scheme == "digest");
        const auto &params = echoed.first().params;
        for (const QByteArray name : {"realm", "nonce", "opaque"})
            FUZZ_CHECK(params.value(name) == challenge.params.value(name));
        FUZZ_CHECK(params.value("username") == "admin" && params.value("uri") == "/api/configure?a=\"b\"\\");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 4)
        return 0;
    const Parser::Limits limits = limitsFrom(data[0]);
    const qint64 pieces[3] = {pieceSize(data[1]), pieceSize(data[2]), pieceSize(data[3])};
    const bool stuck = pieces[0] == 0 && pieces[1] == 0 && pieces[2] == 0;
    const char *bytes = reinterpret_cast<const char *>(data) + 4;
    const qint64 length = qint64(size) - 4;

    Parser whole(limits);
    whole.feed(bytes, length);
    checkBounds(whole, limits);

    Parser sliced(limits);
    qint64 at = 0;
    QByteArray finalBody;
    for (int turn = 0; at < length; ++turn) {
        const Parser::State before = sliced.state();
        const qint64 piece = std::min(stuck ? 1 : pieces[turn % 3], length - at);
        const Parser::State after = sliced.feed(bytes + at, piece);
        at += piece;
        FUZZ_CHECK(after == sliced.state());
        FUZZ_CHECK(sliced.body().size() <= limits.maxBodyBytes);
        if (before != Parser::State::Incomplete) {
            FUZZ_CHECK(after == before && sliced.body() == finalBody);
            if (piece > 0)
                FUZZ_CHECK(!sliced.keepAlive()); // bytes after the end
        } else if (after != Parser::State::Incomplete) {
            finalBody = sliced.body();
            checkBounds(sliced, limits);
        }
    }
    checkBounds(sliced, limits);
    FUZZ_CHECK(sameOutcome(whole, sliced));

    // The peer closes the connection.
    const Parser::State before = sliced.state();
    whole.finish();
    sliced.finish();
    FUZZ_CHECK(before == Parser::State::Incomplete || sliced.state() == before);
    FUZZ_CHECK(sliced.state() != Parser::State::Incomplete);
    checkBounds(sliced, limits);
    FUZZ_CHECK(sameOutcome(whole, sliced));

    if (sliced.headComplete())
        checkChallenges(sliced.header("WWW-Authenticate"));

    // What a connection would be kept for: a complete response of agreed
    // framing, and nothing after it.
    Parser kept(limits);
    kept.feed(bytes, length);
    if (kept.keepAlive()) {
        FUZZ_CHECK(kept.header("Transfer-Encoding").isEmpty() || kept.header("Content-Length").isEmpty());
        const QByteArray body = kept.body();
        FUZZ_CHECK(kept.feed("H", 1) == Parser::State::Complete);
        FUZZ_CHECK(!kept.keepAlive() && kept.body() == body);
    }
    return 0;
}
