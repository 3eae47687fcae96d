#pragma once

#include "Framing.h"
#include "LinkSettings.h"

#include <QList>
#include <QString>
#include <array>
#include <cstdint>
#include <optional>

namespace tarvo {

inline constexpr int kSlotCount = 32;

// The memory panel's four values as typed: the memory read checks and converts them itself, with
// its own messages, at the moment it uses each.
struct MemoryPanel {
    QString page = QStringLiteral("01");
    QString address = QStringLiteral("1e2c"); // hexadecimal
    QString records = QStringLiteral("99");
    QString recordSize = QStringLiteral("12");
};

// One controller slot as the exchange sees it.
struct SlotSettings {
    bool selected = false;
    QString address; // decimal, as typed: a request converts it when it is built
};

// Everything an exchange, a cycle and a memory read need, as plain values: what a front end fills
// when it has no console (the command-line tool, a census, a test), and what the console's settings
// are at one moment. Delays and tries are whole numbers; addresses stay as typed, since turning one
// into a request is where it is refused.
struct ExchangeSettings {
    // The link: a serial port at a speed and line, or a TCP host and port.
    bool serial = true;
    QString speed = QStringLiteral("38400"); // as the link's speed setting takes it
    LinkSettings link;

    // The protocol and its options.
    Protocol protocol = Protocol::Protocol4;
    QString customerCode = QStringLiteral("AA");
    bool encrypt = false;
    QString password;
    bool ackReq = false;
    bool respReq = false;

    // What a call sends: a function name ("ReadInput", ...; nothing while no function is chosen), the
    // query code, and the command lines (CR LF between lines, as the command box holds them).
    std::optional<QString> function = QStringLiteral("ReadInput");
    QString query = QStringLiteral("01");
    QString commands;

    std::array<SlotSettings, kSlotCount> slotTable; // "slots" is a word Qt keeps for itself

    int32_t timeoutMs = 1500; // the reply wait of one attempt
    int32_t waitingMs = 50;   // the receive buffer's silence that ends a reply
    int32_t scanMs = 1;       // the least time from one request to the next
    int tries = 3;            // sends of one request before its slot shows no answer: 1 to 3

    MemoryPanel memory;

    // The request settings of a slot.
    RequestSettings request(int slot) const;
    // Selects exactly these addresses, in slots 0, 1, ... (at most 32).
    void selectAddresses(const QList<int>& addresses);
};

// What the exchange, the cycles and the memory read ask for, at the moment they use it: an edit made
// in the console during a wait takes effect at the next pass of that wait. The console's model
// answers from its fields; FixedSettings answers from plain values.
class SettingsSource {
public:
    virtual ~SettingsSource() = default;

    virtual bool serialLink() const = 0;
    virtual QString speed() const = 0;
    virtual LinkSettings linkSettings() const = 0;

    // The protocol and its options, with the slot's address.
    virtual RequestSettings request(int slot) const = 0;
    // The function name; nothing while none is chosen (the caller keeps the one it had).
    virtual std::optional<QString> function() const = 0;
    virtual QString query() const = 0;
    virtual QString commands() const = 0;

    virtual bool slotSelected(int slot) const = 0;
    virtual QString address(int slot) const = 0;

    // Milliseconds. A console field that holds no whole number raises the conversion's error
    // (TarvoError); the exchange names the field for the operator.
    virtual int32_t timeoutMs() const = 0;
    virtual int32_t waitingMs() const = 0;
    virtual int32_t scanMs() const = 0;
    virtual int tries() const = 0;

    virtual MemoryPanel memoryPanel() const = 0;

    Protocol protocol() const { return request(0).protocol; }
    // Bioscrypt with both request flags clear: nothing is awaited after a send.
    bool replyLessSend() const;
    // Bioscrypt with both request flags ticked: the response follows the acknowledgement.
    bool secondMessageAwaited() const;
    // The slots selected now, ascending.
    QList<int> selectedSlots() const;
    // Every value as it stands now. Raises as the delays do when one is not a number.
    ExchangeSettings snapshot() const;
};

// Settings that stay as they were filled.
class FixedSettings final : public SettingsSource {
public:
    FixedSettings() = default;
    explicit FixedSettings(ExchangeSettings settings) : value(std::move(settings)) {}

    bool serialLink() const override { return value.serial; }
    QString speed() const override { return value.speed; }
    LinkSettings linkSettings() const override;
    RequestSettings request(int slot) const override { return value.request(slot); }
    std::optional<QString> function() const override { return value.function; }
    QString query() const override { return value.query; }
    QString commands() const override { return value.commands; }
    bool slotSelected(int slot) const override { return value.slotTable.at(static_cast<size_t>(slot)).selected; }
    QString address(int slot) const override { return value.slotTable.at(static_cast<size_t>(slot)).address; }
    int32_t timeoutMs() const override { return value.timeoutMs; }
    int32_t waitingMs() const override { return value.waitingMs; }
    int32_t scanMs() const override { return value.scanMs; }
    int tries() const override { return value.tries; }
    MemoryPanel memoryPanel() const override { return value.memory; }

    ExchangeSettings value;
};

// Another source with some values of one's own, plain, and every other value asked of the base at the
// moment of use: what the memory read sends its requests with, and what a census asks with.
class SettingsOverlay final : public SettingsSource {
public:
    explicit SettingsOverlay(const SettingsSource& base) : m_base(base) {}

    // The values of one's own; what is left empty is the base's.
    struct Own {
        std::optional<QString> speed;
        std::optional<std::optional<QString>> function;
        std::optional<QString> commands;
        std::optional<QString> onlyAddress; // slot 0 alone is selected, with this address
        std::optional<int32_t> timeoutMs;
        std::optional<int32_t> waitingMs;
        std::optional<int32_t> scanMs;
        std::optional<int> tries;
    } own;

    bool serialLink() const override { return m_base.serialLink(); }
    QString speed() const override { return own.speed ? *own.speed : m_base.speed(); }
    LinkSettings linkSettings() const override { return m_base.linkSettings(); }
    RequestSettings request(int slot) const override;
    std::optional<QString> function() const override { return own.function ? *own.function : m_base.function(); }
    QString query() const override { return m_base.query(); }
    QString commands() const override { return own.commands ? *own.commands : m_base.commands(); }
    bool slotSelected(int slot) const override { return own.onlyAddress ? slot == 0 : m_base.slotSelected(slot); }
    QString address(int slot) const override;
    int32_t timeoutMs() const override { return own.timeoutMs ? *own.timeoutMs : m_base.timeoutMs(); }
    int32_t waitingMs() const override { return own.waitingMs ? *own.waitingMs : m_base.waitingMs(); }
    int32_t scanMs() const override { return own.scanMs ? *own.scanMs : m_base.scanMs(); }
    int tries() const override { return own.tries ? *own.tries : m_base.tries(); }
    MemoryPanel memoryPanel() const override { return m_base.memoryPanel(); }

private:
    const SettingsSource& m_base;
};

// What an exchange shows as it goes: each reply in one of its slot's two reply boxes, and the flags
// for a bad check value and an echo. The console's model draws them; a front end without a console
// shows nothing.
class ExchangeDisplay {
public:
    virtual ~ExchangeDisplay() = default;
    // box 0 is the slot's first reply box, 1 its second.
    virtual void showReply(int slot, int box, const QString& text) = 0;
    virtual void showCheckError(bool shown) = 0;
    virtual void showEcho(bool shown) = 0;
};

} // namespace tarvo
