#include "Display.h"

#include <xcb/xcb.h>

namespace tarvo {

bool displayAvailable(QString* reason)
{
    if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return true;
    const QString display = qEnvironmentVariable("DISPLAY");
    if (display.isEmpty()) {
        if (reason)
            *reason = QStringLiteral("no display (DISPLAY and WAYLAND_DISPLAY are not set)");
        return false;
    }
    // A display named but out of reach (an ssh session without X forwarding, a stopped X server).
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    const bool ok = xcb_connection_has_error(connection) == 0;
    xcb_disconnect(connection);
    if (!ok && reason)
        *reason = QStringLiteral("the display %1 cannot be reached").arg(display);
    return ok;
}

} // namespace tarvo
