#include "peer_sim.h"

#include "test_paths.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QTcpSocket>
#include <QUrl>

namespace rtu::test {

namespace {

constexpr int startLimitMs = 15000;
constexpr int callLimitMs = 10000;

QString readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(file.readAll()).trimmed();
}

} // namespace

PeerSim::PeerSim() = default;

PeerSim::~PeerSim()
{
    stop();
}

QString PeerSim::simulatorPath()
{
    return sourceDir() + QStringLiteral("/tools/peer-sim/peer_sim.py");
}

QByteArray PeerSim::requestDatagram()
{
    return QByteArrayLiteral("{ magic: \"7B938F06-ACF1-45f0-8303-98AA8057739A\" }");
}

bool PeerSim::start(const QByteArray &fleetJson, const QStringList &extraArguments)
{
    stop();
    m_dir.reset(new QTemporaryDir());
    const QString path = m_dir->filePath(QStringLiteral("fleet.json"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(fleetJson) != fleetJson.size()) {
        m_error = QStringLiteral("cannot write %1").arg(path);
        return false;
    }
    file.close();
    return startWithFile(path, extraArguments);
}

bool PeerSim::start(const QJsonObject &fleet, const QStringList &extraArguments)
{
    return start(QJsonDocument(fleet).toJson(QJsonDocument::Compact), extraArguments);
}

bool PeerSim::startWithFile(const QString &fleetPath, const QStringList &extraArguments)
{
    if (m_process)
        stop();
    if (!m_dir)
        m_dir.reset(new QTemporaryDir());
    m_error.clear();
    const QString readyFile = m_dir->filePath(QStringLiteral("ready.json"));
    const QString errorFile = m_dir->filePath(QStringLiteral("stderr.txt"));
    QFile::remove(readyFile);

    m_process.reset(new QProcess());
    m_process->setStandardOutputFile(QProcess::nullDevice());
    m_process->setStandardErrorFile(errorFile);
    m_process->start(QStringLiteral("python3"),
                     QStringList{simulatorPath(), QStringLiteral("--fleet"), fleetPath,
                                 QStringLiteral("--ready-file"), readyFile,
                                 QStringLiteral("--log"), logFilePath(),
                                 // A test that crashes must not leave the fleet behind.
                                 QStringLiteral("--parent-pid"), QString::number(QCoreApplication::applicationPid())}
                         + extraArguments);
    if (!m_process->waitForStarted(startLimitMs)) {
        m_error = QStringLiteral("python3 did not start: %1").arg(m_process->errorString());
        m_process.reset();
        return false;
    }

    // Polled rather than waited for through the event loop, so that nothing
    // else runs while the fleet comes up; waitForFinished also notices an
    // early exit, which the process state alone would not without events.
    QElapsedTimer clock;
    clock.start();
    while (!QFile::exists(readyFile)) {
        if (m_process->waitForFinished(10) || m_process->state() == QProcess::NotRunning
            || clock.elapsed() > startLimitMs) {
            stop();
            const QString text = readFile(errorFile);
            m_error = text.isEmpty() ? QStringLiteral("the simulator did not become ready") : text;
            return false;
        }
    }
    const QJsonObject ready = QJsonDocument::fromJson(readFile(readyFile).toUtf8()).object();
    m_controlPort = quint16(ready.value(QStringLiteral("controlPort")).toInt());
    return m_controlPort != 0;
}

void PeerSim::stop()
{
    if (!m_process)
        return;
    if (m_process->state() != QProcess::NotRunning) {
        if (m_controlPort != 0)
            call("POST", QStringLiteral("/shutdown"));
        if (!m_process->waitForFinished(3000)) {
            m_process->terminate();
            if (!m_process->waitForFinished(3000))
                m_process->kill();
            m_process->waitForFinished(1000);
        }
    }
    m_process.reset();
    m_controlPort = 0;
}

bool PeerSim::isRunning() const
{
    return m_process && m_process->state() == QProcess::Running && m_controlPort != 0;
}

QString PeerSim::errorString() const
{
    return m_error;
}

quint16 PeerSim::controlPort() const
{
    return m_controlPort;
}

QString PeerSim::logFilePath() const
{
    return m_dir ? m_dir->filePath(QStringLiteral("requests.jsonl")) : QString();
}

QJsonArray PeerSim::servers()
{
    return call("GET", QStringLiteral("/servers")).value(QStringLiteral("servers")).toArray();
}

QJsonObject PeerSim::server(const QString &key)
{
    return call("GET", QStringLiteral("/servers/") + QString::fromUtf8(QUrl::toPercentEncoding(key)));
}

QJsonObject PeerSim::update(const QString &key, const QJsonObject &changes)
{
    return call("POST", QStringLiteral("/servers/") + QString::fromUtf8(QUrl::toPercentEncoding(key)),
                QJsonDocument(changes).toJson(QJsonDocument::Compact));
}

QJsonObject PeerSim::setKnobs(const QString &key, const QJsonObject &knobs)
{
    return update(key, QJsonObject{{QStringLiteral("knobs"), knobs}});
}

QJsonArray PeerSim::requestLog(const QString &kind)
{
    QString path = QStringLiteral("/log");
    if (!kind.isEmpty())
        path += QStringLiteral("?kind=") + QString::fromUtf8(QUrl::toPercentEncoding(kind));
    return call("GET", path).value(QStringLiteral("entries")).toArray();
}

void PeerSim::clearLog()
{
    call("DELETE", QStringLiteral("/log"));
}

QJsonObject PeerSim::stats()
{
    return call("GET", QStringLiteral("/stats"));
}

QJsonObject PeerSim::call(const QByteArray &method, const QString &path, const QByteArray &body)
{
    if (m_controlPort == 0) {
        m_error = QStringLiteral("the simulator is not running");
        return {};
    }
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), m_controlPort);
    if (!socket.waitForConnected(callLimitMs)) {
        m_error = QStringLiteral("control interface: %1").arg(socket.errorString());
        return {};
    }
    socket.write(method + ' ' + path.toUtf8() + " HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                 "Connection: close\r\nContent-Type: application/json\r\nContent-Length: "
                 + QByteArray::number(body.size()) + "\r\n\r\n" + body);
    socket.waitForBytesWritten(callLimitMs);
    QByteArray answer;
    QElapsedTimer clock;
    clock.start();
    while (socket.state() == QAbstractSocket::ConnectedState && clock.elapsed() < callLimitMs) {
        socket.waitForReadyRead(100);
        answer += socket.readAll();
    }
    answer += socket.readAll();

    const int split = answer.indexOf("\r\n\r\n");
    const QList<QByteArray> statusLine = answer.left(answer.indexOf("\r\n")).split(' ');
    const int status = statusLine.size() > 1 ? statusLine.at(1).toInt() : 0;
    const QJsonObject result =
        split < 0 ? QJsonObject() : QJsonDocument::fromJson(answer.mid(split + 4)).object();
    if (status != 200) {
        m_error = status == 0 ? QStringLiteral("control interface: no answer to %1").arg(path)
                              : result.value(QStringLiteral("error")).toString();
        return {};
    }
    return result;
}

} // namespace rtu::test
