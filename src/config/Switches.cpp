#include "Switches.h"

#include "ConsoleModel.h"
#include "Number.h"

#include <QFileInfo>
#include <cmath>

namespace tarvo {

namespace switches {

QStringList tokenize(const QString& text)
{
    QStringList tokens;
    QString token;
    for (const QChar c : text + QStringLiteral(" -")) {
        if (c == QLatin1Char('-') || c == QLatin1Char(' ') || c == QLatin1Char('\t')) {
            if (token.contains(QLatin1Char('=')))
                tokens.append(token);
            token.clear();
        } else {
            token += c;
        }
    }
    return tokens;
}

Switches parseSwitches(const QString& text)
{
    Switches result;
    for (const QString& token : tokenize(text)) {
        const qsizetype eq = token.indexOf(QLatin1Char('='));
        Switches::Switch sw{token.left(eq).toLower(), token.mid(eq + 1)};
        if (sw.key == QLatin1String("silent")) {
            const auto n = parseNumber(sw.value);
            const double whole = n ? std::nearbyint(*n) : 0;
            if (!n || whole < -32768 || whole > 32767) {
                result.failure =
                    QStringLiteral("silent=%1 is not a number; the switches after it were not applied").arg(sw.value);
                break;
            }
            result.silent = whole == 1;
        }
        result.send = result.send || sw.key == QLatin1String("cmd");
        result.read = result.read || sw.key == QLatin1String("page");
        if (sw.key == QLatin1String("outputfile"))
            result.outputFile = sw.value;
        result.applied.append(sw);
    }
    return result;
}

bool isMemoryReadJob(const QString& text)
{
    const Switches s = parseSwitches(text);
    return s.read && (!s.send || !s.failure.isEmpty());
}

QString usage()
{
    return QStringLiteral(
        "Usage: tarvo [--site DIR] [key=value ...]\n"
        "Switches fill the console's fields (separated by blanks, tabs or hyphens; keys in any case):\n"
        "  com=N              serial link on COM<N>\n"
        "  speed=BPS          serial speed\n"
        "  tcp=HOST           TCP link to HOST\n"
        "  port=N             TCP port\n"
        "  timeoutdelay=MS    reply time-out\n"
        "  waitingdelay=MS    receive buffer scanning delay\n"
        "  controlleraddress=A  address A in slot #1, the only slot selected\n"
        "  cmd=HEX            send HEX once with the console's function and protocol; the console stays open\n"
        "  page=P firstaddress=HEX records=N recordsize=N outputfile=NAME\n"
        "                     read controller memory unattended into NAME, then exit\n"
        "  silent=1           do not open the dump in a text viewer\n"
        "  --site DIR         start in the site folder DIR: its Tarvo.cfg, Tarvo.ini, journals and dumps\n"
        "  --help, -h, /?     this text        --version   the version\n"
        "Exit status of a memory read (the reason on standard error when it is not 0):\n"
        "  0  every controller answered and the dump was written under the output name\n"
        "  1  a controller did not answer (its part of the dump is missing), or the dump could not be\n"
        "     written under the output name (it then stays in Memory.mem), or the read was interrupted\n"
        "  3  the link could not be opened, or was lost and not regained\n");
}

SiteOption takeSiteOption(QStringList& args)
{
    SiteOption site;
    for (qsizetype i = 0; i < args.size();) {
        const QString& a = args[i];
        if (a == QLatin1String("--site")) {
            if (i + 1 >= args.size()) {
                site.error = QStringLiteral("--site: the site folder is missing (--site DIR)");
                args.removeAt(i);
                continue;
            }
            site.folder = args[i + 1];
            args.remove(i, 2);
        } else if (a.startsWith(QLatin1String("--site="))) {
            site.folder = a.mid(7);
            args.removeAt(i);
            if (site.folder.isEmpty())
                site.error = QStringLiteral("--site: the site folder is missing (--site DIR)");
        } else {
            ++i;
        }
    }
    if (site.error.isEmpty() && !site.folder.isEmpty() && !QFileInfo(site.folder).isDir())
        site.error = QStringLiteral("--site %1: no such folder").arg(site.folder);
    return site;
}

void apply(const Switches& switches, ConsoleModel& model)
{
    for (const Switches::Switch& sw : switches.applied) {
        const QString& key = sw.key;
        const QString& value = sw.value;
        if (key == QLatin1String("com")) {
            model.setText(Field::ComPort, QStringLiteral("COM") + value);
            model.choose(Field::OpCOM);
        } else if (key == QLatin1String("speed")) {
            model.setText(Field::COMSpeed, value);
        } else if (key == QLatin1String("tcp")) {
            model.setText(Field::IP, value);
            model.choose(Field::OpTCP);
        } else if (key == QLatin1String("port")) {
            model.setText(Field::Port, value);
        } else if (key == QLatin1String("timeoutdelay")) {
            model.setText(Field::TimeOutDelay, value);
        } else if (key == QLatin1String("waitingdelay")) {
            model.setText(Field::WaitingDelay, value);
        } else if (key == QLatin1String("controlleraddress")) {
            for (int i = 1; i < ConsoleModel::kSlots; ++i)
                model.setCheck(Field::CheckAdr, i, 0);
            model.setCheck(Field::CheckAdr, 0, 1);
            model.setText(Field::Address, 0, value);
        } else if (key == QLatin1String("page")) {
            model.setText(Field::MemPage, value);
        } else if (key == QLatin1String("firstaddress")) {
            model.setText(Field::MemAddress, value);
        } else if (key == QLatin1String("records")) {
            model.setText(Field::MemRecordNumber, value);
        } else if (key == QLatin1String("recordsize")) {
            model.setText(Field::MemRecordSize, value);
        } else if (key == QLatin1String("cmd")) {
            model.setText(Field::Cmd, value);
        } else if (key == QLatin1String("silent")) {
            model.setSilent(switches.silent);
        }
    }
}

} // namespace switches

} // namespace tarvo
