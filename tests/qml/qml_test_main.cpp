#include "app/qml_registration.h"
#include "app/rtu_context.h"
#include "qml_test_fixture.h"

#include <QGuiApplication>
#include <QPointer>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQmlError>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>
#include <QtQuickTest>

#include <utility>

// A TestCase types into its own window; an open drop-down list is a window
// of its own, so keys for it go through here.
class WindowKeys : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    Q_INVOKABLE bool typeText(QObject *item, const QString &text)
    {
        QQuickWindow *window = windowOf(item);
        for (const QChar character : text)
            click(window, QTest::asciiToKey(character.toLatin1()), character);
        return window;
    }

    Q_INVOKABLE bool keyClick(QObject *item, int key)
    {
        QQuickWindow *window = windowOf(item);
        const char ascii = QTest::keyToAscii(Qt::Key(key));
        click(window, Qt::Key(key), ascii ? QString(QChar::fromLatin1(ascii)) : QString());
        return window;
    }

private:
    // A key can close the list, which deletes its window between the press
    // and the release. QTest::sendKeyEvent would take the application for a
    // QApplication (Qt Quick Test brings in the widgets module), which it is not.
    static void click(QQuickWindow *window, Qt::Key key, const QString &text)
    {
        const QPointer<QQuickWindow> guard(window);
        for (const QEvent::Type type : {QEvent::KeyPress, QEvent::KeyRelease}) {
            if (!guard)
                return;
            qt_handleKeyEvent(guard, type, key, Qt::NoModifier, text);
            QCoreApplication::processEvents();
        }
    }

    static QQuickWindow *windowOf(QObject *item)
    {
        auto *quickItem = qobject_cast<QQuickItem *>(item);
        return quickItem ? quickItem->window() : nullptr;
    }
};

// What the engine warned about, for tests that must run without warnings.
class QmlWarnings : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    Q_INVOKABLE QStringList take() { return std::exchange(m_warnings, {}); }

public slots:
    void add(const QList<QQmlError> &warnings)
    {
        for (const QQmlError &warning : warnings)
            m_warnings.append(warning.toString());
    }

private:
    QStringList m_warnings;
};

// Every Qt Quick test sees what the tool's documents see: the module
// "orvane.rtu" 1.0 and a real application context as "rtuContext". Tests that
// need servers also get "testFixture" (simulated fleet, model rows).
class QmlTestSetup : public QObject
{
    Q_OBJECT

public:
    // Made before the application object. Images come from their @2x files
    // under QT_SCALE_FACTOR 2, as in the tool; the screen's own ratio is not
    // followed, since the offscreen screen's 100 dpi would make it 1.04.
    QmlTestSetup() { QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps); }

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
        if (!m_keys)
            m_keys = new WindowKeys(QCoreApplication::instance());
        engine->rootContext()->setContextProperty(QStringLiteral("windowKeys"), m_keys);
        if (!m_warnings)
            m_warnings = new QmlWarnings(QCoreApplication::instance());
        QObject::connect(engine, &QQmlEngine::warnings, m_warnings, &QmlWarnings::add);
        engine->rootContext()->setContextProperty(QStringLiteral("qmlWarnings"), m_warnings);
    }

private:
    rtu::RtuContext *m_context = nullptr;
    rtu::test::QmlTestFixture *m_fixture = nullptr;
    WindowKeys *m_keys = nullptr;
    QmlWarnings *m_warnings = nullptr;
};

QUICK_TEST_MAIN_WITH_SETUP(tessaly, QmlTestSetup)

#include "qml_test_main.moc"
