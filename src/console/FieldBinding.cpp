#include "FieldBinding.h"

#include "ConsoleModel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScopedValueRollback>
#include <QTabWidget>

namespace tarvo {

QString toEditor(const QString& text)
{
    QString shown = text;
    return shown.replace(QLatin1String("\r\n"), QLatin1String("\n"));
}

QString fromEditor(const QString& text)
{
    QString stored = text;
    return stored.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
}

QString editorText(const QPlainTextEdit* edit)
{
    QString text = edit->document()->toRawText();
    text.replace(QChar::ParagraphSeparator, QLatin1Char('\n')).replace(QChar::LineSeparator, QLatin1Char('\n'));
    return text;
}

FieldBinding::FieldBinding(ConsoleModel& model, QWidget* owner) : m_model(model), m_owner(owner) {}

QLabel* FieldBinding::label(FieldRef ref)
{
    auto* w = new QLabel(m_model.caption(ref), m_owner);
    bind(ref, w);
    return w;
}

QLineEdit* FieldBinding::lineEdit(FieldRef ref)
{
    auto* w = new QLineEdit(m_owner);
    bind(ref, w);
    connect(w, &QLineEdit::textEdited, this, [this, ref](const QString& text) {
        if (!m_drawing)
            m_model.setText(ref, text);
    });
    return w;
}

QPlainTextEdit* FieldBinding::textBox(FieldRef ref, bool readOnly)
{
    auto* w = new QPlainTextEdit(m_owner);
    bind(ref, w);
    w->setReadOnly(readOnly);
    if (!readOnly) {
        connect(w, &QPlainTextEdit::textChanged, this, [this, ref, w] {
            if (!m_drawing)
                m_model.setText(ref, fromEditor(editorText(w)));
        });
    }
    return w;
}

QComboBox* FieldBinding::dropDown(Field field, bool editable, QComboBox* widget)
{
    auto* w = widget ? widget : new QComboBox(m_owner);
    bind(field, w);
    w->addItems(m_model.listItems(field));
    if (editable) {
        // The field is the text; the list only offers choices, it never grows from what was typed.
        w->setEditable(true);
        w->setInsertPolicy(QComboBox::NoInsert);
        connect(w, &QComboBox::editTextChanged, this, [this, field](const QString& text) {
            if (!m_drawing)
                m_model.setText(field, text);
        });
    } else {
        connect(w, &QComboBox::currentIndexChanged, this, [this, field](int index) {
            if (!m_drawing)
                m_model.setListIndex(field, index);
        });
    }
    return w;
}

QAbstractButton* FieldBinding::checkBox(FieldRef ref)
{
    auto* w = new QCheckBox(m_model.caption(ref), m_owner);
    bind(ref, w);
    connect(w, &QCheckBox::toggled, this, [this, ref](bool on) {
        if (!m_drawing)
            m_model.setCheck(ref, on ? 1 : 0);
    });
    return w;
}

QAbstractButton* FieldBinding::option(Field field)
{
    auto* w = new QRadioButton(m_model.caption(field), m_owner);
    bind(field, w);
    // Every click chooses, also of the option already chosen: its rule runs again (Modbus sets the
    // speed back to 9600). The model deselects the others of the group.
    connect(w, &QRadioButton::clicked, this, [this, field] {
        if (!m_drawing)
            m_model.choose(field);
    });
    return w;
}

QAbstractButton* FieldBinding::button(Field field)
{
    auto* w = new QPushButton(m_model.caption(field), m_owner);
    bind(field, w);
    w->setAutoDefault(true); // Return on a focused button presses that button, not Send
    return w;
}

QGroupBox* FieldBinding::frame(Field field)
{
    auto* w = new QGroupBox(m_model.caption(field), m_owner);
    bind(field, w);
    return w;
}

void FieldBinding::tabs(Field field, QTabWidget* tabs)
{
    bind(field, tabs);
    connect(tabs, &QTabWidget::currentChanged, this, [this, field](int index) {
        if (!m_drawing)
            m_model.setListIndex(field, index);
    });
}

void FieldBinding::bind(FieldRef ref, QWidget* widget)
{
    widget->setObjectName(ConsoleModel::name(ref));
    m_widgets.insert(key(ref), widget);
}

QWidget* FieldBinding::widget(const QString& name) const
{
    const auto ref = ConsoleModel::find(name);
    return ref ? widget(*ref) : nullptr;
}

void FieldBinding::drawAll()
{
    connect(&m_model, &ConsoleModel::valueChanged, this, &FieldBinding::drawValue);
    connect(&m_model, &ConsoleModel::stateChanged, this, &FieldBinding::drawState);
    for (const FieldRef& ref : ConsoleModel::allFields()) {
        drawValue(ref);
        drawState(ref);
    }
}

void FieldBinding::drawValue(FieldRef ref)
{
    QWidget* w = m_widgets.value(key(ref));
    if (!w)
        return;
    QScopedValueRollback<bool> drawing(m_drawing, true);
    if (auto* edit = qobject_cast<QLineEdit*>(w)) {
        const QString text = m_model.text(ref);
        if (edit->text() != text)
            edit->setText(text);
    } else if (auto* box = qobject_cast<QPlainTextEdit*>(w)) {
        const QString shown = toEditor(m_model.text(ref));
        if (editorText(box) != shown)
            box->setPlainText(shown);
    } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
        if (combo->isEditable()) {
            const QString text = m_model.text(ref);
            if (combo->currentText() != text)
                combo->setEditText(text);
        } else if (combo->currentIndex() != m_model.listIndex(ref.field)) {
            combo->setCurrentIndex(m_model.listIndex(ref.field));
        }
    } else if (auto* radio = qobject_cast<QRadioButton*>(w)) {
        const bool on = m_model.selected(ref.field);
        if (radio->isChecked() != on) {
            // An exclusive option cannot be cleared directly; the model may leave a group with none.
            radio->setAutoExclusive(false);
            radio->setChecked(on);
            radio->setAutoExclusive(true);
        }
    } else if (auto* check = qobject_cast<QCheckBox*>(w)) {
        check->setChecked(m_model.check(ref) == 1);
    } else if (auto* tabs = qobject_cast<QTabWidget*>(w)) {
        tabs->setCurrentIndex(m_model.listIndex(ref.field));
    }
}

void FieldBinding::drawState(FieldRef ref)
{
    QWidget* w = m_widgets.value(key(ref));
    if (!w)
        return;
    w->setEnabled(m_model.enabled(ref));
    w->setHidden(!m_model.visible(ref));
    if (auto* combo = qobject_cast<QComboBox*>(w)) {
        const QStringList items = m_model.listItems(ref.field);
        QStringList shown;
        for (int i = 0; i < combo->count(); ++i)
            shown.append(combo->itemText(i));
        if (shown != items) {
            {
                QScopedValueRollback<bool> drawing(m_drawing, true);
                combo->clear();
                combo->addItems(items);
            }
            drawValue(ref); // refilling the list does not change the field's text or choice
        }
    }
}

} // namespace tarvo
