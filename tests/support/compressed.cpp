#include "compressed.h"

#include <zlib.h>

namespace rtu::test {

namespace {

QByteArray compress(const QByteArray &data, int windowBits)
{
    z_stream stream{};
    deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY);
    QByteArray out(int(deflateBound(&stream, uLong(data.size()))) + 32, Qt::Uninitialized);
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.constData()));
    stream.avail_in = uInt(data.size());
    stream.next_out = reinterpret_cast<Bytef *>(out.data());
    stream.avail_out = uInt(out.size());
    deflate(&stream, Z_FINISH);
    out.truncate(int(stream.total_out));
    deflateEnd(&stream);
    return out;
}

} // namespace

QByteArray gzipped(const QByteArray &data)
{
    return compress(data, 15 + 16);
}

QByteArray deflated(const QByteArray &data, bool raw)
{
    return compress(data, raw ? -15 : 15);
}

} // namespace rtu::test
