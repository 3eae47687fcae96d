#include "FrameWorkbench.h"

#include "ConsoleModel.h"
#include "Conversions.h"
#include "Errors.h"
#include "Mbap.h"
#include "Requests.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QFontDatabase>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTextCursor>
#include <QVBoxLayout>

namespace tarvo {

namespace {

const QList<Protocol> kProtocols = {Protocol::Modbus,   Protocol::Protocol4, Protocol::Protocol4Plus,
                                    Protocol::Customer, Protocol::Bioscrypt, Protocol::None};

QString spaced(const QByteArray& bytes)
{
    return ByteArrayToHex(bytes, false).trimmed();
}

// Hex as typed or pasted: digits with or without spaces, a 0x or a comma here and there.
std::optional<QByteArray> parseHex(const QString& text)
{
    QString digits = text;
    digits.replace(QLatin1String("0x"), QString(), Qt::CaseInsensitive);
    digits.remove(QLatin1Char(' ')).remove(QLatin1Char(',')).remove(QLatin1Char('\t')).remove(QLatin1Char('\n'));
    if (digits.size() % 2 != 0)
        return std::nullopt;
    for (const QChar c : digits) {
        if (!isHexDigit(c))
            return std::nullopt;
    }
    return QByteArray::fromHex(digits.toLatin1());
}

QLineEdit* monospaceLine(QWidget* parent, bool readOnly)
{
    auto* e = new QLineEdit(parent);
    e->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    e->setReadOnly(readOnly);
    return e;
}

QTableWidget* fieldTable(QWidget* parent)
{
    auto* t = new QTableWidget(0, 4, parent);
    t->setHorizontalHeaderLabels(
        {QObject::tr("Bytes"), QObject::tr("Offset"), QObject::tr("Field"), QObject::tr("Meaning")});
    t->verticalHeader()->hide();
    t->horizontalHeader()->setStretchLastSection(true);
    t->setEditTriggers(QAbstractItemView::NoEditTriggers);
    t->setSelectionBehavior(QAbstractItemView::SelectRows);
    t->setSelectionMode(QAbstractItemView::SingleSelection);
    t->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    t->verticalHeader()->setDefaultSectionSize(t->fontMetrics().height() + 6);
    t->setMinimumHeight(t->verticalHeader()->defaultSectionSize() * 7);
    return t;
}

} // namespace

FrameWorkbench::FrameWorkbench(const ConsoleModel& console, QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("FrameWorkbench"));
    setWindowTitle(tr("Frame workbench"));
    auto* layout = new QVBoxLayout(this);

    // The request, from the console's settings at first: the settings on the left, the command
    // lines on the right.
    auto* form = new QGroupBox(tr("Request"), this);
    auto* columns = new QHBoxLayout(form);
    auto* grid = new QFormLayout;
    m_protocol = new QComboBox(form);
    for (const Field f : {Field::Modbus, Field::Protocol4, Field::Protocol4Plus, Field::ProtocolAA, Field::OptBioscrypt,
                          Field::OptNone})
        m_protocol->addItem(console.caption(f));
    m_protocol->setCurrentIndex(static_cast<int>(kProtocols.indexOf(console.protocol())));
    grid->addRow(tr("&Protocol"), m_protocol);
    // The console's framing of its network link; a serial line carries raw frames whatever it says.
    m_framing = new QComboBox(form);
    m_framing->addItems({tr("Raw"), tr("Modbus TCP")});
    m_framing->setToolTip(tr("Modbus TCP: the MBAP header (transaction id, protocol id, length, unit id) in place "
                             "of the address and the CRC. Modbus only."));
    m_framing->setCurrentIndex(!console.serialLink() && console.linkSettings().framing == NetFraming::Mbap ? 1 : 0);
    grid->addRow(tr("F&raming"), m_framing);
    int slot = 0;
    while (slot < ConsoleModel::kSlots && !console.slotSelected(slot))
        ++slot;
    m_address = new QLineEdit(console.address(slot < ConsoleModel::kSlots ? slot : 0), form);
    grid->addRow(tr("&Address"), m_address);
    m_function = new QComboBox(form);
    m_function->addItems(console.listItems(Field::Function));
    m_function->setCurrentIndex(std::max(0, console.listIndex(Field::Function)));
    grid->addRow(tr("&Function"), m_function);
    m_query = new QLineEdit(console.text(Field::Query), form);
    grid->addRow(tr("&Query code"), m_query);
    m_customerCode = new QLineEdit(console.text(Field::CustomerCode), form);
    grid->addRow(tr("C&ustomer code"), m_customerCode);
    auto* crypt = new QHBoxLayout;
    m_encrypt = new QCheckBox(tr("&Encrypt with"), form);
    m_encrypt->setChecked(console.selected(Field::Encrypt));
    m_password = new QLineEdit(console.text(Field::Password), form);
    crypt->addWidget(m_encrypt);
    crypt->addWidget(m_password, 1);
    grid->addRow(QString(), crypt);
    auto* flags = new QHBoxLayout;
    m_ack = new QCheckBox(console.caption(Field::AckReq), form);
    m_ack->setChecked(console.check(Field::AckReq) == 1);
    m_res = new QCheckBox(console.caption(Field::RespReq), form);
    m_res->setChecked(console.check(Field::RespReq) == 1);
    flags->addWidget(m_ack);
    flags->addWidget(m_res);
    flags->addStretch(1);
    grid->addRow(tr("Bioscrypt"), flags);
    columns->addLayout(grid, 1);
    auto* commandColumn = new QVBoxLayout;
    auto* commandLabel = new QLabel(tr("Co&mmand lines (Send command)"), form);
    m_command =
        new QPlainTextEdit(QString(console.text(Field::Cmd)).replace(QLatin1String("\r\n"), QLatin1String("\n")), form);
    m_command->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_command->setTabChangesFocus(true);
    commandLabel->setBuddy(m_command);
    commandColumn->addWidget(commandLabel);
    commandColumn->addWidget(m_command, 1);
    columns->addLayout(commandColumn, 1);
    layout->addWidget(form);

