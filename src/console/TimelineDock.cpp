#include "TimelineDock.h"

#include "ConsoleModel.h"
#include "ConsoleWindow.h"
#include "JournalCsv.h"
#include "JournalDock.h"
#include "SafeFile.h"
#include "Stack.h"
#include "WidgetSeams.h"

#include <QAction>
#include <QBuffer>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QHBoxLayout>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QStatusBar>
#include <QToolButton>
#include <QToolTip>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace tarvo {

namespace {

using V = JournalRecord::Verdict;

// Colours that keep their meaning on a light and on a dark window: mid tones, neither pale nor deep.
// Shape tells the same as the colour (see markHeight), so nobody depends on telling red from green.
const QColor kOkColour(0x2e, 0x9e, 0x4f);
const QColor kAmberColour(0xe0, 0x9a, 0x00);
const QColor kRedColour(0xe0, 0x3c, 0x3c);
const QColor kGreyColour(0x8c, 0x8c, 0x8c);
const QColor kTimeColour(0x3a, 0x7b, 0xd5);

enum class Kind { Good, Amber, Red, Stopped, Quiet };

Kind kindOf(int verdict)
{
    switch (static_cast<V>(verdict)) {
    case V::Ok:
        return Kind::Good;
    case V::BadCheck:
    case V::Exception:
    case V::Unknown: // bytes, but not a frame of the protocol
        return Kind::Amber;
    case V::NoAnswer:
    case V::Error:
        return Kind::Red;
    case V::Stopped:
        return Kind::Stopped;
    case V::NoReplyExpected:
        break;
    }
    return Kind::Quiet;
}

// The verdict strip's marks, from the strip's foot: the worse, the taller.
int markHeight(Kind k, int strip)
{
    switch (k) {
    case Kind::Good:
    case Kind::Quiet:
        return std::max(2, strip / 3);
    case Kind::Amber:
        return std::max(3, strip * 2 / 3);
    case Kind::Red:
    case Kind::Stopped:
        break;
    }
    return strip;
}

QString msText(double ms)
{
    if (std::isnan(ms))
        return QStringLiteral("-");
    return ms >= 100 ? QString::number(ms, 'f', 0) : QString::number(ms, 'f', 1);
}

QString spanName(qint64 ms)
{
    if (ms == 0)
        return QObject::tr("Session");
    if (ms < 3600'000)
        return QObject::tr("%1 min").arg(ms / 60'000);
    return QObject::tr("%1 h").arg(ms / 3600'000);
}

// A step for the time axis's labels: at least `minMs` apart.
qint64 tickStep(qint64 minMs)
{
    static const qint64 steps[] = {1000,      2000,      5000,      10'000,    15'000,     30'000,     60'000,
                                   120'000,   300'000,   600'000,   900'000,   1800'000,   3600'000,   7200'000,
                                   10800'000, 21600'000, 43200'000, 86400'000, 172800'000, 604800'000, 2592000'000};
    for (qint64 s : steps)
        if (s >= minMs)
            return s;
    return steps[std::size(steps) - 1];
}

const QString kPngFilter = QStringLiteral("PNG Images (*.png)|*.png| All Files |*.*");
const QString kCsvFilter = QStringLiteral("CSV Files (*.csv)|*.csv| All Files |*.*");

} // namespace

// --- the view -------------------------------------------------------------------------------------

TimelineView::TimelineView(const BusHistory& history, QWidget* parent) : QWidget(parent), m_history(history)
{
    setObjectName(QStringLiteral("TimelineView"));
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
    now = [] { return QDateTime::currentMSecsSinceEpoch(); };
    m_drawSoon.setSingleShot(true);
    connect(&m_drawSoon, &QTimer::timeout, this, &TimelineView::drawNewAttempts);
}

QSize TimelineView::minimumSizeHint() const
{
    return {kLabelWidth + 200, kAxisHeight + static_cast<int>(std::max<qsizetype>(1, m_lanes.size())) * kMinLaneHeight};
}

void TimelineView::setLanes(const QList<Lane>& lanes)
{
    m_lanes = lanes;
    updateGeometry();
    update();
}

void TimelineView::setMeasure(SeriesMeasure measure)
{
    m_measure = measure;
    update();
}

void TimelineView::setStyle(Style style)
{
    m_style = style;
    update();
}

void TimelineView::setSharedScale(bool shared)
{
    m_shared = shared;
    update();
}

void TimelineView::setSpan(qint64 spanMs)
{
    m_chosenSpanMs = spanMs;
    goLive();
}

qint64 TimelineView::spanMs() const
{
    if (m_spanMs > 0)
        return m_spanMs;
    // The session: from the first attempt to now, at least the shortest span.
    const qint64 first = m_history.firstMs();
    return std::max(kMinSpanMs, first == 0 ? kMinSpanMs : liveEnd() - first);
}

qint64 TimelineView::liveEnd() const
{
    // The right edge moves on in steps of a sixteenth of the span, not with every attempt: between
    // steps what is drawn stays where it is, and new attempts only add columns at the right, which
    // are all that is drawn again (a whole repaint at every batch of rows costs the console more
    // than polling does at the default delays).
    const qint64 latest = std::max(now(), m_history.lastMs());
    const qint64 first = m_history.firstMs();
    const qint64 span = m_spanMs > 0 ? m_spanMs : std::max(kMinSpanMs, first == 0 ? kMinSpanMs : latest - first);
    const qint64 step = std::max<qint64>(500, span / 16);
    return (latest + step - 1) / step * step;
}

void TimelineView::attemptsCame(qint64 earliestMs)
{
    if (!m_live || !isVisible())
        return;
    // Drawn at most every kDrawEveryMs while attempts keep coming, as the Journal dock shows its rows:
    // a view following a busy bus faster than that cannot be read anyway, and each repaint costs
    // about the same whatever it adds. A wide span draws less often still: a pixel column of the
    // last hour holds seconds of attempts, and drawing it again sooner shows next to nothing.
    m_dirtyFromMs = std::min(m_dirtyFromMs, earliestMs);
    const qint64 every = std::clamp<qint64>((toMs() - fromMs()) / 120, kDrawEveryMs, kDrawEveryMaxMs);
    if (!m_drawSoon.isActive())
        m_drawSoon.start(m_sinceDrawn.isValid() && m_sinceDrawn.elapsed() < every
                             ? static_cast<int>(every - m_sinceDrawn.elapsed())
                             : 0);
}

void TimelineView::drawNewAttempts()
{
    const qint64 earliestMs = std::exchange(m_dirtyFromMs, std::numeric_limits<qint64>::max());
    m_sinceDrawn.start();
    if (!m_live || !isVisible() || earliestMs == std::numeric_limits<qint64>::max())
        return;
    const QRect plot = plotRect();
    if (toMs() != m_paintedEnd || m_paintedTop.size() != static_cast<size_t>(m_lanes.size())) {
        update(); // the edge stepped on: the whole view moves
        return;
    }
    // From the column of the attempt before the new ones (its mark now reaches to them).
    const qint64 from = fromMs();
    const qint64 span = std::max<qint64>(1, toMs() - from);
    const int x = static_cast<int>(std::clamp<qint64>((earliestMs - from) * plot.width() / span, 0, plot.width()));
    const int left = std::max(0, x - 3);
    update(QRect(plot.left() + left, 0, plot.width() - left + 8, plot.height()));
}

void TimelineView::tick()
{
    if (m_live && isVisible() && toMs() != m_paintedEnd)
        update();
}

void TimelineView::goLive()
{
    m_spanMs = m_chosenSpanMs;
    m_live = true;
    update();
    emit viewChanged();
}

qint64 TimelineView::toMs() const
{
    return m_live ? liveEnd() : m_endMs;
}

qint64 TimelineView::fromMs() const
{
    return toMs() - spanMs();
}

void TimelineView::panBy(double widths)
{
    const qint64 span = spanMs();
    m_spanMs = span; // a session view that was moved is held at its length
    const qint64 end = toMs() + static_cast<qint64>(widths * static_cast<double>(span));
    // Back to live when the right edge reaches now again.
    if (end >= liveEnd()) {
        m_live = true;
    } else {
        m_live = false;
        m_endMs = std::max(end, m_history.firstMs() + kMinSpanMs / 2);
    }
    update();
    emit viewChanged();
}

void TimelineView::zoomBy(double factor, double anchorShare)
{
    const qint64 span = spanMs();
    const qint64 end = toMs();
    const qint64 anchor = end - static_cast<qint64>((1.0 - anchorShare) * static_cast<double>(span));
    const qint64 newSpan = std::clamp(static_cast<qint64>(static_cast<double>(span) * factor), kMinSpanMs, kMaxSpanMs);
    m_spanMs = newSpan;
    // The instant under the pointer stays under it; a live view keeps its right edge at now.
    if (!m_live || anchorShare < 0.999) {
        const qint64 newEnd = anchor + static_cast<qint64>((1.0 - anchorShare) * static_cast<double>(newSpan));
        if (newEnd >= liveEnd()) {
            m_live = true;
        } else {
            m_live = false;
            m_endMs = newEnd;
        }
    }
    update();
    emit viewChanged();
}

int TimelineView::laneHeight() const
{
    const int n = static_cast<int>(std::max<qsizetype>(1, m_lanes.size()));
    return std::max(kMinLaneHeight, (height() - kAxisHeight) / n);
}

QRect TimelineView::plotRect() const
{
    return {kLabelWidth, 0, std::max(1, width() - kLabelWidth - 8), height() - kAxisHeight};
}

QRect TimelineView::laneRect(int lane) const
{
    const int h = laneHeight();
    return {kLabelWidth, lane * h, plotRect().width(), h};
}

ReplySeries TimelineView::laneSeries(int lane) const
{
    return m_history.slot(m_lanes[lane].slot).thin(fromMs(), toMs(), plotRect().width(), m_measure);
}

double TimelineView::laneTopMs(int lane) const
{
    // Some room above the slowest time, as in the report's charts.
    const auto topOf = [this](int i) {
        const ReplySeries s = laneSeries(i);
        return std::isnan(s.maxMs()) ? 0.0 : s.maxMs();
    };
    double top = 0;
    if (m_shared) {
        for (int i = 0; i < m_lanes.size(); ++i)
            top = std::max(top, topOf(i));
    } else {
        top = topOf(lane);
    }
    return top <= 0 ? 1.0 : top * 1.15;
}

void TimelineView::paintEvent(QPaintEvent* event)
{
    QPainter p(this);
    const QPalette& pal = palette();
    const QRect plot = plotRect();
    // A repaint of the plot's right part only (see attemptsCame) keeps the scales and percentiles
    // of the last whole one, so that what is drawn anew meets what is not.
    const bool whole = event->rect().left() < plot.left() || m_paintedTop.size() != static_cast<size_t>(m_lanes.size());
    p.fillRect(event->rect(), pal.color(QPalette::Base));
    if (m_lanes.isEmpty()) {
        p.setPen(pal.color(QPalette::PlaceholderText));
        p.drawText(rect(), Qt::AlignCenter | Qt::TextWordWrap,
                   tr("No slot is selected: tick the slots to poll, and each gets a lane here."));
        m_paintedTop.clear();
        return;
    }
    // Each lane's series once; with one scale for all, its top is the greatest of them.
    QList<ReplySeries> series;
    series.reserve(m_lanes.size());
    double shared = 0;
    // A part repaint draws to the time scale on screen, even if the edge has stepped on meanwhile
    // (then the whole view is drawn again next); it needs the columns from its left edge on, and
    // those that reach into it.
    const qint64 to = whole ? toMs() : m_paintedEnd;
    const qint64 from = whole ? fromMs() : m_paintedFrom;
    const int first = whole ? 0 : event->rect().left() - plot.left();
    const int last = whole ? plot.width() : std::min(plot.width(), event->rect().right() + 1 - plot.left());
    const qint64 onlyFrom =
        whole ? 0 : from + (to - from) * std::max(0, first - std::max(kMaxReach, plot.width() / 8)) / plot.width();
    for (int i = 0; i < m_lanes.size(); ++i) {
        series << m_history.slot(m_lanes[i].slot).thin(from, to, plot.width(), m_measure, onlyFrom);
        if (!std::isnan(series.last().maxMs()))
            shared = std::max(shared, series.last().maxMs());
    }
    const auto n = static_cast<size_t>(m_lanes.size());
    bool rescale = !whole && (toMs() != m_paintedEnd || fromMs() != m_paintedFrom);
    if (whole) {
        m_paintedEnd = to;
        m_paintedFrom = from;
        m_paintedTop.assign(n, 1.0);
        m_paintedP95.assign(n, {});
    }
    for (size_t i = 0; i < n; ++i) {
        const int lane = static_cast<int>(i);
        double top = m_shared ? shared : (std::isnan(series[lane].maxMs()) ? 0.0 : series[lane].maxMs());
        top = top <= 0 ? 1.0 : top * 1.15;
        if (whole) {
            m_paintedTop[i] = top;
            m_paintedP95[i] = m_history.slot(m_lanes[lane].slot).p95(from, to, m_measure);
        } else if (top > m_paintedTop[i]) {
            rescale = true; // a time above the scale: drawn clipped now, the whole view again next
        }
        drawLane(p, lane, series[lane], m_paintedTop[i], m_paintedP95[i], first, last, whole);
    }
    if (whole)
        drawAxis(p);
    if (rescale)
        update();
}

void TimelineView::drawLane(QPainter& p, int lane, const ReplySeries& series, double topMs,
                            const AttemptHistory::Percentile& p95, int firstColumn, int lastColumn, bool labels)
{
    const QPalette& pal = palette();
    const QRect r = laneRect(lane);
    // Lanes take turns in shade, so that a row of 32 is followed by the eye.
    if (lane % 2 == 1)
        p.fillRect(QRect(0, r.top(), width(), r.height()), pal.color(QPalette::AlternateBase));
    p.setPen(QColor(pal.color(QPalette::Mid)));
    p.drawLine(0, r.bottom(), width(), r.bottom());
    // Its label: number, name, address; the p95 and the scale's top when there is room.
    if (labels)
        drawLabel(p, lane, p95, topMs);
    drawPlot(p, lane, series, topMs, p95, firstColumn, lastColumn);
}

void TimelineView::drawLabel(QPainter& p, int lane, const AttemptHistory::Percentile& p95, double topMs)
{
    const QPalette& pal = palette();
    const QRect r = laneRect(lane);
    const Lane& l = m_lanes[lane];
    QFont bold = font();
    bold.setBold(true);
    const QFontMetrics fm(font());
    const int lineH = fm.height();
    QString title = QStringLiteral("#%1").arg(l.slot);
    if (!l.name.isEmpty())
        title += QStringLiteral(" ") + l.name;
    p.setPen(pal.color(QPalette::Text));
    p.setFont(bold);
    const int textTop = r.height() >= 2 * lineH + 4 ? r.top() + 2 : r.top() + (r.height() - lineH) / 2;
    const bool roomy = r.height() >= 2 * lineH + 4;
    // A lane of one line has the address at its right end, in grey.
    const int addressWidth = roomy ? 0 : fm.horizontalAdvance(l.address) + 6;
    p.drawText(QRect(4, textTop, kLabelWidth - 8 - addressWidth, lineH), Qt::AlignLeft | Qt::AlignVCenter,
               QFontMetrics(bold).elidedText(title, Qt::ElideRight, kLabelWidth - 8 - addressWidth));
    p.setFont(font());
    if (!roomy) {
        p.setPen(pal.color(QPalette::PlaceholderText));
        p.drawText(QRect(4, textTop, kLabelWidth - 8, lineH), Qt::AlignRight | Qt::AlignVCenter, l.address);
    }
    QString second = tr("address %1").arg(l.address);
    if (!std::isnan(p95.ms))
        second += QStringLiteral(", p95 %1%2 ms").arg(p95.estimated ? QStringLiteral("≈") : QString(), msText(p95.ms));
    if (roomy) {
        p.setPen(pal.color(QPalette::PlaceholderText));
        p.drawText(QRect(4, textTop + lineH, kLabelWidth - 8, lineH), Qt::AlignLeft | Qt::AlignVCenter,
                   fm.elidedText(second, Qt::ElideRight, kLabelWidth - 8));
    }
    if (r.height() >= 3 * lineH + 4) {
        p.drawText(QRect(4, textTop + 2 * lineH, kLabelWidth - 8, lineH), Qt::AlignLeft | Qt::AlignVCenter,
                   tr("scale %1 ms").arg(msText(topMs)));
    }
}

void TimelineView::drawPlot(QPainter& p, int lane, const ReplySeries& series, double topMs,
                            const AttemptHistory::Percentile& p95, int firstColumn, int lastColumn)
{
    const QPalette& pal = palette();
    const QRect r = laneRect(lane);
    const int strip = std::min(kStripHeight, std::max(4, r.height() / 4));
    const int plotTop = r.top() + 3;
    const int plotBottom = r.bottom() - strip - 2; // the lowest row of the time plot
    const int plotHeight = std::max(1, plotBottom - plotTop);
    const auto yOf = [&](double ms) {
        return plotBottom - static_cast<int>(std::lround(std::min(ms, topMs) / topMs * plotHeight));
    };
    const QList<ReplySeries::Column>& cols = series.columns();
    const int w = static_cast<int>(cols.size());
    const int x0 = r.left();
    // Only the columns [firstColumn, lastColumn) are drawn, into an image as wide as they are.
    const int ox = std::clamp(firstColumn, 0, w);
    const int iw = std::max(0, std::min(lastColumn, w) - ox);
    if (iw == 0)
        return;
    // Where each column's verdict holds: up to the next column with an attempt, so that a run of
    // failures reads as one stretch and not as hairlines; a gap of more than an eighth of the width
    // (polling stopped) stays blank.
    const int maxReach = std::max(kMaxReach, w / 8);
    std::vector<int> reach(static_cast<size_t>(w), 1);
    // The newest attempt's mark reaches no further than now.
    const int nowColumn = series.columnOf(now());
    const int end = nowColumn < 0 ? w : nowColumn + 1;
    for (int x = w - 1, next = end; x >= 0; --x) {
        if (cols[x].worst < 0)
            continue;
        reach[static_cast<size_t>(x)] = std::clamp(next - x, 1, maxReach);
        next = x;
    }
    // What shades each pixel column behind the times: 0 nothing, 1 amber, 2 red.
    std::vector<quint8> shade(static_cast<size_t>(w), 0);
    for (int x = 0; x < w; ++x) {
        if (cols[x].worst < 0)
            continue;
        const Kind k = kindOf(cols[x].worst);
        if (k == Kind::Red || k == Kind::Amber)
            std::fill_n(shade.begin() + x, std::min(reach[static_cast<size_t>(x)], w - x), k == Kind::Red ? 2 : 1);
    }

    // The plot is written pixel by pixel into an image of the lane, then drawn in one go: a lane of a
    // busy bus has a mark in every pixel column, and thousands of small rectangles through the
    // painter cost more than the rest of the repaint together.
    const QColor background = lane % 2 == 1 ? pal.color(QPalette::AlternateBase) : pal.color(QPalette::Base);
    const auto blend = [](const QColor& under, const QColor& over, int alpha) {
        const auto mix = [alpha](int u, int o) { return (u * (255 - alpha) + o * alpha + 127) / 255; };
        return qRgb(mix(under.red(), over.red()), mix(under.green(), over.green()), mix(under.blue(), over.blue()));
    };
    QRgb fills[3][2]; // [shade][under the p95 band]
    const QColor shades[3] = {background, QColor(blend(background, kAmberColour, 45)),
                              QColor(blend(background, kRedColour, 60))};
    for (int k = 0; k < 3; ++k) {
        fills[k][0] = shades[k].rgb();
        fills[k][1] = blend(shades[k], kTimeColour, 30);
    }
    const int height = r.height() - 1; // the lane's bottom row is the line between lanes
    QImage image(iw, std::max(1, height), QImage::Format_RGB32);
    image.fill(background);
    const int top = plotTop - r.top();
    const int bottom = plotBottom - r.top();
    const int bandY = std::isnan(p95.ms) ? height : yOf(p95.ms) - r.top();
    uchar* const bits = image.bits();
    const qsizetype bytesPerLine = image.bytesPerLine();
    const auto row = [bits, bytesPerLine](int y) { return reinterpret_cast<QRgb*>(bits + y * bytesPerLine); };
    for (int y = std::max(0, top); y <= bottom && y < height; ++y) {
        QRgb* line = row(y);
        const int band = y >= bandY ? 1 : 0;
        for (int x = 0; x < iw; ++x)
            line[x] = fills[shade[static_cast<size_t>(ox + x)]][band];
        // The 95th percentile's level, dashed.
        if (y == bandY)
            for (int x = 0; x < iw; ++x)
                if ((ox + x) % 6 < 4)
                    line[x] = kTimeColour.rgb();
    }
    const QRgb timeColour = kTimeColour.rgb();
    const QRgb kindColours[] = {kOkColour.rgb(), kAmberColour.rgb(), kRedColour.rgb(), kGreyColour.rgb(),
                                kGreyColour.rgb()}; // Kind's order
    const auto put = [&](int x, int y, QRgb c) {
        if (x >= ox && x < ox + iw && y >= 0 && y < height)
            row(y)[x - ox] = c;
    };
    if (m_style == Style::Points) {
        // Each column from its least to its greatest time, three pixels wide and at least three high,
        // so that a lone reply or a steady one still shows.
        for (int x = std::max(0, ox - 2); x < ox + iw; ++x) {
            if (std::isnan(cols[x].minMs))
                continue;
            const int lo = yOf(cols[x].minMs) - r.top();
            const int hi = std::min(lo - 1, yOf(cols[x].maxMs) - r.top()) - 1;
            for (int y = std::max(hi, top - 1); y <= lo; ++y)
                for (int dx = 0; dx < 3; ++dx)
                    put(x + dx, y, timeColour);
        }
    }
    // The verdict strip.
    const int stripBottom = height - 1;
    for (int x = std::max(0, ox - maxReach); x < ox + iw; ++x) {
        if (cols[x].worst < 0)
            continue;
        const Kind k = kindOf(cols[x].worst);
        const int h = markHeight(k, strip);
        // Stop hangs from the strip's top: not a verdict on the controller, and not mistaken for one.
        const int markTop = k == Kind::Stopped ? stripBottom - strip + 1 : stripBottom - h + 1;
        const int markHeight = k == Kind::Stopped ? std::max(2, strip / 3) : h;
        // A pixel's gap before the next mark when there is room, so that attempts can be counted.
        const int reachX = reach[static_cast<size_t>(x)];
        const int markWidth = reachX > 3 ? reachX - 1 : reachX;
        const QRgb c = kindColours[static_cast<int>(k)];
        for (int y = markTop; y < markTop + markHeight; ++y)
            for (int dx = 0; dx < markWidth; ++dx)
                put(x + dx, y, c);
    }
    p.drawImage(x0 + ox, r.top(), image);

    if (m_style == Style::Line) {
        // Through each column's least and greatest time: one polyline, drawn by the painter.
        QPolygon path;
        path.reserve(2 * w);
        for (int x = 0; x < w; ++x) {
            if (std::isnan(cols[x].minMs))
                continue;
            path << QPoint(x0 + x, yOf(cols[x].minMs));
            if (cols[x].maxMs != cols[x].minMs)
                path << QPoint(x0 + x, yOf(cols[x].maxMs));
        }
        p.setPen(QPen(kTimeColour, 2));
        p.drawPolyline(path);
    }
}

void TimelineView::drawAxis(QPainter& p)
{
    const QPalette& pal = palette();
    const QRect plot = plotRect();
    const int y = height() - kAxisHeight;
    p.fillRect(QRect(0, y, width(), kAxisHeight), pal.color(QPalette::Window));
    p.setPen(pal.color(QPalette::Mid));
    p.drawLine(0, y, width(), y);
    const qint64 from = fromMs();
    const qint64 span = std::max<qint64>(1, toMs() - from);
    const QFontMetrics fm(font());
    const bool days = span > 20 * 3600'000;
    const QString format = days ? QStringLiteral("ddd HH:mm") : QStringLiteral("HH:mm:ss");
    const int labelW = fm.horizontalAdvance(QStringLiteral("Www 00:00:00")) + 16;
    const qint64 step = tickStep(span * labelW / std::max(1, plot.width()));
    // Ticks on round times of the local clock.
    const qint64 offset = QDateTime::fromMSecsSinceEpoch(from).offsetFromUtc() * 1000LL;
    qint64 t = ((from + offset) / step + 1) * step - offset;
    p.setPen(pal.color(QPalette::WindowText));
    for (; t <= from + span; t += step) {
        const int x = plot.left() + static_cast<int>((t - from) * plot.width() / span);
        p.drawLine(x, y, x, y + 4);
        // Kept inside the widget at its right edge.
        const int left = std::min(x - labelW / 2, width() - labelW);
        p.drawText(QRect(left, y + 3, labelW, kAxisHeight - 3),
                   x - labelW / 2 > left ? Qt::AlignRight | Qt::AlignTop : Qt::AlignHCenter | Qt::AlignTop,
                   QDateTime::fromMSecsSinceEpoch(t).toString(format));
    }
    // Left of the plot: live or held.
    p.drawText(QRect(4, y + 3, kLabelWidth - 8, kAxisHeight - 3), Qt::AlignLeft | Qt::AlignTop,
               m_live ? tr("live, %1").arg(spanName(m_spanMs == 0 ? 0 : spanMs())) : tr("held (Home: live)"));
}

std::optional<TimelineView::Hit> TimelineView::attemptAt(const QPoint& pos) const
{
    const QRect plot = plotRect();
    if (m_lanes.isEmpty() || !plot.contains(pos))
        return std::nullopt;
    const int lane = pos.y() / laneHeight();
    if (lane < 0 || lane >= m_lanes.size())
        return std::nullopt;
    const qint64 from = fromMs();
    const double msPerPixel = static_cast<double>(toMs() - from) / plot.width();
    const qint64 at = from + static_cast<qint64>((pos.x() - plot.left() + 0.5) * msPerPixel);
    const auto a = m_history.slot(m_lanes[lane].slot).nearest(at, static_cast<qint64>(3 * msPerPixel) + 1);
    if (!a)
        return std::nullopt;
    return Hit{m_lanes[lane].slot, *a};
}

QString TimelineView::tipFor(const QPoint& pos) const
{
    if (const auto hit = attemptAt(pos)) {
        const AttemptHistory::Attempt& a = hit->attempt;
        const int lane = pos.y() / laneHeight();
        const Lane& l = m_lanes[lane];
        QString tip = tr("#%1%2, address %3")
                          .arg(l.slot)
                          .arg(l.name.isEmpty() ? QString() : QStringLiteral(" ") + l.name, l.address);
        tip += QStringLiteral("\n") +
               tr("%1, try %2")
                   .arg(QDateTime::fromMSecsSinceEpoch(a.ms).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")))
                   .arg(a.attempt);
        const std::optional<JournalRecord> row = findRow ? findRow(hit->slot, a.ms, a.attempt) : std::nullopt;
        if (row) {
            tip += QStringLiteral("\n") + tr("sent: %1").arg(row->sent.isEmpty() ? tr("(nothing)") : row->sent);
            tip += QStringLiteral("\n") +
                   tr("received: %1").arg(row->received.isEmpty() ? tr("(nothing)") : row->received);
        }
        tip += QStringLiteral("\n") + tr("verdict: %1").arg(verdictName(a.verdict));
        if (!std::isnan(a.replyMs))
            tip += tr(", reply %1 ms").arg(millisecondsText(a.replyMs));
        if (!std::isnan(a.firstByteMs))
            tip += tr(", first byte %1 ms").arg(millisecondsText(a.firstByteMs));
        if (row && !row->detail.isEmpty())
            tip += QStringLiteral("\n") + row->detail;
        tip += QStringLiteral("\n") +
               (row ? tr("Click: its row in the Journal") : tr("(its row is no longer in the Journal view)"));
        return tip;
    }
    // Further back than the attempts held one by one: what the bucket under the pointer holds.
    const QRect plot = plotRect();
    if (m_lanes.isEmpty() || !plot.contains(pos))
        return {};
    const int lane = pos.y() / laneHeight();
    if (lane >= m_lanes.size())
        return {};
    const qint64 at = fromMs() + (pos.x() - plot.left()) * (toMs() - fromMs()) / plot.width();
    const auto b = m_history.slot(m_lanes[lane].slot).bucketAt(at);
    if (!b)
        return {};
    QString tip = tr("#%1, %2 to %3: %n attempt(s)", nullptr, static_cast<int>(b->attempts()))
                      .arg(m_lanes[lane].slot)
                      .arg(QDateTime::fromMSecsSinceEpoch(b->fromMs).toString(QStringLiteral("HH:mm:ss")),
                           QDateTime::fromMSecsSinceEpoch(b->toMs).toString(QStringLiteral("HH:mm:ss")));
    const QStringList names = verdictNames();
    for (int v = 0; v < names.size(); ++v)
        if (b->counts[static_cast<size_t>(v)] > 0)
            tip += QStringLiteral("\n%1: %2").arg(names[v]).arg(b->counts[static_cast<size_t>(v)]);
    tip += QStringLiteral("\n") +
           tr("%1 ms to %2 ms, p95 %3 ms")
               .arg(msText(b->minMs(m_measure)), msText(b->maxMs(m_measure)), msText(b->p95Ms(m_measure)));
    return tip;
}

bool TimelineView::event(QEvent* event)
{
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        const QString tip = tipFor(help->pos());
        if (tip.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(help->globalPos(), tip, this);
        return true;
    }
    return QWidget::event(event);
}

void TimelineView::wheelEvent(QWheelEvent* event)
{
    const double notches = event->angleDelta().y() / 120.0;
    if (notches == 0)
        return;
    const QRect plot = plotRect();
    const double share = std::clamp((event->position().x() - plot.left()) / plot.width(), 0.0, 1.0);
    // A live view zooms about its right edge, so that it stays live.
    zoomBy(std::pow(1.25, -notches), m_live ? 1.0 : share);
    event->accept();
}

void TimelineView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    m_pressAt = event->position().toPoint();
    m_lastDrag = *m_pressAt;
    m_dragged = false;
}

void TimelineView::mouseMoveEvent(QMouseEvent* event)
{
    if (!m_pressAt || !(event->buttons() & Qt::LeftButton))
        return;
    const QPoint pos = event->position().toPoint();
    if (!m_dragged && (pos - *m_pressAt).manhattanLength() < 4)
        return;
    m_dragged = true;
    setCursor(Qt::ClosedHandCursor);
    // Dragging right brings earlier times into view.
    panBy(-static_cast<double>(pos.x() - m_lastDrag.x()) / plotRect().width());
    m_lastDrag = pos;
}

void TimelineView::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !m_pressAt)
        return;
    unsetCursor();
    const bool click = !m_dragged;
    m_pressAt.reset();
    if (!click)
        return;
    if (const auto hit = attemptAt(event->position().toPoint()))
        emit attemptClicked(hit->slot, hit->attempt.ms, hit->attempt.attempt);
}

void TimelineView::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Home:
        goLive();
        return;
    case Qt::Key_Left:
        panBy(-0.1);
        return;
    case Qt::Key_Right:
        panBy(0.1);
        return;
    case Qt::Key_Plus:
    case Qt::Key_Equal:
        zoomBy(0.8);
        return;
    case Qt::Key_Minus:
        zoomBy(1.25);
        return;
    default:
        QWidget::keyPressEvent(event);
    }
}

