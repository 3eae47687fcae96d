#pragma once

#include "FieldBinding.h"
#include "Lifecycle.h"
#include "Polling.h"
#include "TranslateDialog.h"

#include <QMainWindow>
#include <QPointer>
#include <functional>
#include <memory>

class QAction;
class QComboBox;
class QGridLayout;
class QHelpEvent;
class QKeySequence;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QScrollArea;
class QTabWidget;

namespace tarvo {

class ConsoleModel;
class ControllersDock;
class FileDialogs;
class Health;
class Journal;
class FrameWorkbench;
class JournalDock;
class JournalWriter;
class Prompter;
class Stack;

// The console drawn with widgets, and its event handlers. It owns no state of its own: every widget
// shows one field of the model (its objectName is the field's name) and writes the operator's edits
// back at every keystroke. Its buttons and its start and close run the program below it (the stack's
// verbs), and it enables and disables the buttons as the cycles start and end.
class ConsoleWindow : public QMainWindow {
    Q_OBJECT
public:
    // prompter: the message boxes of the command files and of a close that could not save.
    // dialogs: the Open and Save boxes; nullptr uses the system's own.
    ConsoleWindow(Stack& stack, Prompter& prompter, FileDialogs* dialogs = nullptr, QWidget* parent = nullptr);
    ~ConsoleWindow() override;

    ConsoleModel& model() const { return m_model; }
    Stack& stack() const { return m_stack; }

    // The widget that draws a field, or nullptr for one the window does not draw.
    QWidget* fieldWidget(FieldRef ref) const { return m_fields.widget(ref); }
    // The same by the field's name (its objectName); nullptr for a name the console does not know.
    QWidget* fieldWidget(const QString& name) const { return m_fields.widget(name); }

    // Before the window is first shown: the settings file, the command line (a send; a memory read,
    // after which the program is to end), the version in the title.
    Lifecycle::LoadResult Form_Load(const QString& argumentText);
    // Closing: false while a cycle runs (it is stopped, and the window closes once it has unwound);
    // otherwise the link is closed and the settings saved when "Save Config on exit" is ticked. A
    // settings file that could not be saved is told in a message box, unless the close is quiet.
    bool Form_Unload();
    // A close the operator did not ask for (the session is ending): no message box.
    void setQuietClose(bool quiet) { m_quietClose = quiet; }

    // Asked before the window closes instead of Form_Unload; returning false keeps it open.
    void setCloseHandler(std::function<bool()> handler) { m_closeHandler = std::move(handler); }

    // The translate dialog while it is open, else nullptr.
    TranslateDialog* translateDialog() const { return m_translate; }

    // The menu bar's Tools menu, where tools add their entries.
    QMenu* toolsMenu() const { return m_toolsMenu; }
    // The View menu, shown once watchBus has given it its entries.
    QMenu* viewMenu() const { return m_viewMenu; }

    // Shows the bus around the console: the Journal and Controllers docks (View menu), the journal
    // file (View → Write journal to file; started now when the settings say so), File → Export
    // journal, and each slot's reply boxes tinted by its last verdict. The journal, the counters and
    // the writer must outlive the window.
    void watchBus(Journal& journal, Health& health, JournalWriter& writer);
    JournalDock* journalDock() const;
    ControllersDock* controllersDock() const;
    // Size, position and docks as the settings keep them (ConsoleModel::ini.window), after watchBus.
    // Anything missing or unreadable leaves the defaults. Closing the window puts them back there.
    void restoreLayout();

    // The site folder the console works in, shown in the title and put first among the recent sites.
    // Until then the title shows a site only when Tarvo.ini names one.
    void setSite(const QString& folder);
    // The journal file this session writes, or empty.
    QString sessionJournal() const;

public slots:
    // Moves to another site folder: this one saved as a close saves it, the other loaded as a start
    // loads it. False, told in a message, when the console stays where it is.
    bool openSite(const QString& folder);
    void chooseSite();
    // A new site in a folder of the operator's choice, named after it, with the technician kept.
    void newSite();
    void editSiteDetails();
    // File → Commissioning report…: the journals, the census and the file chosen in a dialog.
    void chooseReport();
    // The Controllers dock's Report: the session's journal file, into a new report in the site folder.
    void writeSessionReport();
    // Reads the journals beside the window and writes the report; a message tells how it went.
    void writeReport(const QStringList& journals, const QString& census, const QString& output);

