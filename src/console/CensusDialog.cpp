#include "CensusDialog.h"

#include "AddressList.h"
#include "Census.h"
#include "ConsoleModel.h"
#include "ConsoleWindow.h"
#include "JournalCsv.h"
#include "Requests.h"
#include "SafeFile.h"
#include "Stack.h"
#include "WidgetSeams.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateTime>
#include <QDialogButtonBox>
#include <QDir>
#include <QFontDatabase>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

namespace tarvo {

namespace {

// The functions a census can ask with: every one of the console's but listening, which asks nobody.
struct FunctionChoice {
    const QString& name;
    int consoleIndex; // its place in the console's function list, for the caption
};
const QList<FunctionChoice>& functionChoices()
{
    static const QList<FunctionChoice> choices = {
        {fn::ReadInput, 0},     {fn::ReadBuffer, 1},  {fn::ReadBuffer100, 2},
        {fn::ReadBuffer110, 3}, {fn::SendCommand, 4}, {fn::SendQuery, 5},
    };
    return choices;
}

enum Column { ColAddress, ColSpeed, ColFirstByte, ColVerdict, ColReply, ColCount };

} // namespace

CensusDialog::CensusDialog(Census& census, ConsoleModel& console, FileDialogs* dialogs, QWidget* parent)
    : QDialog(parent), m_census(census), m_console(console),
      m_ownDialogs(dialogs ? nullptr : std::make_unique<QtFileDialogs>(this)),
      m_dialogs(dialogs ? dialogs : m_ownDialogs.get())
{
    setObjectName(QStringLiteral("CensusDialog"));
    setWindowTitle(QStringLiteral("Bus census"));
    setModal(true);
    const auto& ini = m_console.ini.census;

    m_range = new QLineEdit(ini.range, this);
    m_range->setObjectName(QStringLiteral("range"));
    m_range->setToolTip(QStringLiteral("Console addresses to ask, first..last, e.g. 0..246"));
    m_speeds = new QLineEdit(ini.speeds, this);
    m_speeds->setObjectName(QStringLiteral("speeds"));
    m_speeds->setPlaceholderText(QStringLiteral("the console's speed (%1)").arg(m_console.text(Field::COMSpeed)));
    m_speeds->setToolTip(QStringLiteral("Serial speeds to try, each over the whole range: 9600,19200,38400"));
    m_function = new QComboBox(this);
    m_function->setObjectName(QStringLiteral("function"));
    const QStringList captions = fieldInfo(Field::Function).items;
    for (const FunctionChoice& c : functionChoices())
        m_function->addItem(captions.value(c.consoleIndex).trimmed(), c.name);
    m_function->setCurrentIndex(std::max(0, m_function->findData(ini.function)));
    m_command = new QLineEdit(ini.command, this);
    m_command->setObjectName(QStringLiteral("command"));
    m_command->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_command->setPlaceholderText(QStringLiteral("hexadecimal, as a command line"));
    m_timeout = new QSpinBox(this);
    m_timeout->setObjectName(QStringLiteral("timeout"));
    m_timeout->setRange(1, 600000);
    m_timeout->setSuffix(QStringLiteral(" ms"));
    m_timeout->setValue(ini.timeoutMs);
    m_tries = new QSpinBox(this);
    m_tries->setObjectName(QStringLiteral("tries"));
    m_tries->setRange(1, 3);
    m_tries->setValue(ini.tries);

    auto* form = new QFormLayout;
    auto addRow = [&](const QString& text, QWidget* w) {
        auto* label = new QLabel(text, this);
        label->setBuddy(w);
        form->addRow(label, w);
    };
    addRow(QStringLiteral("&Addresses:"), m_range);
    addRow(QStringLiteral("S&peeds:"), m_speeds);
    addRow(QStringLiteral("&Function:"), m_function);
    addRow(QStringLiteral("Co&mmand:"), m_command);
    auto* timing = new QHBoxLayout;
    timing->addWidget(m_timeout);
    auto* triesLabel = new QLabel(QStringLiteral("T&ries:"), this);
    triesLabel->setBuddy(m_tries);
    timing->addSpacing(12);
    timing->addWidget(triesLabel);
    timing->addWidget(m_tries);
    timing->addStretch();
    auto* timeoutLabel = new QLabel(QStringLiteral("&Time-out:"), this);
    timeoutLabel->setBuddy(m_timeout);
    form->addRow(timeoutLabel, timing);

    m_progress = new QProgressBar(this);
    m_progress->setObjectName(QStringLiteral("progress"));
    m_progress->setRange(0, 1);
    m_progress->setValue(0);
    m_progressText = new QLabel(this);
    m_progressText->setObjectName(QStringLiteral("progressText"));

    m_table = new QTableWidget(0, ColCount, this);
    m_table->setObjectName(QStringLiteral("results"));
    m_table->setHorizontalHeaderLabels({QStringLiteral("Address"), QStringLiteral("Speed"),
                                        QStringLiteral("First byte (ms)"), QStringLiteral("Verdict"),
                                        QStringLiteral("Reply")});
    m_table->verticalHeader()->hide();
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_table->verticalHeader()->setDefaultSectionSize(QFontMetrics(m_table->font()).height() + 6);
    for (int c : {ColAddress, ColSpeed, ColFirstByte, ColVerdict})
        m_table->horizontalHeader()->setSectionResizeMode(c, QHeaderView::ResizeToContents);
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_showSilent = new QCheckBox(QStringLiteral("Show &silent addresses"), this);
    m_showSilent->setObjectName(QStringLiteral("showSilent"));
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("status"));
    m_status->setWordWrap(true);

