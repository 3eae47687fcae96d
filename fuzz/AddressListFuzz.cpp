// The census's address range, the address list of tarvo-cli's --address and the speed list, over any
// text. A refusal is expected; what is accepted must be what the text said: addresses 0 to 65535, a
// range whole and ascending, a list without repeats that its own text reads back the same, speeds in
// their bounds and each once.
//
// Input lines: the range, the address list, the speed list.
#include "AddressList.h"
#include "FuzzSupport.h"

#include <QSet>

using namespace tarvo;

namespace {
void requireAddresses(const QList<int>& addresses)
{
    fuzz::require(!addresses.isEmpty(), "an accepted list is never empty");
    QSet<int> seen;
    for (int a : addresses) {
        fuzz::require(a >= 0 && a <= 65535, "addresses are 0 to 65535");
        fuzz::require(!seen.contains(a), "each address once");
        seen.insert(a);
    }
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QList<QByteArray> in = fuzz::fields(data, size, 3);

    QString why;
    if (const auto range = parseAddressRange(QString::fromUtf8(in[0]), &why)) {
        requireAddresses(*range);
        for (qsizetype i = 1; i < range->size(); ++i)
            fuzz::require((*range)[i] == (*range)[i - 1] + 1, "a range is whole and ascending");
        fuzz::require(parseAddressList(addressListText(*range)) == *range, "a range's text reads back");
    } else {
        fuzz::require(!why.isEmpty(), "a refused range says why");
    }

    why.clear();
    if (const auto list = parseAddressList(QString::fromUtf8(in[1]), &why)) {
        requireAddresses(*list);
        fuzz::require(parseAddressList(addressListText(*list)) == *list, "a list's text reads back");
    } else {
        fuzz::require(!why.isEmpty(), "a refused list says why");
    }

    if (const auto speeds = parseSpeedList(QString::fromUtf8(in[2]))) {
        QSet<int> seen;
        for (int s : *speeds) {
            fuzz::require(s >= 50 && s <= 4000000, "speeds are 50 to 4000000 bit/s");
            fuzz::require(!seen.contains(s), "each speed once");
            seen.insert(s);
        }
    }
    return 0;
}
