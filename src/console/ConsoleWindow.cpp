#include "ConsoleWindow.h"

#include "CommandFiles.h"
#include "ConsoleModel.h"
#include "ConsoleWindowBus.h"
#include "LineSettingsDialog.h"
#include "PortComboBox.h"
#include "Prompter.h"
#include "Stack.h"
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
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

namespace tarvo {

namespace {

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

ConsoleWindow::ConsoleWindow(Stack& stack, Prompter& prompter, FileDialogs* dialogs, QWidget* parent)
    : QMainWindow(parent), m_stack(stack), m_model(stack.model), m_prompter(prompter), m_dialogs(dialogs),
      m_fields(stack.model, this)
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
    m_fields.tabs(Field::Pages, m_tabs);
    layout->addWidget(m_tabs, 1);
    setCentralWidget(central);

    // The keyboard walks the console in reading order: the function bar, then the pages.
    QWidget* previous = nullptr;
    for (const FieldRef& ref : ConsoleModel::allFields()) {
        QWidget* w = fieldWidget(ref);
        if (!w || w->focusPolicy() == Qt::NoFocus || w == m_tabs)
            continue;
        if (previous)
            setTabOrder(previous, w);
        previous = w;
    }
    setTabOrder(fieldWidget(Field::COMSpeed), m_lineButton);
    setTabOrder(fieldWidget(Field::Port), m_transportChoice);
    setTabOrder(m_transportChoice, m_framingChoice);

    m_fields.drawAll();
    // Roomy where the screen allows, never larger than what is free of panels.
    QSize size(1200, 760);
    if (const QScreen* s = screen())
        size = size.boundedTo(s->availableGeometry().size() * 0.95);
    resize(size);
    buildMenus();

