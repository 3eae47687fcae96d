// read-memory: the console's memory read of each address, its dump written to --output.

#include "Run.h"

#include "MemoryRead.h"
#include "Requests.h"

#include <QFile>
#include <QFileInfo>
#include <unistd.h>

namespace tarvo::cli {

namespace {

// The name the dump goes to, taken before anything is sent: created new and empty, so that an existing
// file is never touched and a folder that cannot be written is known at once. It is removed again
// unless the whole dump went into it (an incomplete dump under the name a script waits for would pass
// for a whole one), whichever way the run ends.
class DumpFile {
public:
    ~DumpFile() { discard(); }

    std::optional<QString> create(const QString& name)
    {
        // The run works in a folder of its own: the name is made whole now.
        m_file.setFileName(QFileInfo(name).absoluteFilePath());
        if (m_file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
            return std::nullopt;
        return QStringLiteral("--output %1: %2")
            .arg(name, QFile::exists(name) ? QStringLiteral("the file exists; it is never overwritten")
                                           : m_file.errorString());
    }
    QString path() const { return m_file.fileName(); }

    // The dump, on the disk before the run says it is there. False (and the file gone) when it
    // could not be written.
    bool keep(const QByteArray& bytes)
    {
        if (m_file.write(bytes) != bytes.size() || !m_file.flush() || ::fsync(m_file.handle()) != 0) {
            say(QStringLiteral("cannot write %1: %2").arg(path(), m_file.errorString()));
            discard();
            return false;
        }
        m_file.close();
        return true;
    }
    void discard()
    {
        if (!m_file.isOpen())
            return;
        m_file.close();
        m_file.remove();
    }

private:
    QFile m_file;
};

int read(BusRun& run, DumpFile& dump)
{
    const FixedSettings& settings = run.plan.settings;
    MemoryRead& memoryRead = run.core().memoryRead;
    RecordWriter writer(run.options.format, RecordWriter::Kind::Memory);
    writer.writeHeader();
    run.progress.show(QStringLiteral("reading memory..."));
    memoryRead.read(true);
    run.progress.clear();

    const bool complete = !run.interrupted() && !run.link().down();
    QString output = dump.path();
    if (complete) {
        QFile merged(memdump::dumpFileName());
        QByteArray bytes;
        if (merged.open(QIODevice::ReadOnly))
            bytes = merged.readAll();
        if (!dump.keep(bytes))
            output.clear();
    } else {
        dump.discard();
        output.clear();
    }

    Tally tally;
    for (int slot : settings.selectedSlots()) {
        std::optional<AddressResult> r = run.collector().take(slot);
        if (!r) {
            if (!complete)
                continue;
            r = AddressResult{};
            r->time = QDateTime::currentDateTime();
            r->address = settings.address(slot);
            r->function = fn::SendCommand;
        }
        if (r->verdict == JournalRecord::Verdict::Stopped)
            continue;
        const MemoryExtra extra{memoryRead.state().MemRecordCount[static_cast<size_t>(slot)], output};
        writer.write(*r, &extra);
        tally.add(r->verdict);
    }
    const int code = run.finish(tally);
    if (code == status::kOk && output.isEmpty())
        return status::kNoAnswer;
    return code;
}

} // namespace

int readMemory(const Options& options)
{
    BusRun run(options);
    DumpFile dump;
    return run.exec(
        [&]() -> std::optional<QString> {
            if (run.plan.settings.protocol() == Protocol::Bioscrypt)
                return QStringLiteral("the memory read's requests (73, 71, 72) are no Bioscrypt reader's commands; "
                                      "nothing was sent");
            return dump.create(options.output);
        },
        [&] { return read(run, dump); });
}

} // namespace tarvo::cli
