#include "PlanReader.h"
#include "Number.h"

#include "AddressList.h"
#include "Requests.h"

#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <algorithm>
#include <cmath>
#include <string_view>
#include <toml++/toml.h>

namespace tarvo::plans {

namespace {

SourcePlace placeOf(const toml::source_region& source)
{
    return {static_cast<int>(source.begin.line), static_cast<int>(source.begin.column)};
}

QString qstr(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QString typeName(const toml::node& node)
{
    switch (node.type()) {
    case toml::node_type::string:
        return QStringLiteral("a string");
    case toml::node_type::integer:
        return QStringLiteral("a whole number");
    case toml::node_type::floating_point:
        return QStringLiteral("a number with a fraction");
    case toml::node_type::boolean:
        return QStringLiteral("true or false");
    case toml::node_type::array:
        return QStringLiteral("a list");
    case toml::node_type::table:
        return QStringLiteral("a table");
    default:
        return QStringLiteral("a date or time");
    }
}

// The protocol words of tarvo-cli's --protocol.
std::optional<Protocol> protocolOf(const QString& word)
{
    static const struct {
        const char* word;
        Protocol protocol;
    } words[] = {{"modbus", Protocol::Modbus},        {"p4", Protocol::Protocol4},
                 {"p4plus", Protocol::Protocol4Plus}, {"customer", Protocol::Customer},
                 {"bioscrypt", Protocol::Bioscrypt},  {"none", Protocol::None}};
    for (const auto& w : words) {
        if (word.trimmed().toLower() == QLatin1String(w.word))
            return w.protocol;
    }
    return std::nullopt;
}

// The fixed functions a step may name; a query or a command comes with its own key.
std::optional<QString> functionOf(const QString& word)
{
    static const struct {
        const char* word;
        const QString& function;
    } words[] = {
        {"read-input", fn::ReadInput},          {"read-buffer", fn::ReadBuffer}, {"read-buffer-100", fn::ReadBuffer100},
        {"read-buffer-110", fn::ReadBuffer110}, {"query", fn::SendQuery},        {"command", fn::SendCommand}};
    for (const auto& w : words) {
        if (word.trimmed().toLower() == QLatin1String(w.word))
            return w.function;
    }
    return std::nullopt;
}

// "HOST:PORT", an IPv6 host in brackets.
bool splitHostPort(const QString& text, QString& host, QString& port)
{
    const QString t = text.trimmed();
    const qsizetype colon = t.lastIndexOf(QLatin1Char(':'));
    if (colon <= 0)
        return false;
    host = t.left(colon);
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    port = t.mid(colon + 1);
    bool ok = false;
    const int n = port.toInt(&ok);
    return !host.isEmpty() && ok && n >= 1 && n <= 65535 && !port.startsWith(QLatin1Char('+'));
}

class Reader {
public:
    QList<PlanProblem> problems;

    void problem(const toml::source_region& where, const QString& message)
    {
        problems << PlanProblem{placeOf(where), message};
    }
    void problem(SourcePlace where, const QString& message) { problems << PlanProblem{where, message}; }

    void wrongType(const QString& key, const toml::node& node, const QString& wanted)
    {
        problem(node.source(), QStringLiteral("%1 is %2, and should be %3").arg(key, typeName(node), wanted));
    }

    std::optional<QString> string(const QString& key, const toml::node& node)
    {
        if (const auto* s = node.as_string())
            return qstr(s->get());
        wrongType(key, node, QStringLiteral("a string"));
        return std::nullopt;
    }

    std::optional<bool> boolean(const QString& key, const toml::node& node)
    {
        if (const auto* b = node.as_boolean())
            return b->get();
        wrongType(key, node, QStringLiteral("true or false"));
        return std::nullopt;
    }

    std::optional<int> whole(const QString& key, const toml::node& node, int64_t low, int64_t high,
                             const QString& unit = {})
    {
        const auto* i = node.as_integer();
        if (!i) {
            wrongType(key, node,
                      QStringLiteral("a whole number%1").arg(unit.isEmpty() ? QString() : QLatin1Char(' ') + unit));
            return std::nullopt;
        }
        if (i->get() < low || i->get() > high) {
            problem(node.source(), QStringLiteral("%1 = %2 is out of range: %3 to %4%5")
                                       .arg(key)
                                       .arg(i->get())
                                       .arg(low)
                                       .arg(high)
                                       .arg(unit.isEmpty() ? QString() : QLatin1Char(' ') + unit));
            return std::nullopt;
        }
        return static_cast<int>(i->get());
    }

    // A whole number or one with a fraction.
    std::optional<double> number(const QString& key, const toml::node& node, double low, double high)
    {
        double value = 0;
        if (const auto* i = node.as_integer())
            value = static_cast<double>(i->get());
        else if (const auto* f = node.as_floating_point())
            value = f->get();
        else {
            wrongType(key, node, QStringLiteral("a number"));
            return std::nullopt;
        }
        if (!(value >= low && value <= high)) {
            problem(node.source(),
                    QStringLiteral("%1 = %2 is out of range: %3 to %4").arg(key).arg(value).arg(low).arg(high));
            return std::nullopt;
        }
        return value;
    }

    void unknownKey(const toml::key& key, const QString& where, const char* known)
    {
        problem(key.source(),
                QStringLiteral("unknown key \"%1\" in %2 (%3)").arg(qstr(key.str()), where, QLatin1String(known)));
    }

    void readLink(const toml::table& table, PlanSettings& s)
    {
        const toml::node* serial = nullptr;
        const toml::node* network = nullptr;
        for (auto&& [key, node] : table) {
            const QString k = qstr(key.str());
            if (k == QLatin1String("serial")) {
                serial = &node;
                if (auto v = string(k, node)) {
                    if (v->trimmed().isEmpty())
                        problem(node.source(), QStringLiteral("serial: a port name is missing"));
                    else
                        s.serial = v->trimmed();
                }
            } else if (k == QLatin1String("speed")) {
                s.speed = whole(k, node, 1, 4000000, QStringLiteral("bit/s"));
            } else if (k == QLatin1String("line")) {
                if (auto v = string(k, node)) {
                    s.line = LineFormat::parse(*v);
                    if (!s.line)
                        problem(
                            node.source(),
                            QStringLiteral("line \"%1\": data bits, parity and stop bits, e.g. 8N2 or 8E1").arg(*v));
                }
            } else if (k == QLatin1String("flow")) {
                if (auto v = string(k, node)) {
                    const QString f = v->trimmed().toLower();
                    if (f != QLatin1String("none") && f != QLatin1String("rtscts"))
                        problem(node.source(), QStringLiteral("flow \"%1\": none or rtscts").arg(*v));
                    else
                        s.rtsCts = f == QLatin1String("rtscts");
                }
            } else if (k == QLatin1String("rs485")) {
                s.rs485 = boolean(k, node);
            } else if (k == QLatin1String("drop-echo")) {
                s.dropEcho = boolean(k, node);
            } else if (k == QLatin1String("low-latency")) {
                s.lowLatency = boolean(k, node);
            } else if (k == QLatin1String("tcp") || k == QLatin1String("udp")) {
                if (network) {
                    problem(node.source(), QStringLiteral("tcp and udp: one link at a time"));
                    continue;
                }
                network = &node;
                if (auto v = string(k, node)) {
                    QString host, port;
                    if (!splitHostPort(*v, host, port)) {
                        problem(node.source(),
                                QStringLiteral("%1 \"%2\": expected HOST:PORT, e.g. 192.168.1.20:%3")
                                    .arg(k, *v,
                                         k == QLatin1String("tcp") ? QStringLiteral("1001") : QStringLiteral("502")));
                    } else {
                        s.host = host;
                        s.port = port;
                        s.udp = k == QLatin1String("udp");
                    }
                }
            } else if (k == QLatin1String("mbap")) {
                s.mbap = boolean(k, node);
            } else {
                unknownKey(key, QStringLiteral("[link]"),
                           "serial, speed, line, flow, rs485, drop-echo, low-latency, tcp, udp, mbap");
            }
        }
        if (serial && network)
            problem(serial->source(), QStringLiteral("serial and %1: one link at a time")
                                          .arg(s.udp ? QStringLiteral("udp") : QStringLiteral("tcp")));
    }

    void readProtocol(const toml::table& table, PlanSettings& s)
    {
        for (auto&& [key, node] : table) {
            const QString k = qstr(key.str());
            if (k == QLatin1String("protocol")) {
                if (auto v = string(k, node)) {
                    s.protocol = protocolOf(*v);
                    if (!s.protocol)
                        problem(
                            node.source(),
                            QStringLiteral("protocol \"%1\": modbus, p4, p4plus, customer, bioscrypt or none").arg(*v));
                }
            } else if (k == QLatin1String("code")) {
                if (auto v = string(k, node)) {
                    if (!isHexByte(*v))
                        problem(node.source(), QStringLiteral("code \"%1\": one or two hexadecimal digits").arg(*v));
                    else
                        s.code = *v;
                }
            } else if (k == QLatin1String("encrypt")) {
                s.passphrase = string(k, node);
            } else if (k == QLatin1String("ack")) {
                s.ack = boolean(k, node);
            } else if (k == QLatin1String("resp")) {
                s.resp = boolean(k, node);
            } else {
                unknownKey(key, QStringLiteral("[protocol]"), "protocol, code, encrypt, ack, resp");
            }
        }
    }

    void readTiming(const toml::table& table, PlanSettings& s)
    {
        const QString ms = QStringLiteral("ms");
        for (auto&& [key, node] : table) {
            const QString k = qstr(key.str());
            if (k == QLatin1String("timeout"))
                s.timeoutMs = whole(k, node, 0, 600000, ms);
            else if (k == QLatin1String("settle"))
                s.settleMs = whole(k, node, 0, 600000, ms);
            else if (k == QLatin1String("scan-delay"))
                s.scanDelayMs = whole(k, node, 0, 600000, ms);
            else if (k == QLatin1String("tries"))
                s.tries = whole(k, node, 1, 3);
            else
                unknownKey(key, QStringLiteral("[timing]"), "timeout, settle, scan-delay, tries");
        }
    }

    void readExpect(const toml::table& table, Expectation& e)
    {
        for (auto&& [key, node] : table) {
            const QString k = qstr(key.str());
            if (k == QLatin1String("verdict")) {
                if (auto v = string(k, node)) {
                    // Stopped and unknown are never what a send is meant to give.
                    const QStringList names = verdictNames();
                    const qsizetype index = names.indexOf(v->trimmed().toLower());
                    const auto verdict = static_cast<JournalRecord::Verdict>(index);
                    if (index < 0 || verdict == JournalRecord::Verdict::Stopped ||
                        verdict == JournalRecord::Verdict::Unknown)
                        problem(node.source(), QStringLiteral("verdict \"%1\": ok, bad-check, no-answer, "
                                                              "no-reply-expected, exception or error")
                                                   .arg(*v));
                    else
                        e.verdict = verdict;
                }
            } else if (k == QLatin1String("reply")) {
                if (auto v = string(k, node)) {
                    QString why;
                    e.reply = ReplyPattern::parse(*v, &why);
                    if (!e.reply)
                        problem(node.source(), QStringLiteral("reply \"%1\" is not a hex pattern: %2").arg(*v, why));
                }
            } else if (k == QLatin1String("max_first_byte_ms")) {
                e.maxFirstByteMs = number(k, node, 0, 600000);
            } else if (k == QLatin1String("max_reply_ms")) {
                e.maxReplyMs = number(k, node, 0, 600000);
            } else if (k == QLatin1String("min_success")) {
                if (auto v = number(k, node, 0, 1))
                    e.minSuccess = *v;
            } else {
                unknownKey(key, QStringLiteral("[step.expect]"),
                           "verdict, reply, max_first_byte_ms, max_reply_ms, min_success");
            }
        }
    }

    void readAddresses(const toml::node& node, Step& step)
    {
        const QString k = QStringLiteral("address");
        step.addressPlace = placeOf(node.source());
        if (node.is_integer()) {
            if (auto a = whole(k, node, 0, 65535))
                step.addresses << *a;
            return;
        }
        if (const auto* s = node.as_string()) {
            QString why;
            const auto list = parseAddressList(qstr(s->get()), &why);
            if (!list)
                problem(node.source(), QStringLiteral("address: ") + why);
            else
                step.addresses = *list;
            return;
        }
        if (const auto* array = node.as_array()) {
            for (const toml::node& item : *array) {
                if (auto a = whole(k, item, 0, 65535)) {
                    if (!step.addresses.contains(*a))
                        step.addresses << *a;
                }
            }
            if (array->empty())
                problem(node.source(), QStringLiteral("address: the list is empty"));
            return;
        }
        wrongType(k, node, QStringLiteral("an address (0 to 65535), a list of them, or a text like \"0..7\""));
    }

    void readStep(const toml::table& table, Step& step, int number)
    {
        step.place = placeOf(table.source());
        const toml::node* function = nullptr;
        const toml::node* query = nullptr;
        const toml::node* command = nullptr;
        const toml::node* wait = nullptr;
        const toml::node* address = nullptr;
        QStringList sendKeys; // the keys that make it more than a wait
        for (auto&& [key, node] : table) {
            const QString k = qstr(key.str());
            if (k == QLatin1String("name")) {
                if (auto v = string(k, node))
                    step.name = v->trimmed();
                continue;
            }
            if (k == QLatin1String("wait_ms")) {
                wait = &node;
                if (auto v = whole(k, node, 0, 86400000, QStringLiteral("ms")))
                    step.waitMs = *v;
                continue;
            }
            sendKeys << k;
            if (k == QLatin1String("address")) {
                address = &node;
                readAddresses(node, step);
            } else if (k == QLatin1String("function")) {
                function = &node;
                if (auto v = string(k, node)) {
                    const auto f = functionOf(*v);
                    if (!f)
                        problem(node.source(),
                                QStringLiteral("function \"%1\": read-input, read-buffer, "
                                               "read-buffer-100, read-buffer-110, query or command%2")
                                    .arg(*v, v->trimmed().toLower() == QLatin1String("listen")
                                                 ? QStringLiteral(" (a step asks; listening asks nobody)")
                                                 : QString()));
                    else
                        step.function = *f;
                }
            } else if (k == QLatin1String("query")) {
                query = &node;
                if (auto v = string(k, node)) {
                    if (!isHexByte(v->trimmed()))
                        problem(node.source(), QStringLiteral("query \"%1\": one or two hexadecimal digits").arg(*v));
                    else
                        step.query = v->trimmed();
                }
            } else if (k == QLatin1String("command")) {
                command = &node;
                QStringList lines;
                if (const auto* array = node.as_array()) {
                    for (const toml::node& item : *array) {
                        if (auto v = string(QStringLiteral("a command line"), item))
                            lines << *v;
                    }
                } else if (auto v = string(k, node)) {
                    lines = v->split(QLatin1Char('\n'));
                }
                for (QString& line : lines) {
                    if (line.endsWith(QLatin1Char('\r')))
                        line.chop(1);
                }
                lines.removeAll(QString());
                if (lines.isEmpty() && (node.is_string() || node.is_array()))
                    problem(node.source(), QStringLiteral("command: no command line to send"));
                step.commands = lines.join(QStringLiteral("\r\n"));
            } else if (k == QLatin1String("repeat")) {
                if (auto v = whole(k, node, 1, 1000000))
                    step.repeat = *v;
            } else if (k == QLatin1String("delay_ms")) {
                if (auto v = whole(k, node, 0, 86400000, QStringLiteral("ms")))
                    step.delayMs = *v;
            } else if (k == QLatin1String("on_fail")) {
                if (auto v = string(k, node)) {
                    const QString w = v->trimmed().toLower();
                    if (w != QLatin1String("stop") && w != QLatin1String("continue"))
                        problem(node.source(), QStringLiteral("on_fail \"%1\": stop or continue").arg(*v));
                    else
                        step.stopOnFail = w == QLatin1String("stop");
                }
            } else if (k == QLatin1String("expect")) {
                if (const auto* t = node.as_table())
                    readExpect(*t, step.expect);
                else
                    wrongType(k, node, QStringLiteral("a table ([step.expect])"));
            } else {
                sendKeys.removeLast();
                unknownKey(key, QStringLiteral("a step"),
                           "name, address, function, query, command, repeat, delay_ms, "
                           "on_fail, expect, wait_ms");
            }
        }

        const QString which =
            step.name.isEmpty() ? QStringLiteral("step %1").arg(number) : QStringLiteral("step \"%1\"").arg(step.name);
        if (wait) {
            step.waitOnly = true;
            if (!sendKeys.isEmpty())
                problem(wait->source(), QStringLiteral("%1: a step with wait_ms only waits; %2 belong%3 to a step "
                                                       "of its own")
                                            .arg(which, sendKeys.join(QStringLiteral(", ")),
                                                 sendKeys.size() == 1 ? QStringLiteral("s") : QString()));
            if (step.name.isEmpty())
                step.name = QStringLiteral("wait %1 ms").arg(step.waitMs);
            return;
        }
        if (step.name.isEmpty())
            problem(step.place, QStringLiteral("step %1 has no name").arg(number));
        if (!address)
            problem(step.place, QStringLiteral("%1 has no address").arg(which));

        // What it sends: a fixed function, a query or command lines.
        if (query && command)
            problem(command->source(), QStringLiteral("%1: a query or a command, not both").arg(which));
        const toml::node* request = function ? function : query ? query : command;
        if (!request) {
            problem(step.place, QStringLiteral("%1 sends nothing: give function, query or command (or only wait_ms "
                                               "for a pause)")
                                    .arg(which));
            return;
        }
        step.requestPlace = placeOf(request->source());
        if (!function)
            step.function = query ? fn::SendQuery : fn::SendCommand;
        else if (step.function.isEmpty())
            return; // named already
        else if (step.function == fn::SendCommand && !command)
            problem(function->source(), QStringLiteral("%1: function \"command\" needs the command key").arg(which));
        else if (query && step.function != fn::SendQuery)
            problem(query->source(), QStringLiteral("%1: query goes with function \"query\" only").arg(which));
        else if (command && step.function != fn::SendCommand)
            problem(command->source(), QStringLiteral("%1: command goes with function \"command\" only").arg(which));
        // function "query" without a query key asks the console's default code, 01.
    }

    TestPlan read(const toml::table& root)
    {
        TestPlan plan;
        const toml::node* steps = nullptr;
        for (auto&& [key, node] : root) {
            const QString k = qstr(key.str());
            if (k == QLatin1String("name")) {
                if (auto v = string(k, node))
                    plan.name = v->trimmed();
            } else if (k == QLatin1String("link") || k == QLatin1String("protocol") || k == QLatin1String("timing")) {
                const auto* table = node.as_table();
                if (!table)
                    wrongType(k, node, QStringLiteral("a table ([%1])").arg(k));
                else if (k == QLatin1String("link"))
                    readLink(*table, plan.settings);
                else if (k == QLatin1String("protocol"))
                    readProtocol(*table, plan.settings);
                else
                    readTiming(*table, plan.settings);
            } else if (k == QLatin1String("step")) {
                steps = &node;
            } else {
                unknownKey(key, QStringLiteral("the plan"), "name, link, protocol, timing, step");
            }
        }
        const auto* array = steps ? steps->as_array() : nullptr;
        if (steps && !array) {
            wrongType(QStringLiteral("step"), *steps, QStringLiteral("a list of steps ([[step]])"));
            return plan;
        }
        if (!array || array->empty()) {
            problem(SourcePlace{1, 1}, QStringLiteral("the plan has no step: give one [[step]] table or more"));
            return plan;
        }
        int number = 0;
        for (const toml::node& node : *array) {
            ++number;
            Step step;
            if (const auto* table = node.as_table())
                readStep(*table, step, number);
            else
                wrongType(QStringLiteral("step %1").arg(number), node, QStringLiteral("a table ([[step]])"));
            plan.steps << step;
        }
        return plan;
    }
};

} // namespace

PlanReading readPlan(const QByteArray& text)
{
    PlanReading reading;
    Reader reader;
    toml::table root;
    try {
        root = toml::parse(std::string_view(text.constData(), static_cast<size_t>(text.size())));
    } catch (const toml::parse_error& e) {
        reading.problems << PlanProblem{placeOf(e.source()), qstr(e.description())};
        return reading;
    }
    reading.plan = reader.read(root);
    reading.problems = reader.problems;
    // In the order of the file, as an editor's list of errors goes.
    std::stable_sort(reading.problems.begin(), reading.problems.end(), [](const PlanProblem& a, const PlanProblem& b) {
        return std::pair(a.place.line, a.place.column) < std::pair(b.place.line, b.place.column);
    });
    return reading;
}

PlanReading readPlanFile(const QString& path)
{
    QFile file(path);
    PlanReading reading;
    if (!file.open(QIODevice::ReadOnly)) {
        reading.problems << PlanProblem{{}, QStringLiteral("cannot be read: %1").arg(file.errorString())};
        return reading;
    }
    reading = readPlan(file.readAll());
    if (reading.ok() && reading.plan.name.isEmpty())
        reading.plan.name = QFileInfo(path).completeBaseName();
    return reading;
}

} // namespace tarvo::plans