// --- the dock -------------------------------------------------------------------------------------

const QList<qint64>& TimelineDock::spans()
{
    static const QList<qint64> all = {60'000, 600'000, 3600'000, 0};
    return all;
}

TimelineDock::TimelineDock(ConsoleModel& model, FileDialogs* dialogs, QWidget* parent)
    : QDockWidget(tr("Timeline"), parent), m_model(model), m_dialogs(dialogs)
{
    setObjectName(QStringLiteral("TimelineDock"));
    if (!m_dialogs) {
        m_ownDialogs = std::make_unique<QtFileDialogs>(this);
        m_dialogs = m_ownDialogs.get();
    }
    auto* content = new QWidget(this);
    auto* layout = new QVBoxLayout(content);
    layout->setContentsMargins(4, 2, 4, 4);
    layout->setSpacing(2);
    auto* bar = new QHBoxLayout;
    const auto choice = [&](const QString& label, const QString& name, const QStringList& items) {
        auto* l = new QLabel(label, content);
        auto* box = new QComboBox(content);
        box->setObjectName(name);
        box->addItems(items);
        l->setBuddy(box);
        bar->addWidget(l);
        bar->addWidget(box);
        bar->addSpacing(8);
        return box;
    };
    QStringList spanNames;
    for (qint64 s : spans())
        spanNames << spanName(s);
    m_span = choice(tr("&Show:"), QStringLiteral("TimelineSpan"), spanNames);
    m_measure = choice(tr("&Time:"), QStringLiteral("TimelineMeasure"), {tr("Reply time"), tr("First byte")});
    m_style = choice(tr("D&raw:"), QStringLiteral("TimelineStyle"), {tr("Points"), tr("Line")});
    m_scale = choice(tr("Sc&ale:"), QStringLiteral("TimelineScale"), {tr("Shared"), tr("Per lane")});
    m_live = new QToolButton(content);
    m_live->setObjectName(QStringLiteral("TimelineLive"));
    m_live->setText(tr("Live"));
    m_live->setToolTip(tr("Back to the newest attempts (Home)"));
    bar->addWidget(m_live);
    bar->addStretch(1);
    auto* exportButton = new QToolButton(content);
    exportButton->setObjectName(QStringLiteral("TimelineExport"));
    exportButton->setText(tr("&Export"));
    exportButton->setPopupMode(QToolButton::InstantPopup);
    auto* exportMenu = new QMenu(exportButton);
    exportMenu->addAction(tr("Picture (PNG)…"), this, &TimelineDock::exportPngAsked)
        ->setObjectName(QStringLiteral("actionTimelinePng"));
    exportMenu->addAction(tr("Series (CSV)…"), this, &TimelineDock::exportCsvAsked)
        ->setObjectName(QStringLiteral("actionTimelineCsv"));
    exportButton->setMenu(exportMenu);
    bar->addWidget(exportButton);
    layout->addLayout(bar);

    m_view = new TimelineView(m_history, content);
    m_view->setToolTip(QString()); // made per mark, when asked for
    layout->addWidget(m_view, 1);
    setWidget(content);

    // The settings' choices first, then whatever the operator picks is kept in them.
    showChoices();
    for (QComboBox* box : {m_span, m_measure, m_style, m_scale})
        connect(box, &QComboBox::currentIndexChanged, this, &TimelineDock::choicesChanged);
    connect(m_live, &QToolButton::clicked, m_view, &TimelineView::goLive);
    connect(m_view, &TimelineView::viewChanged, this, &TimelineDock::drawLiveState);
    drawLiveState();

    // A live view's right edge steps on with the clock, so that silence shows as it happens.
    connect(&m_tick, &QTimer::timeout, this, [this] { m_view->tick(); });
    m_tick.start(1000);

    connect(&m_model, &ConsoleModel::valueChanged, this, [this](FieldRef ref) {
        if (ref.field == Field::CheckAdr || ref.field == Field::Address)
            refreshLanes();
    });
    refreshLanes();
}

void TimelineDock::showChoices()
{
    const ConsoleModel::Ini::Timeline t = m_model.ini.timeline;
    const qsizetype spanIndex = spans().indexOf(static_cast<qint64>(t.spanSeconds) * 1000);
    for (QComboBox* box : {m_span, m_measure, m_style, m_scale})
        box->blockSignals(true);
    m_span->setCurrentIndex(spanIndex < 0 ? 1 : static_cast<int>(spanIndex));
    m_measure->setCurrentIndex(t.firstByte ? 1 : 0);
    m_style->setCurrentIndex(t.line ? 1 : 0);
    m_scale->setCurrentIndex(t.scalePerLane ? 1 : 0);
    for (QComboBox* box : {m_span, m_measure, m_style, m_scale})
        box->blockSignals(false);
    choicesChanged();
}

void TimelineDock::siteOpened()
{
    m_history.clear();
    showChoices();
    refreshLanes();
}

void TimelineDock::choicesChanged()
{
    ConsoleModel::Ini::Timeline& t = m_model.ini.timeline;
    const qint64 span = spans()[std::max(0, m_span->currentIndex())];
    t.spanSeconds = static_cast<int>(span / 1000);
    t.firstByte = m_measure->currentIndex() == 1;
    t.line = m_style->currentIndex() == 1;
    t.scalePerLane = m_scale->currentIndex() == 1;
    m_view->setMeasure(t.firstByte ? SeriesMeasure::FirstByte : SeriesMeasure::Reply);
    m_view->setStyle(t.line ? TimelineView::Style::Line : TimelineView::Style::Points);
    m_view->setSharedScale(!t.scalePerLane);
    m_view->setSpan(span);
}

void TimelineDock::drawLiveState()
{
    m_live->setEnabled(!m_view->live());
}

void TimelineDock::refreshLanes()
{
    QList<TimelineView::Lane> lanes;
    for (int i = 0; i < ConsoleModel::kSlots; ++i) {
        if (m_model.check(FieldRef(Field::CheckAdr, i)) != 1)
            continue;
        lanes.append({i + 1, m_model.ini.slotNames[static_cast<size_t>(i)], m_model.text(FieldRef(Field::Address, i))});
    }
    m_view->setLanes(lanes);
}

void TimelineDock::Feed::append(const QList<JournalRecord>& records)
{
    // The earliest of the new attempts, or of the last attempt before them in the same lane.
    qint64 earliest = std::numeric_limits<qint64>::max();
    for (const JournalRecord& r : records) {
        earliest = std::min(earliest, r.time.toMSecsSinceEpoch());
        if (r.slot >= 1 && r.slot <= BusHistory::kSlots && !dock.m_history.slot(r.slot).empty())
            earliest = std::min(earliest, dock.m_history.slot(r.slot).lastMs());
    }
    dock.m_history.append(records);
    if (!records.isEmpty())
        dock.m_view->attemptsCame(earliest);
}

void TimelineDock::showEvent(QShowEvent* event)
{
    QDockWidget::showEvent(event);
    refreshLanes(); // the slot names may have changed meanwhile
}

QImage TimelineDock::picture() const
{
    return m_view->grab().toImage();
}

QByteArray TimelineDock::seriesCsv() const
{
    const bool firstByte = m_view->measure() == SeriesMeasure::FirstByte;
    const QString time = firstByte ? QStringLiteral("first byte") : QStringLiteral("reply");
    QByteArray out = QStringLiteral("slot,name,address,from,to,attempts,%1,min %2 ms,max %2 ms,worst\r\n")
                         .arg(verdictNames().join(u','), time)
                         .toUtf8();
    const auto field = [](const QString& text) {
        // Quoted when it holds a separator, a quote or a line break, as the journal file does.
        if (!text.contains(u',') && !text.contains(u'"') && !text.contains(u'\n') && !text.contains(u'\r'))
            return text;
        QString q = text;
        q.replace(u'"', QStringLiteral("\"\""));
        return QStringLiteral("\"%1\"").arg(q);
    };
    const QList<TimelineView::Lane>& lanes = m_view->lanes();
    for (int i = 0; i < lanes.size(); ++i) {
        const ReplySeries s = m_view->laneSeries(i);
        for (int c = 0; c < s.columns().size(); ++c) {
            const ReplySeries::Column& col = s.columns()[c];
            if (col.worst < 0)
                continue;
            QStringList row{QString::number(lanes[i].slot),
                            field(lanes[i].name),
                            field(lanes[i].address),
                            isoTime(QDateTime::fromMSecsSinceEpoch(s.columnStartMs(c))),
                            isoTime(QDateTime::fromMSecsSinceEpoch(s.columnEndMs(c) - 1)),
                            QString::number(col.attempts())};
            for (int n : col.counts)
                row << QString::number(n);
            row << millisecondsText(col.minMs) << millisecondsText(col.maxMs)
                << verdictName(static_cast<JournalRecord::Verdict>(col.worst));
            out += row.join(u',').toUtf8() + "\r\n";
        }
    }
    return out;
}

bool TimelineDock::exportPng(const QString& path, QString* error) const
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!picture().save(&buffer, "PNG")) {
        if (error)
            *error = tr("the picture could not be made");
        return false;
    }
    return writeFileAtomically(path, bytes, error);
}

