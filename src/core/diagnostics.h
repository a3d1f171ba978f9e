#pragma once

#include <QLoggingCategory>
#include <QString>

class QUrl;

namespace rtu {

struct BaseServerInfo;

// Diagnostics for the field, by category. They are silent unless switched on
// with Qt's standard rules, for example QT_LOGGING_RULES="rtu.*=true" or a
// qtlogging.ini: the tool writes nothing of its own by default.
Q_DECLARE_LOGGING_CATEGORY(logDiscovery) // "rtu.discovery": answers, servers, conflicts
Q_DECLARE_LOGGING_CATEGORY(logHttp)      // "rtu.http": requests, answers, connections
Q_DECLARE_LOGGING_CATEGORY(logLogin)     // "rtu.login": which kind of password, and the outcome
Q_DECLARE_LOGGING_CATEGORY(logChanges)   // "rtu.changes": requests, answers and result rows of a run

// The one place where what may carry a secret is made fit to print. Every
// line that names a request goes through here: never the user information of
// its URL, and no value of a query item that names a password.
QString redactedTarget(const QUrl &url);

// A server as the diagnostics name it: id, name, and where it is reached.
QString serverLabel(const BaseServerInfo &server);

} // namespace rtu
