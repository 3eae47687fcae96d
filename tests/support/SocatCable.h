#pragma once

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <fcntl.h>
#include <unistd.h>

namespace tarvo::test {

// A socat cable between two pseudo-terminals; the console's end is held open here as well, so that
// the console closing the port between slots does not end the cable.
struct Cable {
    Cable()
    {
        a = dir.filePath("a");
        b = dir.filePath("b");
        socat.start("socat", {"pty,raw,echo=0,link=" + a, "pty,raw,echo=0,link=" + b});
        for (int i = 0; i < 100 && !(QFile::exists(a) && QFile::exists(b)); ++i)
            QTest::qWait(50);
        holder = ::open(QFile::encodeName(a).constData(), O_RDWR | O_NOCTTY);
    }
    ~Cable()
    {
        if (holder >= 0)
            ::close(holder);
        socat.terminate();
        socat.waitForFinished(3000);
    }
    QTemporaryDir dir;
    QString a, b;
    QProcess socat;
    int holder = -1;
};

} // namespace tarvo::test
