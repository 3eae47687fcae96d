#pragma once

#include "Fields.h"
#include "TranslateDialog.h"

#include <QHash>
#include <QMainWindow>
#include <QPointer>
#include <functional>
#include <memory>

class QAbstractButton;
class QComboBox;
class QGridLayout;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QScrollArea;
class QTabWidget;

namespace tarvo {

class ConsoleModel;
class FileDialogs;
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

public slots:
    // Opens the translate dialog (or brings the open one forward) with this text, translated at once.
    void showTranslation(const QString& hex);
    void openCommandFile();
    void saveCommandFile();

signals:
    void sendClicked();
    void startClicked();
    void stopClicked();
    void readMemoryClicked();

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
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
    std::function<bool()> m_closeHandler;
    bool m_drawing = false; // set while a model change is drawn, so the widget's signals are not echoed
};

} // namespace tarvo
