#include "TranslateDialog.h"

#include "Translate.h"

#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace tarvo {

TranslateDialog::TranslateDialog(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("TARVO"));
    setAttribute(Qt::WA_DeleteOnClose);
    setModal(false);

    auto* hexLabel = new QLabel(QStringLiteral("Hex"), this);
    hexLabel->setObjectName(QStringLiteral("Label1"));
    m_hex = new QLineEdit(this);
    m_hex->setObjectName(QStringLiteral("Text1"));
    m_hex->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    hexLabel->setBuddy(m_hex);

    auto* asciiLabel = new QLabel(QStringLiteral("ASCII"), this);
    asciiLabel->setObjectName(QStringLiteral("Label2"));
    m_ascii = new QLineEdit(this);
    m_ascii->setObjectName(QStringLiteral("Text2"));
    m_ascii->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    asciiLabel->setBuddy(m_ascii);

    auto* translateButton = new QPushButton(QStringLiteral("Translate"), this);
    translateButton->setObjectName(QStringLiteral("Command2"));
    translateButton->setDefault(true);
    auto* exitButton = new QPushButton(QStringLiteral("Exit"), this);
    exitButton->setObjectName(QStringLiteral("Command1"));
    exitButton->setAutoDefault(false);

    auto* form = new QFormLayout;
    form->addRow(hexLabel, m_hex);
    form->addRow(asciiLabel, m_ascii);
    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(translateButton, QDialogButtonBox::ActionRole);
    buttons->addButton(exitButton, QDialogButtonBox::RejectRole);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);

    connect(translateButton, &QPushButton::clicked, this, &TranslateDialog::translate);
    connect(exitButton, &QPushButton::clicked, this, &TranslateDialog::close);
    resize(520, sizeHint().height());
}

QString TranslateDialog::hexText() const
{
    return m_hex->text();
}

void TranslateDialog::setHexText(const QString& text)
{
    m_hex->setText(text);
}

QString TranslateDialog::asciiText() const
{
    return m_ascii->text();
}

void TranslateDialog::translate()
{
    if (const auto chars = translateHex(m_hex->text()))
        m_ascii->setText(*chars);
}

} // namespace tarvo