bool TimelineDock::exportCsv(const QString& path, QString* error) const
{
    return writeFileAtomically(path, seriesCsv(), error);
}

void TimelineDock::exportPngAsked()
{
    const QString path = m_dialogs->saveFileName(kPngFilter);
    if (path.isEmpty())
        return;
    QString error;
    if (exportPng(path, &error))
        emit exported(tr("The timeline's picture is in %1").arg(QDir::toNativeSeparators(path)));
    else
        emit problem(tr("The timeline's picture was not written: %1").arg(error));
}

void TimelineDock::exportCsvAsked()
{
    const QString path = m_dialogs->saveFileName(kCsvFilter);
    if (path.isEmpty())
        return;
    QString error;
    if (exportCsv(path, &error))
        emit exported(tr("The timeline's series are in %1").arg(QDir::toNativeSeparators(path)));
    else
        emit problem(tr("The timeline's series were not written: %1").arg(error));
}

TimelineDock* addTimelineDock(ConsoleWindow& window, FileDialogs* dialogs)
{
    auto* dock = new TimelineDock(window.model(), dialogs, &window);
    window.addDockWidget(Qt::BottomDockWidgetArea, dock);
    dock->hide();
    Journal& journal = window.stack().journal;
    journal.addSink(&dock->feed());
    QObject::connect(dock, &QObject::destroyed, [&journal, feed = &dock->feed()] { journal.removeSink(feed); });

    QAction* show = dock->toggleViewAction();
    show->setText(QObject::tr("&Timeline"));
    show->setObjectName(QStringLiteral("actionTimeline"));
    show->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_L));
    if (QMenu* view = window.viewMenu()) {
        // Beside the other views of the bus, before the journal file's entries.
        QAction* before = nullptr;
        for (QAction* a : view->actions())
            if (a->objectName() == QLatin1String("actionControllers"))
                before = a;
        const QList<QAction*> all = view->actions();
        const qsizetype at = all.indexOf(before);
        if (at >= 0 && at + 1 < all.size())
            view->insertAction(all[at + 1], show);
        else
            view->addAction(show);
    }

    QPointer<ConsoleWindow> w(&window);
    dock->view()->findRow = [w](int slot, qint64 ms, int attempt) -> std::optional<JournalRecord> {
        JournalDock* journalDock = w ? w->journalDock() : nullptr;
        if (!journalDock)
            return std::nullopt;
        journalDock->showWaitingRows();
        const int row = journalDock->table().findRow(slot, ms, attempt);
        if (row < 0)
            return std::nullopt;
        return journalDock->table().record(row);
    };
    QObject::connect(dock->view(), &TimelineView::attemptClicked, &window, [w](int slot, qint64 ms, int attempt) {
        JournalDock* journalDock = w ? w->journalDock() : nullptr;
        if (!journalDock)
            return;
        if (!journalDock->selectAttempt(slot, ms, attempt))
            w->statusBar()->showMessage(
                QObject::tr("That attempt is no longer in the Journal view (it keeps the last %1 rows)")
                    .arg(journalDock->table().capacity()),
                10000);
    });
    QObject::connect(&window, &ConsoleWindow::siteOpened, dock, &TimelineDock::siteOpened);
    QObject::connect(dock, &TimelineDock::problem, &window,
                     [w](const QString& text) { w->statusBar()->showMessage(text); });
    QObject::connect(dock, &TimelineDock::exported, &window,
                     [w](const QString& text) { w->statusBar()->showMessage(text, 10000); });
    return dock;
}

} // namespace tarvo
