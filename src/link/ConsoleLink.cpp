#include "ConsoleLink.h"

namespace tarvo {

ConsoleLink::ConsoleLink(std::function<bool()> serialChosen, Trace& trace, EventPump& pump, Clock& clock)
    : m_serialChosen(std::move(serialChosen)), m_serial(trace, clock), m_tcp(trace, pump, clock),
      m_udpLink(trace, pump, clock)
{
}

} // namespace tarvo
