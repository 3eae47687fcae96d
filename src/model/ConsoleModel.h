#pragma once

#include "ExchangeSettings.h"
#include "Fields.h"
#include "Framing.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace tarvo {

// The console's whole state: every field with its value, enabled and visible flags, and the
// window-level variables. The window only draws this model.
//
// It is also what the core asks for its settings while the console drives it (SettingsSource): each
// answer is read from the fields at the moment it is asked, so an edit made during a wait takes effect
// at the next pass of that wait. And it shows what an exchange shows (ExchangeDisplay): replies in the
// reply boxes, the check value flag.
//
// Behaviour code names a field by its enumerator (Fields.h): model.text(Field::TimeOutDelay),
// model.check(Field::CheckAdr, slot). Only the window binding, the settings file and the tests go
// through the fields' names, with name() and find().
class ConsoleModel : public QObject, public SettingsSource, public ExchangeDisplay {
    Q_OBJECT
public:
    using Kind = FieldKind;

    static constexpr int kSlots = kSlotCount;
    static constexpr int kPageGeneral = 0;
    static constexpr int kPageDefinition = 1;

    explicit ConsoleModel(QObject* parent = nullptr);

    // Every field, the title and the Tarvo.ini settings as a start finds them before any settings
    // file is read: what moving to another site loads into. Each field that changes says so, so the
    // window redraws it. The ports found on the system stay listed: they are no setting.
    void reset();

    // The field's name as the window, the settings file and the tests know it: "TimeOutDelay",
    // "Address_5".
    static QString name(FieldRef ref);
    // The field of a name; nothing for a name the console does not have.
    static std::optional<FieldRef> find(const QString& name);
    // Every field of the console, in the table's order (the slots of a group interleaved: Reponse_0,
    // Reponse1_0, Label14_0, Reponse_1, ...): the order the keyboard walks the window in.
    static const QList<FieldRef>& allFields();

    Kind kind(FieldRef ref) const { return fieldInfo(ref.field).kind; }
    // The caption, with "#n" filled in for a slot's caption.
    QString caption(FieldRef ref) const;

    // Text fields (and the texts of the editable drop-downs).
    QString text(FieldRef ref) const { return state(ref).text; }
    QString text(Field f, int slot) const { return text(FieldRef(f, slot)); }
    void setText(FieldRef ref, const QString& text);
    void setText(Field f, int slot, const QString& value) { setText(FieldRef(f, slot), value); }

    // Check boxes. Ticking the memory panel's box shows the panel, clearing it hides the panel.
    int check(FieldRef ref) const { return state(ref).value; }
    int check(Field f, int slot) const { return check(FieldRef(f, slot)); }
    void setCheck(FieldRef ref, int value);
    void setCheck(Field f, int slot, int value) { setCheck(FieldRef(f, slot), value); }

    // Option buttons. choose() selects like a click: the others of the group are deselected and the
    // option's rule runs, also when it was selected already. setSelected(false) only deselects, and
    // runs no rule.
    bool selected(Field f) const { return state(f).value != 0; }
    void choose(Field f);
    void setSelected(Field f, bool on);

    // Drop-down lists and the tab control. An index outside the list is refused (false).
    int listIndex(Field f) const { return state(f).value; }
    bool setListIndex(Field f, int index);
    QStringList listItems(Field f) const { return state(f).items; }
    void setListItems(Field f, const QStringList& items);

    bool enabled(FieldRef ref) const { return state(ref).enabled; }
    bool enabled(Field f, int slot) const { return enabled(FieldRef(f, slot)); }
    void setEnabled(FieldRef ref, bool on);
    void setEnabled(Field f, int slot, bool on) { setEnabled(FieldRef(f, slot), on); }
    bool visible(FieldRef ref) const { return state(ref).visible; }
    void setVisible(FieldRef ref, bool on);

    // The rules that follow a choice.
    void UpdateProtocolOptions();
    void UpdateLinkOptions();

    // The option button that chooses a protocol.
    static Field protocolOption(Protocol p);

    // The core's settings, read from the fields now. The protocol is the first option selected in the
    // order the framing tests them; none selected is None. The delays raise the conversion's error
    // when their field holds no whole number of 32 bits.
    bool serialLink() const override { return selected(Field::OpCOM); }
    QString speed() const override { return text(Field::COMSpeed); }
    LinkSettings linkSettings() const override;
    RequestSettings request(int slot) const override;
    // The function of the list's choice; nothing while no item is chosen.
    std::optional<QString> function() const override;
    QString query() const override { return text(Field::Query); }
    QString commands() const override { return text(Field::Cmd); }
    bool slotSelected(int slot) const override { return check(Field::CheckAdr, slot) == 1; }
    QString address(int slot) const override { return text(Field::Address, slot); }
    int32_t timeoutMs() const override;
    int32_t waitingMs() const override;
    int32_t scanMs() const override;
    int tries() const override { return 3; }
    MemoryPanel memoryPanel() const override;

