#pragma once

#include "ConsoleModel.h"

#include <QtGlobal>

namespace tarvo::test {

// A field by the name the window and the settings file know it by; a name the console does not have
// ends the test run, as a typo in a test should.
inline FieldRef fieldNamed(const QString& name)
{
    const auto ref = ConsoleModel::find(name);
    if (!ref)
        qFatal("no console field %s", qPrintable(name));
    return *ref;
}

// A field's value as the settings file writes it: text as it stands, an option as True or False, a
// check box's value or a list's index as a number.
inline QString valueText(const ConsoleModel& m, const QString& name)
{
    const FieldRef ref = fieldNamed(name);
    switch (m.kind(ref)) {
    case FieldKind::Option:
        return m.selected(ref.field) ? QStringLiteral("True") : QStringLiteral("False");
    case FieldKind::Check:
        return QString::number(m.check(ref));
    case FieldKind::List:
        return QString::number(m.listIndex(ref.field));
    default:
        return m.text(ref);
    }
}

} // namespace tarvo::test
