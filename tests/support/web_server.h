#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QProcess>
#include <QScopedPointer>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace rtu::test {

// A real web server, Debian's Apache 2.4 (apache2) or nginx, run as a child
// process with a configuration the test writes, in a directory of its own,
// inside the private network namespace. Its logs are the ground truth of
// what reached it. Stopped with the object, or when the test process dies.
//
//   WebServer apache(WebServer::Apache);
//   apache.writeFile(QStringLiteral("cgi/slow"), "#!/bin/sh\n...", true);
//   QVERIFY2(apache.start(QStringLiteral("Listen 127.0.0.61:8080\n<VirtualHost ...>...</VirtualHost>"),
//                         {{QStringLiteral("127.0.0.61"), 8080}}),
//            qPrintable(apache.errorString()));
//   const QStringList lines = apache.log(QStringLiteral("access.log"));
//
// In the sites text "@DIR@" stands for dir(). Apache loads the modules of
// kApacheModules and logs errors to logs/error.log at level info for Digest;
// nginx writes logs/nginx-error.log and keeps its temporary files in run/.
class WebServer
{
public:
    enum Kind { Apache, Nginx };

    explicit WebServer(Kind kind);
    ~WebServer();
    WebServer(const WebServer &) = delete;
    WebServer &operator=(const WebServer &) = delete;

    QString dir() const;
    // Writes a file below dir(), creating its folders; scripts are executable.
    bool writeFile(const QString &relativePath, const QByteArray &content, bool executable = false);
    // Starts the server with the sites (Apache: Listen lines and virtual
    // hosts; nginx: server blocks inside http) and waits until every
    // address and port given accepts connections.
    bool start(const QString &sites, const QList<QPair<QString, quint16>> &listening);
    void stop();
    QString errorString() const { return m_error; }
    // The lines of a file below dir()/logs, as written so far.
    QStringList log(const QString &name) const;

    static const QStringList kApacheModules;

private:
    QString baseConfig() const;

    const Kind m_kind;
    QScopedPointer<QTemporaryDir> m_dir;
    QScopedPointer<QProcess> m_process;
    QString m_error;
};

} // namespace rtu::test
