#include "SimOptions.h"

#include <QCommandLineParser>

#include <functional>

namespace tarvo::sim {

namespace {

bool toInt(const QString& text, int low, int high, int& value)
{
    bool ok = false;
    value = text.trimmed().toInt(&ok, 10);
    return ok && value >= low && value <= high;
}

bool parseProtocol(const QString& name, Protocol& p)
{
    const QString n = name.trimmed().toLower();
    if (n == QLatin1String("modbus"))
        p = Protocol::Modbus;
    else if (n == QLatin1String("p4") || n == QLatin1String("protocol4"))
        p = Protocol::Protocol4;
    else if (n == QLatin1String("p4+") || n == QLatin1String("p4plus") || n == QLatin1String("protocol4plus"))
        p = Protocol::Protocol4Plus;
    else if (n == QLatin1String("customer") || n == QLatin1String("aa"))
        p = Protocol::Customer;
    else if (n == QLatin1String("bioscrypt"))
        p = Protocol::Bioscrypt;
    else if (n == QLatin1String("none"))
        p = Protocol::None;
    else
        return false;
    return true;
}

// "LIST:MODE[=N]" applied to every address of the list.
bool parseFault(const QString& faultText, QMap<int, FaultSet>& faults, QString& error)
{
    const qsizetype colon = faultText.indexOf(QLatin1Char(':'));
    if (colon <= 0) {
        error = QStringLiteral("--fault \"%1\": expected ADDRESSES:MODE[=N], e.g. 5:silent").arg(faultText);
        return false;
    }
    QList<QPair<int, int>> ranges;
    if (!parseAddressList(faultText.left(colon), ranges, error)) {
        error = QStringLiteral("--fault \"%1\": %2").arg(faultText, error);
        return false;
    }
    const QString modeText = faultText.mid(colon + 1).trimmed().toLower();
    const qsizetype eq = modeText.indexOf(QLatin1Char('='));
    const QString mode = eq < 0 ? modeText : modeText.left(eq);
    const QString valueText = eq < 0 ? QString() : modeText.mid(eq + 1);
    int value = -1;
    const bool hasValue = eq >= 0;
    if (mode == QLatin1String("exception")) {
        // The code as Modbus documents name it: hexadecimal, 01 illegal function, 02 illegal data
        // address, 0B gateway target failed to respond, ...
        bool ok = false;
        const int code = valueText.toInt(&ok, 16);
        if (!hasValue || !ok || valueText.size() > 2 || code < 1 || code > 255) {
            error = QStringLiteral("--fault \"%1\": exception needs =NN, an exception code of one or two "
                                   "hexadecimal digits from 01 to FF, e.g. 3:exception=02")
                        .arg(faultText);
            return false;
        }
        for (const auto& r : ranges) {
            for (int a = r.first; a <= r.second; ++a)
                faults[a].exceptionCode = code;
        }
        return true;
    }
    if (hasValue && !toInt(valueText, 0, 600000, value)) {
        error = QStringLiteral("--fault \"%1\": \"%2\" is not a number from 0 to 600000").arg(faultText, valueText);
        return false;
    }
    auto needValue = [&](int minimum) {
        if (!hasValue || value < minimum) {
            error = QStringLiteral("--fault \"%1\": %2 needs =N with N at least %3").arg(faultText, mode).arg(minimum);
            return false;
        }
        return true;
    };
    auto noValue = [&]() {
        if (hasValue) {
            error = QStringLiteral("--fault \"%1\": %2 takes no value").arg(faultText, mode);
            return false;
        }
        return true;
    };
    std::function<void(FaultSet&)> apply;
    if (mode == QLatin1String("silent")) {
        if (!noValue())
            return false;
        apply = [](FaultSet& f) { f.silent = true; };
    } else if (mode == QLatin1String("from")) {
        if (!needValue(1))
            return false;
        apply = [value](FaultSet& f) { f.answerFrom = value; };
    } else if (mode == QLatin1String("badcheck")) {
        if (!noValue())
            return false;
        apply = [](FaultSet& f) { f.badCheck = true; };
    } else if (mode == QLatin1String("trickle")) {
        if (!needValue(1))
            return false;
        apply = [value](FaultSet& f) { f.trickleMs = value; };
    } else if (mode == QLatin1String("partial")) {
        const int keep = hasValue ? value : 0;
        if (hasValue && !needValue(1))
            return false;
        apply = [keep](FaultSet& f) { f.partialBytes = keep; };
    } else if (mode == QLatin1String("delay")) {
        if (!needValue(1))
            return false;
        apply = [value](FaultSet& f) { f.delayMs = value; };
    } else if (mode == QLatin1String("drop")) {
        if (!needValue(0))
            return false;
        apply = [value](FaultSet& f) { f.dropAfter = value; };
    } else {
        error =
            QStringLiteral("--fault \"%1\": unknown mode \"%2\" (silent, from=N, badcheck, trickle=MS, partial[=N], "
                           "delay=MS, drop=N, exception=NN)")
                .arg(faultText, mode);
        return false;
    }
    for (const auto& r : ranges) {
        if (r.second - r.first > 65535)
            continue;
        for (int a = r.first; a <= r.second; ++a)
            apply(faults[a]);
    }
    return true;
}

} // namespace

bool parseAddressList(const QString& text, QList<QPair<int, int>>& ranges, QString& error)
{
    ranges.clear();
    const QStringList parts = text.split(QLatin1Char(','), Qt::SkipEmptyParts);
    if (parts.isEmpty()) {
        error = QStringLiteral("empty address list");
        return false;
    }
    for (const QString& part : parts) {
        const qsizetype dash = part.indexOf(QLatin1Char('-'));
        int low = 0;
        int high = 0;
        const bool ok = dash < 0 ? toInt(part, 0, 65535, low) && (high = low, true)
                                 : toInt(part.left(dash), 0, 65535, low) && toInt(part.mid(dash + 1), 0, 65535, high);
        if (!ok || high < low) {
            error = QStringLiteral("bad address \"%1\" (console addresses 0 to 65535, lists like 1,3,7-9)").arg(part);
            return false;
        }
        ranges.append({low, high});
    }
    return true;
}

bool parseOptions(const QStringList& args, SimOptions& o, QString& error)
{
    QCommandLineParser p;
    p.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption version(QStringLiteral("version"));
    const QCommandLineOption protocol(QStringLiteral("protocol"), QString(), QStringLiteral("name"));
    const QCommandLineOption code(QStringLiteral("code"), QString(), QStringLiteral("hh"));
    const QCommandLineOption tcp(QStringLiteral("tcp"), QString(), QStringLiteral("host:port"));
    const QCommandLineOption udp(QStringLiteral("udp"), QString(), QStringLiteral("host:port"));
    const QCommandLineOption mbap(QStringLiteral("mbap"));
    const QCommandLineOption serial(QStringLiteral("serial"));
    const QCommandLineOption link(QStringLiteral("link"), QString(), QStringLiteral("path"));
    const QCommandLineOption speed(QStringLiteral("speed"), QString(), QStringLiteral("baud"));
    const QCommandLineOption strictSpeed(QStringLiteral("strict-speed"));
    const QCommandLineOption addresses(QStringLiteral("addresses"), QString(), QStringLiteral("list"));
    const QCommandLineOption fault(QStringLiteral("fault"), QString(), QStringLiteral("list:mode"));
    const QCommandLineOption gap(QStringLiteral("gap"), QString(), QStringLiteral("ms"));
    const QCommandLineOption echo(QStringLiteral("echo"));
    const QCommandLineOption log(QStringLiteral("log"), QString(), QStringLiteral("file"));
    p.addOptions({help, version, protocol, code, tcp, udp, mbap, serial, link, speed, strictSpeed, addresses, fault,
                  gap, log, echo});
    QStringList full = args;
    full.prepend(QStringLiteral("tarvo-sim"));
    if (!p.parse(full)) {
        error = p.errorText();
        return false;
    }
    if (!p.positionalArguments().isEmpty()) {
        error = QStringLiteral("unexpected argument \"%1\"").arg(p.positionalArguments().constFirst());
        return false;
    }
    o.help = p.isSet(help);
    o.version = p.isSet(version);
    if (p.isSet(protocol) && !parseProtocol(p.value(protocol), o.config.protocol)) {
        error = QStringLiteral("unknown protocol \"%1\" (modbus, p4, p4plus, customer, bioscrypt, none)")
                    .arg(p.value(protocol));
        return false;
    }
    if (p.isSet(code)) {
        bool ok = false;
        const QString c = p.value(code);
        const int v = c.toInt(&ok, 16);
        if (!ok || c.size() > 2 || v < 0 || v > 255) {
            error = QStringLiteral("--code \"%1\": expected one or two hexadecimal digits").arg(c);
            return false;
        }
        o.config.customerCode = v;
    }
    // Links: TCP and serial by default; naming any of them chooses only what is named.
    const bool wantTcp = p.isSet(tcp);
    const bool wantUdp = p.isSet(udp);
    const bool wantSerial = p.isSet(serial) || p.isSet(link);
    if (wantTcp || wantUdp || wantSerial) {
        o.tcp = wantTcp;
        o.udp = wantUdp;
        o.serial = wantSerial;
    }
    auto hostAndPort = [&](const QCommandLineOption& option, const char* example, QString& hostOut, quint16& portOut) {
        const QString t = p.value(option);
        const qsizetype colon = t.lastIndexOf(QLatin1Char(':'));
        const QString host = colon < 0 ? QStringLiteral("127.0.0.1") : t.left(colon);
        int port = 0;
        if (!toInt(colon < 0 ? t : t.mid(colon + 1), 0, 65535, port) || host.isEmpty()) {
            error = QStringLiteral("--%1 \"%2\": expected [HOST:]PORT, e.g. %3")
                        .arg(option.names().constFirst(), t, QLatin1String(example));
            return false;
        }
        hostOut = host;
        portOut = static_cast<quint16>(port);
        return true;
    };
    if (wantTcp && !hostAndPort(tcp, "127.0.0.1:1001", o.tcpHost, o.tcpPort))
        return false;
    if (wantUdp && !hostAndPort(udp, "127.0.0.1:1502", o.udpHost, o.udpPort))
        return false;
    o.linkPath = p.value(link);
    o.echo = p.isSet(echo);
    if (p.isSet(speed) && !toInt(p.value(speed), 50, 4000000, o.speed)) {
        error = QStringLiteral("--speed \"%1\": expected a speed in bit/s, e.g. 38400").arg(p.value(speed));
        return false;
    }
    o.strictSpeed = p.isSet(strictSpeed);
    if (p.isSet(gap) && !toInt(p.value(gap), 1, 10000, o.gapMs)) {
        error = QStringLiteral("--gap \"%1\": expected milliseconds from 1 to 10000").arg(p.value(gap));
        return false;
    }
    if (p.isSet(addresses) && !parseAddressList(p.value(addresses), o.config.served, error)) {
        error = QStringLiteral("--addresses: %1").arg(error);
        return false;
    }
    for (const QString& faultText : p.values(fault)) {
        if (!parseFault(faultText, o.config.faults, error))
            return false;
    }
    o.mbap = p.isSet(mbap);
    if (o.mbap && o.config.protocol != Protocol::Modbus) {
        error = QStringLiteral("--mbap is Modbus TCP framing: it needs --protocol modbus, not %1")
                    .arg(protocolName(o.config.protocol));
        return false;
    }
    if (o.mbap && !o.tcp && !o.udp) {
        error = QStringLiteral("--mbap frames the TCP and UDP listeners, and none is open: add --tcp or --udp");
        return false;
    }
    if (o.config.protocol != Protocol::Modbus) {
        for (auto it = o.config.faults.cbegin(); it != o.config.faults.cend(); ++it) {
            if (it->exceptionCode >= 0) {
                error = QStringLiteral("--fault %1:exception: exception replies are Modbus's, and the protocol is %2")
                            .arg(it.key())
                            .arg(protocolName(o.config.protocol));
                return false;
            }
        }
    }
    o.logFile = p.value(log);
    return true;
}

QString helpText()
{
    return QStringLiteral(R"(Usage: tarvo-sim [options]

Plays the field controllers that the Tarvo console talks to, on a TCP port, a UDP port and a virtual
serial port (a pseudo-terminal) that it creates itself.

Links (TCP and serial when none is named; naming any opens only those named):
  --tcp [HOST:]PORT     listen for TCP clients (default 127.0.0.1:1001, the console's IP and Port;
                        port 0 takes a free port, printed as "tcp: HOST:PORT"). Raw frames, no extra
                        header (unless --mbap); clients one after another or several at once.
  --udp [HOST:]PORT     listen for UDP datagrams (host 127.0.0.1 when not given; port 0 takes a free
                        port, printed as "udp: HOST:PORT"): one request per datagram, the reply in
                        one datagram to the sender's address and port
  --mbap                TCP and UDP speak Modbus TCP: a 7-byte header (transaction id, protocol id
                        0, length, unit id) and the PDU, no CRC; the unit id is the RTU address
                        byte (console address + 1). Needs --protocol modbus; the serial line stays
                        RTU. On TCP the header's length alone cuts frames; a header with a protocol
                        id other than 0, or a length of 0 or above 254, is logged and the
                        connection's buffered bytes dropped.
  --serial              create a pseudo-terminal; its path is printed as "serial: /dev/pts/N"
  --link PATH           also make a symlink PATH to it (removed at exit); implies --serial
  --speed BAUD          line speed set on the pseudo-terminal, 8 data bits, no parity, 2 stop bits
                        (default 38400, as the console)
  --echo                the serial line hears itself, as a two-wire RS-485 adapter does: every
                        byte received is sent back at once, before any reply (try the console's
                        "Drop echo")
  --strict-speed        ignore what arrives while the client has set the pseudo-terminal to another
                        speed than --speed (a pty moves bytes at any speed; a real line would
                        garble them), so that a client can look for the speed a bus runs at

Protocol (one per run):
  --protocol NAME       modbus, p4 (default, the console's default), p4plus, customer, bioscrypt, none
  --code HH             Customer Protocol lead byte (default AA)

Controllers:
  --addresses LIST      console addresses that answer, e.g. 0,5,10-20 (default 0-254)
  --fault LIST:MODE     a fault mode for the addresses in LIST; repeat for more. MODE is one of
                          silent        never answers
                          from=N        ignores N-1 requests, answers the Nth, then starts over
                          badcheck      replies with a corrupted check value (--mbap: a header
                                        whose length is one more than the bytes that follow)
                          trickle=MS    writes the reply one byte at a time, MS apart (not on
                                        UDP: a datagram always goes whole)
                          partial[=N]   sends only the first N bytes of the reply (default: half)
                          delay=MS      starts the reply MS after the request
                          drop=N        TCP: answers N frames on a connection, then closes it at
                                        the next one (0: at the first)
                          exception=NN  Modbus: answers every request with exception code NN
                                        (hexadecimal, e.g. 02 illegal data address)

Frames and log:
  --gap MS              silence that ends a frame (default 20); a frame whose check value is
                        already complete ends at once (Modbus TCP frames end by their length)
  --log FILE            append the frame log to FILE instead of standard output
  -h, --help            this text
  --version             the version (the same for every program of Tarvo)

ADDRESSES are CONSOLE ADDRESSES: the numbers the technician types in the console's address box.
On the wire:
  fixed requests (Read Input, Read Buffer, Send Query) and every Modbus frame carry address + 1:
    console address 5 is 06 on the wire, so mbpoll's slave id is the console address + 1;
  Protocol 4 / 4+ command lines carry 40, the address, the length; Customer command lines the code
    (AA), the address, the length; Bioscrypt the address as four hexadecimal digits.
Under Protocol 4, 4+ and Customer both forms are answered.

Data (a = console address): memory byte at page p, address m = (a*31 + p*7 + m) mod 256; input
register r = a*256 + (r mod 256); holding register r = a*100 + r (mod 65536); discrete input i = 1
when (i + a) mod 3 = 0; coil i = 1 when (i + a) mod 2 = 1; registers and bits 0..1023.
Commands under Protocol 4 / 4+ / Customer: 73 (EPROM identification), 71 (ROM identification),
72 pp aaaa ll (ll bytes of memory); others are echoed.

Modbus registers and bits exist at 0..1023: a read beyond gets exception 02 (illegal data address),
a function other than 01, 02, 03, 04 and the console's query 18 exception 01 (illegal function).

Example, Modbus on a pseudo-terminal, read 4 input registers of console address 5:
  tarvo-sim --protocol modbus --serial --link /tmp/ttySIM &
  mbpoll -m rtu -b 38400 -d 8 -s 2 -P none -a 6 -t 3 -r 1 -c 4 -1 /tmp/ttySIM
The same over Modbus TCP on port 1502:
  tarvo-sim --protocol modbus --mbap --tcp 1502 &
  mbpoll -m tcp -p 1502 -a 6 -t 3 -r 1 -c 4 -1 127.0.0.1

Every frame received and sent is logged with its time, bytes, console address and verdict.
SIGINT or SIGTERM stops the simulator cleanly.
)");
}

} // namespace tarvo::sim
