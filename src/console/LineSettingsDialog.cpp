#include "LineSettingsDialog.h"

#include "LinkSettings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace tarvo {

namespace {

const char kParityLetters[] = "NEOMS";

QSpinBox* milliseconds(QWidget* parent, const QString& name)
{
    auto* box = new QSpinBox(parent);
    box->setObjectName(name);
    box->setRange(0, Rs485Options::kMaxDelayMs);
    box->setSuffix(LineSettingsDialog::tr(" ms"));
    return box;
}

QLabel* note(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setWordWrap(true);
    // Wide enough for a few lines at most, so that the dialog's height can follow.
    label->setMinimumWidth(label->fontMetrics().averageCharWidth() * 52);
    label->setStyleSheet(QStringLiteral("color: palette(placeholder-text);"));
    return label;
}

} // namespace

LineSettingsDialog::LineSettingsDialog(const Serial& settings, const QString& speed, QWidget* parent)
    : QDialog(parent), m_speed(speed)
{
    setObjectName(QStringLiteral("LineSettings"));
    setWindowTitle(tr("Serial line"));
    auto* layout = new QVBoxLayout(this);
    layout->setSizeConstraint(QLayout::SetFixedSize); // as tall as the wrapped notes need

    auto* character = new QGroupBox(tr("Character"), this);
    auto* form = new QFormLayout(character);
    m_dataBits = new QComboBox(character);
    m_dataBits->setObjectName(QStringLiteral("DataBits"));
    m_dataBits->addItems({QStringLiteral("8"), QStringLiteral("7")});
    m_parity = new QComboBox(character);
    m_parity->setObjectName(QStringLiteral("Parity"));
    m_parity->addItems({tr("None"), tr("Even"), tr("Odd"), tr("Mark"), tr("Space")});
    m_stopBits = new QComboBox(character);
    m_stopBits->setObjectName(QStringLiteral("StopBits"));
    m_stopBits->addItems({QStringLiteral("1"), QStringLiteral("2")});
    m_flow = new QComboBox(character);
    m_flow->setObjectName(QStringLiteral("Flow"));
    m_flow->addItems({tr("None"), tr("RTS/CTS")});
    m_byteTime = new QLabel(character);
    m_byteTime->setObjectName(QStringLiteral("ByteTime"));
    form->addRow(tr("&Data bits"), m_dataBits);
    form->addRow(tr("&Parity"), m_parity);
    form->addRow(tr("&Stop bits"), m_stopBits);
    form->addRow(tr("&Flow control"), m_flow);
    form->addRow(m_byteTime);
    layout->addWidget(character);

    m_rs485 = new QGroupBox(tr("&RS-485 (two-wire bus)"), this);
    m_rs485->setObjectName(QStringLiteral("Rs485"));
    m_rs485->setCheckable(true);
    auto* rs485 = new QFormLayout(m_rs485);
    m_rtsOnSend = new QCheckBox(tr("RTS &on send"), m_rs485);
    m_rtsOnSend->setObjectName(QStringLiteral("RtsOnSend"));
    m_rtsOnSend->setToolTip(tr("Ticked: RTS is high while a frame is sent and low otherwise.\n"
                               "Clear: the other way round, for adapters whose transmitter is on when RTS is low."));
    m_delayBefore = milliseconds(m_rs485, QStringLiteral("DelayBefore"));
    m_delayAfter = milliseconds(m_rs485, QStringLiteral("DelayAfter"));
    rs485->addRow(m_rtsOnSend);
    rs485->addRow(tr("Delay &before sending"), m_delayBefore);
    rs485->addRow(tr("Delay &after sending"), m_delayAfter);
    rs485->addRow(note(tr("The driver switches the transmitter where it can; where it cannot, Tarvo raises RTS "
                          "around each frame itself and says so once."),
                       m_rs485));
    layout->addWidget(m_rs485);

    auto* adapter = new QGroupBox(tr("Adapter"), this);
    auto* adapterLayout = new QVBoxLayout(adapter);
    m_dropEcho = new QCheckBox(tr("Drop &echo"), adapter);
    m_dropEcho->setObjectName(QStringLiteral("DropEcho"));
    m_lowLatency = new QCheckBox(tr("&Low latency"), adapter);
    m_lowLatency->setObjectName(QStringLiteral("LowLatency"));
    adapterLayout->addWidget(m_dropEcho);
    adapterLayout->addWidget(note(tr("For adapters that hear their own frames: what was sent is taken out before "
                                     "the reply is counted and checked."),
                                  adapter));
    adapterLayout->addWidget(m_lowLatency);
    adapterLayout->addWidget(note(tr("Asks the driver to hand over received bytes at once (USB adapters hold "
                                     "them up to 16 ms). Where that is not allowed, Tarvo says how to allow it."),
                                  adapter));
    layout->addWidget(adapter);

    auto* buttons =
        new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::RestoreDefaults, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(buttons->button(QDialogButtonBox::RestoreDefaults), &QPushButton::clicked, this,
            [this] { setSettings(Serial{}); });
    layout->addWidget(buttons);

    for (QComboBox* box : {m_dataBits, m_parity, m_stopBits, m_flow})
        connect(box, &QComboBox::currentIndexChanged, this, &LineSettingsDialog::update);
    connect(m_rs485, &QGroupBox::toggled, this, &LineSettingsDialog::update);
    setSettings(settings);
}

