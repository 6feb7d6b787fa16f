// SPDX-License-Identifier: Apache-2.0
#include "gui/skin/GradientButton.h"
#include "tests/gui/GuiTestSupport.h"

#include <gtest/gtest.h>

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

TEST(GradientButtonTest, ShadedButtonUsesTheSystemColours)
{
    GradientButton button("Set");
    button.resize(80, 24);
    button.setShade(8, 8, 10, 0, QColor(0, 0, 0));
    const QPalette& system = button.palette();
    const auto table = button.faceImage().colorTable();
    ASSERT_EQ(table.size(), 256);
    EXPECT_EQ(table[0], system.color(QPalette::Dark).rgb());
    EXPECT_EQ(table[128], system.color(QPalette::Button).rgb());
    EXPECT_EQ(table[255], system.color(QPalette::Light).rgb());

    // The highlighted face is the same pixels, blended 10 % toward the highlight.
    const auto lit = button.highlightedImage().colorTable();
    const QColor light = system.color(QPalette::Light);
    EXPECT_EQ(qRed(lit[0]), (light.red() * 10 + qRed(table[0]) * 90) / 100);
    EXPECT_EQ(button.highlightedImage().constBits()[0], button.faceImage().constBits()[0]);
    EXPECT_EQ(button.faceImage().size(), QSize(80, 24));
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
