#include "ConsoleWindow.h"

#include "CommandFiles.h"
#include "ConsoleModel.h"
#include "ConsoleWindowBus.h"
#include "LineSettingsDialog.h"
#include "PortComboBox.h"
#include "Prompter.h"
#include "TranslateDialog.h"
#include "WidgetSeams.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFontDatabase>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScopedValueRollback>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTabWidget>
#include <QVBoxLayout>

namespace tarvo {

namespace {

// Cmd and the reply boxes keep CR LF between lines, as the files and the wire know them; the editor
// works with LF alone.
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

// The editor's text exactly as typed: toPlainText() would turn no-break spaces into plain ones.
QString editorText(const QPlainTextEdit* edit)
{
    QString text = edit->document()->toRawText();
    text.replace(QChar::ParagraphSeparator, QLatin1Char('\n')).replace(QChar::LineSeparator, QLatin1Char('\n'));
    return text;
}

QFont replyFont()
{
    return QFontDatabase::systemFont(QFontDatabase::FixedFont);
}

// A reply box tall enough for two lines of hex, so 32 of them scroll comfortably.
int replyBoxHeight(const QPlainTextEdit* edit)
{
    const int frame = 2 * edit->frameWidth();
    const qreal margin = 2 * edit->document()->documentMargin();
    return QFontMetrics(edit->font()).lineSpacing() * 2 + frame + static_cast<int>(margin) + 2;
}

} // namespace

ConsoleWindow::ConsoleWindow(ConsoleModel& model, Prompter& prompter, FileDialogs* dialogs, QWidget* parent)
    : QMainWindow(parent), m_model(model), m_prompter(prompter), m_dialogs(dialogs)
{
    if (!m_dialogs) {
        m_ownDialogs = std::make_unique<QtFileDialogs>(this);
        m_dialogs = m_ownDialogs.get();
    }
    setObjectName(QStringLiteral("Main"));
    setWindowTitle(QStringLiteral("Tarvo"));

    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->addWidget(buildTopBar());

    m_tabs = new QTabWidget(central);
    m_tabs->setDocumentMode(true);
    const QStringList pages = m_model.listItems(Field::Pages);
    m_tabs->addTab(buildGeneralPage(), pages.value(ConsoleModel::kPageGeneral));
    m_tabs->addTab(buildDefinitionPage(), pages.value(ConsoleModel::kPageDefinition));
    bind(Field::Pages, m_tabs);
    connect(m_tabs, &QTabWidget::currentChanged, this, [this](int index) {
        if (!m_drawing)
            m_model.setListIndex(Field::Pages, index);
    });
    layout->addWidget(m_tabs, 1);
    setCentralWidget(central);

    // The keyboard walks the console in reading order: the function bar, then the pages.
    QWidget* previous = nullptr;
    for (const FieldRef& ref : ConsoleModel::allFields()) {
        QWidget* w = m_widgets.value(key(ref));
        if (!w || w->focusPolicy() == Qt::NoFocus || w == m_tabs)
            continue;
        if (previous)
            setTabOrder(previous, w);
        previous = w;
    }
    setTabOrder(fieldWidget(Field::COMSpeed), m_lineButton);

    connect(&m_model, &ConsoleModel::valueChanged, this, &ConsoleWindow::drawValue);
    connect(&m_model, &ConsoleModel::stateChanged, this, &ConsoleWindow::drawState);
    for (const FieldRef& ref : ConsoleModel::allFields()) {
        drawValue(ref);
        drawState(ref);
    }
    // Roomy where the screen allows, never larger than what is free of panels.
    QSize size(1200, 760);
    if (const QScreen* s = screen())
        size = size.boundedTo(s->availableGeometry().size() * 0.95);
    resize(size);
    buildMenus();
}

ConsoleWindow::~ConsoleWindow()
{
    // The dialog is a top-level window of its own; it goes with the console.
    delete m_translate;
}

QWidget* ConsoleWindow::buildTopBar()
{
    auto* bar = new QWidget(this);
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(0, 0, 0, 0);

    QLabel* caption = label(Field::Label3);
    QComboBox* function = dropDown(Field::TxtFunction, false);
    caption->setBuddy(function);
    function->setMinimumContentsLength(24);
    row->addWidget(caption);
    row->addWidget(function);
    row->addSpacing(12);

    auto* send = qobject_cast<QPushButton*>(button(Field::CmdSend));
    send->setDefault(true); // Return anywhere outside the command editor sends (keyPressEvent)
    connect(send, &QPushButton::clicked, this, &ConsoleWindow::sendClicked);
    QAbstractButton* start = button(Field::CmdStart);
    connect(start, &QAbstractButton::clicked, this, &ConsoleWindow::startClicked);
    QAbstractButton* stop = button(Field::CmdStop);
    connect(stop, &QAbstractButton::clicked, this, &ConsoleWindow::stopClicked);
    row->addWidget(send);
    row->addWidget(start);
    row->addWidget(stop);
    row->addSpacing(12);

    QLabel* crcError = label(Field::Label8);
    crcError->setStyleSheet(QStringLiteral("color: #c62828; font-weight: bold;"));
    QLabel* echo = label(Field::LblEcho);
    echo->setStyleSheet(QStringLiteral("color: #c62828; font-weight: bold;"));
    row->addWidget(crcError);
    row->addWidget(echo);
    row->addStretch(1);
    row->addWidget(checkBox(Field::Check2));
    return bar;
}

QScrollArea* ConsoleWindow::buildSlotArea(const QString& areaName, const QString& panelName, const QString& barName,
                                          const std::function<void(QGridLayout*, int)>& addRow)
{
    auto* area = new QScrollArea(this);
    area->setObjectName(areaName);
    area->setWidgetResizable(true);
    area->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    area->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    area->verticalScrollBar()->setObjectName(barName);

    auto* panel = new QWidget(area);
    panel->setObjectName(panelName);
    auto* grid = new QGridLayout(panel);
    grid->setVerticalSpacing(4);
    for (int i = 0; i < ConsoleModel::kSlots; ++i)
        addRow(grid, i);
    area->setWidget(panel);
    // One wheel notch or arrow click moves about one row.
    area->verticalScrollBar()->setSingleStep(panel->sizeHint().height() / ConsoleModel::kSlots);
    return area;
}

QWidget* ConsoleWindow::buildGeneralPage()
{
    auto* page = new QWidget(this);
    auto* columns = new QHBoxLayout(page);

    QScrollArea* results = buildSlotArea(QStringLiteral("Custom2"), QStringLiteral("MyPic2"),
                                         QStringLiteral("VScroll2"), [this](QGridLayout* grid, int i) {
                                             QLabel* number = label(FieldRef(Field::Label14, i));
                                             number->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
                                             grid->addWidget(number, i, 0);
                                             grid->addWidget(textBox(FieldRef(Field::Reponse, i), true), i, 1);
                                             grid->addWidget(textBox(FieldRef(Field::Reponse1, i), true), i, 2);
                                         });
    auto* grid = qobject_cast<QGridLayout*>(results->widget()->layout());
    grid->setColumnStretch(1, 3);
    grid->setColumnStretch(2, 2);
    columns->addWidget(results, 3);

    auto* side = new QVBoxLayout;
    QGroupBox* received = frame(Field::Frame2);
    auto* receivedLayout = new QVBoxLayout(received);
    for (const Field field : {Field::Answer1, Field::Answer}) {
        QPlainTextEdit* box = textBox(field, false);
        QFont font(QStringLiteral("Lucida Sans Unicode"));
        font.setStyleHint(QFont::SansSerif); // any sans face with wide coverage where that one is missing
        box->setFont(font);
        receivedLayout->addWidget(box);
    }
    side->addWidget(received, 1);

    auto* timing = new QGridLayout;
    timing->addWidget(label(Field::Label5), 0, 0);
    timing->addWidget(lineEdit(Field::Scan), 0, 1);
    timing->addWidget(label(Field::Label6), 0, 2);
    timing->addWidget(label(Field::Label4), 1, 0);
    timing->addWidget(lineEdit(Field::Query), 1, 1);
    timing->setColumnStretch(3, 1);
    side->addLayout(timing);
    columns->addLayout(side, 2);
    return page;
}

QWidget* ConsoleWindow::buildDefinitionPage()
{
    auto* page = new QWidget(this);
    auto* columns = new QHBoxLayout(page);

    // Left: link, delays, command.
    auto* left = new QVBoxLayout;
    QGroupBox* link = frame(Field::Frame3);
    auto* linkGrid = new QGridLayout(link);
    linkGrid->addWidget(option(Field::OpCOM), 0, 0);
    auto* comPort = new PortComboBox(m_model, this);
    dropDown(Field::ComPort, true, comPort);
    comPort->redraw(); // the details of each choice, once the list is in
    linkGrid->addWidget(comPort, 0, 1);
    linkGrid->addWidget(label(Field::Label12), 0, 2, Qt::AlignRight);
    linkGrid->addWidget(dropDown(Field::COMSpeed, true), 0, 3);
    // Data bits, parity, stop bits and the rest of the serial line, in one compact button: "8N2".
    m_lineButton = new QPushButton(LineSettingsDialog::summary(m_model.ini.serial), link);
    m_lineButton->setObjectName(QStringLiteral("LineSettingsButton"));
    m_lineButton->setToolTip(LineSettingsDialog::description(m_model.ini.serial));
    m_lineButton->setAccessibleName(tr("Serial line format"));
    m_lineButton->setAutoDefault(true);
    connect(m_lineButton, &QPushButton::clicked, this, &ConsoleWindow::editLineSettings);
    // Serial only, as the speed.
    m_lineButton->setEnabled(m_model.enabled(Field::COMSpeed));
    connect(&m_model, &ConsoleModel::stateChanged, m_lineButton, [this](FieldRef ref) {
        if (ref.field == Field::COMSpeed)
            m_lineButton->setEnabled(m_model.enabled(Field::COMSpeed));
    });
    auto* lineCaption = new QLabel(tr("Line:"), link);
    lineCaption->setBuddy(m_lineButton);
    linkGrid->addWidget(lineCaption, 0, 4, Qt::AlignRight);
    linkGrid->addWidget(m_lineButton, 0, 5);
    linkGrid->addWidget(option(Field::OpTCP), 1, 0);
    linkGrid->addWidget(lineEdit(Field::IP), 1, 1);
    linkGrid->addWidget(label(Field::Label13), 1, 2, Qt::AlignRight);
    linkGrid->addWidget(lineEdit(Field::Port), 1, 3);
    linkGrid->setColumnStretch(1, 2);
    linkGrid->setColumnStretch(3, 1);
    left->addWidget(link);

    auto* delays = new QGroupBox(page);
    auto* delayGrid = new QGridLayout(delays);
    delayGrid->addWidget(label(Field::Label7), 0, 0);
    delayGrid->addWidget(lineEdit(Field::TimeOutDelay), 0, 1);
    delayGrid->addWidget(label(Field::Label10), 0, 2);
    delayGrid->addWidget(label(Field::Label1), 1, 0);
    delayGrid->addWidget(lineEdit(Field::WaitingDelay), 1, 1);
    delayGrid->addWidget(label(Field::Label9), 1, 2);
    QLabel* help = label(Field::Label11);
    help->setWordWrap(true);
    help->setStyleSheet(QStringLiteral("color: palette(placeholder-text);"));
    delayGrid->addWidget(help, 2, 0, 1, 4);
    delayGrid->setColumnStretch(3, 1);
    left->addWidget(delays);

    QGroupBox* command = frame(Field::Frame1);
    auto* commandLayout = new QVBoxLayout(command);
    QPlainTextEdit* cmd = textBox(Field::Cmd, false);
    cmd->setFont(replyFont());
    cmd->setTabChangesFocus(true); // a command never holds a tab; the key moves on instead
    commandLayout->addWidget(cmd, 1);
    auto* fileButtons = new QHBoxLayout;
    fileButtons->addStretch(1);
    QAbstractButton* open = button(Field::CmdOpen);
    connect(open, &QAbstractButton::clicked, this, &ConsoleWindow::openCommandFile);
    QAbstractButton* save = button(Field::CmdSave);
    connect(save, &QAbstractButton::clicked, this, &ConsoleWindow::saveCommandFile);
    fileButtons->addWidget(open);
    fileButtons->addWidget(save);
    commandLayout->addLayout(fileButtons);
    left->addWidget(command, 1);
    columns->addLayout(left, 5);

    // Middle: the 32 controller addresses.
    QGroupBox* addresses = frame(Field::Frame5);
    auto* addressLayout = new QVBoxLayout(addresses);
    QScrollArea* addressArea = buildSlotArea(QStringLiteral("Custom"), QStringLiteral("MyPic"),
                                             QStringLiteral("VScroll1"), [this](QGridLayout* grid, int i) {
                                                 grid->addWidget(checkBox(FieldRef(Field::CheckAdr, i)), i, 0);
                                                 grid->addWidget(lineEdit(FieldRef(Field::Address, i)), i, 1);
                                             });
    addressLayout->addWidget(addressArea);
    columns->addWidget(addresses, 3);

    // Right: protocol, encryption, memory read.
    auto* right = new QVBoxLayout;
    QGroupBox* protocol = frame(Field::Frame6);
    auto* protocolGrid = new QGridLayout(protocol);
    protocolGrid->addWidget(option(Field::Modbus), 0, 0);
    protocolGrid->addWidget(option(Field::Protocol4), 1, 0);
    protocolGrid->addWidget(option(Field::Protocol4Plus), 2, 0);
    // Each protocol's own settings sit beside it, so a disabled one reads as "not for this protocol".
    protocolGrid->addWidget(option(Field::ProtocolAA), 3, 0);
    QLineEdit* code = lineEdit(Field::txtProtocol);
    code->setMaximumWidth(code->fontMetrics().horizontalAdvance(QStringLiteral("MMMM")) + 16);
    protocolGrid->addWidget(code, 3, 1, 1, 2, Qt::AlignLeft);
    protocolGrid->addWidget(option(Field::OptBioscrypt), 4, 0);
    protocolGrid->addWidget(checkBox(Field::ckAck), 4, 1);
    protocolGrid->addWidget(checkBox(Field::ckRes), 4, 2);
    protocolGrid->addWidget(option(Field::OptNone), 5, 0);
    protocolGrid->setColumnStretch(3, 1);
    right->addWidget(protocol);

    QGroupBox* crypt = frame(Field::Frame7);
    auto* cryptGrid = new QGridLayout(crypt);
    cryptGrid->addWidget(option(Field::Encrypt), 0, 0);
    cryptGrid->addWidget(option(Field::decrypt), 0, 1);
    cryptGrid->addWidget(lineEdit(Field::Password), 1, 0, 1, 3);
    cryptGrid->setColumnStretch(2, 1);
    right->addWidget(crypt);

    right->addWidget(checkBox(Field::Check1));

    QGroupBox* memory = frame(Field::Picture1);
    auto* memoryGrid = new QGridLayout(memory);
    const std::pair<Field, Field> memoryFields[] = {{Field::Label2, Field::MemPage},
                                                    {Field::Label15, Field::MemAddress},
                                                    {Field::Label16, Field::MemRecordNumber},
                                                    {Field::Label17, Field::MemRecordSize}};
    int row = 0;
    for (const auto& [caption, field] : memoryFields) {
        QLabel* l = label(caption);
        QLineEdit* e = lineEdit(field);
        l->setBuddy(e);
        memoryGrid->addWidget(l, row, 0);
        memoryGrid->addWidget(e, row, 1);
        ++row;
    }
    QAbstractButton* read = button(Field::CmdReadMemory);
    connect(read, &QAbstractButton::clicked, this, &ConsoleWindow::readMemoryClicked);
    memoryGrid->addWidget(read, row, 1, Qt::AlignRight);
    right->addWidget(memory);
    right->addStretch(1);
    columns->addLayout(right, 4);
    return page;
}

QLabel* ConsoleWindow::label(FieldRef ref)
{
    auto* w = new QLabel(m_model.caption(ref), this);
    bind(ref, w);
    return w;
}

QLineEdit* ConsoleWindow::lineEdit(FieldRef ref)
{
    auto* w = new QLineEdit(this);
    bind(ref, w);
    connect(w, &QLineEdit::textEdited, this, [this, ref](const QString& text) {
        if (!m_drawing)
            m_model.setText(ref, text);
    });
    return w;
}

QPlainTextEdit* ConsoleWindow::textBox(FieldRef ref, bool readOnly)
{
    auto* w = new QPlainTextEdit(this);
    bind(ref, w);
    w->setReadOnly(readOnly);
    if (readOnly) {
        // Reply boxes: hex shown as it came, reachable by the mouse (double-click translates) but kept
        // out of the keyboard's walk through the settings.
        w->setFont(replyFont());
        w->setFocusPolicy(Qt::ClickFocus);
        w->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        w->setFixedHeight(replyBoxHeight(w));
        if (ref.field == Field::Reponse) {
            w->viewport()->installEventFilter(this);
            w->viewport()->setProperty("tarvoSlot", ref.slot);
            w->setToolTip(tr("Double-click to read this reply as characters"));
        }
    } else {
        connect(w, &QPlainTextEdit::textChanged, this, [this, ref, w] {
            if (!m_drawing)
                m_model.setText(ref, fromEditor(editorText(w)));
        });
    }
    return w;
}

QComboBox* ConsoleWindow::dropDown(Field field, bool editable, QComboBox* widget)
{
    auto* w = widget ? widget : new QComboBox(this);
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

QAbstractButton* ConsoleWindow::checkBox(FieldRef ref)
{
    auto* w = new QCheckBox(m_model.caption(ref), this);
    bind(ref, w);
    connect(w, &QCheckBox::toggled, this, [this, ref](bool on) {
        if (!m_drawing)
            m_model.setCheck(ref, on ? 1 : 0);
    });
    return w;
}

QAbstractButton* ConsoleWindow::option(Field field)
{
    auto* w = new QRadioButton(m_model.caption(field), this);
    bind(field, w);
    // Every click chooses, also of the option already chosen: its rule runs again (Modbus sets the
    // speed back to 9600). The model deselects the others of the group.
    connect(w, &QRadioButton::clicked, this, [this, field] {
        if (!m_drawing)
            m_model.choose(field);
    });
    return w;
}

QAbstractButton* ConsoleWindow::button(Field field)
{
    auto* w = new QPushButton(m_model.caption(field), this);
    bind(field, w);
    w->setAutoDefault(true); // Return on a focused button presses that button, not Send
    return w;
}

QGroupBox* ConsoleWindow::frame(Field field)
{
    auto* w = new QGroupBox(m_model.caption(field), this);
    bind(field, w);
    return w;
}

void ConsoleWindow::bind(FieldRef ref, QWidget* widget)
{
    widget->setObjectName(ConsoleModel::name(ref));
    m_widgets.insert(key(ref), widget);
}

QWidget* ConsoleWindow::fieldWidget(const QString& name) const
{
    const auto ref = ConsoleModel::find(name);
    return ref ? fieldWidget(*ref) : nullptr;
}

void ConsoleWindow::drawValue(FieldRef ref)
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
    } else if (w == m_tabs) {
        m_tabs->setCurrentIndex(m_model.listIndex(ref.field));
    }
}

