#include "app/graphics.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QtGlobal>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QQuickWindow>
#include <QSGRendererInterface>

namespace rtu {

bool rendererIsSoftware(const QByteArray &glRenderer)
{
    const QByteArray renderer = glRenderer.toLower();
    static const char *const rasterisers[] = {"llvmpipe", "softpipe", "software rasterizer", "swrast", "swr"};
    for (const char *name : rasterisers) {
        if (renderer.contains(name))
            return true;
    }
    return renderer.trimmed().isEmpty();
}

bool openGlIsSoftware()
{
    QOpenGLContext context;
    if (!context.create())
        return true;
    QOffscreenSurface surface;
    surface.setFormat(context.format());
    surface.create();
    if (!surface.isValid() || !context.makeCurrent(&surface))
        return true;
    const auto *text = reinterpret_cast<const char *>(context.functions()->glGetString(GL_RENDERER));
    const QByteArray renderer(text);
    context.doneCurrent();
    return rendererIsSoftware(renderer);
}

void enableHighDpiScaling()
{
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
    QGuiApplication::setHighDpiScaleFactorRoundingPolicy(Qt::HighDpiScaleFactorRoundingPolicy::PassThrough);
}

void chooseSceneGraphBackend()
{
    // The operator's own choice stands.
    if (qEnvironmentVariableIsSet("QT_QUICK_BACKEND") || qEnvironmentVariableIsSet("QMLSCENE_DEVICE"))
        return;
    if (!openGlIsSoftware())
        return;
    QQuickWindow::setSceneGraphBackend(QSGRendererInterface::Software);
    // Nothing paces the software renderer to the display: a window asks for
    // its next frame 5 ms after the last one, so every answer of a batch or
    // every animation step drew up to 200 frames a second on the GUI thread.
    // One frame per refresh of a 60 Hz display is all anyone sees.
    if (!qEnvironmentVariableIsSet("QT_QPA_UPDATE_IDLE_TIME"))
        qputenv("QT_QPA_UPDATE_IDLE_TIME", "16");
}

} // namespace rtu
