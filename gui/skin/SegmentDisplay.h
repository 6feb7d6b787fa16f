// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QColor>
#include <QPointF>
#include <QPolygonF>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <vector>

namespace matrix::gui {

// A label that shows its text as lit and unlit segments, like an LED
// read-out: digits, blank and minus as seven-segment characters (or
// fourteen-segment ones with style bit 2), letters, "*" and "+" as
// fourteen-segment characters, "." and ":" as narrow point characters.
class SegmentDisplay : public QWidget {
    Q_OBJECT
public:
    enum class Kind { Seven, Fourteen, Point };
    struct Character {
        Kind kind;
        std::uint16_t pattern;
    };

    // Style bits.
    static constexpr int kFourteenSegmentDigits = 2;
    static constexpr int kKeepProportions = 4;

    // Character cells in units.
    static constexpr int kCellWidth = 49;
    static constexpr int kPointWidth = 18;
    static constexpr int kCellHeight = 83;

    explicit SegmentDisplay(QWidget* parent = nullptr);

    // Each setter repaints only when something changed.
    void setText(const QString& text);
    void setColors(const QColor& offColor, const QColor& onColor);
    void setBackgroundColor(const QColor& color);
    void setDisplayStyle(int style);

    const QString& text() const { return text_; }
    QColor offColor() const { return offColor_; }
    QColor onColor() const { return onColor_; }
    QColor backgroundColor() const { return backColor_; }
    int displayStyle() const { return style_; }

    // The character list the next paint draws (rebuilt from the text when needed).
    const std::vector<Character>& characters() const;
    // How many times the control has painted itself.
    int paintCount() const { return paintCount_; }

    // Tables and geometry, for the painter and for tests.
    static int segmentCount(Kind kind);
    static int cellWidth(Kind kind);
    static std::uint8_t sevenSegmentPattern(QChar c);      // 0xFF: not in the table
    static std::uint16_t fourteenSegmentPattern(QChar c);  // 0xFFFF: not in the table
    static const QPolygonF& segmentPolygon(Kind kind, int segment);
    // Centre of a segment of character `index` in widget pixels, with the
    // current size and style.
    QPointF segmentCentre(int index, int segment) const;

    QSize sizeHint() const override { return {60, 90}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    struct Layout {
        double scaleX;
        double scaleY;
        double left;
        double top;
    };
    Layout layout() const;
    void rebuild() const;
    void render(QPainter& painter) const;

    QString text_ = QStringLiteral("EMPTY");
    QColor offColor_{0, 52, 0};
    QColor onColor_{0, 255, 0};
    QColor backColor_{0, 0, 0};
    int style_ = kKeepProportions;
    mutable bool dirty_ = true;
    mutable std::vector<Character> characters_;
    int paintCount_ = 0;
};

}  // namespace matrix::gui
