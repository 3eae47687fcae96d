#include "CliRun.h"

#include "AddressResult.h"
#include "Census.h"
#include "CliFrames.h"
#include "CliOutput.h"
#include "Clock.h"
#include "ConfigFile.h"
#include "ConsoleMonitor.h"
#include "Errors.h"
#include "EventPump.h"
#include "Explain.h"
#include "IniFile.h"
#include "JournalCsv.h"
#include "MemoryRead.h"
#include "PortList.h"
#include "Prompter.h"
#include "Requests.h"
#include "Stack.h"
#include "TerminationSignals.h"
#include "Trace.h"
#include "WatchedLink.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <cmath>
#include <cstdio>
#include <unistd.h>

namespace tarvo::clitool {

namespace {

void writeOut(const QByteArray& bytes)
{
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
    std::fflush(stdout);
}

void say(const QString& text)
{
    std::fprintf(stderr, "tarvo-cli: %s\n", text.toLocal8Bit().constData());
    std::fflush(stderr);
}

// The link's trace: its failures on standard error, its routine steps only when asked for (they
// would bury the results a person reads on the same terminal). Standard output is the records' alone.
class CliTrace final : public Trace {
public:
    explicit CliTrace(bool verbose) : m_verbose(verbose) {}
    void write(const QString& line) override
    {
        const bool problem = line.contains(QLatin1String(":: Error : ")) || line.startsWith(QLatin1String("Link lost"));
        if (!m_verbose && !problem)
            return;
        if (beforeWrite)
            beforeWrite();
        if (m_verbose)
            m_all.write(line);
        else
            say(line);
    }
    std::function<void()> beforeWrite;

private:
    bool m_verbose;
    StderrTrace m_all;
};

// What a census found of one address over every speed: the best it gave.
JournalRecord::Verdict betterVerdict(JournalRecord::Verdict a, JournalRecord::Verdict b)
{
    using V = JournalRecord::Verdict;
    auto rank = [](V v) {
        switch (v) {
        case V::Ok:
            return 4;
        case V::BadCheck:
            return 3;
        case V::NoReplyExpected:
            return 2;
        case V::Error:
            return 1;
        default:
            return 0;
        }
    };
    return rank(b) > rank(a) ? b : a;
}

// --serial's text as the console's port field takes it: COMn and device paths as they are; a bare
// name is looked for under /dev/serial/by-id, then /dev. Nothing for a name no device has.
std::optional<QString> portText(const QString& text)
{
    static const QRegularExpression com(QStringLiteral("^COM[1-9][0-9]*$"), QRegularExpression::CaseInsensitiveOption);
    if (text.startsWith(QLatin1Char('/')) || com.match(text).hasMatch())
        return text;
    for (const QString& folder : {QStringLiteral("/dev/serial/by-id/"), QStringLiteral("/dev/")}) {
        if (QFileInfo::exists(folder + text))
            return folder + text;
    }
    return std::nullopt;
}

class Runner {
public:
    explicit Runner(const Options& o) : m_o(o), m_trace(o.verbose) {}
    int exec();

private:
    // Everything that can be refused before anything is sent; the reason, or nothing.
    std::optional<QString> prepare();
    std::optional<QString> applyOptions();
    std::optional<QString> checkRequests();
    std::optional<QString> openFiles();

    int runExchanges();
    int runListen(RecordWriter& writer);
    int runScan();
    int runMemoryRead();
    int runFrame();
    int runMonitor();
    // Closes the journal, says the summary and gives the exit status.
    int finish(const Tally& tally);

    bool stopNow() const { return m_interrupted || m_link->down() || m_stack->model.StopRequested; }
    void pauseUntil(double until);
    void sayLinkDown();
    void flushJournal() { m_stack->journal.flush(); }
    QList<int> selectedSlots() const;

    const Options& m_o;
    SteadyClock m_clock;
    QtEventPump m_pump;
    CliTrace m_trace;
    StderrPrompter m_prompter;
    WatchedLink* m_link = nullptr;
    std::unique_ptr<Stack> m_stack;
    std::unique_ptr<Census> m_census;
    std::unique_ptr<ResultCollector> m_collector;
    ProgressLine m_progress{::isatty(STDERR_FILENO) == 1};
    JournalFile m_journal;

