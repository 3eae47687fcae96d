// Cutting what is heard on a bus into frames: gaps just above and just below the threshold at the
// line's real character time, frames across reads, several in one read, garbage between them, a
// frame cut short at the end.

#include "Explain.h"
#include "FrameSplitter.h"
#include "LinkSettings.h"

#include <QTest>

using namespace tarvo;

struct Read {
    QByteArray bytes;
    double silenceInGaps; // silence before the read's first byte, in gaps
    bool late = false;    // read late: the silence was only that the read came late, no timer saw it
};
Q_DECLARE_METATYPE(QList<Read>)

namespace {

// Two Modbus frames as a master and a slave send them.
const QByteArray kRequest = appendCheck(CheckKind::Crc16Modbus, QByteArray::fromHex("060401000006"));
const QByteArray kReply = appendCheck(CheckKind::Crc16Modbus, QByteArray::fromHex("06040C000000010002000300040005"));

QList<HeardFrame> split(const QString& line, int baud, const QList<Read>& reads, bool structure,
                        QList<double>* firstBytes = nullptr)
{
    const double c = LineFormat::parse(line)->bitsPerCharacter() / static_cast<double>(baud);
    const double gap = FrameSplitter::defaultGap(c);
    std::function<int(const QByteArray&)> complete;
    if (structure)
        complete = [](const QByteArray& b) { return completeFrameLength(Protocol::Modbus, b); };
    FrameSplitter splitter(gap, c, complete);
    QList<HeardFrame> frames;
    double last = 10.0; // the previous byte's time
    for (const Read& r : reads) {
        const double first = last + r.silenceInGaps * gap;
        last = first + static_cast<double>(r.bytes.size() - 1) * c;
        if (!r.late)
            frames += splitter.idle(first - c); // a timer looking just before the read
        frames += splitter.feed(r.bytes, last);
    }
    frames += splitter.idle(last + 2 * gap);
    frames += splitter.finish();
    if (firstBytes) {
        for (const HeardFrame& f : frames)
            *firstBytes << f.firstByteAt;
    }
    return frames;
}

QStringList hexOf(const QList<HeardFrame>& frames)
{
    QStringList out;
    for (const HeardFrame& f : frames)
        out << QString::fromLatin1(f.bytes.toHex().toUpper());
    return out;
}

} // namespace

class TestFrameSplitter : public QObject {
    Q_OBJECT
private slots:
    void streams_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QList<Read>>("reads");
        QTest::addColumn<bool>("structure"); // frames with a valid check value are cut off too
        QTest::addColumn<QStringList>("frames");
        const QString a = QString::fromLatin1(kRequest.toHex().toUpper());
        const QString b = QString::fromLatin1(kReply.toHex().toUpper());
        for (const QString line : {"8N2", "8E1", "8N1", "7O1"}) {
            QTest::addRow("%s: gap just above", qPrintable(line))
                << line << QList<Read>{{kRequest, 5}, {kReply, 1.05}} << false << QStringList{a, b};
            QTest::addRow("%s: gap just below", qPrintable(line))
                << line << QList<Read>{{kRequest, 5}, {kReply, 0.95}} << false << QStringList{a + b};
            QTest::addRow("%s: gap just below, frames recognised", qPrintable(line))
                << line << QList<Read>{{kRequest, 5}, {kReply, 0.95}} << true << QStringList{a, b};
        }
        QTest::newRow("a late read seems to follow a gap: the frame it makes whole goes on")
            << "8N2" << QList<Read>{{kReply.left(5), 5}, {kReply.mid(5), 1.5, true}} << true << QStringList{b};
        QTest::newRow("a late read, frames unknown: the gap decides")
            << "8N2" << QList<Read>{{kReply.left(5), 5}, {kReply.mid(5), 1.5, true}} << false
            << QStringList{QString::fromLatin1(kReply.left(5).toHex().toUpper()),
                           QString::fromLatin1(kReply.mid(5).toHex().toUpper())};
        QTest::newRow("a frame across two reads")
            << "8N2" << QList<Read>{{kRequest.left(3), 5}, {kRequest.mid(3), 0.5}} << true << QStringList{a};
        QTest::newRow("two frames in one read")
            << "8N2" << QList<Read>{{kRequest + kReply, 5}} << true << QStringList{a, b};
        QTest::newRow("a garbage byte between frames")
            << "8N2" << QList<Read>{{kRequest, 5}, {QByteArray("\xFF", 1), 2}, {kReply, 2}} << true
            << QStringList{a, "FF", b};
        QTest::newRow("a pause inside a known frame, shorter than 10 gaps")
            << "8N2" << QList<Read>{{kReply.left(5), 5}, {kReply.mid(5), 4}} << true << QStringList{b};
        QTest::newRow("a frame cut short at the end")
            << "8E1" << QList<Read>{{kRequest, 5}, {kReply.left(4), 3}} << true
            << QStringList{a, QString::fromLatin1(kReply.left(4).toHex().toUpper())};
    }
    void streams()
    {
        QFETCH(QString, line);
        QFETCH(QList<Read>, reads);
        QFETCH(bool, structure);
        QFETCH(QStringList, frames);
        QCOMPARE(hexOf(split(line, 19200, reads, structure)), frames);
    }

    // Each frame is stamped with its first byte's time, also when it was cut out of a longer read.
    void firstByteTimes()
    {
        QList<double> firsts;
        const double c = 11.0 / 19200;
        const auto frames = split("8N2", 19200, {{kRequest + kReply, 5}}, true, &firsts);
        QCOMPARE(frames.size(), 2);
        const double gap = FrameSplitter::defaultGap(c);
        QVERIFY(qAbs(firsts[0] - (10.0 + 5 * gap)) < 1e-9);
        QVERIFY(qAbs(firsts[1] - (firsts[0] + static_cast<double>(kRequest.size()) * c)) < 1e-9);
        QCOMPARE(FrameSplitter::defaultGap(11.0 / 115200), 0.001); // never below 1 ms
    }
};

QTEST_APPLESS_MAIN(TestFrameSplitter)
#include "tst_frame_splitter.moc"
