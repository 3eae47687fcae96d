#pragma once

#include "ConsoleModel.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QSpinBox;

namespace tarvo {

// The serial line beyond its speed: the character format (data bits, parity, stop bits), flow
// control, RS-485 transmitter switching, the echo of a half-duplex adapter and the driver's latency.
// It edits a copy; the caller takes settings() when the operator accepts.
class LineSettingsDialog : public QDialog {
    Q_OBJECT
public:
    using Serial = ConsoleModel::Ini::Serial;

    // speed: the console's speed text, for the time a character takes.
    LineSettingsDialog(const Serial& settings, const QString& speed, QWidget* parent = nullptr);

    Serial settings() const;
    void setSettings(const Serial& settings);

    // What the Definition page's button says: "8N2", "8E1 RS-485", "8N1 RTS/CTS".
    static QString summary(const Serial& settings);
    // Everything, one setting a line, for its tooltip.
    static QString description(const Serial& settings);

private:
    void update();

    QString m_speed;
    QComboBox* m_dataBits;
    QComboBox* m_parity;
    QComboBox* m_stopBits;
    QComboBox* m_flow;
    QLabel* m_byteTime;
    QGroupBox* m_rs485;
    QCheckBox* m_rtsOnSend;
    QSpinBox* m_delayBefore;
    QSpinBox* m_delayAfter;
    QCheckBox* m_dropEcho;
    QCheckBox* m_lowLatency;
};

} // namespace tarvo
