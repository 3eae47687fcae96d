#pragma once

#include "CliOptions.h"

namespace tarvo::clitool {

// Runs one parsed command line on the console's own stack and returns the exit status. Needs a
// QCoreApplication.
int run(const Options& options);

} // namespace tarvo::clitool
