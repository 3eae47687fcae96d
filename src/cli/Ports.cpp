// ports: the serial ports of this machine, with what the system knows of each adapter.

#include "Run.h"

#include "PortList.h"

namespace tarvo::cli {

int ports(const Options& options)
{
    SystemPortSource system;
    writeOut(renderPorts(system.ports(), options.format));
    return status::kOk;
}

} // namespace tarvo::cli
