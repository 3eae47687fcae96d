#pragma once

#include <QString>

namespace tarvo {

// Message boxes with an OK button only. The console shows real boxes; an unattended job and the
// tests get an implementation that never waits for a click.
class Prompter {
public:
    enum class Icon { None, Information, Critical };

    virtual ~Prompter() = default;
    virtual void message(const QString& title, const QString& text, Icon icon) = 0;
};

// Writes each message as one line on standard error; used wherever no window may be shown.
class StderrPrompter final : public Prompter {
public:
    void message(const QString& title, const QString& text, Icon icon) override;
};

// A conversion's "Error #" box shown as a message box with an OK button only.
inline auto errorBoxOn(Prompter& prompter)
{
    return [&prompter](const QString& title, const QString& prompt) {
        prompter.message(title, prompt, Prompter::Icon::None);
    };
}

} // namespace tarvo
