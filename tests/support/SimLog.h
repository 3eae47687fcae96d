#pragma once

#include "TestFiles.h"

#include <QRegularExpression>
#include <QStringList>

namespace tarvo::test {

// The frames of the simulator's log, in order: "rx 01 02 ..." for a request, "tx ..." for a reply.
inline QStringList simLogFrames(const QString& logPath)
{
    // "03:28:12.446 tcp#1  rx addr 1      02 02 00 00 00 10 79 F5  | read discrete inputs ..."
    static const QRegularExpression line(QStringLiteral("^\\S+\\s+\\S+\\s+(rx|tx) addr \\S+\\s+(.*?)\\s*\\|"));
    QStringList frames;
    for (const QByteArray& raw : fileContent(logPath).split('\n')) {
        const QRegularExpressionMatch m = line.match(QString::fromLatin1(raw));
        if (m.hasMatch())
            frames << m.captured(1) + QLatin1Char(' ') + m.captured(2);
    }
    return frames;
}

} // namespace tarvo::test
