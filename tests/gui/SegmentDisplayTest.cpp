// SPDX-License-Identifier: Apache-2.0
#include "gui/skin/SegmentDisplay.h"
#include "tests/gui/GuiTestSupport.h"

#include <gtest/gtest.h>

#include <QImage>

namespace matrix::testing {
namespace {

using gui::SegmentDisplay;

const QColor kOff(200, 0, 0);
const QColor kOn(0, 255, 0);
const QColor kBack(0, 0, 0);

QImage paintedImage(SegmentDisplay& display) { return display.grab().toImage().convertToFormat(QImage::Format_RGB32); }

// Every segment of every character shows lit or unlit exactly as its pattern says.
void expectSegmentsFollowPatterns(SegmentDisplay& display)
{
    const QImage image = paintedImage(display);
    const auto& chars = display.characters();
    for (std::size_t i = 0; i < chars.size(); ++i) {
        for (int s = 0; s < SegmentDisplay::segmentCount(chars[i].kind); ++s) {
            const QPoint at = display.segmentCentre(static_cast<int>(i), s).toPoint();
            const bool lit = (chars[i].pattern >> s) & 1;
            EXPECT_EQ(QColor(image.pixel(at)), lit ? kOn : kOff)
                << "text " << display.text().toStdString() << " char " << i << " segment " << s;
        }
    }
}

struct SegmentDisplayTest : ::testing::Test {
    SegmentDisplay display;
    SegmentDisplayTest()
    {
        display.setColors(kOff, kOn);
        display.setBackgroundColor(kBack);
    }
};

TEST_F(SegmentDisplayTest, SevenSegmentDigitsLightTheirTableSegments)
{
    display.resize(11 * 49 * 2, 83 * 2);
    display.setText("0123456789-");
    const std::uint8_t expected[] = {0x77, 0x24, 0x5D, 0x6D, 0x2E, 0x6B, 0x7B, 0x25, 0x7F, 0x6F, 0x08};
    ASSERT_EQ(display.characters().size(), 11u);
    for (std::size_t i = 0; i < 11; ++i) {
        EXPECT_EQ(display.characters()[i].kind, SegmentDisplay::Kind::Seven);
        EXPECT_EQ(display.characters()[i].pattern, expected[i]) << i;
    }
    expectSegmentsFollowPatterns(display);
}

TEST_F(SegmentDisplayTest, FourteenSegmentCharactersLightTheirTableSegments)
{
    display.resize(10 * 49 * 2, 83 * 2);
    display.setText("AKMNVZ*+QW");
    const std::uint16_t expected[] = {0x3BC0, 0x0354, 0x1B06, 0x1B12, 0x030C, 0x240C, 0x00FF, 0x00E1, 0x3F10, 0x1B18};
    ASSERT_EQ(display.characters().size(), 10u);
    for (std::size_t i = 0; i < 10; ++i)
        EXPECT_EQ(display.characters()[i].pattern, expected[i]) << i;
    expectSegmentsFollowPatterns(display);

    // Style bit 2 draws digits, blank and minus as fourteen-segment characters.
    display.setDisplayStyle(SegmentDisplay::kFourteenSegmentDigits | SegmentDisplay::kKeepProportions);
    display.setText("8- 1");
    ASSERT_EQ(display.characters().size(), 4u);
    EXPECT_EQ(display.characters()[0].kind, SegmentDisplay::Kind::Fourteen);
    EXPECT_EQ(display.characters()[0].pattern, 0x3FC0);
    EXPECT_EQ(display.characters()[1].pattern, 0x00C0);
    EXPECT_EQ(display.characters()[2].pattern, 0x0000);
    EXPECT_EQ(display.characters()[3].pattern, 0x1800);
    expectSegmentsFollowPatterns(display);
}

TEST_F(SegmentDisplayTest, PointsLowerCaseAndUnknownCharacters)
{
    display.resize(183 * 3, 83 * 3);
    display.setText("1.2:b?");
    const auto& chars = display.characters();
    ASSERT_EQ(chars.size(), 5u);  // "?" takes no room
    EXPECT_EQ(chars[1].kind, SegmentDisplay::Kind::Point);
    EXPECT_EQ(chars[1].pattern, 0x04);
    EXPECT_EQ(chars[3].kind, SegmentDisplay::Kind::Point);
    EXPECT_EQ(chars[3].pattern, 0x03);
    EXPECT_EQ(chars[4].kind, SegmentDisplay::Kind::Fourteen);
    EXPECT_EQ(chars[4].pattern, 0x3CA1);  // "B"
    expectSegmentsFollowPatterns(display);
}

TEST_F(SegmentDisplayTest, KeepProportionsCentresOrStretches)
{
    display.resize(490, 83);
    display.setText("8");
    // Kept proportions: one 49-unit cell, scale 1, centred horizontally.
    const QPointF kept = display.segmentCentre(0, 0);
    EXPECT_NEAR(kept.x(), (490 - 49) / 2.0 + 24.5, 0.01);
    display.setDisplayStyle(0);
    const QPointF stretched = display.segmentCentre(0, 0);
    EXPECT_NEAR(stretched.x(), 24.5 * 10, 0.01);
    expectSegmentsFollowPatterns(display);
}

TEST_F(SegmentDisplayTest, EmptyTextPaintsOnlyTheBackground)
{
    display.setBackgroundColor(QColor(10, 20, 30));
    display.resize(60, 40);
    display.setText("");
    const QImage image = paintedImage(display);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            ASSERT_EQ(QColor(image.pixel(x, y)), QColor(10, 20, 30)) << x << "," << y;
}

TEST_F(SegmentDisplayTest, RoutingColoursHideUnlitSegments)
{
    display.setColors(Qt::black, QColor(0, 255, 0));
    display.resize(49 * 2, 83 * 2);
    display.setText("1");
    const QImage image = paintedImage(display);
    EXPECT_EQ(QColor(image.pixel(display.segmentCentre(0, 0).toPoint())), QColor(Qt::black));
    EXPECT_EQ(QColor(image.pixel(display.segmentCentre(0, 2).toPoint())), QColor(0, 255, 0));
}

TEST_F(SegmentDisplayTest, SameTextTwicePaintsOnce)
{
    display.resize(80, 90);
    display.setText("3");
    display.show();
    processGuiEvents();
    const int afterShow = display.paintCount();
    display.setText("4");
    processGuiEvents();
    EXPECT_EQ(display.paintCount(), afterShow + 1);
    display.setText("4");
    display.setColors(kOff, kOn);
    display.setBackgroundColor(kBack);
    processGuiEvents();
    EXPECT_EQ(display.paintCount(), afterShow + 1);
}

TEST_F(SegmentDisplayTest, CloseUpScreenshot)
{
    display.setColors(Qt::black, QColor(0, 255, 0));
    display.resize(120, 160);
    display.setText("4");
    EXPECT_FALSE(saveScreenshot(display, "segment_display_closeup").isEmpty());
    display.setColors(QColor(0, 52, 0), QColor(0, 255, 0));
    display.resize(420, 100);
    display.setText("12:34.5 AB");
    EXPECT_FALSE(saveScreenshot(display, "segment_display_all_kinds").isEmpty());
}

}  // namespace
}  // namespace matrix::testing
