#pragma once

#include "Framing.h"
#include "LinkSettings.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

namespace tarvo::cli {

enum class Subcommand { Send, Poll, ReadMemory, Scan, Ports, Frame, Check, Monitor, Report, Run };
enum class Format { Text, Csv, Json };

// The exit statuses, as --help and the README document them.
namespace status {
constexpr int kOk = 0;            // every address answered and every checked reply passed
constexpr int kNoAnswer = 1;      // at least one address did not answer (and no reply failed its check)
constexpr int kBadCheck = 2;      // at least one reply failed its check value
constexpr int kLinkDown = 3;      // the link could not be opened, or was lost and not regained
constexpr int kException = 4;     // at least one controller refused a request with a Modbus exception
constexpr int kPlanFailed = 5;    // run: at least one step of the test plan did not meet its expectation
constexpr int kUsage = 64;        // bad usage: nothing was sent
constexpr int kInterrupted = 130; // SIGINT or SIGTERM
} // namespace status

// Every option of tarvo-cli. Each is declared once, in the option table of CliOptions.cpp (its names,
// value name, help and how its value is read); the values are read in this order, so a command line
// with several faults is refused for the first of them in this order.
enum class Opt {
    Help,
    Format,
    Verbose,
    Serial,
    Speed,
    Line,
    Flow,
    Rs485,
    DropEcho,
    LowLatency,
    Tcp,
    Udp,
    Mbap,
    Protocol,
    Code,
    Encrypt,
    Ack,
    Resp,
    Gap,
    Explain,
    Address,
    Function,
    Query,
    Command,
    Timeout,
    Settle,
    ScanDelay,
    Tries,
    Config,
    Journal,
    Count,
    Duration,
    Interval,
    Output,
    Page,
    FirstAddress,
    Records,
    RecordSize,
    Range,
    Speeds,
    Census,
    Site,
    Junit,
};
inline constexpr int kOptionCount = static_cast<int>(Opt::Junit) + 1;

// Everything the command line asked for, as typed values. A value that was not given stays empty, so
// that a setting read from --config is overridden only by what was typed.
struct Options {
    Subcommand command = Subcommand::Send;
    Format format = Format::Text;
    bool verbose = false;

    // The link.
    std::optional<QString> serial; // COMn, a device path, or a name under /dev/serial/by-id
    std::optional<int> speed;      // bit/s
    std::optional<LineFormat> line;
    std::optional<bool> rtsCts; // --flow
    bool rs485 = false;         // --rs485: switch the transmitter around each frame
    bool dropEcho = false;      // --drop-echo
    bool lowLatency = false;    // --low-latency
    std::optional<QString> tcpHost;
    std::optional<QString> tcpPort; // as typed: the link and the messages take it so
    bool udp = false;               // --udp: the host and port above are a UDP peer
    bool mbap = false;              // --mbap: Modbus requests in Modbus TCP frames

    // The protocol and its options.
    std::optional<Protocol> protocol;
    std::optional<QString> code;
    std::optional<QString> passphrase;
    bool ack = false;
    bool resp = false;

    // What to send, to whom.
    QList<int> addresses;            // empty: the slots --config selects
    std::optional<QString> function; // a function name ("ReadInput", ...)
    std::optional<QString> query;
    QStringList commands;

    std::optional<int> timeoutMs;
    std::optional<int> settleMs;
    std::optional<int> scanDelayMs;
    int tries = 3;           // a census asks once unless told otherwise
    bool triesGiven = false; // --tries was typed (a test plan's own tries give way to it)

    QString config;       // a Tarvo.cfg to start from
    QString journal;      // the journal CSV to write
    QStringList journals; // report: the journal CSVs to read, in order

    // poll and monitor
    std::optional<int> count;
    std::optional<double> durationSeconds;
    int intervalMs = 0;

    // read-memory: the memory panel's values as typed, checked by the memory read's own rules
    std::optional<QString> page;
    std::optional<QString> firstAddress;
    std::optional<QString> records;
    std::optional<QString> recordSize;
    QString output;

    // scan
    QList<int> range;
    QList<int> speeds;

    // frame and check
    bool explain = false;  // the fields of each frame too
    QByteArray checkBytes; // check: the frame to check

    // report
    QString census; // a census CSV for its table; empty: none
    QString site;   // the site folder whose Tarvo.ini names the site, its slots and its pass marks

    // run
    QString planFile; // the test plan (TOML)
    QString junit;    // the JUnit XML to write; empty: none

    // monitor
    std::optional<double> gapMs; // the silence that ends a frame; empty: 3.5 characters, at least 1 ms
};

struct Parsed {
    enum class Action { Run, Help, Version, Usage };
    Action action = Action::Usage;
    Options options;
    QString text; // the help text, or what is wrong with the command line
};

// Reads the arguments (the program's name first). Never exits: the caller prints and returns.
Parsed parse(const QStringList& arguments);

// The help of the program as a whole.
QString generalHelp();
// The options a subcommand takes, in the order its --help lists them.
QList<Opt> optionsOf(Subcommand command);

// The protocol behind a --protocol word, and the word of a protocol.
std::optional<Protocol> protocolOfWord(const QString& word);
QString protocolWord(Protocol protocol);

// The function name behind a --function word.
std::optional<QString> functionOfWord(const QString& word);

} // namespace tarvo::cli
