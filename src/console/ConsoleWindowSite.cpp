// The console window's sites (File → New site, Open site, Recent sites, Site details) and its
// commissioning report: a site is the folder the console works in, with its settings and evidence.

#include "ConsoleModel.h"
#include "ConsoleWindow.h"
#include "ConsoleWindowBus.h"
#include "ControllersDock.h"
#include "FileDialogs.h"
#include "JournalReader.h"
#include "JournalWriter.h"
#include "Prompter.h"
#include "RecentSites.h"
#include "ReportDialog.h"
#include "ReportJob.h"
#include "SafeFile.h"
#include "Stack.h"

#include <QDateTime>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QFormLayout>
#include <QLineEdit>
#include <QMenu>
#include <QStatusBar>
#include <QThread>
#include <memory>

namespace tarvo {

namespace {

bool isSiteFolder(const QString& folder)
{
    const QDir dir(folder);
    return dir.exists(QStringLiteral("Tarvo.cfg")) || dir.exists(QStringLiteral("Tarvo.ini"));
}

// A name for a new report in the working folder that no file has yet.
QString freshReportName(const QString& stem)
{
    const QDir here = QDir::current();
    QString name = QStringLiteral("%1.html").arg(stem);
    for (int n = 2; here.exists(name); ++n)
        name = QStringLiteral("%1-%2.html").arg(stem).arg(n);
    return here.filePath(name);
}

QString today()
{
    return QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd"));
}

} // namespace

void ConsoleWindow::buildSiteMenu(QMenu* file)
{
    QAction* newSite = file->addAction(tr("&New site…"), this, &ConsoleWindow::newSite);
    newSite->setObjectName(QStringLiteral("actionNewSite"));
    QAction* openSite = file->addAction(tr("Open s&ite…"), this, &ConsoleWindow::chooseSite);
    openSite->setObjectName(QStringLiteral("actionOpenSite"));
    m_recentSites = file->addMenu(tr("&Recent sites"));
    m_recentSites->setObjectName(QStringLiteral("menuRecentSites"));
    connect(m_recentSites, &QMenu::aboutToShow, this, &ConsoleWindow::fillRecentSites);
    fillRecentSites(); // so that the menu is enabled as its list is, before it is first opened
    QAction* details = file->addAction(tr("Site &details…"), this, &ConsoleWindow::editSiteDetails);
    details->setObjectName(QStringLiteral("actionSiteDetails"));
    m_siteActions = {newSite, openSite, m_recentSites->menuAction()};
}

void ConsoleWindow::fillRecentSites()
{
    m_recentSites->clear();
    const QStringList sites = RecentSites::list();
    for (int i = 0; i < sites.size(); ++i) {
        const QString& folder = sites[i];
        QAction* a = m_recentSites->addAction(
            QStringLiteral("&%1  %2").arg(i + 1).arg(QDir::toNativeSeparators(folder)), this, [this, folder] {
                if (!QFileInfo(folder).isDir()) {
                    RecentSites::remove(folder);
                    m_prompter.message(QStringLiteral("Tarvo"),
                                       tr("The site folder %1 is gone; it is taken off the list.")
                                           .arg(QDir::toNativeSeparators(folder)),
                                       Prompter::Icon::Critical);
                    return;
                }
                openSite(folder);
            });
        a->setObjectName(QStringLiteral("actionRecentSite%1").arg(i + 1));
    }
    const bool idle = !m_stack.polling.running() && !m_stack.memoryRead.reading();
    m_recentSites->menuAction()->setEnabled(idle && !sites.isEmpty());
}

void ConsoleWindow::drawSiteActions()
{
    const bool idle = !m_stack.polling.running() && !m_stack.memoryRead.reading();
    for (QAction* a : std::as_const(m_siteActions))
        a->setEnabled(idle);
    if (idle)
        fillRecentSites();
}

void ConsoleWindow::setSite(const QString& folder)
{
    m_site = QDir(folder).absolutePath();
    RecentSites::add(m_site);
    fillRecentSites();
    drawTitle();
}

void ConsoleWindow::drawTitle()
{
    QString title = m_model.title;
    const QString& name = m_model.ini.site.name;
    if (!m_site.isEmpty() || !name.isEmpty()) {
        const QString folder = QDir::toNativeSeparators(QDir::currentPath());
        title += QStringLiteral(" — ") + (name.isEmpty() ? folder : QStringLiteral("%1 (%2)").arg(name, folder));
    }
    setWindowTitle(title);
}

bool ConsoleWindow::openSite(const QString& folder)
{
    // The layout and the journal file belong to the site being left: the layout is saved with it, and
    // its journal file ends there with every row so far.
    m_model.ini.window.geometry = saveGeometry();
    m_model.ini.window.state = saveState();
    const bool wasWriting = m_bus && m_bus->writer.writing();
    if (m_bus && !m_stack.polling.running() && !m_stack.memoryRead.reading()) {
        flushBus();
        m_bus->writer.stop();
    }
    const Lifecycle::SiteResult result = m_stack.lifecycle.openSite(folder);
    if (!result.opened) {
        if (wasWriting && m_bus && !m_bus->writer.writing())
            setJournalToFile(true); // the journal goes on, in a new file of the same site
        m_prompter.message(
            QStringLiteral("Tarvo"),
            tr("The console stays at %1: %2").arg(QDir::toNativeSeparators(QDir::currentPath()), result.problem),
            Prompter::Icon::Critical);
        return false;
    }
    setSite(QDir::currentPath());
    drawLinkSettings();
    drawSlotNames();
    if (m_bus) {
        // The counters are the site's: another site's controllers start from nothing.
        m_bus->controllersDock->reset();
        if (m_model.ini.journal.toFile)
            setJournalToFile(true);
        else
            m_bus->toFile->setChecked(false);
    }
    statusBar()->showMessage(tr("Working at %1").arg(QDir::toNativeSeparators(m_site)), 10000);
    emit siteOpened();
    return true;
}

void ConsoleWindow::chooseSite()
{
    const QString folder = m_dialogs->folderName(QDir::currentPath());
    if (!folder.isEmpty())
        openSite(folder);
}

void ConsoleWindow::newSite()
{
    // Offered beside the current site: a technician keeps the sites of a customer side by side.
    QDir start = QDir::current();
    start.cdUp();
    const QString folder = m_dialogs->folderName(start.path());
    if (folder.isEmpty())
        return;
    if (isSiteFolder(folder)) {
        // Never started over: a folder with settings is a site already, with its evidence.
        m_prompter.message(QStringLiteral("Tarvo"),
                           tr("%1 holds a site already: it is opened as it is.").arg(QDir::toNativeSeparators(folder)),
                           Prompter::Icon::Information);
        openSite(folder);
        return;
    }
    const QString technician = m_model.ini.site.technician;
    if (!openSite(folder))
        return;
    m_model.ini.site.name = QFileInfo(m_site).fileName();
    m_model.ini.site.technician = technician;
    editSiteDetails();
    // The folder is a site from now on, whatever becomes of this session.
    const QString problem = m_stack.lifecycle.save();
    if (!problem.isEmpty())
        m_prompter.message(QStringLiteral("Tarvo"), problem, Prompter::Icon::Critical);
}

void ConsoleWindow::editSiteDetails()
{
    QDialog dialog(this);
    dialog.setObjectName(QStringLiteral("siteDetails"));
    dialog.setWindowTitle(tr("Site details"));
    auto* name = new QLineEdit(m_model.ini.site.name, &dialog);
    name->setObjectName(QStringLiteral("siteName"));
    name->setPlaceholderText(tr("as the customer calls it"));
    auto* technician = new QLineEdit(m_model.ini.site.technician, &dialog);
    technician->setObjectName(QStringLiteral("siteTechnician"));
    auto* form = new QFormLayout(&dialog);
    form->addRow(tr("Site &name:"), name);
    form->addRow(tr("&Technician:"), technician);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    form->addRow(buttons);
    connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    dialog.resize(420, dialog.sizeHint().height());
    if (dialog.exec() != QDialog::Accepted)
        return;
    m_model.ini.site.name = name->text().trimmed();
    m_model.ini.site.technician = technician->text().trimmed();
    drawTitle();
}

QString ConsoleWindow::sessionJournal() const
{
    return m_bus && m_bus->writer.writing() ? m_bus->writer.path() : QString();
}

void ConsoleWindow::chooseReport()
{
    QStringList journals;
    if (const QString current = sessionJournal(); !current.isEmpty()) {
        journals << current;
    } else {
        // The newest journal of the site, if it has one.
        const QDir folder(m_model.ini.journal.folder.isEmpty() ? QStringLiteral(".") : m_model.ini.journal.folder);
        const QStringList found =
            folder.entryList({QStringLiteral("journal-*.csv")}, QDir::Files, QDir::Name | QDir::Reversed);
        if (!found.isEmpty())
            journals << QDir::cleanPath(folder.filePath(found.first()));
    }
    ReportDialog dialog(*m_dialogs, journals, freshReportName(QStringLiteral("report-") + today()), this);
    if (dialog.exec() == QDialog::Accepted)
        writeReport(dialog.journals(), dialog.census(), dialog.output());
}

void ConsoleWindow::writeSessionReport()
{
    const QString journal = sessionJournal();
    if (journal.isEmpty()) {
        m_prompter.message(QStringLiteral("Tarvo"),
                           tr("This session's journal is not written to a file: tick View → Write journal "
                              "to file, or choose journal files with File → Commissioning report…"),
                           Prompter::Icon::Information);
        return;
    }
    writeReport({journal}, QString(), freshReportName(QStringLiteral("report-") + today()));
}

void ConsoleWindow::writeReport(const QStringList& journals, const QString& census, const QString& output)
{
    if (m_reportRunning)
        return;
    if (QFileInfo::exists(output)) {
        m_prompter.message(
            QStringLiteral("Tarvo"),
            tr("%1 exists already; a report is never written over a file.").arg(QDir::toNativeSeparators(output)),
            Prompter::Icon::Critical);
        return;
    }
    // The journal file gets every row so far before it is read.
    flushBus();

    // A day's journal takes seconds to read: it is read beside the window, which goes on polling.
    struct Job {
        ReportContent content;
        QByteArray html;
        QString problem;
    };
    auto job = std::make_shared<Job>();
    job->content = reportSiteOf(m_model);
    QThread* worker = QThread::create([job, journals, census] {
        try {
            gatherReport(job->content, journals, census);
            job->html = reportHtml(job->content);
        } catch (const JournalReadError& e) {
            job->problem = e.message();
        }
    });
    m_reportRunning = true;
    m_reportAction->setEnabled(false);
    statusBar()->showMessage(tr("Writing the commissioning report…"));
    connect(worker, &QThread::finished, this, [this, worker, job, output] {
        worker->deleteLater();
        m_reportRunning = false;
        m_reportAction->setEnabled(true);
        QString error;
        if (job->problem.isEmpty() && QFileInfo::exists(output))
            job->problem =
                tr("%1 appeared while the report was made, and is left as it is").arg(QDir::toNativeSeparators(output));
        else if (job->problem.isEmpty() && !writeFileAtomically(output, job->html, &error))
            job->problem = tr("%1 cannot be written: %2").arg(QDir::toNativeSeparators(output), error);
        if (!job->problem.isEmpty()) {
            statusBar()->clearMessage();
            m_prompter.message(QStringLiteral("Tarvo"), tr("No report was written: %1").arg(job->problem),
                               Prompter::Icon::Critical);
            return;
        }
        const QString where = QDir::toNativeSeparators(QFileInfo(output).absoluteFilePath());
        statusBar()->showMessage(tr("The commissioning report is in %1").arg(where), 15000);
        emit reportWritten(output);
    });
    worker->start();
}

} // namespace tarvo
