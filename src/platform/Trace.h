#pragma once

#include <QString>
#include <QStringList>

namespace tarvo {

// The program's debug output: one line per event (link steps and failures, the slot line of a send).
class Trace {
public:
    virtual ~Trace() = default;
    // line comes without its line end; every sink ends it with CR LF.
    virtual void write(const QString& line) = 0;
};

// Standard error, and appended to the file named by TARVO_TRACE when that is set.
class StderrTrace final : public Trace {
public:
    StderrTrace();
    void write(const QString& line) override;

private:
    QString m_filePath;
};

// Keeps the lines in memory; for tests.
class MemoryTrace final : public Trace {
public:
    void write(const QString& line) override { lines.append(line); }
    QStringList lines;
};

} // namespace tarvo
