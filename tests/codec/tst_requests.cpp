#include "Conversions.h"
#include "Crc.h"
#include "Errors.h"
#include "Framing.h"
#include "Requests.h"

#include "RequestSettingsFor.h"

#include <QTest>

using namespace tarvo;

Q_DECLARE_METATYPE(tarvo::Protocol)

namespace {
using test::settingsFor;

// The frame of one command line, from the line as typed to the text that goes on the wire.
QString commandFrame(const QString& line, const RequestSettings& s)
{
    const auto cl = commandLine(line, s);
    if (!cl)
        return QStringLiteral("<none>");
    return frameRequest(commandRequestText(*cl, s), s);
}
} // namespace

class TestRequests : public QObject {
    Q_OBJECT
private slots:
    void fixedRequests_data()
    {
        QTest::addColumn<QString>("function");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("query");
        QTest::addColumn<bool>("firstView");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("threshold");
        QTest::newRow("ReadInput 0") << fn::ReadInput << "0"
                                     << "01" << true << "010200000010" << 6;
        QTest::newRow("ReadBuffer100 16") << fn::ReadBuffer100 << "16"
                                          << "01" << true << "110401000006" << 16;
        QTest::newRow("ReadBuffer110 16") << fn::ReadBuffer110 << "16"
                                          << "01" << true << "110401100006" << 16;
        QTest::newRow("ReadBuffer first") << fn::ReadBuffer << "16"
                                          << "01" << true << "110401000006" << 16;
        QTest::newRow("ReadBuffer second") << fn::ReadBuffer << "16"
                                           << "01" << false << "110401100006" << 16;
        QTest::newRow("SendQuery 7") << fn::SendQuery << "5"
                                     << "7" << true << "061807" << 0;
        QTest::newRow("SendQuery default") << fn::SendQuery << "5"
                                           << "01" << true << "061801" << 0;
        QTest::newRow("SendQuery empty query") << fn::SendQuery << "5"
                                               << "" << true << "061800" << 0;
        QTest::newRow("address 253") << fn::ReadInput << "253"
                                     << "" << true << "FE0200000010" << 6;
        QTest::newRow("address 254") << fn::ReadInput << "254"
                                     << "" << true << "FF0200000010" << 6;
        QTest::newRow("address with blanks") << fn::ReadInput << " 5 "
                                             << "" << true << "060200000010" << 6;
        QTest::newRow("unknown function") << "Nothing"
                                          << "5"
                                          << "" << true << "" << 0;
        QTest::newRow("empty function") << ""
                                        << "5"
                                        << "" << true << "" << 0;
    }
    void fixedRequests()
    {
        QFETCH(QString, function);
        QFETCH(QString, address);
        QFETCH(QString, query);
        QFETCH(bool, firstView);
        QFETCH(QString, text);
        QFETCH(int, threshold);
        const FixedRequest r = fixedRequest(function, address, query, firstView);
        QCOMPARE(r.text, text);
        QCOMPARE(r.threshold, threshold);
    }

    // What goes on the wire is what the operator typed, or nothing.
    void refusedRequests_data()
    {
        QTest::addColumn<QString>("function");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("query");
        QTest::addColumn<QString>("message"); // empty: a conversion error rather than a refusal
        QTest::newRow("address 255") << fn::ReadInput << "255"
                                     << "01"
                                     << "Address 255 does not fit in one byte";
        QTest::newRow("address 300") << fn::ReadBuffer100 << "300"
                                     << "01"
                                     << "Address 300 does not fit in one byte";
        QTest::newRow("address -1") << fn::ReadInput << "-1"
                                    << "01"
                                    << "Address -1 does not fit in one byte";
        QTest::newRow("address -5") << fn::ReadInput << "-5"
                                    << "01"
                                    << "Address -5 does not fit in one byte";
        QTest::newRow("query three digits") << fn::SendQuery << "5"
                                            << "123"
                                            << "Query code \"123\" is longer than two hexadecimal digits";
        QTest::newRow("query not hex") << fn::SendQuery << "5"
                                       << "0G"
                                       << "Query code holds \"G\", which is not a hexadecimal digit";
        QTest::newRow("address not a number") << fn::ReadInput << "abc"
                                              << "01"
                                              << "";
        QTest::newRow("address empty") << fn::ReadInput << ""
                                       << "01"
                                       << "";
        QTest::newRow("address 32767 overflows") << fn::ReadInput << "32767"
                                                 << "01"
                                                 << "";
        QTest::newRow("address 40000 overflows") << fn::ReadInput << "40000"
                                                 << "01"
                                                 << "";
    }
    void refusedRequests()
    {
        QFETCH(QString, function);
        QFETCH(QString, address);
        QFETCH(QString, query);
        QFETCH(QString, message);
        try {
            fixedRequest(function, address, query, true);
            QFAIL("request was built");
        } catch (const RequestRefused& e) {
            QCOMPARE(e.description(), message);
        } catch (const TarvoError& e) {
            QVERIFY2(message.isEmpty(), qPrintable(e.description()));
        }
    }

