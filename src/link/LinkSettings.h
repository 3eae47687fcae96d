#pragma once

#include <QString>
#include <functional>

namespace tarvo {

// What a link needs to connect, taken from the console when a cycle connects.
struct LinkSettings {
    QString comPort; // serial: "COM<n>" (only the fourth character counts) or a device path
    QString host;    // TCP host, as typed
    QString tcpPort; // TCP port, decimal text as typed
    // The TCP connect wait's time-out, milliseconds as decimal text. Asked afresh on every pass of
    // the wait, so that an edit made while it waits takes effect at once.
    std::function<QString()> timeOutDelay;
};

} // namespace tarvo
