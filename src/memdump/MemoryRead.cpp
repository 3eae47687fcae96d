#include "MemoryRead.h"

#include "Conversions.h"
#include "Errors.h"
#include "Number.h"
#include "Polling.h"
#include "Prompter.h"
#include "Requests.h"
#include "SafeFile.h"
#include "Trace.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <cmath>

namespace tarvo {

namespace {
const QString kCrLf = QStringLiteral("\r\n");
constexpr int kMaxRequestBytes = 200;

std::optional<int32_t> wholeNumber(const QString& text)
{
    try {
        return toInt32(text);
    } catch (const TarvoError&) {
        return std::nullopt;
    }
}

QString requestLine(const QString& page, const QString& address, int64_t length)
{
    return QStringLiteral("72 ") + ZeroPad(page, 2) + QLatin1Char(' ') + ZeroPad(address, 4) + QLatin1Char(' ') +
           ZeroPad(HexOf(static_cast<double>(length)), 2);
}

bool startDesktopViewer(const QString& path)
{
    const QString opener = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    return !opener.isEmpty() && QProcess::startDetached(opener, {path});
}
} // namespace

namespace memdump {

QString dumpFileName()
{
    return QStringLiteral("Memory.mem");
}
QString partFileName(int slot)
{
    return QStringLiteral("Memory%1.mem").arg(slot);
}

std::optional<QString> panelProblem(const QString& page, const QString& address, const QString& records,
                                    const QString& recordSize)
{
    if (page.size() > 2)
        return QStringLiteral("Page number can be maximum 2 digits");
    if (address.size() > 4)
        return QStringLiteral("Memory address can be maximum 4 hex digits");
    const auto n = wholeNumber(records);
    if (!n || *n <= 0)
        return QStringLiteral("Number of records can not be 0 ");
    const auto size = wholeNumber(recordSize);
    if (!size || *size <= 0)
        return QStringLiteral("Record size can not be 0 ");
    // One request carries at most 200 bytes and must hold at least one whole record.
    if (*size > kMaxRequestBytes)
        return QStringLiteral("Record size can be maximum 200");
    return std::nullopt;
}

QString memoryRequests(const QString& page, const QString& address, int32_t records, int32_t recordSize)
{
    const int64_t total = static_cast<int64_t>(records) * recordSize;
    if (total < kMaxRequestBytes)
        return requestLine(page, address, total);
    const int32_t per = kMaxRequestBytes / recordSize;
    const int32_t bytes = per * recordSize;
    const double first = HexToDec(address);
    const int32_t full = records / per;
    QString cmd;
    for (int32_t k = 0; k < full; ++k)
        cmd += requestLine(page, HexOf(first + static_cast<double>(k) * bytes), bytes) + kCrLf;
    if (static_cast<int64_t>(full) * per < records)
        cmd += requestLine(page, HexOf(first + static_cast<double>(full) * bytes),
                           static_cast<int64_t>(records - full * per) * recordSize) +
               kCrLf;
    return cmd;
}

std::optional<QString> epromText(const QString& t)
{
    if (t.size() < 38)
        return std::nullopt;
    return t.mid(15, 2) + QLatin1Char('/') + t.mid(18, 2) + QLatin1Char('/') + t.mid(21, 2) +
           QStringLiteral(" CHECKSUM:") + t.mid(24, 2) + t.mid(27, 2);
}

std::optional<QString> romText(const QString& t)
{
    if (t.size() < 47)
        return std::nullopt;
    return t.mid(9, 5) + t.mid(15, 2) + t.mid(18, 2) + t.mid(21, 8) + t.mid(30, 2) + t.mid(33, 2) + t.mid(36, 2);
}

QStringList recordLines(const QString& replyText, const QString& page, double firstAddress, int32_t recordSize,
                        int32_t count)
{
    QStringList lines;
    if (replyText.size() < 20 || recordSize <= 0)
        return lines;
    // The reply without its first four and last three bytes: a space and two digits per data byte.
    const QString data = replyText.mid(11, replyText.size() - 20);
    const double last = std::nearbyint(static_cast<double>(data.size()) / 3 / recordSize - 1);
    const qsizetype width = 3 * static_cast<qsizetype>(recordSize);
    for (int64_t r = 0; r <= static_cast<int64_t>(last); ++r) {
        const int64_t number = count + r;
        lines.append(QLatin1Char('#') + ZeroPad(QString::number(number + 1), 3) + QStringLiteral(" (") +
                     ZeroPad(page, 2) + QLatin1Char('/') +
                     ZeroPad(HexOf(firstAddress + static_cast<double>(number) * recordSize), 4) +
                     QStringLiteral("): ") + data.mid(static_cast<qsizetype>(r) * width, width));
    }
    return lines;
}

} // namespace memdump

MemoryRead::MemoryRead(const SettingsSource& settings, Polling& polling, Prompter& prompter, Trace& trace)
    : m_settings(settings), m_polling(polling), m_prompter(prompter), m_trace(trace)
{
    openViewer = startDesktopViewer;
}

void MemoryRead::onReply(const QString& text, int slot)
{
    if (slot < 0 || slot >= kSlotCount)
        return;
    if (m_state.MemDumpOn) {
        m_answered[static_cast<size_t>(slot)] = true;
        WriteMemoryRecord(text, slot);
    }
    if (m_state.MemEpromOn) {
        if (const auto eprom = memdump::epromText(text))
            m_state.MemEprom[static_cast<size_t>(slot)] = *eprom;
    }
    if (m_state.MemRomOn) {
        if (const auto rom = memdump::romText(text))
            m_state.MemRom[static_cast<size_t>(slot)] = *rom;
    }
}

void MemoryRead::WriteMemoryRecord(const QString& text, int slot)
{
    try {
        if (text.size() < 20 || slot < 0 || slot >= kSlotCount)
            return;
        const MemoryPanel panel = m_settings.memoryPanel();
        const int32_t size = toInt32(panel.recordSize);
        auto& count = m_state.MemRecordCount[static_cast<size_t>(slot)];
        const QStringList lines = memdump::recordLines(text, panel.page, HexToDec(panel.address), size, count);
        if (lines.isEmpty())
            return;
        QFile part(memdump::partFileName(slot));
        if (!part.open(QIODevice::WriteOnly | QIODevice::Append)) {
            m_trace.write(QStringLiteral("WriteMemoryRecord:: Error : ") + part.errorString());
            return;
        }
        part.write((lines.join(kCrLf) + kCrLf).toLatin1());
        count += static_cast<int32_t>(lines.size());
    } catch (const TarvoError& e) {
        m_trace.write(QStringLiteral("WriteMemoryRecord:: Error : ") + e.description());
    }
}

void MemoryRead::send(const QString& requests)
{
    // The requests go out as command lines whatever function the operator has chosen.
    SettingsOverlay settings(m_settings);
    settings.own.function = fn::SendCommand;
    settings.own.commands = requests;
    m_polling.sendOnce(&settings);
}

void MemoryRead::phase(bool& flag, const QString& requests)
{
    if (m_abort)
        return;
    flag = true;
    emit requestsChanged(requests);
    send(requests);
    flag = false;
}

bool MemoryRead::read(bool silent)
{
    // A read is three sends in a row: it never starts inside another cycle.
    if (m_reading || m_polling.running())
        return false;
    const MemoryPanel panel = m_settings.memoryPanel();
    if (const auto problem = memdump::panelProblem(panel.page, panel.address, panel.records, panel.recordSize)) {
        m_prompter.message(QStringLiteral("Tarvo"), *problem, Prompter::Icon::None);
        return false;
    }

    m_reading = true;
    m_abort = false;
    m_outcome = {};
    m_answered = {};
    const int connectFailures = m_polling.connectFailures();
    emit started();

    // Only the files this read writes are removed; any other .mem file of the user stays.
    QFile::remove(memdump::dumpFileName());
    for (int slot = 0; slot < kSlotCount; ++slot)
        QFile::remove(memdump::partFileName(slot));
    // A controller that does not answer an identification request this time must not show the one
    // it (or another controller at that slot) gave in an earlier read: both texts start empty.
    for (int slot = 0; slot < kSlotCount; ++slot) {
        m_state.MemRecordCount[static_cast<size_t>(slot)] = 0;
        m_state.MemEprom[static_cast<size_t>(slot)].clear();
        m_state.MemRom[static_cast<size_t>(slot)].clear();
    }

    phase(m_state.MemEpromOn, QStringLiteral("73"));
    phase(m_state.MemRomOn, QStringLiteral("71"));

    m_state.MemDumpOn = true;
    QString requests;
    try {
        // The panel may have been edited during the first two phases: convert it again.
        const MemoryPanel now = m_settings.memoryPanel();
        const int32_t records = toInt32(now.records);
        const int32_t size = toInt32(now.recordSize);
        if (records > 0 && size > 0 && size <= kMaxRequestBytes)
            requests = memdump::memoryRequests(now.page, now.address, records, size);
    } catch (const TarvoError& e) {
        m_trace.write(QStringLiteral("CmdReadMemory:: Error : ") + e.description());
    }
    emit requestsChanged(requests);
    const QList<int> asked = m_settings.selectedSlots();
    if (!m_abort)
        send(requests);
    m_outcome.linkDown = m_polling.connectFailures() != connectFailures;
    for (int slot : asked) {
        if (!m_answered[static_cast<size_t>(slot)])
            m_outcome.silentSlots.append(slot);
    }

    mergeDump();
    if (!silent && !m_abort && openViewer && !openViewer(memdump::dumpFileName()))
        m_trace.write(QStringLiteral("CmdReadMemory:: no text viewer could be started; the dump is in ") +
                      memdump::dumpFileName());
    m_state.MemDumpOn = false;
    m_reading = false;
    emit ended();
    return true;
}

void MemoryRead::mergeDump()
{
    QByteArray out;
    const QByteArray stars = QByteArray(84, '*') + "\r\n";
    for (int slot = 0; slot < kSlotCount; ++slot) {
        QFile part(memdump::partFileName(slot));
        if (!part.exists() || !part.open(QIODevice::ReadOnly))
            continue;
        out += stars;
        out += (QStringLiteral(" CTR#%1  Address:").arg(slot + 1) + m_settings.address(slot) +
                QStringLiteral("  EPROM:") + m_state.MemEprom[static_cast<size_t>(slot)] + QStringLiteral("  ROM:") +
                m_state.MemRom[static_cast<size_t>(slot)] + kCrLf)
                   .toLatin1();
        out += stars;
        out += "\r\n";
        QByteArray body = part.readAll();
        if (!body.isEmpty() && !body.endsWith('\n'))
            body += "\r\n";
        out += body;
        out += "\r\n\r\n";
    }
    QString error;
    if (!writeFileAtomically(memdump::dumpFileName(), out, &error)) {
        m_trace.write(QStringLiteral("CmdReadMemory:: Error : ") + error);
        m_prompter.message(QStringLiteral("Tarvo"), QStringLiteral("The memory dump could not be written: ") + error,
                           Prompter::Icon::Critical);
    }
}

} // namespace tarvo
