#include "Conversions.h"
#include "FakeStack.h"
#include "MemoryRead.h"
#include "SimCore.h"
#include "SimMemory.h"
#include "TestFiles.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace tarvo;
using namespace tarvo::test;

namespace {
QString replyText(int n, int first = 1)
{
    QByteArray bytes(n, '\0');
    for (int i = 0; i < n; ++i)
        bytes[i] = static_cast<char>(first + i);
    return ByteArrayToHex(bytes, false);
}

// The controllers are tarvo-sim's own (Protocol 4, every console address): what they hold is
// documented in SimMemory.h, so each expected byte is computed from there.
struct Rig : FakeStack {
    Rig()
    {
        model.setText(Field::Address, 0, "5");
        model.setText(Field::Address, 2, "9");
        model.setListIndex(Field::TxtFunction, 0); // the read sends command lines whatever is chosen
        model.setText(Field::TimeOutDelay, "100");
        link.onWrite = [this](const QByteArray& frame) {
            if (silentToRom && frame.size() > 3 && frame[3] == '\x71')
                return;
            for (const sim::Segment& segment : controllers.handleFrame(frame, line).replies)
                link.reply(0.005, segment.bytes);
        };
    }
    sim::SimCore controllers{sim::SimConfig{}};
    sim::LinkState line;
    bool silentToRom = false; // the controllers do not answer the ROM identification request
};

// The header a controller's block of the dump starts with.
QByteArray header(int ctr, int address, const QString& rom)
{
    const QString eprom = QStringLiteral("15/03/24 CHECKSUM:%1").arg(0xC000 + address, 4, 16).toUpper();
    return QStringLiteral(" CTR#%1  Address:%2  EPROM:%3  ROM:%4\r").arg(ctr).arg(address).arg(eprom, rom).toLatin1();
}

// The ROM text the dump shows for a controller that answered "71".
QString romOf(int address)
{
    const sim::SimCore core{sim::SimConfig{}};
    return *memdump::romText(ByteArrayToHex(core.layoutReply(0x40, address, sim::romIdentification(address)), false));
}

void touch(const QString& name)
{
    QVERIFY(writeFile(name, "user data\r\n"));
}
} // namespace

