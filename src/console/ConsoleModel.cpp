#include "ConsoleModel.h"

#include <QDebug>

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
} // namespace

ConsoleModel::ConsoleModel(QObject* parent) : QObject(parent)
{
    using K = Kind;
    auto text = [this](const QString& name, const QString& value, const QStringList& items = {}) {
        Field f;
        f.name = name;
        f.kind = K::Text;
        f.text = value;
        f.items = items;
        add(f);
    };
    auto simple = [this](const QString& name, K kind, const QString& caption, int value = 0) {
        Field f;
        f.name = name;
        f.kind = kind;
        f.caption = caption;
        f.value = value;
        add(f);
    };
    auto option = [this](const QString& name, const QString& group, const QString& caption, bool on) {
        Field f;
        f.name = name;
        f.kind = K::Option;
        f.caption = caption;
        f.group = group;
        f.value = on ? 1 : 0;
        add(f);
    };

    // Outside the tab control.
    {
        Field f;
        f.name = QStringLiteral("TxtFunction");
        f.kind = K::List;
        f.items = {QStringLiteral("Read Input (02)"),       QStringLiteral("Read Buffer 100/110 (04)"),
                   QStringLiteral("Read Buffer 100 (04) "), QStringLiteral("Read Buffer 110 (04) "),
                   QStringLiteral("Send command"),          QStringLiteral("Send Query (24)"),
                   QStringLiteral("Waiting for messages!")};
        f.value = 0; // a fresh console is ready to read inputs rather than sending nothing
        add(f);
    }
    simple(QStringLiteral("CmdSend"), K::Button, QStringLiteral("Send One Time"));
    simple(QStringLiteral("CmdStart"), K::Button, QStringLiteral("Start"));
    simple(QStringLiteral("CmdStop"), K::Button, QStringLiteral("Stop"));
    simple(QStringLiteral("Check2"), K::Check, QStringLiteral("Show Read Memory Options "));
    simple(QStringLiteral("Label3"), K::Label, QStringLiteral("Function"));
    simple(QStringLiteral("Label8"), K::Label, QStringLiteral("CRC Error !!! (Proto4)"));
    simple(QStringLiteral("LblEcho"), K::Label, QStringLiteral("Echo !!!"));
    {
        Field f;
        f.name = QStringLiteral("SSTab1");
        f.kind = K::List;
        f.items = {QStringLiteral("   General"), QStringLiteral("   Definition")};
        f.value = kPageGeneral;
        add(f);
    }

    // Page "General": the results.
    for (int i = 0; i < kSlots; ++i) {
        text(slotName(QStringLiteral("Reponse"), i), QString());
        text(slotName(QStringLiteral("Reponse1"), i), QString());
        simple(slotName(QStringLiteral("Label14"), i), K::Label, QStringLiteral("#%1").arg(i + 1));
    }
    simple(QStringLiteral("Frame2"), K::Panel, QStringLiteral("  Received String  "));
    text(QStringLiteral("Answer1"), QString());
    text(QStringLiteral("Answer"), QString());
    text(QStringLiteral("Scan"), QStringLiteral("1"));
    simple(QStringLiteral("Label5"), K::Label, QStringLiteral("Scan rate if func 02, 04 or 24 "));
    simple(QStringLiteral("Label6"), K::Label, QStringLiteral("msec."));
    text(QStringLiteral("Query"), QStringLiteral("01"));
    simple(QStringLiteral("Label4"), K::Label, QStringLiteral("Query Code if func 24"));

    // Page "Definition": the settings.
    simple(QStringLiteral("Frame3"), K::Panel, QString());
    option(QStringLiteral("OpCOM"), kLinkGroup, QStringLiteral("COM Port:"), true);
    option(QStringLiteral("OpTCP"), kLinkGroup, QStringLiteral("TCP"), false);
    text(QStringLiteral("ComPort"), QStringLiteral("COM1"),
         {QStringLiteral("COM1"), QStringLiteral("COM2"), QStringLiteral("COM3"), QStringLiteral("COM4"),
          QStringLiteral("COM5")});
    text(QStringLiteral("COMSpeed"), QStringLiteral("38400"),
         {QStringLiteral("4800"), QStringLiteral("9600"), QStringLiteral("19200"), QStringLiteral("38400"),
          QStringLiteral("57600"), QStringLiteral("115200")});
    simple(QStringLiteral("Label12"), K::Label, QStringLiteral("Speed:"));
    text(QStringLiteral("IP"), QStringLiteral("127.0.0.1"));
    text(QStringLiteral("Port"), QStringLiteral("1001"));
    simple(QStringLiteral("Label13"), K::Label, QStringLiteral("Port:"));
    text(QStringLiteral("TimeOutDelay"), QStringLiteral("1500"));
    simple(QStringLiteral("Label7"), K::Label, QStringLiteral("Time Out Delay :"));
    simple(QStringLiteral("Label10"), K::Label, QStringLiteral("Msec."));
    text(QStringLiteral("WaitingDelay"), QStringLiteral("50"));
    simple(QStringLiteral("Label1"), K::Label, QStringLiteral("Receive Buffer Scanning Delay :"));
    simple(QStringLiteral("Label9"), K::Label, QStringLiteral("Msec."));
    simple(QStringLiteral("Frame1"), K::Panel, QStringLiteral("  Command to send  "));
    text(QStringLiteral("Cmd"), QString());
    simple(QStringLiteral("CmdOpen"), K::Button, QStringLiteral("Open"));
    simple(QStringLiteral("CmdSave"), K::Button, QStringLiteral("Save"));
    simple(QStringLiteral("Frame5"), K::Panel, QStringLiteral("Controller Address (00-65535)"));
    for (int i = 0; i < kSlots; ++i) {
        simple(slotName(QStringLiteral("CheckAdr"), i), K::Check, QStringLiteral("#%1").arg(i + 1));
        text(slotName(QStringLiteral("Address"), i), QString());
    }
    simple(QStringLiteral("Frame6"), K::Panel, QString());
    option(QStringLiteral("Modbus"), kProtocolGroup, QStringLiteral("Modbus"), false);
    option(QStringLiteral("Protocol4"), kProtocolGroup, QStringLiteral("Protocol 4"), true);
    option(QStringLiteral("Protocol4Plus"), kProtocolGroup, QStringLiteral("Protocol 4+"), false);
    option(QStringLiteral("ProtocolAA"), kProtocolGroup, QStringLiteral("Customer Protocol"), false);
    option(QStringLiteral("OptBioscrypt"), kProtocolGroup, QStringLiteral("Bioscrypt"), false);
    option(QStringLiteral("OptNone"), kProtocolGroup, QStringLiteral("None"), false);
    simple(QStringLiteral("ckAck"), K::Check, QStringLiteral("Ack Req"));
    simple(QStringLiteral("ckRes"), K::Check, QStringLiteral("Resp Req"));
    text(QStringLiteral("txtProtocol"), QStringLiteral("AA"));
    simple(QStringLiteral("Frame7"), K::Panel, QString());
    option(QStringLiteral("Encrypt"), kCryptGroup, QStringLiteral("Encrypt"), false);
    option(QStringLiteral("decrypt"), kCryptGroup, QStringLiteral("Decrypt"), true);
    text(QStringLiteral("Password"), QString());
    simple(QStringLiteral("Check1"), K::Check, QStringLiteral("Save Config on exit"), 1);
    simple(QStringLiteral("Label11"), K::Label, kDelayHelp);
    simple(QStringLiteral("Picture1"), K::Panel, QString());
    text(QStringLiteral("MemPage"), QStringLiteral("01"));
    simple(QStringLiteral("Label2"), K::Label, QStringLiteral("Page Number "));
    text(QStringLiteral("MemAddress"), QStringLiteral("1e2c"));
    simple(QStringLiteral("Label15"), K::Label, QStringLiteral("First Address "));
    text(QStringLiteral("MemRecordNumber"), QStringLiteral("99"));
    simple(QStringLiteral("Label16"), K::Label, QStringLiteral("Number of records"));
    text(QStringLiteral("MemRecordSize"), QStringLiteral("12"));
    simple(QStringLiteral("Label17"), K::Label, QStringLiteral("Record size"));
    simple(QStringLiteral("CmdReadMemory"), K::Button, QStringLiteral("READ"));

    // The layout's states agree with its default choices: indicators hidden, memory panel hidden,
    // only the chosen protocol's and link's fields editable, the pass phrase locked while decrypting.
    mut(QStringLiteral("Label8")).visible = false;
    mut(QStringLiteral("LblEcho")).visible = false;
    mut(QStringLiteral("Picture1")).visible = false;
    mut(QStringLiteral("Password")).enabled = false;
    UpdateProtocolOptions();
    UpdateLinkOptions();
}

