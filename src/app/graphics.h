#pragma once

#include <QByteArray>

namespace rtu {

// Picks how the window is drawn, before any window exists: where OpenGL is
// only a software rasteriser, Qt Quick's own software renderer draws just
// what changed, on the GUI thread, instead of redrawing the whole window
// through a rasteriser that competes for the same processor. A backend the
// operator set in the environment is left alone. With the software renderer
// the window draws at most one frame per 16 ms unless the operator set
// QT_QPA_UPDATE_IDLE_TIME.
void chooseSceneGraphBackend();

// Scales the window by the screen's device pixel ratio (fractions such as
// 1.5 included, so that a 150 % screen does not get a window twice as large)
// and draws images from their @2x files where the ratio calls for them.
// Must run before the application object is created.
void enableHighDpiScaling();

// Whether the OpenGL the platform offers is a software rasteriser (or none).
bool openGlIsSoftware();

// Whether a GL_RENDERER string names a software rasteriser.
bool rendererIsSoftware(const QByteArray &glRenderer);

} // namespace rtu
