#pragma once

#include "protocol/http_authenticator.h"
#include "protocol/http_client.h"

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <map>

namespace rtu {

struct HttpConnection;

// One request of the client from its sending to its one callback.
struct HttpRequest
{
    // Where it waits while it has no connection.
    enum class Queue { None, Global, Server };

    quint64 id = 0;
    QByteArray method;
    HttpClient::Kind kind = HttpClient::Kind::Change;
    QUrl url;
    QByteArray body;
    HttpClient::OnSuccessReply success;
    HttpClient::OnErrorReply failure;
    QString server; // host and port
    HttpAuthenticator::Attempt auth;
    QByteArray target;
    QByteArray host; // the Host field
    qint64 sentAtMs = 0;
    std::multimap<qint64, quint64>::iterator deadline;
    bool hasDeadline = false;
    HttpConnection *connection = nullptr;
    Queue queue = Queue::None;
    bool retried = false;
};

} // namespace rtu
