#pragma once

#include <QByteArray>

class QUrl;

namespace rtu {

// The bytes of one HTTP/1.1 request as the tool sends it: no proxy, no
// cookies, only the identity content coding asked for, and the connection
// kept alive unless the request is the last it carries.
class HttpRequestWriter
{
public:
    // The path and query exactly as the URL encodes them ("/" for none).
    static QByteArray target(const QUrl &url);
    // The Host field: host, and the port unless it is 80.
    static QByteArray host(const QUrl &url);
    // authorization: the value of the Authorization field, none when empty.
    // A body is sent (as JSON) for POST only.
    static QByteArray write(const QByteArray &method, const QUrl &url, const QByteArray &authorization,
                            const QByteArray &body, bool keepAlive = true);
    // The same from the target and Host field already taken from the URL.
    static QByteArray write(const QByteArray &method, const QByteArray &target, const QByteArray &host,
                            const QByteArray &authorization, const QByteArray &body, bool keepAlive = true);
};

} // namespace rtu
