// SPDX-License-Identifier: Apache-2.0
#include "gui/skin/ImageButton.h"

#include "gui/skin/Icons.h"
#include "tests/gui/GuiTestSupport.h"

#include <QEnterEvent>
#include <QImage>
#include <QMouseEvent>
#include <QTest>

#include <gtest/gtest.h>

using matrix::gui::ImageButton;

namespace {

const QColor kIn(200, 40, 40);
const QColor kOut(40, 40, 200);
const QColor kFocus(40, 200, 40);

// A button with three distinct background colours, so a pixel tells which
// slot was used.
std::unique_ptr<ImageButton> colouredButton()
{
    auto button = std::make_unique<ImageButton>();
    button->resize(60, 30);
    button->setColor(ImageButton::BackgroundIn, kIn);
    button->setColor(ImageButton::BackgroundOut, kOut);
    button->setColor(ImageButton::BackgroundFocus, kFocus);
    return button;
}

QColor pixel(QWidget& w, int x, int y) { return w.grab().toImage().pixelColor(x, y); }

using matrix::testing::hover;

void leave(ImageButton& button)
{
    QEvent event(QEvent::Leave);
    QApplication::sendEvent(&button, &event);
}

}  // namespace

TEST(ImageButton, colourSlotsAndOffsetsStayInBounds)
{
    ImageButton button;
    button.setColor(2, QColor(10, 20, 30));
    const auto before = std::vector<QColor>{button.color(0), button.color(1), button.color(2),
                                            button.color(3), button.color(4), button.color(5)};

    EXPECT_EQ(button.setColor(6, Qt::red), ImageButton::kBadArgument);
    EXPECT_EQ(button.setColor(-1, Qt::red), ImageButton::kBadArgument);
    EXPECT_EQ(button.offsetColor(2, 256), ImageButton::kBadArgument);
    EXPECT_EQ(button.offsetColor(2, -256), ImageButton::kBadArgument);
    EXPECT_EQ(button.offsetColor(6, 10), ImageButton::kBadArgument);
    for (int slot = 0; slot < 6; ++slot)
        EXPECT_EQ(button.color(slot), before[static_cast<std::size_t>(slot)]) << "slot " << slot;

    // The offset is reduced so that no channel leaves 0..255, and all three
    // channels move by the same amount.
    struct Case {
        QColor start;
        int offset;
        QColor expected;
    };
    const Case cases[] = {
        {QColor(10, 20, 30), 5, QColor(15, 25, 35)},
        {QColor(10, 20, 30), -50, QColor(0, 10, 20)},
        {QColor(200, 250, 100), 20, QColor(205, 255, 105)},
        {QColor(200, 250, 100), 255, QColor(205, 255, 105)},
        {QColor(0, 0, 0), -1, QColor(0, 0, 0)},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(button.setColor(4, c.start), ImageButton::kOk);
        EXPECT_EQ(button.offsetColor(4, c.offset), ImageButton::kOk);
        EXPECT_EQ(button.color(4), c.expected) << c.start.name().toStdString() << " + " << c.offset;
    }
}

TEST(ImageButton, flatButtonWithoutBorderOnlyChangesBackgroundOnHover)
{
    auto button = colouredButton();
    button->setDrawBorder(false);
    button->show();
    EXPECT_EQ(pixel(*button, 30, 15), kOut);
    EXPECT_EQ(pixel(*button, 0, 0), kOut) << "no border before hover";

    hover(*button);
    ASSERT_TRUE(button->pointerOver());
    EXPECT_EQ(pixel(*button, 30, 15), kIn);
    EXPECT_EQ(pixel(*button, 0, 0), kIn) << "no border drawn with drawBorder cleared";

    leave(*button);
    EXPECT_FALSE(button->pointerOver());
    EXPECT_EQ(pixel(*button, 30, 15), kOut);

    // With the border on, hover also draws the 3D border at the edge.
    button->setDrawBorder(true);
    hover(*button);
    EXPECT_NE(pixel(*button, 0, 0), kIn);
    EXPECT_EQ(pixel(*button, 30, 15), kIn);
}

TEST(ImageButton, disablingClearsThePointerMark)
{
    auto button = colouredButton();
    button->show();
    hover(*button);
    ASSERT_TRUE(button->pointerOver());
    button->setEnabled(false);
    EXPECT_FALSE(button->pointerOver());
}

