#pragma once

#include <QByteArray>
#include <QString>
#include <sys/types.h>

namespace tarvo {

// Replaces a file as a whole or not at all: the bytes go to a temporary file in the same folder, are
// checked to be all on disk, and only then is the temporary renamed over the old file. A full disk or
// a folder that cannot be written leaves the old file exactly as it was. mode is given to the new
// file (before the umask).
bool writeFileAtomically(const QString& path, const QByteArray& data, QString* error = nullptr, mode_t mode = 0666);

} // namespace tarvo
