#pragma once

#include "Ports.h"

#include <QComboBox>
#include <QHash>
#include <QTimer>
#include <memory>

class QStandardItemModel;
class QTreeView;

namespace tarvo {

class ConsoleModel;

// The ComPort drop-down. The field is its text, typed or chosen; the list offers the console's
// choices (COM1 to COM5, then every port the machine has, by its stable by-id name where there is
// one) in a popup with columns for what is known of each: device, USB ids, maker, description,
// serial number.
//
// The list is looked at again when it opens, and while the drop-down is on screen whenever a port
// comes or goes (a cheap look at the device names every two seconds; the full look only when they
// changed). Refilling it never touches what the operator typed.
class PortComboBox : public QComboBox {
    Q_OBJECT
public:
    PortComboBox(ConsoleModel& model, QWidget* parent = nullptr);
    ~PortComboBox() override;

    // Where the ports come from; nullptr: the machine's own. Looks at once.
    void setPortSource(PortSource* source);
    // Looks at the ports: the full look when `force` or when the source's stamp moved, and the
    // console's list follows. True when a full look was taken.
    bool refresh(bool force);
    // What is known of a choice; nothing but its name for one the last look did not see.
    PortDetails details(const QString& name) const;
    // Draws the console's list with the details of the last look, keeping the typed text.
    void redraw();
    QTimer& watchTimer() { return m_watch; }

    void showPopup() override;

protected:
    // The machine's ports are looked for the first time the list is shown, not while the console
    // starts: asking the system for them takes longer than drawing the whole window.
    void showEvent(QShowEvent* event) override;

private:
    ConsoleModel& m_model;
    std::unique_ptr<PortSource> m_ownSource;
    PortSource* m_source = nullptr;
    QString m_stamp;
    bool m_looked = false;
    QHash<QString, PortDetails> m_details;
    QStandardItemModel* m_items = nullptr;
    QTreeView* m_view = nullptr;
    QTimer m_watch;
};

} // namespace tarvo
