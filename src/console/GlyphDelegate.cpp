#include "GlyphDelegate.h"

#include <QGlyphRun>
#include <QHeaderView>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyleOptionSlider>
#include <QTableView>

namespace tarvo {

namespace {

constexpr char16_t kFirst = 32; // the printable ASCII characters
constexpr char16_t kLast = 126;
constexpr qreal kMargin = 4;

qsizetype pictureCost(const QPixmap& picture)
{
    return static_cast<qsizetype>(picture.width()) * picture.height() * picture.depth() / 8;
}

// Fills what no cell covers (below the last row, right of the last column) with the view's base:
// the rest of a busy table's viewport is covered by its cells, each drawn on its own background,
// so the viewport is not filled whole before each redraw.
class BareFiller final : public QObject {
public:
    explicit BareFiller(QTableView* view) : QObject(view), m_view(view) {}

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() != QEvent::Paint)
            return false;
        QWidget* viewport = m_view->viewport();
        const QHeaderView* columns = m_view->horizontalHeader();
        const QHeaderView* rows = m_view->verticalHeader();
        QRect covered(0, 0, columns->length() - columns->offset(), rows->length() - rows->offset());
        if (m_view->isRightToLeft())
            covered.moveRight(viewport->width() - 1);
        const QRegion bare = static_cast<QPaintEvent*>(event)->region() - covered;
        if (!bare.isEmpty()) {
            QPainter p(viewport);
            const QBrush base = viewport->palette().brush(viewport->backgroundRole());
            for (const QRect& r : bare)
                p.fillRect(r, base);
        }
        return false; // the view draws its cells next
    }

private:
    QTableView* m_view;
};

// A scroll bar that keeps a picture of itself. A table following the bus moves its scroll bar with
// every batch of rows, and once the rows outnumber what the view shows the bar looks the same
// after each move (the handle at its smallest, at the bottom). Drawing it anew is dear: the
// style's gradients along the whole groove are filled by worker threads, woken for each redraw.
// While the pointer is on the bar (hover, press, drag) it is drawn as usual.
class PictureScrollBar final : public QScrollBar {
public:
    using QScrollBar::QScrollBar;

protected:
    void paintEvent(QPaintEvent* event) override
    {
        if (drawnAsUsual()) {
            QScrollBar::paintEvent(event);
            return;
        }
        QStyleOptionSlider option;
        const Look look = lookNow(option);
        if (m_picture.isNull() || look != m_look) {
            m_picture = QPixmap(size() * look.ratio);
            m_picture.setDevicePixelRatio(look.ratio);
            m_picture.fill(Qt::transparent);
            QPainter p(&m_picture);
            style()->drawComplexControl(QStyle::CC_ScrollBar, &option, &p, this);
            m_look = look;
        }
        QPainter(this).drawPixmap(0, 0, m_picture);
    }

    // A new range or value that leaves the bar looking as its picture shows (the handle at its
    // smallest, at the bottom, batch after batch) has nothing to draw again.
    void sliderChange(SliderChange change) override
    {
        QStyleOptionSlider option;
        if (!m_picture.isNull() && !drawnAsUsual() && lookNow(option) == m_look)
            return;
        QScrollBar::sliderChange(change);
    }

private:
    // What the picture shows, as far as it changes.
    struct Look {
        QSize size;
        QRect handle;
        int state = 0;
        qint64 palette = 0;
        qreal ratio = 1;
        const QStyle* style = nullptr;
        friend bool operator==(const Look&, const Look&) = default;
    };

    bool drawnAsUsual() const { return underMouse() || isSliderDown() || mouseGrabber() == this; }

