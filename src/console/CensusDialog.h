#pragma once

#include "AddressResult.h"

#include <QDialog>
#include <QList>
#include <functional>

class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QTableWidget;

namespace tarvo {

class Census;
class ConsoleModel;
class ConsoleWindow;
class FileDialogs;

// Tools -> Bus census: who answers on the bus, at which speed and how fast. The operator picks a
// range of addresses, the speeds to try, the request, its time-out and tries; the table fills as the
// census goes, the progress bar tells the address being asked and the time left, Stop ends it. "Use
// these addresses" puts the addresses that answered into the console's slots, "Export CSV" writes the
// results. The choices are remembered in Tarvo.ini.
//
// The census runs inside the event loop's passes, as the console's cycles do: the dialog stays alive
// and is modal while it is open, so that no cycle of the console can start on the same link.
class CensusDialog : public QDialog {
    Q_OBJECT
public:
    // console: the console's model, for its link option, its slots and the remembered choices.
    // dialogs: the Save box of the export; nullptr uses the system's own.
    CensusDialog(Census& census, ConsoleModel& console, FileDialogs* dialogs = nullptr, QWidget* parent = nullptr);
    ~CensusDialog() override;

    // Whether the console is running a cycle of its own now (its link is then in use).
    std::function<bool()> consoleBusy;

    const QList<AddressResult>& results() const { return m_results; }
    bool running() const { return m_running; }

public slots:
    void start();
    void stop();
    void useAddresses();
    void exportCsv();

protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

private:
    void remember();
    void showResult(const AddressResult& result);
    void updateButtons();
    void updateFilter();
    QString chosenFunction() const;
    bool serialLink() const;

    Census& m_census;
    ConsoleModel& m_console;
    std::unique_ptr<FileDialogs> m_ownDialogs;
    FileDialogs* m_dialogs;

    QLineEdit* m_range;
    QLineEdit* m_speeds;
    QComboBox* m_function;
    QLineEdit* m_command;
    QSpinBox* m_timeout;
    QSpinBox* m_tries;
    QProgressBar* m_progress;
    QLabel* m_progressText;
    QTableWidget* m_table;
    QCheckBox* m_showSilent;
    QLabel* m_status;
    QPushButton* m_start;
    QPushButton* m_stop;
    QPushButton* m_use;
    QPushButton* m_export;
    QPushButton* m_close;

    QList<AddressResult> m_results;
    bool m_withSpeeds = false;
    bool m_running = false;
    bool m_closeWhenDone = false;
};

// Tools → Bus census…: the census dialog over the window's stack, refused while a cycle or the memory
// read runs (the census needs the link). afterClose runs each time the dialog has closed.
QAction* addCensusMenu(ConsoleWindow& window, std::function<void()> afterClose = {});

} // namespace tarvo
