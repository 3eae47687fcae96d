#pragma once

#include <functional>

namespace tarvo {

class Clock;
class EventPump;
class Trace;
struct LinkSettings;

// A socket's opening wait: events run until `done` or until the settings' connect time-out, which is
// read afresh on every pass so that an edit takes effect at once. A time-out that is no number ends
// the wait after the pass in which it was read, and is thrown then.
void waitToOpen(EventPump& pump, const Clock& clock, const LinkSettings& settings, const std::function<bool()>& done,
                int tickMs);

// Runs one link operation's steps; any failure becomes the operation's trace line
// ("Connect:: Error : " and the failure's description), never an exception.
void guarded(Trace& trace, const char* operation, const std::function<void()>& steps);

} // namespace tarvo
