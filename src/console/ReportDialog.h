#pragma once

#include <QDialog>

class QLineEdit;
class QListWidget;
class QPushButton;

namespace tarvo {

class FileDialogs;

// File → Commissioning report…: which journal files go in, the census results if any, and the file
// the report is written to. It only gathers the choice; the window writes the report.
class ReportDialog final : public QDialog {
    Q_OBJECT
public:
    // journals: the files offered at first (the one being written, or the newest in the journal folder).
    ReportDialog(FileDialogs& dialogs, const QStringList& journals, const QString& output, QWidget* parent = nullptr);

    QStringList journals() const;
    QString census() const;
    QString output() const;

private:
    void addJournal();
    void chooseCensus();
    void check();

    FileDialogs& m_dialogs;
    QListWidget* m_journals;
    QPushButton* m_remove;
    QLineEdit* m_census;
    QLineEdit* m_output;
    QPushButton* m_write;
};

} // namespace tarvo
