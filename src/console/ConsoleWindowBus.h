#pragma once

// The console window's own part of watching the bus (ConsoleWindow::watchBus): for the window's
// sources only.

#include "ConsoleWindow.h"
#include "Journal.h"

#include <QColor>
#include <QElapsedTimer>
#include <QTimer>
#include <array>
#include <cmath>

namespace tarvo {

class Health;
class JournalWriter;

struct ConsoleWindow::Bus final : JournalSink {
    Bus(Journal& j, Health& h, JournalWriter& w) : journal(j), health(h), writer(w) {}
    ~Bus() override;

    // Keeps each slot's last verdict from the journal's rows: the verdict of a request once it is
    // settled (a reply, the third try without one, an error), not the tries on the way. A Modbus
    // refusal shows at once, and stays when the request's later tries get no answer.
    void append(const QList<JournalRecord>& records) override;

    Journal& journal;
    Health& health;
    JournalWriter& writer;
    JournalDock* journalDock = nullptr;
    ControllersDock* controllersDock = nullptr;
    QAction* toFile = nullptr;
    // When the rows go to the views and the file: see ConsoleWindow::watchBus.
    QElapsedTimer sinceFlush;
    bool flushPosted = false;
    QTimer lastRows; // flushes what came last, once polling has stopped

    struct Mark {
        bool set = false;
        JournalRecord::Verdict verdict = JournalRecord::Verdict::Ok;
        QDateTime time;
        double firstByteMs = NAN;
        QString detail;
    };
    std::array<Mark, 32> marks;
    std::array<bool, 32> changed{};
    std::array<bool, 32> refused{}; // the request under way got an exception reply
    // The tint each reply box has now (Reponse, then Reponse1), invalid for none.
    std::array<std::array<QColor, 32>, 2> shown;
};

} // namespace tarvo
