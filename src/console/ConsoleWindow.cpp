#include "ConsoleWindow.h"

#include "CommandFiles.h"
#include "ConsoleModel.h"
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

QString slot(const char* base, int i)
{
    return ConsoleModel::slotName(QLatin1String(base), i);
}

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

ConsoleWindow::ConsoleWindow(ConsoleModel& model, FileDialogs* dialogs, QWidget* parent)
    : QMainWindow(parent), m_model(model), m_dialogs(dialogs)
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
    m_tabs->setObjectName(QStringLiteral("SSTab1"));
    m_tabs->setDocumentMode(true);
    const QStringList pages = m_model.listItems(QStringLiteral("SSTab1"));
    m_tabs->addTab(buildGeneralPage(), pages.value(ConsoleModel::kPageGeneral));
    m_tabs->addTab(buildDefinitionPage(), pages.value(ConsoleModel::kPageDefinition));
    bind(QStringLiteral("SSTab1"), m_tabs);
    connect(m_tabs, &QTabWidget::currentChanged, this, [this](int index) {
        if (!m_drawing)
            m_model.setListIndex(QStringLiteral("SSTab1"), index);
    });
    layout->addWidget(m_tabs, 1);
    setCentralWidget(central);

    // The keyboard walks the console in reading order: the function bar, then the pages.
    QWidget* previous = nullptr;
    for (const QString& name : m_model.fieldNames()) {
        QWidget* w = m_widgets.value(name);
        if (!w || w->focusPolicy() == Qt::NoFocus || w == m_tabs)
            continue;
        if (previous)
            setTabOrder(previous, w);
        previous = w;
    }

    connect(&m_model, &ConsoleModel::valueChanged, this, &ConsoleWindow::drawValue);
    connect(&m_model, &ConsoleModel::stateChanged, this, &ConsoleWindow::drawState);
    for (auto it = m_widgets.constBegin(); it != m_widgets.constEnd(); ++it) {
        drawValue(it.key());
        drawState(it.key());
    }
    // Roomy where the screen allows, never larger than what is free of panels.
    QSize size(1200, 760);
    if (const QScreen* s = screen())
        size = size.boundedTo(s->availableGeometry().size() * 0.95);
    resize(size);
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

    QLabel* caption = label(QStringLiteral("Label3"));
    QComboBox* function = dropDown(QStringLiteral("TxtFunction"), false);
    caption->setBuddy(function);
    function->setMinimumContentsLength(24);
    row->addWidget(caption);
    row->addWidget(function);
    row->addSpacing(12);

    auto* send = qobject_cast<QPushButton*>(button(QStringLiteral("CmdSend")));
    send->setDefault(true); // Return anywhere outside the command editor sends (keyPressEvent)
    connect(send, &QPushButton::clicked, this, &ConsoleWindow::sendClicked);
    QAbstractButton* start = button(QStringLiteral("CmdStart"));
    connect(start, &QAbstractButton::clicked, this, &ConsoleWindow::startClicked);
    QAbstractButton* stop = button(QStringLiteral("CmdStop"));
    connect(stop, &QAbstractButton::clicked, this, &ConsoleWindow::stopClicked);
    row->addWidget(send);
    row->addWidget(start);
    row->addWidget(stop);
    row->addSpacing(12);

    QLabel* crcError = label(QStringLiteral("Label8"));
    crcError->setStyleSheet(QStringLiteral("color: #c62828; font-weight: bold;"));
    QLabel* echo = label(QStringLiteral("LblEcho"));
    echo->setStyleSheet(QStringLiteral("color: #c62828; font-weight: bold;"));
    row->addWidget(crcError);
    row->addWidget(echo);
    row->addStretch(1);
    row->addWidget(checkBox(QStringLiteral("Check2")));
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
                                             QLabel* number = label(slot("Label14", i));
                                             number->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
                                             grid->addWidget(number, i, 0);
                                             grid->addWidget(textBox(slot("Reponse", i), true), i, 1);
                                             grid->addWidget(textBox(slot("Reponse1", i), true), i, 2);
                                         });
    auto* grid = qobject_cast<QGridLayout*>(results->widget()->layout());
    grid->setColumnStretch(1, 3);
    grid->setColumnStretch(2, 2);
    columns->addWidget(results, 3);

    auto* side = new QVBoxLayout;
    QGroupBox* received = frame(QStringLiteral("Frame2"));
    auto* receivedLayout = new QVBoxLayout(received);
    for (const QString& name : {QStringLiteral("Answer1"), QStringLiteral("Answer")}) {
        QPlainTextEdit* box = textBox(name, false);
        QFont font(QStringLiteral("Lucida Sans Unicode"));
        font.setStyleHint(QFont::SansSerif); // any sans face with wide coverage where that one is missing
        box->setFont(font);
        receivedLayout->addWidget(box);
    }
    side->addWidget(received, 1);

    auto* timing = new QGridLayout;
    timing->addWidget(label(QStringLiteral("Label5")), 0, 0);
    timing->addWidget(lineEdit(QStringLiteral("Scan")), 0, 1);
    timing->addWidget(label(QStringLiteral("Label6")), 0, 2);
    timing->addWidget(label(QStringLiteral("Label4")), 1, 0);
    timing->addWidget(lineEdit(QStringLiteral("Query")), 1, 1);
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
    QGroupBox* link = frame(QStringLiteral("Frame3"));
    auto* linkGrid = new QGridLayout(link);
    linkGrid->addWidget(option(QStringLiteral("OpCOM")), 0, 0);
    linkGrid->addWidget(dropDown(QStringLiteral("ComPort"), true), 0, 1);
    linkGrid->addWidget(label(QStringLiteral("Label12")), 0, 2, Qt::AlignRight);
    linkGrid->addWidget(dropDown(QStringLiteral("COMSpeed"), true), 0, 3);
    linkGrid->addWidget(option(QStringLiteral("OpTCP")), 1, 0);
    linkGrid->addWidget(lineEdit(QStringLiteral("IP")), 1, 1);
    linkGrid->addWidget(label(QStringLiteral("Label13")), 1, 2, Qt::AlignRight);
    linkGrid->addWidget(lineEdit(QStringLiteral("Port")), 1, 3);
    linkGrid->setColumnStretch(1, 2);
    linkGrid->setColumnStretch(3, 1);
    left->addWidget(link);

    auto* delays = new QGroupBox(page);
    auto* delayGrid = new QGridLayout(delays);
    delayGrid->addWidget(label(QStringLiteral("Label7")), 0, 0);
    delayGrid->addWidget(lineEdit(QStringLiteral("TimeOutDelay")), 0, 1);
    delayGrid->addWidget(label(QStringLiteral("Label10")), 0, 2);
    delayGrid->addWidget(label(QStringLiteral("Label1")), 1, 0);
    delayGrid->addWidget(lineEdit(QStringLiteral("WaitingDelay")), 1, 1);
    delayGrid->addWidget(label(QStringLiteral("Label9")), 1, 2);
    QLabel* help = label(QStringLiteral("Label11"));
    help->setWordWrap(true);
    help->setStyleSheet(QStringLiteral("color: palette(placeholder-text);"));
    delayGrid->addWidget(help, 2, 0, 1, 4);
    delayGrid->setColumnStretch(3, 1);
    left->addWidget(delays);

    QGroupBox* command = frame(QStringLiteral("Frame1"));
    auto* commandLayout = new QVBoxLayout(command);
    QPlainTextEdit* cmd = textBox(QStringLiteral("Cmd"), false);
    cmd->setFont(replyFont());
    cmd->setTabChangesFocus(true); // a command never holds a tab; the key moves on instead
    commandLayout->addWidget(cmd, 1);
    auto* fileButtons = new QHBoxLayout;
    fileButtons->addStretch(1);
    QAbstractButton* open = button(QStringLiteral("CmdOpen"));
    connect(open, &QAbstractButton::clicked, this, &ConsoleWindow::openCommandFile);
    QAbstractButton* save = button(QStringLiteral("CmdSave"));
    connect(save, &QAbstractButton::clicked, this, &ConsoleWindow::saveCommandFile);
    fileButtons->addWidget(open);
    fileButtons->addWidget(save);
    commandLayout->addLayout(fileButtons);
    left->addWidget(command, 1);
    columns->addLayout(left, 5);

    // Middle: the 32 controller addresses.
    QGroupBox* addresses = frame(QStringLiteral("Frame5"));
    auto* addressLayout = new QVBoxLayout(addresses);
    QScrollArea* addressArea = buildSlotArea(QStringLiteral("Custom"), QStringLiteral("MyPic"),
                                             QStringLiteral("VScroll1"), [this](QGridLayout* grid, int i) {
                                                 grid->addWidget(checkBox(slot("CheckAdr", i)), i, 0);
                                                 grid->addWidget(lineEdit(slot("Address", i)), i, 1);
                                             });
    addressLayout->addWidget(addressArea);
    columns->addWidget(addresses, 3);

    // Right: protocol, encryption, memory read.
    auto* right = new QVBoxLayout;
    QGroupBox* protocol = frame(QStringLiteral("Frame6"));
    auto* protocolGrid = new QGridLayout(protocol);
    protocolGrid->addWidget(option(QStringLiteral("Modbus")), 0, 0);
    protocolGrid->addWidget(option(QStringLiteral("Protocol4")), 1, 0);
    protocolGrid->addWidget(option(QStringLiteral("Protocol4Plus")), 2, 0);
    // Each protocol's own settings sit beside it, so a disabled one reads as "not for this protocol".
    protocolGrid->addWidget(option(QStringLiteral("ProtocolAA")), 3, 0);
    QLineEdit* code = lineEdit(QStringLiteral("txtProtocol"));
    code->setMaximumWidth(code->fontMetrics().horizontalAdvance(QStringLiteral("MMMM")) + 16);
    protocolGrid->addWidget(code, 3, 1, 1, 2, Qt::AlignLeft);
    protocolGrid->addWidget(option(QStringLiteral("OptBioscrypt")), 4, 0);
    protocolGrid->addWidget(checkBox(QStringLiteral("ckAck")), 4, 1);
    protocolGrid->addWidget(checkBox(QStringLiteral("ckRes")), 4, 2);
    protocolGrid->addWidget(option(QStringLiteral("OptNone")), 5, 0);
    protocolGrid->setColumnStretch(3, 1);
    right->addWidget(protocol);

    QGroupBox* crypt = frame(QStringLiteral("Frame7"));
    auto* cryptGrid = new QGridLayout(crypt);
    cryptGrid->addWidget(option(QStringLiteral("Encrypt")), 0, 0);
    cryptGrid->addWidget(option(QStringLiteral("decrypt")), 0, 1);
    cryptGrid->addWidget(lineEdit(QStringLiteral("Password")), 1, 0, 1, 3);
    cryptGrid->setColumnStretch(2, 1);
    right->addWidget(crypt);

    right->addWidget(checkBox(QStringLiteral("Check1")));

    QGroupBox* memory = frame(QStringLiteral("Picture1"));
    auto* memoryGrid = new QGridLayout(memory);
    const std::pair<const char*, const char*> memoryFields[] = {
        {"Label2", "MemPage"}, {"Label15", "MemAddress"}, {"Label16", "MemRecordNumber"}, {"Label17", "MemRecordSize"}};
    int row = 0;
    for (const auto& [caption, field] : memoryFields) {
        QLabel* l = label(QLatin1String(caption));
        QLineEdit* e = lineEdit(QLatin1String(field));
        l->setBuddy(e);
        memoryGrid->addWidget(l, row, 0);
        memoryGrid->addWidget(e, row, 1);
        ++row;
    }
    QAbstractButton* read = button(QStringLiteral("CmdReadMemory"));
    connect(read, &QAbstractButton::clicked, this, &ConsoleWindow::readMemoryClicked);
    memoryGrid->addWidget(read, row, 1, Qt::AlignRight);
    right->addWidget(memory);
    right->addStretch(1);
    columns->addLayout(right, 4);
    return page;
}

