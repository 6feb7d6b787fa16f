// SPDX-License-Identifier: Apache-2.0
#include "gui/MainWindow.h"

#include "gui/PageViews.h"
#include "gui/app/PopupViews.h"
#include "gui/pages/general/GeneralView.h"
#include "gui/skin/GradientButton.h"
#include "gui/skin/Icons.h"
#include "gui/skin/ImageButton.h"
#include "tests/gui/GuiTestSupport.h"

#include <QEnterEvent>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>

#include <gtest/gtest.h>

using namespace matrix;
using namespace matrix::testing;

namespace {

const QColor kTitleBlue(30, 144, 225);
const QColor kSelectedTab(240, 245, 230);

QColor tabBackground(gui::MainWindow& w, Tab tab)
{
    const QRect r = w.tabLabel(tab)->geometry();
    return w.grab().toImage().pixelColor(r.left() + 3, r.top() + 3);
}

void pressAt(QWidget* w, QPoint pos) { QTest::mousePress(w, Qt::LeftButton, Qt::NoModifier, pos); }

// A press and its release: the application's button state must not leak
// into the next test.
void clickAt(QWidget* w, QPoint pos) { QTest::mouseClick(w, Qt::LeftButton, Qt::NoModifier, pos); }

}  // namespace

TEST(MainWindow, frameTitleButtonsAndShrinkRule)
{
    GuiRig gui;
    gui::MainWindow& w = *gui.window;
    EXPECT_TRUE(w.windowFlags() & Qt::FramelessWindowHint);
    // About 600 pixels plus the two title buttons.
    EXPECT_EQ(w.width(), gui::MainWindow::kShrunkWidthPx + 2 * gui::MainWindow::kTitleButtonSize.width());
    EXPECT_EQ(w.minimizeButton()->geometry().topLeft(), QPoint(gui::MainWindow::kShrunkWidthPx - 1, 1));
    EXPECT_EQ(w.closeButton()->geometry().left(), w.minimizeButton()->geometry().right() + 1);
    EXPECT_LE(w.closeButton()->geometry().right(), w.width() - 2) << "inside the frame";
    EXPECT_EQ(w.minimizeButton()->toolTip(), "Minimize");
    EXPECT_EQ(w.closeButton()->toolTip(), "Close");

    // Every page fits under the tabs.
    QWidget* general = w.pageView(Tab::General);
    ASSERT_NE(general, nullptr);
    EXPECT_EQ(general->size(), gui::kPageAreaSize);
    EXPECT_TRUE(w.rect().contains(general->geometry()));
    EXPECT_GE(general->geometry().top(), w.tabLabel(Tab::General)->geometry().bottom());

    const QImage image = w.grab().toImage();
    EXPECT_EQ(image.pixelColor(w.width() / 2, 5), kTitleBlue) << "blue title strip";
    EXPECT_EQ(tabBackground(w, Tab::General), kSelectedTab);
    EXPECT_EQ(tabBackground(w, Tab::Edid), kTitleBlue);
    const QStringList texts{"General", "EDID", "Matrix", "FW Upgrade"};
    for (int i = 0; i < kTabCount; ++i)
        EXPECT_EQ(w.tabLabel(static_cast<Tab>(i))->text(), texts[i]);
    EXPECT_FALSE(saveScreenshot(w, "main_window_general_idle").isEmpty());

    click(w.closeButton());
    EXPECT_FALSE(w.isVisible());
}

TEST(MainWindow, tabClicksSwitchPagesAndRefusalNeverDrags)
{
    GuiRig gui;
    gui::MainWindow& w = *gui.window;

    pressAt(&w, w.tabLabel(Tab::Edid)->geometry().center());
    processGuiEvents();
    EXPECT_TRUE(gui.session.shell.tabSelected(Tab::Edid));
    EXPECT_EQ(tabBackground(w, Tab::Edid), kSelectedTab);
    EXPECT_EQ(tabBackground(w, Tab::General), kTitleBlue);
    ASSERT_NE(w.pageView(Tab::Edid), nullptr);
    EXPECT_TRUE(w.pageView(Tab::Edid)->isVisible());
    EXPECT_FALSE(w.pageView(Tab::General)->isVisible());
    QTest::mouseRelease(&w, Qt::LeftButton, Qt::NoModifier, w.tabLabel(Tab::Edid)->geometry().center());

    // A command in flight: the click is refused and does not move the window.
    gui.session.link.busy = 1;
    const QPoint before = w.pos();
    const QPoint onTab = w.tabLabel(Tab::Matrix)->geometry().center();
    pressAt(&w, onTab);
    QTest::mouseMove(&w, onTab + QPoint(40, 30));
    QTest::mouseRelease(&w, Qt::LeftButton, Qt::NoModifier, onTab + QPoint(40, 30));
    processGuiEvents();
    EXPECT_TRUE(gui.session.shell.tabSelected(Tab::Edid));
    EXPECT_FALSE(gui.session.shell.tabSelected(Tab::Matrix));
    EXPECT_EQ(w.pos(), before);
    gui.session.link.busy = 0;

    clickAt(&w, w.tabLabel(Tab::General)->geometry().center());
    processGuiEvents();
    EXPECT_TRUE(w.pageView(Tab::General)->isVisible());
    EXPECT_FALSE(w.pageView(Tab::Edid)->isVisible());
}

