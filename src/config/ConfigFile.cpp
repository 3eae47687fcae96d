#include "ConfigFile.h"

#include "ConsoleModel.h"
#include "Number.h"
#include "SafeFile.h"

#include <QFile>
#include <QList>
#include <cmath>
#include <optional>

namespace tarvo::config {

namespace {

enum class Kind { Text, Number, Truth, Ignored };

struct Entry {
    Kind kind;
    FieldRef field; // not used by the ignored lines
};

constexpr int kFirstBlockLines = 44;

// The file's lines in order. The layout is fixed: each line's position says which field it holds.
const QList<Entry>& entries()
{
    static const QList<Entry> table = [] {
        using F = Field;
        QList<Entry> t;
        for (int i = 0; i < 8; ++i) {
            t.append({Kind::Text, {F::Address, i}});
            t.append(i == 0 ? Entry{Kind::Text, F::ComPort} : Entry{Kind::Ignored, {}});
            t.append({Kind::Number, {F::CheckAdr, i}});
        }
        t.append({Kind::Number, {F::CheckAdr, 0}});
        t.append({Kind::Number, F::TxtFunction});
        t.append({Kind::Text, F::Scan});
        t.append({Kind::Text, F::TimeOutDelay});
        t.append({Kind::Text, F::WaitingDelay});
        t.append({Kind::Truth, F::Protocol4});
        t.append({Kind::Truth, F::Modbus});
        t.append({Kind::Truth, F::decrypt});
        t.append({Kind::Truth, F::Encrypt});
        t.append({Kind::Text, F::Password});
        t.append({Kind::Number, F::TxtFunction});
        t.append({Kind::Text, F::Query});
        t.append({Kind::Text, F::COMSpeed});
        t.append({Kind::Truth, F::OptNone});
        t.append({Kind::Truth, F::ProtocolAA});
        t.append({Kind::Truth, F::OptBioscrypt});
        t.append({Kind::Number, F::ckAck});
        t.append({Kind::Number, F::ckRes});
        t.append({Kind::Text, F::txtProtocol});
        t.append({Kind::Truth, F::Protocol4Plus});
        for (int i = 8; i < ConsoleModel::kSlots; ++i) {
            t.append({Kind::Text, {F::Address, i}});
            t.append({Kind::Number, {F::CheckAdr, i}});
        }
        t.append({Kind::Text, F::IP});
        t.append({Kind::Text, F::Port});
        t.append({Kind::Truth, F::OpCOM});
        t.append({Kind::Text, F::MemPage});
        t.append({Kind::Text, F::MemAddress});
        t.append({Kind::Text, F::MemRecordNumber});
        t.append({Kind::Text, F::MemRecordSize});
        Q_ASSERT(t.size() == 99);
        return t;
    }();
    return table;
}

// Numbers carry a blank where a plus sign would stand, and one after: " 1 ", "-1 ".
QString numberEntry(int value)
{
    return (value < 0 ? QString() : QStringLiteral(" ")) + QString::number(value) + QLatin1Char(' ');
}

int fieldNumber(const ConsoleModel& model, FieldRef ref)
{
    return model.kind(ref) == FieldKind::List ? model.listIndex(ref.field) : model.check(ref);
}

std::optional<bool> truthValue(const QString& text)
{
    const QString t = text.trimmed();
    if (t.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0)
        return true;
    if (t.compare(QLatin1String("False"), Qt::CaseInsensitive) == 0)
        return false;
    if (const auto n = parseNumber(t))
        return *n != 0;
    return std::nullopt;
}

// Applies one line to its field; false when the value does not convert or the field refuses it.
bool apply(ConsoleModel& model, const Entry& entry, const QString& line)
{
    switch (entry.kind) {
    case Kind::Ignored:
        return true;
    case Kind::Text:
        model.setText(entry.field, line);
        return true;
    case Kind::Number: {
        const auto n = parseNumber(line);
        if (!n)
            return false;
        const double whole = std::nearbyint(*n);
        if (model.kind(entry.field) == FieldKind::List)
            return whole >= -1 && whole <= INT_MAX && model.setListIndex(entry.field.field, static_cast<int>(whole));
        if (whole < 0 || whole > 2) // unticked, ticked, or greyed
            return false;
        model.setCheck(entry.field, static_cast<int>(whole));
        return true;
    }
    case Kind::Truth: {
        const auto on = truthValue(line);
        if (!on)
            return false;
        model.setSelected(entry.field.field, *on);
        if (entry.field.field == Field::OpCOM)
            model.setSelected(Field::OpTCP, !*on);
        return true;
    }
    }
    return false;
}

} // namespace

QStringList fileLayout()
{
    QStringList names;
    for (const Entry& e : entries())
        names.append(e.kind == Kind::Ignored ? QString() : ConsoleModel::name(e.field));
    return names;
}

QString configFileName()
{
    return QStringLiteral("Tarvo.cfg");
}

bool SaveConfig(const ConsoleModel& model, const QString& path, QString* error)
{
    QString text;
    for (const Entry& e : entries()) {
        switch (e.kind) {
        case Kind::Ignored:
            break;
        case Kind::Text:
            text += model.text(e.field);
            break;
        case Kind::Number:
            text += numberEntry(fieldNumber(model, e.field));
            break;
        case Kind::Truth:
            text += model.selected(e.field.field) ? QStringLiteral("True") : QStringLiteral("False");
            break;
        }
        text += QStringLiteral("\r\n");
    }
    return writeFileAtomically(path, text.toLatin1(), error, 0600);
}

void ReadConfig(ConsoleModel& model, const QString& path)
{
    for (int i = 8; i < ConsoleModel::kSlots; ++i)
        model.setText(Field::Address, i, QString::number(i));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QList<Entry>& table = entries();
    for (int index = 0; index < table.size(); ++index) {
        if (file.atEnd())
            return;
        QByteArray raw = file.readLine();
        while (raw.endsWith('\n') || raw.endsWith('\r'))
            raw.chop(1);
        const bool applied = apply(model, table[index], QString::fromLatin1(raw));
        if (!applied && index >= kFirstBlockLines)
            return; // a bad value in the second block ends the reading there
    }
}

} // namespace tarvo::config
