#pragma once

#include "Explain.h"

#include <QDialog>
#include <QList>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTableWidget;

namespace tarvo {

class ConsoleModel;

// Tools → Frame workbench: what exactly the console sends, byte by byte, and whether what came back
// is valid. The request is built by the same code that sends it, from a protocol, an address and a
// function or command line (defaults from the console); each byte is shown with the field it belongs
// to, the field under the cursor highlighted. A pasted reply is taken apart and checked. A body can be
// given the check value of any of the framings. Modbus can be framed as on a serial line (Raw) or in
// Modbus TCP frames, whose MBAP header is named field by field; the console's framing is the default.
class FrameWorkbench : public QDialog {
    Q_OBJECT
public:
    explicit FrameWorkbench(const ConsoleModel& console, QWidget* parent = nullptr);

    // The frames built from the form now (one per command line; both forms of Read Buffer).
    const QList<FrameExplanation>& requests() const { return m_requests; }
    // The pasted reply, taken apart; empty bytes when none.
    const FrameExplanation& reply() const { return m_reply; }

    // The shown request frame as text to copy: "01 02 00 00 00 10 79 C6", or as a C array.
    QString requestAsHex() const;
    QString requestAsCArray() const;

    // For tests: the form's fields by what they hold.
    QComboBox* protocolBox() const { return m_protocol; }
    QComboBox* framingBox() const { return m_framing; } // Raw, Modbus TCP
    QPushButton* otherFramingButton() const { return m_otherFraming; }
    QLineEdit* addressEdit() const { return m_address; }
    QComboBox* functionBox() const { return m_function; }
    QPlainTextEdit* commandEdit() const { return m_command; }
    QLineEdit* replyEdit() const { return m_replyEdit; }
    QLineEdit* requestHexView() const { return m_requestHex; }
    QTableWidget* requestTable() const { return m_requestTable; }
    QLabel* replyVerdict() const { return m_replyVerdict; }
    QLineEdit* bodyEdit() const { return m_body; }
    QComboBox* checkKindBox() const { return m_checkKind; }
    QLineEdit* withCheckView() const { return m_withCheck; }

public slots:
    void rebuildRequest();
    void explainReply();
    void appendCheckValue();

private:
    RequestSettings settings() const;
    bool mbapFramed() const;
    QString functionName() const;
    void showFrame(int index);
    void highlightFieldAtCursor();
    static void fillTable(QTableWidget* table, const FrameExplanation& e);

    QComboBox* m_protocol = nullptr;
    QComboBox* m_framing = nullptr;
    QLineEdit* m_address = nullptr;
    QComboBox* m_function = nullptr;
    QLineEdit* m_query = nullptr;
    QPlainTextEdit* m_command = nullptr;
    QLineEdit* m_customerCode = nullptr;
    QCheckBox* m_encrypt = nullptr;
    QLineEdit* m_password = nullptr;
    QCheckBox* m_ack = nullptr;
    QCheckBox* m_res = nullptr;

    QComboBox* m_frameChoice = nullptr;
    QLineEdit* m_requestHex = nullptr;
    QTableWidget* m_requestTable = nullptr;
    QLabel* m_requestProblem = nullptr;

    QLineEdit* m_replyEdit = nullptr;
    QTableWidget* m_replyTable = nullptr;
    QLabel* m_replyVerdict = nullptr;
    // Offered when the reply does not read under the framing chosen but does under the other.
    QPushButton* m_otherFraming = nullptr;

    QLineEdit* m_body = nullptr;
    QComboBox* m_checkKind = nullptr;
    QLineEdit* m_withCheck = nullptr;

    QList<FrameExplanation> m_requests;
    FrameExplanation m_reply;
};

} // namespace tarvo
