#pragma once

#include <QFont>
#include <QList>
#include <QRawFont>
#include <QStyledItemDelegate>
#include <array>

class QTableView;

namespace tarvo {

// Draws the cells of a busy table without laying their text out each time. Laying out text (shaping,
// eliding) is most of what drawing a table costs, and a journal that follows the bus redraws its
// rows several times a second. Plain ASCII text, which is nearly all a journal holds, is drawn from
// glyphs looked up once per font, with the cell's background, alignment and the row's selection;
// a text too wide for its cell is cut at the cell's edge (its tooltip shows it whole). Any other
// text is drawn the usual way.
class GlyphDelegate final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    struct Glyphs {
        QFont font;
        QRawFont raw;
        std::array<quint32, 128> index{};
        std::array<qreal, 128> advance{};
    };
    const Glyphs& glyphsFor(const QFont& font) const;

    mutable QList<Glyphs> m_fonts; // the few fonts a table uses
};

// A table that is redrawn while the bus is polled, set up to cost little each time: cells drawn by a
// GlyphDelegate, whole rows selected, one line per row at a fixed height (a hundred thousand rows are
// laid out without measuring any), no grid, no row numbers, and no horizontal scroll bar (it would be
// redrawn with every batch of rows): columns are narrowed by hand, cut texts show whole in their
// tooltips.
void setUpBusyTable(QTableView* view);

} // namespace tarvo
