#include "AppSeams.h"

#include "ConsoleModel.h"

namespace tarvo {

void RoutingPrompter::message(const QString& title, const QString& text, Icon icon)
{
    if (m_window && !m_unattended && !(m_model && m_model->silent()))
        m_window->message(title, text, icon);
    else
        m_stderr.message(title, text, icon);
}

void ConsoleTrace::write(const QString& line)
{
    m_inner.write(line);
    if (onProblem && (line.contains(QLatin1String(":: Error : ")) || line.startsWith(QLatin1String("Link lost"))))
        onProblem(line);
}

} // namespace tarvo
