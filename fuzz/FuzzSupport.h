#pragma once

#include "Trace.h"

#include <QByteArray>
#include <QList>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

// Shared by the fuzz targets, whether libFuzzer drives them or the corpus replay does.
namespace tarvo::fuzz {

// An input cut at line feeds into at most `count` fields; the last field keeps the rest, line feeds
// included, and missing fields are empty. Line-based inputs keep the corpus files readable and easy to
// write by hand.
inline QList<QByteArray> fields(const uint8_t* data, size_t size, int count)
{
    QList<QByteArray> out;
    const QByteArray all(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    qsizetype from = 0;
    while (out.size() < count - 1) {
        const qsizetype nl = all.indexOf('\n', from);
        if (nl < 0)
            break;
        out.append(all.mid(from, nl - from));
        from = nl + 1;
    }
    out.append(all.mid(from));
    while (out.size() < count)
        out.append(QByteArray());
    return out;
}

// The byte at `index` of a control field, 0 when the field is shorter.
inline uint8_t control(const QByteArray& field, qsizetype index)
{
    return index < field.size() ? static_cast<uint8_t>(field[index]) : 0;
}

// A broken property: abort, which libFuzzer reports as a crash with the input saved, and which fails
// the replay test.
inline void require(bool ok, const char* what)
{
    if (ok)
        return;
    std::fprintf(stderr, "fuzz property broken: %s\n", what);
    std::abort();
}

// Code under test may write a trace line; keep it off standard error, where a run of millions of
// inputs would drown the fuzzer's own report.
class NullTrace final : public Trace {
public:
    void write(const QString&) override {}
};

} // namespace tarvo::fuzz
