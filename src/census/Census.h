#pragma once

#include "AddressResult.h"
#include "Engine.h"
#include "ExchangeSettings.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>
#include <stop_token>

namespace tarvo {

class Clock;
class EventPump;
class Link;
class Prompter;

// What a census asks: one request to every address, at every speed.
struct CensusPlan {
    QList<int> addresses;
    QList<int> speeds; // every address at each speed in turn; empty: the line as the console has it
    QString function;  // a function name (fn::ReadInput, ...); fn::SendCommand sends `command`
    QString command;   // the command text, one request per line, as the command box holds it
    int timeoutMs = 200;
    int tries = 1; // 1 to 3
};

struct CensusProgress {
    int done = 0; // requests finished
    int total = 0;
    int address = -1; // the address being asked now
    int speed = 0;    // its speed; 0 when the plan has none
    double secondsLeft = 0;
};

// The bus census: one request to every address of a range, and with speeds at every speed, over the
// console's own exchange (framing, thresholds, settle, check) and its link. It asks through one slot
// of its own, with its own request, time-out and tries (a census waits briefly and does not insist);
// the rest (protocol, delays, link) is asked of the settings it was given, which it never changes:
// the operator's slots, replies and time-out are left as they were.
//
// Like every cycle it runs inside the event loop's passes: the window stays alive and stop() ends it
// at the next pass of a wait.
class Census {
public:
    enum class End {
        Finished,
        Stopped,  // stop() was called
        LinkDown, // the link could not be opened, or was lost and could not be opened again
    };

    Census(const SettingsSource& settings, Link& link, Clock& clock, EventPump& pump, Prompter& prompter);

    // Why the plan cannot go out as it stands (an address that does not fit the protocol's request, a
    // command line that is not hexadecimal), or nothing when every request can be built. Nothing is
    // sent to find out. longestRequest, when given, receives the length of the longest request in bytes.
    std::optional<QString> refusal(const CensusPlan& plan, int* longestRequest = nullptr);

    End run(const CensusPlan& plan);
    void stop();
    bool running() const { return m_running; }

    // Every attempt also goes to these (the journal of the command-line tool).
    void addObserver(ExchangeObserver* observer) { m_engine.addObserver(observer); }

    // Before each request.
    std::function<void(const CensusProgress&)> onProgress;
    // After each request, in the plan's order.
    std::function<void(const AddressResult&)> onResult;

private:
    void takeSettings(const CensusPlan& plan);
    bool regain();

    const SettingsSource& m_base;
    Link& m_link;
    Clock& m_clock;
    SettingsOverlay m_settings; // the base's, with the census's own request, time-out, tries and address
    Engine m_engine;
    ResultCollector m_results;
    std::stop_source m_stop;
    bool m_running = false;
};

// "1:05" for 65 seconds, "12 s" below a minute: the time left of a census as it is shown.
QString timeLeftText(double seconds);

} // namespace tarvo
