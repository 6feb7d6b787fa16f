// SPDX-License-Identifier: Apache-2.0
#include "gui/skin/ImageButton.h"

#include <QApplication>
#include <QEnterEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPalette>
#include <QPixmap>
#include <QStyleOptionFocusRect>

#include <algorithm>

namespace matrix::gui {

namespace {

constexpr int kIconMarginPx = 3;
constexpr int kFocusInsetPx = 3;

// The Windows system colours the frame drawing names, taken from the palette.
QColor buttonFace(const QWidget* w) { return w->palette().color(QPalette::Button); }
QColor buttonText(const QWidget* w) { return w->palette().color(QPalette::ButtonText); }
QColor buttonHighlight(const QWidget* w) { return w->palette().color(QPalette::Light); }
QColor light3d(const QWidget* w) { return w->palette().color(QPalette::Midlight); }
QColor darkShadow3d(const QWidget* w) { return w->palette().color(QPalette::Shadow); }
QColor buttonShadow(const QWidget* w) { return w->palette().color(QPalette::Dark); }

// A one-pixel line along the inside of the rectangle's edges.
void frameRect(QPainter& p, const QRect& r, const QColor& c)
{
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    p.drawRect(QRect(r.left(), r.top(), r.width(), 1));
    p.drawRect(QRect(r.left(), r.bottom(), r.width(), 1));
    p.drawRect(QRect(r.left(), r.top(), 1, r.height()));
    p.drawRect(QRect(r.right(), r.top(), 1, r.height()));
}

void draw3dRect(QPainter& p, const QRect& r, const QColor& topLeft, const QColor& bottomRight)
{
    p.setPen(Qt::NoPen);
    p.setBrush(topLeft);
    p.drawRect(QRect(r.left(), r.top(), r.width() - 1, 1));
    p.drawRect(QRect(r.left(), r.top(), 1, r.height() - 1));
    p.setBrush(bottomRight);
    p.drawRect(QRect(r.left(), r.bottom(), r.width(), 1));
    p.drawRect(QRect(r.right(), r.top(), 1, r.height()));
}

}  // namespace

ImageButton::ImageButton(QWidget* parent) : QAbstractButton(parent) { init(); }

ImageButton::ImageButton(const QString& caption, QWidget* parent) : QAbstractButton(parent)
{
    init();
    setText(caption);
}

void ImageButton::init()
{
    setMouseTracking(true);
    setAttribute(Qt::WA_Hover, true);
    setFocusPolicy(Qt::StrongFocus);
    setDefaultColors(false);
}

void ImageButton::setIcons(const QIcon& iconIn, const QSize& sizeIn, const QIcon& iconOut, const QSize& sizeOut)
{
    iconIn_ = iconIn;
    iconInSize_ = sizeIn;
    iconOut_ = iconOut;
    iconOutSize_ = sizeOut.isValid() ? sizeOut : sizeIn;
    update();
}

void ImageButton::setIconAlign(IconAlign align, bool repaint)
{
    iconAlign_ = align;
    if (repaint)
        update();
}

int ImageButton::setColor(int slot, const QColor& color, bool repaint)
{
    if (slot < 0 || slot >= kColorSlotCount)
        return kBadArgument;
    colors_[static_cast<std::size_t>(slot)] = color;
    if (repaint)
        update();
    return kOk;
}

int ImageButton::offsetColor(int slot, int offset, bool repaint)
{
    if (slot < 0 || slot >= kColorSlotCount || offset < -255 || offset > 255)
        return kBadArgument;
    QColor& c = colors_[static_cast<std::size_t>(slot)];
    const int r = c.red(), g = c.green(), b = c.blue();
    int applied = offset;
    if (offset > 0)
        applied = std::min(offset, 255 - std::max({r, g, b}));
    else if (offset < 0)
        applied = std::max(offset, -std::min({r, g, b}));
    c = QColor(r + applied, g + applied, b + applied);
    if (repaint)
        update();
    return kOk;
}

void ImageButton::setDefaultColors(bool repaint)
{
    const QColor face = buttonFace(this);
    const QColor text = buttonText(this);
    colors_ = {face, text, face, text, face, text};
    if (repaint)
        update();
}

QColor ImageButton::color(int slot) const
{
    if (slot < 0 || slot >= kColorSlotCount)
        return {};
    return colors_[static_cast<std::size_t>(slot)];
}

void ImageButton::setFlat(bool flat, bool repaint)
{
    flat_ = flat;
    if (!flat_)
        pointerOver_ = false;
    if (repaint)
        update();
}

void ImageButton::setDrawBorder(bool enable, bool repaint)
{
    drawBorder_ = enable;
    if (repaint)
        update();
}

void ImageButton::setDrawFlatFocus(bool enable, bool repaint)
{
    drawFlatFocus_ = enable;
    if (repaint)
        update();
}

void ImageButton::setCheckBoxMode(bool enable)
{
    checkBoxMode_ = enable;
    setCheckable(enable);
    update();
}

void ImageButton::setCheck(bool checked)
{
    if (!checkBoxMode_)
        return;
    setChecked(checked);
    update();
}

void ImageButton::setTransparent(bool transparent, bool repaint)
{
    transparent_ = transparent;
    if (repaint)
        update();
}

void ImageButton::setTooltipText(const QString& text, bool activate)
{
    // The tooltip covers the whole button; deactivating it keeps the text away.
    setToolTip(activate ? text : QString());
}

int ImageButton::setCursorImage(const QString& path, bool repaint)
{
    const QPixmap image(path);
    if (image.isNull())
        return kNoCursor;
    setCursor(QCursor(image));
    if (repaint)
        update();
    return kOk;
}

QSize ImageButton::sizeHint() const
{
    const QFontMetrics fm(font());
    const QSize textSize = text().isEmpty() ? QSize(0, 0) : fm.size(0, text());
    const QSize iconSize = iconInSize_.isValid() ? iconInSize_ : QSize(0, 0);
    int w = textSize.width() + 16;
    int h = std::max(textSize.height() + 10, 23);
    if (!iconSize.isEmpty()) {
        if (text().isEmpty()) {
            w = iconSize.width() + 2 * kIconMarginPx;
            h = iconSize.height() + 2 * kIconMarginPx;
        } else if (iconAlign_ == IconAlign::Vertical) {
            w = std::max(w, iconSize.width() + 2 * kIconMarginPx);
            h += iconSize.height() + kIconMarginPx;
        } else {
            w += iconSize.width() + kIconMarginPx;
            h = std::max(h, iconSize.height() + 2 * kIconMarginPx);
        }
    }
    return {w, h};
}

ImageButton::DrawState ImageButton::currentState() const
{
    DrawState s;
    s.pressed = checkBoxMode_ ? isChecked() : isDown();
    s.focused = hasFocus();
    s.disabled = !isEnabled();
    s.pointerOver = pointerOver_;
    return s;
}

void ImageButton::drawBackground(QPainter& painter, const QRect& rect, const DrawState& state)
{
    if (transparent_)
        return;  // the parent's pixels show through
    QColor fill = colors_[BackgroundOut];
    if (state.pointerOver || state.pressed)
        fill = colors_[BackgroundIn];
    else if (state.focused)
        fill = colors_[BackgroundFocus];
    painter.fillRect(rect, fill);
}

void ImageButton::drawBorder(QPainter& painter, const QRect& rect, const DrawState& state)
{
    if (state.pressed)
        draw3dRect(painter, rect, buttonShadow(this), buttonHighlight(this));
    else
        draw3dRect(painter, rect, buttonHighlight(this), buttonShadow(this));
}

void ImageButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const DrawState state = currentState();
    QRect rect = this->rect();

