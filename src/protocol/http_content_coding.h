#pragma once

#include <QByteArray>

namespace rtu {

// Undoes the content codings a server may apply although only "identity"
// was asked for. What a body expands to is bounded, so that a small
// compressed answer cannot fill the tool's memory.
class HttpContentCoding
{
public:
    enum class Result { Decoded, TooLarge, Unreadable };

    // Whether the coding (a lower-case token) is one decode() undoes.
    static bool isKnown(const QByteArray &coding);
    // Replaces body with its decoded form of at most maxBytes bytes;
    // "deflate" is read as zlib data or, as some servers send it, raw.
    static Result decode(const QByteArray &coding, QByteArray &body, qint64 maxBytes);
};

} // namespace rtu
