#pragma once

#include "FileDialogs.h"

#include <QStringList>

namespace tarvo::test {

// Answers the Open, Save and folder boxes with a name set beforehand (empty = the operator cancels) and
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
    QString saveFileNameAt(const QString& filter, const QString& suggested) override
    {
        suggestions.append(suggested);
        return saveFileName(filter);
    }
    QString folderName(const QString& current) override
    {
        folderStarts.append(current);
        return answer;
    }
    QString answer;
    QStringList filters;
    QStringList folderStarts; // where each folder box started
    QStringList suggestions;  // what each Save box offered at first
};

} // namespace tarvo::test
