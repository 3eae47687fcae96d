#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

namespace tarvo::test {

// The whole content of a file, or "<missing>" when it cannot be read, so that a comparison names
// the problem.
inline QByteArray fileContent(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// Creates or replaces a file with exactly these bytes; false when it cannot be written.
inline bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

} // namespace tarvo::test
