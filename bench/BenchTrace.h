#pragma once

// The trace of a benchmark's console: the link's routine steps (one set per Connect) would only
// clutter the tables; failures are shown on standard error.

#include "Trace.h"

#include <QString>

#include <cstdio>

namespace tarvo::bench {

class FailureTrace final : public Trace {
public:
    void write(const QString& line) override
    {
        if (line.contains(QLatin1String("Error")))
            std::fprintf(stderr, "trace: %s\n", qPrintable(line));
    }
};

} // namespace tarvo::bench
