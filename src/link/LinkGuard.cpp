#include "LinkGuard.h"

#include "Clock.h"
#include "EventPump.h"
#include "LinkSettings.h"

#include <exception>

#include "Errors.h"
#include "Trace.h"

#include <exception>

namespace tarvo {

void guarded(Trace& trace, const char* operation, const std::function<void()>& steps)
{
    QString description;
    try {
        steps();
        return;
    } catch (const TarvoError& e) {
        description = e.description();
    } catch (const std::exception& e) {
        description = QString::fromLocal8Bit(e.what());
    } catch (...) {
        description = QStringLiteral("Unknown error");
    }
    trace.write(QString::fromLatin1(operation) + QStringLiteral(":: Error : ") + description);
}

void waitToOpen(EventPump& pump, const Clock& clock, const LinkSettings& settings, const std::function<bool()>& done,
                int tickMs)
{
    const double t0 = clock.now();
    std::exception_ptr unreadable;
    const auto deadline = [&] {
        try {
            return t0 + (settings.timeoutMs ? settings.timeoutMs() : 0) / 1000.0;
        } catch (...) {
            unreadable = std::current_exception();
            return t0;
        }
    };
    pumpUntil(
        pump, clock, deadline, {}, [&] { return unreadable || done(); }, tickMs);
    if (unreadable)
        std::rethrow_exception(unreadable);
}

} // namespace tarvo