    if (!flat_ && (state.focused || defaultButton_)) {
        frameRect(painter, rect, Qt::black);
        rect.adjust(1, 1, -1, -1);
    }

    drawBackground(painter, rect, state);

    if (!state.pressed) {
        if (!flat_) {
            // Classic raised frame: two lines light on top-left, two dark on bottom-right.
            draw3dRect(painter, rect, buttonHighlight(this), darkShadow3d(this));
            draw3dRect(painter, rect.adjusted(1, 1, -1, -1), light3d(this), buttonShadow(this));
        } else if (state.pointerOver && drawBorder_) {
            drawBorder(painter, rect, state);
        }
    } else {
        if (!flat_)
            frameRect(painter, rect, buttonShadow(this));
        else if (drawBorder_)
            drawBorder(painter, rect, state);
    }

    QRect captionRect = rect;
    drawIcon(painter, rect, state, captionRect);
    if (!text().isEmpty())
        drawCaption(painter, captionRect, state);

    if (state.focused && (!flat_ || drawFlatFocus_)) {
        QStyleOptionFocusRect option;
        option.initFrom(this);
        option.rect = rect.adjusted(kFocusInsetPx, kFocusInsetPx, -kFocusInsetPx, -kFocusInsetPx);
        painter.setPen(QPen(buttonText(this), 1, Qt::DotLine));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(option.rect.adjusted(0, 0, -1, -1));
    }
}

