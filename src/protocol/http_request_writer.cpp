#include "protocol/http_request_writer.h"

#include <QUrl>

namespace rtu {

QByteArray HttpRequestWriter::target(const QUrl &url)
{
    QUrl::FormattingOptions format =
        QUrl::RemoveScheme | QUrl::RemoveAuthority | QUrl::RemoveFragment | QUrl::FullyEncoded;
    QUrl copy = url;
    if (copy.path().isEmpty())
        copy.setPath(QStringLiteral("/"));
    else
        format |= QUrl::NormalizePathSegments;
    return copy.toEncoded(format);
}

QByteArray HttpRequestWriter::host(const QUrl &url)
{
    QByteArray host = url.host(QUrl::FullyEncoded).toLatin1();
    if (host.contains(':'))
        host = '[' + host + ']';
    const int port = url.port();
    if (port != -1 && port != 80)
        host += ':' + QByteArray::number(port);
    return host;
}

QByteArray HttpRequestWriter::write(const QByteArray &method, const QUrl &url, const QByteArray &authorization,
                                    const QByteArray &body, bool keepAlive)
{
    return write(method, target(url), host(url), authorization, body, keepAlive);
}

QByteArray HttpRequestWriter::write(const QByteArray &method, const QByteArray &target, const QByteArray &host,
                                    const QByteArray &authorization, const QByteArray &body, bool keepAlive)
{
    QByteArray request = method + ' ' + target + " HTTP/1.1\r\nHost: " + host + "\r\n";
    if (!authorization.isEmpty())
        request += "Authorization: " + authorization + "\r\n";
    if (method == "POST")
        request += "Content-Type: application/json\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n";
    // Without it a server may compress its answer as it likes.
    request += "Accept-Encoding: identity\r\n";
    request += keepAlive ? "Connection: keep-alive\r\n\r\n" : "Connection: close\r\n\r\n";
    if (method == "POST")
        request += body;
    return request;
}

} // namespace rtu
