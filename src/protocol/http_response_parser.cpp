#include "protocol/http_response_parser.h"

#include "core/ascii.h"
#include "protocol/http_content_coding.h"

#include <algorithm>
#include <cstring>

namespace rtu {

namespace {

enum class LineResult { Line, NeedMore, TooLong };

// The comma-separated, case-insensitive tokens of a header value.
QList<QByteArray> tokens(const QByteArray &value)
{
    QList<QByteArray> result;
    for (const QByteArray &part : value.split(',')) {
        const QByteArray token = part.trimmed().toLower();
        if (!token.isEmpty())
            result.append(token);
    }
    return result;
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Whether the start of a line can still become a status line.
bool mayBeStatusLine(const QByteArray &start)
{
    static const QByteArray prefix("HTTP/1.");
    if (start == "\r")
        return true;
    const int length = std::min(start.size(), prefix.size());
    return start.left(length) == prefix.left(length);
}

} // namespace

HttpResponseParser::HttpResponseParser() : HttpResponseParser(Limits()) {}

HttpResponseParser::HttpResponseParser(const Limits &limits) : m_limits(limits) {}

void HttpResponseParser::reset()
{
    *this = HttpResponseParser(m_limits);
}

QByteArray HttpResponseParser::header(const QByteArray &name) const
{
    QByteArray value;
    for (const auto &field : m_headers) {
        if (field.first.compare(name, Qt::CaseInsensitive) != 0)
            continue;
        if (!value.isEmpty())
            value += ", ";
        value += field.second;
    }
    return value;
}

bool HttpResponseParser::keepAlive() const
{
    if (m_state != State::Complete || m_extraBytes || m_closeAfter || m_stage == Stage::UntilClose)
        return false;
    const QList<QByteArray> connection = tokens(header("Connection"));
    if (m_minorVersion == 0)
        return connection.contains("keep-alive") && m_framedByLength;
    return !connection.contains("close");
}

HttpResponseParser::State HttpResponseParser::fail(Failure failure)
{
    m_state = State::Failed;
    m_failure = failure;
    m_line.clear();
    m_body.clear();
    return m_state;
}

HttpResponseParser::State HttpResponseParser::complete()
{
    if (m_stage != Stage::UntilClose)
        m_stage = Stage::Done;
    // The codings were applied in order; they come off the other way round.
    for (int i = m_codings.size() - 1; i >= 0 && !m_body.isEmpty(); --i) {
        switch (HttpContentCoding::decode(m_codings.at(i), m_body, m_limits.maxBodyBytes)) {
        case HttpContentCoding::Result::Decoded:
            break;
        case HttpContentCoding::Result::TooLarge:
            return fail(Failure::BodyTooLarge);
        case HttpContentCoding::Result::Unreadable:
            return fail(Failure::Malformed);
        }
    }
    m_state = State::Complete;
    return m_state;
}

// Takes one line (without its CR LF or bare LF) once its end has arrived.
// A line is held only up to its limit, so an endless one fails early.
bool HttpResponseParser::takeLine(const char *&cursor, const char *end, int limit, QByteArray &line)
{
    const void *found = std::memchr(cursor, '\n', size_t(end - cursor));
    const char *stop = found ? static_cast<const char *>(found) : end;
    // One more byte than the limit for the CR that may precede the LF.
    if (m_line.size() + (stop - cursor) > qint64(limit) + 1) {
        fail(Failure::Oversized);
        return false;
    }
    m_line.append(cursor, int(stop - cursor));
    if (!found) {
        cursor = end;
        if (m_stage == Stage::StatusLine || m_stage == Stage::HeaderLine || m_stage == Stage::Trailer) {
            if (m_headBytes + m_line.size() > m_limits.maxHeadBytes)
                fail(Failure::Oversized);
        }
        return false;
    }
    cursor = stop + 1;
    line = m_line;
    m_line.clear();
    if (line.endsWith('\r'))
        line.chop(1);
    else if (line.size() > limit) {
        fail(Failure::Oversized);
        return false;
    }
    if (m_stage == Stage::StatusLine || m_stage == Stage::HeaderLine || m_stage == Stage::Trailer) {
        // Status and field lines count; the empty line ending a head does not.
        m_headBytes += line.size() + 2;
        if (!line.isEmpty())
            ++m_headLines;
        if (m_headLines > m_limits.maxHeadLines || m_headBytes > m_limits.maxHeadBytes) {
            fail(Failure::Oversized);
            return false;
        }
    }
    return true;
}

HttpResponseParser::State HttpResponseParser::feed(const char *data, qint64 size)
{
    if (m_state != State::Incomplete) {
        if (size > 0 && m_state == State::Complete)
            m_extraBytes = true;
        return m_state;
    }
    m_received += size;
    const char *cursor = data;
    const char *const end = data + size;
    QByteArray line;
    while (cursor < end && m_state == State::Incomplete) {
        switch (m_stage) {
        case Stage::StatusLine: {
            // What is not HTTP fails at its first bytes, however long its line.
            QByteArray start = m_line.left(8);
            if (start.size() < 8)
                start += QByteArray(cursor, int(std::min<qint64>(end - cursor, 8 - start.size())));
            const int newline = start.indexOf('\n');
            if (newline >= 0)
                start.truncate(newline);
            if (!mayBeStatusLine(start))
                fail(Failure::Malformed);
            else if (takeLine(cursor, end, m_limits.maxLineBytes, line) && !onStatusLine(line))
                fail(Failure::Malformed);
            break;
        }
        case Stage::HeaderLine:
        case Stage::Trailer:
            if (takeLine(cursor, end, m_limits.maxLineBytes, line) && !onHeaderLine(line, m_stage == Stage::Trailer)
                && m_state == State::Incomplete)
                fail(Failure::Malformed);
            break;
        case Stage::ChunkSize:
            if (takeLine(cursor, end, m_limits.maxChunkLineBytes, line) && !onChunkSize(line)
                && m_state == State::Incomplete)
                fail(Failure::Malformed);
            break;
        case Stage::ChunkEnd:
            if (takeLine(cursor, end, 0, line))
                m_stage = Stage::ChunkSize;
            else if (m_state == State::Failed)
                m_failure = Failure::Malformed; // anything but CR LF after the chunk data
            break;
        case Stage::Body:
        case Stage::ChunkData: {
            const qint64 take = std::min<qint64>(m_remaining, end - cursor);
            if (!appendBody(cursor, take))
                break;
            cursor += take;
            m_remaining -= take;
            if (m_remaining == 0) {
                if (m_stage == Stage::Body)
                    complete();
                else
                    m_stage = Stage::ChunkEnd;
            }
            break;
        }
        case Stage::UntilClose:
            if (appendBody(cursor, end - cursor))
                cursor = end;
            break;
        case Stage::Done:
            cursor = end;
            break;
        }
    }
    if (m_state == State::Complete && cursor < end)
        m_extraBytes = true;
    return m_state;
}

HttpResponseParser::State HttpResponseParser::finish()
{
    if (m_state != State::Incomplete)
        return m_state;
    if (m_stage == Stage::UntilClose)
        return complete();
    return fail(Failure::Truncated);
}

bool HttpResponseParser::onStatusLine(const QByteArray &line)
{
    // Stray empty lines before the status line are tolerated; they count
    // towards the head's limits.
    if (line.isEmpty())
        return true;
    // "HTTP/1.x 200" and then nothing, or a blank and the phrase.
    if (line.size() < 12 || !line.startsWith("HTTP/1.") || !isDigit(line.at(7)) || line.at(8) != ' ')
        return false;
    if (!isDigit(line.at(9)) || !isDigit(line.at(10)) || !isDigit(line.at(11)) || line.at(9) == '0')
        return false;
    if (line.size() > 12 && line.at(12) != ' ')
        return false;
    m_minorVersion = line.at(7) - '0';
    m_status = line.mid(9, 3).toInt();
    m_reason = line.mid(13);
    m_stage = Stage::HeaderLine;
    return true;
}

bool HttpResponseParser::onHeaderLine(const QByteArray &line, bool trailer)
{
    if (line.isEmpty()) {
        if (trailer) {
            complete();
            return true;
        }
        return onHeadEnd();
    }
    if (trailer)
        return true; // counted, not kept
    if (line.at(0) == ' ' || line.at(0) == '\t') {
        // An old-style continuation of the previous field.
        if (m_headers.isEmpty())
            return false;
        m_headers.last().second += ' ' + line.trimmed();
        return true;
    }
    const int colon = line.indexOf(':');
    // A blank before the colon lets two readers see two different fields.
    if (colon > 0 && (line.at(colon - 1) == ' ' || line.at(colon - 1) == '\t'))
        return false;
    const QByteArray name = colon > 0 ? line.left(colon) : QByteArray();
    if (!name.isEmpty())
        m_headers.append(qMakePair(name, line.mid(colon + 1).trimmed()));
    return true;
}

bool HttpResponseParser::onHeadEnd()
{
    if (m_status < 200) {
        // An interim answer (100 Continue and the like) precedes the real
        // one; a protocol switch was never asked for.
        if (m_status == 101)
            return false;
        m_status = 0;
        m_reason.clear();
        m_headers.clear();
        m_stage = Stage::StatusLine;
        return true;
    }
    m_headComplete = true;
    if (m_status == 204 || m_status == 304) {
        complete();
        return true;
    }
    // Only the identity coding was asked for, but a server may compress
    // anyway: what can be undone is, on a body that is kept.
    for (const QByteArray &coding : tokens(header("Content-Encoding"))) {
        if (coding == "identity")
            continue;
        if (!HttpContentCoding::isKnown(coding))
            return false;
        m_codings.append(coding);
    }
    bool hasTransfer = false;
    bool hasLength = false;
    for (const auto &field : qAsConst(m_headers)) {
        hasTransfer |= field.first.compare("Transfer-Encoding", Qt::CaseInsensitive) == 0;
        hasLength |= field.first.compare("Content-Length", Qt::CaseInsensitive) == 0;
    }
    QList<QByteArray> transfer = tokens(header("Transfer-Encoding"));
    transfer.removeAll("identity");
    if (!transfer.isEmpty()) {
        if (transfer != QList<QByteArray>{"chunked"})
            return false;
        // Read by its chunks; whoever read it by the length would find the
        // next response elsewhere, so no next one is read here.
        m_closeAfter = hasLength || m_minorVersion == 0;
        m_stage = Stage::ChunkSize;
        return true;
    }
    m_closeAfter = hasTransfer;
    if (!hasLength) {
        m_stage = Stage::UntilClose;
        return true;
    }
    // Every value, of every field, the same number: "5, 5" is one length,
    // an empty one or "5, 6" is none.
    QList<QByteArray> lengths;
    for (const QByteArray &part : header("Content-Length").split(','))
        lengths.append(part.trimmed());
    for (const QByteArray &length : lengths) {
        if (length.isEmpty() || length != lengths.first())
            return false;
    }
    m_framedByLength = true;
    const QByteArray &text = lengths.first();
    for (const char c : text) {
        if (!isDigit(c))
            return false;
    }
    int first = 0;
    while (first < text.size() - 1 && text.at(first) == '0')
        ++first;
    if (text.size() - first > 18) {
        fail(Failure::BodyTooLarge);
        return false;
    }
    const qint64 length = text.mid(first).toLongLong();
    if (length > m_limits.maxBodyBytes) {
        fail(Failure::BodyTooLarge);
        return false;
    }
    if (length == 0) {
        complete();
        return true;
    }
    m_remaining = length;
    m_stage = Stage::Body;
    return true;
}

bool HttpResponseParser::onChunkSize(const QByteArray &line)
{
    const int extensions = line.indexOf(';');
    const QByteArray digits = (extensions < 0 ? line : line.left(extensions)).trimmed();
    if (digits.isEmpty())
        return false;
    qint64 size = 0;
    for (const char c : digits) {
        const int value = hexDigitValue(c);
        if (value < 0)
            return false;
        size = size * 16 + value;
        // Too large to ever fit, whatever digits follow.
        if (m_bodyBytes + size > m_limits.maxBodyBytes) {
            fail(Failure::BodyTooLarge);
            return false;
        }
    }
    if (size == 0) {
        m_stage = Stage::Trailer;
        return true;
    }
    m_remaining = size;
    m_stage = Stage::ChunkData;
    return true;
}

bool HttpResponseParser::appendBody(const char *data, qint64 size)
{
    if (m_bodyBytes + size > m_limits.maxBodyBytes) {
        fail(Failure::BodyTooLarge);
        return false;
    }
    m_bodyBytes += size;
    // Only a success hands its body on; any other is read to its end and
    // dropped, so that a challenge or an error costs no memory.
    if (m_status >= 200 && m_status <= 299)
        m_body.append(data, int(size));
    return true;
}

} // namespace rtu
