#pragma once

#include <QString>
#include <QStringList>

namespace tarvo {

class ConsoleModel;

namespace config {

QString configFileName(); // "Tarvo.cfg", in the current directory

// The field each of the file's 99 lines holds, by name; empty for the lines that hold none.
QStringList fileLayout();

// Writes the console's settings as 99 positional lines (Latin-1, CR LF). The file is written under a
// temporary name and renamed over the old one, readable by its owner only (it holds the pass phrase).
// False when it could not be written; the old file is then untouched.
bool SaveConfig(const ConsoleModel& model, const QString& path = configFileName(), QString* error = nullptr);

// Fills the console from the file. A missing or short file is not an error. A bad value in the first
// 44 lines skips that entry; one in the rest stops reading there. Options are applied as clicks, in
// file order.
void ReadConfig(ConsoleModel& model, const QString& path = configFileName());

} // namespace config
} // namespace tarvo
