#include "Conversions.h"
#include "Errors.h"
#include "Number.h"

#include <QTest>

using namespace tarvo;

class TestConversions : public QObject {
    Q_OBJECT
private slots:
    void byteArrayToHex_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("lengthFlag");
        QTest::addColumn<QString>("expected");
        QTest::newRow("three bytes") << QByteArray::fromHex("01020a") << false << "01 02 0A ";
        QTest::newRow("one byte") << QByteArray::fromHex("0f") << false << "0F ";
        QTest::newRow("empty") << QByteArray() << false << "";
        QTest::newRow("flag cuts after data") << QByteArray::fromHex("01030200 2a39d4") << true << "01 03 02 00 2A ";
        QTest::newRow("flag, count beyond end") << QByteArray::fromHex("0103ff00") << true << "01 03 FF 00 ";
        QTest::newRow("flag, under three bytes") << QByteArray::fromHex("0103") << true << "01 ";
        QTest::newRow("flag, empty") << QByteArray() << true << "";
        QTest::newRow("high bytes") << QByteArray::fromHex("ff80") << false << "FF 80 ";
    }
    void byteArrayToHex()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, lengthFlag);
        QFETCH(QString, expected);
        QCOMPARE(ByteArrayToHex(bytes, lengthFlag), expected);
    }

    void hexToDec_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("expected");
        QTest::newRow("lower case") << "1e2c" << 7724.0;
        QTest::newRow("FF") << "FF" << 255.0;
        QTest::newRow("empty") << "" << 0.0;
        QTest::newRow("space counts 0") << "01 03" << 4099.0;
        QTest::newRow("non-hex counts 0") << "1G" << 16.0;
        QTest::newRow("13 digits exact") << "FFFFFFFFFFFFF" << 4503599627370495.0;
    }
    void hexToDec()
    {
        QFETCH(QString, text);
        QFETCH(double, expected);
        QCOMPARE(HexToDec(text), expected);
    }

    void decToHex_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        QTest::newRow("10") << "10"
                            << "0A";
        QTest::newRow("empty") << ""
                               << "00";
        QTest::newRow("5") << "5"
                           << "05";
        QTest::newRow("00") << "00"
                            << "00";
        QTest::newRow("09") << "09"
                            << "09";
        QTest::newRow("15") << "15"
                            << "0F";
        QTest::newRow("16") << "16"
                            << "10";
        QTest::newRow("31") << "31"
                            << "1F";
        QTest::newRow("32") << "32"
                            << "20";
        QTest::newRow("100") << "100"
                             << "64";
        QTest::newRow("255") << "255"
                             << "FF";
        QTest::newRow("256") << "256"
                             << "100";
        QTest::newRow("005 is no key") << "005"
                                       << "5";
        QTest::newRow("blanks around") << " 7 "
                                       << "7";
        QTest::newRow("fraction half to even") << "2.5"
                                               << "2";
        QTest::newRow("fraction up") << "3.5"
                                     << "4";
        QTest::newRow("negative") << "-1"
                                  << "FFFFFFFF";
        QTest::newRow("ten digits") << "4294967295"
                                    << "FFFFFFFF";
        QTest::newRow("2^35-1") << "34359738367"
                                << "7FFFFFFFF";
        QTest::newRow("2^31-1") << "2147483647"
                                << "7FFFFFFF";
        QTest::newRow("2^31, ten characters split") << "2147483648"
                                                    << "80000000";
    }
    void decToHex()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QStringList boxes;
        QCOMPARE(DecToHex(text, [&](const QString& title, const QString& prompt) { boxes << title << prompt; }),
                 expected);
        QVERIFY(boxes.isEmpty());
    }

    void decToHexFailure_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("prompt");
        QTest::newRow("letters") << "abc"
                                 << "Error #  13\rType mismatch";
        QTest::newRow("beyond 32 bits, short text") << "3e9"
                                                    << "Error #  6\rOverflow";
        QTest::newRow("2^35") << "34359738368"
                              << "Error #  6\rOverflow";
    }
    void decToHexFailure()
    {
        QFETCH(QString, text);
        QFETCH(QString, prompt);
        QStringList boxes;
        const QString result =
            DecToHex(text, [&](const QString& title, const QString& shown) { boxes << title << shown; });
        QCOMPARE(result, QString());
        QCOMPARE(boxes, (QStringList{QStringLiteral("Vesmark Error"), prompt}));
    }

    void zeroPad()
    {
        QCOMPARE(ZeroPad(QStringLiteral("7"), 4), QStringLiteral("0007"));
        QCOMPARE(ZeroPad(QStringLiteral("ABCDE"), 2), QStringLiteral("ABCDE"));
        int width = 0;
        QCOMPARE(ZeroPad(QStringLiteral("7"), width), QStringLiteral("07"));
        QCOMPARE(width, 2);
        QCOMPARE(ZeroPad(QStringLiteral("7"), -3), QStringLiteral("7"));
        QCOMPARE(ZeroPad(5.0, 3), QStringLiteral("005"));
        QCOMPARE(Pad2(QStringLiteral("4")), QStringLiteral("04"));
        QCOMPARE(Pad2(QString()), QStringLiteral("00"));
        QCOMPARE(Pad2(QStringLiteral("123")), QStringLiteral("123"));
    }

    void bitStrings()
    {
        QCOMPARE(HexToBin(QStringLiteral("a")), QStringLiteral("1010"));
        QCOMPARE(HexToBin(QStringLiteral("1F")), QStringLiteral("00011111"));
        QVERIFY_THROWS_EXCEPTION(TarvoError, HexToBin(QStringLiteral("0G")));
        QVERIFY_THROWS_EXCEPTION(TarvoError, HexToBin(QString()));
        QCOMPARE(BinToHex(QStringLiteral("1010")), QStringLiteral("A"));
        QCOMPARE(BinToHex(QStringLiteral("101")), QString());
        QCOMPARE(BinToHex(QStringLiteral("10a0")), QString());
        const QString ones(16, QLatin1Char('1'));
        QCOMPARE(ShiftRight(ones, 8), QStringLiteral("0000000011111111"));
        QCOMPARE(ShiftLeft(ones, 12), QStringLiteral("1111000000000000"));
        QCOMPARE(ShiftRight(ones, 17), QString(16, QLatin1Char('0')));
        QCOMPARE(ShiftLeft(ones, 17), QString(16, QLatin1Char('0')));
        QCOMPARE(ShiftRight(QStringLiteral("1011"), 1), QStringLiteral("0101"));
        QCOMPARE(ShiftLeft(QStringLiteral("1011"), 1), QStringLiteral("0110"));
        QCOMPARE(ShiftRight(QStringLiteral("1011"), 0), QStringLiteral("1011"));
        QCOMPARE(XorBin(QStringLiteral("1100"), QStringLiteral("1010")), QStringLiteral("0110"));
        QCOMPARE(XorBin(QStringLiteral("1010"), QStringLiteral("101")), QString());
        QCOMPARE(XorBin(QString(), QString()), QString());
        QVERIFY_THROWS_EXCEPTION(TarvoError, XorBin(QStringLiteral("1x"), QStringLiteral("10")));
    }

    void numbers_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<double>("value");
        QTest::newRow("plain") << "12" << true << 12.0;
        QTest::newRow("blanks") << "  12  " << true << 12.0;
        QTest::newRow("sign") << "-7" << true << -7.0;
        QTest::newRow("plus") << "+7" << true << 7.0;
        QTest::newRow("fraction") << "2.5" << true << 2.5;
        QTest::newRow("exponent") << "1e3" << true << 1000.0;
        QTest::newRow("empty") << "" << false << 0.0;
        QTest::newRow("blank") << "   " << false << 0.0;
        QTest::newRow("letters") << "abc" << false << 0.0;
        QTest::newRow("trailing junk") << "12x" << false << 0.0;
        QTest::newRow("inner blank") << "1 2" << false << 0.0;
        QTest::newRow("lone sign") << "-" << false << 0.0;
    }
    void numbers()
    {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QFETCH(double, value);
        const auto parsed = parseNumber(text);
        QCOMPARE(parsed.has_value(), valid);
        if (valid)
            QCOMPARE(*parsed, value);
        else
            QVERIFY_THROWS_EXCEPTION(TarvoError, toInt32(text));
    }

    void wholeNumberRanges()
    {
        QCOMPARE(toInt16(QStringLiteral("2.5")), int16_t(2));
        QCOMPARE(toInt16(QStringLiteral("3.5")), int16_t(4));
        QCOMPARE(toInt16(QStringLiteral("-32768")), int16_t(-32768));
        QCOMPARE(toInt16(QStringLiteral("32767")), int16_t(32767));
        QCOMPARE(toInt32(QStringLiteral("-2147483648")), INT32_MIN);
        try {
            toInt16(QStringLiteral("32768"));
            QFAIL("no overflow");
        } catch (const TarvoError& e) {
            QCOMPARE(e.number(), error::kOverflow);
        }
        try {
            toInt32(QStringLiteral("2147483648"));
            QFAIL("no overflow");
        } catch (const TarvoError& e) {
            QCOMPARE(e.number(), error::kOverflow);
        }
        try {
            toInt16(QStringLiteral("x"));
            QFAIL("no mismatch");
        } catch (const TarvoError& e) {
            QCOMPARE(e.number(), error::kTypeMismatch);
        }
    }
};

QTEST_APPLESS_MAIN(TestConversions)
#include "tst_conversions.moc"
