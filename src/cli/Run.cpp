#include "Run.h"

#include "ConfigFile.h"
#include "ConsoleModel.h"
#include "Errors.h"
#include "IniFile.h"
#include "MemoryRead.h"
#include "Requests.h"
#include "TerminationSignals.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <cstdio>
#include <unistd.h>

namespace tarvo::cli {

namespace {

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

// The settings of a Tarvo.cfg, with the rest of a site's settings (the serial line among them) from
// the Tarvo.ini beside it, read as the console reads them.
std::optional<QString> readConfig(const QString& path, Plan& plan)
{
    const QFileInfo file(path);
    if (!file.isReadable() || !file.isFile())
        return QStringLiteral("--config %1: no such file, or it cannot be read").arg(path);
    ConsoleModel model;
    config::ReadConfig(model, path);
    config::ReadIni(model, file.dir().filePath(config::iniFileName()));
    // A delay the file holds as no whole number would fail every exchange that waits on it. It is
    // noted, and named before anything is sent unless an option replaces it or the command never
    // waits on it (makePlan).
    SettingsOverlay read(model);
    const struct {
        int32_t (SettingsSource::*get)() const;
        std::optional<int32_t> SettingsOverlay::Own::*standIn;
        const char* label;
        QString Plan::*problem;
    } delays[] = {{&SettingsSource::timeoutMs, &SettingsOverlay::Own::timeoutMs, "Time Out Delay", &Plan::badTimeout},
                  {&SettingsSource::waitingMs, &SettingsOverlay::Own::waitingMs, "Receive Buffer Scanning Delay",
                   &Plan::badSettle},
                  {&SettingsSource::scanMs, &SettingsOverlay::Own::scanMs, "Scan rate", &Plan::badScanDelay}};
    for (const auto& delay : delays) {
        try {
            (model.*delay.get)();
        } catch (const TarvoError& e) {
            plan.*delay.problem = QStringLiteral("--config %1: %2 %3")
                                      .arg(path, QLatin1String(delay.label),
                                           e.number() == error::kOverflow ? QStringLiteral("is out of range")
                                                                          : QStringLiteral("is not a number"));
            read.own.*delay.standIn = 0; // never used as it stands
        }
    }
    plan.settings.value = read.snapshot();
    plan.censusTimeoutMs = model.ini.census.timeoutMs;
    return std::nullopt;
}

} // namespace

int run(const Options& options)
{
    switch (options.command) {
    case Subcommand::Send:
    case Subcommand::Poll:
        return sendOrPoll(options);
    case Subcommand::ReadMemory:
        return readMemory(options);
    case Subcommand::Scan:
        return scan(options);
    case Subcommand::Ports:
        return ports(options);
    case Subcommand::Frame:
        return frame(options);
    case Subcommand::Check:
        return check(options);
    case Subcommand::Monitor:
        return monitor(options);
    case Subcommand::Report:
        return report(options);
    case Subcommand::Run:
        return runPlan(options);
    }
    return status::kUsage;
}

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

QString heardLine(const Tally& tally, const QString& noun)
{
    return QStringLiteral("%1 %2%3 heard%4")
        .arg(tally.total)
        .arg(noun, tally.total == 1 ? QString() : QStringLiteral("s"),
             tally.badCheck > 0 ? QStringLiteral(", %1 bad check").arg(tally.badCheck) : QString());
}

std::optional<QString> makePlan(const Options& o, Plan& plan)
{
    ExchangeSettings& s = plan.settings.value;
    if (!o.config.isEmpty()) {
        if (auto problem = readConfig(o.config, plan))
            return problem;
    } else if (!o.serial && !o.tcpHost && o.command != Subcommand::Frame) {
        return QStringLiteral("no link: give --serial PORT, --tcp HOST:PORT or --udp HOST:PORT (or a --config)");
    }

    if (o.serial) {
        const auto port = portText(*o.serial);
        if (!port)
            return QStringLiteral("--serial \"%1\": not COMn, a device path, or a port under /dev/serial/by-id or "
                                  "/dev (tarvo-cli ports lists them)")
                .arg(*o.serial);
        s.link.comPort = *port;
        s.serial = true;
    }
    if (o.tcpHost) {
        s.link.host = *o.tcpHost;
        s.link.tcpPort = *o.tcpPort;
        s.link.transport = o.udp ? Transport::Udp : Transport::Tcp;
        s.serial = false;
    }
    if (o.mbap) {
        if (s.serial && o.command != Subcommand::Frame)
            return QStringLiteral("--mbap frames a network link: give --tcp or --udp");
        s.link.framing = NetFraming::Mbap;
    }
    // The protocol before the speed: choosing Modbus sets 9600, as on the console, and --speed wins.
    if (o.protocol) {
        s.protocol = *o.protocol;
        if (*o.protocol == Protocol::Modbus)
            s.speed = QStringLiteral("9600");
    }
    if (o.speed)
        s.speed = QString::number(*o.speed);
    // The serial line beyond its speed, as the console keeps it (Tarvo.ini beside a --config).
    if (o.line) {
        const bool rtsCts = s.link.line.rtsCts; // --flow's, not --line's
        s.link.line = *o.line;
        s.link.line.rtsCts = rtsCts;
    }
    if (o.rtsCts)
        s.link.line.rtsCts = *o.rtsCts;
    s.link.rs485.enabled = s.link.rs485.enabled || o.rs485;
    s.link.dropEcho = s.link.dropEcho || o.dropEcho;
    s.link.lowLatency = s.link.lowLatency || o.lowLatency;
    if (o.code)
        s.customerCode = *o.code;
    if (o.passphrase) {
        s.encrypt = true;
        s.password = *o.passphrase;
    }
    s.ackReq = s.ackReq || o.ack;
    s.respReq = s.respReq || o.resp;
    if (o.query)
        s.query = *o.query;
    if (!o.commands.isEmpty())
        s.commands = o.commands.join(QStringLiteral("\r\n"));
    // A census has a time-out of its own (its plan's); the settings' stays the link's connect wait.
    if (o.timeoutMs && o.command != Subcommand::Scan)
        s.timeoutMs = *o.timeoutMs;
    if (o.settleMs)
        s.waitingMs = *o.settleMs;
    if (o.scanDelayMs)
        s.scanMs = *o.scanDelayMs;
    s.tries = o.tries;

    // A delay of the --config that is no number, where it is waited on and no option replaces it: the
    // connect wait of a TCP link, the exchanges' settle and pacing.
    const bool exchanges = o.command != Subcommand::Monitor && o.command != Subcommand::Frame;
    const bool connects = o.command != Subcommand::Frame && !s.serial;
    if (!plan.badTimeout.isEmpty() && !(o.timeoutMs && o.command != Subcommand::Scan) &&
        ((exchanges && o.command != Subcommand::Scan) || connects))
        return plan.badTimeout;
    if (!plan.badSettle.isEmpty() && !o.settleMs && exchanges)
        return plan.badSettle;
    if (!plan.badScanDelay.isEmpty() && !o.scanDelayMs && exchanges)
        return plan.badScanDelay;

    if (o.command == Subcommand::Monitor)
        return std::nullopt; // it sends nothing: no address, no function
    // Modbus TCP frames carry Modbus PDUs and nothing else (the framing may come from the --config's
    // Tarvo.ini too).
    if (s.link.framing == NetFraming::Mbap && (!s.serial || o.mbap) && s.protocol != Protocol::Modbus)
        return QStringLiteral("Modbus TCP framing (--mbap) carries Modbus requests only, and the protocol is %1: "
                              "give --protocol modbus, or leave --mbap out")
            .arg(protocolWord(s.protocol));

    plan.function = o.function.value_or(s.function.value_or(fn::ReadInput));
    s.function = plan.function;
    if (o.command == Subcommand::Scan || o.command == Subcommand::Run)
        return std::nullopt; // a census asks its own addresses through a slot of its own; a plan's steps name theirs

    if (!o.addresses.isEmpty())
        s.selectAddresses(o.addresses);
    if (o.command == Subcommand::Frame && plan.function == fn::Waiting)
        return QStringLiteral("--function listen sends nothing: there is no frame to show");
    if (plan.settings.selectedSlots().isEmpty() && plan.function != fn::Waiting)
        return QStringLiteral("no address: give --address A (or a --config with selected slots)");

    if (o.command == Subcommand::ReadMemory) {
        MemoryPanel& m = s.memory;
        m.page = o.page.value_or(m.page);
        m.address = o.firstAddress.value_or(m.address);
        m.records = o.records.value_or(m.records);
        m.recordSize = o.recordSize.value_or(m.recordSize);
        if (const auto problem = memdump::panelProblem(m.page, m.address, m.records, m.recordSize))
            return *problem;
    }
    return std::nullopt;
}

std::optional<QString> bioscryptProblem(Protocol protocol, const QString& function, const QString& commands)
{
    if (protocol != Protocol::Bioscrypt || function == fn::Waiting)
        return std::nullopt;
    // The console sends these as they are built, its warning beside them; a script would take the
    // frame for a command the reader understood.
    if (function != fn::SendCommand)
        return QStringLiteral("a Bioscrypt reader takes command lines only (--command HEX): this function's request "
                              "is none of its commands; nothing was sent");
    for (const QString& line : commandTextLines(commands)) {
        RequestSettings s;
        s.protocol = Protocol::Bioscrypt;
        try {
            const std::optional<CommandLine> cl = commandLine(line, s);
            if (cl && !cl->warning.isEmpty())
                return QStringLiteral("--command %1: %2; nothing was sent").arg(cl->commandText, cl->warning);
        } catch (const TarvoError&) {
            // Refused with its own reason where the request is built.
        }
    }
    return std::nullopt;
}

std::optional<QString> requestProblem(const Plan& plan, int& sentWidth)
{
    const FixedSettings& s = plan.settings;
    if (plan.function == fn::Waiting)
        return std::nullopt;
    if (auto problem = bioscryptProblem(s.protocol(), plan.function, s.commands()))
        return problem;
    for (int slot : s.selectedSlots()) {
        const RequestSettings r = s.request(slot);
        try {
            const QList<CallRequest> requests = callRequests(r, plan.function, s.query(), s.commands());
            if (requests.isEmpty() && plan.function == fn::SendCommand)
                return QStringLiteral("--function command: no command to send (give --command HEX)");
            for (const CallRequest& request : requests) {
                const int width = static_cast<int>(spacedHex(frameToBytes(frameRequest(request.text, r))).size());
                sentWidth = std::max(sentWidth, width);
            }
        } catch (const TarvoError& e) {
            return e.description();
        }
    }
    return std::nullopt;
}

void CliTrace::write(const QString& line)
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

BusRun::BusRun(const Options& o) : options(o), progress(::isatty(STDERR_FILENO) == 1), m_trace(o.verbose) {}

BusRun::~BusRun() = default;

std::optional<QString> BusRun::openJournal()
{
    if (options.journal.isEmpty())
        return std::nullopt;
    QString error;
    if (!m_journal.open(options.journal, &error))
        return QStringLiteral("--journal: %1").arg(error);
    // Reported once; the exchanges go on, as in the console.
    m_journal.onFailure = [](const QString& problem) { say(problem); };
    m_core->journal.addSink(&m_journal);
    return std::nullopt;
}

void BusRun::closeJournal()
{
    flushJournal();
    m_journal.close();
}

void BusRun::stopAll()
{
    m_stop.request_stop();
    m_core->polling.stop();
    m_core->memoryRead.requestAbort();
    m_core->census.stop();
}

int BusRun::exec(const std::function<std::optional<QString>()>& prepare, const std::function<int()>& body)
{
    QTemporaryDir work(QDir::tempPath() + QStringLiteral("/tarvo-cli-XXXXXX"));
    if (!work.isValid()) {
        say(QStringLiteral("cannot create a work folder: %1").arg(work.errorString()));
        return status::kUsage;
    }
    std::optional<QString> problem = makePlan(options, plan);
    if (!problem) {
        const Seams seams{
            clock, pump, m_trace, m_prompter, nullptr, [this](const SettingsSource& settings) -> std::unique_ptr<Link> {
                const Seams plain{clock, pump, m_trace, m_prompter, nullptr, {}};
                auto link =
                    std::make_unique<WatchedLink>(Core::consoleLink(settings, plain), clock, pump, m_stop.get_token());
                m_link = link.get();
                return link;
            }};
        m_core = std::make_unique<Core>(seams, plan.settings);
        m_collector = std::make_unique<ResultCollector>(clock);
        m_core->engine.addObserver(m_collector.get());
        m_core->census.addObserver(&m_core->journal);
        m_core->memoryRead.openViewer = nullptr;
        if (prepare)
            problem = prepare();
    }
    if (!problem)
        problem = openJournal();
    if (problem) {
        say(*problem);
        return status::kUsage;
    }

    m_trace.beforeWrite = [this] { progress.clear(); };
    m_link->onDown = [this] { stopAll(); };
    m_signalWatch = watchTerminationSignals([this] {
        m_interrupted = true;
        stopAll();
    });

    const QString startedIn = QDir::currentPath();
    QDir::setCurrent(work.path());
    const int code = body();
    QDir::setCurrent(startedIn);
    return code;
}

void BusRun::sayLinkDown()
{
    const ExchangeSettings& s = plan.settings.value;
    const QString what = s.serial ? QStringLiteral("the serial port %1").arg(s.link.comPort)
                                  : QStringLiteral("%1:%2").arg(s.link.host, s.link.tcpPort);
    if (m_link->lost())
        say(QStringLiteral("the link to %1 was lost and could not be opened again").arg(what));
    else {
        // A serial port's reason is in its trace line already; a TCP client's comes as a note.
        for (const QString& note : m_link->takeNotes())
            say(note);
        say(QStringLiteral("cannot open the link to %1").arg(what));
    }
}

int BusRun::finish(const Tally& tally)
{
    if (const std::optional<int> early = close(tally.total > 0 ? tally.line() : QString()))
        return *early;
    return tally.exitStatus();
}

std::optional<int> BusRun::close(const QString& summary)
{
    closeJournal();
    progress.clear();
    if (options.format == Format::Text && !summary.isEmpty())
        say(summary);
    if (m_interrupted) {
        say(QStringLiteral("interrupted"));
        return status::kInterrupted;
    }
    if (m_link->down()) {
        sayLinkDown();
        return status::kLinkDown;
    }
    return std::nullopt;
}

} // namespace tarvo::cli
