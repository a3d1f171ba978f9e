#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QScopedPointer>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace rtu::test {

// Runs the simulated server fleet (tools/peer-sim/peer_sim.py) as a child
// process and talks to its control interface synchronously (no event loop is
// spun, so the code under test sees nothing happen during a call). The test
// itself must run inside the private network namespace (scripts/netns.sh);
// CTest does that through scripts/test.sh.
//
//   PeerSim sim;
//   QVERIFY2(sim.start(R"({"servers": [{"name": "A", "password": "secret"}]})"),
//            qPrintable(sim.errorString()));
//   const QJsonObject a = sim.server(QStringLiteral("A"));   // id, name or index
//   sim.setKnobs(QStringLiteral("A"), {{"delayMs", 3000}});
//   sim.update(QStringLiteral("A"), {{"flags", "SF_timeCtrl"}});
//   const QJsonArray requests = sim.requestLog();             // HTTP requests
//
// A server's state holds "id", "name", "systemName", "port", "flags",
// "addresses", "password", "interfaces", "clockOffsetMs", "utcTimeMs",
// "timezoneId" / "timeZoneOffset" and "knobs". A log entry holds "server",
// "method", "path", "query" ([[key, value or null], ...] in wire order),
// "auth" (null for a request without credentials, else
// {"scheme", "user", "password"}), "authorized", "status" (null when the
// server gave no answer) and "body".
// The knobs and the description format are listed in tools/peer-sim/README.md.
// Destruction stops the simulator.
class PeerSim
{
public:
    PeerSim();
    ~PeerSim();

    // Starts a fleet from a description text or file; returns false (see
    // errorString()) when the simulator refused it or did not come up.
    bool start(const QByteArray &fleetJson, const QStringList &extraArguments = {});
    bool start(const QJsonObject &fleet, const QStringList &extraArguments = {});
    bool startWithFile(const QString &fleetPath, const QStringList &extraArguments = {});
    void stop();
    bool isRunning() const;
    QString errorString() const;
    quint16 controlPort() const;
    // The JSON-lines request log written by the simulator.
    QString logFilePath() const;

    QJsonArray servers();
    QJsonObject server(const QString &key);
    // Fields ("name", "systemName", "flags", "password", "clockOffsetMs",
    // "timezoneId", "timeZoneOffset", "knobs", "answerExtra"); returns the new
    // state, or an empty object when the change was refused.
    QJsonObject update(const QString &key, const QJsonObject &changes);
    QJsonObject setKnobs(const QString &key, const QJsonObject &knobs);
    // Entries of one kind ("http" or "discovery"); an empty kind gives all.
    QJsonArray requestLog(const QString &kind = QStringLiteral("http"));
    void clearLog();
    QJsonObject stats();

    static QString simulatorPath();
    // The exact discovery request datagram.
    static QByteArray requestDatagram();

private:
    // Returns the parsed body; sets the error text when the status is not 200.
    QJsonObject call(const QByteArray &method, const QString &path,
                     const QByteArray &body = QByteArray());

    QScopedPointer<QTemporaryDir> m_dir;
    QScopedPointer<QProcess> m_process;
    quint16 m_controlPort = 0;
    QString m_error;
};

} // namespace rtu::test
