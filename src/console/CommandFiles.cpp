#include "CommandFiles.h"

#include "ConsoleModel.h"
#include "FileDialogs.h"
#include "Prompter.h"
#include "SafeFile.h"

#include <QFile>
#include <QStringList>

namespace tarvo {

namespace {
const QString kCrLf = QStringLiteral("\r\n");
} // namespace

QString qtFileFilter(const QString& filter)
{
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList entries;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString description = parts[i].trimmed();
        QString pattern = parts[i + 1].trimmed();
        if (pattern == QLatin1String("*.*"))
            pattern = QStringLiteral("*");
        // Qt reads the patterns from the last parenthesised group; a description that already ends in
        // its own pattern list ("Command Files (*.txt)") is taken as it stands.
        if (description.endsWith(QStringLiteral("(%1)").arg(pattern)))
            entries.append(description);
        else
            entries.append(QStringLiteral("%1 (%2)").arg(description, pattern));
    }
    return entries.join(QStringLiteral(";;"));
}

QString joinCommandLines(const QString& contents)
{
    QString text;
    const qsizetype n = contents.size();
    qsizetype start = 0;
    while (start < n) {
        qsizetype end = start;
        while (end < n && contents[end] != QLatin1Char('\r') && contents[end] != QLatin1Char('\n'))
            ++end;
        if (!text.isEmpty())
            text += kCrLf;
        text += QStringView(contents).mid(start, end - start);
        if (end < n && contents[end] == QLatin1Char('\r') && end + 1 < n && contents[end + 1] == QLatin1Char('\n'))
            ++end;
        start = end + 1;
    }
    return text;
}

std::optional<QString> readCommandFile(const QString& path, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = file.errorString();
        return std::nullopt;
    }
    const QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        if (error)
            *error = file.errorString();
        return std::nullopt;
    }
    return joinCommandLines(QString::fromLatin1(data));
}

bool writeCommandFile(const QString& path, const QString& text, QString* error)
{
    return writeFileAtomically(path, (text + kCrLf).toLatin1(), error);
}

void openCommandFile(ConsoleModel& model, FileDialogs& dialogs, Prompter& prompter)
{
    model.lastFileName = dialogs.openFileName(kCommandFileFilter);
    if (model.lastFileName.isEmpty())
        return;
    QString error;
    if (const auto text = readCommandFile(model.lastFileName, &error))
        model.setText(Field::Cmd, *text);
    else
        prompter.message(QStringLiteral("Tarvo"), QStringLiteral("Cannot read %1: %2").arg(model.lastFileName, error),
                         Prompter::Icon::Critical);
}

void saveCommandFile(ConsoleModel& model, FileDialogs& dialogs, Prompter& prompter)
{
    model.lastFileName = dialogs.saveFileName(kCommandFileFilter);
    if (model.lastFileName.isEmpty())
        return;
    QString error;
    if (!writeCommandFile(model.lastFileName, model.text(Field::Cmd), &error))
        prompter.message(QStringLiteral("Tarvo"), QStringLiteral("Cannot write %1: %2").arg(model.lastFileName, error),
                         Prompter::Icon::Critical);
}

} // namespace tarvo
