#include "ConsoleModel.h"

#include "Number.h"
#include "Requests.h"

#include <QHash>
#include <stdexcept>

namespace tarvo {

namespace {

// Where each field's state starts in the flat list: a single field takes one place, a per-slot field
// 32 in a row.
const std::array<size_t, kFieldCount + 1>& offsets()
{
    static const auto table = [] {
        std::array<size_t, kFieldCount + 1> o{};
        for (int i = 0; i < kFieldCount; ++i)
            o[i + 1] = o[i] + (fieldTable()[i].perSlot ? kSlotCount : 1);
        return o;
    }();
    return table;
}

QList<FieldRef> buildFieldOrder()
{
    QList<FieldRef> order;
    const QList<FieldInfo>& table = fieldTable();
    for (int i = 0; i < table.size();) {
        if (!table[i].perSlot) {
            order.append(table[i].field);
            ++i;
            continue;
        }
        // A run of per-slot fields is one row per slot: the slot's fields side by side.
        int end = i;
        while (end < table.size() && table[end].perSlot)
            ++end;
        for (int slot = 0; slot < kSlotCount; ++slot) {
            for (int k = i; k < end; ++k)
                order.append(FieldRef(table[k].field, slot));
        }
        i = end;
    }
    return order;
}

const QHash<QString, FieldRef>& fieldsByName()
{
    static const auto byName = [] {
        QHash<QString, FieldRef> h;
        for (const FieldRef& ref : ConsoleModel::allFields())
            h.insert(ConsoleModel::name(ref), ref);
        return h;
    }();
    return byName;
}

} // namespace

ConsoleModel::ConsoleModel(QObject* parent) : QObject(parent)
{
    m_states.resize(offsets().back());
    for (const FieldRef& ref : allFields()) {
        const FieldInfo& info = fieldInfo(ref.field);
        mut(ref) = State{info.text, info.value, info.items, info.enabled, info.visible};
    }
    // The layout's states agree with its default choices: only the chosen protocol's and link's
    // fields are editable.
    UpdateProtocolOptions();
    UpdateLinkOptions();
}

void ConsoleModel::reset()
{
    for (const FieldRef& ref : allFields()) {
        const FieldInfo& info = fieldInfo(ref.field);
        State& s = mut(ref);
        const QStringList items = ref.field == Field::ComPort ? s.items : info.items;
        const bool value = s.text != info.text || s.value != info.value;
        const bool flags = s.items != items || s.enabled != info.enabled || s.visible != info.visible;
        s = State{info.text, info.value, items, info.enabled, info.visible};
        if (value)
            emit valueChanged(ref);
        if (flags)
            emit stateChanged(ref);
    }
    UpdateProtocolOptions();
    UpdateLinkOptions();
    title = QStringLiteral("Tarvo");
    lastFileName.clear();
    ini = Ini{};
}

QString ConsoleModel::name(FieldRef ref)
{
    const FieldInfo& info = fieldInfo(ref.field);
    return info.perSlot ? info.name + QLatin1Char('_') + QString::number(ref.slot) : info.name;
}

std::optional<FieldRef> ConsoleModel::find(const QString& name)
{
    const auto& byName = fieldsByName();
    const auto it = byName.constFind(name);
    if (it == byName.constEnd())
        return std::nullopt;
    return *it;
}

const QList<FieldRef>& ConsoleModel::allFields()
{
    static const QList<FieldRef> order = buildFieldOrder();
    return order;
}

size_t ConsoleModel::index(FieldRef ref)
{
    const int f = static_cast<int>(ref.field);
    if (f < 0 || f >= kFieldCount)
        throw std::out_of_range("no such console field");
    const bool perSlot = fieldTable()[f].perSlot;
    if (perSlot ? (ref.slot < 0 || ref.slot >= kSlotCount) : ref.slot != -1)
        throw std::out_of_range(("slot out of range for console field " + fieldTable()[f].name).toStdString());
    return offsets()[f] + (perSlot ? static_cast<size_t>(ref.slot) : 0);
}

QString ConsoleModel::caption(FieldRef ref) const
{
    const FieldInfo& info = fieldInfo(ref.field);
    return info.perSlot ? info.caption.arg(ref.slot + 1) : info.caption;
}

void ConsoleModel::setText(FieldRef ref, const QString& text)
{
    State& s = mut(ref);
    if (s.text == text)
        return;
    s.text = text;
    emit valueChanged(ref);
}

void ConsoleModel::setCheck(FieldRef ref, int value)
{
    State& s = mut(ref);
    const bool changed = s.value != value;
    s.value = value;
    if (changed)
        emit valueChanged(ref);
    if (ref.field == Field::ShowMemoryPanel)
        setVisible(Field::MemoryPanel, value != 0);
}

void ConsoleModel::choose(Field f)
{
    const FieldInfo& chosen = fieldInfo(f);
    if (chosen.kind != Kind::Option)
        throw std::logic_error("choose() takes an option button");
    for (const FieldInfo& other : fieldTable()) {
        if (other.kind == Kind::Option && other.group == chosen.group && other.field != f && selected(other.field)) {
            mut(other.field).value = 0;
            emit valueChanged(other.field);
        }
    }
    if (!selected(f)) {
        mut(f).value = 1;
        emit valueChanged(f);
    }
    runChoiceRule(f);
}

void ConsoleModel::setSelected(Field f, bool on)
{
    if (on) {
        choose(f);
        return;
    }
    State& s = mut(f);
    if (s.value != 0) {
        s.value = 0;
        emit valueChanged(f);
    }
}

void ConsoleModel::runChoiceRule(Field f)
{
    switch (f) {
    case Field::Modbus:
        setText(Field::COMSpeed, QStringLiteral("9600"));
        UpdateProtocolOptions();
        break;
    case Field::Protocol4:
    case Field::Protocol4Plus:
    case Field::ProtocolAA:
    case Field::OptBioscrypt:
    case Field::OptNone:
        UpdateProtocolOptions();
        break;
    case Field::OpCOM:
    case Field::OpTCP:
        UpdateLinkOptions();
        break;
    case Field::Encrypt:
        setEnabled(Field::Password, true);
        break;
    case Field::decrypt:
        setEnabled(Field::Password, false);
        break;
    default:
        break;
    }
}

bool ConsoleModel::setListIndex(Field f, int index)
{
    State& s = mut(f);
    if (index < -1 || index >= s.items.size())
        return false;
    if (s.value != index) {
        s.value = index;
        emit valueChanged(f);
    }
    return true;
}

void ConsoleModel::setListItems(Field f, const QStringList& items)
{
    mut(f).items = items;
    emit stateChanged(f);
}

void ConsoleModel::setEnabled(FieldRef ref, bool on)
{
    State& s = mut(ref);
    if (s.enabled == on)
        return;
    s.enabled = on;
    emit stateChanged(ref);
}

void ConsoleModel::setVisible(FieldRef ref, bool on)
{
    State& s = mut(ref);
    if (s.visible == on)
        return;
    s.visible = on;
    emit stateChanged(ref);
}

void ConsoleModel::UpdateProtocolOptions()
{
    const bool bioscrypt = selected(Field::OptBioscrypt);
    setEnabled(Field::AckReq, bioscrypt);
    setEnabled(Field::RespReq, bioscrypt);
    setEnabled(Field::CustomerCode, selected(Field::ProtocolAA));
}

void ConsoleModel::UpdateLinkOptions()
{
    const bool tcp = selected(Field::OpTCP);
    const bool com = selected(Field::OpCOM);
    setEnabled(Field::IP, tcp);
    setEnabled(Field::Port, tcp);
    setEnabled(Field::ComPort, com);
    setEnabled(Field::COMSpeed, com);
}

Field ConsoleModel::protocolOption(Protocol p)
{
    switch (p) {
    case Protocol::Modbus:
        return Field::Modbus;
    case Protocol::Protocol4:
        return Field::Protocol4;
    case Protocol::Protocol4Plus:
        return Field::Protocol4Plus;
    case Protocol::Customer:
        return Field::ProtocolAA;
    case Protocol::Bioscrypt:
        return Field::OptBioscrypt;
    case Protocol::None:
        break;
    }
    return Field::OptNone;
}

RequestSettings ConsoleModel::request(int slot) const
{
    RequestSettings s;
    if (selected(Field::Modbus))
        s.protocol = Protocol::Modbus;
    else if (selected(Field::Protocol4))
        s.protocol = Protocol::Protocol4;
    else if (selected(Field::Protocol4Plus))
        s.protocol = Protocol::Protocol4Plus;
    else if (selected(Field::ProtocolAA))
        s.protocol = Protocol::Customer;
    else if (selected(Field::OptBioscrypt))
        s.protocol = Protocol::Bioscrypt;
    else
        s.protocol = Protocol::None;
    s.address = address(slot);
    s.customerCode = text(Field::CustomerCode);
    s.encrypt = selected(Field::Encrypt);
    s.password = text(Field::Password);
    s.ackReq = check(Field::AckReq) == 1;
    s.respReq = check(Field::RespReq) == 1;
    return s;
}

std::optional<QString> ConsoleModel::function() const
{
    return fn::forListIndex(listIndex(Field::Function));
}

LinkSettings ConsoleModel::linkSettings() const
{
    LinkSettings s;
    s.comPort = text(Field::ComPort);
    s.host = text(Field::IP);
    s.tcpPort = text(Field::Port);
    s.transport = ini.tcp.transport;
    s.framing = ini.tcp.framing;
    s.timeoutMs = [this] { return timeoutMs(); };
    s.line = LineFormat::parse(ini.serial.line).value_or(LineFormat{});
    s.line.rtsCts = ini.serial.rtsCts;
    s.rs485 = {ini.serial.rs485, ini.serial.rtsOnSend, ini.serial.delayBeforeMs, ini.serial.delayAfterMs};
    s.dropEcho = ini.serial.dropEcho;
    s.lowLatency = ini.serial.lowLatency;
    return s;
}

int32_t ConsoleModel::timeoutMs() const
{
    return toInt32(text(Field::TimeOutDelay));
}

int32_t ConsoleModel::waitingMs() const
{
    return toInt32(text(Field::WaitingDelay));
}

int32_t ConsoleModel::scanMs() const
{
    return toInt32(text(Field::Scan));
}

MemoryPanel ConsoleModel::memoryPanel() const
{
    return {text(Field::MemPage), text(Field::MemAddress), text(Field::MemRecordNumber), text(Field::MemRecordSize)};
}

void ConsoleModel::showReply(int slot, int box, const QString& value)
{
    setText(box == 0 ? Field::Reponse : Field::Reponse1, slot, value);
}

} // namespace tarvo