void ImageButton::drawIcon(QPainter& painter, const QRect& rect, const DrawState& state, QRect& captionRect)
{
    const bool showIn = checkBoxMode_ ? isChecked() : (state.pressed || state.pointerOver);
    const QIcon* icon = &iconIn_;
    QSize size = iconInSize_;
    if (!showIn && !iconOut_.isNull()) {
        icon = &iconOut_;
        size = iconOutSize_;
    }
    if (icon->isNull() || !size.isValid())
        return;

    QPoint topLeft;
    if (text().isEmpty()) {
        topLeft =
            QPoint(rect.left() + (rect.width() - size.width()) / 2, rect.top() + (rect.height() - size.height()) / 2);
    } else {
        switch (iconAlign_) {
        case IconAlign::Horizontal:
            topLeft = QPoint(rect.left() + kIconMarginPx, rect.top() + (rect.height() - size.height()) / 2);
            captionRect.setLeft(topLeft.x() + size.width());
            break;
        case IconAlign::Vertical:
            topLeft = QPoint(rect.left() + (rect.width() - size.width()) / 2, rect.top() + kIconMarginPx);
            captionRect.setTop(topLeft.y() + size.height());
            break;
        case IconAlign::HorizontalRight:
            topLeft = QPoint(rect.right() - kIconMarginPx - size.width() + 1,
                             rect.top() + (rect.height() - size.height()) / 2);
            captionRect.setRight(topLeft.x() - 1);
            break;
        }
    }
    if (state.pressed && !checkBoxMode_)
        topLeft += QPoint(1, 1);
    const QIcon::Mode mode = state.disabled ? QIcon::Disabled : QIcon::Normal;
    icon->paint(&painter, QRect(topLeft, size), Qt::AlignCenter, mode);
}

void ImageButton::drawCaption(QPainter& painter, const QRect& captionRect, const DrawState& state)
{
    QRect r = captionRect;
    if (state.pressed && !checkBoxMode_)
        r.translate(1, 1);
    const int flags = Qt::AlignCenter | Qt::TextWordWrap;
    painter.setFont(font());
    if (state.disabled) {
        painter.setPen(buttonHighlight(this));
        painter.drawText(r.translated(1, 1), flags, text());
        painter.setPen(buttonShadow(this));
        painter.drawText(r, flags, text());
        return;
    }
    painter.setPen((state.pressed || state.pointerOver) ? colors_[ForegroundIn] : colors_[ForegroundOut]);
    painter.drawText(r, flags, text());
}

void ImageButton::setPointerOver(bool over)
{
    if (pointerOver_ == over)
        return;
    pointerOver_ = over;
    update();
}

void ImageButton::enterEvent(QEnterEvent* event)
{
    QAbstractButton::enterEvent(event);
    if (flat_ && isActiveWindow() && (!(QApplication::mouseButtons() & Qt::LeftButton) || pointerOver_))
        setPointerOver(true);
}

void ImageButton::leaveEvent(QEvent* event)
{
    QAbstractButton::leaveEvent(event);
    setPointerOver(false);
}

void ImageButton::mouseMoveEvent(QMouseEvent* event)
{
    QAbstractButton::mouseMoveEvent(event);
    if (!flat_)
        return;
    const bool leftDown = event->buttons() & Qt::LeftButton;
    const bool inside = rect().contains(event->position().toPoint());
    // The hover look belongs to the window the user is working in: over an
    // inactive window the button stays as it is.
    setPointerOver(inside && isActiveWindow() && (!leftDown || pointerOver_));
}

void ImageButton::focusOutEvent(QFocusEvent* event)
{
    QAbstractButton::focusOutEvent(event);
    setPointerOver(false);
}

void ImageButton::changeEvent(QEvent* event)
{
    QAbstractButton::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && !isActiveWindow())
        setPointerOver(false);
    if (event->type() == QEvent::EnabledChange && !isEnabled()) {
        setPointerOver(false);
        // A disabled button hands the focus on, as the dialog manager would.
        if (hasFocus() && parentWidget()) {
            QWidget* next = nextInFocusChain();
            while (next && next != this &&
                   !(next->isEnabled() && next->isVisible() && (next->focusPolicy() & Qt::TabFocus)))
                next = next->nextInFocusChain();
            if (next && next != this)
                next->setFocus(Qt::TabFocusReason);
            else
                parentWidget()->setFocus();
        }
    }
}

void ImageButton::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && focusPolicy() != Qt::NoFocus)
        setFocus(Qt::MouseFocusReason);
    QAbstractButton::mousePressEvent(event);
}

}  // namespace matrix::gui
