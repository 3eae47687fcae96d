#pragma once

#include <functional>

namespace tarvo {

class Trace;

// Runs one link operation's steps; any failure becomes the operation's trace line
// ("Connect:: Error : " and the failure's description), never an exception.
void guarded(Trace& trace, const char* operation, const std::function<void()>& steps);

} // namespace tarvo
