#include "GlyphDelegate.h"

#include <QGlyphRun>
#include <QHeaderView>
#include <QPainter>
#include <QScrollBar>
#include <QTableView>

namespace tarvo {

namespace {

constexpr char16_t kFirst = 32; // the printable ASCII characters
constexpr char16_t kLast = 126;
constexpr qreal kMargin = 4;

} // namespace

const GlyphDelegate::Glyphs& GlyphDelegate::glyphsFor(const QFont& font) const
{
    for (const Glyphs& g : std::as_const(m_fonts)) {
        if (g.font == font)
            return g;
    }
    Glyphs g;
    g.font = font;
    g.raw = QRawFont::fromFont(font);
    QString ascii;
    for (char16_t c = kFirst; c <= kLast; ++c)
        ascii += QChar(c);
    const QList<quint32> indexes = g.raw.glyphIndexesForString(ascii);
    const QList<QPointF> advances = g.raw.advancesForGlyphIndexes(indexes);
    for (qsizetype i = 0; i < indexes.size() && i < advances.size(); ++i) {
        g.index[static_cast<size_t>(kFirst + i)] = indexes[i];
        g.advance[static_cast<size_t>(kFirst + i)] = advances[i].x();
    }
    m_fonts.append(g);
    return m_fonts.last();
}

void GlyphDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    const QString text = index.data(Qt::DisplayRole).toString();
    const QVariant fontRole = index.data(Qt::FontRole);
    const Glyphs& g = glyphsFor(fontRole.isValid() ? fontRole.value<QFont>() : option.font);
    QList<quint32> glyphs;
    QList<QPointF> positions;
    glyphs.reserve(text.size());
    positions.reserve(text.size());
    qreal width = 0;
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        const quint32 glyph = u >= kFirst && u <= kLast ? g.index[u] : 0;
        if (glyph == 0 || !g.raw.isValid()) {
            QStyledItemDelegate::paint(painter, option, index); // not plain ASCII, or no such glyph
            return;
        }
        glyphs.append(glyph);
        positions.append(QPointF(width, 0));
        width += g.advance[u];
    }

    const bool selected = option.state & QStyle::State_Selected;
    const QPalette::ColorGroup group = !(option.state & QStyle::State_Enabled) ? QPalette::Disabled
                                       : option.state & QStyle::State_Active   ? QPalette::Normal
                                                                               : QPalette::Inactive;
    if (selected) {
        painter->fillRect(option.rect, option.palette.brush(group, QPalette::Highlight));
    } else {
        const QVariant background = index.data(Qt::BackgroundRole);
        if (background.isValid())
            painter->fillRect(option.rect, background.value<QBrush>());
    }
    if (glyphs.isEmpty())
        return;

    const QRectF cell = QRectF(option.rect).adjusted(kMargin, 0, -kMargin, 0);
    const auto align = Qt::Alignment(index.data(Qt::TextAlignmentRole).toInt());
    const qreal x = align & Qt::AlignRight ? cell.right() - width : cell.left();
    const qreal baseline = cell.top() + (cell.height() - g.raw.ascent() - g.raw.descent()) / 2 + g.raw.ascent();
    QGlyphRun run;
    run.setRawFont(g.raw);
    run.setGlyphIndexes(glyphs);
    run.setPositions(positions);
    const bool cut = width > cell.width();
    if (cut) {
        painter->save();
        painter->setClipRect(cell, Qt::IntersectClip);
    }
    painter->setPen(option.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text));
    painter->drawGlyphRun(QPointF(x, baseline), run);
    if (cut)
        painter->restore();
}

void setUpBusyTable(QTableView* view)
{
    view->setItemDelegate(new GlyphDelegate(view));
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setWordWrap(false);
    view->setShowGrid(false);
    view->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // Opaque, so that redrawing the scroll bar (at every batch of rows) does not redraw what lies
    // beneath it: the dock's frame and title bar, and the window.
    view->verticalScrollBar()->setAutoFillBackground(true);
    QHeaderView* rows = view->verticalHeader();
    rows->hide();
    rows->setSectionResizeMode(QHeaderView::Fixed);
    rows->setDefaultSectionSize(view->fontMetrics().height() + 4);
}

} // namespace tarvo