    m_start = new QPushButton(QStringLiteral("&Start"), this);
    m_start->setObjectName(QStringLiteral("startButton"));
    m_start->setDefault(true);
    m_stop = new QPushButton(QStringLiteral("St&op"), this);
    m_stop->setObjectName(QStringLiteral("stopButton"));
    m_use = new QPushButton(QStringLiteral("&Use these addresses"), this);
    m_use->setObjectName(QStringLiteral("useButton"));
    m_use->setToolTip(QStringLiteral("Put the addresses that answered into the console's slots and select them"));
    m_export = new QPushButton(QStringLiteral("&Export CSV..."), this);
    m_export->setObjectName(QStringLiteral("exportButton"));
    m_close = new QPushButton(QStringLiteral("&Close"), this);
    m_close->setObjectName(QStringLiteral("closeButton"));
    for (QPushButton* b : {m_stop, m_use, m_export, m_close})
        b->setAutoDefault(false);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_start);
    buttons->addWidget(m_stop);
    buttons->addStretch();
    buttons->addWidget(m_use);
    buttons->addWidget(m_export);
    buttons->addWidget(m_close);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(m_progress);
    layout->addWidget(m_progressText);
    layout->addWidget(m_table, 1);
    layout->addWidget(m_showSilent);
    layout->addWidget(m_status);
    layout->addLayout(buttons);

    connect(m_start, &QPushButton::clicked, this, &CensusDialog::start);
    connect(m_stop, &QPushButton::clicked, this, &CensusDialog::stop);
    connect(m_use, &QPushButton::clicked, this, &CensusDialog::useAddresses);
    connect(m_export, &QPushButton::clicked, this, &CensusDialog::exportCsv);
    connect(m_close, &QPushButton::clicked, this, &CensusDialog::close);
    connect(m_showSilent, &QCheckBox::toggled, this, &CensusDialog::updateFilter);
    connect(m_function, &QComboBox::currentIndexChanged, this, &CensusDialog::updateButtons);
    updateButtons();
    resize(720, 560);
}

CensusDialog::~CensusDialog() = default;

bool CensusDialog::serialLink() const
{
    return m_console.serialLink();
}

QString CensusDialog::chosenFunction() const
{
    return m_function->currentData().toString();
}

void CensusDialog::updateButtons()
{
    const bool idle = !m_running;
    for (QWidget* w : {static_cast<QWidget*>(m_range), static_cast<QWidget*>(m_function),
                       static_cast<QWidget*>(m_timeout), static_cast<QWidget*>(m_tries)})
        w->setEnabled(idle);
    // A TCP link has no speed to try.
    m_speeds->setEnabled(idle && serialLink());
    m_command->setEnabled(idle && chosenFunction() == fn::SendCommand);
    m_start->setEnabled(idle);
    m_stop->setEnabled(m_running);
    bool anyAnswered = false;
    for (const AddressResult& r : std::as_const(m_results))
        anyAnswered = anyAnswered || r.answered();
    m_use->setEnabled(idle && anyAnswered);
    m_export->setEnabled(idle && !m_results.isEmpty());
}

