#pragma once

#include "ExchangeSettings.h"

#include <QList>
#include <QMetaType>
#include <QString>
#include <QStringList>
#include <cstdint>

namespace tarvo {

// Every field of the console, named once. The enumerators carry the fields' own names, which the
// window's objectNames, Tarvo.cfg's layout and the tests use; where such a name says nothing to a
// reader of the behaviour code, an alias says what the field is for (CrcErrorFlag is Label8).
//
// The order is the table's order in Fields.cpp, which is also the order the keyboard walks the
// window in. Fields marked "per slot" exist 32 times, once for each controller slot.
enum class Field : uint16_t {
    TxtFunction, // the function list
    CmdSend,
    CmdStart,
    CmdStop,
    Check2, // "Show Read Memory Options "
    Label3,
    Label8,   // "CRC Error !!! (Proto4)"
    LblEcho,  // "Echo !!!"
    SSTab1,   // the two pages
    Reponse,  // per slot: the first reply box
    Reponse1, // per slot: the second reply box
    Label14,  // per slot: "#1" .. "#32" beside the replies
    Frame2,
    Answer1,
    Answer,
    Scan,
    Label5,
    Label6,
    Query,
    Label4,
    Frame3,
    OpCOM,
    OpTCP,
    ComPort,
    COMSpeed,
    Label12,
    IP,
    Port,
    Label13,
    TimeOutDelay,
    Label7,
    Label10,
    WaitingDelay,
    Label1,
    Label9,
    Frame1,
    Cmd,
    CmdOpen,
    CmdSave,
    Frame5,
    CheckAdr, // per slot: selects the slot
    Address,  // per slot: the controller address
    Frame6,
    Modbus,
    Protocol4,
    Protocol4Plus,
    ProtocolAA,
    OptBioscrypt,
    OptNone,
    ckAck,
    ckRes,
    txtProtocol,
    Frame7,
    Encrypt,
    decrypt,
    Password,
    Check1, // "Save Config on exit"
    Label11,
    Picture1, // the memory-read panel
    MemPage,
    Label2,
    MemAddress,
    Label15,
    MemRecordNumber,
    Label16,
    MemRecordSize,
    Label17,
    CmdReadMemory,
    Count_, // not a field: the number of fields

    // What the fields with bare names are for.
    Function = TxtFunction,
    ShowMemoryPanel = Check2,
    CrcErrorFlag = Label8,
    EchoFlag = LblEcho,
    Pages = SSTab1,
    SlotCaption = Label14,
    CustomerCode = txtProtocol,
    AckReq = ckAck,
    RespReq = ckRes,
    SaveOnExit = Check1,
    MemoryPanel = Picture1,
};

inline constexpr int kFieldCount = static_cast<int>(Field::Count_);

// One field, or one slot's copy of a per-slot field.
struct FieldRef {
    constexpr FieldRef() = default;
    constexpr FieldRef(Field f) : field(f) {} // NOLINT: a single field reads naturally as itself
    constexpr FieldRef(Field f, int s) : field(f), slot(s) {}
    Field field = Field::TxtFunction;
    int slot = -1; // 0 to 31 for a per-slot field, -1 otherwise
    friend constexpr bool operator==(FieldRef a, FieldRef b) { return a.field == b.field && a.slot == b.slot; }
};

enum class FieldKind {
    Text,   // text box, or the text of an editable drop-down (ComPort, COMSpeed)
    Check,  // check box: 0 or 1 (any other value reads as not ticked)
    Option, // option button: selected or not, one per group
    List,   // drop-down list or tab control: a list index, -1 for none
    Label,  // caption only (shown or hidden)
    Button,
    Panel,
};

// What the table says of a field: its name, kind, caption, default and list, and for options their
// group. A per-slot caption holds "%1" for the slot's number counted from 1.
struct FieldInfo {
    Field field;
    QString name;
    FieldKind kind;
    QString caption;
    QString text;  // default text
    int value = 0; // default check value, selection (0/1) or list index
    QStringList items;
    QString group; // option group
    bool perSlot = false;
    bool enabled = true; // default states of the layout
    bool visible = true;
};

// The table, one entry per Field in enumerator order.
const QList<FieldInfo>& fieldTable();
inline const FieldInfo& fieldInfo(Field f)
{
    return fieldTable()[static_cast<int>(f)];
}

} // namespace tarvo

Q_DECLARE_METATYPE(tarvo::FieldRef)