void LineSettingsDialog::setSettings(const Serial& s)
{
    const LineFormat f = LineFormat::parse(s.line).value_or(LineFormat{});
    m_dataBits->setCurrentIndex(f.dataBits == 7 ? 1 : 0);
    m_parity->setCurrentIndex(static_cast<int>(f.parity));
    m_stopBits->setCurrentIndex(f.stopBits == 1 ? 0 : 1);
    m_flow->setCurrentIndex(s.rtsCts ? 1 : 0);
    m_rs485->setChecked(s.rs485);
    m_rtsOnSend->setChecked(s.rtsOnSend);
    m_delayBefore->setValue(s.delayBeforeMs);
    m_delayAfter->setValue(s.delayAfterMs);
    m_dropEcho->setChecked(s.dropEcho);
    m_lowLatency->setChecked(s.lowLatency);
    update();
}

LineSettingsDialog::Serial LineSettingsDialog::settings() const
{
    Serial s;
    s.line =
        m_dataBits->currentText() + QLatin1Char(kParityLetters[m_parity->currentIndex()]) + m_stopBits->currentText();
    s.rs485 = m_rs485->isChecked();
    s.rtsCts = !s.rs485 && m_flow->currentIndex() == 1;
    s.rtsOnSend = m_rtsOnSend->isChecked();
    s.delayBeforeMs = m_delayBefore->value();
    s.delayAfterMs = m_delayAfter->value();
    s.dropEcho = m_dropEcho->isChecked();
    s.lowLatency = m_lowLatency->isChecked();
    return s;
}

void LineSettingsDialog::update()
{
    // RTS belongs to the RS-485 transmitter when that is on.
    m_flow->setEnabled(!m_rs485->isChecked());
    m_flow->setToolTip(m_rs485->isChecked() ? tr("RTS switches the RS-485 transmitter") : QString());
    const LineFormat f = LineFormat::parse(settings().line).value_or(LineFormat{});
    bool ok = false;
    const int baud = m_speed.trimmed().toInt(&ok);
    QString text = tr("%1 bits a character").arg(f.bitsPerCharacter());
    if (ok && baud > 0)
        text += tr(": %1 ms at %2 bit/s").arg(f.seconds(1, baud) * 1000, 0, 'f', 3).arg(baud);
    m_byteTime->setText(text);
}

QString LineSettingsDialog::summary(const Serial& s)
{
    QString text = LineFormat::parse(s.line).value_or(LineFormat{}).text();
    if (s.rs485)
        text += QStringLiteral(" RS-485");
    else if (s.rtsCts)
        text += QStringLiteral(" RTS/CTS");
    return text;
}

QString LineSettingsDialog::description(const Serial& s)
{
    const LineFormat f = LineFormat::parse(s.line).value_or(LineFormat{});
    const QStringList parities{tr("no parity"), tr("even parity"), tr("odd parity"), tr("mark parity"),
                               tr("space parity")};
    QStringList lines;
    lines << tr("%1 data bits, %2, %3 stop bit(s)")
                 .arg(f.dataBits)
                 .arg(parities.value(static_cast<int>(f.parity)))
                 .arg(f.stopBits);
    if (s.rs485)
        lines << tr("RS-485: RTS %1 while sending, %2 ms before, %3 ms after")
                     .arg(s.rtsOnSend ? tr("high") : tr("low"))
                     .arg(s.delayBeforeMs)
                     .arg(s.delayAfterMs);
    else
        lines << (s.rtsCts ? tr("Flow control RTS/CTS") : tr("No flow control"));
    if (s.dropEcho)
        lines << tr("Drop echo");
    if (s.lowLatency)
        lines << tr("Low latency");
    lines << tr("Click to change");
    return lines.join(QLatin1Char('\n'));
}

} // namespace tarvo
