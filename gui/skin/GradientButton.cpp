// SPDX-License-Identifier: Apache-2.0
#include "gui/skin/GradientButton.h"

#include <QPainter>
#include <QPalette>
#include <QResizeEvent>

#include <algorithm>
#include <cstdlib>

namespace matrix::gui {

namespace {

constexpr int kPaletteSize = 256;
constexpr int kFaceIndex = 128;

int randomBelow(int limit) { return limit <= 0 ? 0 : std::rand() % limit; }

QImage indexedImage(const QSize& size, const QVector<QRgb>& palette)
{
    QImage image(size, QImage::Format_Indexed8);
    image.setColorTable(palette);
    image.fill(0);
    return image;
}

}  // namespace

GradientButton::GradientButton(QWidget* parent) : ImageButton(parent) {}

GradientButton::GradientButton(const QString& caption, QWidget* parent) : ImageButton(caption, parent) {}

GradientButton* GradientButton::commandButton(const QString& caption, const char* objectName, QWidget* parent)
{
    auto* button = new GradientButton(caption, parent);
    button->setObjectName(objectName);
    button->setShade(kEffectScratches, kCommandGranularity, kCommandHighlightPercent, 0, QColor(0, 0, 0));
    return button;
}

QVector<QRgb> GradientButton::buildPalette(const QColor& shadow, const QColor& face, const QColor& highlight)
{
    QVector<QRgb> palette(kPaletteSize);
    auto down = [](int s, int f, int i) { return s + (f - s) * i / kFaceIndex; };
    for (int i = 0; i <= kFaceIndex; ++i)
        palette[i] = qRgb(down(shadow.red(), face.red(), i), down(shadow.green(), face.green(), i),
                          down(shadow.blue(), face.blue(), i));
    // Entry 128 stays exactly the face colour; 129..255 run to the highlight.
    auto up = [](int f, int h, int k) { return (f * (128 - k) + h * k) / 128; };
    for (int k = 2; k <= 128; ++k)
        palette[127 + k] = qRgb(up(face.red(), highlight.red(), k), up(face.green(), highlight.green(), k),
                                up(face.blue(), highlight.blue(), k));
    return palette;
}

QVector<QRgb> GradientButton::blendPalette(const QVector<QRgb>& palette, const QColor& colour, int amount)
{
    amount = std::clamp(amount, 0, 100);
    QVector<QRgb> blended(palette.size());
    auto mix = [amount](int target, int old) { return (target * amount + old * (100 - amount)) / 100; };
    for (int i = 0; i < palette.size(); ++i) {
        const QRgb c = palette[i];
        blended[i] = qRgb(mix(colour.red(), qRed(c)), mix(colour.green(), qGreen(c)), mix(colour.blue(), qBlue(c)));
    }
    return blended;
}

QImage GradientButton::buildScratchFace(const QSize& size, int granularity)
{
    const int w = std::max(1, size.width());
    const int h = std::max(1, size.height());
    QImage face(w, h, QImage::Format_Indexed8);
    face.setColorCount(kPaletteSize);
    face.fill(0);

    auto put = [&face, w, h](int x, int y, int level) {
        if (x >= 0 && x < w && y >= 0 && y < h)
            face.scanLine(y)[x] = static_cast<uchar>(level);
    };
    // Scratches: pairs of short diagonal strokes, mirrored left to right.
    constexpr int kScratchCount = 200;
    constexpr int kScratchLevelMax = 40;
    for (int n = 0; n < kScratchCount; ++n) {
        const int x = randomBelow(w);
        const int y = randomBelow(h);
        const int length = randomBelow(std::min(w, h) + 1);
        const int level = randomBelow(kScratchLevelMax + 1);
        for (int i = 0; i < length / 2; ++i)
            put(x - i, y + i, level);
        for (int i = 0; i < length / 2; ++i)
            put(w - x + i, y - i, level);
    }
    // Diagonal ramp, darker toward the lower right, with a little noise.
    const int ramp = (255 - 2 * granularity - kScratchLevelMax) / 2;
    for (int y = 0; y < h; ++y) {
        uchar* line = face.scanLine(y);
        for (int x = 0; x < w; ++x) {
            const int value = line[x] + ramp * y / h + ramp * (w - x) / w + randomBelow(2 * granularity + 1);
            line[x] = static_cast<uchar>(std::min(value, 255));
        }
    }
    return face;
}

void GradientButton::setShade(int effect, int granularity, int highlightAmount, int colouring, const QColor& colour)
{
    effect_ = effect;
    granularity_ = std::clamp(granularity, 0, 100);
    highlightAmount_ = std::min(highlightAmount, 100);
    colouring_ = colouring;
    colour_ = colour;
    shaded_ = true;
    buildImages();
    update();
}

void GradientButton::buildImages()
{
    const QPalette& system = palette();
    const QVector<QRgb> plain =
        buildPalette(system.color(QPalette::Dark), system.color(QPalette::Button), system.color(QPalette::Light));
    const QVector<QRgb> facePalette = colouring_ > 0 ? blendPalette(plain, colour_, colouring_) : plain;

    // Only the scratch texture is used by the program; other effects get it too.
    face_ = buildScratchFace(size(), granularity_);
    face_.setColorTable(facePalette);
    highlighted_ = face_.copy();
    highlighted_.setColorTable(blendPalette(facePalette, system.color(QPalette::Light), highlightAmount_));
    rowStrip_ = indexedImage(QSize(std::max(1, width()), 1), facePalette);
    columnStrip_ = indexedImage(QSize(1, std::max(1, height())), facePalette);
}

void GradientButton::resizeEvent(QResizeEvent* event)
{
    ImageButton::resizeEvent(event);
    // A layout sizes the button after it was shaded; the face follows the
    // size the button is shown at.
    if (shaded_ && face_.size() != event->size())
        buildImages();
}

void GradientButton::drawBackground(QPainter& painter, const QRect& rect, const DrawState& state)
{
    if (!shaded_) {
        ImageButton::drawBackground(painter, rect, state);
        return;
    }
    painter.save();
    painter.setClipRect(rect);
    if (!state.pointerOver)
        painter.drawImage(QPoint(0, 0), face_);
    else if (!state.pressed)
        painter.drawImage(QPoint(0, 0), highlighted_);
    else
        painter.drawImage(QPoint(1, 1), highlighted_);
    painter.restore();
}

}  // namespace matrix::gui