class TestMemoryDump : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        m_dir.reset(new QTemporaryDir);
        QDir::setCurrent(m_dir->path());
    }

    void requestLines_data()
    {
        QTest::addColumn<int>("records");
        QTest::addColumn<int>("size");
        QTest::addColumn<QString>("cmd");
        QTest::newRow("defaults") << 99 << 12
                                  << "72 01 1E2C C0\r\n72 01 1EEC C0\r\n72 01 1FAC C0\r\n72 01 206C C0\r\n"
                                     "72 01 212C C0\r\n72 01 21EC C0\r\n72 01 22AC 24\r\n";
        QTest::newRow("10 of 12: one line as typed") << 10 << 12 << "72 01 1e2c 78";
        QTest::newRow("16 of 12") << 16 << 12 << "72 01 1e2c C0";
        QTest::newRow("17 of 12") << 17 << 12 << "72 01 1E2C C0\r\n72 01 1EEC 0C\r\n";
        QTest::newRow("one byte") << 1 << 1 << "72 01 1e2c 01";
        QTest::newRow("200 of 1") << 200 << 1 << "72 01 1E2C C8\r\n";
    }
    void requestLines()
    {
        QFETCH(int, records);
        QFETCH(int, size);
        QFETCH(QString, cmd);
        QCOMPARE(memdump::memoryRequests("01", "1e2c", records, size), cmd);
    }

    void panelChecks_data()
    {
        QTest::addColumn<QString>("page");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("records");
        QTest::addColumn<QString>("size");
        QTest::addColumn<QString>("message");
        QTest::newRow("page of three") << "001"
                                       << "1e2c"
                                       << "99"
                                       << "12"
                                       << "Page number can be maximum 2 digits";
        QTest::newRow("address of five") << "01"
                                         << "1e2c0"
                                         << "99"
                                         << "12"
                                         << "Memory address can be maximum 4 hex digits";
        QTest::newRow("no records") << "01"
                                    << "1e2c"
                                    << "0"
                                    << "12"
                                    << "Number of records can not be 0 ";
        QTest::newRow("negative records") << "01"
                                          << "1e2c"
                                          << "-3"
                                          << "12"
                                          << "Number of records can not be 0 ";
        QTest::newRow("empty records") << "01"
                                       << "1e2c"
                                       << ""
                                       << "12"
                                       << "Number of records can not be 0 ";
        QTest::newRow("letters") << "01"
                                 << "1e2c"
                                 << "many"
                                 << "12"
                                 << "Number of records can not be 0 ";
        QTest::newRow("size 0") << "01"
                                << "1e2c"
                                << "99"
                                << "0"
                                << "Record size can not be 0 ";
        QTest::newRow("size 0.4 rounds to 0") << "01"
                                              << "1e2c"
                                              << "99"
                                              << "0.4"
                                              << "Record size can not be 0 ";
        QTest::newRow("size 201") << "01"
                                  << "1e2c"
                                  << "99"
                                  << "201"
                                  << "Record size can be maximum 200";
    }
    void panelChecks()
    {
        QFETCH(QString, page);
        QFETCH(QString, address);
        QFETCH(QString, records);
        QFETCH(QString, size);
        QFETCH(QString, message);
        Rig r;
        r.tick(0);
        r.model.setText(Field::MemPage, page);
        r.model.setText(Field::MemAddress, address);
        r.model.setText(Field::MemRecordNumber, records);
        r.model.setText(Field::MemRecordSize, size);
        touch("Memory.mem");
        touch("Memory3.mem");
        r.read.read();
        QCOMPARE(r.prompter.shown.size(), 1);
        QCOMPARE(r.prompter.shown[0].text, message);
        QCOMPARE(r.prompter.shown[0].title, QStringLiteral("Tarvo"));
        QVERIFY(r.link.writes.isEmpty());
        QCOMPARE(fileContent("Memory.mem"), QByteArray("user data\r\n"));
        QCOMPARE(fileContent("Memory3.mem"), QByteArray("user data\r\n"));
    }

    void recordLines()
    {
        // 199 bytes: 4 leading, 16 records of 12, 3 trailing.
        const QString reply = replyText(199);
        const QStringList first = memdump::recordLines(reply, "01", 0x1E2C, 12, 0);
        QCOMPARE(first.size(), 16);
        QCOMPARE(first[0], QStringLiteral("#001 (01/1E2C):  05 06 07 08 09 0A 0B 0C 0D 0E 0F 10"));
        QCOMPARE(first[15].left(16), QStringLiteral("#016 (01/1EE0): "));
        const QStringList second = memdump::recordLines(reply, "01", 0x1E2C, 12, 16);
        QCOMPARE(second[0].left(16), QStringLiteral("#017 (01/1EEC): "));
        QVERIFY(memdump::recordLines(replyText(6), "01", 0, 12, 0).isEmpty());
        QCOMPARE(memdump::recordLines(replyText(10), "1", 0, 3, 999).first().left(15),
                 QStringLiteral("#1000 (01/0BB5)"));
        // A trailing part record gets its own line only when it is more than about half a record.
        QCOMPARE(memdump::recordLines(replyText(7 + 12 + 7), "01", 0, 12, 0).size(), 2);
        QCOMPARE(memdump::recordLines(replyText(7 + 12 + 5), "01", 0, 12, 0).size(), 1);
    }

    void identificationTexts()
    {
        QCOMPARE(memdump::epromText(replyText(13)), std::optional<QString>("06/07/08 CHECKSUM:090A"));
        QCOMPARE(memdump::epromText(replyText(12)), std::nullopt);
        QCOMPARE(memdump::romText(replyText(16)), std::optional<QString>("04 05060708 09 0A0B0C0D"));
        QCOMPARE(memdump::romText(replyText(15)), std::nullopt);
    }

    void readTwoControllers()
    {
        Rig r;
        r.tick(0);
        r.tick(2);
        QStringList requests;
        QObject::connect(&r.read, &MemoryRead::requestsChanged, [&](const QString& text) { requests << text; });
        touch("keep.mem");
        touch("Memory7.mem"); // left by an earlier read: removed
        r.read.read();

        const QList<QByteArray> dump = fileContent("Memory.mem").split('\n');
        const QByteArray stars = QByteArray(84, '*') + '\r';
        QCOMPARE(dump[0], stars);
        QCOMPARE(dump[1], header(1, 5, romOf(5)));
        QCOMPARE(dump[2], stars);
        QCOMPARE(dump[3], QByteArray("\r"));
        const QByteArray firstRecord = sim::memoryBytes(5, 1, 0x1E2C, 12);
        QCOMPARE(dump[4],
                 "#001 (01/1E2C): " + ByteArrayToHex(firstRecord, false).prepend(' ').chopped(1).toLatin1() + "\r");
        QCOMPARE(dump[102].left(5), QByteArray("#099 "));
        QCOMPARE(dump[103], QByteArray("\r"));
        QCOMPARE(dump[104], QByteArray("\r"));
        QCOMPARE(dump[105], stars);
        QCOMPARE(dump[106], header(3, 9, romOf(9)));
        QCOMPARE(dump.size(), 2 * 105 + 1);
        QCOMPARE(fileContent("keep.mem"), QByteArray("user data\r\n"));
        QVERIFY(!QFile::exists("Memory7.mem"));
        QCOMPARE(r.viewed, QStringList{"Memory.mem"});
        QVERIFY(!r.read.reading());
        QVERIFY(!r.read.state().MemDumpOn);
        QCOMPARE(r.read.state().MemRecordCount[0], 99);
        // The last requests are the ones the read left for the operator to see.
        QCOMPARE(requests.last(), memdump::memoryRequests("01", "1e2c", 99, 12));
        QCOMPARE(requests.mid(0, 2), (QStringList{"73", "71"}));
    }

    // Each read starts with empty identification texts: a controller that does not answer one this
    // time shows nothing rather than what it (or whatever controller sat in its slot) said before.
    void identificationsDoNotOutliveTheirRead()
    {
        Rig r;
        r.tick(0);
        r.read.read();
        QCOMPARE(fileContent("Memory.mem").split('\n')[1], header(1, 5, romOf(5)));
        r.silentToRom = true;
        r.read.read();
        QCOMPARE(fileContent("Memory.mem").split('\n')[1], header(1, 5, QString()));
    }

    void readWithoutSlotsLeavesAnEmptyDump()
    {
        Rig r;
        r.read.read(true);
        QCOMPARE(fileContent("Memory.mem"), QByteArray());
        QVERIFY(r.viewed.isEmpty());
    }

    void readRefusedWhileACycleRuns()
    {
        Rig r;
        r.tick(0);
        r.model.setListIndex(Field::TxtFunction, 0);
        bool refused = false;
        r.pump.at(0.001, [&] { refused = !r.read.read(); });
        r.polling.sendOnce();
        QVERIFY(refused);
        QVERIFY(!QFile::exists("Memory.mem"));
        QCOMPARE(r.link.writes.size(), 1); // only the send's own request
    }

private:
    std::unique_ptr<QTemporaryDir> m_dir;
};

QTEST_APPLESS_MAIN(TestMemoryDump)
#include "tst_memdump.moc"
