#pragma once

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
class QScrollArea;
class QTabWidget;

namespace tarvo {

class ConsoleModel;
class FileDialogs;

// The console drawn with widgets. It owns no state of its own: every widget shows one field of the
// model (its objectName is the field's name) and writes the operator's edits back at every keystroke,
// so the rest of the program only ever talks to the model.
class ConsoleWindow : public QMainWindow {
    Q_OBJECT
public:
    // dialogs: the Open and Save boxes of the command files; nullptr uses the system's own.
    explicit ConsoleWindow(ConsoleModel& model, FileDialogs* dialogs = nullptr, QWidget* parent = nullptr);
    ~ConsoleWindow() override;

    ConsoleModel& model() const { return m_model; }

    // The widget that draws a field, or nullptr for a name the console does not know.
    QWidget* fieldWidget(const QString& name) const { return m_widgets.value(name); }

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
    QLabel* label(const QString& name);
    QLineEdit* lineEdit(const QString& name);
    QPlainTextEdit* textBox(const QString& name, bool readOnly);
    QComboBox* dropDown(const QString& name, bool editable);
    QAbstractButton* checkBox(const QString& name);
    QAbstractButton* option(const QString& name);
    QAbstractButton* button(const QString& name);
    QGroupBox* frame(const QString& name);

    void bind(const QString& name, QWidget* widget);
    void drawValue(const QString& name);
    void drawState(const QString& name);

    ConsoleModel& m_model;
    std::unique_ptr<FileDialogs> m_ownDialogs;
    FileDialogs* m_dialogs;
    QHash<QString, QWidget*> m_widgets;
    QTabWidget* m_tabs = nullptr;
    QPointer<TranslateDialog> m_translate;
    std::function<bool()> m_closeHandler;
    bool m_drawing = false; // set while a model change is drawn, so the widget's signals are not echoed
};

} // namespace tarvo
