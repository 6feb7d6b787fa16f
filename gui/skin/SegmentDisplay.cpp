// SPDX-License-Identifier: Apache-2.0
#include "gui/skin/SegmentDisplay.h"

#include <QImage>
#include <QPainter>
#include <QPen>

#include <algorithm>
#include <array>

namespace matrix::gui {

namespace {

// Outline of the character cells, in units of the 49 x 83 (or 18 x 83) cell.
constexpr double kHalf = 3.5;  // half the thickness of a bar
constexpr double kLeft = 9.5;  // centre lines of the outer bars
constexpr double kRight = 39.5;
constexpr double kCentre = 24.5;
constexpr double kTop = 7.5;
constexpr double kMiddle = 41.5;
constexpr double kBottom = 75.5;
constexpr double kGap = 1.0;  // between neighbouring bars

QPolygonF horizontalBar(double x0, double x1, double y)
{
    return QPolygonF({{x0, y},
                      {x0 + kHalf, y - kHalf},
                      {x1 - kHalf, y - kHalf},
                      {x1, y},
                      {x1 - kHalf, y + kHalf},
                      {x0 + kHalf, y + kHalf}});
}

QPolygonF verticalBar(double x, double y0, double y1)
{
    return QPolygonF({{x, y0},
                      {x + kHalf, y0 + kHalf},
                      {x + kHalf, y1 - kHalf},
                      {x, y1},
                      {x - kHalf, y1 - kHalf},
                      {x - kHalf, y0 + kHalf}});
}

// A slanted bar inside a box: "\" runs from top-left to bottom-right.
QPolygonF diagonalBar(double x0, double y0, double x1, double y1, bool backslash)
{
    constexpr double d = 3.0;
    constexpr double e = 5.0;
    if (backslash)
        return QPolygonF({{x0, y0}, {x0 + d, y0}, {x1, y1 - e}, {x1, y1}, {x1 - d, y1}, {x0, y0 + e}});
    return QPolygonF({{x1, y0}, {x1 - d, y0}, {x0, y1 - e}, {x0, y1}, {x0 + d, y1}, {x1, y0 + e}});
}

QPolygonF square(double x0, double y0, double side)
{
    return QPolygonF({{x0, y0}, {x0 + side, y0}, {x0 + side, y0 + side}, {x0, y0 + side}});
}

// The bars around the edge of a digit, shared by both layouts.
struct EdgeBars {
    QPolygonF top = horizontalBar(kLeft + kGap, kRight - kGap, kTop);
    QPolygonF upperLeft = verticalBar(kLeft, kTop + kGap, kMiddle - kGap);
    QPolygonF upperRight = verticalBar(kRight, kTop + kGap, kMiddle - kGap);
    QPolygonF lowerLeft = verticalBar(kLeft, kMiddle + kGap, kBottom - kGap);
    QPolygonF lowerRight = verticalBar(kRight, kMiddle + kGap, kBottom - kGap);
    QPolygonF bottom = horizontalBar(kLeft + kGap, kRight - kGap, kBottom);
};

// Bit 0 top, 1 upper left, 2 upper right, 3 middle, 4 lower left, 5 lower right, 6 bottom.
const std::array<QPolygonF, 7>& sevenSegments()
{
    static const EdgeBars e;
    static const std::array<QPolygonF, 7> segments = {
        e.top,       e.upperLeft,  e.upperRight, horizontalBar(kLeft + kGap, kRight - kGap, kMiddle),
        e.lowerLeft, e.lowerRight, e.bottom,
    };
    return segments;
}

// Bit 0 centre upper, 1 diagonal upper left, 2 diagonal upper right,
// 3 diagonal lower left, 4 diagonal lower right, 5 centre lower,
// 6 middle left, 7 middle right, 8 left upper, 9 left lower, 10 bottom,
// 11 right lower, 12 right upper, 13 top: the assignment the patterns
// of the table are written for.
const std::array<QPolygonF, 14>& fourteenSegments()
{
    constexpr double innerLeft = kLeft + kHalf + kGap;      // 14
    constexpr double innerRight = kRight - kHalf - kGap;    // 35
    constexpr double centreLeft = kCentre - kHalf - kGap;   // 20
    constexpr double centreRight = kCentre + kHalf + kGap;  // 29
    constexpr double upperTop = kTop + kHalf + kGap;        // 12
    constexpr double upperBottom = kMiddle - kHalf - kGap;  // 37
    constexpr double lowerTop = kMiddle + kHalf + kGap;     // 46
    constexpr double lowerBottom = kBottom - kHalf - kGap;  // 71
    static const EdgeBars e;
    static const std::array<QPolygonF, 14> segments = {
        verticalBar(kCentre, kTop + kHalf + kGap, kMiddle - kGap),
        diagonalBar(innerLeft, upperTop, centreLeft, upperBottom, true),
        diagonalBar(centreRight, upperTop, innerRight, upperBottom, false),
        diagonalBar(innerLeft, lowerTop, centreLeft, lowerBottom, false),
        diagonalBar(centreRight, lowerTop, innerRight, lowerBottom, true),
        verticalBar(kCentre, kMiddle + kGap, kBottom - kHalf - kGap),
        horizontalBar(kLeft + kGap, kCentre - kGap, kMiddle),
        horizontalBar(kCentre + kGap, kRight - kGap, kMiddle),
        e.upperLeft,
        e.lowerLeft,
        e.bottom,
        e.lowerRight,
        e.upperRight,
        e.top,
    };
    return segments;
}

// Bits 0 and 1: the dots of a colon; bit 2: the decimal point.
const std::array<QPolygonF, 3>& pointSegments()
{
    static const std::array<QPolygonF, 3> segments = {
        square(5.5, 24, 7),
        square(5.5, 52, 7),
        square(5.5, 69, 7),
    };
    return segments;
}

QColor blendPen(const QColor& colour, const QColor& back)
{
    auto mix = [](int c, int b) { return (c * 3 + b) / 4; };
    return QColor(mix(colour.red(), back.red()), mix(colour.green(), back.green()), mix(colour.blue(), back.blue()));
}

}  // namespace

SegmentDisplay::SegmentDisplay(QWidget* parent) : QWidget(parent)
{
    // We paint every pixel ourselves from an off-screen image.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void SegmentDisplay::setText(const QString& text)
{
    if (text == text_)
        return;
    text_ = text;
    dirty_ = true;
    update();
}

void SegmentDisplay::setColors(const QColor& offColor, const QColor& onColor)
{
    if (offColor == offColor_ && onColor == onColor_)
        return;
    offColor_ = offColor;
    onColor_ = onColor;
    update();
}

void SegmentDisplay::setBackgroundColor(const QColor& color)
{
    if (color == backColor_)
        return;
    backColor_ = color;
    update();
}

void SegmentDisplay::setDisplayStyle(int style)
{
    if (style == style_)
        return;
    style_ = style;
    dirty_ = true;
    update();
}

int SegmentDisplay::segmentCount(Kind kind)
{
    switch (kind) {
    case Kind::Seven: return 7;
    case Kind::Fourteen: return 14;
    case Kind::Point: return 3;
    }
    return 0;
}

int SegmentDisplay::cellWidth(Kind kind) { return kind == Kind::Point ? kPointWidth : kCellWidth; }

std::uint8_t SegmentDisplay::sevenSegmentPattern(QChar c)
{
    static constexpr std::uint8_t kDigits[10] = {0x77, 0x24, 0x5D, 0x6D, 0x2E, 0x6B, 0x7B, 0x25, 0x7F, 0x6F};
    const char16_t u = c.unicode();
    if (u >= '0' && u <= '9')
        return kDigits[u - '0'];
    if (u == ' ')
        return 0x00;
    if (u == '-')
        return 0x08;
    return 0xFF;
}

std::uint16_t SegmentDisplay::fourteenSegmentPattern(QChar c)
{
    static constexpr std::uint16_t kDigits[10] = {0x3F00, 0x1800, 0x36C0, 0x3CC0, 0x19C0,
                                                  0x2DC0, 0x2FC0, 0x3800, 0x3FC0, 0x3DC0};
    static constexpr std::uint16_t kLetters[26] = {
        0x3BC0, 0x3CA1, 0x2700, 0x3C21, 0x27C0, 0x23C0, 0x2F80, 0x1BC0, 0x2421, 0x1E00, 0x0354, 0x0700, 0x1B06,
        0x1B12, 0x3F00, 0x33C0, 0x3F10, 0x33D0, 0x2DC0, 0x2021, 0x1F00, 0x030C, 0x1B18, 0x001E, 0x11E0, 0x240C};
    const char16_t u = c.unicode();
    if (u >= '0' && u <= '9')
        return kDigits[u - '0'];
    if (u >= 'A' && u <= 'Z')
        return kLetters[u - 'A'];
    switch (u) {
    case ' ': return 0x0000;
    case '-': return 0x00C0;
    case '*': return 0x00FF;
    case '+': return 0x00E1;
    default: return 0xFFFF;
    }
}

const QPolygonF& SegmentDisplay::segmentPolygon(Kind kind, int segment)
{
    switch (kind) {
    case Kind::Seven: return sevenSegments().at(static_cast<std::size_t>(segment));
    case Kind::Fourteen: return fourteenSegments().at(static_cast<std::size_t>(segment));
    case Kind::Point: break;
    }
    return pointSegments().at(static_cast<std::size_t>(segment));
}

void SegmentDisplay::rebuild() const
{
    characters_.clear();
    const QString upper = text_.toUpper();
    for (QChar c : upper) {
        const char16_t u = c.unicode();
        const bool digitLike = (u >= '0' && u <= '9') || u == ' ' || u == '-';
        if (digitLike && !(style_ & kFourteenSegmentDigits))
            characters_.push_back({Kind::Seven, sevenSegmentPattern(c)});
        else if (digitLike || (u >= 'A' && u <= 'Z') || u == '*' || u == '+')
            characters_.push_back({Kind::Fourteen, fourteenSegmentPattern(c)});
        else if (u == '.')
            characters_.push_back({Kind::Point, 0x04});
        else if (u == ':')
            characters_.push_back({Kind::Point, 0x03});
        // Anything else takes no room.
    }
    dirty_ = false;
}

const std::vector<SegmentDisplay::Character>& SegmentDisplay::characters() const
{
    if (dirty_)
        rebuild();
    return characters_;
}

SegmentDisplay::Layout SegmentDisplay::layout() const
{
    int totalUnits = 0;
    for (const Character& c : characters())
        totalUnits += cellWidth(c.kind);
    const double w = width();
    const double h = height();
    if (totalUnits == 0)
        return {1, 1, 0, 0};
    if (style_ & kKeepProportions) {
        const double s = std::min(w / totalUnits, h / kCellHeight);
        return {s, s, (w - totalUnits * s) / 2, (h - kCellHeight * s) / 2};
    }
    return {w / totalUnits, h / kCellHeight, 0, 0};
}

QPointF SegmentDisplay::segmentCentre(int index, int segment) const
{
    const auto& chars = characters();
    if (index < 0 || index >= static_cast<int>(chars.size()))
        return {};
    int offsetUnits = 0;
    for (int i = 0; i < index; ++i)
        offsetUnits += cellWidth(chars[static_cast<std::size_t>(i)].kind);
    const QPolygonF& polygon = segmentPolygon(chars[static_cast<std::size_t>(index)].kind, segment);
    QPointF sum;
    for (const QPointF& p : polygon)
        sum += p;
    const QPointF centre = sum / polygon.size();
    const Layout l = layout();
    return {l.left + (offsetUnits + centre.x()) * l.scaleX, l.top + centre.y() * l.scaleY};
}

void SegmentDisplay::render(QPainter& painter) const
{
    painter.fillRect(rect(), backColor_);
    const auto& chars = characters();
    if (chars.empty())
        return;
    painter.setRenderHint(QPainter::Antialiasing, true);

    QPen offPen(blendPen(offColor_, backColor_), 1);
    QPen onPen(blendPen(onColor_, backColor_), 1);
    offPen.setCosmetic(true);
    onPen.setCosmetic(true);
    const QBrush offBrush(offColor_);
    const QBrush onBrush(onColor_);

    const Layout l = layout();
    int offsetUnits = 0;
    for (const Character& c : chars) {
        QTransform transform;
        transform.translate(l.left + offsetUnits * l.scaleX, l.top);
        transform.scale(l.scaleX, l.scaleY);
        painter.setTransform(transform);
        const int segments = segmentCount(c.kind);
        for (int s = 0; s < segments; ++s) {
            const bool lit = (c.pattern >> s) & 1;
            painter.setPen(lit ? onPen : offPen);
            painter.setBrush(lit ? onBrush : offBrush);
            painter.drawPolygon(segmentPolygon(c.kind, s));
        }
        offsetUnits += cellWidth(c.kind);
    }
    painter.resetTransform();
}

void SegmentDisplay::paintEvent(QPaintEvent*)
{
    ++paintCount_;
    // Drawn off-screen first and copied in one go, so that the read-out
    // never flickers through its background.
    const qreal ratio = devicePixelRatioF();
    QImage buffer(size() * ratio, QImage::Format_RGB32);
    buffer.setDevicePixelRatio(ratio);
    {
        QPainter offscreen(&buffer);
        render(offscreen);
    }
    QPainter painter(this);
    painter.drawImage(0, 0, buffer);
}

}  // namespace matrix::gui
