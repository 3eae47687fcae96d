#pragma once

#include <QString>
#include <QStringList>

namespace tarvo {

class ConsoleModel;

namespace config {

QString iniFileName(); // "Tarvo.ini", in the current directory, beside Tarvo.cfg

// Fills the console's new settings (ConsoleModel::ini) from the file. A missing or unreadable file,
// or a key that holds something else than its setting takes, leaves the defaults, silently.
void ReadIni(ConsoleModel& model, const QString& path = iniFileName());

// Writes the new settings, replacing the file as a whole or not at all. False, with the reason in
// *error, when it cannot be written; the old file is then untouched.
bool SaveIni(const ConsoleModel& model, const QString& path = iniFileName(), QString* error = nullptr);

// The keys the file holds ("journal/toFile", ...), for documentation and tests.
QStringList iniKeys();

} // namespace config
} // namespace tarvo