    // The buttons run the program below; the cycles and the memory read say when the buttons change.
    connect(this, &ConsoleWindow::sendClicked, this, &ConsoleWindow::CmdSend_Click);
    connect(this, &ConsoleWindow::startClicked, this, &ConsoleWindow::CmdStart_Click);
    connect(this, &ConsoleWindow::stopClicked, this, &ConsoleWindow::CmdStop_Click);
    connect(this, &ConsoleWindow::readMemoryClicked, this, &ConsoleWindow::CmdReadMemory_Click);
    connect(&m_stack.polling, &Polling::started, this, &ConsoleWindow::cycleStarted);
    connect(&m_stack.polling, &Polling::started, this, &ConsoleWindow::drawSiteActions);
    connect(&m_stack.memoryRead, &MemoryRead::started, this, &ConsoleWindow::drawSiteActions);
    connect(&m_stack.memoryRead, &MemoryRead::ended, this, &ConsoleWindow::drawSiteActions);
    connect(&m_stack.polling, &Polling::ended, this, [this] {
        drawSiteActions();
        restoreControls();
        if (!m_stack.memoryRead.reading())
            m_model.setEnabled(Field::CmdReadMemory, true);
    });
    connect(&m_stack.memoryRead, &MemoryRead::started, this,
            [this] { m_model.setEnabled(Field::CmdReadMemory, false); });
    connect(&m_stack.memoryRead, &MemoryRead::ended, this, [this] { m_model.setEnabled(Field::CmdReadMemory, true); });
    // The read's requests are shown where the operator types commands, and stay there after it.
    connect(&m_stack.memoryRead, &MemoryRead::requestsChanged, this,
            [this](const QString& requests) { m_model.setText(Field::Cmd, requests); });
    // A close that waited for a cycle goes ahead once the cycle has unwound.
    m_stack.lifecycle.closeNow = [this] { QTimer::singleShot(0, this, &QWidget::close); };
}

Lifecycle::LoadResult ConsoleWindow::Form_Load(const QString& argumentText)
{
    const Lifecycle::LoadResult result = m_stack.lifecycle.load(argumentText);
    drawTitle();
    drawLinkSettings(); // Tarvo.ini has been read
    drawSlotNames();
    return result;
}

bool ConsoleWindow::Form_Unload()
{
    if (!m_stack.lifecycle.requestClose())
        return false;
    const QString& problem = m_stack.lifecycle.lastUnloadProblem;
    if (!problem.isEmpty() && !m_quietClose)
        m_prompter.message(QStringLiteral("Tarvo"), problem, Prompter::Icon::Critical);
    return true;
}

void ConsoleWindow::CmdSend_Click()
{
    if (m_stack.polling.running())
        return;
    m_model.setListIndex(Field::Pages, ConsoleModel::kPageGeneral);
    m_stack.polling.sendOnce();
}

void ConsoleWindow::CmdStart_Click()
{
    if (m_stack.polling.running())
        return;
    m_model.setListIndex(Field::Pages, ConsoleModel::kPageGeneral);
    m_stack.polling.start();
}

void ConsoleWindow::CmdStop_Click()
{
    m_model.setListIndex(Field::Pages, ConsoleModel::kPageDefinition);
    m_stack.polling.stop();
    restoreControls();
    for (int i = 0; i < ConsoleModel::kSlots; ++i) {
        m_model.setText(Field::Reponse, i, QString());
        m_model.setText(Field::Reponse1, i, QString());
    }
}

void ConsoleWindow::CmdReadMemory_Click()
{
    m_stack.memoryRead.read(m_model.silent());
}

void ConsoleWindow::cycleStarted(Polling::Cycle cycle)
{
    m_model.setEnabled(Field::CmdReadMemory, false);
    m_model.setEnabled(Field::CmdSend, false);
    m_model.setEnabled(Field::CmdStart, false);
    if (cycle == Polling::Cycle::SendOnce)
        return;
    m_model.setEnabled(Field::Function, false);
    m_model.setEnabled(Field::Query, false);
    if (cycle != Polling::Cycle::Polling)
        return;
    for (int i = 0; i < ConsoleModel::kSlots; ++i)
        m_model.setEnabled(Field::Address, i, false);
}

void ConsoleWindow::restoreControls()
{
    m_model.setEnabled(Field::CmdStart, true);
    m_model.setEnabled(Field::CmdSend, true);
    m_model.setEnabled(Field::Function, true);
    m_model.setEnabled(Field::Query, true);
    for (int i = 0; i < ConsoleModel::kSlots; ++i) {
        m_model.setEnabled(Field::Address, i, true);
        m_model.setEnabled(Field::CheckAdr, i, true);
    }
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

    QLabel* caption = m_fields.label(Field::Label3);
    QComboBox* function = m_fields.dropDown(Field::TxtFunction, false);
    caption->setBuddy(function);
    function->setMinimumContentsLength(24);
    row->addWidget(caption);
    row->addWidget(function);
    row->addSpacing(12);

    auto* send = qobject_cast<QPushButton*>(m_fields.button(Field::CmdSend));
    send->setDefault(true); // Return anywhere outside the command editor sends (keyPressEvent)
    connect(send, &QPushButton::clicked, this, &ConsoleWindow::sendClicked);
    QAbstractButton* start = m_fields.button(Field::CmdStart);
    connect(start, &QAbstractButton::clicked, this, &ConsoleWindow::startClicked);
    QAbstractButton* stop = m_fields.button(Field::CmdStop);
    connect(stop, &QAbstractButton::clicked, this, &ConsoleWindow::stopClicked);
    row->addWidget(send);
    row->addWidget(start);
    row->addWidget(stop);
    row->addSpacing(12);

    QLabel* crcError = m_fields.label(Field::Label8);
    crcError->setStyleSheet(QStringLiteral("color: #c62828; font-weight: bold;"));
    QLabel* echo = m_fields.label(Field::LblEcho);
    echo->setStyleSheet(QStringLiteral("color: #c62828; font-weight: bold;"));
    row->addWidget(crcError);
    row->addWidget(echo);
    row->addStretch(1);
    row->addWidget(m_fields.checkBox(Field::Check2));
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
                                             QLabel* number = m_fields.label(FieldRef(Field::Label14, i));
                                             number->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
                                             grid->addWidget(number, i, 0);
                                             grid->addWidget(replyBox(FieldRef(Field::Reponse, i)), i, 1);
                                             grid->addWidget(replyBox(FieldRef(Field::Reponse1, i)), i, 2);
                                         });
    auto* grid = qobject_cast<QGridLayout*>(results->widget()->layout());
    grid->setColumnStretch(1, 3);
    grid->setColumnStretch(2, 2);
    columns->addWidget(results, 3);

    auto* side = new QVBoxLayout;
    QGroupBox* received = m_fields.frame(Field::Frame2);
    auto* receivedLayout = new QVBoxLayout(received);
    for (const Field field : {Field::Answer1, Field::Answer}) {
        QPlainTextEdit* box = m_fields.textBox(field, false);
        QFont font(QStringLiteral("Lucida Sans Unicode"));
        font.setStyleHint(QFont::SansSerif); // any sans face with wide coverage where that one is missing
        box->setFont(font);
        receivedLayout->addWidget(box);
    }
    side->addWidget(received, 1);

    auto* timing = new QGridLayout;
    timing->addWidget(m_fields.label(Field::Label5), 0, 0);
    timing->addWidget(m_fields.lineEdit(Field::Scan), 0, 1);
    timing->addWidget(m_fields.label(Field::Label6), 0, 2);
    timing->addWidget(m_fields.label(Field::Label4), 1, 0);
    timing->addWidget(m_fields.lineEdit(Field::Query), 1, 1);
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
    QGroupBox* link = m_fields.frame(Field::Frame3);
    auto* linkGrid = new QGridLayout(link);
    linkGrid->addWidget(m_fields.option(Field::OpCOM), 0, 0);
    auto* comPort = new PortComboBox(m_model, this);
    m_fields.dropDown(Field::ComPort, true, comPort);
    comPort->redraw(); // the details of each choice, once the list is in
    linkGrid->addWidget(comPort, 0, 1);
    linkGrid->addWidget(m_fields.label(Field::Label12), 0, 2, Qt::AlignRight);
    linkGrid->addWidget(m_fields.dropDown(Field::COMSpeed, true), 0, 3);
    // Data bits, parity, stop bits and the rest of the serial line, in one compact button: "8N2".
    m_lineButton = new QPushButton(link);
    m_lineButton->setObjectName(QStringLiteral("LineSettingsButton"));
    m_lineButton->setAccessibleName(tr("Serial line format"));
    m_lineButton->setAutoDefault(true);
    connect(m_lineButton, &QPushButton::clicked, this, &ConsoleWindow::editLineSettings);
    auto* lineCaption = new QLabel(tr("Line:"), link);
    lineCaption->setBuddy(m_lineButton);
    linkGrid->addWidget(lineCaption, 0, 4, Qt::AlignRight);
    linkGrid->addWidget(m_lineButton, 0, 5);
    linkGrid->addWidget(m_fields.option(Field::OpTCP), 1, 0);
    linkGrid->addWidget(m_fields.lineEdit(Field::IP), 1, 1);
    linkGrid->addWidget(m_fields.label(Field::Label13), 1, 2, Qt::AlignRight);
    linkGrid->addWidget(m_fields.lineEdit(Field::Port), 1, 3);
    // Under the host and port: the network link's transport, and how its requests are framed. Kept in
    // Tarvo.ini, taken by the link when the next cycle connects.
    m_transportChoice = new QComboBox(link);
    m_transportChoice->setObjectName(QStringLiteral("TcpTransport"));
    m_transportChoice->addItem(tr("TCP"), static_cast<int>(Transport::Tcp));
    m_transportChoice->addItem(tr("UDP"), static_cast<int>(Transport::Udp));
    m_transportChoice->setAccessibleName(tr("Network transport"));
    m_transportChoice->setToolTip(tr("How the host and port are reached.\n"
                                     "TCP: a connection, as most Modbus TCP devices and serial gateways take.\n"
                                     "UDP: one datagram for each request and one for each reply, nothing kept open."));
    connect(m_transportChoice, &QComboBox::activated, this,
            [this] { m_model.ini.tcp.transport = static_cast<Transport>(m_transportChoice->currentData().toInt()); });
    auto* transportCaption = new QLabel(tr("Transport:"), link);
    transportCaption->setBuddy(m_transportChoice);
    linkGrid->addWidget(transportCaption, 2, 0, Qt::AlignRight);
    linkGrid->addWidget(m_transportChoice, 2, 1);
    m_framingChoice = new QComboBox(link);
    m_framingChoice->setObjectName(QStringLiteral("TcpFraming"));
    m_framingChoice->addItem(tr("Raw"), static_cast<int>(NetFraming::Raw));
    m_framingChoice->addItem(tr("Modbus TCP"), static_cast<int>(NetFraming::Mbap));
    m_framingChoice->setAccessibleName(tr("Network framing"));
    m_framingChoice->setToolTip(
        tr("What goes in each packet.\n"
           "Raw: each protocol's own frames, as on the serial line (Modbus as RTU, with its CRC).\n"
           "Modbus TCP: Modbus requests under the 7-byte MBAP header, without a CRC; the unit id is the "
           "console address + 1. Modbus only: under another protocol the send is refused."));
    connect(m_framingChoice, &QComboBox::activated, this,
            [this] { m_model.ini.tcp.framing = static_cast<NetFraming>(m_framingChoice->currentData().toInt()); });
    auto* framingCaption = new QLabel(tr("Framing:"), link);
    framingCaption->setBuddy(m_framingChoice);
    linkGrid->addWidget(framingCaption, 2, 2, Qt::AlignRight);
    // As wide as its longest choice, which the port's column need not be.
    linkGrid->addWidget(m_framingChoice, 2, 3, 1, 3, Qt::AlignLeft);
    // Each follows its link's own fields: the line the speed (serial), the rest the port (TCP).
    auto drawEnabled = [this] {
        m_lineButton->setEnabled(m_model.enabled(Field::COMSpeed));
        m_transportChoice->setEnabled(m_model.enabled(Field::Port));
        m_framingChoice->setEnabled(m_model.enabled(Field::Port));
    };
    drawEnabled();
    connect(&m_model, &ConsoleModel::stateChanged, link, [drawEnabled](FieldRef ref) {
        if (ref.field == Field::COMSpeed || ref.field == Field::Port)
            drawEnabled();
    });
    drawLinkSettings();
    linkGrid->setColumnStretch(1, 2);
    linkGrid->setColumnStretch(3, 1);
    left->addWidget(link);

    auto* delays = new QGroupBox(page);
    auto* delayGrid = new QGridLayout(delays);
    delayGrid->addWidget(m_fields.label(Field::Label7), 0, 0);
    delayGrid->addWidget(m_fields.lineEdit(Field::TimeOutDelay), 0, 1);
    delayGrid->addWidget(m_fields.label(Field::Label10), 0, 2);
    delayGrid->addWidget(m_fields.label(Field::Label1), 1, 0);
    delayGrid->addWidget(m_fields.lineEdit(Field::WaitingDelay), 1, 1);
    delayGrid->addWidget(m_fields.label(Field::Label9), 1, 2);
    QLabel* help = m_fields.label(Field::Label11);
    help->setWordWrap(true);
    help->setStyleSheet(QStringLiteral("color: palette(placeholder-text);"));
    delayGrid->addWidget(help, 2, 0, 1, 4);
    delayGrid->setColumnStretch(3, 1);
    left->addWidget(delays);

    QGroupBox* command = m_fields.frame(Field::Frame1);
    auto* commandLayout = new QVBoxLayout(command);
    QPlainTextEdit* cmd = m_fields.textBox(Field::Cmd, false);
    cmd->setFont(replyFont());
    cmd->setTabChangesFocus(true); // a command never holds a tab; the key moves on instead
    // Two lines at the least: in a short window (a dock open below) the box gives way before the
    // delays' help above it is cut.
    cmd->setMinimumHeight(replyBoxHeight(cmd));
    commandLayout->addWidget(cmd, 1);
    auto* fileButtons = new QHBoxLayout;
    fileButtons->addStretch(1);
    QAbstractButton* open = m_fields.button(Field::CmdOpen);
    connect(open, &QAbstractButton::clicked, this, &ConsoleWindow::openCommandFile);
    QAbstractButton* save = m_fields.button(Field::CmdSave);
    connect(save, &QAbstractButton::clicked, this, &ConsoleWindow::saveCommandFile);
    fileButtons->addWidget(open);
    fileButtons->addWidget(save);
    commandLayout->addLayout(fileButtons);
    left->addWidget(command, 1);
    columns->addLayout(left, 5);

    // Middle: the 32 controller addresses.
    QGroupBox* addresses = m_fields.frame(Field::Frame5);
    auto* addressLayout = new QVBoxLayout(addresses);
    QScrollArea* addressArea = buildSlotArea(QStringLiteral("Custom"), QStringLiteral("MyPic"),
                                             QStringLiteral("VScroll1"), [this](QGridLayout* grid, int i) {
                                                 grid->addWidget(m_fields.checkBox(FieldRef(Field::CheckAdr, i)), i, 0);
                                                 grid->addWidget(m_fields.lineEdit(FieldRef(Field::Address, i)), i, 1);
                                             });
    addressLayout->addWidget(addressArea);
    columns->addWidget(addresses, 3);

    // Right: protocol, encryption, memory read.
    auto* right = new QVBoxLayout;
    QGroupBox* protocol = m_fields.frame(Field::Frame6);
    auto* protocolGrid = new QGridLayout(protocol);
    protocolGrid->addWidget(m_fields.option(Field::Modbus), 0, 0);
    protocolGrid->addWidget(m_fields.option(Field::Protocol4), 1, 0);
    protocolGrid->addWidget(m_fields.option(Field::Protocol4Plus), 2, 0);
    // Each protocol's own settings sit beside it, so a disabled one reads as "not for this protocol".
    protocolGrid->addWidget(m_fields.option(Field::ProtocolAA), 3, 0);
    QLineEdit* code = m_fields.lineEdit(Field::txtProtocol);
    code->setMaximumWidth(code->fontMetrics().horizontalAdvance(QStringLiteral("MMMM")) + 16);
    protocolGrid->addWidget(code, 3, 1, 1, 2, Qt::AlignLeft);
    protocolGrid->addWidget(m_fields.option(Field::OptBioscrypt), 4, 0);
    protocolGrid->addWidget(m_fields.checkBox(Field::ckAck), 4, 1);
    protocolGrid->addWidget(m_fields.checkBox(Field::ckRes), 4, 2);
    protocolGrid->addWidget(m_fields.option(Field::OptNone), 5, 0);
    protocolGrid->setColumnStretch(3, 1);
    right->addWidget(protocol);

    QGroupBox* crypt = m_fields.frame(Field::Frame7);
    auto* cryptGrid = new QGridLayout(crypt);
    cryptGrid->addWidget(m_fields.option(Field::Encrypt), 0, 0);
    cryptGrid->addWidget(m_fields.option(Field::decrypt), 0, 1);
    cryptGrid->addWidget(m_fields.lineEdit(Field::Password), 1, 0, 1, 3);
    cryptGrid->setColumnStretch(2, 1);
    right->addWidget(crypt);

    right->addWidget(m_fields.checkBox(Field::Check1));

    QGroupBox* memory = m_fields.frame(Field::Picture1);
    auto* memoryGrid = new QGridLayout(memory);
    const std::pair<Field, Field> memoryFields[] = {{Field::Label2, Field::MemPage},
                                                    {Field::Label15, Field::MemAddress},
                                                    {Field::Label16, Field::MemRecordNumber},
                                                    {Field::Label17, Field::MemRecordSize}};
    int row = 0;
    for (const auto& [caption, field] : memoryFields) {
        QLabel* l = m_fields.label(caption);
        QLineEdit* e = m_fields.lineEdit(field);
        l->setBuddy(e);
        memoryGrid->addWidget(l, row, 0);
        memoryGrid->addWidget(e, row, 1);
        ++row;
    }
    QAbstractButton* read = m_fields.button(Field::CmdReadMemory);
    connect(read, &QAbstractButton::clicked, this, &ConsoleWindow::readMemoryClicked);
    memoryGrid->addWidget(read, row, 1, Qt::AlignRight);
    right->addWidget(memory);
    right->addStretch(1);
    columns->addLayout(right, 4);
    return page;
}