void CensusDialog::remember()
{
    auto& ini = m_console.ini.census;
    ini.range = m_range->text().trimmed();
    ini.speeds = m_speeds->text().trimmed();
    ini.function = chosenFunction();
    ini.command = m_command->text();
    ini.timeoutMs = m_timeout->value();
    ini.tries = m_tries->value();
}

void CensusDialog::start()
{
    if (m_running)
        return;
    if (consoleBusy && consoleBusy()) {
        m_status->setText(QStringLiteral("The console is polling: stop it first, the census needs the link."));
        return;
    }
    QString why;
    const auto addresses = parseAddressRange(m_range->text(), &why);
    if (!addresses) {
        m_status->setText(why);
        m_range->setFocus();
        return;
    }
    CensusPlan plan;
    plan.addresses = *addresses;
    if (serialLink() && !m_speeds->text().trimmed().isEmpty()) {
        const auto speeds = parseSpeedList(m_speeds->text(), &why);
        if (!speeds) {
            m_status->setText(why);
            m_speeds->setFocus();
            return;
        }
        plan.speeds = *speeds;
    }
    plan.function = chosenFunction();
    plan.command = m_command->text();
    plan.timeoutMs = m_timeout->value();
    plan.tries = m_tries->value();
    if (plan.function == fn::SendCommand && plan.command.trimmed().isEmpty()) {
        m_status->setText(QStringLiteral("Type the command to send."));
        m_command->setFocus();
        return;
    }
    if (const auto refused = m_census.refusal(plan)) {
        m_status->setText(QStringLiteral("Nothing was sent: ") + *refused);
        return;
    }
    remember();

    m_results.clear();
    m_table->setRowCount(0);
    m_withSpeeds = !plan.speeds.isEmpty();
    m_table->setColumnHidden(ColSpeed, !m_withSpeeds);
    const int total = static_cast<int>(plan.addresses.size() * std::max<qsizetype>(1, plan.speeds.size()));
    m_progress->setRange(0, total);
    m_progress->setValue(0);
    m_status->clear();
    m_running = true;
    updateButtons();
    m_stop->setFocus();

    m_census.onProgress = [this](const CensusProgress& p) {
        m_progress->setValue(p.done);
        QString text = QStringLiteral("Address %1").arg(p.address);
        if (p.speed > 0)
            text += QStringLiteral(" at %1 bit/s").arg(p.speed);
        m_progressText->setText(
            text +
            QStringLiteral(" (%1 of %2), %3 left").arg(p.done + 1).arg(p.total).arg(timeLeftText(p.secondsLeft)));
    };
    m_census.onResult = [this](const AddressResult& r) { showResult(r); };
    const Census::End end = m_census.run(plan);
    m_census.onProgress = nullptr;
    m_census.onResult = nullptr;
    m_running = false;

    int answered = 0;
    for (const AddressResult& r : std::as_const(m_results))
        answered += r.answered() ? 1 : 0;
    m_progress->setValue(end == Census::End::Finished ? total : m_progress->value());
    m_progressText->setText(QStringLiteral("%1 of %2 asked").arg(m_results.size()).arg(total));
    switch (end) {
    case Census::End::Finished:
        m_status->setText(QStringLiteral("%1 answered, %2 silent.").arg(answered).arg(m_results.size() - answered));
        break;
    case Census::End::Stopped:
        m_status->setText(QStringLiteral("Stopped: %1 answered so far.").arg(answered));
        break;
    case Census::End::LinkDown:
        m_status->setText(QStringLiteral("The link could not be opened (or was lost): see the status bar and the "
                                         "console's link settings."));
        break;
    }
    updateButtons();
    if (m_closeWhenDone)
        QTimer::singleShot(0, this, &CensusDialog::close);
}

void CensusDialog::showResult(const AddressResult& r)
{
    m_results.append(r);
    const int row = m_table->rowCount();
    m_table->insertRow(row);
    const QStringList cells = {r.address, r.speed, millisecondsText(r.firstByteMs), verdictName(r.verdict),
                               r.received.isEmpty() ? r.detail : r.received};
    for (int c = 0; c < ColCount; ++c) {
        auto* item = new QTableWidgetItem(cells.value(c));
        if (c == ColAddress || c == ColSpeed || c == ColFirstByte)
            item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        m_table->setItem(row, c, item);
    }
    const bool silent = r.verdict == JournalRecord::Verdict::NoAnswer;
    m_table->setRowHidden(row, silent && !m_showSilent->isChecked());
    if (!silent)
        m_table->scrollToItem(m_table->item(row, 0));
}

