// tessaly-screenshot --qml FILE --out PNG [--wait MS] [--width W] [--height H]
//
// Loads FILE with the module "orvane.rtu" and "rtuContext" in place, shows it,
// waits, and saves every visible window side by side in one PNG: the document's
// own window first, then the others (open dialogs) stacked at its right, each
// under its title.
#include "app/graphics.h"
#include "app/qml_registration.h"
#include "app/rtu_context.h"

#include <QCommandLineParser>
#include <QGuiApplication>
#include <QPainter>
#include <QQmlComponent>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTimer>
#include <QtMath>
#include <QUrl>

#include <cstdio>
#include <memory>

namespace {

struct Shot
{
    QString title;
    QImage image;
};

QImage compose(const QVector<Shot> &shots)
{
    const int gap = 16;
    const int titleHeight = 22;
    const QImage &main = shots.first().image;
    int sideWidth = 0;
    int sideHeight = 0;
    for (int i = 1; i < shots.size(); ++i) {
        sideWidth = qMax(sideWidth, shots.at(i).image.width());
        sideHeight += titleHeight + shots.at(i).image.height() + gap;
    }
    const int width = main.width() + (sideWidth > 0 ? gap + sideWidth : 0) + 2 * gap;
    const int height = qMax(main.height() + titleHeight, sideHeight) + 2 * gap;

    QImage result(width, height, QImage::Format_ARGB32);
    result.fill(QColor(QStringLiteral("#d0d0d0")));
    QPainter painter(&result);
    int x = gap;
    int y = gap;
    for (int i = 0; i < shots.size(); ++i) {
        const Shot &shot = shots.at(i);
        if (i == 1) {
            x = gap + main.width() + gap;
            y = gap;
        }
        painter.setPen(Qt::black);
        painter.drawText(QRect(x, y, shot.image.width() + 200, titleHeight), Qt::AlignLeft | Qt::AlignVCenter,
                         shot.title.isEmpty() ? QStringLiteral("(untitled)") : shot.title);
        painter.drawImage(x, y + titleHeight, shot.image);
        painter.setPen(QColor(QStringLiteral("#808080")));
        painter.drawRect(QRect(x - 1, y + titleHeight - 1, shot.image.width() + 1, shot.image.height() + 1));
        y += titleHeight + shot.image.height() + gap;
    }
    return result;
}

} // namespace

int main(int argc, char *argv[])
{
    rtu::enableHighDpiScaling();
    QGuiApplication app(argc, argv);

    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption qmlOption(QStringLiteral("qml"), QStringLiteral("Document to render."),
                                       QStringLiteral("FILE"));
    const QCommandLineOption outOption(QStringLiteral("out"), QStringLiteral("PNG to write."), QStringLiteral("PNG"));
    const QCommandLineOption waitOption(QStringLiteral("wait"), QStringLiteral("Milliseconds to wait before grabbing."),
                                        QStringLiteral("MS"), QStringLiteral("1500"));
    const QCommandLineOption widthOption(QStringLiteral("width"), QStringLiteral("Window width for an Item document."),
                                         QStringLiteral("W"));
    const QCommandLineOption heightOption(QStringLiteral("height"),
                                          QStringLiteral("Window height for an Item document."), QStringLiteral("H"));
    parser.addOptions({qmlOption, outOption, waitOption, widthOption, heightOption});
    parser.process(app);
    if (!parser.isSet(qmlOption) || !parser.isSet(outOption)) {
        std::fprintf(stderr, "%s\n", qPrintable(parser.helpText()));
        return 2;
    }

    auto *context = new rtu::RtuContext(&app);
    QQmlEngine engine;
    rtu::registerQmlTypes();
    engine.rootContext()->setContextProperty(QStringLiteral("rtuContext"), context);
    QObject::connect(&engine, &QQmlEngine::quit, &app, &QGuiApplication::quit);

    const QString file = parser.value(qmlOption);
    const QUrl url = file.startsWith(QLatin1String("qrc:")) ? QUrl(file) : QUrl::fromLocalFile(file);
    QQmlComponent component(&engine, url);
    std::unique_ptr<QObject> root(component.create());
    if (!root) {
        std::fprintf(stderr, "%s\n", qPrintable(component.errorString()));
        return 1;
    }

    QQuickWindow *window = qobject_cast<QQuickWindow *>(root.get());
    std::unique_ptr<QQuickWindow> ownWindow;
    if (!window) {
        auto *item = qobject_cast<QQuickItem *>(root.get());
        if (!item) {
            std::fprintf(stderr, "The document is neither an Item nor a Window\n");
            return 1;
        }
        ownWindow = std::make_unique<QQuickWindow>();
        window = ownWindow.get();
        window->setColor(Qt::white);
        item->setParentItem(window->contentItem());
        const int width = parser.isSet(widthOption) ? parser.value(widthOption).toInt() : qCeil(item->width());
        const int height = parser.isSet(heightOption) ? parser.value(heightOption).toInt() : qCeil(item->height());
        window->resize(qMax(width, 1), qMax(height, 1));
        item->setSize(window->size());
    }
    window->show();

    int exitCode = 0;
    QTimer::singleShot(parser.value(waitOption).toInt(), &app, [&]() {
        QVector<Shot> shots{{window->title(), window->grabWindow()}};
        for (QWindow *other : QGuiApplication::topLevelWindows()) {
            auto *quickWindow = qobject_cast<QQuickWindow *>(other);
            if (quickWindow && quickWindow != window && quickWindow->isVisible())
                shots.append({quickWindow->title(), quickWindow->grabWindow()});
        }
        if (!compose(shots).save(parser.value(outOption))) {
            std::fprintf(stderr, "Cannot write %s\n", qPrintable(parser.value(outOption)));
            exitCode = 1;
        }
        app.quit();
    });
    app.exec();
    root.reset();
    return exitCode;
}
