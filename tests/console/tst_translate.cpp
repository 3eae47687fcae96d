#include "Translate.h"

#include <QTest>

using namespace tarvo;

class TestTranslate : public QObject {
    Q_OBJECT
private slots:
    void translate_data()
    {
        QTest::addColumn<QString>("hex");
        QTest::addColumn<QString>("chars");
        QTest::newRow("empty") << ""
                               << "";
        QTest::newRow("with spaces") << "41 42 43"
                                     << "ABC";
        QTest::newRow("without spaces") << "414243"
                                        << "ABC";
        QTest::newRow("reply box text, trailing space") << "41 42 43 "
                                                        << "ABC";
        QTest::newRow("control codes") << "01 02 41"
                                       << QStringLiteral("\x01\x02"
                                                         "A");
        QTest::newRow("mixed spacing") << "0102 41"
                                       << QStringLiteral("\x01\x02"
                                                         "A");
        QTest::newRow("odd digit count: last digit alone") << "41 4" << QStringLiteral("A\x04");
        // A space is skipped only where a pair begins; inside a pair it counts as the digit 0.
        QTest::newRow("space inside a pair") << "4 1" << QStringLiteral("@\x01");
        QTest::newRow("double space") << "41  42"
                                      << "AB";
        QTest::newRow("lower case") << "6a6B"
                                    << "jk";
        QTest::newRow("upper half is Latin-1") << "E9 FF" << QStringLiteral("\u00e9\u00ff");
        QTest::newRow("zero byte") << "00" << QString(QChar(0));
        QTest::newRow("no hex digits count as 0") << "ZZ41" << QString::fromLatin1("\0A", 2);
    }
    void translate()
    {
        QFETCH(QString, hex);
        QFETCH(QString, chars);
        const auto result = translateHex(hex);
        QVERIFY(result.has_value());
        QCOMPARE(*result, chars);
    }
};

QTEST_GUILESS_MAIN(TestTranslate)
#include "tst_translate.moc"
