#include "WidgetSeams.h"

#include "CommandFiles.h"

#include <QFileDialog>
#include <QMessageBox>

namespace tarvo {

void MessageBoxPrompter::message(const QString& title, const QString& text, Icon icon)
{
    QMessageBox box(m_parent);
    box.setWindowTitle(title);
    // Texts may break lines with CR alone; the box understands LF.
    QString shown = text;
    shown.replace(QLatin1String("\r\n"), QLatin1String("\n")).replace(QLatin1Char('\r'), QLatin1Char('\n'));
    box.setText(shown);
    box.setIcon(icon == Icon::Critical      ? QMessageBox::Critical
                : icon == Icon::Information ? QMessageBox::Information
                                            : QMessageBox::NoIcon);
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
}

QString QtFileDialogs::openFileName(const QString& filter)
{
    return QFileDialog::getOpenFileName(m_parent, QString(), QString(), qtFileFilter(filter));
}

QString QtFileDialogs::saveFileName(const QString& filter)
{
    return QFileDialog::getSaveFileName(m_parent, QString(), QString(), qtFileFilter(filter));
}

QString QtFileDialogs::saveFileNameAt(const QString& filter, const QString& suggested)
{
    return QFileDialog::getSaveFileName(m_parent, QString(), suggested, qtFileFilter(filter));
}

QString QtFileDialogs::folderName(const QString& current)
{
    return QFileDialog::getExistingDirectory(m_parent, QString(), current.isEmpty() ? QStringLiteral(".") : current);
}

} // namespace tarvo