    auto* frames = new QGroupBox(tr("Frame as sent"), this);
    auto* framesLayout = new QVBoxLayout(frames);
    auto* frameRow = new QHBoxLayout;
    m_frameChoice = new QComboBox(frames);
    m_requestHex = monospaceLine(frames, true);
    m_requestHex->setObjectName(QStringLiteral("requestHex"));
    auto* copyHex = new QPushButton(tr("Copy &hex"), frames);
    auto* copyC = new QPushButton(tr("Copy as &C array"), frames);
    frameRow->addWidget(m_frameChoice);
    frameRow->addWidget(m_requestHex, 1);
    frameRow->addWidget(copyHex);
    frameRow->addWidget(copyC);
    framesLayout->addLayout(frameRow);
    m_requestProblem = new QLabel(frames);
    m_requestProblem->setStyleSheet(QStringLiteral("color: #c62828;"));
    m_requestProblem->setWordWrap(true);
    framesLayout->addWidget(m_requestProblem);
    m_requestTable = fieldTable(frames);
    framesLayout->addWidget(m_requestTable, 1);
    layout->addWidget(frames, 2);

    auto* reply = new QGroupBox(tr("Reply"), this);
    auto* replyLayout = new QVBoxLayout(reply);
    m_replyEdit = monospaceLine(reply, false);
    m_replyEdit->setPlaceholderText(tr("Paste a reply here: 01 02 02 00 49 ..."));
    m_replyVerdict = new QLabel(reply);
    m_replyVerdict->setWordWrap(true);
    m_otherFraming = new QPushButton(reply);
    m_otherFraming->hide();
    m_replyTable = fieldTable(reply);
    replyLayout->addWidget(m_replyEdit);
    auto* verdictRow = new QHBoxLayout;
    verdictRow->addWidget(m_replyVerdict, 1);
    verdictRow->addWidget(m_otherFraming);
    replyLayout->addLayout(verdictRow);
    replyLayout->addWidget(m_replyTable, 1);
    layout->addWidget(reply, 2);

    auto* check = new QGroupBox(tr("Append check value"), this);
    auto* checkRow = new QHBoxLayout(check);
    m_body = monospaceLine(check, false);
    m_body->setPlaceholderText(tr("Body: 01 03 00 00 00 02"));
    m_checkKind = new QComboBox(check);
    m_checkKind->addItems({tr("CRC-16/MODBUS"), tr("CRC-16/XMODEM and end byte"), tr("Byte sum and end byte"),
                           tr("Negated byte sum (Bioscrypt)"), tr("MBAP header (Modbus TCP)")});
    m_withCheck = monospaceLine(check, true);
    auto* copyFrame = new QPushButton(tr("Cop&y"), check);
    checkRow->addWidget(m_body, 2);
    checkRow->addWidget(m_checkKind);
    checkRow->addWidget(m_withCheck, 3);
    checkRow->addWidget(copyFrame);
    layout->addWidget(check);

    auto* close = new QPushButton(tr("Close"), this);
    auto* bottom = new QHBoxLayout;
    bottom->addStretch(1);
    bottom->addWidget(close);
    layout->addLayout(bottom);

