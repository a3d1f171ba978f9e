#include "web_server.h"

#include "private_network.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTcpSocket>
#include <QThread>

namespace rtu::test {

namespace {

constexpr int kStartLimitMs = 15000;

bool accepts(const QString &address, quint16 port)
{
    QTcpSocket socket;
    socket.connectToHost(address, port);
    return socket.waitForConnected(200);
}

} // namespace

const QStringList WebServer::kApacheModules{
    QStringLiteral("mpm_event"),   QStringLiteral("authz_core"), QStringLiteral("authz_user"),
    QStringLiteral("authn_core"),  QStringLiteral("authn_file"), QStringLiteral("auth_basic"),
    QStringLiteral("auth_digest"), QStringLiteral("alias"),      QStringLiteral("cgid"),
    QStringLiteral("deflate"),     QStringLiteral("filter"),     QStringLiteral("env"),
    QStringLiteral("headers"),     QStringLiteral("proxy"),      QStringLiteral("proxy_http"),
    QStringLiteral("rewrite"),     QStringLiteral("setenvif")};

WebServer::WebServer(Kind kind) : m_kind(kind), m_dir(new QTemporaryDir())
{
    // The server's workers run as www-data and must read what the test writes.
    QFile::setPermissions(m_dir->path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                                             | QFileDevice::ReadOther | QFileDevice::ExeOther
                                             | QFileDevice::ReadGroup | QFileDevice::ExeGroup);
    // Scripts write below run/, and nginx's workers keep temporary files there.
    for (const QString &name : {QStringLiteral("logs"), QStringLiteral("run")}) {
        QDir(m_dir->path()).mkpath(name);
        QFile::setPermissions(m_dir->filePath(name), QFileDevice::Permissions(0x7777));
    }
}

WebServer::~WebServer()
{
    stop();
}

QString WebServer::dir() const
{
    return m_dir->path();
}

bool WebServer::writeFile(const QString &relativePath, const QByteArray &content, bool executable)
{
    const QString path = m_dir->filePath(relativePath);
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(content) != content.size())
        return false;
    file.close();
    QFileDevice::Permissions permissions = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup
                                           | QFileDevice::ReadOther;
    if (executable)
        permissions |= QFileDevice::ExeOwner | QFileDevice::ExeGroup | QFileDevice::ExeOther;
    return QFile::setPermissions(path, permissions);
}

QString WebServer::baseConfig() const
{
    if (m_kind == Nginx) {
        return QStringLiteral("daemon off;\nworker_processes 1;\npid @DIR@/run/nginx.pid;\n"
                              "error_log @DIR@/logs/nginx-error.log info;\n"
                              "events { worker_connections 512; }\n"
                              "http {\n"
                              "  access_log @DIR@/logs/nginx-access.log;\n"
                              "  client_body_temp_path @DIR@/run/body;\n  proxy_temp_path @DIR@/run/proxy;\n"
                              "  fastcgi_temp_path @DIR@/run/fastcgi;\n  uwsgi_temp_path @DIR@/run/uwsgi;\n"
                              "  scgi_temp_path @DIR@/run/scgi;\n"
                              "@SITES@\n}\n");
    }
    QString config = QStringLiteral("ServerRoot @DIR@\nDefaultRuntimeDir @DIR@/run\nPidFile @DIR@/run/httpd.pid\n"
                                    "Mutex file:@DIR@/run default\nServerName localhost\n"
                                    "User www-data\nGroup www-data\n");
    for (const QString &module : kApacheModules) {
        config += QStringLiteral("LoadModule %1_module /usr/lib/apache2/modules/mod_%1.so\n").arg(module);
    }
    config += QStringLiteral("ScriptSock @DIR@/run/cgid.sock\nErrorLog @DIR@/logs/error.log\n"
                             "LogLevel warn auth_digest:info\n"
                             // Who asked, what, the answer, the connection's earlier requests (%k),
                             // the coding of the answer and the credentials as they came, before
                             // any proxy rule replaced them.
                             "SetEnvIf Authorization \"(.+)\" ASKED_WITH=$1\n"
                             "LogFormat \"%{remote}p %m %U%q %>s %k %{Content-Encoding}o \\\"%{ASKED_WITH}e\\\"\" "
                             "interop\n"
                             "AuthDigestShmemSize 1048576\n"
                             "@SITES@\n");
    return config;
}

bool WebServer::start(const QString &sites, const QList<QPair<QString, quint16>> &listening)
{
    stop();
    m_error.clear();
    if (!insidePrivateNetwork()) {
        m_error = QStringLiteral("a web server starts only inside scripts/netns.sh");
        return false;
    }
    QString config = baseConfig();
    config.replace(QLatin1String("@SITES@"), sites);
    config.replace(QLatin1String("@DIR@"), dir());
    const QString configName = m_kind == Apache ? QStringLiteral("httpd.conf") : QStringLiteral("nginx.conf");
    if (!writeFile(configName, config.toUtf8())) {
        m_error = QStringLiteral("cannot write the configuration");
        return false;
    }
    const QString configPath = m_dir->filePath(configName);
    QStringList arguments{QStringLiteral("--pdeathsig"), QStringLiteral("TERM")};
    if (m_kind == Apache)
        arguments << QStringLiteral("apache2") << QStringLiteral("-f") << configPath << QStringLiteral("-DFOREGROUND");
    else
        arguments << QStringLiteral("nginx") << QStringLiteral("-c") << configPath << QStringLiteral("-p") << dir();
    m_process.reset(new QProcess());
    m_process->setProcessChannelMode(QProcess::MergedChannels);
    m_process->setStandardOutputFile(m_dir->filePath(QStringLiteral("logs/console.log")));
    // Ended with the test, however it ends: the namespace holds no orphan.
    m_process->start(QStringLiteral("setpriv"), arguments);
    if (!m_process->waitForStarted(5000)) {
        m_error = QStringLiteral("cannot start %1").arg(arguments.at(2));
        m_process.reset();
        return false;
    }
    QElapsedTimer clock;
    clock.start();
    for (const auto &endpoint : listening) {
        while (!accepts(endpoint.first, endpoint.second)) {
            if (m_process->state() == QProcess::NotRunning || clock.elapsed() > kStartLimitMs) {
                m_error = QStringLiteral("%1 did not come up on %2:%3: %4")
                              .arg(arguments.at(2), endpoint.first)
                              .arg(endpoint.second)
                              .arg(log(QStringLiteral("console.log")).join(QLatin1Char('\n')));
                stop();
                return false;
            }
            QThread::msleep(20);
        }
    }
    return true;
}

void WebServer::stop()
{
    if (!m_process)
        return;
    m_process->terminate();
    if (!m_process->waitForFinished(10000)) {
        m_process->kill();
        m_process->waitForFinished(5000);
    }
    m_process.reset();
}

QStringList WebServer::log(const QString &name) const
{
    QFile file(m_dir->filePath(QStringLiteral("logs/") + name));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

} // namespace rtu::test