QPlainTextEdit* ConsoleWindow::replyBox(FieldRef ref)
{
    QPlainTextEdit* w = m_fields.textBox(ref, true);
    // Hex shown as it came, reachable by the mouse (double-click translates) but kept out of the
    // keyboard's walk through the settings.
    w->setFont(replyFont());
    w->setFocusPolicy(Qt::ClickFocus);
    w->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    w->setFixedHeight(replyBoxHeight(w));
    if (ref.field == Field::Reponse) {
        w->viewport()->installEventFilter(this);
        w->viewport()->setProperty("tarvoSlot", ref.slot);
        w->setToolTip(tr("Double-click to read this reply as characters"));
    }
    return w;
}

void ConsoleWindow::editLineSettings()
{
    auto* dialog = new LineSettingsDialog(m_model.ini.serial, m_model.text(Field::COMSpeed), this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    // Taken by the link when the next cycle connects.
    connect(dialog, &QDialog::accepted, this, [this, dialog] {
        m_model.ini.serial = dialog->settings();
        drawLinkSettings();
    });
    dialog->open();
}

void ConsoleWindow::drawLinkSettings()
{
    m_lineButton->setText(LineSettingsDialog::summary(m_model.ini.serial));
    m_lineButton->setToolTip(LineSettingsDialog::description(m_model.ini.serial));
    m_transportChoice->setCurrentIndex(m_transportChoice->findData(static_cast<int>(m_model.ini.tcp.transport)));
    m_framingChoice->setCurrentIndex(m_framingChoice->findData(static_cast<int>(m_model.ini.tcp.framing)));
}

void ConsoleWindow::drawSlotNames()
{
    for (int i = 0; i < static_cast<int>(m_model.ini.slotNames.size()); ++i) {
        const QString& name = m_model.ini.slotNames[static_cast<size_t>(i)];
        for (const Field f : {Field::Label14, Field::CheckAdr}) {
            if (QWidget* w = fieldWidget(FieldRef(f, i)))
                w->setToolTip(name);
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
    tarvo::openCommandFile(m_model, *m_dialogs, m_prompter);
}

void ConsoleWindow::saveCommandFile()
{
    tarvo::saveCommandFile(m_model, *m_dialogs, m_prompter);
}

void ConsoleWindow::closeEvent(QCloseEvent* event)
{
    // The layout goes to the settings first: the close saves them.
    m_model.ini.window.geometry = saveGeometry();
    m_model.ini.window.state = saveState();
    if (!(m_closeHandler ? m_closeHandler() : Form_Unload())) {
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
        if (auto* send = qobject_cast<QPushButton*>(fieldWidget(Field::CmdSend));
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
