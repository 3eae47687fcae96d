#include "CliOptions.h"
#include "Number.h"

#include "AddressList.h"
#include "Requests.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <algorithm>
#include <iterator>

namespace tarvo::cli {

namespace {

// ---------------------------------------------------------------------------------------------------
// The subcommands: name, summary and exit statuses, in the order the general help lists them.

const char* const kExitStatuses =
    "Exit status:\n"
    "  0    every address answered and every checked reply passed its check\n"
    "  1    at least one address did not answer (and no reply failed its check)\n"
    "  2    at least one reply failed its check value\n"
    "  3    the link could not be opened, or was lost and not regained\n"
    "  4    at least one controller answered with a Modbus exception (and no reply failed its check)\n"
    "  64   bad usage (unknown option, bad address, a request the protocol refuses or warns about): nothing was "
    "sent\n"
    "  130  interrupted by SIGINT or SIGTERM: what was done so far is printed, the journal closed\n";
const char* const kFrameExitStatuses =
    "Exit status:\n"
    "  0    the frames were built (nothing is sent)\n"
    "  64   bad usage, or a request the protocol refuses (the refusal on standard error)\n";
const char* const kCheckExitStatuses =
    "Exit status:\n"
    "  0    the check value is right (or the protocol has none: unchecked)\n"
    "  2    the check value is wrong\n"
    "  64   bad usage, text that is not hexadecimal, or bytes that are not a frame of the protocol\n";
const char* const kMonitorExitStatuses =
    "Exit status:\n"
    "  0    listened as asked, and no frame failed its check value\n"
    "  2    at least one frame failed its check value\n"
    "  3    the link could not be opened, or was lost and not regained\n"
    "  64   bad usage: nothing was listened to\n"
    "  130  interrupted by SIGINT or SIGTERM (the usual end without --count or --duration): the frames so far "
    "are printed, the journal closed\n";

const char* const kReportExitStatuses =
    "Exit status:\n"
    "  0    the report was written (whether the controllers passed is in the report)\n"
    "  3    a journal or the census could not be read: missing, not a journal, or a row that cannot be read "
    "(named with its line on standard error); no report was written\n"
    "  64   bad usage: no --journal, no --output, or an --output that exists already\n\n"
    "The report is written whether or not the controllers meet the marks: its verdict is inside.\n";

const char* const kRunExitStatuses =
    "Exit status:\n"
    "  0    every step passed\n"
    "  3    the link could not be opened, or was lost and not regained; or the --junit file could not be written\n"
    "  5    at least one step did not meet its expectation\n"
    "  64   bad usage, or a mistake in the plan (each named with its line and column): nothing was sent\n"
    "  130  interrupted by SIGINT or SIGTERM: the steps so far are printed and in the --junit file, the journal "
    "closed\n\n"
    "Settings: a --config (or the --site's Tarvo.cfg) first, then the plan's [link], [protocol] and [timing]\n"
    "tables, then the options above.\n";

struct SubcommandRow {
    Subcommand command;
    const char* name;
    const char* summary;
    const char* exits; // nullptr: no statuses worth a section
};

constexpr SubcommandRow kSubcommands[] = {
    {Subcommand::Send, "send", "One exchange with each address, as the console's Send One Time does it.",
     kExitStatuses},
    {Subcommand::Poll, "poll", "Rounds of exchanges with the addresses, until --count or --duration.", kExitStatuses},
    {Subcommand::ReadMemory, "read-memory", "The console's memory read of each address, the dump written to --output.",
     kExitStatuses},
    {Subcommand::Scan, "scan", "Bus census: one request to every address of --range (at every --speeds).",
     kExitStatuses},
    {Subcommand::Ports, "ports", "The serial ports of this machine, with what the system knows of each.", nullptr},
    {Subcommand::Frame, "frame", "The frames send would put on the wire, one a line; with --explain, their fields.",
     kFrameExitStatuses},
    {Subcommand::Check, "check", "Checks the check value of a frame given in hexadecimal (request or reply).",
     kCheckExitStatuses},
    {Subcommand::Monitor, "monitor",
     "Listens to a bus without sending: every frame heard, with its time and check verdict.", kMonitorExitStatuses},
    {Subcommand::Report, "report",
     "The commissioning report of journal files: one HTML page, each controller against the pass marks.",
     kReportExitStatuses},
    {Subcommand::Run, "run",
     "Runs a test plan (PLAN.toml): named steps with expectations, one record per step and address; --junit for CI.",
     kRunExitStatuses},
};

constexpr bool subcommandsInOrder()
{
    for (size_t i = 0; i < std::size(kSubcommands); ++i) {
        if (kSubcommands[i].command != static_cast<Subcommand>(i))
            return false;
    }
    return true;
}
static_assert(subcommandsInOrder(), "one row per subcommand, in the enumeration's order");

const SubcommandRow& rowOf(Subcommand command)
{
    return kSubcommands[static_cast<size_t>(command)];
}

// "send, poll, read-memory, ...": what a message offers when the command is missing or unknown.
QString commandNames()
{
    QStringList names;
    for (const SubcommandRow& s : kSubcommands)
        names << QLatin1String(s.name);
    return names.join(QStringLiteral(", "));
}

// ---------------------------------------------------------------------------------------------------
// Reading values.

struct FunctionWord {
    const char* word;
    const QString& function;
};
const QList<FunctionWord>& functionWords()
{
    static const QList<FunctionWord> words = {
        {"read-input", fn::ReadInput},
        {"read-buffer", fn::ReadBuffer},
        {"read-buffer-100", fn::ReadBuffer100},
        {"read-buffer-110", fn::ReadBuffer110},
        {"query", fn::SendQuery},
        {"command", fn::SendCommand},
        {"listen", fn::Waiting},
    };
    return words;
}

// Digits only, from low to high.
std::optional<int> wholeNumber(const QString& text, int low, int high)
{
    const QString t = text.trimmed();
    if (t.isEmpty() || t.size() > 9)
        return std::nullopt;
    for (const QChar c : t) {
        if (!c.isDigit() || c.unicode() > '9')
            return std::nullopt;
    }
    const int n = t.toInt();
    if (n < low || n > high)
        return std::nullopt;
    return n;
}

// ---------------------------------------------------------------------------------------------------
// The options.

// The name the parser knows an option by.
QString longName(Opt key);

// One option as the command line gave it, for the reader of its value. An option the subcommand does
// not take reads as not given (the parser has refused it already when it was typed).
class Arg {
public:
    Arg(const QCommandLineParser& parser, const QList<Opt>& taken, Subcommand command, Opt key)
        : m_parser(parser), m_taken(taken), m_command(command), m_key(key)
    {
    }
    bool isSet() const { return isSet(m_key); }
    QString name() const { return longName(m_key); }
    QString value() const { return isSet() ? m_parser.value(longName(m_key)) : QString(); }
    QStringList values() const { return isSet() ? m_parser.values(longName(m_key)) : QStringList(); }
    Subcommand command() const { return m_command; }
    // Another option of the same command line, for the rules between two options.
    bool isSet(Opt other) const { return m_taken.contains(other) && m_parser.isSet(longName(other)); }

private:
    const QCommandLineParser& m_parser;
    const QList<Opt>& m_taken;
    Subcommand m_command;
    Opt m_key;
};

// What is wrong with an option's value; nothing when it is fine.
using Problem = std::optional<QString>;

// Takes the option's value into the options. It runs for every option the subcommand takes, given or
// not, so that a default or a requirement lives with its option.
using Reader = Problem (*)(const Arg& arg, Options& options);

// "HOST:PORT" (an IPv6 host in brackets) as the host and the port's text; nothing when either is
// missing or the port is no port number.
std::optional<std::pair<QString, QString>> splitHostPort(const QString& text)
{
    const QString t = text.trimmed();
    const qsizetype colon = t.lastIndexOf(QLatin1Char(':'));
    QString host = colon < 0 ? QString() : t.left(colon);
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    const QString port = colon < 0 ? QString() : t.mid(colon + 1);
    if (host.isEmpty() || !wholeNumber(port, 1, 65535))
        return std::nullopt;
    return std::pair{host, port};
}

// The help of an option where one subcommand needs other words for it.
struct HelpVariant {
    Subcommand command = Subcommand::Send;
    const char* text = nullptr;
};

struct OptionRow {
    Opt key;
    const char* shortName; // nullptr: none
    const char* name;
    const char* valueName; // nullptr: a switch
    const char* help;
    HelpVariant variants[2];
    Reader read;
};

Problem milliseconds(const Arg& a, std::optional<int>& into)
{
    if (!a.isSet())
        return std::nullopt;
    into = wholeNumber(a.value(), 0, 600000);
    if (!into)
        return QStringLiteral("--%1 \"%2\": milliseconds, 0 to 600000").arg(a.name(), a.value());
    return std::nullopt;
}

Problem memoryValue(const Arg& a, std::optional<QString>& into)
{
    // Checked and converted by the memory read itself, with its own messages.
    if (a.isSet())
        into = a.value();
    return std::nullopt;
}

QString countedThings(Subcommand command)
{
    return command == Subcommand::Monitor ? QStringLiteral("frames") : QStringLiteral("rounds");
}

constexpr OptionRow kOptions[] = {
    {Opt::Help, "h", "help", nullptr, "This text.", {}, [](const Arg&, Options&) -> Problem { return {}; }},
    {Opt::Format,
     nullptr,
     "format",
     "text|csv|json",
     "Output: text (default, for people), csv, or json (JSON Lines).",
     {},
     [](const Arg& a, Options& o) -> Problem {
         if (!a.isSet())
             return {};
         const QString f = a.value().toLower();
         if (f == QLatin1String("text"))
             o.format = Format::Text;
         else if (f == QLatin1String("csv"))
             o.format = Format::Csv;
         else if (f == QLatin1String("json"))
             o.format = Format::Json;
         else
             return QStringLiteral("--format \"%1\": text, csv or json").arg(a.value());
         return {};
     }},
    {Opt::Verbose,
     "v",
     "verbose",
     nullptr,
     "Every step of the link on standard error, not only its failures.",
     {},
     [](const Arg& a, Options& o) -> Problem {
         o.verbose = a.isSet();
         return {};
     }},
    {Opt::Serial,
     nullptr,
     "serial",
     "port",
     "Serial link: COMn (as the console: TARVO_COMn, else /dev/ttyS<n-1>), a device path, or a name under "
     "/dev/serial/by-id.",
     {},
     [](const Arg& a, Options& o) -> Problem {
         if (!a.isSet())
             return {};
         if (a.isSet(Opt::Tcp) || a.isSet(Opt::Udp))
             return QStringLiteral("--serial and --%1: one link at a time")
                 .arg(a.isSet(Opt::Tcp) ? QStringLiteral("tcp") : QStringLiteral("udp"));
         if (a.value().trimmed().isEmpty())
             return QStringLiteral("--serial: a port name is missing");
         o.serial = a.value().trimmed();
         return {};
     }},
    {Opt::Speed,
     nullptr,
     "speed",
     "bps",
     "Serial speed in bit/s (Modbus sets 9600, as the console).",
     {},
     [](const Arg& a, Options& o) -> Problem {
         if (!a.isSet())
             return {};
         o.speed = wholeNumber(a.value(), 1, 4000000);
         if (!o.speed)
             return QStringLiteral("--speed \"%1\": a speed in bit/s, e.g. 9600").arg(a.value());
         return {};
     }},
    {Opt::Line,
     nullptr,
     "line",
     "format",
     "Serial character format, e.g. 8N2 (the console's), 8E1, 7O1.",
     {},
     [](const Arg& a, Options& o) -> Problem {
         if (!a.isSet())
             return {};
         o.line = LineFormat::parse(a.value());
         if (!o.line)
             return QStringLiteral("--line \"%1\": data bits, parity and stop bits, e.g. 8N2 or 8E1").arg(a.value());
         return {};
     }},
    {Opt::Flow,
     nullptr,
     "flow",
     "none|rtscts",
     "Serial flow control: none (the console's) or rtscts.",
     {},
     [](const Arg& a, Options& o) -> Problem {
         if (!a.isSet())
             return {};
         const QString f = a.value().trimmed().toLower();
         if (f != QLatin1String("none") && f != QLatin1String("rtscts"))
             return QStringLiteral("--flow \"%1\": none or rtscts").arg(a.value());
         o.rtsCts = f == QLatin1String("rtscts");
         return {};
     }},
    {Opt::Rs485,
     nullptr,
     "rs485",
     nullptr,
     "Two-wire RS-485: the transmitter is switched around each frame (RTS high while sending; the driver's "
     "RS-485 mode where it has one).",
     {},
     [](const Arg& a, Options& o) -> Problem {
         o.rs485 = a.isSet();
         return {};
     }},
    {Opt::DropEcho,
     nullptr,
     "drop-echo",
     nullptr,
     "The adapter hears its own frames: drop that echo before the reply is counted.",
     {},
     [](const Arg& a, Options& o) -> Problem {
         o.dropEcho = a.isSet();
         return {};
     }},
    {Opt::LowLatency,
     nullptr,
     "low-latency",
     nullptr,
     "Ask the adapter's driver to hand over received bytes at once (USB latency timer).",
     {},
     [](const Arg& a, Options& o) -> Problem {
         o.lowLatency = a.isSet();
         return {};
     }},
    {Opt::Tcp,
     nullptr,
     "tcp",
     "host:port",
     "TCP link to HOST:PORT.",
     {},
     [](const Arg& a, Options& o) -> Problem {
         if (!a.isSet())
             return {};
         const auto hostPort = splitHostPort(a.value());
         if (!hostPort)
             return QStringLiteral("--tcp \"%1\": expected HOST:PORT, e.g. 192.168.1.20:1001").arg(a.value().trimmed());
         o.tcpHost = hostPort->first;
         o.tcpPort = hostPort->second;
         return {};
     }},
    {Opt::Udp,
     nullptr,
     "udp",
     "host:port",
     "UDP link to HOST:PORT: one datagram per request, one per reply.",
     {},
     [](const Arg& a, Options& o) -> Problem {
         if (!a.isSet())
             return {};
         if (a.isSet(Opt::Tcp))
             return QStringLiteral("--tcp and --udp: one link at a time");
         const auto hostPort = splitHostPort(a.value());
         if (!hostPort)
             return QStringLiteral("--udp \"%1\": expected HOST:PORT, e.g. 192.168.1.20:502").arg(a.value().trimmed());
         o.tcpHost = hostPort->first;
         o.tcpPort = hostPort->second;
         o.udp = true;
         return {};
     }},
    {Opt::Mbap,
     nullptr,
     "mbap",
     nullptr,
     "Modbus TCP framing on --tcp or --udp: the MBAP header (unit id = address + 1) instead of the RTU address "
     "and CRC. Modbus only.",
     {{Subcommand::Frame,
       "Build Modbus TCP frames (the MBAP header, transaction ids counting from 1) instead of RTU frames."},
      {Subcommand::Check, "The frame is a Modbus TCP frame: its MBAP header is checked instead of a CRC."}},
     [](const Arg& a, Options& o) -> Problem {
         o.mbap = a.isSet();
         return {};
     }},
    {Opt::Protocol,
     nullptr,
     "protocol",
     "name",
     "modbus, p4, p4plus, customer, bioscrypt or none.",
     {},
     [](const Arg& a, Options& o) -> Problem {
         if (!a.isSet()) {
             if (a.command() == Subcommand::Check) {
                 // A Modbus TCP frame carries Modbus and nothing else.
                 if (o.mbap) {
                     o.protocol = Protocol::Modbus;
                     return {};
                 }
                 return QStringLiteral("--protocol is missing: the frame's protocol decides its check value");
             }
             return {};
         }
         o.protocol = protocolOfWord(a.value());
         if (!o.protocol)
             return QStringLiteral("--protocol \"%1\": modbus, p4, p4plus, customer, bioscrypt or none").arg(a.value());
         return {};
     }},
    {Opt::Code,
     nullptr,
     "code",
     "hh",
     "Customer Protocol lead byte (default AA).",
     {},
     [](const Arg& a, Options& o) -> Problem {
         if (!a.isSet())
             return {};
         if (!isHexByte(a.value()))
             return QStringLiteral("--code \"%1\": one or two hexadecimal digits").arg(a.value());
         o.code = a.value();
         return {};
     }},
    {Opt::Encrypt,
     nullptr,
     "encrypt",
     "passphrase",
     "Protocol 4 / 4+ pass phrase: command bytes are combined with its first byte.",
     {{Subcommand::Check, "Protocol 4+: the pass phrase its sums include."},
      {Subcommand::Monitor, "Protocol 4+: the pass phrase its sums include."}},
     [](const Arg& a, Options& o) -> Problem {
         if (a.isSet())
             o.passphrase = a.value();
         return {};
     }},
    {Opt::Ack,
     nullptr,
     "ack",
     nullptr,
     "Bioscrypt: ask for an acknowledgement.",
     {},
     [](const Arg& a, Options& o) -> Problem {
         o.ack = a.isSet();
         return {};
     }},
    {Opt::Resp,
     nullptr,
     "resp",
     nullptr,
     "Bioscrypt: ask for a response.",
     {},
     [](const Arg& a, Options& o) -> Problem {
         o.resp = a.isSet();
         return {};
     }},
    {Opt::Gap,
     nullptr,
     "gap",
     "ms",
     "The silence that ends a frame, in ms (default 3.5 characters of the line, at least 1).",
     {},
     [](const Arg& a, Options& o) -> Problem {
         if (!a.isSet())
             return {};
         bool ok = false;
         const double gap = a.value().trimmed().toDouble(&ok);
         if (!ok || !(gap >= 1) || gap > 10000)
             return QStringLiteral("--gap \"%1\": milliseconds, 1 or more").arg(a.value());
         o.gapMs = gap;
         return {};
     }},
    {Opt::Explain,
     nullptr,
     "explain",
     nullptr,
     "Each frame's fields too.",
     {{Subcommand::Check, "The frame's fields too."}},
     [](const Arg& a, Options& o) -> Problem {
         o.explain = a.isSet();
         return {};
     }},
    {Opt::Address,
     nullptr,
     "address",
     "a",
     "Console address (0 to 65535), repeatable or a list: 5,6,9 or 1..4. At most 32, the console's slots (scan: "
     "any number).",
     {},
     [](const Arg& a, Options& o) -> Problem {
         for (const QString& text : a.values()) {
             QString why;
             const auto list = parseAddressList(text, &why);
             if (!list)
                 return QStringLiteral("--address: ") + why;
             for (int address : *list) {
                 if (!o.addresses.contains(address))
                     o.addresses.append(address);
             }
         }
         if (a.command() != Subcommand::Scan && o.addresses.size() > 32)
             return QStringLiteral("--address: %1 addresses; at most 32, one per console slot (scan takes any "
                                   "number)")
                 .arg(o.addresses.size());
         return {};
     }},
    {Opt::Function,
     nullptr,
     "function",
     "name",
     "read-input, read-buffer, read-buffer-100, read-buffer-110, query, command or listen (default: the "
     "--config's, else read-input).",
     {},
     [](const Arg& a, Options& o) -> Problem {
         if (!a.isSet())
             return {};
         o.function = functionOfWord(a.value());
         if (!o.function)
             return QStringLiteral("--function \"%1\": read-input, read-buffer, read-buffer-100, read-buffer-110, "
                                   "query, command or listen")
                 .arg(a.value());
         return {};
     }},
    {Opt::Query,
     nullptr,
     "query",
     "hh",
     "Query code for --function query (default 01).",
     {},
     [](const Arg& a, Options& o) -> Problem {
         if (!a.isSet())
             return {};
         if (!isHexByte(a.value()))
             return QStringLiteral("--query \"%1\": one or two hexadecimal digits").arg(a.value());
         o.query = a.value();
         return {};
     }},
    {Opt::Command,
     nullptr,
     "command",
     "hex",
     "Command for --function command, hexadecimal; repeat for more lines, one exchange each.",
     {},
     [](const Arg& a, Options& o) -> Problem {
         o.commands = a.values();
         if (!o.commands.isEmpty() && !o.function)
             o.function = fn::SendCommand;
         if (a.command() == Subcommand::Scan && o.function == fn::Waiting)
             return QStringLiteral("--function listen: a census asks; listening asks nobody");
         return {};
     }},
    {Opt::Timeout,
     nullptr,
     "timeout",
     "ms",
     "Reply time-out, TimeOutDelay (default 1500).",
     {{Subcommand::Scan, "Reply time-out (default 200)."}},
     [](const Arg& a, Options& o) { return milliseconds(a, o.timeoutMs); }},
    {Opt::Settle,
     nullptr,
     "settle",
     "ms",
     "Receive-buffer scanning delay, WaitingDelay (default 50).",
     {},
     [](const Arg& a, Options& o) { return milliseconds(a, o.settleMs); }},
    {Opt::ScanDelay,
     nullptr,
     "scan-delay",
     "ms",
     "Least time from one request to the next, Scan (default 1).",
     {},
     [](const Arg& a, Options& o) { return milliseconds(a, o.scanDelayMs); }},
    {Opt::Tries,
     nullptr,
     "tries",
     "n",
     "Sends per request, 1 to 3 (default 3, as the console).",
     {{Subcommand::Scan, "Sends per request, 1 to 3 (default 1)."}},
     [](const Arg& a, Options& o) -> Problem {
         if (!a.isSet()) {
             // A census waits briefly and does not insist.
             o.tries = a.command() == Subcommand::Scan ? 1 : 3;
             return {};
         }
         const auto tries = wholeNumber(a.value(), 1, 3);
         if (!tries)
             return QStringLiteral("--tries \"%1\": 1, 2 or 3").arg(a.value());
         o.tries = *tries;
         o.triesGiven = true;
         return {};
     }},
    {Opt::Config,
     nullptr,
     "config",
     "file",
     "Take link, protocol, timings and the selected slots from this Tarvo.cfg first; the options above then "
     "override.",
     {{Subcommand::Frame, "Take the protocol, its settings, the function and the selected slots from this "
                          "Tarvo.cfg first; the options above then override."},
      {Subcommand::Monitor, "Take the link and the protocol from this Tarvo.cfg first; the options above then "
                            "override."}},
     [](const Arg& a, Options& o) -> Problem {
         o.config = a.value();
         return {};
     }},
    {Opt::Journal,
     nullptr,
     "journal",
     "file",
     "Write every attempt to this journal CSV (a new file; an existing one is refused).",
     {{Subcommand::Monitor, "Write every frame to this journal CSV (a new file)."},
      {Subcommand::Report, "A journal CSV to report on; repeat it (or name more files after it) for several, "
                           "read in the order given."}},
     [](const Arg& a, Options& o) -> Problem {
         if (a.command() == Subcommand::Report) {
             o.journals = a.values();
             return {};
         }
         o.journal = a.value();
         return {};
     }},
    {Opt::Count,
     nullptr,
     "count",
     "n",
     "Rounds to run (listen: messages to hear).",
     {{Subcommand::Monitor, "Frames to hear, then stop."}},
     [](const Arg& a, Options& o) -> Problem {
         if (!a.isSet())
             return {};
         o.count = wholeNumber(a.value(), 1, 999999999);
         if (!o.count)
             return QStringLiteral("--count \"%1\": a number of %2, 1 or more")
                 .arg(a.value(), countedThings(a.command()));
         return {};
     }},
    {Opt::Duration,
     nullptr,
     "duration",
     "s",
     "Seconds to run; without --count or --duration a poll runs until interrupted.",
     {{Subcommand::Monitor, "Seconds to listen; without --count or --duration until interrupted."}},
     [](const Arg& a, Options& o) -> Problem {
         if (!a.isSet())
             return {};
         bool ok = false;
         const double s = a.value().trimmed().toDouble(&ok);
         if (!ok || !(s > 0) || s > 1e7)
             return QStringLiteral("--duration \"%1\": seconds, more than 0").arg(a.value());
         o.durationSeconds = s;
         return {};
     }},
    {Opt::Interval,
     nullptr,
     "interval",
     "ms",
     "Pause between rounds (default 0).",
     {},
     [](const Arg& a, Options& o) -> Problem {
         if (!a.isSet())
             return {};
         const auto interval = wholeNumber(a.value(), 0, 86400000);
         if (!interval)
             return QStringLiteral("--interval \"%1\": milliseconds").arg(a.value());
         o.intervalMs = *interval;
         return {};
     }},
    {Opt::Output,
     nullptr,
     "output",
     "file",
     "The dump file; required, never overwritten.",
     {{Subcommand::Report, "The report's HTML file; required, never overwritten."}},
     [](const Arg& a, Options& o) -> Problem {
         o.output = a.value();
         if (o.output.isEmpty())
             return a.command() == Subcommand::Report
                        ? QStringLiteral("--output FILE is required: where the report goes")
                        : QStringLiteral("--output FILE is required: where the dump goes");
         return {};
     }},
    {Opt::Page,
     nullptr,
     "page",
     "pp",
     "Page number (default 01).",
     {},
     [](const Arg& a, Options& o) { return memoryValue(a, o.page); }},
    {Opt::FirstAddress,
     nullptr,
     "first-address",
     "hex",
     "First address, hexadecimal (default 1e2c).",
     {},
     [](const Arg& a, Options& o) { return memoryValue(a, o.firstAddress); }},
    {Opt::Records,
     nullptr,
     "records",
     "n",
     "Number of records (default 99).",
     {},
     [](const Arg& a, Options& o) { return memoryValue(a, o.records); }},
    {Opt::RecordSize,
     nullptr,
     "record-size",
     "n",
     "Record size in bytes (default 12).",
     {},
     [](const Arg& a, Options& o) { return memoryValue(a, o.recordSize); }},
    {Opt::Range,
     nullptr,
     "range",
     "a..b",
     "Console addresses to ask, A..B (default 0..254).",
     {},
     [](const Arg& a, Options& o) -> Problem {
         if (!a.isSet())
             return {};
         if (!o.addresses.isEmpty())
             return QStringLiteral("--range and --address: one way of naming the addresses");
         QString why;
         const auto range = parseAddressRange(a.value(), &why);
         if (!range)
             return QStringLiteral("--range: ") + why;
         o.range = *range;
         return {};
     }},
    {Opt::Speeds,
     nullptr,
     "speeds",
     "list",
     "Serial speeds to try, each over the whole range: 9600,19200,38400.",
     {},
     [](const Arg& a, Options& o) -> Problem {
         if (!a.isSet())
             return {};
         QString why;
         const auto speeds = parseSpeedList(a.value(), &why);
         if (!speeds)
             return QStringLiteral("--speeds: ") + why;
         o.speeds = *speeds;
         if (o.tcpHost)
             return QStringLiteral("--speeds needs a serial link; TCP has no speed");
         return {};
     }},
    {Opt::Census,
     nullptr,
     "census",
     "file",
     "A census CSV (tarvo-cli scan --format csv, or the census dialog's export) for the report's census table.",
     {},
     [](const Arg& a, Options& o) -> Problem {
         o.census = a.value();
         return {};
     }},
    {Opt::Site,
     nullptr,
     "site",
     "dir",
     "The site folder: its Tarvo.cfg (with the Tarvo.ini beside it) unless --config is given, and the folder a "
     "relative --journal goes to.",
     {{Subcommand::Report, "The site folder: its Tarvo.cfg gives the link and protocol, its Tarvo.ini the site's "
                           "name, technician, slot names and pass marks."},
      {Subcommand::Run, "The site folder: its Tarvo.cfg (with the Tarvo.ini beside it) unless --config is given, "
                        "where a relative PLAN.toml is kept, and the folder a relative --journal goes to."}},
     [](const Arg& a, Options& o) -> Problem {
         o.site = a.value();
         return {};
     }},
    {Opt::Junit,
     nullptr,
     "junit",
     "file",
     "Write the results as JUnit XML (one testsuite, one testcase per step and address) for Jenkins or GitLab.",
     {},
     [](const Arg& a, Options& o) -> Problem {
         o.junit = a.value();
         if (a.isSet() && o.junit.isEmpty())
             return QStringLiteral("--junit: a file name is missing");
         return {};
     }},
};

constexpr bool optionsInOrder()
{
    if (std::size(kOptions) != kOptionCount)
        return false;
    for (size_t i = 0; i < std::size(kOptions); ++i) {
        if (kOptions[i].key != static_cast<Opt>(i))
            return false;
    }
    return true;
}
static_assert(optionsInOrder(), "every option declared once, in the enumeration's order");

const OptionRow& rowOf(Opt key)
{
    return kOptions[static_cast<size_t>(key)];
}

QString longName(Opt key)
{
    return QLatin1String(rowOf(key).name);
}

QString helpOf(const OptionRow& row, Subcommand command)
{
    for (const HelpVariant& v : row.variants) {
        if (v.text && v.command == command)
            return QLatin1String(v.text);
    }
    return QLatin1String(row.help);
}

// The parser of one subcommand, its options added from the table.
class SubcommandParser {
public:
    explicit SubcommandParser(Subcommand command) : m_command(command), m_taken(optionsOf(command))
    {
        m_parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
        m_parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsOptions);
        for (Opt key : std::as_const(m_taken)) {
            const OptionRow& row = rowOf(key);
            QStringList names;
            if (row.shortName)
                names << QLatin1String(row.shortName);
            names << QLatin1String(row.name);
            m_parser.addOption(QCommandLineOption(names, helpOf(row, command),
                                                  row.valueName ? QLatin1String(row.valueName) : QString()));
        }
        if (command == Subcommand::Report)
            m_parser.addPositionalArgument(QStringLiteral("journals"),
                                           QStringLiteral("More journal CSVs, after those of --journal."),
                                           QStringLiteral("[FILE...]"));
        if (command == Subcommand::Run)
            m_parser.addPositionalArgument(QStringLiteral("plan"), QStringLiteral("The test plan, a TOML file."),
                                           QStringLiteral("PLAN.toml"));
        if (command == Subcommand::Check)
            m_parser.addPositionalArgument(QStringLiteral("hex"),
                                           QStringLiteral("The frame: hexadecimal, two digits a byte, spaces allowed."),
                                           QStringLiteral("HEX..."));
    }

