#pragma once

#include <QString>
#include <QStringList>
#include <optional>

namespace tarvo {

class PortControl;

// Where the system keeps what these functions read; tests point them at folders of their own.
struct SystemPaths {
    QString proc = QStringLiteral("/proc");
    QStringList lockFolders{QStringLiteral("/run/lock"), QStringLiteral("/var/lock")};
    QString sysfs = QStringLiteral("/sys");
};

// Why a serial port could not be opened, in the operator's words.
struct OpenFailure {
    enum class Kind {
        None,       // the last open worked
        Permission, // the device exists and this user may not open it
        Busy,       // another program holds it
        Other,      // anything else: the system's own description
    };
    Kind kind = Kind::None;
    QString text;
};

// Explains a failed open of `device` (a device path, symlinks allowed). systemText is what the port
// said; permissionSaid: the port reported a permission error (which it also says for a device that
// another program has locked). Permission: which group grants access and how to join it. Busy: which
// program holds the device when the system tells (its lock file, or /proc/<pid>/fd of processes this
// user may look into).
OpenFailure explainOpenFailure(const QString& device, const QString& systemText, bool permissionSaid,
                               const SystemPaths& paths = {});

// Programs that have `device` open or locked, as "name (process N)"; empty when the system does not
// tell.
QStringList portHolders(const QString& device, const SystemPaths& paths = {});

// Asks the driver of `device` to hand received bytes over at once: the USB adapter's latency timer
// to its lowest value (1 ms) and the ASYNC_LOW_LATENCY flag. `done` says what was set, for the
// journal; `refused` what could not be, with how to allow it, for the operator. Both empty when the
// port has no such setting.
struct LowLatencyResult {
    QString done;
    QString refused;
};
LowLatencyResult setLowLatency(const QString& device, PortControl& control, const SystemPaths& paths = {});

// The USB adapter's latency timer of `device` in ms: how long it may hold received bytes back before
// handing them over. Nothing for a port without one.
std::optional<int> latencyTimerMs(const QString& device, const SystemPaths& paths = {});

// The device a path names, symlinks followed (a /dev/serial/by-id name finds the adapter under
// whichever /dev/ttyUSBn it came back as); the path itself when it cannot be resolved.
QString resolveDevice(const QString& path);

} // namespace tarvo
