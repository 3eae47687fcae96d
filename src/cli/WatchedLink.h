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
// as down for the rest of the run. A link lost after it had been open is tried again for ten seconds
// first, at the write that finds it gone: long enough for a USB adapter to come back under its name.
class WatchedLink final : public Link {
public:
    // clock, pump, stop: what the tries to open a lost link again wait with.
    WatchedLink(std::unique_ptr<Link> inner, const Clock& clock, EventPump& pump, std::stop_token stop)
        : m_inner(std::move(inner)), m_clock(clock), m_pump(pump), m_stop(std::move(stop))
    {
    }

    void Connect(const LinkSettings& settings) override
    {
        m_settings = settings;
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
        if (!m_down && m_connectedOnce && !m_inner->isConnected()) {
            reopen(m_settings, m_clock, m_pump, m_stop);
            if (m_inner->isConnected())
                m_inner->WriteData(data);
        }
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
    QByteArray peekData() override { return m_inner->peekData(); }

    // A link that dropped: tried again every two seconds for ten, long enough for an adapter pulled and
    // put back; then it is down. Listening calls it itself, as nothing is written there.
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
    const Clock& m_clock;
    EventPump& m_pump;
    std::stop_token m_stop;
    LinkSettings m_settings;
    bool m_down = false;
    bool m_connectedOnce = false;
};

} // namespace tarvo::cli
