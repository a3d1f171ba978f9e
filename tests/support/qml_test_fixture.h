#pragma once

#include <QObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QVariant>

namespace rtu::test {

// What Qt Quick tests need beyond the tool's own objects: a simulated fleet
// to talk to, its control interface, and a way to read any list model's rows.
class QmlTestFixture : public QObject
{
    Q_OBJECT

public:
    explicit QmlTestFixture(QObject *parent = nullptr);
    ~QmlTestFixture() override;

public slots:
    // Starts the simulator with a fleet file of tests/qml/data (once per process).
    bool startFleet(const QString &fleetFile);
    void stopFleet();

    // The simulator's view of one server (by id or name), or of all of them.
    QVariantMap serverState(const QString &key);
    // Applies a control change (name, systemName, password, knobs, ...).
    bool updateServer(const QString &key, const QVariantMap &changes);

    // Every row of a list model as a map from role name to value.
    QVariantList modelRows(QObject *model) const;
    // The row of the selection model whose role equals the value, or -1.
    int findRow(QObject *model, const QString &role, const QVariant &value) const;

private:
    QVariant control(const QByteArray &verb, const QString &path, const QByteArray &body = QByteArray());

    QProcess m_simulator;
    QTemporaryDir m_dir;
    int m_controlPort = 0;
};

} // namespace rtu::test
