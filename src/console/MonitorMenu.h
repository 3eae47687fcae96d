#pragma once

class QAction;

namespace tarvo {

class ConsoleMonitor;
class ConsoleWindow;
class Polling;

// View → Monitor (Ctrl+M): the console listens to the bus without sending until Stop (its button,
// F7, Escape, or the entry again), the frames heard going into the Journal dock, which it opens.
// View → Monitor gap…: the silence that ends a frame. What the monitor has to tell (an adapter too
// slow for the gap) and how a run ended go to the status bar. The window, the monitor and the polling
// loop must outlive the entries. Returns the Monitor entry.
QAction* addMonitorMenu(ConsoleWindow& window, ConsoleMonitor& monitor, Polling& polling);

} // namespace tarvo
