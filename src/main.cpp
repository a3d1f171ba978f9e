#include "app/graphics.h"
#include "app/qml_registration.h"
#include "app/rtu_context.h"

#include <QGuiApplication>
#include <QIcon>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QUrl>

int main(int argc, char *argv[])
{
    rtu::enableHighDpiScaling();
    QGuiApplication application(argc, argv);
    // Discovery's first cycle is timed from the context's creation; the
    // graphics probe takes tens of milliseconds and reading the icon some
    // more, so they come after.
    rtu::RtuContext context(&application);
    // Matches the window with the installed desktop entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("example.tessaly.ServerConfigTool"));
    QGuiApplication::setWindowIcon(QIcon(QStringLiteral(":/tesstool.ico")));
    rtu::chooseSceneGraphBackend();
    QQmlApplicationEngine engine;

    rtu::registerQmlTypes();
    engine.rootContext()->setContextProperty(QStringLiteral("rtuContext"), &context);
    engine.load(QUrl(QStringLiteral("qrc:/src/qml/main.qml")));

    return application.exec();
}
