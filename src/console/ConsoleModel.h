#pragma once

#include "Framing.h"

#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <array>
#include <cstdint>

namespace tarvo {

// The console's whole state: every field with its value, enabled and visible flags, and the
// window-level variables. Every part of the program reads a field at the moment it uses it, so an edit
// made during a wait takes effect at the next pass of that wait. The window only draws this model.
//
// Fields are addressed by name; the 32-slot arrays by "Name_i" (Address_5, CheckAdr_0, Reponse1_31).
class ConsoleModel : public QObject {
    Q_OBJECT
public:
    enum class Kind {
        Text,   // text box, or the text of an editable drop-down (ComPort, COMSpeed)
        Check,  // check box: 0 or 1 (any other value reads as not ticked)
        Option, // option button: selected or not, one per group
        List,   // drop-down list or tab control: a list index, -1 for none
        Label,  // caption only (shown or hidden)
        Button,
        Panel,
    };

    struct Field {
        QString name;
        Kind kind = Kind::Text;
        QString caption;
        QString text;      // Text
        int value = 0;     // Check value, Option selected (0/1), List index
        QStringList items; // List and editable drop-downs
        QString group;     // Option group
        bool enabled = true;
        bool visible = true;
    };

    static constexpr int kSlots = 32;
    static constexpr int kPageGeneral = 0;
    static constexpr int kPageDefinition = 1;

    explicit ConsoleModel(QObject* parent = nullptr);

    static QString slotName(const QString& base, int slot) { return base + QLatin1Char('_') + QString::number(slot); }

    bool has(const QString& name) const { return m_fields.contains(name); }
    const Field& field(const QString& name) const;
    QStringList fieldNames() const { return m_order; }

    // Text fields (and the texts of the editable drop-downs).
    QString text(const QString& name) const { return field(name).text; }
    void setText(const QString& name, const QString& text);

    // Check boxes. Ticking Check2 shows the memory panel, clearing it hides the panel.
    int check(const QString& name) const { return field(name).value; }
    void setCheck(const QString& name, int value);

    // Option buttons. choose() selects like a click: the others of the group are deselected and the
    // option's rule runs. setSelected(false) only deselects, and runs no rule.
    bool selected(const QString& name) const { return field(name).value != 0; }
    void choose(const QString& name);
    void setSelected(const QString& name, bool on);

    // Drop-down lists and the tab control. An index outside the list is refused (false).
    int listIndex(const QString& name) const { return field(name).value; }
    bool setListIndex(const QString& name, int index);
    QStringList listItems(const QString& name) const { return field(name).items; }
    void setListItems(const QString& name, const QStringList& items);

    bool enabled(const QString& name) const { return field(name).enabled; }
    void setEnabled(const QString& name, bool on);
    bool visible(const QString& name) const { return field(name).visible; }
    void setVisible(const QString& name, bool on);

    // Slot helpers.
    QString address(int slot) const { return text(slotName(QStringLiteral("Address"), slot)); }
    bool slotSelected(int slot) const { return check(slotName(QStringLiteral("CheckAdr"), slot)) == 1; }

    // The rules that follow a choice.
    void UpdateProtocolOptions();
    void UpdateLinkOptions();

    // The selected protocol, in the order the framing tests the options; none selected is None.
    Protocol protocol() const;
    // What request building needs, read now from the fields, for the given slot.
    RequestSettings requestSettings(int slot) const;
    bool serialLink() const { return selected(QStringLiteral("OpCOM")); }

    // Window-level variables.
    QString title = QStringLiteral("Tarvo"); // the window's title; startup adds the version
    QString currentFunction;
    int16_t currentSlot = 0;
    bool StopRequested = false;
    int32_t TcpArrivalCount = 0;
    bool Silent = false;
    QString CommandLine;
    QString lastFileName; // the name last chosen in the file dialog

    struct MemoryRead {
        bool MemEpromOn = false;
        bool MemRomOn = false;
        bool MemDumpOn = false;
        std::array<int32_t, kSlots> MemRecordCount{};
        std::array<QString, kSlots> MemEprom;
        std::array<QString, kSlots> MemRom;
    } memory;

signals:
    // A field's value (text, check value, selection, list index) changed.
    void valueChanged(const QString& name);
    // A field's enabled or visible flag changed.
    void stateChanged(const QString& name);

private:
    Field& mut(const QString& name);
    void add(Field f);
    void runChoiceRule(const QString& name);

    QHash<QString, Field> m_fields;
    QStringList m_order;
};

} // namespace tarvo
