#pragma once

#include "SimCore.h"

#include <QString>
#include <QStringList>

namespace tarvo::sim {

struct SimOptions {
    SimConfig config;
    bool help = false;
    bool version = false;
    bool tcp = true;
    QString tcpHost = QStringLiteral("127.0.0.1");
    quint16 tcpPort = 1001; // 0: any free port (the one taken is printed)
    bool udp = false;
    QString udpHost = QStringLiteral("127.0.0.1");
    quint16 udpPort = 0; // 0: any free port (the one taken is printed)
    bool mbap = false;   // TCP and UDP speak Modbus TCP (the MBAP header) instead of RTU frames
    bool serial = true;
    QString linkPath; // symlink to the pty, made at start and removed at exit
    int speed = 38400;
    bool echo = false; // the serial line hears itself: what arrives is written back at once, as a
                       // half-duplex adapter's receiver hears its own transmitter
    // Refuse what is sent while the line runs at another speed than `speed` (as the client set it on
    // the pseudo-terminal), as a controller's UART would only see garbage.
    bool strictSpeed = false;
    int gapMs = 20;  // silence that ends a frame
    QString logFile; // empty: the frame log goes to standard output
};

// Parses the arguments (without the program name). On a bad option returns false with a one-line
// message in error.
bool parseOptions(const QStringList& args, SimOptions& options, QString& error);

// Parses "5", "1,3,7-9" into inclusive ranges of console addresses 0..65535.
bool parseAddressList(const QString& text, QList<QPair<int, int>>& ranges, QString& error);

QString helpText();

} // namespace tarvo::sim
