#pragma once

#include <QSocketNotifier>
#include <functional>
#include <memory>

namespace tarvo {

// SIGTERM and SIGINT as an ordinary event: the handler only writes a byte to a pipe, and onTerminate
// runs from the event loop (or from any wait that pumps it). Null when the pipe cannot be made.
std::unique_ptr<QSocketNotifier> watchTerminationSignals(std::function<void()> onTerminate);

} // namespace tarvo
