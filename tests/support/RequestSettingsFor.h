#pragma once

#include "Framing.h"

namespace tarvo::test {

// The console's request settings for a protocol and an address, everything else at its default.
inline RequestSettings settingsFor(Protocol p, const QString& address)
{
    RequestSettings s;
    s.protocol = p;
    s.address = address;
    s.customerCode = QStringLiteral("AA");
    return s;
}

} // namespace tarvo::test