    QCommandLineParser& parser() { return m_parser; }
    bool helpAsked() const { return m_parser.isSet(longName(Opt::Help)); }

    // Every value the command takes, read in the options' order: what is wrong, or nothing.
    Problem read(Options& options) const
    {
        for (int i = 0; i < kOptionCount; ++i) {
            const Opt key = static_cast<Opt>(i);
            if (!m_taken.contains(key))
                continue;
            if (Problem problem = rowOf(key).read(Arg(m_parser, m_taken, m_command, key), options))
                return problem;
        }
        return std::nullopt;
    }

    QString help() const
    {
        const SubcommandRow& s = rowOf(m_command);
        QString text = m_parser.helpText();
        // Qt's first line names the program by its path; GNU tools name the subcommand too.
        text = text.mid(text.indexOf(QLatin1Char('\n')) + 1);
        const QString usage =
            QStringLiteral("Usage: tarvo-cli %1 [options]%2\n")
                .arg(QLatin1String(s.name), m_command == Subcommand::Run ? QStringLiteral(" PLAN.toml") : QString());
        return usage + QLatin1String(s.summary) + QLatin1Char('\n') + text +
               (s.exits ? QLatin1Char('\n') + QLatin1String(s.exits) : QString());
    }

private:
    Subcommand m_command;
    QList<Opt> m_taken;
    QCommandLineParser m_parser;
};

// check: the frame, given as hexadecimal arguments.
Problem readFrameBytes(const QStringList& arguments, Options& o)
{
    QString digits = arguments.join(QString());
    digits.remove(QLatin1Char(' ')).remove(QLatin1Char(','));
    if (digits.isEmpty())
        return QStringLiteral("the frame is missing: give it in hexadecimal, e.g. 01 03 00 00 00 02 C4 0B");
    if (digits.size() % 2 != 0 ||
        !std::all_of(digits.begin(), digits.end(), [](QChar c) { return isxdigit(c.toLatin1()); }))
        return QStringLiteral("\"%1\" is not hexadecimal, two digits a byte").arg(arguments.join(QLatin1Char(' ')));
    o.checkBytes = QByteArray::fromHex(digits.toLatin1());
    return std::nullopt;
}

Parsed answer(Parsed::Action action, const QString& text = {})
{
    Parsed p;
    p.action = action;
    p.text = text;
    return p;
}

Parsed usageError(const QString& text)
{
    return answer(Parsed::Action::Usage, text);
}

} // namespace

