#include "Engine.h"

#include "Clock.h"
#include "Conversions.h"
#include "Errors.h"
#include "EventPump.h"
#include "Link.h"
#include "Mbap.h"
#include "Number.h"
#include "Prompter.h"
#include "ReplyCheck.h"
#include "ReplyHook.h"
#include "Requests.h"

#include <QFile>
#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <utility>

namespace tarvo {

namespace {
const QString kNoAnswer = QStringLiteral("NO ANSWER FROM CONTROLLER ADDRESS ");
const QString kTimeOutLabel = QStringLiteral("Time Out Delay");
const QString kScanningLabel = QStringLiteral("Receive Buffer Scanning Delay");
const QString kScanLabel = QStringLiteral("Scan rate");

// A conversion that failed while building a request can only concern the slot's address: say so.
[[noreturn]] void rethrowForAddress(const QString& address, const TarvoError& e)
{
    if (e.number() == error::kOverflow)
        throw OperatorError(QStringLiteral("Address %1 is out of range").arg(address.trimmed()));
    throw OperatorError(QStringLiteral("Address \"%1\" is not a number").arg(address));
}

// Whether the call's requests go out in Modbus TCP frames: the network link framed so, under Modbus
// (the only protocol that framing carries: any other is refused before anything is sent).
bool modbusTcp(const SettingsSource& settings)
{
    if (settings.serialLink() || settings.linkSettings().framing != NetFraming::Mbap)
        return false;
    if (settings.protocol() != Protocol::Modbus)
        throw OperatorError(QStringLiteral("Modbus TCP framing carries Modbus requests only: choose the Modbus "
                                           "protocol, or the Raw framing for this one"));
    return true;
}

QString spaced(QByteArrayView bytes)
{
    return QString::fromLatin1(bytes.toByteArray().toHex(' ').toUpper());
}

// A delay in milliseconds, asked now; an operator error naming the field when it is not a number.
int32_t milliseconds(const SettingsSource& settings, int32_t (SettingsSource::*delay)() const, const QString& label)
{
    try {
        return (settings.*delay)();
    } catch (const TarvoError& e) {
        if (e.number() == error::kOverflow)
            throw OperatorError(QStringLiteral("%1 is out of range").arg(label));
        throw OperatorError(QStringLiteral("%1 is not a number").arg(label));
    }
}
} // namespace

struct Engine::Call {
    Call(const SettingsSource& s, QString& name, int16_t& sl, std::stop_token st)
        : settings(s), functionName(name), slot(sl), stop(std::move(st))
    {
    }
    const SettingsSource& settings;
    QString& functionName;
    int16_t& slot;
    std::stop_token stop;
    bool firstView = true;
    // The command work file stays open for reading for the whole call and is closed on every way out,
    // errors included, so that the next call can always write it again.
    std::unique_ptr<QFile> commandFile;
    AttemptRecord record;
    bool recordOpen = false; // an attempt has started and not yet been reported
    bool mbap = false;       // the requests go out in Modbus TCP frames
    qsizetype carried = 0;   // serial bytes the attempt found waiting, left from the one before
    QByteArray mbapBuffer;   // what has come of the Modbus TCP reply so far
};

Engine::Engine(Link& link, Clock& clock, EventPump& pump, Prompter& prompter)
    : m_link(link), m_clock(clock), m_pump(pump), m_prompter(prompter)
{
}

void Engine::addObserver(ExchangeObserver* observer)
{
    if (observer && !m_observers.contains(observer))
        m_observers.append(observer);
}

void Engine::removeObserver(ExchangeObserver* observer)
{
    m_observers.removeAll(observer);
}

QString Engine::commandFileName()
{
    return QStringLiteral("Command.txt");
}

WaitEnd Engine::waitFor(const Call& call, const std::function<double()>& deadline, const std::function<bool()>& done)
{
    const WaitEnd end = pumpUntil(m_pump, m_clock, deadline, call.stop, done);
    if (end == WaitEnd::Stopped)
        m_link.Disconnect();
    return end;
}

void Engine::showReply(int slot, int box, const QString& text)
{
    if (m_display)
        m_display->showReply(slot, box, text);
}

int32_t Engine::pendingCount(bool listening)
{
    // The serial link counts what waits in its buffer. Over TCP only the arrival count tells that
    // something came; the listen-only function uses it so that it works there too.
    const int32_t count = m_link.ReceivedBufferCount();
    return listening ? std::max(count, m_link.ArrivalCount()) : count;
}

bool Engine::Envoi(const SettingsSource& settings, QString& functionName, int16_t& slot, std::stop_token stop)
{
    Call call{settings, functionName, slot, std::move(stop)};
    try {
        return run(call);
    } catch (const std::exception& e) {
        // The attempt under way, or the request that could not be built, is reported with the error.
        AttemptRecord& record = call.recordOpen ? call.record : newRecord(call);
        record.verdict = AttemptRecord::Verdict::Error;
        const auto* tarvoError = dynamic_cast<const TarvoError*>(&e);
        record.detail = tarvoError ? tarvoError->description() : QString::fromLocal8Bit(e.what());
        call.recordOpen = false;
        finish(record);
        throw;
    }
}

bool Engine::run(Call& call)
{
    for (;;) {
        if (call.functionName == fn::Waiting) {
            if (listen(call) == Outcome::Stopped)
                return false;
            continue;
        }

        QString requestText;
        int threshold = 0;
        if (!buildRequest(call, requestText, threshold))
            return true; // the command lines are used up; the file closes with the call
        const QString frame = frameRequest(requestText, call.settings.request(call.slot));

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

bool Engine::buildRequest(Call& call, QString& requestText, int& threshold)
{
    const QString name = call.functionName;
    const QString address = call.settings.address(call.slot);
    try {
        if (name != fn::SendCommand) {
            const FixedRequest request = fixedRequest(name, address, call.settings.query(), call.firstView);
            requestText = request.text;
            threshold = request.threshold;
            return true;
        }
        if (!call.commandFile) {
            QFile out(commandFileName());
            if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate))
                throw OperatorError(QStringLiteral("Cannot write %1: %2").arg(commandFileName(), out.errorString()));
            out.write(call.settings.commands().toLatin1() + "\r\n");
            out.close();
            call.commandFile = std::make_unique<QFile>(commandFileName());
            if (!call.commandFile->open(QIODevice::ReadOnly))
                throw OperatorError(
                    QStringLiteral("Cannot read %1: %2").arg(commandFileName(), call.commandFile->errorString()));
        }
        std::optional<CallRequest> request;
        while (!request && !call.commandFile->atEnd()) {
            QByteArray raw = call.commandFile->readLine();
            while (raw.endsWith('\n') || raw.endsWith('\r'))
                raw.chop(1);
            request = commandRequest(QString::fromLatin1(raw), call.settings.request(call.slot));
        }
        if (!request)
            return false;
        if (!request->line->warning.isEmpty())
            m_prompter.message(QStringLiteral("Tarvo"), request->line->warning, Prompter::Icon::Critical);
        requestText = request->text;
        threshold = request->threshold;
        return true;
    } catch (const OperatorError&) {
        throw;
    } catch (const TarvoError& e) {
        rethrowForAddress(address, e);
    }
}

AttemptRecord& Engine::newRecord(Call& call)
{
    call.record = AttemptRecord{};
    call.record.slot = call.slot;
    call.record.address = call.settings.address(call.slot);
    call.record.function = call.functionName;
    call.record.sentAt = m_clock.now();
    call.recordOpen = true;
    return call.record;
}

void Engine::finish(AttemptRecord& record)
{
    const QStringList notes = m_link.takeNotes();
    if (!notes.isEmpty())
        record.detail +=
            (record.detail.isEmpty() ? QString() : QStringLiteral("; ")) + notes.join(QStringLiteral("; "));
    for (ExchangeObserver* observer : std::as_const(m_observers))
        observer->attemptFinished(record);
}

void Engine::noteFirstByte(AttemptRecord& record, int32_t pending)
{
    // The wait may look only once several bytes are there: the first came that many character
    // times earlier (none on TCP, where an arrival is seen as it comes).
    if (pending <= 0 || record.firstByteAt >= 0)
        return;
    const double at = m_clock.now() - (pending - 1) * m_link.characterSeconds();
    record.firstByteAt = std::max(at, record.sentAt);
}

Engine::Outcome Engine::stopped(Call& call)
{
    if (call.recordOpen) {
        call.record.verdict = AttemptRecord::Verdict::Stopped;
        call.recordOpen = false;
        finish(call.record);
    }
    return Outcome::Stopped;
}

Engine::Outcome Engine::exchange(Call& call, const QString& frame, int threshold)
{
    if (m_display) {
        m_display->showCheckError(false);
        m_display->showEcho(false);
    }
    const QByteArray bytes = frameToBytes(frame);
    call.mbap = modbusTcp(call.settings);
    AttemptRecord& record = newRecord(call);
    record.frame = frame;

    for (int attempt = 1;; ++attempt) {
        // Every Modbus TCP request has a transaction of its own, so that a late reply to an earlier
        // one is told from its own. The report shows the bytes on the wire.
        QByteArray wire = bytes;
        if (call.mbap) {
            wire = mbap::fromRtu(bytes, ++m_transaction);
            record.frame = QString::fromLatin1(wire.toHex().toUpper());
            call.mbapBuffer.clear();
        }
        // A frame with no bytes (a function outside the known ones under protocol None) puts nothing on
        // the wire; the reply wait still runs, as for any other request.
        if (!wire.isEmpty())
            m_link.WriteData(wire);
        m_link.CleanReceivedBuffer();
        // Serial bytes left from an earlier attempt stay for this one to count; they are not its own.
        call.carried = m_link.peekData().size();
        record.attempt = attempt;
        record.sentAt = m_clock.now();
        record.firstByteAt = -1;
        record.detail.clear(); // each attempt carries what the link noted during it, not before
        record.reply.clear();
        record.exceptionCode = -1;
        call.recordOpen = true;

        if (call.settings.replyLessSend()) {
            record.verdict = AttemptRecord::Verdict::ReplyLess;
            call.recordOpen = false;
            finish(record);
            return Outcome::Done;
        }

        // The serial link has a reply once more bytes than the request's threshold wait; TCP as soon as
        // anything arrived.
        const double t0 = m_clock.now();
        m_link.setWakeThreshold(threshold + 1);
        auto deadline = [&] {
            return t0 + milliseconds(call.settings, &SettingsSource::timeoutMs, kTimeOutLabel) / 1000.0;
        };
        auto present = [&] {
            if (call.mbap)
                return mbapReplyPresent(call, record, m_transaction);
            const int32_t count = m_link.ReceivedBufferCount();
            const int32_t arrived = m_link.ArrivalCount();
            noteFirstByte(record, std::max(count, arrived));
            return count > threshold || arrived > 0;
        };
        if (waitFor(call, deadline, present) == WaitEnd::Stopped)
            return stopped(call);
        if (m_clock.now() < deadline()) {
            // A Modbus TCP reply is whole once its header's length has come: there is nothing to
            // settle.
            if (call.mbap)
                return showReply(call, std::exchange(call.mbapBuffer, {}), t0, true);
            if (settle(call, false) == Outcome::Stopped)
                return stopped(call);
            return showReply(call, m_link.ReadData(), t0, true);
        }
        record.verdict = AttemptRecord::Verdict::NoReply;
        keepShortReply(call, record);
        call.recordOpen = false;
        finish(record);
        if (attempt >= std::clamp(call.settings.tries(), 1, 3))
            break;
    }
    showReply(call.slot, 0, kNoAnswer + call.settings.address(call.slot));
    return Outcome::NoAnswer;
}

bool Engine::mbapReplyPresent(Call& call, AttemptRecord& record, uint16_t transaction)
{
    if (m_link.ArrivalCount() > 0) {
        noteFirstByte(record, 1);
        call.mbapBuffer += m_link.ReadData();
        m_link.ClearArrivalCount();
    }
    for (;;) {
        const int whole = mbap::frameLength(call.mbapBuffer);
        if (whole == 0)
            return false;
        // Bytes that are no Modbus TCP frame end the wait too: the report judges them.
        if (whole < 0 || mbap::transaction(call.mbapBuffer) == transaction)
            return true;
        record.detail += (record.detail.isEmpty() ? QString() : QStringLiteral("; ")) +
                         QStringLiteral("dropped a reply of transaction %1, not the request's %2")
                             .arg(spaced(QByteArrayView(call.mbapBuffer).first(2)),
                                  QStringLiteral("%1 %2")
                                      .arg(transaction >> 8, 2, 16, QLatin1Char('0'))
                                      .arg(transaction & 0xFF, 2, 16, QLatin1Char('0'))
                                      .toUpper());
        call.mbapBuffer.remove(0, whole);
    }
}

void Engine::keepShortReply(Call& call, AttemptRecord& record)
{
    const QByteArray late = call.mbap ? std::exchange(call.mbapBuffer, {}) : m_link.peekData().mid(call.carried);
    if (late.isEmpty())
        return;
    record.reply = late;
    const ReplyJudgement j = judgement(call, record, 0);
    QString said;
    if (j.result == ReplyJudgement::Result::Exception) {
        record.exceptionCode = j.exceptionCode;
        said = j.detail;
    } else {
        said = QStringLiteral("%1 bytes came, too few to end the wait").arg(late.size());
        if (!j.detail.isEmpty())
            said += QStringLiteral("; ") + j.detail;
    }
    record.detail += (record.detail.isEmpty() ? QString() : QStringLiteral("; ")) + said;
}

Engine::Outcome Engine::settle(Call& call, bool listening)
{
    for (;;) {
        int32_t prev = 0;
        // The count is looked at after each scanning delay only: arrivals need not wake the wait.
        m_link.setWakeThreshold(std::numeric_limits<int>::max());
        do {
            prev = pendingCount(listening);
            const double t = m_clock.now();
            // A controller or a bus that never falls silent must not hold the console: Stop is
            // honoured here as in every other wait.
            const auto deadline = [&] {
                return t + milliseconds(call.settings, &SettingsSource::waitingMs, kScanningLabel) / 1000.0;
            };
            if (waitFor(call, deadline) == WaitEnd::Stopped)
                return Outcome::Stopped;
        } while (pendingCount(listening) > prev);

        // Bioscrypt with both flags: the response follows the acknowledgement as a second message.
        if (listening || !call.settings.secondMessageAwaited())
            return Outcome::Done;
        const double t = m_clock.now();
        m_link.setWakeThreshold(prev + 1);
        const auto end = waitFor(
            call, [&] { return t + milliseconds(call.settings, &SettingsSource::timeoutMs, kTimeOutLabel) / 1000.0; },
            [&] { return m_link.ReceivedBufferCount() > prev; });
        if (end == WaitEnd::Stopped)
            return Outcome::Stopped;
        if (m_link.ReceivedBufferCount() <= prev)
            return Outcome::Done;
    }
}

Engine::Outcome Engine::showReply(Call& call, const QByteArray& bytes, double t0, bool paced)
{
    if (!paced)
        m_link.ClearArrivalCount(); // listening over TCP: what was counted has now been taken
    QString text = ByteArrayToHex(bytes, false);
    if (m_hook)
        m_hook->onReply(text, call.slot);

    AttemptRecord& record = call.record;
    record.repliedAt = m_clock.now();
    record.reply = bytes;
    // Bytes were waiting, but nothing could be read (the link went away meanwhile): the console shows
    // the empty reply as it read it, and the report says that this was no reply.
    record.verdict = bytes.isEmpty() ? AttemptRecord::Verdict::Error : AttemptRecord::Verdict::Reply;
    if (bytes.isEmpty())
        record.detail = QStringLiteral("the reply could not be read");

    if (call.firstView) {
        showReply(call.slot, 0, text);
        call.firstView = false;
        if (call.functionName == fn::ReadBuffer) {
            judge(call, record);
            call.recordOpen = false;
            finish(record);
            return Outcome::NextRequest;
        }
    } else {
        showReply(call.slot, 1, text);
        call.firstView = true;
    }

    // Successive requests start at least Scan milliseconds apart.
    if (paced && waitFor(call, [&] {
                     return t0 + milliseconds(call.settings, &SettingsSource::scanMs, kScanLabel) / 1000.0;
                 }) == WaitEnd::Stopped)
        return stopped(call); // the reply stays shown, unchecked

    const RequestSettings s = call.settings.request(call.slot);
    if (replyCheckFails(bytes, s.protocol, s.encrypt, s.password) && m_display)
        m_display->showCheckError(true);
    judge(call, record);
    call.recordOpen = false;
    finish(record);
    return Outcome::Done;
}

ReplyJudgement Engine::judgement(const Call& call, const AttemptRecord& record, qsizetype leftover) const
{
    const RequestSettings s = call.settings.request(call.slot);
    const QByteArray request = frameToBytes(record.frame);
    const bool commandLine = call.functionName == fn::SendCommand;
    ReplyJudgement whole = judgeReply(record.reply, s.protocol, s.encrypt, s.password, request, commandLine, call.mbap);
    // The bytes read may begin with what an earlier attempt's reply left on the line (a refusal too
    // short to end its wait, say). When they fail as a whole but this attempt's own bytes pass, the
    // own bytes are the reply; the bytes before them could as well be the start of a late one.
    if (whole.result != ReplyJudgement::Result::Bad || leftover <= 0 || leftover >= record.reply.size())
        return whole;
    ReplyJudgement own =
        judgeReply(record.reply.mid(leftover), s.protocol, s.encrypt, s.password, request, commandLine, call.mbap);
    if (own.result == ReplyJudgement::Result::Bad)
        return whole;
    const QString note = QStringLiteral("the first %1 bytes were left from the attempt before").arg(leftover);
    own.detail = own.detail.isEmpty() ? note : note + QStringLiteral("; ") + own.detail;
    return own;
}

void Engine::judge(const Call& call, AttemptRecord& record) const
{
    if (record.verdict != AttemptRecord::Verdict::Reply)
        return;
    const ReplyJudgement j = judgement(call, record, call.carried);
    record.checkFailed = j.result == ReplyJudgement::Result::Bad;
    if (j.result == ReplyJudgement::Result::Exception)
        record.exceptionCode = j.exceptionCode;
    if (!j.detail.isEmpty())
        record.detail += (record.detail.isEmpty() ? QString() : QStringLiteral("; ")) + j.detail;
}

Engine::Outcome Engine::listen(Call& call)
{
    m_link.setWakeThreshold(1);
    AttemptRecord first;
    first.sentAt = m_clock.now();
    const auto end = waitFor(
        call, [] { return std::numeric_limits<double>::infinity(); },
        [&] {
            const int32_t pending = pendingCount(true);
            noteFirstByte(first, pending);
            return pending > 0;
        });
    if (end == WaitEnd::Stopped)
        return Outcome::Stopped; // nothing came: there is no attempt to report
    // A listen has no request: it is reported from its first byte on.
    AttemptRecord& record = newRecord(call);
    record.sentAt = first.firstByteAt;
    record.firstByteAt = first.firstByteAt;
    if (settle(call, true) == Outcome::Stopped)
        return stopped(call);
    return showReply(call, m_link.ReadData(), 0, false);
}

} // namespace tarvo
