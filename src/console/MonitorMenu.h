#pragma once

class QAction;

namespace tarvo {

class ConsoleWindow;

// View → Monitor (Ctrl+M): the console listens to the bus without sending until Stop (its button,
// F7, Escape, or the entry again), the frames heard going into the Journal dock, which it opens.
// View → Monitor gap…: the silence that ends a frame. What the monitor has to tell (an adapter too
// slow for the gap) and how a run ended go to the status bar. Returns the Monitor entry.
QAction* addMonitorMenu(ConsoleWindow& window);

} // namespace tarvo
