#pragma once

#include <QString>
#include <optional>

namespace tarvo {

class ConsoleModel;
class FileDialogs;
class Prompter;

// Command files keep the text of Cmd: 8-bit (Latin-1) text, lines separated by CR LF, nothing else.

// The entries the Open and Save boxes offer, in "description|pattern|description|pattern" form.
inline const QString kCommandFileFilter = QStringLiteral("Command Files (*.txt)|*.txt| All Files |*.*");

// The same entries in the form Qt's file dialogs take ("Command Files (*.txt);;All Files (*)").
// "*.*" becomes "*", so that files without an extension count as all files too.
QString qtFileFilter(const QString& filter);

// The text Cmd receives from a file's contents: its lines (ended by CR LF, LF or CR) joined with CR LF,
// without a final line break; empty lines before the first non-empty one are dropped.
QString joinCommandLines(const QString& contents);

// Reads a command file. Nothing (and the reason in *error) when it cannot be read.
std::optional<QString> readCommandFile(const QString& path, QString* error = nullptr);

// Writes text followed by CR LF, replacing the file as a whole: a failure leaves the old file intact.
bool writeCommandFile(const QString& path, const QString& text, QString* error = nullptr);

// The Open and Save buttons. The chosen name goes into model.lastFileName (empty when cancelled);
// cancelling changes nothing else. A file that cannot be read or written is reported through the
// prompter and leaves Cmd as it was.
void openCommandFile(ConsoleModel& model, FileDialogs& dialogs, Prompter& prompter);
void saveCommandFile(ConsoleModel& model, FileDialogs& dialogs, Prompter& prompter);

} // namespace tarvo
