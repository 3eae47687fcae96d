#pragma once

#include "Fields.h"
#include "TranslateDialog.h"

#include <QHash>
#include <QMainWindow>
#include <QPointer>
#include <functional>
#include <memory>

class QAbstractButton;
class QAction;
class QComboBox;
class QGridLayout;
class QGroupBox;
class QHelpEvent;
class QKeySequence;
class QLabel;
class QLineEdit;
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

// The console drawn with widgets. It owns no state of its own: every widget shows one field of the
// model (its objectName is the field's name) and writes the operator's edits back at every keystroke,
// so the rest of the program only ever talks to the model.
class ConsoleWindow : public QMainWindow {
    Q_OBJECT
public:
    // prompter: the message boxes of the command files. dialogs: the Open and Save boxes; nullptr
    // uses the system's own.
    ConsoleWindow(ConsoleModel& model, Prompter& prompter, FileDialogs* dialogs = nullptr, QWidget* parent = nullptr);
    ~ConsoleWindow() override;

    ConsoleModel& model() const { return m_model; }

    // The widget that draws a field, or nullptr for one the window does not draw.
    QWidget* fieldWidget(FieldRef ref) const { return m_widgets.value(key(ref)); }
    // The same by the field's name (its objectName); nullptr for a name the console does not know.
    QWidget* fieldWidget(const QString& name) const;

    // Asked before the window closes; returning false keeps it open. A running cycle must be stopped
    // and unwound before the window goes away, so whoever runs cycles decides here.
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

public slots:
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
    void sendClicked();
    void startClicked();
    void stopClicked();
    void readMemoryClicked();

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    struct Bus;

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

    // Widget factories: each creates the widget for one field, names it, draws the field and binds it.
    QLabel* label(FieldRef ref);
    QLineEdit* lineEdit(FieldRef ref);
    QPlainTextEdit* textBox(FieldRef ref, bool readOnly);
    // widget: a drop-down of a kind of its own to bind; nullptr makes a plain one.
    QComboBox* dropDown(Field field, bool editable, QComboBox* widget = nullptr);
    // The serial line settings beyond the speed, in a dialog from the link frame's button.
    void editLineSettings();
    QAbstractButton* checkBox(FieldRef ref);
    QAbstractButton* option(Field field);
    QAbstractButton* button(Field field);
    QGroupBox* frame(Field field);

    static int key(FieldRef ref) { return static_cast<int>(ref.field) * 64 + ref.slot + 1; }
    void bind(FieldRef ref, QWidget* widget);
    void drawValue(FieldRef ref);
    void drawState(FieldRef ref);

    ConsoleModel& m_model;
    Prompter& m_prompter;
    std::unique_ptr<FileDialogs> m_ownDialogs;
    FileDialogs* m_dialogs;
    QHash<int, QWidget*> m_widgets;
    QTabWidget* m_tabs = nullptr;
    QPushButton* m_lineButton = nullptr;
    QPointer<TranslateDialog> m_translate;
    QPointer<FrameWorkbench> m_workbench;
    std::function<bool()> m_closeHandler;
    bool m_drawing = false; // set while a model change is drawn, so the widget's signals are not echoed

    QMenu* m_viewMenu = nullptr;
    QMenu* m_toolsMenu = nullptr;
    QAction* m_exportAction = nullptr;
    QList<QPair<Field, QAction*>> m_buttonActions;
    QAction* m_escapeStop = nullptr;
    std::unique_ptr<Bus> m_bus; // what watchBus set up
};

} // namespace tarvo
