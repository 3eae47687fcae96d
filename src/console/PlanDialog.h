#pragma once

#include "PlanRunner.h"
#include "TestPlan.h"

#include <QDialog>
#include <QList>
#include <memory>

class QAction;
class QLabel;
class QProgressBar;
class QPushButton;
class QTableWidget;

namespace tarvo {

class ConsoleWindow;
class FileDialogs;
class Stack;

// Tools → Test plan…: a plan opened from the site folder, its steps one row per step and address. Run
// (F8) runs it as a cycle of the console, so that it and polling never run at once; Stop (F7, Esc) ends
// it at its next wait. Each row turns pass or fail as it runs, with the reason; the journal records
// every attempt as for any exchange. "Save results…" writes the JUnit XML and a CSV beside it.
//
// The plan runs on the console's settings at the moment Run is pressed, with the plan's own link,
// protocol and timing over them.
class PlanDialog : public QDialog {
    Q_OBJECT
public:
    // dialogs: the Open and Save boxes; nullptr uses the system's own.
    PlanDialog(Stack& stack, FileDialogs* dialogs = nullptr, QWidget* parent = nullptr);
    ~PlanDialog() override;

    // Reads a plan and shows its steps; its mistakes, with their lines and columns, otherwise.
    bool openPlan(const QString& path);
    const QList<plans::StepResult>& results() const { return m_results; }
    bool running() const { return m_running; }

public slots:
    void open();
    void run();
    void stop();
    void saveResults();

protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

private:
    void cycleStarted();
    void cycleEnded();
    void updateButtons();
    void showProblems(const QString& heading, const QStringList& lines);
    void showResult(const plans::StepResult& result);
    int rowOf(int step, int address) const;

    Stack& m_stack;
    std::unique_ptr<FileDialogs> m_ownDialogs;
    FileDialogs* m_dialogs;

    QString m_path;
    plans::TestPlan m_plan;
    bool m_planOk = false;
    QList<plans::StepResult> m_results;
    QDateTime m_started;
    double m_seconds = 0;
    bool m_running = false;   // this dialog's plan runs
    bool m_cycleBusy = false; // some cycle of the console runs (this plan's or another)
    bool m_closeWhenDone = false;

    QLabel* m_file;
    QLabel* m_status;
    QTableWidget* m_table;
    QProgressBar* m_progress;
    QPushButton* m_openButton;
    QPushButton* m_runButton;
    QPushButton* m_stopButton;
    QPushButton* m_saveButton;
    QPushButton* m_closeButton;
};

// Tools → Test plan…: the plan window over the window's stack, one for the session.
QAction* addTestPlanMenu(ConsoleWindow& window);

} // namespace tarvo
