#include "Stack.h"

#include "ConsoleLink.h"

namespace tarvo {

std::unique_ptr<Link> Stack::consoleLink(const ConsoleModel& model, const Seams& seams)
{
    return std::make_unique<ConsoleLink>([&model] { return model.serialLink(); }, seams.trace, seams.pump, seams.clock);
}

Stack::Stack(const Seams& s)
    : seams(s), m_link(s.makeLink ? s.makeLink(model) : consoleLink(model, s)), link(*m_link),
      engine(model, link, s.clock, s.pump, s.prompter), polling(model, link, engine, s.pump, s.trace),
      memoryRead(model, polling, s.prompter, s.trace), session(model, link, polling, memoryRead, s.trace),
      journal(s.clock), health(s.clock), monitor(model, link, polling, journal, s.clock, s.pump)
{
    engine.setReplyHook(&memoryRead);
    engine.addObserver(&journal);
    engine.addObserver(&health);
    // A close asked for while a cycle ran is carried out once the cycle has unwound.
    polling.onCycleEnded = [this] { session.cycleEnded(); };
}

} // namespace tarvo
