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

// The prompter used by code that has no other one at hand (the conversions). Starts as a
// StderrPrompter; the console installs its own once a window can be shown.
Prompter& defaultPrompter();
void setDefaultPrompter(Prompter* prompter); // nullptr restores the standard error one

} // namespace tarvo
