#pragma once

#include "FileDialogs.h"

#include <QStringList>

namespace tarvo::test {

// Answers the Open and Save boxes with a name set beforehand (empty = the operator cancels) and
// records the filters they were shown with.
class FakeFileDialogs final : public FileDialogs {
public:
    QString openFileName(const QString& filter) override
    {
        filters.append(filter);
        return answer;
    }
    QString saveFileName(const QString& filter) override
    {
        filters.append(filter);
        return answer;
    }
    QString answer;
    QStringList filters;
};

} // namespace tarvo::test
