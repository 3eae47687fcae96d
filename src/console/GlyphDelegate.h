#pragma once

#include <QBrush>
#include <QCache>
#include <QFont>
#include <QList>
#include <QPixmap>
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
    // The texts of this column hardly ever come back (times to the millisecond): they are drawn each
    // time, without keeping pictures of them.
    void setFleetingColumn(int column) { m_fleeting.append(column); }

private:
    struct Glyphs {
        QFont font;
        QRawFont raw;
        std::array<quint32, 128> index{};
        std::array<qreal, 128> advance{};
    };
    const Glyphs& glyphsFor(const QFont& font) const;

    // A cell as drawn: its text in one of the fonts, where, and in which colours.
    struct Cell {
        const Glyphs* glyphs = nullptr;
        QString text;
        QRect rect;
        bool alignRight = false;
        QBrush background; // none: the view's own beneath
        QColor pen;
    };
    static void drawCell(QPainter* painter, const Cell& cell, QPoint at);

    // What a cell's picture depends on.
    struct PictureKey {
        QString text;
        int font = 0; // in m_fonts
        QRgb pen = 0;
        QRgb background = 0;
        QSize size;
        bool alignRight = false;
        qreal ratio = 1;
        friend bool operator==(const PictureKey&, const PictureKey&) = default;
        friend size_t qHash(const PictureKey& k, size_t seed = 0)
        {
            return qHashMulti(seed, k.text, k.font, k.pen, k.background, k.size.width(), k.size.height(), k.alignRight,
                              k.ratio);
        }
    };
    static constexpr qsizetype kPictureBytes = 3 * 1024 * 1024; // a 32-slot journal needs about half
    static constexpr qsizetype kTrialBytes = 2 * 1024 * 1024;   // a round of 32 slots fits

    QList<int> m_fleeting;
    mutable QList<Glyphs> m_fonts; // the few fonts a table uses
    // Pictures of the cells drawn more than once. Most of a journal's cells come back row after row
    // (the slot, the function, the request, an unchanging reply, the verdict): copying a picture costs
    // a small part of blending the glyphs of its text onto the cell again.
    mutable QCache<PictureKey, QPixmap> m_pictures{kPictureBytes};
    mutable QCache<PictureKey, QPixmap> m_trial{kTrialBytes}; // the cells drawn once so far
};

// A table that is redrawn while the bus is polled, set up to cost little each time: cells drawn by a
// GlyphDelegate, whole rows selected, one line per row at a fixed height (a hundred thousand rows are
// laid out without measuring any), no grid, no row numbers, and no horizontal scroll bar (it would be
// redrawn with every batch of rows): columns are narrowed by hand, cut texts show whole in their
// tooltips.
// Returns the view's delegate.
GlyphDelegate* setUpBusyTable(QTableView* view);

} // namespace tarvo
