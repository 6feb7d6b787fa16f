// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QAbstractButton>
#include <QColor>
#include <QIcon>
#include <QSize>

#include <array>

namespace matrix::gui {

// The program's owner-drawn push button: a background colour that follows
// the button's state, an optional icon, the caption, and either a classic 3D
// frame or, in flat style, a frame only while the pointer is over it.
// drawBackground() and drawBorder() are the hooks a specialised button
// (the gradient button) replaces.
class ImageButton : public QAbstractButton {
    Q_OBJECT
public:
    // Colour slots.
    enum ColorSlot {
        BackgroundIn = 0,  // pressed or pointer over
        ForegroundIn = 1,
        BackgroundOut = 2,  // otherwise
        ForegroundOut = 3,
        BackgroundFocus = 4,
        ForegroundFocus = 5,
    };
    static constexpr int kColorSlotCount = 6;
    // Returned by the colour setters when a slot or an offset is out of range.
    static constexpr int kBadArgument = 3;
    static constexpr int kOk = 0;
    // Returned by setCursorImage when there is no such image.
    static constexpr int kNoCursor = 1;

    enum class IconAlign { Horizontal, Vertical, HorizontalRight };

    explicit ImageButton(QWidget* parent = nullptr);
    explicit ImageButton(const QString& caption, QWidget* parent = nullptr);

    // Icons: iconIn shows while pressed or under the pointer (and whenever
    // there is no iconOut); iconOut otherwise.
    void setIcons(const QIcon& iconIn, const QSize& sizeIn, const QIcon& iconOut = {}, const QSize& sizeOut = {});
    void setIconAlign(IconAlign align, bool repaint = true);

    int setColor(int slot, const QColor& color, bool repaint = true);
    // Brightens (positive) or darkens (negative) all three channels, reduced
    // so that no channel leaves 0..255.
    int offsetColor(int slot, int offset, bool repaint = true);
    void setDefaultColors(bool repaint = true);
    QColor color(int slot) const;

    void setFlat(bool flat, bool repaint = true);
    bool isFlat() const { return flat_; }
    void setDrawBorder(bool enable, bool repaint = true);
    void setDrawFlatFocus(bool enable, bool repaint = true);
    void setDefaultButton(bool isDefault)
    {
        defaultButton_ = isDefault;
        update();
    }
    // A click toggles the check state, and the button shows it as pressed.
    void setCheckBoxMode(bool enable);
    bool checkBoxMode() const { return checkBoxMode_; }
    void setCheck(bool checked);
    bool check() const { return isChecked(); }
    // Paints the parent's background instead of a colour.
    void setTransparent(bool transparent, bool repaint = true);

    void setTooltipText(const QString& text, bool activate = true);
    // Cursor shown over the button; a missing image keeps the system cursor.
    int setCursorImage(const QString& path, bool repaint = true);

    bool pointerOver() const { return pointerOver_; }

    QSize sizeHint() const override;

protected:
    struct DrawState {
        bool pressed = false;
        bool focused = false;
        bool disabled = false;
        bool pointerOver = false;
    };

    // Replaceable steps of the drawing.
    virtual void drawBackground(QPainter& painter, const QRect& rect, const DrawState& state);
    virtual void drawBorder(QPainter& painter, const QRect& rect, const DrawState& state);

    DrawState currentState() const;

    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void changeEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    void init();
    void setPointerOver(bool over);
    void drawIcon(QPainter& painter, const QRect& rect, const DrawState& state, QRect& captionRect);
    void drawCaption(QPainter& painter, const QRect& captionRect, const DrawState& state);

    bool flat_ = true;
    bool drawBorder_ = true;
    bool drawFlatFocus_ = false;
    bool defaultButton_ = false;
    bool checkBoxMode_ = false;
    bool transparent_ = false;
    bool pointerOver_ = false;
    IconAlign iconAlign_ = IconAlign::Horizontal;
    std::array<QColor, kColorSlotCount> colors_;
    QIcon iconIn_;
    QIcon iconOut_;
    QSize iconInSize_;
    QSize iconOutSize_;
};

}  // namespace matrix::gui
