#include "qml_test_fixture.h"

#include "field_inputs.h"

#include "test_paths.h"

#include "models/servers_selection_model.h"

#include <QAbstractItemModel>
#include <QDir>
#include <QImage>
#include <QJsonObject>
#include <QQuickItem>
#include <QQuickWindow>

namespace rtu::test {

QmlTestFixture::QmlTestFixture(QObject *parent) : QObject(parent) {}

QmlTestFixture::~QmlTestFixture() = default;

bool QmlTestFixture::startFleet(const QString &fleetFile)
{
    if (m_sim.isRunning())
        return true;
    const QString path = QDir::isAbsolutePath(fleetFile) ? fleetFile
                                                         : sourceDir() + QStringLiteral("/tests/qml/data/") + fleetFile;
    if (m_sim.startWithFile(path,
                            {QStringLiteral("--quiet-discovery")}))
        return true;
    qWarning("simulated fleet: %s", qPrintable(m_sim.errorString()));
    return false;
}

QVariantMap QmlTestFixture::serverState(const QString &key)
{
    return m_sim.server(key).toVariantMap();
}

bool QmlTestFixture::updateServer(const QString &key, const QVariantMap &changes)
{
    return !m_sim.update(key, QJsonObject::fromVariantMap(changes)).isEmpty();
}

QObject *QmlTestFixture::fullSelectionModel(int servers)
{
    ServersSelectionTiming timing;
    timing.maxServers = servers;
    auto *model = new ServersSelectionModel(this, timing);
    for (int index = 0; index < servers; ++index) {
        BaseServerInfo info;
        info.id = QUuid::createUuid();
        info.name = QStringLiteral("Server %1").arg(index + 1);
        info.systemName = QStringLiteral("Full");
        info.hostAddress = QStringLiteral("127.0.0.1");
        info.port = 1;
        model->addServer(info);
    }
    return model;
}

QVariantList QmlTestFixture::modelRows(QObject *model) const
{
    QVariantList rows;
    const auto *itemModel = qobject_cast<const QAbstractItemModel *>(model);
    if (!itemModel)
        return rows;

    const QHash<int, QByteArray> roles = itemModel->roleNames();
    for (int row = 0; row < itemModel->rowCount(); ++row) {
        QVariantMap values;
        const QModelIndex index = itemModel->index(row, 0);
        for (auto role = roles.cbegin(); role != roles.cend(); ++role)
            values.insert(QString::fromLatin1(role.value()), itemModel->data(index, role.key()));
        rows.append(values);
    }
    return rows;
}

QString QmlTestFixture::environment(const QString &name) const
{
    return qEnvironmentVariable(name.toLocal8Bit().constData());
}

bool QmlTestFixture::saveWindowImage(QObject *itemOrWindow, const QString &path) const
{
    auto *window = qobject_cast<QQuickWindow *>(itemOrWindow);
    if (auto *item = qobject_cast<QQuickItem *>(itemOrWindow))
        window = item->window();
    return window && window->grabWindow().save(path);
}

QVariantList QmlTestFixture::fieldInputs() const
{
    return fieldInputsForQml();
}

} // namespace rtu::test