    Look lookNow(QStyleOptionSlider& option) const
    {
        initStyleOption(&option);
        option.subControls = QStyle::SC_All;
        return {size(),
                style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, this),
                static_cast<int>(option.state),
                palette().cacheKey(),
                devicePixelRatioF(),
                style()};
    }

    Look m_look;
    QPixmap m_picture;
};

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
    Cell cell;
    cell.glyphs = &g;
    cell.text = text;
    cell.rect = option.rect;
    cell.alignRight = Qt::Alignment(index.data(Qt::TextAlignmentRole).toInt()) & Qt::AlignRight;
    const bool selected = option.state & QStyle::State_Selected;
    const QPalette::ColorGroup group = !(option.state & QStyle::State_Enabled) ? QPalette::Disabled
                                       : option.state & QStyle::State_Active   ? QPalette::Normal
                                                                               : QPalette::Inactive;
    // Every cell is drawn on its background, the view's own base when it has none: a busy table's
    // viewport is not filled before its cells are drawn (see setUpBusyTable).
    const QBrush base = option.palette.brush(group, QPalette::Base);
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u < kFirst || u > kLast || g.index[u] == 0 || !g.raw.isValid()) {
            painter->fillRect(option.rect, base);
            QStyledItemDelegate::paint(painter, option, index); // not plain ASCII, or no such glyph
            return;
        }
    }

    if (selected) {
        cell.background = option.palette.brush(group, QPalette::Highlight);
    } else {
        const QVariant background = index.data(Qt::BackgroundRole);
        cell.background = background.isValid() ? background.value<QBrush>() : base;
    }
    cell.pen = option.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text);

    // A cell already drawn with the same look is copied from its picture. A new one is drawn into a
    // picture on trial, kept for good when it comes back: texts that never come back (the times) go
    // through the trial pictures without pushing out those that do.
    const qreal ratio = painter->device() ? painter->device()->devicePixelRatio() : 1.0;
    const QColor under = cell.background.color();
    const bool keepable = cell.background.style() == Qt::SolidPattern && under.alpha() == 255 &&
                          painter->worldTransform().type() <= QTransform::TxTranslate;
    if (!keepable || m_fleeting.contains(index.column())) {
        drawCell(painter, cell, cell.rect.topLeft());
        return;
    }
    const PictureKey key{text,
                         static_cast<int>(&g - m_fonts.constData()),
                         cell.pen.rgba(),
                         under.rgba(),
                         cell.rect.size(),
                         cell.alignRight,
                         ratio};
    if (const QPixmap* kept = m_pictures.object(key)) {
        painter->drawPixmap(cell.rect.topLeft(), *kept);
        return;
    }
    if (QPixmap* tried = m_trial.take(key)) {
        // Seen before: it comes back, so it is kept for good (until the least used make room).
        painter->drawPixmap(cell.rect.topLeft(), *tried);
        m_pictures.insert(key, tried, pictureCost(*tried));
        return;
    }
    auto* drawn = new QPixmap(cell.rect.size() * ratio);
    drawn->setDevicePixelRatio(ratio);
    {
        QPainter p(drawn);
        drawCell(&p, cell, QPoint(0, 0));
    }
    painter->drawPixmap(cell.rect.topLeft(), *drawn);
    m_trial.insert(key, drawn, pictureCost(*drawn));
}

void GlyphDelegate::drawCell(QPainter* painter, const Cell& cell, QPoint at)
{
    const Glyphs& g = *cell.glyphs;
    const QRect rect(at, cell.rect.size());
    if (cell.background.style() != Qt::NoBrush)
        painter->fillRect(rect, cell.background);
    if (cell.text.isEmpty())
        return;
    QList<quint32> glyphs;
    QList<QPointF> positions;
    glyphs.reserve(cell.text.size());
    positions.reserve(cell.text.size());
    qreal width = 0;
    for (const QChar c : cell.text) {
        const char16_t u = c.unicode();
        glyphs.append(g.index[u]);
        positions.append(QPointF(width, 0));
        width += g.advance[u];
    }
    const QRectF inner = QRectF(rect).adjusted(kMargin, 0, -kMargin, 0);
    const qreal x = cell.alignRight ? inner.right() - width : inner.left();
    const qreal baseline = inner.top() + (inner.height() - g.raw.ascent() - g.raw.descent()) / 2 + g.raw.ascent();
    QGlyphRun run;
    run.setRawFont(g.raw);
    run.setGlyphIndexes(glyphs);
    run.setPositions(positions);
    const bool cut = width > inner.width();
    if (cut) {
        painter->save();
        painter->setClipRect(inner, Qt::IntersectClip);
    }
    painter->setPen(cell.pen);
    painter->drawGlyphRun(QPointF(x, baseline), run);
    if (cut)
        painter->restore();
}

GlyphDelegate* setUpBusyTable(QTableView* view)
{
    auto* delegate = new GlyphDelegate(view);
    view->setItemDelegate(delegate);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setWordWrap(false);
    view->setShowGrid(false);
    view->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view->setVerticalScrollBar(new PictureScrollBar(Qt::Vertical, view));
    view->viewport()->setAutoFillBackground(false);
    view->viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    view->viewport()->installEventFilter(new BareFiller(view));
    // Opaque, so that redrawing the scroll bar (at every batch of rows) does not redraw what lies
    // beneath it: the dock's frame and title bar, and the window.
    view->verticalScrollBar()->setAutoFillBackground(true);
    QHeaderView* rows = view->verticalHeader();
    rows->hide();
    rows->setSectionResizeMode(QHeaderView::Fixed);
    rows->setDefaultSectionSize(view->fontMetrics().height() + 4);
    return delegate;
}

} // namespace tarvo
