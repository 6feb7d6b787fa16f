// SPDX-License-Identifier: Apache-2.0
#include "gui/skin/GradientButton.h"
#include "tests/gui/GuiTestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace matrix::testing {
namespace {

using gui::GradientButton;

TEST(GradientButtonTest, PaletteRunsFromShadowThroughFaceToHighlight)
{
    const QColor shadow(100, 110, 120), face(200, 210, 220), highlight(255, 250, 245);
    const auto palette = GradientButton::buildPalette(shadow, face, highlight);
    ASSERT_EQ(palette.size(), 256);
    EXPECT_EQ(palette[0], shadow.rgb());
    EXPECT_EQ(palette[128], face.rgb());
    EXPECT_EQ(palette[255], highlight.rgb());
    EXPECT_EQ(palette[64], qRgb(150, 160, 170));
    for (int i = 1; i < 256; ++i)
        EXPECT_GE(qRed(palette[i]), qRed(palette[i - 1])) << i;
}

int distance(QRgb a, QRgb b)
{
    return std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b)) + std::abs(qBlue(a) - qBlue(b));
}

// What the user sees of a shaded button without a caption: at rest its face
// in the system colours, under the pointer the same texture a little nearer
// the highlight colour, and pressed that lit face moved one pixel down-right.
TEST(GradientButtonTest, ShadedButtonShowsItsFaceLitUnderThePointerAndShiftedWhenPressed)
{
    QWidget holder;
    holder.resize(100, 40);
    GradientButton button(&holder);
    button.setGeometry(10, 8, 80, 24);
    button.setShade(8, 8, 10, 0, QColor(0, 0, 0));
    holder.show();
    const QPalette& system = button.palette();
    const auto table = button.faceImage().colorTable();
    ASSERT_EQ(table.size(), 256);
    EXPECT_EQ(table[0], system.color(QPalette::Dark).rgb());
    EXPECT_EQ(table[128], system.color(QPalette::Button).rgb());
    EXPECT_EQ(table[255], system.color(QPalette::Light).rgb());
    EXPECT_EQ(button.faceImage().size(), QSize(80, 24));

    const QImage face = button.faceImage().convertToFormat(QImage::Format_RGB32);
    const QImage rest = button.grab().toImage().convertToFormat(QImage::Format_RGB32);
    hover(button);
    const QImage lit = button.grab().toImage().convertToFormat(QImage::Format_RGB32);
    button.setDown(true);
    const QImage pressed = button.grab().toImage().convertToFormat(QImage::Format_RGB32);

    const QRgb light = system.color(QPalette::Light).rgb();
    int nearer = 0;
    for (const QPoint p : {QPoint(6, 5), QPoint(20, 12), QPoint(40, 8), QPoint(60, 16), QPoint(74, 18)}) {
        EXPECT_EQ(rest.pixel(p), face.pixel(p)) << p.x() << "," << p.y();
        EXPECT_LE(distance(lit.pixel(p), light), distance(face.pixel(p), light)) << p.x() << "," << p.y();
        nearer += distance(lit.pixel(p), light) < distance(face.pixel(p), light);
        EXPECT_EQ(pressed.pixel(p + QPoint(1, 1)), lit.pixel(p)) << p.x() << "," << p.y();
    }
    EXPECT_GT(nearer, 0) << "the lit face is the face itself";
}

TEST(GradientButtonTest, FaceTextureRampsFromUpperRightToLowerLeft)
{
    const QImage face = GradientButton::buildScratchFace(QSize(120, 40), 8);
    auto mean = [&face](int x0, int y0, int w, int h) {
        long sum = 0;
        for (int y = y0; y < y0 + h; ++y)
            for (int x = x0; x < x0 + w; ++x)
                sum += face.pixelIndex(x, y);
        return sum / (w * h);
    };
    EXPECT_GT(mean(0, 30, 20, 10), mean(100, 0, 20, 10) + 100);
    for (int y = 0; y < face.height(); ++y)
        for (int x = 0; x < face.width(); ++x)
            ASSERT_LE(face.pixelIndex(x, y), 254);
}

TEST(GradientButtonTest, TwoButtonsOfTheSameSizeDiffer)
{
    GradientButton first("Edit"), second("Edit");
    first.resize(70, 22);
    second.resize(70, 22);
    first.setShade(8, 8, 10, 0, QColor(0, 0, 0));
    second.setShade(8, 8, 10, 0, QColor(0, 0, 0));
    ASSERT_EQ(first.faceImage().size(), second.faceImage().size());
    EXPECT_NE(first.faceImage(), second.faceImage());
}

TEST(GradientButtonTest, ZeroSizeButtonGetsOnePixelStrips)
{
    GradientButton button;
    button.resize(0, 0);
    button.setShade(8, 8, 10, 0, QColor(0, 0, 0));
    EXPECT_EQ(button.rowStrip().size(), QSize(1, 1));
    EXPECT_EQ(button.columnStrip().size(), QSize(1, 1));
}

TEST(GradientButtonTest, CloseUpScreenshot)
{
    QWidget holder;
    holder.resize(220, 60);
    GradientButton button("Set", &holder);
    button.setGeometry(20, 15, 90, 28);
    button.setShade(8, 8, 10, 0, QColor(0, 0, 0));
    GradientButton edit("Edit", &holder);
    edit.setGeometry(120, 15, 90, 28);
    edit.setShade(8, 8, 10, 0, QColor(0, 0, 0));
    holder.show();
    EXPECT_FALSE(saveScreenshot(holder, "gradient_button_closeup").isEmpty());
}

}  // namespace
}  // namespace matrix::testing
