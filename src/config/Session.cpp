#include "Session.h"

#include "ConfigFile.h"
#include "ConsoleModel.h"
#include "Errors.h"
#include "IniFile.h"
#include "Link.h"
#include "MemoryRead.h"
#include "Number.h"
#include "Polling.h"
#include "TarvoVersion.h"
#include "Trace.h"

#include <QFile>
#include <cmath>

namespace tarvo {

namespace cli {

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
        "Usage: tarvo [key=value ...]\n"
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
        "Exit status of a memory read: 0 when the dump was written under the output name; 1 otherwise,\n"
        "with the reason on standard error (the dump then stays in Memory.mem).\n"
        "  --help, -h, /?     this text        --version   the version\n");
}

} // namespace cli

Session::Session(ConsoleModel& model, Link& link, Polling& polling, MemoryRead& memoryRead, Trace& trace)
    : m_model(model), m_link(link), m_polling(polling), m_memoryRead(memoryRead), m_trace(trace)
{
}

QString Session::version()
{
    return QStringLiteral(TARVO_VERSION);
}

Session::LoadResult Session::Form_Load(const QString& argumentText)
{
    config::ReadConfig(m_model);
    config::ReadIni(m_model);
    m_model.CommandLine = argumentText + QLatin1Char(' ');
    const LoadResult parsed = ParseCommandLine();
    m_model.CommandLine.clear();
    if (parsed.endProgram)
        return parsed;
    m_model.title += QStringLiteral("  Version ") + version();
    m_model.UpdateLinkOptions();
    return parsed;
}

QString Session::Form_Unload()
{
    try {
        m_link.Disconnect();
    } catch (...) {
    }
    if (m_model.check(Field::SaveOnExit) != 1)
        return {};
    QString error;
    QString problem;
    if (!config::SaveConfig(m_model, config::configFileName(), &error)) {
        problem = QStringLiteral("The settings were not saved: ") + error;
        m_trace.write(QStringLiteral("SaveConfig:: Error : ") + error);
    }
    if (!config::SaveIni(m_model, config::iniFileName(), &error)) {
        if (problem.isEmpty())
            problem = QStringLiteral("The settings were not saved: ") + error;
        m_trace.write(QStringLiteral("SaveIni:: Error : ") + error);
    }
    return problem;
}

bool Session::requestClose()
{
    if (m_polling.cycleRunning() || m_memoryRead.reading()) {
        m_closePending = true;
        m_memoryRead.requestAbort();
        m_polling.CmdStop_Click();
        return false;
    }
    m_closePending = false;
    lastUnloadProblem = Form_Unload();
    return true;
}

void Session::cycleEnded()
{
    if (m_closePending && !m_polling.cycleRunning() && !m_memoryRead.reading() && closeNow)
        closeNow();
}

Session::LoadResult Session::ParseCommandLine()
{
    m_model.setCheck(Field::SaveOnExit, m_model.CommandLine.trimmed().isEmpty() ? 1 : 0);

    const cli::Switches switches = cli::parseSwitches(m_model.CommandLine);
    for (const cli::Switches::Switch& sw : switches.applied) {
        const QString& key = sw.key;
        const QString& value = sw.value;
        if (key == QLatin1String("com")) {
            m_model.setText(Field::ComPort, QStringLiteral("COM") + value);
            m_model.choose(Field::OpCOM);
        } else if (key == QLatin1String("speed")) {
            m_model.setText(Field::COMSpeed, value);
        } else if (key == QLatin1String("tcp")) {
            m_model.setText(Field::IP, value);
            m_model.choose(Field::OpTCP);
        } else if (key == QLatin1String("port")) {
            m_model.setText(Field::Port, value);
        } else if (key == QLatin1String("timeoutdelay")) {
            m_model.setText(Field::TimeOutDelay, value);
        } else if (key == QLatin1String("waitingdelay")) {
            m_model.setText(Field::WaitingDelay, value);
        } else if (key == QLatin1String("controlleraddress")) {
            for (int i = 1; i < ConsoleModel::kSlots; ++i)
                m_model.setCheck(Field::CheckAdr, i, 0);
            m_model.setCheck(Field::CheckAdr, 0, 1);
            m_model.setText(Field::Address, 0, value);
        } else if (key == QLatin1String("page")) {
            m_model.setText(Field::MemPage, value);
        } else if (key == QLatin1String("firstaddress")) {
            m_model.setText(Field::MemAddress, value);
        } else if (key == QLatin1String("records")) {
            m_model.setText(Field::MemRecordNumber, value);
        } else if (key == QLatin1String("recordsize")) {
            m_model.setText(Field::MemRecordSize, value);
        } else if (key == QLatin1String("cmd")) {
            m_model.setText(Field::Cmd, value);
        } else if (key == QLatin1String("silent")) {
            m_model.Silent = switches.silent;
        }
    }
    const QString& failure = switches.failure;
    const bool send = switches.send;
    const bool read = switches.read;
    const QString& outputFile = switches.outputFile;

    LoadResult result;
    if (!failure.isEmpty()) {
        result.reason = failure;
        if (read) { // a memory-read job that cannot run still ends the program
            result.endProgram = true;
            result.exitCode = 1;
        }
        return result;
    }
    if (send) {
        m_polling.CmdSend_Click();
        return result;
    }
    if (!read)
        return result;

    result.endProgram = true;
    result.exitCode = 1;
    if (!m_memoryRead.CmdReadMemory_Click()) {
        result.reason = QStringLiteral("the memory read did not run (see the message above)");
        return result;
    }
    const QString dump = memdump::dumpFileName();
    if (m_memoryRead.aborted())
        result.reason = QStringLiteral("interrupted; what was read is in %1").arg(dump);
    else if (outputFile.isEmpty())
        result.reason = QStringLiteral("no outputfile given; the dump is in %1").arg(dump);
    else if (QFile::exists(outputFile))
        result.reason =
            QStringLiteral("%1 already exists and is left as it is; the dump is in %2").arg(outputFile, dump);
    else if (!QFile::exists(dump))
        result.reason = QStringLiteral("the memory read wrote no %1").arg(dump);
    else if (!QFile::rename(dump, outputFile))
        result.reason = QStringLiteral("cannot rename %1 to %2; the dump is in %1").arg(dump, outputFile);
    else
        result.exitCode = 0;
    return result;
}

} // namespace tarvo
