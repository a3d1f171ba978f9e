#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>

namespace rtu {

// Reads one HTTP/1.x response from the bytes of a connection, without any
// socket: feed it what arrived, and it says whether the response is complete,
// still incomplete, or broken. Every part of a response is bounded, so a peer
// cannot make it hold or scan more than the limits, whatever the status.
class HttpResponseParser
{
public:
    struct Limits
    {
        int maxLineBytes = 8 * 1024;      // status line, each header or trailer line
        int maxHeadBytes = 64 * 1024;     // all header and trailer lines together
        int maxHeadLines = 256;           // status and field lines, interim answers included
        int maxChunkLineBytes = 1024;     // a chunk-size line with its extensions
        qint64 maxBodyBytes = 4 * 1024 * 1024;
    };

    enum class State {
        Incomplete, // more bytes are needed
        Complete,   // the response ended; see keepAlive()
        Failed      // see failure(); the connection cannot be used any more
    };

    enum class Failure {
        None,
        Malformed,    // not HTTP/1.x, or framing that cannot be trusted
        Oversized,    // a line or the head went past its limit
        BodyTooLarge, // the body went (or was announced) past its limit
        Truncated     // the connection ended inside the response
    };

    using Headers = QList<QPair<QByteArray, QByteArray>>;

    HttpResponseParser();
    explicit HttpResponseParser(const Limits &limits);

    // Starts over for the next response on the same connection.
    void reset();

    // Takes the next bytes of the connection. Bytes after the end of the
    // response are not consumed: they make the connection unusable.
    State feed(const char *data, qint64 size);
    State feed(const QByteArray &data) { return feed(data.constData(), data.size()); }
    // The peer closed the connection: a body that runs to the close is
    // complete now, anything else unfinished is truncated.
    State finish();

    State state() const { return m_state; }
    Failure failure() const { return m_failure; }
    // Whether any byte of this response arrived.
    bool started() const { return m_received > 0; }
    // Status, phrase and headers are known once the head is complete.
    bool headComplete() const { return m_headComplete; }
    int status() const { return m_status; }
    const QByteArray &reasonPhrase() const { return m_reason; }
    const Headers &headers() const { return m_headers; }
    // The value of a header; repeated fields are joined with ", ".
    QByteArray header(const QByteArray &name) const;
    // The body of a 2xx response, its content codings undone within the
    // body limit; other bodies are only counted.
    const QByteArray &body() const { return m_body; }
    // Whether the connection may carry another request after this response:
    // never after bytes beyond its end, nor after framing a sender and a
    // proxy could read differently.
    bool keepAlive() const;

private:
    enum class Stage { StatusLine, HeaderLine, Body, ChunkSize, ChunkData, ChunkEnd, Trailer, UntilClose, Done };

    bool takeLine(const char *&cursor, const char *end, int limit, QByteArray &line);
    bool onStatusLine(const QByteArray &line);
    bool onHeaderLine(const QByteArray &line, bool trailer);
    bool onHeadEnd();
    bool onChunkSize(const QByteArray &line);
    bool appendBody(const char *data, qint64 size);
    State fail(Failure failure);
    State complete();

    Limits m_limits;
    State m_state = State::Incomplete;
    Failure m_failure = Failure::None;
    Stage m_stage = Stage::StatusLine;
    QByteArray m_line;
    qint64 m_received = 0;
    int m_headBytes = 0;
    int m_headLines = 0;
    bool m_headComplete = false;
    int m_status = 0;
    int m_minorVersion = 1;
    QByteArray m_reason;
    Headers m_headers;
    QByteArray m_body;
    QList<QByteArray> m_codings; // content codings, in the order applied
    qint64 m_bodyBytes = 0;
    qint64 m_remaining = 0; // of the Content-Length body or the current chunk
    bool m_extraBytes = false;
    // Framing that cannot be trusted for a next response on the connection
    // (a transfer coding beside a length, or in an HTTP/1.0 answer).
    bool m_closeAfter = false;
    bool m_framedByLength = false;
};

} // namespace rtu
