#include "Engine.h"

#include "Clock.h"
#include "ConsoleModel.h"
#include "Conversions.h"
#include "Errors.h"
#include "EventPump.h"
#include "Link.h"
#include "Number.h"
#include "Prompter.h"
#include "ReplyCheck.h"
#include "ReplyHook.h"
#include "Requests.h"

#include <QFile>
#include <algorithm>
#include <cmath>
#include <memory>

namespace tarvo {

namespace {
const QString kNoAnswer = QStringLiteral("NO ANSWER FROM CONTROLLER ADDRESS ");
// The longest a wait sleeps in one pass when nothing happens. Arrivals and clicks wake it at once;
// this only bounds how stale a wait's view of a deadline edited by the operator can get.
constexpr double kMaxSleepSeconds = 0.05;

QString field(const char* base, int slot)
{
    return ConsoleModel::slotName(QString::fromLatin1(base), slot);
}

// A conversion that failed while building a request can only concern the slot's address: say so.
[[noreturn]] void rethrowForAddress(const QString& address, const TarvoError& e)
{
    if (e.number() == error::kOverflow)
        throw OperatorError(QStringLiteral("Address %1 is out of range").arg(address.trimmed()));
    throw OperatorError(QStringLiteral("Address \"%1\" is not a number").arg(address));
}
} // namespace

struct Engine::Call {
    Call(QString& name, int16_t& s) : functionName(name), slot(s) {}
    QString& functionName;
    int16_t& slot;
    bool firstView = true;
    // The command work file stays open for reading for the whole call and is closed on every way out,
    // errors included, so that the next call can always write it again.
    std::unique_ptr<QFile> commandFile;
    AttemptRecord record;
};

Engine::Engine(ConsoleModel& model, Link& link, Clock& clock, EventPump& pump, Prompter& prompter)
    : m_model(model), m_link(link), m_clock(clock), m_pump(pump), m_prompter(prompter)
{
}

QString Engine::commandFileName()
{
    return QStringLiteral("Command.txt");
}

bool Engine::stopRequested() const
{
    return m_model.StopRequested;
}

int32_t Engine::milliseconds(const QString& name, const QString& label) const
{
    try {
        return toInt32(m_model.text(name));
    } catch (const TarvoError& e) {
        if (e.number() == error::kOverflow)
            throw OperatorError(QStringLiteral("%1 is out of range").arg(label));
        throw OperatorError(QStringLiteral("%1 is not a number").arg(label));
    }
}

void Engine::pumpUntil(double deadline)
{
    const double remaining = std::clamp(deadline - m_clock.now(), 0.0, kMaxSleepSeconds);
    m_pump.processEvents(static_cast<int>(std::ceil(remaining * 1000)));
}

bool Engine::passStopped(double deadline)
{
    pumpUntil(deadline);
    if (!stopRequested())
        return false;
    m_link.Disconnect();
    return true;
}

int16_t Engine::pendingCount(bool listening)
{
    if (m_model.serialLink())
        return m_link.ReceivedBufferCount();
    // Over TCP only the arrival count tells that something came; the listen-only function uses it so
    // that it works there too.
    return listening ? static_cast<int16_t>(std::clamp<int32_t>(m_model.TcpArrivalCount, 0, INT16_MAX)) : 0;
}

bool Engine::Envoi(QString& functionName, int16_t& slot)
{
    Call call{functionName, slot};
    for (;;) {
        const QString name = call.functionName;
        if (name == fn::Waiting) {
            if (listen(call) == Outcome::Stopped)
                return false;
            continue;
        }

        QString requestText;
        int threshold = 0;
        const QString address = m_model.address(slot);
        try {
            if (name == fn::SendCommand) {
                if (!call.commandFile) {
                    QFile out(commandFileName());
                    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate))
                        throw OperatorError(
                            QStringLiteral("Cannot write %1: %2").arg(commandFileName(), out.errorString()));
                    out.write(m_model.text(QStringLiteral("Cmd")).toLatin1() + "\r\n");
                    out.close();
                    call.commandFile = std::make_unique<QFile>(commandFileName());
                    if (!call.commandFile->open(QIODevice::ReadOnly))
                        throw OperatorError(QStringLiteral("Cannot read %1: %2")
                                                .arg(commandFileName(), call.commandFile->errorString()));
                }
                std::optional<CommandLine> line;
                while (!line && !call.commandFile->atEnd()) {
                    QByteArray raw = call.commandFile->readLine();
                    while (raw.endsWith('\n') || raw.endsWith('\r'))
                        raw.chop(1);
                    line = commandLine(QString::fromLatin1(raw), m_model.requestSettings(slot), &m_prompter);
                }
                if (!line)
                    return true; // the lines are used up; the file closes with the call
                requestText = commandRequestText(*line, m_model.requestSettings(slot), &m_prompter);
            } else {
                const FixedRequest request =
                    fixedRequest(name, address, m_model.text(QStringLiteral("Query")), call.firstView);
                requestText = request.text;
                threshold = request.threshold;
            }
        } catch (const OperatorError&) {
            throw;
        } catch (const TarvoError& e) {
            rethrowForAddress(address, e);
        }
        const QString frame = frameRequest(requestText, m_model.requestSettings(slot));

        switch (exchange(call, frame, threshold)) {
        case Outcome::Stopped:
            return false;
        case Outcome::NextRequest:
            continue;
        case Outcome::Done:
        case Outcome::NoAnswer:
            if (call.functionName == fn::SendCommand)
                continue;
            return true;
        }
    }
}

AttemptRecord& Engine::newRecord(Call& call)
{
    call.record = AttemptRecord{};
    call.record.slot = call.slot;
    call.record.function = call.functionName;
    return call.record;
}

