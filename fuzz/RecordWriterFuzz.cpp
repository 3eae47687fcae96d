// The record writer and the identification texts over replies made from any bytes (as the exchange
// shows them: two digits and a space per byte) and over any raw text. Records must carry the reply's
// data in order, none lost or repeated.
//
// Input lines: control (raw or byte-list), page, first address, record size, record count, then the
// reply.
#include "Conversions.h"
#include "Errors.h"
#include "FuzzSupport.h"
#include "MemoryRead.h"
#include "Number.h"

using namespace tarvo;

namespace {
int32_t wholeOr(const QByteArray& text, int32_t fallback)
{
    try {
        return toInt32(QString::fromLatin1(text));
    } catch (const TarvoError&) {
        return fallback;
    }
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QList<QByteArray> in = fuzz::fields(data, size, 6);
    const bool raw = fuzz::control(in[0], 0) & 1;
    const QString page = QString::fromLatin1(in[1]);
    const double firstAddress = HexToDec(QString::fromLatin1(in[2]));
    const int32_t recordSize = wholeOr(in[3], 1);
    const int32_t count = wholeOr(in[4], 0);
    const QString reply = raw ? QString::fromLatin1(in[5]) : ByteArrayToHex(in[5], false);

    memdump::epromText(reply);
    memdump::romText(reply);
    QStringList lines;
    try {
        lines = memdump::recordLines(reply, page, firstAddress, recordSize, count);
    } catch (const TarvoError&) {
        return 0; // an address past the 32-bit range: the writer traces it and skips the reply
    }
    if (raw || lines.isEmpty())
        return 0;

    // Each line is "#<number> (<page>/<address>): " and then its data: recordSize bytes, the last
    // record possibly fewer. Joined, the data is the start of the reply's data bytes (the reply less
    // its first four and last three bytes), and no whole record of them is left out.
    const QByteArray dataBytes = in[5].mid(4, in[5].size() - 7);
    const qsizetype recordWidth = 3 * static_cast<qsizetype>(recordSize);
    QString joined;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString& line = lines[i];
        fuzz::require(line.startsWith(QLatin1Char('#')), "a record line starts with its number");
        const qsizetype colon = line.lastIndexOf(QStringLiteral("): ")); // data holds no ")"
        fuzz::require(colon > 0, "a record line has its address");
        const QString record = line.mid(colon + 3);
        fuzz::require(i + 1 == lines.size() || record.size() == recordWidth, "a record holds recordSize bytes");
        joined += record;
    }
    fuzz::require((QLatin1Char(' ') + ByteArrayToHex(dataBytes, false)).startsWith(joined),
                  "records carry the data in order");
    fuzz::require(lines.size() >= dataBytes.size() / recordSize, "no whole record is left out");
    return 0;
}
