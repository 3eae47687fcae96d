#pragma once

#include <QString>

namespace tarvo {

// The Open and Save boxes of the command files and the journal, and the choice of a folder. An empty
// name means the operator cancelled.
class FileDialogs {
public:
    virtual ~FileDialogs() = default;
    virtual QString openFileName(const QString& filter) = 0; // the chosen file must exist
    virtual QString saveFileName(const QString& filter) = 0;
    // The Save box offering `suggested` (a path) at first; boxes that cannot suggest ask as above.
    virtual QString saveFileNameAt(const QString& filter, const QString& suggested)
    {
        Q_UNUSED(suggested);
        return saveFileName(filter);
    }
    // A folder to write files into, starting at `current`. Boxes that offer no folders cancel.
    virtual QString folderName(const QString& current)
    {
        Q_UNUSED(current);
        return {};
    }
};

} // namespace tarvo