QLabel* ConsoleWindow::label(const QString& name)
{
    auto* w = new QLabel(m_model.field(name).caption, this);
    bind(name, w);
    return w;
}

QLineEdit* ConsoleWindow::lineEdit(const QString& name)
{
    auto* w = new QLineEdit(this);
    bind(name, w);
    connect(w, &QLineEdit::textEdited, this, [this, name](const QString& text) {
        if (!m_drawing)
            m_model.setText(name, text);
    });
    return w;
}

QPlainTextEdit* ConsoleWindow::textBox(const QString& name, bool readOnly)
{
    auto* w = new QPlainTextEdit(this);
    bind(name, w);
    w->setReadOnly(readOnly);
    if (readOnly) {
        // Reply boxes: hex shown as it came, reachable by the mouse (double-click translates) but kept
        // out of the keyboard's walk through the settings.
        w->setFont(replyFont());
        w->setFocusPolicy(Qt::ClickFocus);
        w->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        w->setFixedHeight(replyBoxHeight(w));
        if (name.startsWith(QLatin1String("Reponse_"))) {
            w->viewport()->installEventFilter(this);
            w->viewport()->setProperty("tarvoField", name);
            w->setToolTip(tr("Double-click to read this reply as characters"));
        }
    } else {
        connect(w, &QPlainTextEdit::textChanged, this, [this, name, w] {
            if (!m_drawing)
                m_model.setText(name, fromEditor(editorText(w)));
        });
    }
    return w;
}