QList<Opt> optionsOf(Subcommand command)
{
    using O = Opt;
    const QList<Opt> link = {O::Serial,   O::Speed,      O::Line, O::Flow, O::Rs485,
                             O::DropEcho, O::LowLatency, O::Tcp,  O::Udp,  O::Mbap};
    // The monitor listens to a byte stream: no datagrams, no Modbus TCP.
    const QList<Opt> streamLink = {O::Serial, O::Speed, O::Line, O::Flow, O::Rs485, O::DropEcho, O::LowLatency, O::Tcp};
    const QList<Opt> request = {O::Protocol, O::Code, O::Encrypt, O::Ack, O::Resp, O::Address};
    const QList<Opt> call = {O::Function, O::Query, O::Command};
    const QList<Opt> timing = {O::Timeout, O::Settle, O::ScanDelay, O::Tries, O::Config, O::Journal, O::Site};
    const QList<Opt> common = {O::Help, O::Format, O::Verbose};
    switch (command) {
    case Subcommand::Send:
        return common + link + request + call + timing;
    case Subcommand::Poll:
        return common + link + request + call + timing + QList<Opt>{O::Count, O::Duration, O::Interval};
    case Subcommand::ReadMemory:
        return common + link + request + timing +
               QList<Opt>{O::Output, O::Page, O::FirstAddress, O::Records, O::RecordSize};
    case Subcommand::Scan:
        return common + link + request + call + timing + QList<Opt>{O::Range, O::Speeds};
    case Subcommand::Ports:
        return {O::Help, O::Format};
    case Subcommand::Frame:
        return QList<Opt>{O::Help, O::Format} + link + request + QList<Opt>{O::Explain} + call + QList<Opt>{O::Config};
    case Subcommand::Check:
        return {O::Help, O::Format, O::Protocol, O::Encrypt, O::Mbap, O::Explain};
    case Subcommand::Monitor:
        return common + streamLink +
               QList<Opt>{O::Protocol, O::Encrypt, O::Gap, O::Count, O::Duration, O::Config, O::Journal, O::Site};
    case Subcommand::Report:
        return {O::Help, O::Journal, O::Census, O::Site, O::Output};
    case Subcommand::Run: // the plan names the addresses and what each step sends
        return common + link + QList<Opt>{O::Protocol, O::Code, O::Encrypt, O::Ack, O::Resp} + timing +
               QList<Opt>{O::Junit};
    }
    return {};
}

