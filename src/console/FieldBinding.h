#pragma once

#include "Fields.h"

#include <QHash>
#include <QObject>

class QAbstractButton;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QTabWidget;
class QWidget;

namespace tarvo {

class ConsoleModel;

// Binds the console's widgets to its model, one field to one widget: each widget is named after its
// field, shows the field's value and states, and writes the operator's edits back at every keystroke.
// The factories create a field's widget (parented to the owner) and bind it.
class FieldBinding final : public QObject {
    Q_OBJECT
public:
    FieldBinding(ConsoleModel& model, QWidget* owner);

    QLabel* label(FieldRef ref);
    QLineEdit* lineEdit(FieldRef ref);
    // A text box: editable (the command box), or a read-only reply box.
    QPlainTextEdit* textBox(FieldRef ref, bool readOnly);
    // widget: a drop-down of a kind of its own to bind; nullptr makes a plain one.
    QComboBox* dropDown(Field field, bool editable, QComboBox* widget = nullptr);
    QAbstractButton* checkBox(FieldRef ref);
    QAbstractButton* option(Field field);
    QAbstractButton* button(Field field);
    QGroupBox* frame(Field field);
    void tabs(Field field, QTabWidget* tabs);

    // The widget that draws a field, or nullptr for one without a widget.
    QWidget* widget(FieldRef ref) const { return m_widgets.value(key(ref)); }
    QWidget* widget(const QString& name) const;

    // Draws every field as the model has it, then follows the model's changes.
    void drawAll();

private:
    static int key(FieldRef ref) { return static_cast<int>(ref.field) * 64 + ref.slot + 1; }
    void bind(FieldRef ref, QWidget* widget);
    void drawValue(FieldRef ref);
    void drawState(FieldRef ref);

    ConsoleModel& m_model;
    QWidget* m_owner;
    QHash<int, QWidget*> m_widgets;
    bool m_drawing = false; // set while a model change is drawn, so the widget's signals are not echoed
};

// Cmd and the reply boxes keep CR LF between lines, as the files and the wire know them; the editor
// works with LF alone.
QString toEditor(const QString& text);
QString fromEditor(const QString& text);
// The editor's text exactly as typed: toPlainText() would turn no-break spaces into plain ones.
QString editorText(const QPlainTextEdit* edit);

} // namespace tarvo
