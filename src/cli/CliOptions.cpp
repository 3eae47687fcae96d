#include "CliOptions.h"

#include "AddressList.h"
#include "Requests.h"

#include <QCommandLineParser>
#include <QHash>
#include <QSet>
#include <algorithm>
#include <functional>

namespace tarvo::clitool {

namespace {

const QString kFrameExitStatuses =
    QStringLiteral("Exit status:\n"
                   "  0    the frames were built (nothing is sent)\n"
                   "  64   bad usage, or a request the protocol refuses (the refusal on standard error)\n");
const QString kCheckExitStatuses =
    QStringLiteral("Exit status:\n"
                   "  0    the check value is right (or the protocol has none: unchecked)\n"
                   "  2    the check value is wrong\n"
                   "  64   bad usage, text that is not hexadecimal, or bytes that are not a frame of the protocol\n");
const QString kMonitorExitStatuses =
    QStringLiteral("Exit status:\n"
                   "  0    listened as asked, and no frame failed its check value\n"
                   "  2    at least one frame failed its check value\n"
                   "  3    the link could not be opened, or was lost and not regained\n"
                   "  64   bad usage: nothing was listened to\n"
                   "  130  interrupted by SIGINT or SIGTERM (the usual end without --count or --duration): the "
                   "frames so far are printed, the journal closed\n");

const QString kExitStatuses =
    QStringLiteral("Exit status:\n"
                   "  0    every address answered and every checked reply passed its check\n"
                   "  1    at least one address did not answer (and no reply failed its check)\n"
                   "  2    at least one reply failed its check value\n"
                   "  3    the link could not be opened, or was lost and not regained\n"
                   "  64   bad usage (unknown option, bad address, a request the protocol refuses): nothing was sent\n"
                   "  130  interrupted by SIGINT or SIGTERM: what was done so far is printed, the journal closed\n");

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

std::optional<Protocol> protocolOfWord(const QString& word)
{
    static const QHash<QString, Protocol> names = {
        {QStringLiteral("modbus"), Protocol::Modbus},        {QStringLiteral("p4"), Protocol::Protocol4},
        {QStringLiteral("p4plus"), Protocol::Protocol4Plus}, {QStringLiteral("customer"), Protocol::Customer},
        {QStringLiteral("bioscrypt"), Protocol::Bioscrypt},  {QStringLiteral("none"), Protocol::None},
    };
    const auto it = names.find(word.trimmed().toLower());
    if (it == names.end())
        return std::nullopt;
    return *it;
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

bool hexByte(const QString& text)
{
    if (text.isEmpty() || text.size() > 2)
        return false;
    for (const QChar c : text) {
        if (!isxdigit(c.toLatin1()))
            return false;
    }
    return true;
}

struct Description {
    Subcommand command;
    const char* name;
    const char* summary;
};
const QList<Description>& descriptions()
{
    static const QList<Description> list = {
        {Subcommand::Send, "send", "One exchange with each address, as the console's Send One Time does it."},
        {Subcommand::Poll, "poll", "Rounds of exchanges with the addresses, until --count or --duration."},
        {Subcommand::ReadMemory, "read-memory",
         "The console's memory read of each address, the dump written to --output."},
        {Subcommand::Scan, "scan", "Bus census: one request to every address of --range (at every --speeds)."},
        {Subcommand::Ports, "ports", "The serial ports of this machine, with what the system knows of each."},
        {Subcommand::Frame, "frame",
         "The frames send would put on the wire, one a line; with --explain, their fields."},
        {Subcommand::Check, "check", "Checks the check value of a frame given in hexadecimal (request or reply)."},
        {Subcommand::Monitor, "monitor",
         "Listens to a bus without sending: every frame heard, with its time and check verdict."},
    };
    return list;
}

class Builder {
public:
    explicit Builder(Subcommand command) : m_command(command)
    {
        m_parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
        m_parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsOptions);
        add({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("This text."));
        add({QStringLiteral("format")},
            QStringLiteral("Output: text (default, for people), csv, or json (JSON Lines)."),
            QStringLiteral("text|csv|json"));
        if (command == Subcommand::Ports)
            return;
        if (command == Subcommand::Check) {
            add({QStringLiteral("protocol")}, QStringLiteral("modbus, p4, p4plus, customer, bioscrypt or none."),
                QStringLiteral("name"));
            add({QStringLiteral("encrypt")}, QStringLiteral("Protocol 4+: the pass phrase its sums include."),
                QStringLiteral("passphrase"));
            add({QStringLiteral("explain")}, QStringLiteral("The frame's fields too."));
            m_parser.addPositionalArgument(QStringLiteral("hex"),
                                           QStringLiteral("The frame: hexadecimal, two digits a byte, spaces allowed."),
                                           QStringLiteral("HEX..."));
            return;
        }
        if (command != Subcommand::Frame)
            add({QStringLiteral("v"), QStringLiteral("verbose")},
                QStringLiteral("Every step of the link on standard error, not only its failures."));
        add({QStringLiteral("serial")},
            QStringLiteral("Serial link: COMn (as the console: TARVO_COMn, else /dev/ttyS<n-1>), a device path, or "
                           "a name under /dev/serial/by-id."),
            QStringLiteral("port"));
        add({QStringLiteral("speed")}, QStringLiteral("Serial speed in bit/s (Modbus sets 9600, as the console)."),
            QStringLiteral("bps"));
        add({QStringLiteral("line")}, QStringLiteral("Serial character format, e.g. 8N2 (the console's), 8E1, 7O1."),
            QStringLiteral("format"));
        add({QStringLiteral("flow")}, QStringLiteral("Serial flow control: none (the console's) or rtscts."),
            QStringLiteral("none|rtscts"));
        add({QStringLiteral("rs485")},
            QStringLiteral("Two-wire RS-485: the transmitter is switched around each frame (RTS high while "
                           "sending; the driver's RS-485 mode where it has one)."));
        add({QStringLiteral("drop-echo")},
            QStringLiteral("The adapter hears its own frames: drop that echo before the reply is counted."));
        add({QStringLiteral("low-latency")},
            QStringLiteral("Ask the adapter's driver to hand over received bytes at once (USB latency timer)."));
        add({QStringLiteral("tcp")}, QStringLiteral("TCP link to HOST:PORT."), QStringLiteral("host:port"));
        add({QStringLiteral("protocol")}, QStringLiteral("modbus, p4, p4plus, customer, bioscrypt or none."),
            QStringLiteral("name"));
        if (command == Subcommand::Monitor) {
            add({QStringLiteral("encrypt")}, QStringLiteral("Protocol 4+: the pass phrase its sums include."),
                QStringLiteral("passphrase"));

            add({QStringLiteral("gap")},
                QStringLiteral("The silence that ends a frame, in ms (default 3.5 characters of the line, at least "
                               "1)."),
                QStringLiteral("ms"));
            add({QStringLiteral("count")}, QStringLiteral("Frames to hear, then stop."), QStringLiteral("n"));
            add({QStringLiteral("duration")},
                QStringLiteral("Seconds to listen; without --count or --duration until interrupted."),
                QStringLiteral("s"));
            add({QStringLiteral("config")},
                QStringLiteral("Take the link and the protocol from this Tarvo.cfg first; the options above then "
                               "override."),
                QStringLiteral("file"));
            add({QStringLiteral("journal")}, QStringLiteral("Write every frame to this journal CSV (a new file)."),
                QStringLiteral("file"));
            return;
        }
        add({QStringLiteral("code")}, QStringLiteral("Customer Protocol lead byte (default AA)."),
            QStringLiteral("hh"));
        add({QStringLiteral("encrypt")},
            QStringLiteral("Protocol 4 / 4+ pass phrase: command bytes are combined with its first byte."),
            QStringLiteral("passphrase"));
        add({QStringLiteral("ack")}, QStringLiteral("Bioscrypt: ask for an acknowledgement."));
        add({QStringLiteral("resp")}, QStringLiteral("Bioscrypt: ask for a response."));
        add({QStringLiteral("address")},
            QStringLiteral("Console address (0 to 65535), repeatable or a list: 5,6,9 or 1..4. At most 32, the "
                           "console's slots (scan: any number)."),
            QStringLiteral("a"));
        if (command == Subcommand::Frame)
            add({QStringLiteral("explain")}, QStringLiteral("Each frame's fields too."));
        if (command != Subcommand::ReadMemory) {
            add({QStringLiteral("function")},
                QStringLiteral("read-input, read-buffer, read-buffer-100, read-buffer-110, query, command or listen "
                               "(default: the --config's, else read-input)."),
                QStringLiteral("name"));
            add({QStringLiteral("query")}, QStringLiteral("Query code for --function query (default 01)."),
                QStringLiteral("hh"));
            add({QStringLiteral("command")},
                QStringLiteral("Command for --function command, hexadecimal; repeat for more lines, one exchange "
                               "each."),
                QStringLiteral("hex"));
        }
        if (command == Subcommand::Frame) {
            add({QStringLiteral("config")},
                QStringLiteral("Take the protocol, its settings, the function and the selected slots from this "
                               "Tarvo.cfg first; the options above then override."),
                QStringLiteral("file"));
            return;
        }
        add({QStringLiteral("timeout")},
            command == Subcommand::Scan ? QStringLiteral("Reply time-out (default 200).")
                                        : QStringLiteral("Reply time-out, TimeOutDelay (default 1500)."),
            QStringLiteral("ms"));
        add({QStringLiteral("settle")}, QStringLiteral("Receive-buffer scanning delay, WaitingDelay (default 50)."),
            QStringLiteral("ms"));
        add({QStringLiteral("scan-delay")},
            QStringLiteral("Least time from one request to the next, Scan (default 1)."), QStringLiteral("ms"));
        add({QStringLiteral("tries")},
            command == Subcommand::Scan ? QStringLiteral("Sends per request, 1 to 3 (default 1).")
                                        : QStringLiteral("Sends per request, 1 to 3 (default 3, as the console)."),
            QStringLiteral("n"));
        add({QStringLiteral("config")},
            QStringLiteral("Take link, protocol, timings and the selected slots from this Tarvo.cfg first; the "
                           "options above then override."),
            QStringLiteral("file"));
        add({QStringLiteral("journal")},
            QStringLiteral("Write every attempt to this journal CSV (a new file; an existing one is refused)."),
            QStringLiteral("file"));
        switch (command) {
        case Subcommand::Poll:
            add({QStringLiteral("count")}, QStringLiteral("Rounds to run (listen: messages to hear)."),
                QStringLiteral("n"));
            add({QStringLiteral("duration")},
                QStringLiteral("Seconds to run; without --count or --duration a poll runs until interrupted."),
                QStringLiteral("s"));
            add({QStringLiteral("interval")}, QStringLiteral("Pause between rounds (default 0)."),
                QStringLiteral("ms"));
            break;
        case Subcommand::ReadMemory:
            add({QStringLiteral("output")}, QStringLiteral("The dump file; required, never overwritten."),
                QStringLiteral("file"));
            add({QStringLiteral("page")}, QStringLiteral("Page number (default 01)."), QStringLiteral("pp"));
            add({QStringLiteral("first-address")}, QStringLiteral("First address, hexadecimal (default 1e2c)."),
                QStringLiteral("hex"));
            add({QStringLiteral("records")}, QStringLiteral("Number of records (default 99)."), QStringLiteral("n"));
            add({QStringLiteral("record-size")}, QStringLiteral("Record size in bytes (default 12)."),
                QStringLiteral("n"));
            break;
        case Subcommand::Scan:
            add({QStringLiteral("range")}, QStringLiteral("Console addresses to ask, A..B (default 0..254)."),
                QStringLiteral("a..b"));
            add({QStringLiteral("speeds")},
                QStringLiteral("Serial speeds to try, each over the whole range: 9600,19200,38400."),
                QStringLiteral("list"));
            break;
        default:
            break;
        }
    }

    QCommandLineParser& parser() { return m_parser; }
    // An option the command does not take is simply not set (the parser itself would complain).
    bool isSet(const char* name) const { return known(name) && m_parser.isSet(QString::fromLatin1(name)); }
    QString value(const char* name) const
    {
        return known(name) ? m_parser.value(QString::fromLatin1(name)) : QString();
    }
    QStringList values(const char* name) const
    {
        return known(name) ? m_parser.values(QString::fromLatin1(name)) : QStringList();
    }
    bool known(const char* name) const { return m_names.contains(QString::fromLatin1(name)); }

    QString help() const
    {
        const Description& d = descriptions()[static_cast<int>(m_command)];
        QString text = m_parser.helpText();
        // Qt's first line names the program by its path; GNU tools name the subcommand too.
        text = text.mid(text.indexOf(QLatin1Char('\n')) + 1);
        QString usage = QStringLiteral("Usage: tarvo-cli %1 [options]\n").arg(QLatin1String(d.name));
        QString exits = kExitStatuses;
        if (m_command == Subcommand::Frame)
            exits = kFrameExitStatuses;
        else if (m_command == Subcommand::Check)
            exits = kCheckExitStatuses;
        else if (m_command == Subcommand::Monitor)
            exits = kMonitorExitStatuses;
        return usage + QLatin1String(d.summary) + QLatin1Char('\n') + text +
               (m_command == Subcommand::Ports ? QString() : QLatin1Char('\n') + exits);
    }

private:
    void add(const QStringList& names, const QString& description, const QString& valueName = {})
    {
        m_parser.addOption(QCommandLineOption(names, description, valueName));
        for (const QString& n : names)
            m_names.insert(n);
    }
    QSet<QString> m_names;

    Subcommand m_command;
    QCommandLineParser m_parser;
};

// --count and --duration of poll and monitor; what is wrong with them, or nothing.
std::optional<QString> readCountAndDuration(const Builder& b, const QString& counted, Options& o)
{
    if (b.isSet("count")) {
        o.count = wholeNumber(b.value("count"), 1, 999999999);
        if (!o.count)
            return QStringLiteral("--count \"%1\": a number of %2, 1 or more").arg(b.value("count"), counted);
    }
    if (b.isSet("duration")) {
        bool ok = false;
        const double s = b.value("duration").trimmed().toDouble(&ok);
        if (!ok || !(s > 0) || s > 1e7)
            return QStringLiteral("--duration \"%1\": seconds, more than 0").arg(b.value("duration"));
        o.durationSeconds = s;
    }
    return std::nullopt;
}

Parsed usageError(const QString& text)
{
    Parsed p;
    p.action = Parsed::Action::Usage;
    p.text = text;
    return p;
}

} // namespace

QString subcommandName(Subcommand command)
{
    return QLatin1String(descriptions()[static_cast<int>(command)].name);
}

std::optional<QString> functionOfWord(const QString& word)
{
    for (const FunctionWord& f : functionWords()) {
        if (word.trimmed().toLower() == QLatin1String(f.word))
            return f.function;
    }
    return std::nullopt;
}

QString wordOfFunction(const QString& functionName)
{
    for (const FunctionWord& f : functionWords()) {
        if (functionName == f.function)
            return QLatin1String(f.word);
    }
    return functionName;
}

QString generalHelp()
{
    QString text = QStringLiteral(
        "Usage: tarvo-cli COMMAND [options]\n"
        "Talks to field controllers on a serial bus or over TCP the way the Tarvo console does, for scripts,\n"
        "test rigs and commissioning. Results go to standard output (one record per address and round),\n"
        "messages and progress to standard error.\n\n"
        "Commands:\n");
    for (const Description& d : descriptions())
        text += QStringLiteral("  %1%2\n").arg(QString::fromLatin1(d.name).leftJustified(13), QLatin1String(d.summary));
    text += QStringLiteral("\n"
                           "  tarvo-cli COMMAND --help   the options of a command\n"
                           "  tarvo-cli --version        the version\n\n"
                           "Examples:\n"
                           "  tarvo-cli send --serial /dev/ttyUSB0 --protocol modbus --address 4 --function "
                           "read-buffer-100\n"
                           "  tarvo-cli poll --tcp 10.0.0.7:1001 --address 1..8 --count 100 --format csv\n"
                           "  tarvo-cli scan --serial COM1 --protocol modbus --range 0..246 --speeds 9600,19200\n"
                           "  tarvo-cli read-memory --config Tarvo.cfg --output site4.mem\n\n");
    return text + kExitStatuses;
}

Parsed parse(const QStringList& arguments)
{
    const QStringList args = arguments.mid(1);
    if (args.isEmpty())
        return usageError(QStringLiteral("a command is missing (send, poll, read-memory, scan, ports); see --help"));
    const QString& first = args.constFirst();
    if (first == QLatin1String("--help") || first == QLatin1String("-h") || first == QLatin1String("help")) {
        Parsed p;
        p.action = Parsed::Action::Help;
        p.text = generalHelp();
        return p;
    }
    if (first == QLatin1String("--version")) {
        Parsed p;
        p.action = Parsed::Action::Version;
        return p;
    }
    std::optional<Subcommand> command;
    for (const Description& d : descriptions()) {
        if (first == QLatin1String(d.name))
            command = d.command;
    }
    if (!command)
        return usageError(QStringLiteral("unknown command \"%1\" (send, poll, read-memory, scan, ports)").arg(first));

    Builder b(*command);
    QStringList forParser = args.mid(1);
    forParser.prepend(QStringLiteral("tarvo-cli"));
    if (!b.parser().parse(forParser))
        return usageError(b.parser().errorText());
    if (b.isSet("help")) {
        Parsed p;
        p.action = Parsed::Action::Help;
        p.text = b.help();
        return p;
    }
    if (*command != Subcommand::Check && !b.parser().positionalArguments().isEmpty())
        return usageError(QStringLiteral("unexpected argument \"%1\"").arg(b.parser().positionalArguments().first()));

    Options o;
    o.command = *command;
    if (*command == Subcommand::Scan)
        o.tries = 1;
    if (b.isSet("format")) {
        const QString f = b.value("format").toLower();
        if (f == QLatin1String("text"))
            o.format = Format::Text;
        else if (f == QLatin1String("csv"))
            o.format = Format::Csv;
        else if (f == QLatin1String("json"))
            o.format = Format::Json;
        else
            return usageError(QStringLiteral("--format \"%1\": text, csv or json").arg(b.value("format")));
    }
    if (*command == Subcommand::Ports) {
        Parsed p;
        p.action = Parsed::Action::Run;
        p.options = o;
        return p;
    }
    if (*command == Subcommand::Check) {
        if (!b.isSet("protocol"))
            return usageError(QStringLiteral("--protocol is missing: the frame's protocol decides its check value"));
        o.protocol = protocolOfWord(b.value("protocol"));
        if (!o.protocol)
            return usageError(QStringLiteral("--protocol \"%1\": modbus, p4, p4plus, customer, bioscrypt or none")
                                  .arg(b.value("protocol")));
        if (b.isSet("encrypt"))
            o.passphrase = b.value("encrypt");
        o.explain = b.isSet("explain");
        QString digits = b.parser().positionalArguments().join(QString());
        digits.remove(QLatin1Char(' ')).remove(QLatin1Char(','));
        if (digits.isEmpty())
            return usageError(
                QStringLiteral("the frame is missing: give it in hexadecimal, e.g. 01 03 00 00 00 02 C4 0B"));
        if (digits.size() % 2 != 0 ||
            !std::all_of(digits.begin(), digits.end(), [](QChar c) { return isxdigit(c.toLatin1()); }))
            return usageError(QStringLiteral("\"%1\" is not hexadecimal, two digits a byte")
                                  .arg(b.parser().positionalArguments().join(QLatin1Char(' '))));
        o.checkBytes = QByteArray::fromHex(digits.toLatin1());
        Parsed p;
        p.action = Parsed::Action::Run;
        p.options = o;
        return p;
    }
    o.verbose = b.isSet("verbose");

    if (b.isSet("serial") && b.isSet("tcp"))
        return usageError(QStringLiteral("--serial and --tcp: one link at a time"));
    if (b.isSet("serial")) {
        if (b.value("serial").trimmed().isEmpty())
            return usageError(QStringLiteral("--serial: a port name is missing"));
        o.serial = b.value("serial").trimmed();
    }
    if (b.isSet("speed")) {
        if (!wholeNumber(b.value("speed"), 1, 4000000))
            return usageError(QStringLiteral("--speed \"%1\": a speed in bit/s, e.g. 9600").arg(b.value("speed")));
        o.speed = b.value("speed").trimmed();
    }
    if (b.isSet("line")) {
        o.line = LineFormat::parse(b.value("line"));
        if (!o.line)
            return usageError(
                QStringLiteral("--line \"%1\": data bits, parity and stop bits, e.g. 8N2 or 8E1").arg(b.value("line")));
    }
    if (b.isSet("flow")) {
        const QString f = b.value("flow").trimmed().toLower();
        if (f != QLatin1String("none") && f != QLatin1String("rtscts"))
            return usageError(QStringLiteral("--flow \"%1\": none or rtscts").arg(b.value("flow")));
        o.rtsCts = f == QLatin1String("rtscts");
    }
    o.rs485 = b.isSet("rs485");
    o.dropEcho = b.isSet("drop-echo");
    o.lowLatency = b.isSet("low-latency");
    if (b.isSet("tcp")) {
        QString t = b.value("tcp").trimmed();
        const qsizetype colon = t.lastIndexOf(QLatin1Char(':'));
        QString host = colon < 0 ? QString() : t.left(colon);
        if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
            host = host.mid(1, host.size() - 2);
        const QString port = colon < 0 ? QString() : t.mid(colon + 1);
        if (host.isEmpty() || !wholeNumber(port, 1, 65535))
            return usageError(QStringLiteral("--tcp \"%1\": expected HOST:PORT, e.g. 192.168.1.20:1001").arg(t));
        o.tcpHost = host;
        o.tcpPort = port;
    }
    if (b.isSet("protocol")) {
        o.protocol = protocolOfWord(b.value("protocol"));
        if (!o.protocol)
            return usageError(QStringLiteral("--protocol \"%1\": modbus, p4, p4plus, customer, bioscrypt or none")
                                  .arg(b.value("protocol")));
    }
    if (b.isSet("code")) {
        if (!hexByte(b.value("code")))
            return usageError(QStringLiteral("--code \"%1\": one or two hexadecimal digits").arg(b.value("code")));
        o.code = b.value("code");
    }
    if (b.isSet("encrypt"))
        o.passphrase = b.value("encrypt");
    o.ack = b.isSet("ack");
    o.resp = b.isSet("resp");

    if (*command == Subcommand::Monitor) {
        if (b.isSet("gap")) {
            bool ok = false;
            const double gap = b.value("gap").trimmed().toDouble(&ok);
            if (!ok || !(gap >= 1) || gap > 10000)
                return usageError(QStringLiteral("--gap \"%1\": milliseconds, 1 or more").arg(b.value("gap")));
            o.gapMs = gap;
        }
        if (auto problem = readCountAndDuration(b, QStringLiteral("frames"), o))
            return usageError(*problem);
        o.config = b.value("config");
        o.journal = b.value("journal");
        Parsed p;
        p.action = Parsed::Action::Run;
        p.options = o;
        return p;
    }
    o.explain = *command == Subcommand::Frame && b.isSet("explain");

    for (const QString& a : b.values("address")) {
        QString why;
        const auto list = parseAddressList(a, &why);
        if (!list)
            return usageError(QStringLiteral("--address: ") + why);
        for (int address : *list) {
            if (!o.addresses.contains(address))
                o.addresses.append(address);
        }
    }
    if (*command != Subcommand::Scan && o.addresses.size() > 32)
        return usageError(QStringLiteral("--address: %1 addresses; at most 32, one per console slot (scan takes any "
                                         "number)")
                              .arg(o.addresses.size()));

    if (*command != Subcommand::ReadMemory) {
        if (b.isSet("function")) {
            o.function = functionOfWord(b.value("function"));
            if (!o.function)
                return usageError(QStringLiteral("--function \"%1\": read-input, read-buffer, read-buffer-100, "
                                                 "read-buffer-110, query, command or listen")
                                      .arg(b.value("function")));
        }
        if (b.isSet("query")) {
            if (!hexByte(b.value("query")))
                return usageError(
                    QStringLiteral("--query \"%1\": one or two hexadecimal digits").arg(b.value("query")));
            o.query = b.value("query");
        }
        o.commands = b.values("command");
        if (!o.commands.isEmpty() && !o.function)
            o.function = fn::SendCommand;
        if (*command == Subcommand::Scan && o.function == fn::Waiting)
            return usageError(QStringLiteral("--function listen: a census asks; listening asks nobody"));
    }

    auto milliseconds = [&](const char* name, int high, std::optional<QString>& into) {
        if (!b.isSet(name))
            return true;
        if (!wholeNumber(b.value(name), 0, high))
            return false;
        into = b.value(name).trimmed();
        return true;
    };
    if (!milliseconds("timeout", 600000, o.timeoutMs))
        return usageError(QStringLiteral("--timeout \"%1\": milliseconds, 0 to 600000").arg(b.value("timeout")));
    if (!milliseconds("settle", 600000, o.settleMs))
        return usageError(QStringLiteral("--settle \"%1\": milliseconds, 0 to 600000").arg(b.value("settle")));
    if (!milliseconds("scan-delay", 600000, o.scanDelayMs))
        return usageError(QStringLiteral("--scan-delay \"%1\": milliseconds, 0 to 600000").arg(b.value("scan-delay")));
    if (b.isSet("tries")) {
        const auto tries = wholeNumber(b.value("tries"), 1, 3);
        if (!tries)
            return usageError(QStringLiteral("--tries \"%1\": 1, 2 or 3").arg(b.value("tries")));
        o.tries = *tries;
    }
    o.config = b.value("config");
    o.journal = b.value("journal");

    if (*command == Subcommand::Poll) {
        if (auto problem = readCountAndDuration(b, QStringLiteral("rounds"), o))
            return usageError(*problem);
        if (b.isSet("interval")) {
            const auto interval = wholeNumber(b.value("interval"), 0, 86400000);
            if (!interval)
                return usageError(QStringLiteral("--interval \"%1\": milliseconds").arg(b.value("interval")));
            o.intervalMs = *interval;
        }
    }
    if (*command == Subcommand::ReadMemory) {
        o.output = b.value("output");
        if (o.output.isEmpty())
            return usageError(QStringLiteral("--output FILE is required: where the dump goes"));
        auto take = [&](const char* name, std::optional<QString>& into) {
            if (b.isSet(name))
                into = b.value(name);
        };
        take("page", o.page);
        take("first-address", o.firstAddress);
        take("records", o.records);
        take("record-size", o.recordSize);
    }
    if (*command == Subcommand::Scan) {
        if (b.isSet("range") && !o.addresses.isEmpty())
            return usageError(QStringLiteral("--range and --address: one way of naming the addresses"));
        QString why;
        if (b.isSet("range")) {
            const auto range = parseAddressRange(b.value("range"), &why);
            if (!range)
                return usageError(QStringLiteral("--range: ") + why);
            o.range = *range;
        }
        if (b.isSet("speeds")) {
            const auto speeds = parseSpeedList(b.value("speeds"), &why);
            if (!speeds)
                return usageError(QStringLiteral("--speeds: ") + why);
            o.speeds = *speeds;
            if (o.tcpHost)
                return usageError(QStringLiteral("--speeds needs a serial link; TCP has no speed"));
        }
    }
    Parsed p;
    p.action = Parsed::Action::Run;
    p.options = o;
    return p;
}

} // namespace tarvo::clitool
