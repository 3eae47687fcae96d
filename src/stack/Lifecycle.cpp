#include "Lifecycle.h"

#include "ConfigFile.h"
#include "ConsoleModel.h"
#include "IniFile.h"
#include "Link.h"
#include "MemoryRead.h"
#include "Polling.h"
#include "Switches.h"
#include "TarvoVersion.h"
#include "Trace.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace tarvo {

Lifecycle::Lifecycle(ConsoleModel& model, Link& link, Polling& polling, MemoryRead& memoryRead, Trace& trace)
    : m_model(model), m_link(link), m_polling(polling), m_memoryRead(memoryRead), m_trace(trace)
{
}

QString Lifecycle::version()
{
    return QStringLiteral(TARVO_VERSION);
}

Lifecycle::LoadResult Lifecycle::load(const QString& argumentText)
{
    config::ReadConfig(m_model);
    config::ReadIni(m_model);
    const LoadResult parsed = ParseCommandLine(argumentText + QLatin1Char(' '));
    if (parsed.endProgram)
        return parsed;
    m_model.title += QStringLiteral("  Version ") + version();
    m_model.UpdateLinkOptions();
    return parsed;
}

QString Lifecycle::close()
{
    try {
        m_link.Disconnect();
    } catch (...) {
    }
    if (m_model.check(Field::SaveOnExit) != 1)
        return {};
    return save();
}

QString Lifecycle::save()
{
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

Lifecycle::SiteResult Lifecycle::openSite(const QString& folder)
{
    SiteResult result;
    if (m_polling.running() || m_memoryRead.reading()) {
        result.problem = QStringLiteral("Stop the polling or the memory read first");
        return result;
    }
    const QFileInfo target(folder);
    if (!target.isDir() || !target.isWritable()) {
        result.problem =
            QStringLiteral("%1 is no folder the console can work in").arg(QDir::toNativeSeparators(folder));
        return result;
    }
    result.problem = close();
    if (!result.problem.isEmpty())
        return result;
    if (!QDir::setCurrent(target.absoluteFilePath())) {
        result.problem = QStringLiteral("cannot work in %1").arg(QDir::toNativeSeparators(folder));
        return result;
    }
    m_model.reset();
    load(QString());
    result.opened = true;
    return result;
}

bool Lifecycle::requestClose()
{
    if (m_polling.running() || m_memoryRead.reading()) {
        m_closePending = true;
        m_memoryRead.requestAbort();
        m_polling.stop();
        return false;
    }
    m_closePending = false;
    lastUnloadProblem = close();
    return true;
}

void Lifecycle::cycleEnded()
{
    if (m_closePending && !m_polling.running() && !m_memoryRead.reading() && closeNow)
        closeNow();
}

Lifecycle::LoadResult Lifecycle::ParseCommandLine(const QString& commandLine)
{
    m_model.setCheck(Field::SaveOnExit, commandLine.trimmed().isEmpty() ? 1 : 0);
    const switches::Switches parsed = switches::parseSwitches(commandLine);
    switches::apply(parsed, m_model);

    LoadResult result;
    if (!parsed.failure.isEmpty()) {
        result.reason = parsed.failure;
        if (parsed.read) { // a memory-read job that cannot run still ends the program
            result.endProgram = true;
            result.exitCode = 1;
        }
        return result;
    }
    if (parsed.send) {
        m_polling.sendOnce();
        return result;
    }
    if (!parsed.read)
        return result;

    result.endProgram = true;
    result.exitCode = 1;
    if (!m_memoryRead.read(m_model.silent())) {
        result.reason = QStringLiteral("the memory read did not run (see the message above)");
        return result;
    }
    const QString dump = memdump::dumpFileName();
    const QString& outputFile = parsed.outputFile;
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

    // A dump stored under its name holds only what was read: the run says so when that was not all.
    const QString where = result.exitCode == 0 ? outputFile : dump;
    const MemoryRead::Outcome& got = m_memoryRead.outcome();
    if (got.linkDown && !m_memoryRead.aborted()) {
        const QString link = m_model.serialLink()
                                 ? QStringLiteral("the serial port %1").arg(m_model.text(Field::ComPort))
                                 : QStringLiteral("%1:%2").arg(m_model.text(Field::IP), m_model.text(Field::Port));
        result.exitCode = 3;
        result.reason = QStringLiteral("cannot open the link to %1; what was read is in %2").arg(link, where);
    } else if (result.exitCode == 0 && !got.silentSlots.isEmpty()) {
        QStringList silent;
        for (int slot : got.silentSlots)
            silent << QStringLiteral("%1 (slot #%2)").arg(m_model.text(Field::Address, slot)).arg(slot + 1);
        result.exitCode = 1;
        result.reason = QStringLiteral("no answer from controller address %1; what was read is in %2")
                            .arg(silent.join(QStringLiteral(", ")), where);
    }
    return result;
}

} // namespace tarvo
