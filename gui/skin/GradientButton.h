// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "gui/skin/ImageButton.h"

#include <QColor>
#include <QImage>
#include <QVector>

namespace matrix::gui {

// The image button with a textured, shaded face instead of a flat
// background colour: a 256-entry palette from the system colours (shadow,
// face, highlight) over a face image of scratches, a diagonal ramp and
// noise, and a highlighted copy shown under the pointer.
class GradientButton : public ImageButton {
    Q_OBJECT
public:
    explicit GradientButton(QWidget* parent = nullptr);
    explicit GradientButton(const QString& caption, QWidget* parent = nullptr);

    // Builds the images from the button's size at this moment. The program
    // always uses (8, 8, 10, 0, 0): the face keeps the plain palette.
    void setShade(int effect, int granularity, int highlightAmount, int colouring, const QColor& colour);

    const QImage& faceImage() const { return face_; }
    const QImage& highlightedImage() const { return highlighted_; }
    const QImage& rowStrip() const { return rowStrip_; }
    const QImage& columnStrip() const { return columnStrip_; }

    // Palette 0..128 from shadow to face, 128..255 from face to highlight.
    static QVector<QRgb> buildPalette(const QColor& shadow, const QColor& face, const QColor& highlight);
    // Every entry moved toward `colour` by amount percent (capped at 100).
    static QVector<QRgb> blendPalette(const QVector<QRgb>& palette, const QColor& colour, int amount);
    // Palette indices of the effect-8 face texture.
    static QImage buildScratchFace(const QSize& size, int granularity);

    // A page's command button: the caption on the face every page gives its
    // command buttons (shade 8, 8, 10, 0, 0), so that the Routing, EDID and
    // firmware pages look and react alike.
    static GradientButton* commandButton(const QString& caption, const char* objectName, QWidget* parent);
    // The only effect the program selects: scratches, diagonal ramp, noise.
    static constexpr int kEffectScratches = 8;
    static constexpr int kCommandGranularity = 8;
    static constexpr int kCommandHighlightPercent = 10;

protected:
    void drawBackground(QPainter& painter, const QRect& rect, const DrawState& state) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void buildImages();

    int effect_ = kEffectScratches;
    int granularity_ = 8;
    int highlightAmount_ = 10;
    int colouring_ = 0;
    QColor colour_{0, 0, 0};
    bool shaded_ = false;
    QImage face_;
    QImage highlighted_;
    QImage rowStrip_;
    QImage columnStrip_;
};

}  // namespace matrix::gui
