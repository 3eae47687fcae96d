#include "IniFile.h"

#include "ConsoleModel.h"
#include "LinkSettings.h"

#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QVariant>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <unistd.h>
#include <utility>

namespace tarvo::config {

namespace {

// One setting of the file: its key, and how it is taken from and put into the console. A value of
// the wrong kind is not applied (set returns without touching the setting).
struct Entry {
    QString key;
    std::function<QVariant(const ConsoleModel&)> get;
    std::function<void(ConsoleModel&, const QVariant&)> set;
};

template <typename F> Entry boolEntry(const char* key, F member)
{
    return {QString::fromLatin1(key), [member](const ConsoleModel& m) { return QVariant(member(m)); },
            [member](ConsoleModel& m, const QVariant& v) {
                const QString t = v.toString().trimmed().toLower();
                if (t == QLatin1String("true") || t == QLatin1String("false"))
                    member(m) = t == QLatin1String("true");
            }};
}

template <typename F> Entry textEntry(const char* key, F member)
{
    return {QString::fromLatin1(key), [member](const ConsoleModel& m) { return QVariant(member(m)); },
            [member](ConsoleModel& m, const QVariant& v) {
                if (v.canConvert<QString>())
                    member(m) = v.toString();
            }};
}

// A whole number from `low` to `high`; anything else leaves the setting as it was.
template <typename F> Entry intEntry(const char* key, int low, int high, F member)
{
    return {QString::fromLatin1(key), [member](const ConsoleModel& m) { return QVariant(member(m)); },
            [member, low, high](ConsoleModel& m, const QVariant& v) {
                bool ok = false;
                const int n = v.toString().trimmed().toInt(&ok);
                if (ok && n >= low && n <= high)
                    member(m) = n;
            }};
}

template <typename F> Entry bytesEntry(const char* key, F member)
{
    return {QString::fromLatin1(key), [member](const ConsoleModel& m) { return QVariant(member(m)); },
            [member](ConsoleModel& m, const QVariant& v) {
                if (v.typeId() == QMetaType::QByteArray)
                    member(m) = v.toByteArray();
            }};
}

// One of a few words, in either case, each naming a value; anything else leaves the setting as it
// was. The first word of a value is the one written.
template <typename T, typename F>
Entry wordEntry(const char* key, std::initializer_list<std::pair<const char*, T>> words, F member)
{
    QList<std::pair<QString, T>> table;
    for (const auto& [word, value] : words)
        table.append({QString::fromLatin1(word), value});
    return {QString::fromLatin1(key),
            [member, table](const ConsoleModel& m) {
                for (const auto& [word, value] : table) {
                    if (value == member(m))
                        return QVariant(word);
                }
                return QVariant(table.first().first);
            },
            [member, table](ConsoleModel& m, const QVariant& v) {
                const QString t = v.toString().trimmed().toLower();
                for (const auto& [word, value] : table) {
                    if (t == word) {
                        member(m) = value;
                        return;
                    }
                }
            }};
}

// A whole number of milliseconds within what the console offers.
template <typename F> Entry millisecondsEntry(const char* key, F member)
{
    return {QString::fromLatin1(key), [member](const ConsoleModel& m) { return QVariant(member(m)); },
            [member](ConsoleModel& m, const QVariant& v) {
                bool ok = false;
                const int ms = v.toString().trimmed().toInt(&ok);
                if (ok && ms >= 0 && ms <= Rs485Options::kMaxDelayMs)
                    member(m) = ms;
            }};
}

// Every setting the file holds, group by group. The journal's keys are read by scripts and site
// folders too: their names and values stay as they are.
const QList<Entry>& entries()
{
    static const QList<Entry> table = {
        boolEntry(
            "journal/toFile", [](auto& m) -> auto& { return m.ini.journal.toFile; }),
        textEntry(
            "journal/folder", [](auto& m) -> auto& { return m.ini.journal.folder; }),
        bytesEntry(
            "window/geometry", [](auto& m) -> auto& { return m.ini.window.geometry; }),
        bytesEntry(
            "window/state", [](auto& m) -> auto& { return m.ini.window.state; }),
        // The line as "8E1"; anything else leaves the console's own 8N2.
        {QStringLiteral("serial/line"), [](const ConsoleModel& m) { return QVariant(m.ini.serial.line); },
         [](ConsoleModel& m, const QVariant& v) {
             if (const auto f = LineFormat::parse(v.toString()))
                 m.ini.serial.line = f->text();
         }},
        {QStringLiteral("serial/flow"),
         [](const ConsoleModel& m) {
             return QVariant(m.ini.serial.rtsCts ? QStringLiteral("rtscts") : QStringLiteral("none"));
         },
         [](ConsoleModel& m, const QVariant& v) {
             const QString t = v.toString().trimmed().toLower();
             if (t == QLatin1String("rtscts") || t == QLatin1String("none"))
                 m.ini.serial.rtsCts = t == QLatin1String("rtscts");
         }},
        boolEntry(
            "serial/rs485", [](auto& m) -> auto& { return m.ini.serial.rs485; }),
        boolEntry(
            "serial/rtsOnSend", [](auto& m) -> auto& { return m.ini.serial.rtsOnSend; }),
        millisecondsEntry(
            "serial/delayBeforeMs", [](auto& m) -> auto& { return m.ini.serial.delayBeforeMs; }),
        millisecondsEntry(
            "serial/delayAfterMs", [](auto& m) -> auto& { return m.ini.serial.delayAfterMs; }),
        boolEntry(
            "serial/dropEcho", [](auto& m) -> auto& { return m.ini.serial.dropEcho; }),
        boolEntry(
            "serial/lowLatency", [](auto& m) -> auto& { return m.ini.serial.lowLatency; }),
        textEntry(
            "census/range", [](auto& m) -> auto& { return m.ini.census.range; }),
        textEntry(
            "census/speeds", [](auto& m) -> auto& { return m.ini.census.speeds; }),
        textEntry(
            "census/function", [](auto& m) -> auto& { return m.ini.census.function; }),
        textEntry(
            "census/command", [](auto& m) -> auto& { return m.ini.census.command; }),
        intEntry(
            "census/timeout", 1, 600000, [](auto& m) -> auto& { return m.ini.census.timeoutMs; }),
        intEntry(
            "census/tries", 1, 3, [](auto& m) -> auto& { return m.ini.census.tries; }),
        intEntry(
            "monitor/gap", 0, 10000, [](auto& m) -> auto& { return m.ini.monitor.gapMs; }),
        textEntry(
            "plans/last", [](auto& m) -> auto& { return m.ini.plans.last; }),
        intEntry(
            "timeline/span", 0, 400 * 24 * 3600, [](auto& m) -> auto& { return m.ini.timeline.spanSeconds; }),
        boolEntry(
            "timeline/firstByte", [](auto& m) -> auto& { return m.ini.timeline.firstByte; }),
        boolEntry(
            "timeline/line", [](auto& m) -> auto& { return m.ini.timeline.line; }),
        boolEntry(
            "timeline/scalePerLane", [](auto& m) -> auto& { return m.ini.timeline.scalePerLane; }),
        // The network link's transport and framing: words that scripts and site folders may write.
        wordEntry<Transport>(
            "tcp/transport", {{"tcp", Transport::Tcp}, {"udp", Transport::Udp}},
            [](auto& m) -> auto& { return m.ini.tcp.transport; }),
        wordEntry<NetFraming>(
            "tcp/framing", {{"raw", NetFraming::Raw}, {"mbap", NetFraming::Mbap}},
            [](auto& m) -> auto& { return m.ini.tcp.framing; }),
        textEntry(
            "site/name", [](auto& m) -> auto& { return m.ini.site.name; }),
        textEntry(
            "site/technician", [](auto& m) -> auto& { return m.ini.site.technician; }),
        intEntry(
            "report/minSuccessPercent", 0, 100, [](auto& m) -> auto& { return m.ini.report.minSuccessPercent; }),
        // Empty when there is no mark on the reply time.
        {QStringLiteral("report/maxP95ReplyMs"),
         [](const ConsoleModel& m) {
             return m.ini.report.maxP95ReplyMs < 0 ? QVariant(QString()) : QVariant(m.ini.report.maxP95ReplyMs);
         },
         [](ConsoleModel& m, const QVariant& v) {
             const QString t = v.toString().trimmed();
             bool ok = false;
             const int n = t.toInt(&ok);
             if (t.isEmpty())
                 m.ini.report.maxP95ReplyMs = -1;
             else if (ok && n >= 0 && n <= 600000)
                 m.ini.report.maxP95ReplyMs = n;
         }},
    };
    // One name per slot, slots/name1 to slots/name32.
    static const QList<Entry> withSlots = [] {
        QList<Entry> all = table;
        for (int i = 0; i < 32; ++i)
            all.append(textEntry(
                QStringLiteral("slots/name%1").arg(i + 1).toLatin1().constData(), [i](auto& m) -> auto& {
                    return m.ini.slotNames[static_cast<size_t>(i)];
                }));
        return all;
    }();
    return withSlots;
}

} // namespace

QString iniFileName()
{
    return QStringLiteral("Tarvo.ini");
}

QStringList iniKeys()
{
    QStringList keys;
    for (const Entry& e : entries())
        keys << e.key;
    return keys;
}

void ReadIni(ConsoleModel& model, const QString& path)
{
    if (!QFileInfo(path).isReadable())
        return;
    QSettings file(path, QSettings::IniFormat);
    if (file.status() != QSettings::NoError)
        return;
    for (const Entry& e : entries()) {
        if (file.contains(e.key))
            e.set(model, file.value(e.key));
    }
}

bool SaveIni(const ConsoleModel& model, const QString& path, QString* error)
{
    auto fail = [&](const QString& what) {
        if (error)
            *error = what;
        return false;
    };
    // QSettings writes the new file under a name of its own beside the old one; it is read back and
    // compared before it replaces the old file, so a short write (a full disk) never replaces it.
    const QString target = QFileInfo(path).absoluteFilePath();
    const QString temp = target + QStringLiteral(".new%1").arg(::getpid());
    QFile::remove(temp);
    {
        QSettings out(temp, QSettings::IniFormat);
        for (const Entry& e : entries())
            out.setValue(e.key, e.get(model));
        out.sync();
        if (out.status() != QSettings::NoError) {
            QFile::remove(temp);
            return fail(QStringLiteral("cannot write %1").arg(path));
        }
    }
    {
        QSettings back(temp, QSettings::IniFormat);
        for (const Entry& e : entries()) {
            if (back.status() != QSettings::NoError || back.value(e.key) != e.get(model)) {
                QFile::remove(temp);
                return fail(QStringLiteral("cannot write %1: what was written does not read back").arg(path));
            }
        }
    }
    if (std::rename(QFile::encodeName(temp).constData(), QFile::encodeName(target).constData()) != 0) {
        const int err = errno;
        QFile::remove(temp);
        return fail(QStringLiteral("cannot replace %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(err))));
    }
    return true;
}

} // namespace tarvo::config
