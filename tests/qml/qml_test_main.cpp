#include "core/qml_registration.h"
#include "core/rtu_context.h"

#include <QGuiApplication>
#include <QQmlContext>
#include <QQmlEngine>
#include <QtQuickTest>

// Every Qt Quick test sees what the tool's documents see: the module
// "orvane.rtu" 1.0 and a real application context as "rtuContext".
class QmlTestSetup : public QObject
{
    Q_OBJECT

public slots:
    void applicationAvailable() { rtu::registerQmlTypes(); }

    void qmlEngineAvailable(QQmlEngine *engine)
    {
        if (!m_context)
            m_context = new rtu::RtuContext(QCoreApplication::instance());
        engine->rootContext()->setContextProperty(QStringLiteral("rtuContext"), m_context);
    }

private:
    rtu::RtuContext *m_context = nullptr;
};

QUICK_TEST_MAIN_WITH_SETUP(tessaly, QmlTestSetup)

#include "qml_test_main.moc"
