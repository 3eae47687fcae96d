#pragma once

#include "ExchangeSettings.h"
#include "ReplyHook.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <array>
#include <functional>
#include <optional>

namespace tarvo {

class Polling;
class Prompter;
class Trace;

namespace memdump {
// The message of the first panel value that cannot be used, or nothing when the panel is fine.
std::optional<QString> panelProblem(const QString& page, const QString& address, const QString& records,
                                    const QString& recordSize);
// The memory requests for the panel's range: one line when the whole range fits one request (address
// as typed, no line end), otherwise one line per request of whole records, each ended by CR LF.
QString memoryRequests(const QString& page, const QString& address, int32_t records, int32_t recordSize);
// Identification texts cut from the replies to "73" and "71"; nothing when the reply is too short.
std::optional<QString> epromText(const QString& replyText);
std::optional<QString> romText(const QString& replyText);
// The record lines of one reply to a memory request: numbered on from `count`, with addresses from
// `firstAddress` on. Empty for a reply too short to carry data.
QStringList recordLines(const QString& replyText, const QString& page, double firstAddress, int32_t recordSize,
                        int32_t count);
// The files a read writes, and only those: the dump and the part file of each slot.
QString dumpFileName();
QString partFileName(int slot);
} // namespace memdump

// The memory read: three sends with "73", "71" and the memory requests, whose replies this object
// collects (it is the exchange's reply hook) into one part file per slot, merged at the end into the
// dump file. It owns its phase flags and per-slot tables, and asks the cycles for each phase's
// requests as command lines, with every other setting (slots, addresses, delays) read from the
// settings at the moment of use.
class MemoryRead final : public QObject, public ReplyHook {
    Q_OBJECT
public:
    MemoryRead(const SettingsSource& settings, Polling& polling, Prompter& prompter, Trace& trace);

    // The read. False when it did not run (a cycle was running, or the panel check failed: its
    // message was shown). silent: no viewer is started for the dump.
    bool read(bool silent = false);
    void WriteMemoryRecord(const QString& text, int slot);
    void onReply(const QString& text, int slot) override;

    bool reading() const { return m_reading; }
    // Ends a running read early (the program is closing): the phases not yet started are skipped,
    // what was read is still merged, and no viewer is opened.
    void requestAbort() { m_abort = true; }
    bool aborted() const { return m_abort; }

    // The phase flags and per-slot tables, as the last read left them.
    struct State {
        bool MemEpromOn = false;
        bool MemRomOn = false;
        bool MemDumpOn = false;
        std::array<int32_t, kSlotCount> MemRecordCount{};
        std::array<QString, kSlotCount> MemEprom;
        std::array<QString, kSlotCount> MemRom;
    };
    const State& state() const { return m_state; }

    // What the last read got: whether the link was there for each of its phases, and the selected
    // slots from which no reply came to the memory requests.
    struct Outcome {
        bool linkDown = false;
        QList<int> silentSlots;
    };
    const Outcome& outcome() const { return m_outcome; }

    // Shows the finished dump; by default the desktop's handler for text files, without waiting.
    // Returns false when no viewer could be started.
    std::function<bool(const QString& path)> openViewer;

signals:
    void started();
    // A phase's requests go out now: "73", "71", then the memory requests (empty when none can be made).
    void requestsChanged(const QString& requests);
    void ended();

private:
    void send(const QString& requests);
    void phase(bool& flag, const QString& requests);
    void mergeDump();

    const SettingsSource& m_settings;
    Polling& m_polling;
    Prompter& m_prompter;
    Trace& m_trace;
    State m_state;
    Outcome m_outcome;
    std::array<bool, kSlotCount> m_answered{}; // in the memory phase
    bool m_reading = false;
    bool m_abort = false;
};

} // namespace tarvo
