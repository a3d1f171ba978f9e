#include "app/qml_registration.h"
#include "app/rtu_context.h"
#include "qml_test_fixture.h"

#include <QGuiApplication>
#include <QQmlContext>
#include <QQmlEngine>
#include <QtQuickTest>

// Every Qt Quick test sees what the tool's documents see: the module
// "orvane.rtu" 1.0 and a real application context as "rtuContext". Tests that
// need servers also get "testFixture" (simulated fleet, model rows).
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
        if (!m_fixture)
            m_fixture = new rtu::test::QmlTestFixture(QCoreApplication::instance());
        engine->rootContext()->setContextProperty(QStringLiteral("testFixture"), m_fixture);
    }

private:
    rtu::RtuContext *m_context = nullptr;
    rtu::test::QmlTestFixture *m_fixture = nullptr;
};

QUICK_TEST_MAIN_WITH_SETUP(tessaly, QmlTestSetup)

#include "qml_test_main.moc"