void CensusDialog::updateFilter()
{
    for (int row = 0; row < m_table->rowCount() && row < m_results.size(); ++row)
        m_table->setRowHidden(row,
                              m_results[row].verdict == JournalRecord::Verdict::NoAnswer && !m_showSilent->isChecked());
}

void CensusDialog::stop()
{
    if (m_running)
        m_census.stop();
}

void CensusDialog::useAddresses()
{
    QList<int> addresses;
    QList<QString> speeds;
    for (const AddressResult& r : std::as_const(m_results)) {
        if (!r.answered())
            continue;
        const int a = r.address.toInt();
        if (!addresses.contains(a))
            addresses.append(a);
        if (!speeds.contains(r.speed))
            speeds.append(r.speed);
    }
    if (addresses.isEmpty())
        return;
    const int used = static_cast<int>(std::min<qsizetype>(addresses.size(), ConsoleModel::kSlots));
    for (int slot = 0; slot < ConsoleModel::kSlots; ++slot) {
        if (slot < used)
            m_console.setText(Field::Address, slot, QString::number(addresses[slot]));
        m_console.setCheck(Field::CheckAdr, slot, slot < used ? 1 : 0);
    }
    QString text =
        QStringLiteral("Slots #1 to #%1 now hold %2.").arg(used).arg(addressListText(addresses.mid(0, used)));
    // Every controller answered at one speed: the console is set to it, or it would not reach them.
    if (m_withSpeeds && speeds.size() == 1 && !speeds.first().isEmpty()) {
        m_console.setText(Field::COMSpeed, speeds.first());
        text += QStringLiteral(" The speed is set to %1.").arg(speeds.first());
    } else if (m_withSpeeds && speeds.size() > 1) {
        text += QStringLiteral(" They answered at different speeds (%1): the console's speed is left as it is.")
                    .arg(speeds.join(QStringLiteral(", ")));
    }
    if (addresses.size() > used)
        text += QStringLiteral(" %1 more answered; the console has 32 slots.").arg(addresses.size() - used);
    m_status->setText(text);
}

void CensusDialog::exportCsv()
{
    // Offered in the working folder, which is the site's: the census is part of its evidence.
    const QString suggested = QDir::current().filePath(
        QStringLiteral("census-%1.csv").arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"))));
    const QString path =
        m_dialogs->saveFileNameAt(QStringLiteral("CSV files (*.csv)|*.csv| All Files |*.*"), suggested);
    if (path.isEmpty())
        return;
    QByteArray csv = resultCsvHeader(m_withSpeeds);
    for (const AddressResult& r : std::as_const(m_results))
        csv += resultCsvRow(r, m_withSpeeds);
    QString error;
    if (writeFileAtomically(path, csv, &error))
        m_status->setText(QStringLiteral("%1 rows written to %2.").arg(m_results.size()).arg(path));
    else
        m_status->setText(QStringLiteral("The results were not written: ") + error);
}

void CensusDialog::closeEvent(QCloseEvent* event)
{
    // The census's waits still run under this dialog: it stops first and closes once it has unwound.
    if (m_running) {
        m_closeWhenDone = true;
        m_census.stop();
        event->ignore();
        return;
    }
    m_closeWhenDone = false;
    QDialog::closeEvent(event);
}

void CensusDialog::reject()
{
    // Escape while the census runs stops it; otherwise it closes the dialog.
    if (m_running) {
        m_census.stop();
        return;
    }
    QDialog::reject();
}

QAction* addCensusMenu(ConsoleWindow& window, std::function<void()> afterClose)
{
    QAction* action = window.toolsMenu()->addAction(QObject::tr("&Bus census…"));
    action->setObjectName(QStringLiteral("actionBusCensus"));
    QObject::connect(action, &QAction::triggered, &window, [&window, afterClose] {
        Stack& stack = window.stack();
        auto busy = [&stack] { return stack.polling.running() || stack.memoryRead.reading(); };
        if (busy()) {
            window.statusBar()->showMessage(QObject::tr("Stop polling first: the census needs the link."));
            return;
        }
        CensusDialog dialog(stack.census, stack.model, nullptr, &window);
        dialog.consoleBusy = busy;
        dialog.exec();
        if (afterClose)
            afterClose();
    });
    return action;
}

} // namespace tarvo
