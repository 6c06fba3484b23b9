#pragma once

#include <QMetaType>
#include <QString>

// Which scene-graph backend draws the window. Where OpenGL is only a
// software rasteriser (llvmpipe, softpipe: VMs, remote desktops, a display
// without direct rendering), Qt Quick's software backend costs less: it
// repaints only the changed part of the window rather than all of it each
// frame, and loads no rasteriser. Real GPUs keep OpenGL.
namespace sceneGraphBackend {

// What the machine offers, as far as it can be known before any window.
struct Machine {
    QString platform;            // the Qt platform plugin: "xcb", "wayland", ...
    bool userChoseBackend = false;   // QT_QUICK_BACKEND or QSG_RHI_BACKEND is set
    QString libglAlwaysSoftware;     // LIBGL_ALWAYS_SOFTWARE
    QString galliumDriver;           // GALLIUM_DRIVER
    // X11: whether the server offers direct rendering to a GPU (DRI3, DRI2,
    // or NVIDIA's own GLX). Without it Mesa draws with llvmpipe.
    bool xDirectRendering = false;
    bool renderNode = false;     // a readable /dev/dri/renderD* exists
};

enum class Choice { qtDefault, software };

Choice choose(const Machine &machine);

// Reads the machine of the running application (after QGuiApplication is
// made) and sets the backend before the first window is made.
void applyToApplication();

} // namespace sceneGraphBackend

Q_DECLARE_METATYPE(sceneGraphBackend::Machine)
