#include "SceneGraphBackend.h"

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QQuickWindow>
#include <QSGRendererInterface>

#include <xcb/xcb.h>

#include <cstring>

namespace sceneGraphBackend {

namespace {

bool environmentSaysYes(const QString &value)
{
    return !value.isEmpty() && value != QLatin1String("0") && value.compare(QLatin1String("false"), Qt::CaseInsensitive) != 0;
}

bool xServerHas(xcb_connection_t *connection, const char *extension)
{
    const xcb_query_extension_cookie_t cookie =
            xcb_query_extension(connection, uint16_t(std::strlen(extension)), extension);
    xcb_query_extension_reply_t *reply = xcb_query_extension_reply(connection, cookie, nullptr);
    const bool present = reply && reply->present;
    std::free(reply);
    return present;
}

bool xDirectRendering()
{
    auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t *connection = x11 ? x11->connection() : nullptr;
    if (!connection)
        return true;   // nothing known: no reason to leave OpenGL
    return xServerHas(connection, "DRI3") || xServerHas(connection, "DRI2") || xServerHas(connection, "NV-GLX");
}

bool readableRenderNode()
{
    const QDir dri(QStringLiteral("/dev/dri"));
    for (const QFileInfo &node : dri.entryInfoList({QStringLiteral("renderD*")}, QDir::System)) {
        if (node.isReadable())
            return true;
    }
    return false;
}

} // namespace

Choice choose(const Machine &machine)
{
    if (machine.userChoseBackend)
        return Choice::qtDefault;
    if (environmentSaysYes(machine.libglAlwaysSoftware))
        return Choice::software;
    const QString driver = machine.galliumDriver.toLower();
    if (driver == QLatin1String("llvmpipe") || driver == QLatin1String("softpipe"))
        return Choice::software;
    if (machine.platform == QLatin1String("xcb"))
        return machine.xDirectRendering ? Choice::qtDefault : Choice::software;
    if (machine.platform.startsWith(QLatin1String("wayland")))
        return machine.renderNode ? Choice::qtDefault : Choice::software;
    // Other platforms (offscreen, eglfs, ...) keep what Qt picks for them.
    return Choice::qtDefault;
}

void applyToApplication()
{
    Machine machine;
    machine.platform = QGuiApplication::platformName();
    machine.userChoseBackend =
            !qEnvironmentVariableIsEmpty("QT_QUICK_BACKEND") || !qEnvironmentVariableIsEmpty("QSG_RHI_BACKEND");
    machine.libglAlwaysSoftware = qEnvironmentVariable("LIBGL_ALWAYS_SOFTWARE");
    machine.galliumDriver = qEnvironmentVariable("GALLIUM_DRIVER");
    if (!machine.userChoseBackend && machine.platform == QLatin1String("xcb"))
        machine.xDirectRendering = xDirectRendering();
    if (!machine.userChoseBackend && machine.platform.startsWith(QLatin1String("wayland")))
        machine.renderNode = readableRenderNode();
    if (choose(machine) == Choice::software)
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
}

} // namespace sceneGraphBackend
