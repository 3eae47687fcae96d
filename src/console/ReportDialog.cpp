#include "ReportDialog.h"

#include "FileDialogs.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace tarvo {

ReportDialog::ReportDialog(FileDialogs& dialogs, const QStringList& journals, const QString& output, QWidget* parent)
    : QDialog(parent), m_dialogs(dialogs)
{
    setObjectName(QStringLiteral("reportDialog"));
    setWindowTitle(tr("Commissioning report"));

    m_journals = new QListWidget(this);
    m_journals->setObjectName(QStringLiteral("journalList"));
    m_journals->setSelectionMode(QAbstractItemView::ExtendedSelection);
    for (const QString& path : journals)
        m_journals->addItem(QDir::toNativeSeparators(path));
    auto* add = new QPushButton(tr("&Add…"), this);
    add->setObjectName(QStringLiteral("addJournal"));
    m_remove = new QPushButton(tr("&Remove"), this);
    m_remove->setObjectName(QStringLiteral("removeJournal"));
    auto* listButtons = new QVBoxLayout;
    listButtons->addWidget(add);
    listButtons->addWidget(m_remove);
    listButtons->addStretch();
    auto* listRow = new QHBoxLayout;
    listRow->addWidget(m_journals, 1);
    listRow->addLayout(listButtons);

    m_census = new QLineEdit(this);
    m_census->setObjectName(QStringLiteral("censusFile"));
    m_census->setPlaceholderText(tr("none"));
    m_census->setClearButtonEnabled(true);
    auto* browse = new QPushButton(tr("&Browse…"), this);
    browse->setObjectName(QStringLiteral("chooseCensus"));
    auto* censusRow = new QHBoxLayout;
    censusRow->addWidget(m_census, 1);
    censusRow->addWidget(browse);

    m_output = new QLineEdit(QDir::toNativeSeparators(output), this);
    m_output->setObjectName(QStringLiteral("outputFile"));

    auto* form = new QFormLayout;
    auto* journalsLabel = new QLabel(tr("&Journal files:"), this);
    journalsLabel->setBuddy(m_journals);
    form->addRow(journalsLabel, listRow);
    auto* censusLabel = new QLabel(tr("&Census results:"), this);
    censusLabel->setBuddy(m_census);
    form->addRow(censusLabel, censusRow);
    auto* outputLabel = new QLabel(tr("Report &file:"), this);
    outputLabel->setBuddy(m_output);
    form->addRow(outputLabel, m_output);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, this);
    m_write = buttons->addButton(tr("&Write report"), QDialogButtonBox::AcceptRole);
    m_write->setObjectName(QStringLiteral("writeReport"));
    m_write->setDefault(true);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    auto* note = new QLabel(tr("The report is one HTML page: it opens in any browser and prints on A4. "
                               "An existing file is never written over."),
                            this);
    note->setWordWrap(true);
    layout->addWidget(note);
    layout->addWidget(buttons);
    resize(640, 360);

    connect(add, &QPushButton::clicked, this, &ReportDialog::addJournal);
    connect(m_remove, &QPushButton::clicked, this, [this] {
        qDeleteAll(m_journals->selectedItems());
        check();
    });
    connect(browse, &QPushButton::clicked, this, &ReportDialog::chooseCensus);
    connect(m_journals, &QListWidget::itemSelectionChanged, this, &ReportDialog::check);
    connect(m_output, &QLineEdit::textChanged, this, &ReportDialog::check);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    check();
}

QStringList ReportDialog::journals() const
{
    QStringList paths;
    for (int i = 0; i < m_journals->count(); ++i)
        paths << QDir::fromNativeSeparators(m_journals->item(i)->text());
    return paths;
}

QString ReportDialog::census() const
{
    return QDir::fromNativeSeparators(m_census->text().trimmed());
}

QString ReportDialog::output() const
{
    return QDir::fromNativeSeparators(m_output->text().trimmed());
}

void ReportDialog::addJournal()
{
    const QString path = m_dialogs.openFileName(QStringLiteral("Journal files (*.csv)|*.csv| All Files |*.*"));
    if (path.isEmpty() || journals().contains(path))
        return;
    m_journals->addItem(QDir::toNativeSeparators(path));
    check();
}

void ReportDialog::chooseCensus()
{
    const QString path = m_dialogs.openFileName(QStringLiteral("CSV files (*.csv)|*.csv| All Files |*.*"));
    if (!path.isEmpty())
        m_census->setText(QDir::toNativeSeparators(path));
}

void ReportDialog::check()
{
    m_remove->setEnabled(!m_journals->selectedItems().isEmpty());
    const bool exists = !output().isEmpty() && QFileInfo::exists(output());
    m_output->setToolTip(exists ? tr("This file exists already: choose another name") : QString());
    m_write->setEnabled(m_journals->count() > 0 && !output().isEmpty() && !exists);
}

} // namespace tarvo
