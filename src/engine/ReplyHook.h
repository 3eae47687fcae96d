#pragma once

#include <QString>

namespace tarvo {

// Sees every reply the exchange reads, right after it became byte-list text and before it is shown.
// The memory read implements it; outside a memory read it does nothing.
class ReplyHook {
public:
    virtual ~ReplyHook() = default;
    virtual void onReply(const QString& text, int slot) = 0;
};

} // namespace tarvo
