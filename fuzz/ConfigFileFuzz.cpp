// The settings reader over any file content, and the round trip: what SaveConfig writes from the
// console that was read, ReadConfig must bring back unchanged (a saved setting that does not come back
// is lost at the next start).
#include "ConfigFile.h"
#include "ConsoleModel.h"
#include "FuzzSupport.h"

#include <QFile>
#include <QTemporaryDir>

using namespace tarvo;

namespace {
// Every value the console holds: a setting the file carries, or what a choice read from it implies.
int valueOf(const ConsoleModel& m, FieldRef ref)
{
    switch (m.kind(ref)) {
    case FieldKind::Check:
        return m.check(ref);
    case FieldKind::Option:
        return m.selected(ref.field) ? 1 : 0;
    case FieldKind::List:
        return m.listIndex(ref.field);
    default:
        return 0;
    }
}

bool sameValues(const ConsoleModel& a, const ConsoleModel& b)
{
    for (const FieldRef& ref : ConsoleModel::allFields()) {
        if (a.text(ref) != b.text(ref) || valueOf(a, ref) != valueOf(b, ref))
            return false;
    }
    return true;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static QTemporaryDir dir;
    const QString input = dir.filePath(QStringLiteral("input.cfg"));
    const QString first = dir.filePath(QStringLiteral("first.cfg"));
    {
        QFile f(input);
        fuzz::require(f.open(QIODevice::WriteOnly | QIODevice::Truncate), "the input file can be written");
        f.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
    }

    ConsoleModel read;
    config::ReadConfig(read, input);
    fuzz::require(config::SaveConfig(read, first), "the settings can be saved");

    ConsoleModel again;
    config::ReadConfig(again, first);
    fuzz::require(sameValues(read, again), "a saved file reads back to the same settings");
    return 0;
}
