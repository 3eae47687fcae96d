#include <QTest>
class TestE2eProgram : public QObject {
    Q_OBJECT
private slots:
    void placeholder() {}
};
QTEST_GUILESS_MAIN(TestE2eProgram)
#include "tst_e2e_program.moc"
