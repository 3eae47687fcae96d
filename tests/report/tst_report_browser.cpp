// The commissioning report as a customer's browser takes it: tarvo-cli writes it from a small site
// (tests/report/site: a journal of four controllers, a census, Tarvo.ini), and headless Chromium
// renders it, prints it and takes a picture of it. The page must load without a single console
// message (it has no script, so any is an error: a fetch refused, a bad attribute), fetch nothing,
// hold the tables the report promises, and print on A4.

#include "ConfigFile.h"
#include "ConsoleModel.h"
#include "ProgramRun.h"
#include "TestFiles.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace tarvo;
using namespace tarvo::test;

namespace {

using Run = ProgramRun;

Run run(const QString& program, const QStringList& args, int timeoutMs = 120000)
{
    return runProgram(program, args, timeoutMs);
}

// The lines of Chromium's log that the page's console wrote.
QStringList consoleLines(const QByteArray& err)
{
    QStringList lines;
    for (const QByteArray& line : err.split('\n'))
        if (line.contains(":CONSOLE"))
            lines << QString::fromUtf8(line);
    return lines;
}

} // namespace

class TestReportBrowser : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void rendersWithoutErrorsAndFetchesNothing();
    void printsOnA4();

private:
    // Chromium without a profile of its own, background services or any name to resolve: whatever the
    // page asked of the network would fail here rather than leave the machine.
    Run chromium(const QStringList& args);

    QString m_chromium;
    QTemporaryDir m_dir;
    QString m_report;
};

void TestReportBrowser::initTestCase()
{
    m_chromium = QStandardPaths::findExecutable(QStringLiteral("chromium"));
    QVERIFY2(!m_chromium.isEmpty(), "chromium is not installed (script/bootstrap installs it)");
    QVERIFY(m_dir.isValid());

    // The site folder as the technician left it, with the console's settings of a Modbus TCP link.
    const QString site = m_dir.filePath("site");
    QVERIFY(QDir().mkpath(site));
    for (const QString& name : QDir(TARVO_REPORT_SITE).entryList(QDir::Files))
        QVERIFY(QFile::copy(QDir(TARVO_REPORT_SITE).filePath(name), QDir(site).filePath(name)));
    ConsoleModel model;
    model.choose(Field::OpTCP);
    model.setText(Field::IP, "192.0.2.40");
    model.setText(Field::Port, "502");
    model.choose(Field::Modbus);
    QVERIFY(config::SaveConfig(model, QDir(site).filePath("Tarvo.cfg")));
    QVERIFY(writeFile(QDir(site).filePath("Tarvo.ini"),
                      fileContent(QDir(site).filePath("Tarvo.ini")) + "\n[tcp]\nframing=mbap\n"));

    m_report = m_dir.filePath("report.html");
    const Run cli =
        run(TARVO_CLI_PATH, {"report", "--site", site, "--journal", QDir(site).filePath("journal-20261210-090000.csv"),
                             "--census", QDir(site).filePath("census.csv"), "--output", m_report});
    QVERIFY2(cli.code == 0, cli.err.constData());
}

Run TestReportBrowser::chromium(const QStringList& args)
{
    return run(m_chromium,
               QStringList{"--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
                           "--disable-background-networking", "--disable-component-update", "--disable-sync",
                           "--host-resolver-rules=MAP * ~NOTFOUND", "--user-data-dir=" + m_dir.filePath("profile"),
                           "--enable-logging=stderr", "--v=0"} +
                   args);
}

void TestReportBrowser::rendersWithoutErrorsAndFetchesNothing()
{
    // The page as written, and a copy under a policy that refuses every fetch and every script: a
    // refusal is a console message, so a page that reached for anything outside itself fails here
    // whatever the page's own policy says.
    QByteArray html = fileContent(m_report);
    QVERIFY(html.contains("<meta http-equiv=\"Content-Security-Policy\""));
    const QString strict = m_dir.filePath("strict.html");
    html.replace("<head>", "<head>\n<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; "
                           "style-src 'unsafe-inline'\">");
    QVERIFY(writeFile(strict, html));

    for (const QString& page : {m_report, strict}) {
        const Run r = chromium({"--dump-dom", "file://" + page});
        QVERIFY2(r.code == 0, r.err.constData());
        QVERIFY2(consoleLines(r.err).isEmpty(), qPrintable(consoleLines(r.err).join('\n')));
        const QString dom = QString::fromUtf8(r.out);
        QVERIFY2(dom.contains("PASS: all") || dom.contains("FAIL: "), qPrintable(dom.left(2000)));
        // The header with the site's settings, the journal's digest, a section with its tables and chart
        // per controller, the census and the appendix.
        QVERIFY(dom.contains("<th>Site</th><td>North plant &amp; yard</td>"));
        QVERIFY(dom.contains("<th>Link</th><td>192.0.2.40:502, Modbus TCP over TCP</td>"));
        QVERIFY(dom.contains("<th>Protocol</th><td>Modbus</td>"));
        QVERIFY(dom.contains(
            QCryptographicHash::hash(fileContent(QString(TARVO_REPORT_SITE) + "/journal-20261210-090000.csv"),
                                     QCryptographicHash::Sha256)
                .toHex()));
        QCOMPARE(dom.count("<section class=\"slot\">"), 4);
        QCOMPARE(dom.count("<svg "), 4);
        QVERIFY(dom.contains("Slot 2: Gate &lt;B&gt; barrier, address 11"));
        QVERIFY(dom.contains("<h2>Census: census.csv</h2>"));
        QVERIFY(dom.contains("<table class=\"failures\">"));
    }
}

void TestReportBrowser::printsOnA4()
{
    // The print and a picture of the page stay in the test's working folder (the build's), for whoever
    // looks at a failure or at the page.
    const QString pdf = QDir::current().filePath("report-browser.pdf");
    QFile::remove(pdf);
    const Run r = chromium({"--no-pdf-header-footer", "--print-to-pdf=" + pdf, "file://" + m_report});
    QVERIFY2(r.code == 0, r.err.constData());
    QVERIFY2(consoleLines(r.err).isEmpty(), qPrintable(consoleLines(r.err).join('\n')));
    const QByteArray bytes = fileContent(pdf);
    QVERIFY(bytes.startsWith("%PDF-"));
    // Every page A4 portrait: 595 x 842 points, as the page's own @page rule asks.
    const QRegularExpression box(QStringLiteral("/MediaBox\\s*\\[\\s*0\\s+0\\s+([0-9.]+)\\s+([0-9.]+)\\s*\\]"));
    int pages = 0;
    for (auto it = box.globalMatch(QString::fromLatin1(bytes)); it.hasNext();) {
        const auto m = it.next();
        QCOMPARE(qRound(m.captured(1).toDouble()), 595);
        QCOMPARE(qRound(m.captured(2).toDouble()), 842);
        ++pages;
    }
    QVERIFY2(pages >= 2, qPrintable(QString::number(pages)));

    const QString png = QDir::current().filePath("report-browser.png");
    QFile::remove(png);
    const Run shot =
        chromium({"--hide-scrollbars", "--window-size=1280,2000", "--screenshot=" + png, "file://" + m_report});
    QVERIFY2(shot.code == 0 && QFile::exists(png), shot.err.constData());
}

QTEST_GUILESS_MAIN(TestReportBrowser)
#include "tst_report_browser.moc"
