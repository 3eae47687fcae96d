#include "LinkGuard.h"

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

} // namespace tarvo
