#pragma once

#include <QDialog>

class QLineEdit;
class QPushButton;

namespace tarvo {

// The small "TARVO" window that shows hexadecimal text as characters. It lives only while shown:
// closing it (Exit or the window's own close) discards it, so the next opening starts empty.
class TranslateDialog : public QDialog {
    Q_OBJECT
public:
    explicit TranslateDialog(QWidget* parent = nullptr);

    QString hexText() const;
    void setHexText(const QString& text);
    QString asciiText() const;

public slots:
    // Translates the hexadecimal box into the character box; on a failure the character box keeps
    // what it showed.
    void translate();

private:
    QLineEdit* m_hex;
    QLineEdit* m_ascii;
};

} // namespace tarvo