TEST(ImageButton, pressed3dButtonShowsShadowFrameAndShiftsItsIcon)
{
    auto button = colouredButton();
    button->setFlat(false);
    // A square icon of one colour, so its top-left corner is easy to find.
    QPixmap square(8, 8);
    square.fill(Qt::yellow);
    button->setIcons(QIcon(square), QSize(8, 8));
    button->show();

    const QImage up = button->grab().toImage();
    EXPECT_EQ(up.pixelColor(26, 11), QColor(Qt::yellow));  // centred: (60-8)/2, (30-8)/2
    EXPECT_NE(up.pixelColor(25, 10), QColor(Qt::yellow));

    button->setDown(true);
    const QImage down = button->grab().toImage();
    const QRgb shadow = button->palette().color(QPalette::Dark).rgb();
    EXPECT_EQ(down.pixel(0, 15), shadow) << "plain shadow frame";
    EXPECT_EQ(down.pixel(59, 15), shadow);
    EXPECT_EQ(down.pixel(1, 15), kIn.rgb()) << "one line only";
    EXPECT_EQ(down.pixelColor(27, 12), QColor(Qt::yellow));
    EXPECT_NE(down.pixelColor(26, 11), QColor(Qt::yellow)) << "icon moved 1 pixel right and down";
}

TEST(ImageButton, checkBoxModeTogglesAndShowsTheCheckAsPressed)
{
    auto button = colouredButton();
    button->setCheckBoxMode(true);
    button->show();
    EXPECT_FALSE(button->check());
    EXPECT_EQ(pixel(*button, 30, 15), kOut);

    QTest::mouseClick(button.get(), Qt::LeftButton);
    EXPECT_TRUE(button->check());
    leave(*button);
    EXPECT_EQ(pixel(*button, 30, 15), kIn) << "checked shows the pressed background";

    button->setCheck(false);
    EXPECT_NE(pixel(*button, 30, 15), kIn) << "unchecked no longer shows the pressed background";

    // Outside check-box mode setCheck does nothing.
    ImageButton plain;
    plain.setCheck(true);
    EXPECT_FALSE(plain.check());
}

TEST(ImageButton, iconInShowsUnderThePointerIconOutOtherwise)
{
    auto button = colouredButton();
    QPixmap in(8, 8), out(8, 8);
    in.fill(Qt::green);
    out.fill(Qt::magenta);
    button->setIcons(QIcon(in), QSize(8, 8), QIcon(out), QSize(8, 8));
    button->show();
    EXPECT_EQ(pixel(*button, 30, 15), QColor(Qt::magenta));
    hover(*button);
    EXPECT_EQ(pixel(*button, 30, 15), QColor(Qt::green));
}

TEST(ImageButton, missingCursorImageKeepsTheSystemCursor)
{
    ImageButton button;
    EXPECT_EQ(button.setCursorImage(":/no/such/cursor.png"), ImageButton::kNoCursor);
    EXPECT_FALSE(button.testAttribute(Qt::WA_SetCursor));
}

TEST(ImageButton, captionUsesTheForegroundSlotOfItsState)
{
    ImageButton button("WWWWWW");
    button.resize(120, 30);
    button.setColor(ImageButton::BackgroundOut, Qt::white);
    button.setColor(ImageButton::ForegroundOut, Qt::black);
    button.setColor(ImageButton::BackgroundIn, Qt::white);
    button.setColor(ImageButton::ForegroundIn, Qt::red);
    button.show();
    auto countColour = [&](const QColor& c) {
        const QImage img = button.grab().toImage();
        int n = 0;
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x)
                n += img.pixelColor(x, y) == c;
        return n;
    };
    EXPECT_GT(countColour(Qt::black), 10);
    EXPECT_EQ(countColour(Qt::red), 0);
    hover(button);
    EXPECT_GT(countColour(Qt::red), 10);
}

// The pointer over a button of a window the user is not working in leaves
// it as it is; once that window is active, the hover look shows.
TEST(ImageButton, hoverLookOnlyWhileItsWindowIsActive)
{
    auto button = colouredButton();
    button->show();
    QWidget other;
    other.show();
    other.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));

    QEnterEvent enter(QPointF(30, 15), QPointF(30, 15), QPointF(30, 15));
    QApplication::sendEvent(button.get(), &enter);
    QMouseEvent move(QEvent::MouseMove, QPointF(31, 15), QPointF(31, 15), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(button.get(), &move);
    EXPECT_FALSE(button->pointerOver());
    EXPECT_EQ(pixel(*button, 30, 15), kOut);

    hover(*button);
    EXPECT_TRUE(button->pointerOver());
    EXPECT_EQ(pixel(*button, 30, 15), kIn);
}