const QHash<QString, Protocol>& protocolWords()
{
    static const QHash<QString, Protocol> words = {
        {QStringLiteral("modbus"), Protocol::Modbus},        {QStringLiteral("p4"), Protocol::Protocol4},
        {QStringLiteral("p4plus"), Protocol::Protocol4Plus}, {QStringLiteral("customer"), Protocol::Customer},
        {QStringLiteral("bioscrypt"), Protocol::Bioscrypt},  {QStringLiteral("none"), Protocol::None},
    };
    return words;
}

std::optional<Protocol> protocolOfWord(const QString& word)
{
    const auto it = protocolWords().find(word.trimmed().toLower());
    if (it == protocolWords().end())
        return std::nullopt;
    return *it;
}

QString protocolWord(Protocol protocol)
{
    return protocolWords().key(protocol);
}

std::optional<QString> functionOfWord(const QString& word)
{
    for (const FunctionWord& f : functionWords()) {
        if (word.trimmed().toLower() == QLatin1String(f.word))
            return f.function;
    }
    return std::nullopt;
}

QString generalHelp()
{
    QString text = QStringLiteral(
        "Usage: tarvo-cli COMMAND [options]\n"
        "Talks to field controllers on a serial bus or over TCP the way the Tarvo console does, for scripts,\n"
        "test rigs and commissioning. Results go to standard output (one record per address and round),\n"
        "messages and progress to standard error.\n\n"
        "Commands:\n");
    for (const SubcommandRow& s : kSubcommands)
        text += QStringLiteral("  %1%2\n").arg(QString::fromLatin1(s.name).leftJustified(13), QLatin1String(s.summary));
    text += QStringLiteral("\n"
                           "  tarvo-cli COMMAND --help   the options of a command\n"
                           "  tarvo-cli --version        the version\n\n"
                           "Examples:\n"
                           "  tarvo-cli send --serial /dev/ttyUSB0 --protocol modbus --address 4 --function "
                           "read-buffer-100\n"
                           "  tarvo-cli poll --tcp 10.0.0.7:1001 --address 1..8 --count 100 --format csv\n"
                           "  tarvo-cli scan --serial COM1 --protocol modbus --range 0..246 --speeds 9600,19200\n"
                           "  tarvo-cli read-memory --config Tarvo.cfg --output site4.mem\n"
                           "  tarvo-cli report --site ~/sites/north --journal journal-*.csv --output north.html\n"
                           "  tarvo-cli run plans/identify-p4.toml --serial /dev/ttyUSB0 --junit results.xml\n\n");
    // A test plan's failed expectation has a status of its own, between the verdicts' and usage.
    return text + QString::fromLatin1(kExitStatuses)
                      .replace(QStringLiteral("  64 "), QStringLiteral("  5    run: at least one step of the test plan "
                                                                       "did not meet its expectation\n  64 "));
}

