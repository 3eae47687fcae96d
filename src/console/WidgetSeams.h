#pragma once

#include "FileDialogs.h"
#include "Prompter.h"

#include <QPointer>
#include <QWidget>

namespace tarvo {

// Message boxes with an OK button, over the given window (or none).
class MessageBoxPrompter final : public Prompter {
public:
    explicit MessageBoxPrompter(QWidget* parent = nullptr) : m_parent(parent) {}
    void message(const QString& title, const QString& text, Icon icon) override;

private:
    QPointer<QWidget> m_parent;
};

// The system's Open and Save boxes. Open accepts existing files only; Save asks before replacing one.
// Folders are chosen among existing ones.
class QtFileDialogs final : public FileDialogs {
public:
    explicit QtFileDialogs(QWidget* parent = nullptr) : m_parent(parent) {}
    QString openFileName(const QString& filter) override;
    QString saveFileName(const QString& filter) override;
    QString saveFileNameAt(const QString& filter, const QString& suggested) override;
    QString folderName(const QString& current) override;

private:
    QPointer<QWidget> m_parent;
};

} // namespace tarvo