    for (QLineEdit* e : {m_address, m_query, m_customerCode, m_password})
        connect(e, &QLineEdit::textChanged, this, &FrameWorkbench::rebuildRequest);
    for (QCheckBox* c : {m_encrypt, m_ack, m_res})
        connect(c, &QCheckBox::toggled, this, &FrameWorkbench::rebuildRequest);
    connect(m_protocol, &QComboBox::currentIndexChanged, this, &FrameWorkbench::rebuildRequest);
    connect(m_function, &QComboBox::currentIndexChanged, this, &FrameWorkbench::rebuildRequest);
    connect(m_command, &QPlainTextEdit::textChanged, this, &FrameWorkbench::rebuildRequest);
    connect(m_frameChoice, &QComboBox::currentIndexChanged, this, &FrameWorkbench::showFrame);
    connect(m_requestHex, &QLineEdit::cursorPositionChanged, this, &FrameWorkbench::highlightFieldAtCursor);
    connect(m_replyEdit, &QLineEdit::textChanged, this, &FrameWorkbench::explainReply);
    connect(m_protocol, &QComboBox::currentIndexChanged, this, &FrameWorkbench::explainReply);
    connect(m_framing, &QComboBox::currentIndexChanged, this, &FrameWorkbench::rebuildRequest);
    connect(m_framing, &QComboBox::currentIndexChanged, this, &FrameWorkbench::explainReply);
    connect(m_otherFraming, &QPushButton::clicked, this,
            [this] { m_framing->setCurrentIndex(m_framing->currentIndex() == 0 ? 1 : 0); });
    connect(m_body, &QLineEdit::textChanged, this, &FrameWorkbench::appendCheckValue);
    connect(m_checkKind, &QComboBox::currentIndexChanged, this, &FrameWorkbench::appendCheckValue);
    connect(copyHex, &QPushButton::clicked, this, [this] { QApplication::clipboard()->setText(requestAsHex()); });
    connect(copyC, &QPushButton::clicked, this, [this] { QApplication::clipboard()->setText(requestAsCArray()); });
    connect(copyFrame, &QPushButton::clicked, this,
            [this] { QApplication::clipboard()->setText(m_withCheck->text()); });
    connect(close, &QPushButton::clicked, this, &QDialog::close);

    rebuildRequest();
    resize(960, 720);
}

QString FrameWorkbench::functionName() const
{
    return fn::forListIndex(m_function->currentIndex()).value_or(QString());
}

RequestSettings FrameWorkbench::settings() const
{
    RequestSettings s;
    s.protocol = kProtocols.value(m_protocol->currentIndex(), Protocol::None);
    s.address = m_address->text();
    s.customerCode = m_customerCode->text();
    s.encrypt = m_encrypt->isChecked();
    s.password = m_password->text();
    s.ackReq = m_ack->isChecked();
    s.respReq = m_res->isChecked();
    return s;
}

bool FrameWorkbench::mbapFramed() const
{
    return m_framing->currentIndex() == 1;
}

void FrameWorkbench::rebuildRequest()
{
    const QString function = functionName();
    const bool command = function == fn::SendCommand;
    m_command->setEnabled(command);
    m_query->setEnabled(function == fn::SendQuery);
    m_requests.clear();
    m_requestProblem->clear();
    m_requestProblem->hide();
    try {
        // Numbered from 1 as the exchange numbers them when each request is answered at once.
        m_requests = explainRequests(settings(), function, m_query->text(), m_command->toPlainText(),
                                     mbapFramed() ? std::optional<uint16_t>(1) : std::nullopt);
        if (m_requests.isEmpty())
            m_requestProblem->setText(function == fn::Waiting
                                          ? tr("Listening sends nothing.")
                                          : tr("No command to send: every line is empty or a comment."));
    } catch (const TarvoError& e) {
        // What the console would say instead of sending: a refused value, an address that is no number.
        m_requestProblem->setText(tr("Not sent: %1").arg(e.description()));
    }
    m_requestProblem->setVisible(!m_requestProblem->text().isEmpty());
    const QSignalBlocker quiet(m_frameChoice);
    m_frameChoice->clear();
    for (int i = 0; i < m_requests.size(); ++i)
        m_frameChoice->addItem(tr("Frame %1 of %2").arg(i + 1).arg(m_requests.size()));
    m_frameChoice->setVisible(m_requests.size() > 1);
    showFrame(0);
}

void FrameWorkbench::showFrame(int index)
{
    const FrameExplanation e = m_requests.value(index);
    m_requestHex->setText(spaced(e.bytes));
    fillTable(m_requestTable, e);
}

void FrameWorkbench::fillTable(QTableWidget* table, const FrameExplanation& e)
{
    table->setRowCount(static_cast<int>(e.fields.size()));
    for (int row = 0; row < e.fields.size(); ++row) {
        const FrameField& f = e.fields[row];
        const QStringList cells = {spaced(e.bytes.mid(f.offset, f.length)), QString::number(f.offset), f.name,
                                   f.meaning};
        for (int col = 0; col < cells.size(); ++col)
            table->setItem(row, col, new QTableWidgetItem(cells[col]));
    }
    table->resizeColumnsToContents();
}

