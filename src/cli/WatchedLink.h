#pragma once

#include "Clock.h"
#include "EventPump.h"
#include "Link.h"

#include <functional>
#include <memory>
#include <optional>
#include <stop_token>

namespace tarvo::cli {

// The console's link, watched: a link operation reports nothing, but a script must tell "nobody
// answered" from "there was no link". After every Connect and every write (which opens a dropped
// link again) it looks whether the link is open; when it is not, onDown runs once and the link counts
// as down for the rest of the run.
class WatchedLink final : public Link {
public:
    explicit WatchedLink(std::unique_ptr<Link> inner) : m_inner(std::move(inner)) {}

    void Connect(const LinkSettings& settings) override
    {
        m_inner->Connect(settings);
        m_connectedOnce = m_connectedOnce || m_inner->isConnected();
        check();
    }
    void Disconnect() override { m_inner->Disconnect(); }
    bool isConnected() const override { return m_inner->isConnected(); }
    void SetBaudRate(const QString& speed) override { m_inner->SetBaudRate(speed); }
    void WriteData(const QByteArray& data) override
    {
        m_inner->WriteData(data);
        check();
    }
    QByteArray ReadData() override { return m_inner->ReadData(); }
    void CleanReceivedBuffer() override { m_inner->CleanReceivedBuffer(); }
    int16_t ReceivedBufferCount() override { return m_inner->ReceivedBufferCount(); }
    int32_t ArrivalCount() override { return m_inner->ArrivalCount(); }
    void ClearArrivalCount() override { m_inner->ClearArrivalCount(); }
    void setWakeThreshold(int bytes) override { m_inner->setWakeThreshold(bytes); }
    double characterSeconds() const override { return m_inner->characterSeconds(); }
    QStringList takeNotes() override { return m_inner->takeNotes(); }

    // A link that dropped while only listening (nothing is written to open it again): tried again every
    // two seconds for ten, long enough for an adapter pulled and put back; then it is down.
    void reopen(const LinkSettings& settings, const Clock& clock, EventPump& pump, const std::stop_token& stop)
    {
        if (m_down || m_inner->isConnected())
            return;
        const double giveUpAt = clock.now() + 10;
        for (;;) {
            m_inner->Connect(settings);
            if (m_inner->isConnected() || stop.stop_requested())
                return;
            if (clock.now() >= giveUpAt)
                break;
            if (pumpUntil(pump, clock, clock.now() + 2, stop) == WaitEnd::Stopped)
                return;
        }
        check();
    }

    bool down() const { return m_down; }
    // Down after it had been open: lost, and not regained.
    bool lost() const { return m_down && m_connectedOnce; }

    std::function<void()> onDown;

private:
    void check()
    {
        if (m_down || m_inner->isConnected())
            return;
        m_down = true;
        if (onDown)
            onDown();
    }

    std::unique_ptr<Link> m_inner;
    bool m_down = false;
    bool m_connectedOnce = false;
};

} // namespace tarvo::cli
