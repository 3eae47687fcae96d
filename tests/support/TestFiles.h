#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <csignal>
#include <functional>
#include <sys/resource.h>

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

// Runs `write` as on a disk that is full after `bytes` bytes of any one file (a file size limit; the
// signal it raises is ignored, so writes simply come up short). The limit is lifted afterwards.
inline void withFullDiskAfter(rlim_t bytes, const std::function<void()>& write)
{
    struct rlimit old {};
    ::getrlimit(RLIMIT_FSIZE, &old);
    struct rlimit small = old;
    small.rlim_cur = bytes;
    auto previous = std::signal(SIGXFSZ, SIG_IGN);
    ::setrlimit(RLIMIT_FSIZE, &small);
    write();
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previous);
}

} // namespace tarvo::test