void ConsoleModel::add(Field f)
{
    m_order.append(f.name);
    m_fields.insert(f.name, std::move(f));
}

const ConsoleModel::Field& ConsoleModel::field(const QString& name) const
{
    const auto it = m_fields.constFind(name);
    Q_ASSERT_X(it != m_fields.constEnd(), "ConsoleModel", qPrintable(name));
    if (it == m_fields.constEnd()) {
        static const Field none;
        qWarning("ConsoleModel: no field %s", qPrintable(name));
        return none;
    }
    return *it;
}

ConsoleModel::Field& ConsoleModel::mut(const QString& name)
{
    const auto it = m_fields.find(name);
    Q_ASSERT_X(it != m_fields.end(), "ConsoleModel", qPrintable(name));
    return *it;
}

void ConsoleModel::setText(const QString& name, const QString& text)
{
    Field& f = mut(name);
    if (f.text == text)
        return;
    f.text = text;
    emit valueChanged(name);
}

void ConsoleModel::setCheck(const QString& name, int value)
{
    Field& f = mut(name);
    const bool changed = f.value != value;
    f.value = value;
    if (changed)
        emit valueChanged(name);
    if (name == QLatin1String("Check2"))
        setVisible(QStringLiteral("Picture1"), value != 0);
}

void ConsoleModel::choose(const QString& name)
{
    Field& chosen = mut(name);
    Q_ASSERT(chosen.kind == Kind::Option);
    const QString group = chosen.group;
    for (const QString& other : std::as_const(m_order)) {
        Field& f = m_fields[other];
        if (f.kind == Kind::Option && f.group == group && other != name && f.value != 0) {
            f.value = 0;
            emit valueChanged(other);
        }
    }
    if (chosen.value == 0) {
        chosen.value = 1;
        emit valueChanged(name);
    }
    runChoiceRule(name);
}

