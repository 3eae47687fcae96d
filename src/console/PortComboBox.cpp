#include "PortComboBox.h"

#include "ConsoleModel.h"

#include <QHeaderView>
#include <QLineEdit>
#include <QScreen>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStandardItemModel>
#include <QTreeView>
#include <algorithm>

namespace tarvo {

namespace {

constexpr int kWatchMs = 2000;

// Everything known of a port, one fact a line, for tooltips.
QString describe(const PortDetails& p)
{
    QStringList lines;
    if (!p.device.isEmpty() && p.device != p.name)
        lines << PortComboBox::tr("Opens %1").arg(p.device);
    if (!p.byId.isEmpty() && p.byId != p.name)
        lines << p.byId;
    const QString adapter = QStringList{p.manufacturer, p.description}.join(QLatin1Char(' ')).simplified();
    if (!adapter.isEmpty())
        lines << adapter;
    if (!p.serialNumber.isEmpty())
        lines << PortComboBox::tr("Serial number %1").arg(p.serialNumber);
    if (!p.vendorProduct.isEmpty())
        lines << PortComboBox::tr("USB %1").arg(p.vendorProduct);
    return lines.join(QLatin1Char('\n'));
}

} // namespace

PortComboBox::PortComboBox(ConsoleModel& model, QWidget* parent) : QComboBox(parent), m_model(model)
{
    m_items = new QStandardItemModel(0, 6, this);
    m_items->setHorizontalHeaderLabels(
        {tr("Port"), tr("Device"), tr("USB ID"), tr("Maker"), tr("Description"), tr("Serial number")});
    m_view = new QTreeView(this);
    m_view->setRootIsDecorated(false);
    m_view->setItemsExpandable(false);
    m_view->setUniformRowHeights(true);
    m_view->setAllColumnsShowFocus(true);
    m_view->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_view->header()->setStretchLastSection(false);
    setModel(m_items);
    setView(m_view);
    setModelColumn(0);

    m_ownSource = std::make_unique<SystemPortSource>();
    m_source = m_ownSource.get();
    // Drawn before the window compares the list with its own, so that the window finds it drawn.
    connect(&m_model, &ConsoleModel::stateChanged, this, [this](FieldRef ref) {
        if (ref.field == Field::ComPort)
            redraw();
    });
    connect(this, &QComboBox::editTextChanged, this,
            [this](const QString& text) { setToolTip(describe(details(text))); });
    m_watch.setInterval(kWatchMs);
    connect(&m_watch, &QTimer::timeout, this, [this] {
        if (isVisible())
            refresh(false);
    });
    m_watch.start();
}

PortComboBox::~PortComboBox() = default;

void PortComboBox::setPortSource(PortSource* source)
{
    m_source = source ? source : m_ownSource.get();
    refresh(true);
}

PortDetails PortComboBox::details(const QString& name) const
{
    PortDetails d = m_details.value(name);
    d.name = name;
    return d;
}

bool PortComboBox::refresh(bool force)
{
    const QString stamp = m_source->stamp();
    if (!force && m_looked && stamp == m_stamp)
        return false;
    m_stamp = stamp;
    m_looked = true;
    m_details.clear();
    QStringList names;
    for (const PortDetails& p : portChoices(*m_source)) {
        m_details.insert(p.name, p);
        names << p.name;
    }
    if (names != m_model.listItems(Field::ComPort))
        m_model.setListItems(Field::ComPort, names); // redrawn on the model's signal
    else
        redraw();
    return true;
}

void PortComboBox::redraw()
{
    const QStringList names = m_model.listItems(Field::ComPort);
    QLineEdit* edit = lineEdit();
    const QString text = currentText();
    const int cursor = edit ? edit->cursorPosition() : 0;
    const int selectionStart = edit ? edit->selectionStart() : -1;
    const int selectionLength = edit ? static_cast<int>(edit->selectedText().size()) : 0;
    // Rows come and go under the current item: the combo box would put another text in the edit and
    // tell the world. Nobody is told, and the text goes back as it was.
    const QSignalBlocker blockBox(this);
    const QSignalBlocker blockEdit(edit);
    m_items->setRowCount(static_cast<int>(names.size()));
    for (int row = 0; row < names.size(); ++row) {
        const PortDetails d = details(names[row]);
        const QStringList cells{d.name, d.device, d.vendorProduct, d.manufacturer, d.description, d.serialNumber};
        const QString tip = describe(d);
        for (int column = 0; column < cells.size(); ++column) {
            auto* item = new QStandardItem(cells[column]);
            item->setEditable(false);
            item->setToolTip(tip);
            m_items->setItem(row, column, item);
        }
    }
    if (currentText() != text)
        setEditText(text);
    if (edit) {
        if (selectionStart >= 0)
            edit->setSelection(selectionStart, selectionLength);
        else
            edit->setCursorPosition(cursor);
    }
    setToolTip(describe(details(text)));
}

void PortComboBox::showEvent(QShowEvent* event)
{
    QComboBox::showEvent(event);
    if (!m_looked)
        refresh(false);
}

void PortComboBox::showPopup()
{
    refresh(true);
    // Wide enough for every column, within the screen.
    m_view->header()->resizeSections(QHeaderView::ResizeToContents);
    int width = 2 * m_view->frameWidth() + m_view->verticalScrollBar()->sizeHint().width();
    for (int column = 0; column < m_items->columnCount(); ++column)
        width += m_view->header()->sectionSize(column);
    if (const QScreen* s = screen())
        width = std::min(width, s->availableGeometry().width() * 9 / 10);
    m_view->setMinimumWidth(std::max(width, this->width()));
    QComboBox::showPopup();
}

} // namespace tarvo