    QString m_function;
    int m_sentWidth = 0;
    QList<int> m_scanAddresses;
    QFile m_output; // read-memory: created empty before the read, so the name is ours
    bool m_interrupted = false;
};

QList<int> Runner::selectedSlots() const
{
    QList<int> s;
    for (int slot = 0; slot < ConsoleModel::kSlots; ++slot) {
        if (m_stack->model.slotSelected(slot))
            s << slot;
    }
    return s;
}

std::optional<QString> Runner::applyOptions()
{
    ConsoleModel& m = m_stack->model;
    if (!m_o.config.isEmpty()) {
        if (!QFileInfo(m_o.config).isReadable() || !QFileInfo(m_o.config).isFile())
            return QStringLiteral("--config %1: no such file, or it cannot be read").arg(m_o.config);
        config::ReadConfig(m, m_o.config);
        // A site folder keeps the rest of its settings (the serial line among them) in Tarvo.ini beside
        // its Tarvo.cfg.
        config::ReadIni(m, QFileInfo(m_o.config).dir().filePath(config::iniFileName()));
    } else if (!m_o.serial && !m_o.tcpHost && m_o.command != Subcommand::Frame) {
        return QStringLiteral("no link: give --serial PORT or --tcp HOST:PORT (or a --config)");
    }

    if (m_o.serial) {
        const auto port = portText(*m_o.serial);
        if (!port)
            return QStringLiteral("--serial \"%1\": not COMn, a device path, or a port under /dev/serial/by-id or "
                                  "/dev (tarvo-cli ports lists them)")
                .arg(*m_o.serial);
        m.setText(Field::ComPort, *port);
        m.choose(Field::OpCOM);
    }
    if (m_o.tcpHost) {
        m.setText(Field::IP, *m_o.tcpHost);
        m.setText(Field::Port, *m_o.tcpPort);
        m.choose(Field::OpTCP);
    }
    // The protocol before the speed: choosing Modbus sets 9600, as on the console, and --speed wins.
    if (m_o.protocol) {
        if (*m_o.protocol == Protocol::None) {
            m.choose(Field::OptNone);
        } else {
            m.choose(ConsoleModel::protocolOption(*m_o.protocol));
        }
    }
    if (m_o.speed)
        m.setText(Field::COMSpeed, *m_o.speed);
    // The serial line beyond its speed, as the console keeps it (Tarvo.ini beside a --config).
    ConsoleModel::Ini::Serial& serial = m.ini.serial;
    if (m_o.line)
        serial.line = m_o.line->text();
    if (m_o.rtsCts)
        serial.rtsCts = *m_o.rtsCts;
    serial.rs485 = serial.rs485 || m_o.rs485;
    serial.dropEcho = serial.dropEcho || m_o.dropEcho;
    serial.lowLatency = serial.lowLatency || m_o.lowLatency;
    if (m_o.code)
        m.setText(Field::CustomerCode, *m_o.code);
    if (m_o.passphrase) {
        m.choose(Field::Encrypt);
        m.setText(Field::Password, *m_o.passphrase);
    }
    if (m_o.ack)
        m.setCheck(Field::AckReq, 1);
    if (m_o.resp)
        m.setCheck(Field::RespReq, 1);
    if (m_o.query)
        m.setText(Field::Query, *m_o.query);
    if (!m_o.commands.isEmpty())
        m.setText(Field::Cmd, m_o.commands.join(QStringLiteral("\r\n")));
    if (m_o.timeoutMs && m_o.command != Subcommand::Scan)
        m.setText(Field::TimeOutDelay, *m_o.timeoutMs);
    if (m_o.settleMs)
        m.setText(Field::WaitingDelay, *m_o.settleMs);
    if (m_o.scanDelayMs)
        m.setText(Field::Scan, *m_o.scanDelayMs);
    m_stack->engine.setMaxAttempts(m_o.tries);

    if (m_o.command == Subcommand::Monitor)
        return std::nullopt; // it sends nothing: no address, no function

    m_function = m_o.function.value_or(fn::forListIndex(m.listIndex(Field::Function)).value_or(fn::ReadInput));

    if (m_o.command == Subcommand::Scan) {
        m_scanAddresses = !m_o.range.isEmpty() ? m_o.range : m_o.addresses;
        if (m_scanAddresses.isEmpty()) {
            for (int a = 0; a <= 254; ++a)
                m_scanAddresses << a;
        }
        return std::nullopt;
    }
    if (!m_o.addresses.isEmpty()) {
        for (int slot = 0; slot < ConsoleModel::kSlots; ++slot) {
            const bool used = slot < m_o.addresses.size();
            m.setCheck(Field::CheckAdr, slot, used ? 1 : 0);
            if (used)
                m.setText(Field::Address, slot, QString::number(m_o.addresses[slot]));
        }
    }
    if (m_o.command == Subcommand::Frame && m_function == fn::Waiting)
        return QStringLiteral("--function listen sends nothing: there is no frame to show");
    if (selectedSlots().isEmpty() && m_function != fn::Waiting)
        return QStringLiteral("no address: give --address A (or a --config with selected slots)");

    if (m_o.command == Subcommand::ReadMemory) {
        if (m_o.page)
            m.setText(Field::MemPage, *m_o.page);
        if (m_o.firstAddress)
            m.setText(Field::MemAddress, *m_o.firstAddress);
        if (m_o.records)
            m.setText(Field::MemRecordNumber, *m_o.records);
        if (m_o.recordSize)
            m.setText(Field::MemRecordSize, *m_o.recordSize);
        if (const auto problem = memdump::panelProblem(m.text(Field::MemPage), m.text(Field::MemAddress),
                                                       m.text(Field::MemRecordNumber), m.text(Field::MemRecordSize)))
            return *problem;
    }
    return std::nullopt;
}

std::optional<QString> Runner::checkRequests()
{
    ConsoleModel& m = m_stack->model;
    if (m_o.command == Subcommand::Scan) {
        CensusPlan plan;
        plan.addresses = m_scanAddresses;
        plan.function = m_function;
        plan.command = m.text(Field::Cmd);
        int longest = 0;
        if (const auto refused = m_census->refusal(plan, &longest))
            return *refused;
        m_sentWidth = longest * 3 - 1;
        return std::nullopt;
    }
    if (m_function == fn::Waiting || m_o.command == Subcommand::ReadMemory || m_o.command == Subcommand::Monitor)
        return std::nullopt;
    // Every request is built once here, as the exchange will build it: one the protocol refuses is
    // reported before anything goes out.
    for (int slot : selectedSlots()) {
        const RequestSettings s = m.requestSettings(slot);
        try {
            QStringList texts;
            if (m_function == fn::SendCommand) {
                for (const QString& line : m.text(Field::Cmd).split(QLatin1Char('\n'))) {
                    if (const auto cmd = commandLine(line.trimmed(), s))
                        texts << commandRequestText(*cmd, s);
                }
                if (texts.isEmpty())
                    return QStringLiteral("--function command: no command to send (give --command HEX)");
            } else {
                texts << fixedRequest(m_function, s.address, m.text(Field::Query), true).text;
                if (m_function == fn::ReadBuffer)
                    texts << fixedRequest(m_function, s.address, m.text(Field::Query), false).text;
            }
            for (const QString& t : texts) {
                const int width = static_cast<int>(spacedHex(frameToBytes(frameRequest(t, s))).size());
                m_sentWidth = std::max(m_sentWidth, width);
            }
        } catch (const TarvoError& e) {
            return e.description();
        }
    }
    return std::nullopt;
}

std::optional<QString> Runner::openFiles()
{
    if (m_o.command == Subcommand::ReadMemory) {
        // The run works in a folder of its own: the name is made whole now.
        m_output.setFileName(QFileInfo(m_o.output).absoluteFilePath());
        // Created now, empty and new: an existing file is never touched, and a folder that cannot be
        // written is known before anything is sent.
        if (!m_output.open(QIODevice::WriteOnly | QIODevice::NewOnly))
            return QStringLiteral("--output %1: %2")
                .arg(m_o.output, QFile::exists(m_o.output) ? QStringLiteral("the file exists; it is "
                                                                            "never overwritten")
                                                           : m_output.errorString());
    }
    if (!m_o.journal.isEmpty()) {
        QString error;
        if (!m_journal.open(m_o.journal, &error)) {
            if (m_output.isOpen()) {
                m_output.close();
                m_output.remove();
            }
            return QStringLiteral("--journal: %1").arg(error);
        }
        // Reported once; the exchanges go on, as in the console.
        m_journal.onFailure = [](const QString& problem) { say(problem); };
        m_stack->journal.addSink(&m_journal);
    }
    return std::nullopt;
}

std::optional<QString> Runner::prepare()
{
    m_stack = std::make_unique<Stack>(Seams{
        m_clock, m_pump, m_trace, m_prompter, nullptr, [this](const ConsoleModel& model) -> std::unique_ptr<Link> {
            Seams seams{m_clock, m_pump, m_trace, m_prompter, nullptr, {}};
            auto link = std::make_unique<WatchedLink>(Stack::consoleLink(model, seams));
            m_link = link.get();
            return link;
        }});
    m_collector = std::make_unique<ResultCollector>(m_clock);
    m_stack->engine.addObserver(m_collector.get());
    m_census = std::make_unique<Census>(m_stack->model, m_stack->link, m_clock, m_pump, m_prompter);
    m_census->addObserver(&m_stack->journal);
    m_stack->memoryRead.openViewer = nullptr;
    m_stack->model.Silent = true;
    if (auto problem = applyOptions())
        return problem;
    if (auto problem = checkRequests())
        return problem;
    return openFiles();
}

void Runner::sayLinkDown()
{
    const ConsoleModel& m = m_stack->model;
    const QString what = m.serialLink() ? QStringLiteral("the serial port %1").arg(m.text(Field::ComPort))
                                        : QStringLiteral("%1:%2").arg(m.text(Field::IP), m.text(Field::Port));
    if (m_link->lost())
        say(QStringLiteral("the link to %1 was lost and could not be opened again").arg(what));
    else
        say(QStringLiteral("cannot open the link to %1").arg(what));
}

void Runner::pauseUntil(double until)
{
    while (!stopNow() && m_clock.now() < until)
        m_pump.processEvents(static_cast<int>(std::clamp((until - m_clock.now()) * 1000, 1.0, 50.0)));
}

int Runner::finish(const Tally& tally)
{
    flushJournal();
    m_journal.close();
    m_progress.clear();
    if (m_o.format == Format::Text && tally.total > 0)
        say(tally.line());
    if (m_interrupted) {
        say(QStringLiteral("interrupted"));
        return status::kInterrupted;
    }
    if (m_link->down()) {
        sayLinkDown();
        return status::kLinkDown;
    }
    return tally.exitStatus();
}

int Runner::runListen(RecordWriter& writer)
{
    ConsoleModel& m = m_stack->model;
    Tally tally;
    const int wanted = m_o.command == Subcommand::Send ? 1 : m_o.count.value_or(0);
    m_collector->onMessage = [&](const AddressResult& r) {
        writer.write(r);
        tally.add(r.verdict);
        flushJournal();
        if (wanted > 0 && tally.total >= wanted)
            m.StopRequested = true;
    };
    QTimer end;
    end.setSingleShot(true);
    QObject::connect(&end, &QTimer::timeout, [&m] { m.StopRequested = true; });
    if (m_o.durationSeconds)
        end.start(static_cast<int>(std::min(*m_o.durationSeconds * 1000, 2e9)));
    m_progress.show(QStringLiteral("listening..."));
    const QList<int> used = selectedSlots();
    QString function = fn::Waiting;
    int16_t slot = static_cast<int16_t>(used.value(0, 0));
    if (!stopNow())
        m_stack->engine.Envoi(function, slot);
    m_collector->onMessage = nullptr;
    m_progress.clear();
    flushJournal();
    m_journal.close();
    if (m_o.format == Format::Text)
        say(QStringLiteral("%1 message%2 heard%3")
                .arg(tally.total)
                .arg(tally.total == 1 ? "" : "s")
                .arg(tally.badCheck > 0 ? QStringLiteral(", %1 bad check").arg(tally.badCheck) : QString()));
    if (m_interrupted)
        return status::kInterrupted;
    if (m_link->down()) {
        sayLinkDown();
        return status::kLinkDown;
    }
    if (tally.total == 0)
        return status::kNoAnswer;
    return tally.exitStatus();
}

int Runner::runExchanges()
{
    ConsoleModel& m = m_stack->model;
    RecordWriter writer(m_o.format, RecordWriter::Kind::Exchange, m_sentWidth);
    writer.beforeWrite = [this] { m_progress.clear(); };
    writer.writeHeader();
    m.StopRequested = false;
    m_stack->link.SetBaudRate(m.text(Field::COMSpeed));
    m_stack->link.Connect(linkSettingsOf(m));
    if (m_function == fn::Waiting) {
        const int code = runListen(writer);
        m_stack->link.Disconnect();
        return code;
    }

    Tally tally;
    const QList<int> used = selectedSlots();
    const double started = m_clock.now();
    const bool poll = m_o.command == Subcommand::Poll;
    for (int round = 1; !stopNow(); ++round) {
        if (poll) {
            QString text = QStringLiteral("round %1").arg(round);
            if (m_o.count)
                text += QStringLiteral(" of %1").arg(*m_o.count);
            if (m_o.durationSeconds)
                text += QStringLiteral(", %1 left").arg(timeLeftText(*m_o.durationSeconds - (m_clock.now() - started)));
            m_progress.show(text);
        }
        for (int slot : used) {
            if (stopNow())
                break;
            QString function = m_function;
            int16_t s = static_cast<int16_t>(slot);
            m.currentSlot = s;
            bool ranItsCourse = true;
            try {
                ranItsCourse = m_stack->engine.Envoi(function, s);
            } catch (const std::exception&) {
                // The engine reported the attempt as an error; the next address is served all the same.
            }
            const std::optional<AddressResult> r = m_collector->take(slot);
            if (r && r->verdict != JournalRecord::Verdict::Stopped) {
                writer.write(*r);
                tally.add(r->verdict);
            }
            if (!ranItsCourse)
                break;
        }
        flushJournal();
        if (!poll || stopNow())
            break;
        if (m_o.count && round >= *m_o.count)
            break;
        if (m_o.durationSeconds && m_clock.now() - started >= *m_o.durationSeconds)
            break;
        double until = m_clock.now() + m_o.intervalMs / 1000.0;
        if (m_o.durationSeconds)
            until = std::min(until, started + *m_o.durationSeconds);
        pauseUntil(until);
        if (m_o.durationSeconds && m_clock.now() - started >= *m_o.durationSeconds)
            break;
    }
    m_stack->link.Disconnect();
    return finish(tally);
}

int Runner::runScan()
{
    ConsoleModel& m = m_stack->model;
    RecordWriter writer(m_o.format, RecordWriter::Kind::Census, m_sentWidth);
    writer.beforeWrite = [this] { m_progress.clear(); };
    writer.writeHeader();

    CensusPlan plan;
    plan.addresses = m_scanAddresses;
    plan.speeds = m_o.speeds;
    plan.function = m_function;
    plan.command = m.text(Field::Cmd);
    plan.timeoutMs = m_o.timeoutMs ? m_o.timeoutMs->toInt() : m.ini.census.timeoutMs;
    plan.tries = m_o.tries;

    QMap<QString, JournalRecord::Verdict> best; // by address, over the speeds
    m_census->onProgress = [&](const CensusProgress& p) {
        QString text = QStringLiteral("scan: address %1").arg(p.address);
        if (p.speed > 0)
            text += QStringLiteral(" at %1").arg(p.speed);
        m_progress.show(
            text +
            QStringLiteral(" (%1 of %2), %3 left").arg(p.done + 1).arg(p.total).arg(timeLeftText(p.secondsLeft)));
    };
    m_census->onResult = [&](const AddressResult& r) {
        writer.write(r);
        best[r.address] = best.contains(r.address) ? betterVerdict(best[r.address], r.verdict) : r.verdict;
        flushJournal();
    };
    // A link that cannot be opened, or is lost for good, is seen by the watch on the link itself.
    m_census->run(plan);
    Tally tally;
    for (const auto& v : std::as_const(best))
        tally.add(v);
    return finish(tally);
}

int Runner::runMemoryRead()
{
    ConsoleModel& m = m_stack->model;
    RecordWriter writer(m_o.format, RecordWriter::Kind::Memory);
    writer.writeHeader();
    m_progress.show(QStringLiteral("reading memory..."));
    m_stack->memoryRead.CmdReadMemory_Click();
    m_progress.clear();

    const bool complete = !m_interrupted && !m_link->down();
    QString output = QFileInfo(m_output.fileName()).absoluteFilePath();
    if (complete) {
        QFile dump(memdump::dumpFileName());
        QByteArray bytes;
        if (dump.open(QIODevice::ReadOnly))
            bytes = dump.readAll();
        if (m_output.write(bytes) != bytes.size() || !m_output.flush() || ::fsync(m_output.handle()) != 0) {
            say(QStringLiteral("cannot write %1: %2").arg(output, m_output.errorString()));
            m_output.close();
            m_output.remove();
            output.clear();
        } else {
            m_output.close();
        }
    } else {
        // An incomplete dump under the name a script waits for would pass for a whole one.
        m_output.close();
        m_output.remove();
        output.clear();
    }

    Tally tally;
    for (int slot : selectedSlots()) {
        std::optional<AddressResult> r = m_collector->take(slot);
        if (!r) {
            if (!complete)
                continue;
            r = AddressResult{};
            r->time = QDateTime::currentDateTime();
            r->address = m.address(slot);
            r->function = fn::SendCommand;
        }
        if (r->verdict == JournalRecord::Verdict::Stopped)
            continue;
        const MemoryExtra extra{m.memory.MemRecordCount[static_cast<size_t>(slot)], output};
        writer.write(*r, &extra);
        tally.add(r->verdict);
    }
    const int code = finish(tally);
    if (code == status::kOk && output.isEmpty())
        return status::kNoAnswer;
    return code;
}

int Runner::runFrame()
{
    ConsoleModel& m = m_stack->model;
    writeOut(frameHeader(m_o.format, m_o.explain));
    for (int slot : selectedSlots()) {
        const RequestSettings s = m.requestSettings(slot);
        // Built as the exchange builds them (the requests were all accepted above); a read of the
        // buffer gives its two views, sent one after the other.
        const QList<FrameExplanation> frames = explainRequests(s, m_function, m.text(Field::Query), m.text(Field::Cmd));
        for (const FrameExplanation& f : frames)
            writeOut(frameOutput(s.address, f, m_o.format, m_o.explain));
    }
    return status::kOk;
}

int Runner::runMonitor()
{
    ConsoleModel& m = m_stack->model;
    writeOut(monitorHeader(m_o.format));
    const LinkSettings settings = linkSettingsOf(m);
    m_stack->link.SetBaudRate(m.text(Field::COMSpeed));
    m_stack->link.Connect(settings);
    if (m_link->down())
        return finish(Tally{});

    const BusMonitor::Options options = ConsoleMonitor::options(m, m_o.gapMs.value_or(0));
    BusMonitor monitor(m_stack->link, m_clock, m_pump);
    if (m.serialLink()) {
        const QString warning =
            latencyWarning(m.text(Field::ComPort), monitor.gapFor(options), SystemPaths{},
                           QStringLiteral("--low-latency lowers the timer, or a longer --gap takes it in."));
        if (!warning.isEmpty())
            say(warning);
    }

    Tally tally;
    const double started = m_clock.now();
    m_progress.show(QStringLiteral("listening..."));
    const auto stop = [&] {
        if (m_interrupted || m_link->down())
            return true;
        if (m_o.count && tally.total >= *m_o.count)
            return true;
        if (m_o.durationSeconds && m_clock.now() - started >= *m_o.durationSeconds)
            return true;
        if (!m_stack->link.isConnected())
            m_link->reopen(settings, m_clock, m_pump, [this] { return m_interrupted; });
        return m_link->down();
    };
    monitor.run(options, stop, [&](const JournalRecord& frame) {
        // Frames still arriving past --count are not shown: the count is what was asked for.
        if (m_o.count && tally.total >= *m_o.count)
            return;
        m_progress.clear();
        writeOut(monitorOutput(frame, m_o.format));
        m_stack->journal.add(frame);
        flushJournal();
        tally.add(frame.verdict);
        m_progress.show(QStringLiteral("listening: %1 frame%2").arg(tally.total).arg(tally.total == 1 ? "" : "s"));
    });
    m_stack->link.Disconnect();
    flushJournal();
    m_journal.close();
    m_progress.clear();
    if (m_o.format == Format::Text)
        say(QStringLiteral("%1 frame%2 heard%3")
                .arg(tally.total)
                .arg(tally.total == 1 ? "" : "s")
                .arg(tally.badCheck > 0 ? QStringLiteral(", %1 bad check").arg(tally.badCheck) : QString()));
    if (m_interrupted) {
        say(QStringLiteral("interrupted"));
        return status::kInterrupted;
    }
    if (m_link->down()) {
        sayLinkDown();
        return status::kLinkDown;
    }
    return tally.badCheck > 0 ? status::kBadCheck : status::kOk;
}

int runCheck(const Options& o)
{
    const FrameExplanation e =
        explainFrame(*o.protocol, o.checkBytes, o.passphrase.has_value(), o.passphrase.value_or(QString()));
    writeOut(checkOutput(e, *o.protocol, o.format, o.explain));
    switch (e.verdict) {
    case CheckVerdict::Ok:
    case CheckVerdict::Unchecked:
        return status::kOk;
    case CheckVerdict::Bad:
        return status::kBadCheck;
    case CheckVerdict::NotAFrame:
        break;
    }
    return status::kUsage;
}

int Runner::exec()
{
    if (m_o.command == Subcommand::Check)
        return runCheck(m_o);
    if (m_o.command == Subcommand::Ports) {
        SystemPortSource system;
        const QByteArray text = renderPorts(system.ports(), m_o.format);
        std::fwrite(text.constData(), 1, static_cast<size_t>(text.size()), stdout);
        return status::kOk;
    }
    // Work files (the command file of a send, the memory read's part files and dump) go to a folder
    // of the run's own, so that a run never touches the files of the folder it was started in.
    QTemporaryDir work(QDir::tempPath() + QStringLiteral("/tarvo-cli-XXXXXX"));
    if (!work.isValid()) {
        say(QStringLiteral("cannot create a work folder: %1").arg(work.errorString()));
        return status::kUsage;
    }
    if (const auto problem = prepare()) {
        say(*problem);
        return status::kUsage;
    }
    m_trace.beforeWrite = [this] { m_progress.clear(); };
    m_link->onDown = [this] {
        m_stack->model.StopRequested = true;
        m_stack->memoryRead.requestAbort();
        m_census->stop();
    };
    const auto signalWatch = watchTerminationSignals([this] {
        m_interrupted = true;
        m_stack->model.StopRequested = true;
        m_stack->memoryRead.requestAbort();
        m_census->stop();
    });

    const QString startedIn = QDir::currentPath();
    QDir::setCurrent(work.path());
    int code = status::kOk;
    switch (m_o.command) {
    case Subcommand::Send:
    case Subcommand::Poll:
        code = runExchanges();
        break;
    case Subcommand::Scan:
        code = runScan();
        break;
    case Subcommand::ReadMemory:
        code = runMemoryRead();
        break;
    case Subcommand::Frame:
        code = runFrame();
        break;
    case Subcommand::Monitor:
        code = runMonitor();
        break;
    case Subcommand::Ports:
    case Subcommand::Check:
        break;
    }
    QDir::setCurrent(startedIn);
    return code;
}

} // namespace

int run(const Options& options)
{
    Runner runner(options);
    return runner.exec();
}

} // namespace tarvo::clitool
