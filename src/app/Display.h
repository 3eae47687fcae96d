#pragma once

#include <QString>

namespace tarvo {

// Whether a window can be shown: a platform named in QT_QPA_PLATFORM, a Wayland session, or an X
// display that accepts a connection. Checked before the application object exists, because Qt ends
// the process when its platform cannot start. reason says what is missing when there is none.
bool displayAvailable(QString* reason = nullptr);

} // namespace tarvo