    // The buttons of the cycles and of the memory read.
    void CmdSend_Click();
    void CmdStart_Click();
    void CmdStop_Click();
    void CmdReadMemory_Click();

    // Opens the translate dialog (or brings the open one forward) with this text, translated at once.
    void showTranslation(const QString& hex);
    // Opens the frame workbench with the console's settings (or brings the open one forward).
    void showWorkbench();
    void openCommandFile();
    void saveCommandFile();

    // Hands the journal's new rows to the view, the file and the reply colours, and redraws the
    // counters if they changed. A timer does it about once a second (the view takes its rows at its
    // own pace), so that polling never waits for drawing or the disk; called here, the view shows
    // every row at once.
    void flushBus();
    void exportJournal();
    // Starts a new journal file or closes the one being written, and remembers the choice.
    void setJournalToFile(bool on);
    void chooseJournalFolder();
    void showAbout();
    void showShortcuts();

signals:
    // A button was pressed (by the mouse, its key or its menu entry), just before its handler runs.
    void sendClicked();
    void startClicked();
    void stopClicked();
    void readMemoryClicked();
    // A commissioning report was written to this file.
    void reportWritten(const QString& path);
    // The console moved to another site folder, whose settings are now the model's.
    void siteOpened();

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    struct Bus;

    // The buttons while a cycle or the memory read runs, and back when it has ended.
    void cycleStarted(Polling::Cycle cycle);
    void restoreControls();
    void buildMenus();
    // A menu entry or key that does what the field's button does, enabled as the button is.
    QAction* buttonAction(Field button, const QString& text, const QKeySequence& key, const QString& name);
    void drawCommandStates();
    void journalProblem(const QString& problem);
    // all: the view takes its rows now as well.
    void flushBusRows(bool all);
    // Tints one slot's reply boxes by its last verdict, or gives them their usual colour back.
    void drawReplyMarks(int slot);
    // The tooltip of a reply box with its slot's last verdict; false when it has none to show.
    bool showReplyTip(QObject* viewport, QHelpEvent* event);
    QWidget* buildTopBar();
    QWidget* buildGeneralPage();
    QWidget* buildDefinitionPage();
    QScrollArea* buildSlotArea(const QString& areaName, const QString& panelName, const QString& barName,
                               const std::function<void(QGridLayout*, int)>& addRow);
    // A slot's reply box.
    QPlainTextEdit* replyBox(FieldRef ref);
    // The serial line settings beyond the speed, in a dialog from the link frame's button.
    void editLineSettings();
    // The link frame's own controls (the line button, the network link's transport and framing) as
    // Tarvo.ini has them: at the start, and again once the settings have been read.
    void drawLinkSettings();
    // Each slot's name (Tarvo.ini) as the tooltip of its number on both pages.
    void drawSlotNames();
    // The title: the program and version, and the site's name and folder when there is a site.
    void drawTitle();
    void buildSiteMenu(QMenu* file);
    void fillRecentSites();
    // The site entries, usable only while nothing runs on the bus.
    void drawSiteActions();

    Stack& m_stack;
    ConsoleModel& m_model;
    Prompter& m_prompter;
    std::unique_ptr<FileDialogs> m_ownDialogs;
    FileDialogs* m_dialogs;
    FieldBinding m_fields;
    QTabWidget* m_tabs = nullptr;
    QPushButton* m_lineButton = nullptr;
    QComboBox* m_transportChoice = nullptr;
    QComboBox* m_framingChoice = nullptr;
    QPointer<TranslateDialog> m_translate;
    QPointer<FrameWorkbench> m_workbench;
    std::function<bool()> m_closeHandler;
    bool m_quietClose = false;

    QMenu* m_viewMenu = nullptr;
    QMenu* m_toolsMenu = nullptr;
    QAction* m_exportAction = nullptr;
    QList<QPair<Field, QAction*>> m_buttonActions;
    QAction* m_escapeStop = nullptr;
    QAction* m_reportAction = nullptr;
    QMenu* m_recentSites = nullptr;
    QList<QAction*> m_siteActions;
    QString m_site; // the site folder, absolute; empty until setSite
    bool m_reportRunning = false;
    std::unique_ptr<Bus> m_bus; // what watchBus set up
};

} // namespace tarvo
