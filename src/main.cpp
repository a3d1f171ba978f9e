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
    QGuiApplication application(argc, argv);
    // Matches the window with the installed desktop entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("example.tessaly.ServerConfigTool"));
    QGuiApplication::setWindowIcon(QIcon(QStringLiteral(":/tesstool.ico")));
    // Discovery's first cycle is timed from the context's creation; the
    // graphics probe below takes tens of milliseconds, so it comes after.
    rtu::RtuContext context(&application);
    rtu::chooseSceneGraphBackend();
    QQmlApplicationEngine engine;

    rtu::registerQmlTypes();
    engine.rootContext()->setContextProperty(QStringLiteral("rtuContext"), &context);
    engine.load(QUrl(QStringLiteral("qrc:/src/qml/main.qml")));

    return application.exec();
}