QComboBox* ConsoleWindow::dropDown(const QString& name, bool editable)
{
    auto* w = new QComboBox(this);
    bind(name, w);
    w->addItems(m_model.listItems(name));
    if (editable) {
        // The field is the text; the list only offers choices, it never grows from what was typed.
        w->setEditable(true);
        w->setInsertPolicy(QComboBox::NoInsert);
        connect(w, &QComboBox::editTextChanged, this, [this, name](const QString& text) {
            if (!m_drawing)
                m_model.setText(name, text);
        });
    } else {
        connect(w, &QComboBox::currentIndexChanged, this, [this, name](int index) {
            if (!m_drawing)
                m_model.setListIndex(name, index);
        });
    }
    return w;
}

QAbstractButton* ConsoleWindow::checkBox(const QString& name)
{
    auto* w = new QCheckBox(m_model.field(name).caption, this);
    bind(name, w);
    connect(w, &QCheckBox::toggled, this, [this, name](bool on) {
        if (!m_drawing)
            m_model.setCheck(name, on ? 1 : 0);
    });
    return w;
}

QAbstractButton* ConsoleWindow::option(const QString& name)
{
    auto* w = new QRadioButton(m_model.field(name).caption, this);
    bind(name, w);
    // Only the chosen option speaks: the model deselects the others of its group and runs the rule.
    connect(w, &QRadioButton::toggled, this, [this, name](bool on) {
        if (on && !m_drawing)
            m_model.choose(name);
    });
    return w;
}

