#include "protocol/http_content_coding.h"

#include <zlib.h>

#include <algorithm>

namespace rtu {

namespace {

using Result = HttpContentCoding::Result;

// windowBits as zlib reads them: 15 + 16 gzip, 15 zlib, -15 raw deflate.
Result inflateAll(const QByteArray &input, int windowBits, qint64 maxBytes, QByteArray &out)
{
    z_stream stream{};
    if (inflateInit2(&stream, windowBits) != Z_OK)
        return Result::Unreadable;
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(input.constData()));
    stream.avail_in = uInt(input.size());
    constexpr qint64 kStep = 64 * 1024;
    QByteArray decoded;
    Result result = Result::Unreadable;
    for (;;) {
        // One byte beyond the bound tells a body that is too large.
        const qint64 room = std::min<qint64>(kStep, maxBytes + 1 - decoded.size());
        if (room <= 0) {
            result = Result::TooLarge;
            break;
        }
        const int before = decoded.size();
        decoded.resize(before + int(room));
        stream.next_out = reinterpret_cast<Bytef *>(decoded.data() + before);
        stream.avail_out = uInt(room);
        const int status = inflate(&stream, Z_NO_FLUSH);
        decoded.resize(decoded.size() - int(stream.avail_out));
        if (status == Z_STREAM_END) {
            // A gzip body may hold several members one after another.
            if (stream.avail_in > 0 && windowBits > 15 && inflateReset(&stream) == Z_OK)
                continue;
            result = stream.avail_in == 0 ? Result::Decoded : Result::Unreadable;
            break;
        }
        if (status != Z_OK || (stream.avail_in == 0 && stream.avail_out > 0))
            break; // broken, or cut short
    }
    inflateEnd(&stream);
    if (result == Result::Decoded && decoded.size() > maxBytes)
        result = Result::TooLarge;
    if (result == Result::Decoded)
        out = decoded;
    return result;
}

// A zlib header: deflate with a window of at most 32 KiB and a valid check.
bool hasZlibHeader(const QByteArray &data)
{
    if (data.size() < 2)
        return false;
    const auto first = uchar(data.at(0));
    const auto second = uchar(data.at(1));
    return (first & 0x0F) == 8 && (first >> 4) <= 7 && (first * 256 + second) % 31 == 0;
}

} // namespace

bool HttpContentCoding::isKnown(const QByteArray &coding)
{
    return coding == "gzip" || coding == "x-gzip" || coding == "deflate";
}

HttpContentCoding::Result HttpContentCoding::decode(const QByteArray &coding, QByteArray &body, qint64 maxBytes)
{
    if (!isKnown(coding))
        return Result::Unreadable;
    if (coding != "deflate")
        return inflateAll(body, 15 + 16, maxBytes, body);
    return inflateAll(body, hasZlibHeader(body) ? 15 : -15, maxBytes, body);
}

} // namespace rtu
