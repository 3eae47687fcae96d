#include "Crc.h"
#include "Errors.h"

#include <QRandomGenerator>
#include <QTest>
#include <boost/crc.hpp>

using namespace tarvo;

class TestCrc : public QObject {
    Q_OBJECT
private slots:
    void knownValues_data()
    {
        QTest::addColumn<QString>("frame");
        QTest::addColumn<QString>("modbus");
        QTest::addColumn<QString>("ccitt");
        QTest::newRow("0103") << "0103"
                              << "4021"
                              << "0352";
        QTest::newRow("spaced") << "01 03"
                                << "4021"
                                << "0352";
        QTest::newRow("spaced digits") << "0 1 0 3"
                                       << "4021"
                                       << "0352";
        QTest::newRow("byte list") << "01 03 "
                                   << "4021"
                                   << "0352";
        QTest::newRow("odd digit ignored") << "010"
                                           << "7E80"
                                           << "1021";
        QTest::newRow("empty") << ""
                               << "FFFF"
                               << "0000";
        QTest::newRow("spaces only") << "   "
                                     << "FFFF"
                                     << "0000";
        QTest::newRow("single digit") << "7"
                                      << "FFFF"
                                      << "0000";
        QTest::newRow("odd non-hex digit ignored") << "01G"
                                                   << "7E80"
                                                   << "1021";
        QTest::newRow("read holding") << "010300000001"
                                      << "840A"
                                      << "";
        QTest::newRow("check string") << "313233343536373839"
                                      << ""
                                      << "31C3";
        QTest::newRow("lower case") << "0a"
                                    << ""
                                    << "";
    }
    void knownValues()
    {
        QFETCH(QString, frame);
        QFETCH(QString, modbus);
        QFETCH(QString, ccitt);
        if (!modbus.isEmpty())
            QCOMPARE(CrcModbus(frame), modbus);
        if (!ccitt.isEmpty())
            QCOMPARE(CrcCcitt(frame), ccitt);
        QCOMPARE(CrcModbus(frame.toLower()), CrcModbus(frame.toUpper()));
        QCOMPARE(CrcCcitt(frame.toLower()), CrcCcitt(frame.toUpper()));
    }

    void nonHexPairFails_data()
    {
        QTest::addColumn<QString>("frame");
        QTest::newRow("G in pair") << "0G";
        QTest::newRow("later pair") << "0103XX";
        QTest::newRow("comma") << "01,3";
    }
    void nonHexPairFails()
    {
        QFETCH(QString, frame);
        QVERIFY_THROWS_EXCEPTION(TarvoError, CrcModbus(frame));
        QVERIFY_THROWS_EXCEPTION(TarvoError, CrcCcitt(frame));
    }

    // Against Boost.CRC, an implementation nobody here wrote, over random frames written the ways the
    // program meets them: packed, spaced as byte lists, lower case, with a stray odd digit.
    void agreesWithBoost()
    {
        QRandomGenerator rng(20261209);
        for (int round = 0; round < 4000; ++round) {
            const int n = static_cast<int>(rng.bounded(0, 64));
            QByteArray bytes(n, '\0');
            for (int i = 0; i < n; ++i)
                bytes[i] = static_cast<char>(rng.bounded(256));
            boost::crc_optimal<16, 0x8005, 0xFFFF, 0, true, true> modbus;
            boost::crc_optimal<16, 0x1021, 0, 0, false, false> xmodem;
            modbus.process_bytes(bytes.constData(), static_cast<size_t>(n));
            xmodem.process_bytes(bytes.constData(), static_cast<size_t>(n));
            const unsigned m = modbus.checksum();
            const QString expectModbus = QStringLiteral("%1%2")
                                             .arg(m & 0xFF, 2, 16, QLatin1Char('0'))
                                             .arg(m >> 8, 2, 16, QLatin1Char('0'))
                                             .toUpper();
            const QString expectCcitt = QStringLiteral("%1").arg(xmodem.checksum(), 4, 16, QLatin1Char('0')).toUpper();

            QString text;
            switch (round % 4) {
            case 0:
                text = QString::fromLatin1(bytes.toHex()).toUpper();
                break;
            case 1:
                text = QString::fromLatin1(bytes.toHex(' ')).toUpper() + QLatin1Char(' ');
                break;
            case 2:
                text = QString::fromLatin1(bytes.toHex());
                break; // lower case
            case 3:
                text = QString::fromLatin1(bytes.toHex()) + QLatin1Char('7');
                break; // odd length
            }
            QCOMPARE(CrcModbus(text), expectModbus);
            QCOMPARE(CrcCcitt(text), expectCcitt);
        }
    }
};

QTEST_APPLESS_MAIN(TestCrc)
#include "tst_crc.moc"
