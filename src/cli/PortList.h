#pragma once

#include "CliOptions.h"
#include "Ports.h"

#include <QByteArray>
#include <QList>

namespace tarvo::cli {

// `tarvo-cli ports`: the machine's serial ports with what the system knows of each adapter, as the
// console's port list shows them (text and JSON Lines as the link layer writes them, CSV with the same
// fields).
QByteArray renderPorts(const QList<PortDetails>& ports, Format format);

} // namespace tarvo::cli
