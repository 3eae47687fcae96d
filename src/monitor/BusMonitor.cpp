#include "BusMonitor.h"

#include "Clock.h"
#include "EventPump.h"
#include "Link.h"

#include <algorithm>
#include <cmath>

namespace tarvo {

namespace {
// The longest a wait lasts with no frame open; arrivals wake it at once.
constexpr double kIdleSeconds = 0.05;
// Bytes taken at a time while a frame is open.
constexpr int kBatchBytes = 32;
} // namespace

BusMonitor::BusMonitor(Link& link, const Clock& clock, EventPump& pump, std::function<QDateTime()> wallClock)
    : m_link(link), m_clock(clock), m_pump(pump), m_wallClock(std::move(wallClock))
{
}

double BusMonitor::gapFor(const Options& options) const
{
    return options.gapSeconds > 0 ? options.gapSeconds : FrameSplitter::defaultGap(m_link.characterSeconds());
}

JournalRecord BusMonitor::record(const HeardFrame& frame, const Options& options) const
{
    const FrameExplanation e = explainFrame(options.protocol, frame.bytes, options.encrypt, options.password);
    JournalRecord r;
    r.time = m_wallClock().addMSecs(-qRound64((m_clock.now() - frame.firstByteAt) * 1000));
    r.slot = 0;
    r.function = QStringLiteral("Monitor");
    r.received = spacedHex(frame.bytes);
    switch (e.verdict) {
    case CheckVerdict::Ok:
        r.verdict = JournalRecord::Verdict::Ok;
        break;
    case CheckVerdict::Bad:
        r.verdict = JournalRecord::Verdict::BadCheck;
        break;
    default:
        r.verdict = JournalRecord::Verdict::Unknown;
        break;
    }
    if (e.verdict == CheckVerdict::NotAFrame)
        r.detail = e.problem;
    else if (e.verdict != CheckVerdict::Unchecked)
        r.detail = e.reply ? QStringLiteral("reply") : QStringLiteral("request");
    if (e.verdict == CheckVerdict::Bad)
        r.detail += QStringLiteral("; %1 carried %2, computed %3")
                        .arg(e.checkName, spacedHex(e.received), spacedHex(e.computed));
    return r;
}

void BusMonitor::run(const Options& options, const std::stop_token& stop,
                     const std::function<void(const JournalRecord&)>& onFrame, const std::function<void()>& tend)
{
    const double character = m_link.characterSeconds();
    FrameSplitter splitter(gapFor(options), character, [&options](const QByteArray& bytes) {
        return completeFrameLength(options.protocol, bytes, options.encrypt, options.password);
    });
    auto hand = [&](const QList<HeardFrame>& frames) {
        for (const HeardFrame& f : frames)
            onFrame(record(f, options));
    };
    auto pending = [this] { return std::max<int32_t>(m_link.ReceivedBufferCount(), m_link.ArrivalCount()); };
    double lastRead = m_clock.now();
    for (;;) {
        // A frame's first byte wakes the monitor at once, so that its time is right; while a frame is
        // open the bytes are taken in batches (a wake per byte would cost more than the bus brings),
        // and a quiet line ends the wait once a batch's time and the gap have passed.
        const bool open = splitter.hasOpenFrame();
        m_link.setWakeThreshold(open ? kBatchBytes : 1);
        const double until = open ? std::max(splitter.openFrameDeadline(),
                                             lastRead + (kBatchBytes - 1) * character + splitter.gapSeconds())
                                  : m_clock.now() + kIdleSeconds;
        // After each pass the link is looked after first (a port that went away is opened again, or
        // the caller decides to stop), and only then is it asked what it holds.
        const WaitEnd end = pumpUntil(m_pump, m_clock, std::min(until, m_clock.now() + kIdleSeconds), stop, [&] {
            if (tend)
                tend();
            return stop.stop_requested() || pending() > 0;
        });
        if (end == WaitEnd::Stopped || stop.stop_requested()) {
            hand(splitter.finish());
            return;
        }
        if (end == WaitEnd::Done) {
            const QByteArray bytes = m_link.ReadData();
            m_link.ClearArrivalCount();
            lastRead = m_clock.now();
            hand(splitter.feed(bytes, lastRead));
        } else {
            hand(splitter.idle(m_clock.now()));
        }
    }
}

QString latencyWarning(const QString& device, double gapSeconds, const SystemPaths& paths, const QString& remedy)
{
    const std::optional<int> timer = latencyTimerMs(device, paths);
    if (!timer || *timer <= gapSeconds * 1000)
        return {};
    return QStringLiteral("%1 hands received bytes over every %2 ms (its USB latency timer), longer than the "
                          "%3 ms of silence that ends a frame: frames may be cut apart or joined. %4")
        .arg(resolveDevice(device))
        .arg(*timer)
        .arg(gapSeconds * 1000, 0, 'f', 1)
        .arg(remedy.isEmpty() ? QStringLiteral("Tick \"Low latency\" in the line settings to lower the timer.")
                              : remedy);
}

} // namespace tarvo
