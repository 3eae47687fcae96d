#include "ExchangeSettings.h"

namespace tarvo {

RequestSettings ExchangeSettings::request(int slot) const
{
    RequestSettings s;
    s.protocol = protocol;
    s.address = slotTable.at(static_cast<size_t>(slot)).address;
    s.customerCode = customerCode;
    s.encrypt = encrypt;
    s.password = password;
    s.ackReq = ackReq;
    s.respReq = respReq;
    return s;
}

void ExchangeSettings::selectAddresses(const QList<int>& addresses)
{
    for (int slot = 0; slot < kSlotCount; ++slot) {
        SlotSettings& s = slotTable[static_cast<size_t>(slot)];
        s.selected = slot < addresses.size();
        if (s.selected)
            s.address = QString::number(addresses[slot]);
    }
}

bool SettingsSource::replyLessSend() const
{
    const RequestSettings r = request(0);
    return r.protocol == Protocol::Bioscrypt && !r.ackReq && !r.respReq;
}

bool SettingsSource::secondMessageAwaited() const
{
    const RequestSettings r = request(0);
    return r.protocol == Protocol::Bioscrypt && r.ackReq && r.respReq;
}

QList<int> SettingsSource::selectedSlots() const
{
    QList<int> selected;
    for (int slot = 0; slot < kSlotCount; ++slot) {
        if (slotSelected(slot))
            selected.append(slot);
    }
    return selected;
}

ExchangeSettings SettingsSource::snapshot() const
{
    ExchangeSettings s;
    s.serial = serialLink();
    s.speed = speed();
    s.link = linkSettings();
    const RequestSettings r = request(0);
    s.protocol = r.protocol;
    s.customerCode = r.customerCode;
    s.encrypt = r.encrypt;
    s.password = r.password;
    s.ackReq = r.ackReq;
    s.respReq = r.respReq;
    s.function = function();
    s.query = query();
    s.commands = commands();
    for (int slot = 0; slot < kSlotCount; ++slot)
        s.slotTable[static_cast<size_t>(slot)] = {slotSelected(slot), address(slot)};
    s.timeoutMs = timeoutMs();
    s.waitingMs = waitingMs();
    s.scanMs = scanMs();
    s.tries = tries();
    s.memory = memoryPanel();
    // The snapshot's link waits as long as the snapshot says, whatever the source does later.
    s.link.timeoutMs = [ms = s.timeoutMs] { return ms; };
    return s;
}

LinkSettings FixedSettings::linkSettings() const
{
    LinkSettings s = value.link;
    s.timeoutMs = [ms = value.timeoutMs] { return ms; };
    return s;
}

RequestSettings SettingsOverlay::request(int slot) const
{
    RequestSettings r = m_base.request(slot);
    r.address = address(slot);
    return r;
}

QString SettingsOverlay::address(int slot) const
{
    if (own.onlyAddress)
        return slot == 0 ? *own.onlyAddress : QString();
    return m_base.address(slot);
}

} // namespace tarvo