QAbstractButton* ConsoleWindow::button(const QString& name)
{
    auto* w = new QPushButton(m_model.field(name).caption, this);
    bind(name, w);
    w->setAutoDefault(true); // Return on a focused button presses that button, not Send
    return w;
}

QGroupBox* ConsoleWindow::frame(const QString& name)
{
    auto* w = new QGroupBox(m_model.field(name).caption, this);
    bind(name, w);
    return w;
}

void ConsoleWindow::bind(const QString& name, QWidget* widget)
{
    Q_ASSERT_X(m_model.has(name), "ConsoleWindow", qPrintable(name));
    widget->setObjectName(name);
    m_widgets.insert(name, widget);
}

void ConsoleWindow::drawValue(const QString& name)
{
    QWidget* w = m_widgets.value(name);
    if (!w)
        return;
    QScopedValueRollback<bool> drawing(m_drawing, true);
    const ConsoleModel::Field& f = m_model.field(name);
    if (auto* edit = qobject_cast<QLineEdit*>(w)) {
        if (edit->text() != f.text)
            edit->setText(f.text);
    } else if (auto* box = qobject_cast<QPlainTextEdit*>(w)) {
        const QString shown = toEditor(f.text);
        if (editorText(box) != shown)
            box->setPlainText(shown);
    } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
        if (combo->isEditable()) {
            if (combo->currentText() != f.text)
                combo->setEditText(f.text);
        } else if (combo->currentIndex() != f.value) {
            combo->setCurrentIndex(f.value);
        }
    } else if (auto* radio = qobject_cast<QRadioButton*>(w)) {
        const bool on = f.value != 0;
        if (radio->isChecked() != on) {
            // An exclusive option cannot be cleared directly; the model may leave a group with none.
            radio->setAutoExclusive(false);
            radio->setChecked(on);
            radio->setAutoExclusive(true);
        }
    } else if (auto* check = qobject_cast<QCheckBox*>(w)) {
        check->setChecked(f.value == 1);
    } else if (w == m_tabs) {
        m_tabs->setCurrentIndex(f.value);
    }
}

void ConsoleWindow::drawState(const QString& name)
{
    QWidget* w = m_widgets.value(name);
    if (!w)
        return;
    const ConsoleModel::Field& f = m_model.field(name);
    w->setEnabled(f.enabled);
    w->setHidden(!f.visible);
    if (auto* combo = qobject_cast<QComboBox*>(w)) {
        QStringList shown;
        for (int i = 0; i < combo->count(); ++i)
            shown.append(combo->itemText(i));
        if (shown != f.items) {
            {
                QScopedValueRollback<bool> drawing(m_drawing, true);
                combo->clear();
                combo->addItems(f.items);
            }
            drawValue(name); // refilling the list does not change the field's text or choice
        }
    }
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
    tarvo::openCommandFile(m_model, *m_dialogs, defaultPrompter());
}

void ConsoleWindow::saveCommandFile()
{
    tarvo::saveCommandFile(m_model, *m_dialogs, defaultPrompter());
}

void ConsoleWindow::closeEvent(QCloseEvent* event)
{
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
        if (auto* send = qobject_cast<QPushButton*>(m_widgets.value(QStringLiteral("CmdSend")));
            send && send->isEnabled() && send->isVisible()) {
            send->animateClick();
            return;
        }
    }
    QMainWindow::keyPressEvent(event);
}

bool ConsoleWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseButtonDblClick) {
        const QString name = watched->property("tarvoField").toString();
        if (!name.isEmpty()) {
            showTranslation(m_model.text(name));
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

} // namespace tarvo
