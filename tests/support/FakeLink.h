#pragma once

#include "Clock.h"
#include "EventPump.h"
#include "Link.h"

#include <QList>
#include <QStringList>
#include <functional>
#include <map>

namespace tarvo::test {

// A clock that moves only when the fake pump moves it.
class FakeClock final : public Clock {
public:
    double now() const override { return t; }
    double t = 0;
};

// Processes "events" scheduled at fake times: each call advances the clock by the time the caller was
// prepared to sleep (at least 1 ms), stopping early at the next scheduled event, and runs what is due.
class FakePump final : public EventPump {
public:
    explicit FakePump(FakeClock& clock) : m_clock(clock) {}
    void at(double time, std::function<void()> action) { m_events.emplace(time, std::move(action)); }
    void processEvents(int maxWaitMs) override
    {
        ++passes;
        double next = m_clock.t + std::max(maxWaitMs, 1) / 1000.0;
        if (!m_events.empty() && m_events.begin()->first < next)
            next = std::max(m_clock.t, m_events.begin()->first);
        m_clock.t = next;
        while (!m_events.empty() && m_events.begin()->first <= m_clock.t + 1e-12) {
            auto action = std::move(m_events.begin()->second);
            m_events.erase(m_events.begin());
            action();
        }
    }
    int passes = 0;

private:
    FakeClock& m_clock;
    std::multimap<double, std::function<void()>> m_events;
};

// A link whose far end is a script: onWrite sees every frame written and may schedule replies. It
// behaves as the serial port or as the TCP client, as `serial` says at each call.
class FakeLink final : public Link {
public:
    FakeLink(FakeClock& clock, FakePump& pump, std::function<bool()> serial)
        : m_clock(clock), m_pump(pump), m_serial(std::move(serial))
    {
    }

    // Bytes that arrive from the controller after `delay` seconds.
    void reply(double delay, const QByteArray& bytes)
    {
        m_pump.at(m_clock.t + delay, [this, bytes] { arrive(bytes); });
    }
    void arrive(const QByteArray& bytes)
    {
        rx += bytes;
        if (!serial())
            arrivalCount = static_cast<int32_t>(rx.size());
    }
    bool serial() const { return m_serial(); }

    void Connect(const LinkSettings& settings) override
    {
        ++connects;
        connected.append(settings);
        open = !refuseConnect;
    }
    void Disconnect() override
    {
        ++disconnects;
        open = false;
    }
    bool isConnected() const override { return open; }
    void SetBaudRate(const QString& speed) override { speeds.append(speed); }
    void WriteData(const QByteArray& data) override
    {
        writes.append(data);
        writeTimes.append(m_clock.t);
        if (!serial())
            arrivalCount = 0;
        if (onWrite)
            onWrite(data);
    }
    QByteArray ReadData() override
    {
        readTimes.append(m_clock.t);
        const qsizetype n = serial() ? rx.size() : std::min<qsizetype>(rx.size(), arrivalCount);
        const QByteArray out = rx.left(n);
        rx.remove(0, n);
        return out;
    }
    void CleanReceivedBuffer() override
    {
        if (!serial())
            rx.clear();
    }
    int16_t ReceivedBufferCount() override { return serial() ? static_cast<int16_t>(rx.size()) : 0; }
    int32_t ArrivalCount() override { return serial() ? 0 : arrivalCount; }
    void ClearArrivalCount() override { arrivalCount = 0; }
    QByteArray peekData() override { return serial() ? rx : QByteArray(); }

    std::function<void(const QByteArray&)> onWrite;
    QByteArray rx;
    int32_t arrivalCount = 0;
    QList<QByteArray> writes;
    QList<double> writeTimes;
    QList<double> readTimes;
    QStringList speeds;
    QList<LinkSettings> connected;
    int connects = 0;
    int disconnects = 0;
    bool open = false;          // connected and not since disconnected
    bool refuseConnect = false; // Connect fails (a port that is not there, a refused host)

private:
    FakeClock& m_clock;
    FakePump& m_pump;
    std::function<bool()> m_serial;
};

} // namespace tarvo::test
