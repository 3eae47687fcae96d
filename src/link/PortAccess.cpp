#include "PortAccess.h"

#include "PortControl.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace tarvo {

namespace {

QString groupName(gid_t gid)
{
    const group* g = ::getgrgid(gid);
    return g ? QString::fromLocal8Bit(g->gr_name) : QString::number(gid);
}

QString userName(uid_t uid)
{
    const passwd* pw = ::getpwuid(uid);
    return pw ? QString::fromLocal8Bit(pw->pw_name) : QStringLiteral("uid %1").arg(uid);
}

QString modeText(mode_t mode)
{
    QString t = QStringLiteral("rwxrwxrwx");
    for (int i = 0; i < 9; ++i) {
        if (!(mode & (1u << (8 - i))))
            t[i] = QLatin1Char('-');
    }
    return t;
}

// Whether the user's entry in the group database lists the group: true for a user who joined it
// after this session started.
bool groupListsUser(const passwd* user, gid_t gid)
{
    if (!user)
        return false;
    int count = 64;
    std::vector<gid_t> groups(static_cast<size_t>(count));
    if (::getgrouplist(user->pw_name, user->pw_gid, groups.data(), &count) < 0) {
        groups.resize(static_cast<size_t>(count));
        if (::getgrouplist(user->pw_name, user->pw_gid, groups.data(), &count) < 0)
            return false;
    }
    groups.resize(static_cast<size_t>(count));
    return std::find(groups.begin(), groups.end(), gid) != groups.end();
}

QString permissionText(const QString& device, const struct stat& st)
{
    const QString group = groupName(st.st_gid);
    const passwd* pw = ::getpwuid(::geteuid());
    const QString user = userName(::geteuid());
    if ((st.st_mode & (S_IRGRP | S_IWGRP)) != (S_IRGRP | S_IWGRP))
        return QStringLiteral("Permission denied: %1 (owner %2, group %3, %4) may be opened by its owner only; the "
                              "administrator can give group %3 read and write access with a udev rule "
                              "(MODE=\"0660\")")
            .arg(device, userName(st.st_uid), group, modeText(st.st_mode));
    if (groupListsUser(pw, st.st_gid))
        return QStringLiteral("Permission denied: %1 belongs to group %2, which user %3 joined after this session "
                              "started: log out and back in (or start Tarvo from \"newgrp %2\")")
            .arg(device, group, user);
    return QStringLiteral("Permission denied: %1 belongs to group %2, and user %3 is not in it. Join it with "
                          "\"sudo usermod -aG %2 %3\", then log out and back in")
        .arg(device, group, user);
}

bool processAlive(qint64 pid, const SystemPaths& paths)
{
    return pid > 0 && QFileInfo::exists(QStringLiteral("%1/%2").arg(paths.proc).arg(pid));
}

QString processName(qint64 pid, const SystemPaths& paths)
{
    QFile comm(QStringLiteral("%1/%2/comm").arg(paths.proc).arg(pid));
    if (!comm.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLocal8Bit(comm.readLine(256)).trimmed();
}

QString linkTarget(const QString& path)
{
    char buffer[4096];
    const ssize_t n = ::readlink(QFile::encodeName(path).constData(), buffer, sizeof buffer - 1);
    return n > 0 ? QString::fromLocal8Bit(buffer, static_cast<qsizetype>(n)) : QString();
}

} // namespace

QString resolveDevice(const QString& path)
{
    const QString canonical = QFileInfo(path).canonicalFilePath();
    return canonical.isEmpty() ? path : canonical;
}

QStringList portHolders(const QString& device, const SystemPaths& paths)
{
    const QString real = resolveDevice(device);
    QSet<qint64> pids;

    // A lock file (LCK..ttyUSB0, LCK..pts_3) holds the pid of the program that locked the device, as
    // text on its first line.
    QString lockName = real.startsWith(QLatin1String("/dev/")) ? real.mid(5) : QFileInfo(real).fileName();
    lockName.replace(QLatin1Char('/'), QLatin1Char('_'));
    for (const QString& folder : paths.lockFolders) {
        QFile lock(folder + QStringLiteral("/LCK..") + lockName);
        if (!lock.open(QIODevice::ReadOnly))
            continue;
        bool ok = false;
        const qint64 pid = QString::fromLatin1(lock.readLine(64)).trimmed().toLongLong(&ok);
        if (ok && processAlive(pid, paths))
            pids.insert(pid);
    }

    // The open descriptors of every process this user may look into.
    const QStringList entries = QDir(paths.proc).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& entry : entries) {
        bool ok = false;
        const qint64 pid = entry.toLongLong(&ok);
        if (!ok || pids.contains(pid))
            continue;
        const QString fdFolder = paths.proc + QLatin1Char('/') + entry + QStringLiteral("/fd");
        const QStringList fds = QDir(fdFolder).entryList(QDir::System | QDir::NoDotAndDotDot);
        for (const QString& fd : fds) {
            if (linkTarget(fdFolder + QLatin1Char('/') + fd) == real) {
                pids.insert(pid);
                break;
            }
        }
    }

