#pragma once

#include <QString>

namespace tarvo {

// The Open and Save boxes of the command files. An empty name means the operator cancelled.
class FileDialogs {
public:
    virtual ~FileDialogs() = default;
    virtual QString openFileName(const QString& filter) = 0; // the chosen file must exist
    virtual QString saveFileName(const QString& filter) = 0;
};

} // namespace tarvo
