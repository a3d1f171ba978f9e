#pragma once

#include <QByteArray>

namespace rtu::test {

// Bodies as a server that compresses sends them.
QByteArray gzipped(const QByteArray &data);
// "deflate" as zlib data, or raw as some servers send it.
QByteArray deflated(const QByteArray &data, bool raw);

} // namespace rtu::test
