#include "Stack.h"

#include "ConsoleLink.h"

namespace tarvo {

std::unique_ptr<Link> Core::consoleLink(const SettingsSource& settings, const Seams& seams)
{
    return std::make_unique<ConsoleLink>([&settings] { return settings.serialLink(); }, seams.trace, seams.pump,
                                         seams.clock);
}

Core::Core(const Seams& s, const SettingsSource& source, ExchangeDisplay* display)
    : seams(s), settings(source), m_link(s.makeLink ? s.makeLink(source) : consoleLink(source, s)), link(*m_link),
      engine(link, s.clock, s.pump, s.prompter), polling(source, link, engine, s.pump, s.clock, s.trace, display),
      memoryRead(source, polling, s.prompter, s.trace), journal(s.clock), health(s.clock),
      census(source, link, s.clock, s.pump, s.prompter), monitor(source, link, polling, journal, s.clock, s.pump)
{
    engine.setDisplay(display);
    engine.setReplyHook(&memoryRead);
    engine.addObserver(&journal);
    engine.addObserver(&health);
}

Stack::Stack(const Seams& s)
    : core(s, model, &model), journalFile(core.journal),
      lifecycle(model, core.link, core.polling, core.memoryRead, s.trace)
{
    // A close asked for while a cycle or a read ran is carried out once it has unwound.
    QObject::connect(&polling, &Polling::ended, [this] { lifecycle.cycleEnded(); });
    QObject::connect(&memoryRead, &MemoryRead::ended, [this] { lifecycle.cycleEnded(); });
}

} // namespace tarvo
