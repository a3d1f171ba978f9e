#pragma once

#include "protocol/http_response_parser.h"

#include <QObject>
#include <QString>

namespace rtu {

namespace platform {
class TcpStream;
}

struct HttpRequest;

// One connection of the client and the response being read on it. A QObject
// so that its socket, a child, and the socket's signals end with it.
struct HttpConnection : QObject
{
    explicit HttpConnection(const HttpResponseParser::Limits &limits) : parser(limits) {}

    quint64 id = 0; // names it in diagnostics
    QString server; // host and port
    QString host;
    quint16 port = 0;
    platform::TcpStream *socket = nullptr;
    qint64 closeAtMs = 0; // unused until then, it is closed
    HttpRequest *request = nullptr;
    HttpResponseParser parser;
    quint64 sentMark = 0; // bytes the socket had sent before the current request
    int served = 0;       // answers read on it, challenges included
    // Opened before any request of its own; the server may have given up on
    // it by the time one comes.
    bool openedAhead = false;
    bool idle = false;
    bool closed = false;
};

} // namespace rtu