TEST(MainWindow, pressOnAFreeSpotDragsTheWindow)
{
    GuiRig gui;
    gui::MainWindow& w = *gui.window;
    const QPoint before = w.pos();
    // The title strip, right of the title and left of the buttons.
    const QPoint spot(450, 12);
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(spot), w.mapToGlobal(QPointF(spot)), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&w, &press);
    const QPoint to = spot + QPoint(25, 15);
    QMouseEvent move(QEvent::MouseMove, QPointF(to), w.mapToGlobal(QPointF(to)), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QApplication::sendEvent(&w, &move);
    QTest::mouseRelease(&w, Qt::LeftButton, Qt::NoModifier, to);
    EXPECT_EQ(w.pos(), before + QPoint(25, 15));
    EXPECT_TRUE(gui.session.shell.tabSelected(Tab::General));
}

TEST(MainWindow, tcpTabWithoutLinkShowsTheNotice)
{
    GuiRig gui;
    gui::MainWindow& w = *gui.window;
    auto* general = static_cast<gui::GeneralView*>(w.pageView(Tab::General));
    click(child<QRadioButton>(general, "tcpModeRadio"));
    ASSERT_TRUE(gui.session.link.tcpMode());

    clickAt(&w, w.tabLabel(Tab::FwUpgrade)->geometry().center());
    processGuiEvents();
    EXPECT_TRUE(w.pageView(Tab::FwUpgrade)->isVisible());
    ASSERT_TRUE(w.noticeView()->isVisible());
    EXPECT_EQ(w.noticeView()->text(), "Connect to Matrix failed!");
    gui.advance(1500);
    EXPECT_FALSE(w.noticeView()->isVisible());
}

TEST(MainWindow, enterEscapeAndSpaceAreSwallowed)
{
    GuiRig gui;
    gui::MainWindow& w = *gui.window;
    auto* general = static_cast<gui::GeneralView*>(w.pageView(Tab::General));
    QPushButton* status = child<QPushButton>(general, "statusButton");
    int clicks = 0;
    QObject::connect(status, &QPushButton::clicked, [&] { ++clicks; });
    status->setFocus();
    for (Qt::Key key : {Qt::Key_Space, Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape})
        QTest::keyClick(status, key);
    processGuiEvents();
    EXPECT_EQ(clicks, 0);
    EXPECT_TRUE(w.isVisible());
    EXPECT_FALSE(w.noticeView()->isVisible()) << "Status did not run";
}

TEST(MainWindow, titleButtonsShowTheirHoverIcons)
{
    GuiRig gui;
    gui::MainWindow& w = *gui.window;
    const QPoint inClose = w.closeButton()->geometry().center();
    const QRgb before = w.grab().toImage().pixel(inClose.x() - 7, inClose.y() - 7);
    QEnterEvent enter(QPointF(10, 10), QPointF(10, 10), QPointF(10, 10));
    QApplication::sendEvent(w.closeButton(), &enter);
    ASSERT_TRUE(w.closeButton()->pointerOver());
    const QRgb after = w.grab().toImage().pixel(inClose.x() - 7, inClose.y() - 7);
    EXPECT_NE(before, after) << "the hover icon has its own background";
    EXPECT_EQ(QColor(before), QColor(30, 144, 225));
    EXPECT_FALSE(saveScreenshot(w, "main_window_close_hover").isEmpty());
}

