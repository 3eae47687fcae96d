#include "Fields.h"

#include <stdexcept>

namespace tarvo {

namespace {

const QString kProtocolGroup = QStringLiteral("protocol");
const QString kLinkGroup = QStringLiteral("link");
const QString kCryptGroup = QStringLiteral("crypt");

// The help text under the delays, in the words the technicians know it by.
const QString kDelayHelp = QStringLiteral(
    "TimeOut c'est le temps maximal d'attente, si on ne recoit rien.                            Le Receive Buffer "
    "Scanning Delay c'est le temps qu'on attend pour voir si il n'y a rien de nouveau sur la ligne, si le in "
    "buffer est identique a lui meme ou bien si il augmente.  ");

class TableBuilder {
public:
    QList<FieldInfo> fields;

    FieldInfo& add(Field f, const char* name, FieldKind kind)
    {
        // The enumerators and the table must stay in step: a field added to one and not the other
        // is caught the first time the table is built.
        if (static_cast<int>(f) != fields.size())
            throw std::logic_error(std::string("field table out of order at ") + name);
        FieldInfo info{f, QString::fromLatin1(name), kind, {}, {}, 0, {}, {}, false, true, true};
        fields.append(info);
        return fields.last();
    }
    FieldInfo& text(Field f, const char* name, const QString& value = {}, const QStringList& items = {})
    {
        FieldInfo& info = add(f, name, FieldKind::Text);
        info.text = value;
        info.items = items;
        return info;
    }
    FieldInfo& captioned(Field f, const char* name, FieldKind kind, const QString& caption, int value = 0)
    {
        FieldInfo& info = add(f, name, kind);
        info.caption = caption;
        info.value = value;
        return info;
    }
    FieldInfo& option(Field f, const char* name, const QString& group, const QString& caption, bool on)
    {
        FieldInfo& info = captioned(f, name, FieldKind::Option, caption, on ? 1 : 0);
        info.group = group;
        return info;
    }
    FieldInfo& list(Field f, const char* name, const QStringList& items, int index)
    {
        FieldInfo& info = add(f, name, FieldKind::List);
        info.items = items;
        info.value = index;
        return info;
    }
};

QList<FieldInfo> buildTable()
{
    using F = Field;
    using K = FieldKind;
    TableBuilder t;

    // Outside the tab control. A fresh console is ready to read inputs rather than sending nothing.
    t.list(F::TxtFunction, "TxtFunction",
           {QStringLiteral("Read Input (02)"), QStringLiteral("Read Buffer 100/110 (04)"),
            QStringLiteral("Read Buffer 100 (04) "), QStringLiteral("Read Buffer 110 (04) "),
            QStringLiteral("Send command"), QStringLiteral("Send Query (24)"), QStringLiteral("Waiting for messages!")},
           0);
    t.captioned(F::CmdSend, "CmdSend", K::Button, QStringLiteral("Send One Time"));
    t.captioned(F::CmdStart, "CmdStart", K::Button, QStringLiteral("Start"));
    t.captioned(F::CmdStop, "CmdStop", K::Button, QStringLiteral("Stop"));
    t.captioned(F::Check2, "Check2", K::Check, QStringLiteral("Show Read Memory Options "));
    t.captioned(F::Label3, "Label3", K::Label, QStringLiteral("Function"));
    t.captioned(F::Label8, "Label8", K::Label, QStringLiteral("CRC Error !!! (Proto4)")).visible = false;
    t.captioned(F::LblEcho, "LblEcho", K::Label, QStringLiteral("Echo !!!")).visible = false;
    t.list(F::SSTab1, "SSTab1", {QStringLiteral("   General"), QStringLiteral("   Definition")}, 0);

    // Page "General": the results.
    t.text(F::Reponse, "Reponse").perSlot = true;
    t.text(F::Reponse1, "Reponse1").perSlot = true;
    t.captioned(F::Label14, "Label14", K::Label, QStringLiteral("#%1")).perSlot = true;
    t.captioned(F::Frame2, "Frame2", K::Panel, QStringLiteral("  Received String  "));
    t.text(F::Answer1, "Answer1");
    t.text(F::Answer, "Answer");
    t.text(F::Scan, "Scan", QStringLiteral("1"));
    t.captioned(F::Label5, "Label5", K::Label, QStringLiteral("Scan rate if func 02, 04 or 24 "));
    t.captioned(F::Label6, "Label6", K::Label, QStringLiteral("msec."));
    t.text(F::Query, "Query", QStringLiteral("01"));
    t.captioned(F::Label4, "Label4", K::Label, QStringLiteral("Query Code if func 24"));

    // Page "Definition": the settings.
    t.captioned(F::Frame3, "Frame3", K::Panel, QString());
    t.option(F::OpCOM, "OpCOM", kLinkGroup, QStringLiteral("COM Port:"), true);
    t.option(F::OpTCP, "OpTCP", kLinkGroup, QStringLiteral("TCP"), false);
    t.text(F::ComPort, "ComPort", QStringLiteral("COM1"),
           {QStringLiteral("COM1"), QStringLiteral("COM2"), QStringLiteral("COM3"), QStringLiteral("COM4"),
            QStringLiteral("COM5")});
    t.text(F::COMSpeed, "COMSpeed", QStringLiteral("38400"),
           {QStringLiteral("4800"), QStringLiteral("9600"), QStringLiteral("19200"), QStringLiteral("38400"),
            QStringLiteral("57600"), QStringLiteral("115200")});
    t.captioned(F::Label12, "Label12", K::Label, QStringLiteral("Speed:"));
    t.text(F::IP, "IP", QStringLiteral("127.0.0.1"));
    t.text(F::Port, "Port", QStringLiteral("1001"));
    t.captioned(F::Label13, "Label13", K::Label, QStringLiteral("Port:"));
    t.text(F::TimeOutDelay, "TimeOutDelay", QStringLiteral("1500"));
    t.captioned(F::Label7, "Label7", K::Label, QStringLiteral("Time Out Delay :"));
    t.captioned(F::Label10, "Label10", K::Label, QStringLiteral("Msec."));
    t.text(F::WaitingDelay, "WaitingDelay", QStringLiteral("50"));
    t.captioned(F::Label1, "Label1", K::Label, QStringLiteral("Receive Buffer Scanning Delay :"));
    t.captioned(F::Label9, "Label9", K::Label, QStringLiteral("Msec."));
    t.captioned(F::Frame1, "Frame1", K::Panel, QStringLiteral("  Command to send  "));
    t.text(F::Cmd, "Cmd");
    t.captioned(F::CmdOpen, "CmdOpen", K::Button, QStringLiteral("Open"));
    t.captioned(F::CmdSave, "CmdSave", K::Button, QStringLiteral("Save"));
    t.captioned(F::Frame5, "Frame5", K::Panel, QStringLiteral("Controller Address (00-65535)"));
    t.captioned(F::CheckAdr, "CheckAdr", K::Check, QStringLiteral("#%1")).perSlot = true;
    t.text(F::Address, "Address").perSlot = true;
    t.captioned(F::Frame6, "Frame6", K::Panel, QString());
    t.option(F::Modbus, "Modbus", kProtocolGroup, QStringLiteral("Modbus"), false);
    t.option(F::Protocol4, "Protocol4", kProtocolGroup, QStringLiteral("Protocol 4"), true);
    t.option(F::Protocol4Plus, "Protocol4Plus", kProtocolGroup, QStringLiteral("Protocol 4+"), false);
    t.option(F::ProtocolAA, "ProtocolAA", kProtocolGroup, QStringLiteral("Customer Protocol"), false);
    t.option(F::OptBioscrypt, "OptBioscrypt", kProtocolGroup, QStringLiteral("Bioscrypt"), false);
    t.option(F::OptNone, "OptNone", kProtocolGroup, QStringLiteral("None"), false);
    t.captioned(F::ckAck, "ckAck", K::Check, QStringLiteral("Ack Req"));
    t.captioned(F::ckRes, "ckRes", K::Check, QStringLiteral("Resp Req"));
    t.text(F::txtProtocol, "txtProtocol", QStringLiteral("AA"));
    t.captioned(F::Frame7, "Frame7", K::Panel, QString());
    t.option(F::Encrypt, "Encrypt", kCryptGroup, QStringLiteral("Encrypt"), false);
    t.option(F::decrypt, "decrypt", kCryptGroup, QStringLiteral("Decrypt"), true);
    t.text(F::Password, "Password").enabled = false; // locked while decrypting
    t.captioned(F::Check1, "Check1", K::Check, QStringLiteral("Save Config on exit"), 1);
    t.captioned(F::Label11, "Label11", K::Label, kDelayHelp);
    t.captioned(F::Picture1, "Picture1", K::Panel, QString()).visible = false;
    t.text(F::MemPage, "MemPage", QStringLiteral("01"));
    t.captioned(F::Label2, "Label2", K::Label, QStringLiteral("Page Number "));
    t.text(F::MemAddress, "MemAddress", QStringLiteral("1e2c"));
    t.captioned(F::Label15, "Label15", K::Label, QStringLiteral("First Address "));
    t.text(F::MemRecordNumber, "MemRecordNumber", QStringLiteral("99"));
    t.captioned(F::Label16, "Label16", K::Label, QStringLiteral("Number of records"));
    t.text(F::MemRecordSize, "MemRecordSize", QStringLiteral("12"));
    t.captioned(F::Label17, "Label17", K::Label, QStringLiteral("Record size"));
    t.captioned(F::CmdReadMemory, "CmdReadMemory", K::Button, QStringLiteral("READ"));

    if (t.fields.size() != kFieldCount)
        throw std::logic_error("field table incomplete");
    return t.fields;
}

} // namespace

const QList<FieldInfo>& fieldTable()
{
    static const QList<FieldInfo> table = buildTable();
    return table;
}

} // namespace tarvo