Engine::Outcome Engine::exchange(Call& call, const QString& frame, int threshold)
{
    m_model.setVisible(QStringLiteral("Label8"), false);
    m_model.setVisible(QStringLiteral("LblEcho"), false);
    const QByteArray bytes = frameToBytes(frame);
    AttemptRecord& record = newRecord(call);
    record.frame = frame;

    for (int attempt = 1;; ++attempt) {
        // A frame with no bytes (a function outside the known ones under protocol None) puts nothing on
        // the wire; the reply wait still runs, as for any other request.
        if (!bytes.isEmpty())
            m_link.WriteData(bytes);
        m_link.CleanReceivedBuffer();
        record.attempt = attempt;
        record.sentAt = m_clock.now();

        if (m_model.selected(QStringLiteral("OptBioscrypt")) && m_model.check(QStringLiteral("ckAck")) == 0 &&
            m_model.check(QStringLiteral("ckRes")) == 0) {
            record.verdict = AttemptRecord::Verdict::ReplyLess;
            if (m_observer)
                m_observer->attemptFinished(record);
            return Outcome::Done;
        }

        const double t0 = m_clock.now();
        const QString timeoutLabel = QStringLiteral("Time Out Delay");
        auto deadline = [&] { return t0 + milliseconds(QStringLiteral("TimeOutDelay"), timeoutLabel) / 1000.0; };
        for (;;) {
            if (passStopped(deadline()))
                return Outcome::Stopped;
            const bool present =
                m_model.serialLink() ? m_link.ReceivedBufferCount() > threshold : m_model.TcpArrivalCount > 0;
            if (present || m_clock.now() > deadline())
                break;
        }
        if (m_clock.now() < deadline()) {
            if (settle(false) == Outcome::Stopped)
                return Outcome::Stopped;
            return showReply(call, t0, true);
        }
        record.verdict = AttemptRecord::Verdict::NoReply;
        if (m_observer)
            m_observer->attemptFinished(record);
        if (attempt >= 3)
            break;
    }
    m_model.setText(field("Reponse", call.slot), kNoAnswer + m_model.address(call.slot));
    return Outcome::NoAnswer;
}

Engine::Outcome Engine::settle(bool listening)
{
    const QString label = QStringLiteral("Receive Buffer Scanning Delay");
    for (;;) {
        int16_t prev = 0;
        do {
            prev = pendingCount(listening);
            const double t = m_clock.now();
            auto until = [&] { return t + milliseconds(QStringLiteral("WaitingDelay"), label) / 1000.0; };
            do {
                // A controller or a bus that never falls silent must not hold the console: Stop is
                // honoured here as in every other wait.
                if (passStopped(until()))
                    return Outcome::Stopped;
            } while (!(m_clock.now() > until()));
        } while (pendingCount(listening) > prev);

        if (listening)
            return Outcome::Done;
        // Bioscrypt with both flags: the response follows the acknowledgement as a second message.
        if (!(m_model.selected(QStringLiteral("OptBioscrypt")) && m_model.check(QStringLiteral("ckAck")) == 1 &&
              m_model.check(QStringLiteral("ckRes")) == 1))
            return Outcome::Done;
        const double t = m_clock.now();
        auto until = [&] {
            return t + milliseconds(QStringLiteral("TimeOutDelay"), QStringLiteral("Time Out Delay")) / 1000.0;
        };
        bool present = false;
        do {
            if (passStopped(until()))
                return Outcome::Stopped;
            present = m_link.ReceivedBufferCount() > prev;
        } while (!present && !(m_clock.now() > until()));
        if (m_link.ReceivedBufferCount() <= prev)
            return Outcome::Done;
    }
}

Engine::Outcome Engine::showReply(Call& call, double t0, bool paced)
{
    const QByteArray bytes = m_link.ReadData();
    if (!paced && !m_model.serialLink())
        m_model.TcpArrivalCount = 0; // listening over TCP: what was counted has now been taken
    QString text = ByteArrayToHex(bytes, false);
    if (m_hook)
        m_hook->onReply(text, call.slot);

    AttemptRecord& record = call.record;
    record.verdict = AttemptRecord::Verdict::Reply;
    record.repliedAt = m_clock.now();
    record.reply = bytes;

    if (call.firstView) {
        m_model.setText(field("Reponse", call.slot), text);
        call.firstView = false;
        if (call.functionName == fn::ReadBuffer) {
            if (m_observer)
                m_observer->attemptFinished(record);
            return Outcome::NextRequest;
        }
    } else {
        m_model.setText(field("Reponse1", call.slot), text);
        call.firstView = true;
    }

    if (paced) {
        // Successive requests start at least Scan milliseconds apart.
        const QString label = QStringLiteral("Scan rate");
        auto until = [&] { return t0 + milliseconds(QStringLiteral("Scan"), label) / 1000.0; };
        do {
            if (passStopped(until()))
                return Outcome::Stopped;
        } while (!(m_clock.now() > until()));
    }

    const RequestSettings s = m_model.requestSettings(call.slot);
    record.checkFailed = replyCheckFails(bytes, s.protocol, s.encrypt, s.password);
    if (record.checkFailed)
        m_model.setVisible(QStringLiteral("Label8"), true);
    if (m_observer)
        m_observer->attemptFinished(record);
    return Outcome::Done;
}

Engine::Outcome Engine::listen(Call& call)
{
    for (;;) {
        if (passStopped(m_clock.now() + kMaxSleepSeconds))
            return Outcome::Stopped;
        if (pendingCount(true) > 0)
            break;
    }
    if (settle(true) == Outcome::Stopped)
        return Outcome::Stopped;
    newRecord(call);
    return showReply(call, 0, false);
}

} // namespace tarvo
