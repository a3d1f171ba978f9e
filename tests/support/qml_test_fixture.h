#pragma once

#include "peer_sim.h"

#include <QObject>
#include <QVariant>

namespace rtu::test {

// What Qt Quick tests need beyond the tool's own objects: a simulated fleet
// with its control interface, and a way to read any list model's rows.
class QmlTestFixture : public QObject
{
    Q_OBJECT

public:
    explicit QmlTestFixture(QObject *parent = nullptr);
    ~QmlTestFixture() override;

public slots:
    // Starts the simulator with a fleet file (relative: of tests/qml/data), once per process.
    bool startFleet(const QString &fleetFile);

    // The simulator's view of one server (by id or name).
    QVariantMap serverState(const QString &key);
    // Applies a control change (name, systemName, password, knobs, ...).
    bool updateServer(const QString &key, const QVariantMap &changes);

    // Every row of a list model as a map from role name to value.
    QVariantList modelRows(QObject *model) const;

    // A selection model of its own, already holding as many servers as it
    // may list (they answer nothing).
    QObject *fullSelectionModel(int servers);

    // The table of values both front ends must take or refuse alike.
    QVariantList fieldInputs() const;

    // A variable of the runner's environment (where screenshots go, for example).
    QString environment(const QString &name) const;

    // Saves what the window of an item (or a window) shows, in device pixels:
    // the test case's own grab cuts a scaled window to its size in points.
    bool saveWindowImage(QObject *itemOrWindow, const QString &path) const;

private:
    PeerSim m_sim;
};

} // namespace rtu::test