Parsed parse(const QStringList& arguments)
{
    const QStringList args = arguments.mid(1);
    if (args.isEmpty())
        return usageError(QStringLiteral("a command is missing (%1); see --help").arg(commandNames()));
    const QString& first = args.constFirst();
    if (first == QLatin1String("--help") || first == QLatin1String("-h") || first == QLatin1String("help"))
        return answer(Parsed::Action::Help, generalHelp());
    if (first == QLatin1String("--version"))
        return answer(Parsed::Action::Version);
    const auto sub = std::find_if(std::begin(kSubcommands), std::end(kSubcommands),
                                  [&first](const SubcommandRow& s) { return first == QLatin1String(s.name); });
    if (sub == std::end(kSubcommands))
        return usageError(QStringLiteral("unknown command \"%1\" (%2)").arg(first, commandNames()));

    SubcommandParser p(sub->command);
    QStringList forParser = args.mid(1);
    forParser.prepend(QStringLiteral("tarvo-cli"));
    if (!p.parser().parse(forParser))
        return usageError(p.parser().errorText());
    if (p.helpAsked())
        return answer(Parsed::Action::Help, p.help());
    const QStringList positional = p.parser().positionalArguments();
    const bool takesFiles = sub->command == Subcommand::Check || sub->command == Subcommand::Report;
    if (!takesFiles && positional.size() > (sub->command == Subcommand::Run ? 1 : 0))
        return usageError(QStringLiteral("unexpected argument \"%1\"")
                              .arg(positional.value(sub->command == Subcommand::Run ? 1 : 0)));

    Parsed parsed = answer(Parsed::Action::Run);
    Options& o = parsed.options;
    o.command = sub->command;
    if (Problem problem = p.read(o))
        return usageError(*problem);
    if (o.command == Subcommand::Check) {
        if (Problem problem = readFrameBytes(positional, o))
            return usageError(*problem);
    }
    if (o.command == Subcommand::Run) {
        if (positional.isEmpty())
            return usageError(QStringLiteral("the plan is missing: tarvo-cli run PLAN.toml"));
        o.planFile = positional.first();
    }
    // A site folder stands for the working folder of a console started there: its settings, unless
    // --config names others, and its journals.
    if (!o.site.isEmpty() && o.command != Subcommand::Report) {
        const QDir site(o.site);
        if (!QFileInfo(o.site).isDir())
            return usageError(QStringLiteral("--site %1: no such folder").arg(o.site));
        if (o.config.isEmpty() && site.exists(QStringLiteral("Tarvo.cfg")))
            o.config = site.filePath(QStringLiteral("Tarvo.cfg"));
        if (!o.journal.isEmpty() && QFileInfo(o.journal).isRelative())
            o.journal = site.filePath(o.journal);
        // The site's plans are kept in its folder.
        if (o.command == Subcommand::Run && QFileInfo(o.planFile).isRelative() && !QFileInfo::exists(o.planFile))
            o.planFile = site.filePath(o.planFile);
    }
    if (o.command == Subcommand::Report) {
        o.journals += positional; // --journal a.csv b.csv: the shell's glob after one --journal
        if (o.journals.isEmpty())
            return usageError(QStringLiteral("--journal FILE is required: the journal to report on"));
    }
    return parsed;
}

} // namespace tarvo::cli