void ConsoleModel::setSelected(const QString& name, bool on)
{
    if (on) {
        choose(name);
        return;
    }
    Field& f = mut(name);
    if (f.value != 0) {
        f.value = 0;
        emit valueChanged(name);
    }
}

void ConsoleModel::runChoiceRule(const QString& name)
{
    if (name == QLatin1String("Modbus")) {
        setText(QStringLiteral("COMSpeed"), QStringLiteral("9600"));
        UpdateProtocolOptions();
    } else if (name == QLatin1String("Protocol4") || name == QLatin1String("Protocol4Plus") ||
               name == QLatin1String("ProtocolAA") || name == QLatin1String("OptBioscrypt") ||
               name == QLatin1String("OptNone")) {
        UpdateProtocolOptions();
    } else if (name == QLatin1String("OpCOM") || name == QLatin1String("OpTCP")) {
        UpdateLinkOptions();
    } else if (name == QLatin1String("Encrypt")) {
        setEnabled(QStringLiteral("Password"), true);
    } else if (name == QLatin1String("decrypt")) {
        setEnabled(QStringLiteral("Password"), false);
    }
}

bool ConsoleModel::setListIndex(const QString& name, int index)
{
    Field& f = mut(name);
    if (index < -1 || index >= f.items.size())
        return false;
    if (f.value != index) {
        f.value = index;
        emit valueChanged(name);
    }
    return true;
}

void ConsoleModel::setListItems(const QString& name, const QStringList& items)
{
    Field& f = mut(name);
    f.items = items;
    emit stateChanged(name);
}

void ConsoleModel::setEnabled(const QString& name, bool on)
{
    Field& f = mut(name);
    if (f.enabled == on)
        return;
    f.enabled = on;
    emit stateChanged(name);
}

void ConsoleModel::setVisible(const QString& name, bool on)
{
    Field& f = mut(name);
    if (f.visible == on)
        return;
    f.visible = on;
    emit stateChanged(name);
}

void ConsoleModel::UpdateProtocolOptions()
{
    const bool bioscrypt = selected(QStringLiteral("OptBioscrypt"));
    setEnabled(QStringLiteral("ckAck"), bioscrypt);
    setEnabled(QStringLiteral("ckRes"), bioscrypt);
    setEnabled(QStringLiteral("txtProtocol"), selected(QStringLiteral("ProtocolAA")));
}

void ConsoleModel::UpdateLinkOptions()
{
    const bool tcp = selected(QStringLiteral("OpTCP"));
    const bool com = selected(QStringLiteral("OpCOM"));
    setEnabled(QStringLiteral("IP"), tcp);
    setEnabled(QStringLiteral("Port"), tcp);
    setEnabled(QStringLiteral("ComPort"), com);
    setEnabled(QStringLiteral("COMSpeed"), com);
}

Protocol ConsoleModel::protocol() const
{
    if (selected(QStringLiteral("Modbus")))
        return Protocol::Modbus;
    if (selected(QStringLiteral("Protocol4")))
        return Protocol::Protocol4;
    if (selected(QStringLiteral("Protocol4Plus")))
        return Protocol::Protocol4Plus;
    if (selected(QStringLiteral("ProtocolAA")))
        return Protocol::Customer;
    if (selected(QStringLiteral("OptBioscrypt")))
        return Protocol::Bioscrypt;
    return Protocol::None;
}

RequestSettings ConsoleModel::requestSettings(int slot) const
{
    RequestSettings s;
    s.protocol = protocol();
    s.address = address(slot);
    s.customerCode = text(QStringLiteral("txtProtocol"));
    s.encrypt = selected(QStringLiteral("Encrypt"));
    s.password = text(QStringLiteral("Password"));
    s.ackReq = check(QStringLiteral("ckAck")) == 1;
    s.respReq = check(QStringLiteral("ckRes")) == 1;
    return s;
}

} // namespace tarvo