void ConsoleWindow::drawState(FieldRef ref)
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

void ConsoleWindow::editLineSettings()
{
    auto* dialog = new LineSettingsDialog(m_model.ini.serial, m_model.text(Field::COMSpeed), this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    // Taken by the link when the next cycle connects.
    connect(dialog, &QDialog::accepted, this, [this, dialog] {
        m_model.ini.serial = dialog->settings();
        m_lineButton->setText(LineSettingsDialog::summary(m_model.ini.serial));
        m_lineButton->setToolTip(LineSettingsDialog::description(m_model.ini.serial));
    });
    dialog->open();
}

void ConsoleWindow::showTranslation(const QString& hex)
{
    if (!m_translate) {
        // A top-level window of its own, so the console stays usable beside it.
        m_translate = new TranslateDialog(nullptr);
    }
    m_translate->setHexText(hex);
    m_translate->translate();
    m_translate->show();
    m_translate->raise();
    m_translate->activateWindow();
}

void ConsoleWindow::openCommandFile()
{
    tarvo::openCommandFile(m_model, *m_dialogs, m_prompter);
}

void ConsoleWindow::saveCommandFile()
{
    tarvo::saveCommandFile(m_model, *m_dialogs, m_prompter);
}

void ConsoleWindow::closeEvent(QCloseEvent* event)
{
    // The layout goes to the settings first: the close handler saves them.
    m_model.ini.window.geometry = saveGeometry();
    m_model.ini.window.state = saveState();
    if (m_closeHandler && !m_closeHandler()) {
        event->ignore();
        return;
    }
    // An open translate dialog stays: the operator may still be reading a reply in it, and the
    // program ends when that last window is closed too.
    event->accept();
}

void ConsoleWindow::keyPressEvent(QKeyEvent* event)
{
    // Return reaches the window only when the focused widget has no use for it (line edits, check
    // boxes, options): then it means "Send One Time", as a dialog's default button would.
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && event->modifiers() == Qt::NoModifier) {
        if (auto* send = qobject_cast<QPushButton*>(m_widgets.value(key(Field::CmdSend)));
            send && send->isEnabled() && send->isVisible()) {
            send->animateClick();
            return;
        }
    }
    QMainWindow::keyPressEvent(event);
}

bool ConsoleWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::ToolTip && showReplyTip(watched, static_cast<QHelpEvent*>(event)))
        return true;
    if (event->type() == QEvent::MouseButtonDblClick) {
        const QVariant slot = watched->property("tarvoSlot");
        if (slot.isValid()) {
            showTranslation(m_model.text(Field::Reponse, slot.toInt()));
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

} // namespace tarvo
