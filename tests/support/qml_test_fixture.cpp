#include "qml_test_fixture.h"

#include "test_paths.h"

#include <QAbstractItemModel>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QThread>
#include <QTimer>
#include <QUrl>

namespace rtu::test {

QmlTestFixture::QmlTestFixture(QObject *parent) : QObject(parent) {}

QmlTestFixture::~QmlTestFixture()
{
    stopFleet();
}

bool QmlTestFixture::startFleet(const QString &fleetFile)
{
    if (m_simulator.state() != QProcess::NotRunning)
        return m_controlPort != 0;

    const QString readyFile = m_dir.filePath(QStringLiteral("ready.json"));
    m_simulator.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_simulator.start(QStringLiteral("python3"),
                      {sourceDir() + QStringLiteral("/tools/peer-sim/peer_sim.py"), QStringLiteral("--fleet"),
                       sourceDir() + QStringLiteral("/tests/qml/data/") + fleetFile,
                       QStringLiteral("--quiet-discovery"), QStringLiteral("--ready-file"), readyFile});
    if (!m_simulator.waitForStarted(5000))
        return false;

    QDeadlineTimer deadline(10000);
    while (!deadline.hasExpired() && m_simulator.state() == QProcess::Running) {
        QFile ready(readyFile);
        if (ready.open(QIODevice::ReadOnly)) {
            m_controlPort = QJsonDocument::fromJson(ready.readAll()).object().value(QStringLiteral("controlPort")).toInt();
            return m_controlPort != 0;
        }
        QThread::msleep(50);
    }
    return false;
}

void QmlTestFixture::stopFleet()
{
    if (m_simulator.state() == QProcess::NotRunning)
        return;
    m_simulator.terminate();
    if (!m_simulator.waitForFinished(3000))
        m_simulator.kill();
    m_controlPort = 0;
}

QVariant QmlTestFixture::control(const QByteArray &verb, const QString &path, const QByteArray &body)
{
    if (!m_controlPort)
        return QVariant();

    QNetworkAccessManager manager;
    QNetworkRequest request(QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(m_controlPort).arg(path)));
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    QNetworkReply *reply = manager.sendCustomRequest(request, verb, body);
    QEventLoop loop;
    connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(5000, &loop, &QEventLoop::quit);
    loop.exec();
    const QVariant result = reply->isFinished() && reply->error() == QNetworkReply::NoError
        ? QJsonDocument::fromJson(reply->readAll()).toVariant()
        : QVariant();
    reply->deleteLater();
    return result;
}

QVariantMap QmlTestFixture::serverState(const QString &key)
{
    const QString path = key.isEmpty() ? QStringLiteral("/servers")
                                       : QStringLiteral("/servers/") + QString::fromLatin1(QUrl::toPercentEncoding(key));
    return control("GET", path).toMap();
}

bool QmlTestFixture::updateServer(const QString &key, const QVariantMap &changes)
{
    const QByteArray body = QJsonDocument(QJsonObject::fromVariantMap(changes)).toJson(QJsonDocument::Compact);
    return control("POST", QStringLiteral("/servers/") + QString::fromLatin1(QUrl::toPercentEncoding(key)), body).isValid();
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

int QmlTestFixture::findRow(QObject *model, const QString &role, const QVariant &value) const
{
    const QVariantList rows = modelRows(model);
    for (int row = 0; row < rows.size(); ++row) {
        if (rows.at(row).toMap().value(role) == value)
            return row;
    }
    return -1;
}

} // namespace rtu::test
