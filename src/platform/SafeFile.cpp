#include "SafeFile.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace tarvo {

// Qt's own save file takes a short write on a full disk for success, so this checks every write.
bool writeFileAtomically(const QString& path, const QByteArray& data, QString* error, mode_t mode)
{
    auto fail = [&](const QString& what) {
        if (error)
            *error = what;
        return false;
    };
    const QByteArray target = QFile::encodeName(QFileInfo(path).absoluteFilePath());
    QByteArray temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp = target + ".tmp" + QByteArray::number(::getpid()) + '.' + QByteArray::number(attempt);
        fd = ::open(temp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0)
        return fail(QStringLiteral("cannot create a file next to %1: %2")
                        .arg(path, QString::fromLocal8Bit(std::strerror(errno))));
    const char* p = data.constData();
    qsizetype left = data.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, static_cast<size_t>(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int err = n < 0 ? errno : ENOSPC;
            ::close(fd);
            ::unlink(temp.constData());
            return fail(QStringLiteral("cannot write %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(err))));
        }
        p += n;
        left -= n;
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0) {
        const int err = errno;
        ::unlink(temp.constData());
        return fail(QStringLiteral("cannot write %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(err))));
    }
    if (::rename(temp.constData(), target.constData()) != 0) {
        const int err = errno;
        ::unlink(temp.constData());
        return fail(QStringLiteral("cannot replace %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(err))));
    }
    return true;
}

} // namespace tarvo
