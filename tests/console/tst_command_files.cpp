#include "CommandFiles.h"
#include "ConsoleModel.h"
#include "FakeFileDialogs.h"
#include "FakePrompter.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace tarvo;

namespace {
QByteArray contentsOf(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

void writeRaw(const QString& path, const QByteArray& data)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(data);
}
} // namespace

class TestCommandFiles : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString path(const QString& name) const { return m_dir.filePath(name); }

private slots:
    void open_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("cmd");
        QTest::newRow("three lines") << QByteArray("A\r\nB\r\nC") << "A\r\nB\r\nC";
        QTest::newRow("final line break not read back") << QByteArray("A\r\nB\r\nC\r\n") << "A\r\nB\r\nC";
        QTest::newRow("empty file") << QByteArray() << "";
        QTest::newRow("leading empty lines dropped") << QByteArray("\r\n\r\nX\r\n") << "X";
        QTest::newRow("inner empty line kept") << QByteArray("A\r\n\r\nB") << "A\r\n\r\nB";
        QTest::newRow("trailing empty line kept") << QByteArray("A\r\n\r\n") << "A\r\n";
        QTest::newRow("LF and CR line ends") << QByteArray("A\nB\rC") << "A\r\nB\r\nC";
        QTest::newRow("8-bit text") << QByteArray("caf\xe9") << QStringLiteral("caf\u00e9");
    }
    void open()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, cmd);
        const QString name = path(QStringLiteral("open.txt"));
        writeRaw(name, file);

        ConsoleModel model;
        model.setText(Field::Cmd, QStringLiteral("before"));
        test::FakeFileDialogs dialogs;
        dialogs.answer = name;
        test::FakePrompter prompter;
        openCommandFile(model, dialogs, prompter);

        QCOMPARE(model.text(Field::Cmd), cmd);
        QCOMPARE(model.lastFileName, name);
        QCOMPARE(dialogs.filters, QStringList{kCommandFileFilter});
        QVERIFY(prompter.shown.isEmpty());
    }

    void saveThenOpen_data()
    {
        QTest::addColumn<QString>("cmd");
        QTest::newRow("one line") << "01 02 03";
        QTest::newRow("several lines") << "A\r\nB\r\nC";
        QTest::newRow("empty") << "";
        QTest::newRow("8-bit") << QStringLiteral("\u00e9t\u00e9");
    }
    void saveThenOpen()
    {
        QFETCH(QString, cmd);
        const QString name = path(QStringLiteral("roundtrip.txt"));
        ConsoleModel model;
        model.setText(Field::Cmd, cmd);
        test::FakeFileDialogs dialogs;
        dialogs.answer = name;
        test::FakePrompter prompter;

        saveCommandFile(model, dialogs, prompter);
        QCOMPARE(contentsOf(name), cmd.toLatin1() + "\r\n");
        model.setText(Field::Cmd, QStringLiteral("something else"));
        openCommandFile(model, dialogs, prompter);
        QCOMPARE(model.text(Field::Cmd), cmd);
        QVERIFY(prompter.shown.isEmpty());
    }

    void saveReplacesWholeFile()
    {
        const QString name = path(QStringLiteral("replace.txt"));
        writeRaw(name, QByteArray("a much longer old content\r\nwith two lines\r\n"));
        QVERIFY(writeCommandFile(name, QStringLiteral("new")));
        QCOMPARE(contentsOf(name), QByteArray("new\r\n"));
    }

    void cancelChangesNothing_data()
    {
        QTest::addColumn<bool>("save");
        QTest::newRow("Open cancelled") << false;
        QTest::newRow("Save cancelled") << true;
    }
    void cancelChangesNothing()
    {
        QFETCH(bool, save);
        QTemporaryDir dir; // its own folder, to see that no file appears
        const QString name = dir.filePath(QStringLiteral("untouched.txt"));
        writeRaw(name, QByteArray("on disk\r\n"));
        ConsoleModel model;
        model.setText(Field::Cmd, QStringLiteral("typed"));
        model.lastFileName = name;
        test::FakeFileDialogs dialogs; // answers with the empty name
        test::FakePrompter prompter;

        save ? saveCommandFile(model, dialogs, prompter) : openCommandFile(model, dialogs, prompter);

        QCOMPARE(model.text(Field::Cmd), QStringLiteral("typed"));
        QCOMPARE(model.lastFileName, QString()); // the cancelled dialog's empty name is remembered
        QCOMPARE(contentsOf(name), QByteArray("on disk\r\n"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("untouched.txt")});
        QVERIFY(prompter.shown.isEmpty());
    }

    // A file that cannot be read or written must neither wipe what the operator typed nor pass as done.
    void failureKeepsCmdAndIsReported_data()
    {
        QTest::addColumn<bool>("save");
        QTest::newRow("Open of a missing file") << false;
        QTest::newRow("Save into a missing folder") << true;
    }
    void failureKeepsCmdAndIsReported()
    {
        QFETCH(bool, save);
        ConsoleModel model;
        model.setText(Field::Cmd, QStringLiteral("typed"));
        test::FakeFileDialogs dialogs;
        dialogs.answer = path(QStringLiteral("no/such/folder/file.txt"));
        test::FakePrompter prompter;

        save ? saveCommandFile(model, dialogs, prompter) : openCommandFile(model, dialogs, prompter);

        QCOMPARE(model.text(Field::Cmd), QStringLiteral("typed"));
        QCOMPARE(prompter.shown.size(), 1);
        QVERIFY(prompter.shown[0].text.contains(QStringLiteral("file.txt")));
        QVERIFY(!QFile::exists(dialogs.answer));
    }

    void qtFilter_data()
    {
        QTest::addColumn<QString>("filter");
        QTest::addColumn<QString>("qt");
        QTest::newRow("command files") << kCommandFileFilter << "Command Files (*.txt);;All Files (*)";
        QTest::newRow("description without patterns") << "Text|*.txt"
                                                      << "Text (*.txt)";
    }
    void qtFilter()
    {
        QFETCH(QString, filter);
        QFETCH(QString, qt);
        QCOMPARE(qtFileFilter(filter), qt);
    }
};

QTEST_GUILESS_MAIN(TestCommandFiles)
#include "tst_command_files.moc"