    void commandLines_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<bool>("encrypt");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("commandText"); // "<none>" when the line yields no request
        QTest::addColumn<QString>("body");
        QTest::newRow("blanks, commas, comment") << "01 02, 03 / comment" << false << ""
                                                 << "010203"
                                                 << "010203";
        QTest::newRow("comment line slash") << "/ comment" << false << ""
                                            << "<none>"
                                            << "";
        QTest::newRow("comment line backslash") << "\\01" << false << ""
                                                << "<none>"
                                                << "";
        QTest::newRow("backslash ends scan") << "0102\\03" << false << ""
                                             << "0102"
                                             << "0102";
        QTest::newRow("upper case") << "a1b2" << false << ""
                                    << "A1B2"
                                    << "A1B2";
        QTest::newRow("odd digit dropped") << "12345" << false << ""
                                           << "12345"
                                           << "1234";
        QTest::newRow("empty") << "" << false << ""
                               << "<none>"
                               << "";
        QTest::newRow("only blanks") << " , ," << false << ""
                                     << "<none>"
                                     << "";
        QTest::newRow("encrypt with key 0F") << "0102" << true << "0F99"
                                             << "0102"
                                             << "0E0D";
        QTest::newRow("encrypt key 00") << "a1b2" << true << "00"
                                        << "A1B2"
                                        << "A1B2";
        QTest::newRow("encrypt lower-case key") << "FF" << true << "ff"
                                                << "FF"
                                                << "00";
        QTest::newRow("encrypt empty key") << "0102" << true << ""
                                           << "0102"
                                           << "0102";
    }
    void commandLines()
    {
        QFETCH(QString, line);
        QFETCH(bool, encrypt);
        QFETCH(QString, password);
        QFETCH(QString, commandText);
        QFETCH(QString, body);
        RequestSettings s = settingsFor(Protocol::None, QStringLiteral("0"));
        s.encrypt = encrypt;
        s.password = password;
        const auto cl = commandLine(line, s);
        if (commandText == QLatin1String("<none>")) {
            QVERIFY(!cl);
            return;
        }
        QVERIFY(cl);
        QCOMPARE(cl->commandText, commandText);
        QCOMPARE(cl->body, body);
    }

    void bioscryptFlags_data()
    {
        QTest::addColumn<bool>("ack");
        QTest::addColumn<bool>("res");
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("commandText");
        QTest::addColumn<bool>("warned");
        QTest::newRow("clear") << false << false << "0ABC"
                               << "0ABC" << false;
        QTest::newRow("ack") << true << false << "0ABC"
                             << "1ABC" << false;
        QTest::newRow("res") << false << true << "0ABC"
                             << "2ABC" << false;
        QTest::newRow("both") << true << true << "0abc"
                              << "3ABC" << false;
        QTest::newRow("wrong first digit") << true << false << "5ABC"
                                           << "5ABC" << true;
    }
    void bioscryptFlags()
    {
        QFETCH(bool, ack);
        QFETCH(bool, res);
        QFETCH(QString, line);
        QFETCH(QString, commandText);
        QFETCH(bool, warned);
        RequestSettings s = settingsFor(Protocol::Bioscrypt, QStringLiteral("1"));
        s.ackReq = ack;
        s.respReq = res;
        const auto cl = commandLine(line, s);
        QVERIFY(cl);
        QCOMPARE(cl->commandText, commandText);
        QCOMPARE(cl->warning, warned
                                  ? QStringLiteral("Wrong Protocol command. The First letter of the command must be 0")
                                  : QString());
    }

    void frames_data()
    {
        QTest::addColumn<Protocol>("protocol");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("request"); // a fixed request when it starts with '=', else a command line
        QTest::addColumn<QString>("frame");
        QTest::newRow("Modbus ReadInput") << Protocol::Modbus << "0"
                                          << "=ReadInput"
                                          << "01020000001079C6";
        QTest::newRow("Modbus command") << Protocol::Modbus << "0"
                                        << "0300000002"
                                        << "010300000002C40B";
        QTest::newRow("P4+ ReadBuffer100") << Protocol::Protocol4Plus << "16"
                                           << "=ReadBuffer100"
                                           << "110401000006001C04";
        QTest::newRow("P4+ command") << Protocol::Protocol4Plus << "5"
                                     << "0102"
                                     << "4005020102004A04";
        QTest::newRow("P4 command") << Protocol::Protocol4 << "5"
                                    << "0102"
                                    << "4005020102" + CrcCcitt("4005020102") + "04";
        QTest::newRow("Customer command") << Protocol::Customer << "5"
                                          << "0102"
                                          << "AA05020102" + CrcCcitt("AA05020102") + "04";
        QTest::newRow("Bioscrypt command") << Protocol::Bioscrypt << "1"
                                           << "0105"
                                           << "40286BFE00100010105000000000FFFF08FF";
        QTest::newRow("Bioscrypt with data")
            << Protocol::Bioscrypt << "1"
            << "0105ABCD"
            << "40286BFE001000101050DCBA00000000" + ReverseDigitQuads(NegSumHex("001000101050DCBA00000000"));
        QTest::newRow("None command") << Protocol::None << "5"
                                      << "A1B2"
                                      << "A1B2";
        QTest::newRow("None ReadInput") << Protocol::None << "0"
                                        << "=ReadInput"
                                        << "010200000010";
        QTest::newRow("P4 ReadInput no prefix") << Protocol::Protocol4 << "0"
                                                << "=ReadInput"
                                                << "010200000010" + CrcCcitt("010200000010") + "04";
        QTest::newRow("Bioscrypt ReadInput") << Protocol::Bioscrypt << "0"
                                             << "=ReadInput"
                                             << "40286BFE010200000010" + ReverseDigitQuads(NegSumHex("010200000010"));
        QTest::newRow("P4 odd command length") << Protocol::Protocol4 << "5"
                                               << "123"
                                               << "40050212" + CrcCcitt("40050212") + "04";
        QTest::newRow("Modbus address 254") << Protocol::Modbus << "254"
                                            << "03"
                                            << "FF03" + CrcModbus("FF03");
        QTest::newRow("P4 address 255") << Protocol::Protocol4 << "255"
                                        << "01"
                                        << "40FF0101" + CrcCcitt("40FF0101") + "04";
        QTest::newRow("Bioscrypt address 65535")
            << Protocol::Bioscrypt << "65535"
            << "0105"
            << "40286BFEFFFF0010105000000000" + ReverseDigitQuads(NegSumHex("FFFF0010105000000000"));
    }
    void frames()
    {
        QFETCH(Protocol, protocol);
        QFETCH(QString, address);
        QFETCH(QString, request);
        QFETCH(QString, frame);
        const RequestSettings s = settingsFor(protocol, address);
        if (request.startsWith(QLatin1Char('=')))
            QCOMPARE(frameRequest(fixedRequest(request.mid(1), address, QString(), true).text, s), frame);
        else
            QCOMPARE(commandFrame(request, s), frame);
    }

    void refusedCommandLines_data()
    {
        QTest::addColumn<Protocol>("protocol");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("message");
        QTest::newRow("P4 address 300") << Protocol::Protocol4 << "300"
                                        << "0102"
                                        << "AA"
                                        << ""
                                        << "Address 300 does not fit in one byte";
        QTest::newRow("P4+ negative address") << Protocol::Protocol4Plus << "-1"
                                              << "0102"
                                              << "AA"
                                              << ""
                                              << "Address -1 does not fit in one byte";
        QTest::newRow("Customer address 256") << Protocol::Customer << "256"
                                              << "0102"
                                              << "AA"
                                              << ""
                                              << "Address 256 does not fit in one byte";
        QTest::newRow("Modbus address 255") << Protocol::Modbus << "255"
                                            << "0102"
                                            << "AA"
                                            << ""
                                            << "Address 255 does not fit in one byte";
        QTest::newRow("Bioscrypt address 65536") << Protocol::Bioscrypt << "65536"
                                                 << "0102"
                                                 << "AA"
                                                 << ""
                                                 << "Address 65536 does not fit in two bytes";
        QTest::newRow("command not hex") << Protocol::None << "1"
                                         << "01G2"
                                         << "AA"
                                         << ""
                                         << "Command holds \"G\", which is not a hexadecimal digit";
        QTest::newRow("customer code long") << Protocol::Customer << "1"
                                            << "0102"
                                            << "ABC"
                                            << ""
                                            << "Customer protocol code \"ABC\" is longer than two hexadecimal digits";
        QTest::newRow("customer code not hex")
            << Protocol::Customer << "1"
            << "0102"
            << "X1"
            << ""
            << "Customer protocol code holds \"X\", which is not a hexadecimal digit";
        QTest::newRow("pass phrase not hex") << Protocol::None << "1"
                                             << "0102"
                                             << "AA"
                                             << "Z1"
                                             << "Pass phrase holds \"Z\", which is not a hexadecimal digit";
        QTest::newRow("P4+ sum pass phrase not hex") << Protocol::Protocol4Plus << "1"
                                                     << "0102"
                                                     << "AA"
                                                     << "00QQ"
                                                     << "Pass phrase holds \"Q\", which is not a hexadecimal digit";
        QTest::newRow("P4 length over one byte") << Protocol::Protocol4 << "1" << QString(512, QLatin1Char('1')) << "AA"
                                                 << ""
                                                 << "Command of 256 bytes does not fit the one-byte length field";
    }
    void refusedCommandLines()
    {
        QFETCH(Protocol, protocol);
        QFETCH(QString, address);
        QFETCH(QString, line);
        QFETCH(QString, code);
        QFETCH(QString, password);
        QFETCH(QString, message);
        RequestSettings s = settingsFor(protocol, address);
        s.customerCode = code;
        s.encrypt = !password.isEmpty();
        s.password = password;
        try {
            commandFrame(line, s);
            QFAIL("frame was built");
        } catch (const RequestRefused& e) {
            QCOMPARE(e.description(), message);
        }
    }

    void textFunctions()
    {
        QCOMPARE(SumCheck(QStringLiteral("11 04 02 00 05")), QStringLiteral("001C"));
        QCOMPARE(SumCheck(QStringLiteral("0102"), true, QStringLiteral("10")), QStringLiteral("0013"));
        QCOMPARE(SumCheck(QString(600, QLatin1Char('F'))),
                 QStringLiteral("2AD4")); // 300 x FF = 12AD4: the last four digits
        QCOMPARE(SumCheck(QStringLiteral("123")), QStringLiteral("0012"));
        QCOMPARE(NegSumHex(QStringLiteral("00100010105000000000")), QStringLiteral("FFFFFF80"));
        QCOMPARE(NegSumHex(QString()), QStringLiteral("0"));
        QCOMPARE(SwapDigitPairs(QStringLiteral("0001")), QStringLiteral("0010"));
        QCOMPARE(SwapDigitPairs(QStringLiteral("123")), QStringLiteral("213"));
        QCOMPARE(ReverseDigitQuads(QStringLiteral("FED4")), QStringLiteral("4DEF"));
        QCOMPARE(ReverseDigitQuads(QStringLiteral("FED456")), QStringLiteral("4DEF65"));
        QCOMPARE(ReverseDigitQuads(QStringLiteral("FFFFFF80")), QStringLiteral("FFFF08FF"));
    }

    void frameToBytes_data()
    {
        QTest::addColumn<QString>("frame");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("even") << "01020000001079C6" << QByteArray::fromHex("01020000001079c6");
        QTest::newRow("7 digits give 4 bytes") << "0102037" << QByteArray::fromHex("01020307");
        QTest::newRow("9 digits give 4 bytes") << "010203045" << QByteArray::fromHex("01020304");
        QTest::newRow("empty") << "" << QByteArray();
    }
    void frameToBytes()
    {
        QFETCH(QString, frame);
        QFETCH(QByteArray, bytes);
        QCOMPARE(tarvo::frameToBytes(frame), bytes);
    }
};

QTEST_APPLESS_MAIN(TestRequests)
#include "tst_requests.moc"