void FrameWorkbench::highlightFieldAtCursor()
{
    // Three characters a byte ("01 "): the byte under the cursor, then its field.
    const int index = m_frameChoice->currentIndex() < 0 ? 0 : m_frameChoice->currentIndex();
    const FrameExplanation e = m_requests.value(index);
    const int field = e.fieldAt(m_requestHex->cursorPosition() / 3);
    if (field < 0) {
        m_requestTable->clearSelection();
        return;
    }
    m_requestTable->selectRow(field);
    const FrameField& f = e.fields[field];
    const QSignalBlocker quiet(m_requestHex);
    const int cursor = m_requestHex->cursorPosition();
    m_requestHex->setSelection(f.offset * 3, f.length * 3 - 1);
    Q_UNUSED(cursor);
}

void FrameWorkbench::explainReply()
{
    const QString text = m_replyEdit->text().trimmed();
    m_reply = FrameExplanation{};
    m_otherFraming->hide();
    if (text.isEmpty()) {
        m_replyVerdict->clear();
        m_replyTable->setRowCount(0);
        return;
    }
    const auto bytes = parseHex(text);
    if (!bytes) {
        m_replyVerdict->setText(tr("Not hexadecimal: two digits a byte, spaces allowed."));
        m_replyTable->setRowCount(0);
        return;
    }
    const RequestSettings s = settings();
    const bool mbap = mbapFramed() && s.protocol == Protocol::Modbus;
    m_reply = explainFrame(s.protocol, *bytes, s.encrypt, s.password, mbap);
    QString verdict;
    switch (m_reply.verdict) {
    case CheckVerdict::Ok:
        verdict = mbap ? tr("Header right: its length, %1, counts the bytes after it.").arg(mbap::length(*bytes))
                       : tr("Check value right (%1 %2).").arg(m_reply.checkName, spaced(m_reply.received));
        break;
    case CheckVerdict::Bad:
        verdict = mbap ? tr("Header wrong: its length says %1 bytes follow, %2 do.")
                             .arg(mbap::length(*bytes))
                             .arg(bytes->size() - 6)
                       : tr("Check value wrong: the frame carries %1, its bytes give %2 (%3).")
                             .arg(spaced(m_reply.received), spaced(m_reply.computed), m_reply.checkName);
        break;
    case CheckVerdict::Unchecked:
        verdict = tr("This protocol has no check value.");
        break;
    case CheckVerdict::NotAFrame:
        verdict = mbap ? tr("Not a Modbus TCP frame: %1.").arg(m_reply.problem)
                       : tr("Not a frame of this protocol: %1.").arg(m_reply.problem);
        break;
    }
    if (m_reply.trailing > 0)
        verdict += QLatin1Char(' ') + tr("%1.").arg(m_reply.trailingNote());
    // A reply pasted under the wrong framing: a guess, offered, never made for the operator.
    if (s.protocol == Protocol::Modbus && m_reply.verdict != CheckVerdict::Ok) {
        const bool other =
            mbap ? completeFrameLength(Protocol::Modbus, *bytes) == bytes->size() : mbap::looksLikeFrame(*bytes);
        if (other) {
            verdict += QLatin1Char(' ') +
                       (mbap ? tr("It reads as a Raw (RTU) frame.") : tr("It reads as a Modbus TCP frame."));
            m_otherFraming->setText(mbap ? tr("Read as Ra&w") : tr("Read as Modbus &TCP"));
            m_otherFraming->show();
        }
    }
    m_replyVerdict->setText(verdict);
    m_replyVerdict->setStyleSheet(m_reply.verdict == CheckVerdict::Ok ? QString() : QStringLiteral("color: #c62828;"));
    fillTable(m_replyTable, m_reply);
}

void FrameWorkbench::appendCheckValue()
{
    const auto body = parseHex(m_body->text());
    if (!body || body->isEmpty()) {
        m_withCheck->setText(m_body->text().trimmed().isEmpty() ? QString() : tr("not hexadecimal"));
        return;
    }
    m_withCheck->setText(spaced(appendCheck(static_cast<CheckKind>(m_checkKind->currentIndex()), *body)));
}

QString FrameWorkbench::requestAsHex() const
{
    return m_requestHex->text();
}

QString FrameWorkbench::requestAsCArray() const
{
    const QByteArray bytes = m_requests.value(std::max(0, m_frameChoice->currentIndex())).bytes;
    QStringList items;
    for (const char b : bytes)
        items << QStringLiteral("0x%1")
                     .arg(static_cast<unsigned char>(b), 2, 16, QLatin1Char('0'))
                     .toUpper()
                     .replace(QLatin1String("0X"), QLatin1String("0x"));
    return QStringLiteral("const unsigned char frame[%1] = {%2};")
        .arg(bytes.size())
        .arg(items.join(QStringLiteral(", ")));
}

} // namespace tarvo