TEST(MainWindow, iconSheet)
{
    // Every icon at the sizes the window uses, on white and on title blue,
    // for a person to look at.
    const QList<QIcon> list{gui::icons::close(false),   gui::icons::close(true), gui::icons::minimize(false),
                            gui::icons::minimize(true), gui::icons::link(false), gui::icons::link(true),
                            gui::icons::openFile(),     gui::icons::previous(),  gui::icons::next(),
                            gui::icons::logo()};
    const QList<int> sizes{16, 18, 20, 24, 32};
    QImage sheet(8 + list.size() * 40, 8 + sizes.size() * 2 * 40, QImage::Format_ARGB32);
    sheet.fill(Qt::white);
    QPainter p(&sheet);
    for (int row = 0; row < sizes.size(); ++row) {
        const int s = sizes[row];
        p.fillRect(QRect(0, 8 + (2 * row + 1) * 40 - 4, sheet.width(), 40), QColor(30, 144, 225));
        for (int i = 0; i < list.size(); ++i) {
            for (int band = 0; band < 2; ++band) {
                const QPixmap pm = list[i].pixmap(s, s);
                EXPECT_FALSE(pm.isNull());
                p.drawPixmap(8 + i * 40, 8 + (2 * row + band) * 40, pm);
            }
        }
    }
    p.end();
    EXPECT_TRUE(sheet.save(screenshotPath("icons")));
}

TEST(MainWindow, chineseTextsRenderWithARealFont)
{
    // The few Chinese texts (hidden log frames, preset messages) need a CJK
    // font; without one Qt draws empty boxes.
    EXPECT_FALSE(QFontDatabase::families(QFontDatabase::SimplifiedChinese).isEmpty());
    QLabel label(QString::fromUtf8("接收命令 发送命令"));
    label.setFont(QApplication::font());
    const QFontMetrics fm(label.font());
    for (QChar c : QString::fromUtf8("接收发送命令"))
        EXPECT_TRUE(fm.inFontUcs4(c.unicode())) << "no glyph for U+" << std::hex << static_cast<unsigned>(c.unicode());
    label.adjustSize();
    EXPECT_FALSE(saveScreenshot(label, "chinese_text").isEmpty());
}

// The title text at normal weight; Close and Minimize draw the image
// button's frame under the pointer; the EDID and firmware pages' command
// buttons wear the gradient face, as the Routing page's do.
TEST(MainWindow, titleRowAndPageCommandButtonsHaveTheirLook)
{
    GuiRig gui;
    gui::MainWindow& w = *gui.window;
    auto* title = w.findChild<QLabel*>("title");
    ASSERT_NE(title, nullptr);
    EXPECT_EQ(title->font().weight(), QFont::Normal);
    EXPECT_FALSE(title->font().bold());

    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    for (gui::ImageButton* button : {w.closeButton(), w.minimizeButton()}) {
        auto corner = [&] { return button->grab().toImage().pixelColor(0, 0); };
        EXPECT_EQ(corner(), kTitleBlue) << "no frame without the pointer";
        QEnterEvent enter(QPointF(10, 10), QPointF(10, 10), QPointF(10, 10));
        QApplication::sendEvent(button, &enter);
        ASSERT_TRUE(button->pointerOver());
        EXPECT_NE(corner(), kTitleBlue) << button->toolTip().toStdString() << ": the frame under the pointer";
        if (button == w.closeButton()) {
            EXPECT_TRUE(w.grab(QRect(0, 0, w.width(), gui::MainWindow::kPageTopPx)).save(screenshotPath("title_row")));
        }
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(button, &leave);
    }

    const struct {
        Tab tab;
        std::vector<const char*> buttons;
        const char* screenshot;
    } pages[] = {
        {Tab::Edid, {"setModeButton", "copyButton", "downloadButton"}, "edid_gradient_buttons"},
        {Tab::FwUpgrade, {"upgradeButton", "clearButton", "mergeButton"}, "firmware_gradient_buttons"},
    };
    for (const auto& page : pages) {
        clickAt(&w, w.tabLabel(page.tab)->geometry().center());
        gui.advance(300);
        // The merge tool's Merge button shows with the tool.
        if (auto* mergeToggle = w.pageView(page.tab)->findChild<QAbstractButton*>("mergeToggle"))
            click(mergeToggle);
        for (const char* name : page.buttons) {
            auto* button = w.pageView(page.tab)->findChild<gui::GradientButton*>(name);
            ASSERT_NE(button, nullptr) << name;
            EXPECT_EQ(button->faceImage().size(), button->size()) << name << ": the face fits the button";
        }
        gui.advance(2000);  // COM mode without a link: the page's notice closes first
        EXPECT_FALSE(saveScreenshot(w, page.screenshot).isEmpty());
    }
}