    // What an exchange shows: its replies in the reply boxes, the flags beside the function.
    void showReply(int slot, int box, const QString& text) override;
    void showCheckError(bool shown) override { setVisible(Field::CrcErrorFlag, shown); }
    void showEcho(bool shown) override { setVisible(Field::EchoFlag, shown); }

    // Window-level variables.
    QString title = QStringLiteral("Tarvo"); // the window's title; startup adds the version
    QString lastFileName;                    // the name last chosen in the file dialog
    // No text viewer is started for a finished memory dump ("silent=1" on the command line); it holds
    // for every read of the run.
    bool silent() const { return m_silent; }
    void setSilent(bool on) { m_silent = on; }

    // The settings that live in Tarvo.ini beside the 99 lines of Tarvo.cfg, one group per feature.
    // Tarvo.ini is read after Tarvo.cfg at start and written with it at close.
    struct Ini {
        struct Journal {
            bool toFile = false; // every attempt also goes to journal-<date>-<time>.csv
            QString folder;      // where that file goes; empty: the working folder
        } journal;
        struct Window {
            QByteArray geometry; // size and position, as the window saves them
            QByteArray state;    // docks and their places
        } window;
        // The serial line beyond its speed, taken by the link when a cycle connects.
        struct Serial {
            QString line = QStringLiteral("8N2"); // data bits, parity (N E O M S), stop bits
            bool rtsCts = false;                  // hardware flow control
            bool rs485 = false;                   // a two-wire bus: the transmitter is switched per frame
            bool rtsOnSend = true;                // RTS high while sending (else low)
            int delayBeforeMs = 0;                // transmitter on this long before the first bit
            int delayAfterMs = 0;                 // and this long after the last stop bit
            bool dropEcho = false;                // the adapter hears its own frames: drop them
            bool lowLatency = false;              // ask the driver to hand over bytes at once
            friend bool operator==(const Serial&, const Serial&) = default;
        } serial;
        struct Census {
            QString range = QStringLiteral("0..254"); // console addresses, "A..B"
            QString speeds;                           // "9600,19200"; empty: the console's speed
            QString function = QStringLiteral("ReadInput");
            QString command; // the request when the function is SendCommand
            int timeoutMs = 200;
            int tries = 1;
        } census;
        // The bus monitor: the silence that ends a frame, in ms; 0: 3.5 characters of the line.
        struct Monitor {
            int gapMs = 0;
        } monitor;
        // Test plans: the plan last opened in this site, which the plan window opens again.
        struct Plans {
            QString last; // relative to the site folder when it lies in it
        } plans;
        // The Timeline dock's choices: the stretch shown (seconds; 0: the whole session), first-byte
        // times instead of reply times, a line instead of points, a scale per lane instead of one.
        struct Timeline {
            int spanSeconds = 600;
            bool firstByte = false;
            bool line = false;
            bool scalePerLane = false;
        } timeline;
        // The network link beside the TCP option: TCP or UDP, and the protocol's own frames (Raw) or
        // Modbus requests under the MBAP header (Modbus TCP). Taken by the link when a cycle connects.
        struct Tcp {
            Transport transport = Transport::Tcp;
            NetFraming framing = NetFraming::Raw;
            friend bool operator==(const Tcp&, const Tcp&) = default;
        } tcp;
        // The site this folder is: who it is for and who worked on it, as the report's header says.
        struct Site {
            QString name;
            QString technician;
        } site;
        // What each slot is called on site ("Door 3 reader"); empty: no name. Index 0 is slot 1.
        std::array<QString, 32> slotNames;
        // The commissioning report's pass marks per slot.
        struct Report {
            int minSuccessPercent = 99; // 0 to 100
            int maxP95ReplyMs = -1;     // -1: no mark on the reply time
        } report;
    } ini;

signals:
    // A field's value (text, check value, selection, list index) changed.
    void valueChanged(tarvo::FieldRef ref);
    // A field's enabled or visible flag, or a list's items, changed.
    void stateChanged(tarvo::FieldRef ref);

private:
    struct State {
        QString text;
        int value = 0;
        QStringList items;
        bool enabled = true;
        bool visible = true;
    };

    const State& state(FieldRef ref) const { return m_states[index(ref)]; }
    State& mut(FieldRef ref) { return m_states[index(ref)]; }
    // Where the field's state lives; a slot field without a valid slot, or a single field with one,
    // is a programming error and throws std::out_of_range rather than touch another field.
    static size_t index(FieldRef ref);
    void runChoiceRule(Field f);

    std::vector<State> m_states;
    bool m_silent = false;
};

} // namespace tarvo
