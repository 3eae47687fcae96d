#pragma once

#include "Prompter.h"

#include <QList>

namespace tarvo::test {

// Records every message instead of showing it.
class FakePrompter final : public Prompter {
public:
    struct Shown {
        QString title;
        QString text;
        Icon icon;
    };
    void message(const QString& title, const QString& text, Icon icon) override { shown.append({title, text, icon}); }
    QList<Shown> shown;
};

} // namespace tarvo::test