    QList<qint64> sorted(pids.begin(), pids.end());
    std::sort(sorted.begin(), sorted.end());
    QStringList holders;
    for (const qint64 pid : sorted) {
        const QString name = processName(pid, paths);
        holders << (name.isEmpty() ? QStringLiteral("process %1").arg(pid)
                                   : QStringLiteral("%1 (process %2)").arg(name).arg(pid));
    }
    return holders;
}

OpenFailure explainOpenFailure(const QString& device, const QString& systemText, bool permissionSaid,
                               const SystemPaths& paths)
{
    const QString real = resolveDevice(device);
    const QByteArray path = QFile::encodeName(real);
    struct stat st {};
    if (::stat(path.constData(), &st) != 0)
        return {OpenFailure::Kind::Other, systemText};
    if (::faccessat(AT_FDCWD, path.constData(), R_OK | W_OK, AT_EACCESS) != 0 && (errno == EACCES || errno == EPERM))
        return {OpenFailure::Kind::Permission, permissionText(real, st)};
    if (permissionSaid || systemText == systemErrorText(EBUSY)) {
        const QStringList holders = portHolders(real, paths);
        if (holders.isEmpty())
            return {OpenFailure::Kind::Busy,
                    QStringLiteral("%1 is in use by another program (%2)").arg(real, systemText)};
        return {
            OpenFailure::Kind::Busy,
            QStringLiteral("%1 is in use by %2; close it there first").arg(real, holders.join(QStringLiteral(", ")))};
    }
    return {OpenFailure::Kind::Other, systemText};
}

namespace {
QString latencyTimerPath(const QString& name, const SystemPaths& paths)
{
    return paths.sysfs + QStringLiteral("/bus/usb-serial/devices/") + name + QStringLiteral("/latency_timer");
}
} // namespace

std::optional<int> latencyTimerMs(const QString& device, const SystemPaths& paths)
{
    QFile file(latencyTimerPath(QFileInfo(resolveDevice(device)).fileName(), paths));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    bool ok = false;
    const int ms = QString::fromLatin1(file.readAll()).trimmed().toInt(&ok);
    return ok ? std::optional<int>(ms) : std::nullopt;
}

LowLatencyResult setLowLatency(const QString& device, PortControl& control, const SystemPaths& paths)
{
    const QString name = QFileInfo(resolveDevice(device)).fileName();
    QStringList done;
    QStringList refused;

    // USB adapters (FTDI and alike) hold received bytes back for up to their latency timer, 16 ms
    // out of the box.
    const QString timer = latencyTimerPath(name, paths);
    if (QFile::exists(timer)) {
        const std::optional<int> current = latencyTimerMs(device, paths);
        const bool ok = current.has_value();
        const int ms = current.value_or(0);
        if (ok && ms <= 1) {
            done << QStringLiteral("latency timer %1 ms").arg(ms);
        } else {
            const int fd = ::open(QFile::encodeName(timer).constData(), O_WRONLY | O_TRUNC | O_CLOEXEC);
            const bool written = fd >= 0 && ::write(fd, "1\n", 2) == 2;
            const int error = written ? 0 : errno;
            if (fd >= 0)
                ::close(fd);
            if (written)
                done << QStringLiteral("latency timer %1 ms -> 1 ms")
                            .arg(ok ? QString::number(ms) : QStringLiteral("?"));
            else
                refused << QStringLiteral("the latency timer of %1 stays at %2 ms (%3: %4). To let Tarvo lower it, "
                                          "the administrator can add a udev rule that sets it whenever the adapter "
                                          "is plugged in, e.g. the file /etc/udev/rules.d/99-usb-serial-latency.rules "
                                          "with the line: ACTION==\"add\", SUBSYSTEM==\"usb-serial\", "
                                          "ATTR{latency_timer}=\"1\"")
                               .arg(name, ok ? QString::number(ms) : QStringLiteral("?"), timer,
                                    systemErrorText(error));
        }
    }

    const int flag = control.setAsyncLowLatency();
    if (flag == 0)
        done << QStringLiteral("low-latency flag set");
    else if (flag != ENOTTY && flag != EINVAL)
        refused
            << QStringLiteral("the driver of %1 refused the low-latency flag (%2)").arg(name, systemErrorText(flag));

    LowLatencyResult r;
    if (done.isEmpty() && refused.isEmpty())
        r.done = QStringLiteral("low latency: %1 has no latency setting").arg(name);
    else if (!done.isEmpty())
        r.done = QStringLiteral("low latency: ") + done.join(QStringLiteral(", "));
    if (!refused.isEmpty())
        r.refused = QStringLiteral("Low latency: ") + refused.join(QStringLiteral("; "));
    return r;
}

} // namespace tarvo
