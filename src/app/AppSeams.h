#pragma once

#include "Prompter.h"
#include "Trace.h"

#include <functional>

namespace tarvo {

class ConsoleModel;

// Message boxes while an operator is there to click them; standard error for an unattended job or a
// silent run, which must never wait for a click.
class RoutingPrompter final : public Prompter {
public:
    explicit RoutingPrompter(bool unattended) : m_unattended(unattended) {}
    void watch(const ConsoleModel& model) { m_model = &model; }
    void setWindowPrompter(Prompter* prompter) { m_window = prompter; }
    void message(const QString& title, const QString& text, Icon icon) override;

private:
    bool m_unattended;
    const ConsoleModel* m_model = nullptr;
    Prompter* m_window = nullptr;
    StderrPrompter m_stderr;
};

// The trace, with its failure lines also shown in the window's status bar: a technician looks at the
// window, not at standard error.
class ConsoleTrace final : public Trace {
public:
    explicit ConsoleTrace(Trace& inner) : m_inner(inner) {}
    void write(const QString& line) override;
    std::function<void(const QString&)> onProblem;

private:
    Trace& m_inner;
};

} // namespace tarvo
