#pragma once

#include "FakeStack.h"
#include "Replies.h"

#include <QList>
#include <QString>

namespace tarvo::test {

// Controllers on a scripted bus under Protocol 4: the console addresses in `answering` reply to the
// fixed requests (their wire address is the console address + 1) after 4 ms, at `speed` only when
// one is given; those in `badCheck` with a corrupted check value.
struct ScriptedBus : FakeStack {
    ScriptedBus()
    {
        model.choose(Field::Protocol4);
        link.onWrite = [this](const QByteArray& frame) {
            const int address = static_cast<unsigned char>(frame[0]) - 1;
            if (!answering.contains(address) || (!speed.isEmpty() && link.speeds.last() != speed))
                return;
            QByteArray reply = p4Reply(frame.left(2) + QByteArray("\x02\x49\x92", 3));
            if (badCheck.contains(address))
                reply[reply.size() - 2] = static_cast<char>(reply[reply.size() - 2] ^ 0x5A);
            link.reply(0.004, reply);
        };
    }
    QList<int> answering;
    QList<int> badCheck;
    QString speed;
};

} // namespace tarvo::test
