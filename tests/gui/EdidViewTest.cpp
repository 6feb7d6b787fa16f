// SPDX-License-Identifier: Apache-2.0
// The EDID tab in the real window, offscreen, against the simulated matrix
// on virtual time: each operation clicked through, statuses read back, and
// screenshots of the tab idle, during an operation and with a notice.
#include "gui/pages/edid/EdidView.h"

#include "core/pages/edid/EdidPage.h"
#include "gui/app/PopupViews.h"
#include "gui/skin/GradientButton.h"
#include "gui/skin/ImageButton.h"
#include "tests/gui/GuiTestSupport.h"
#include "tests/support/Transport.h"

#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <gtest/gtest.h>

using namespace matrix;
using namespace matrix::testing;

namespace {

QString sample(const char* name) { return QString(MATRIX_EDID_DATA_DIR) + "/" + name; }

std::vector<std::uint8_t> readAll(const QString& path)
{
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
    const QByteArray bytes = file.readAll();
    return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
}

QStringList rows(const QComboBox* combo)
{
    QStringList out;
    for (int i = 0; i < combo->count(); ++i)
        out << combo->itemText(i);
    return out;
}

// A user's pick in a combo: the row changes and the combo reports the choice.
void choose(QComboBox* combo, int row)
{
    combo->setCurrentIndex(row);
    emit combo->activated(row);
    processGuiEvents();
}

gui::EdidView* openEdidTab(GuiRig& gui, Transport transport)
{
    return qobject_cast<gui::EdidView*>(gui.openTab(Tab::Edid, transport));
}

class EdidViewTest : public ::testing::TestWithParam<Transport> {};

INSTANTIATE_TEST_SUITE_P(BothTransports, EdidViewTest, bothTransports(), transportName);

TEST(EdidView, ShowsTheManualModeRowsTrimmedToFourPorts)
{
    GuiRig gui;
    gui.rig.device.edidStatus = {0, 13, 15, 0x13, 0, 0, 0, 0};
    gui::EdidView* view = openEdidTab(gui, Transport::Tcp);
    ASSERT_NE(view, nullptr);
    EXPECT_TRUE(view->isVisible());
    EXPECT_EQ(child<QGroupBox>(view, "manualModeGroup")->title(), "Manual Mode");
    EXPECT_EQ(child<QComboBox>(view, "modeCombo")->count(), 16);
    EXPECT_EQ(child<QComboBox>(view, "modeCombo")->itemText(12), "DVI 1024X768 ");
    EXPECT_EQ(child<QComboBox>(view, "modeCombo")->itemText(15), "Default EDID");
    const QStringList targets = {"IN1", "IN2", "IN3", "IN4", "All Inputs"};
    EXPECT_EQ(rows(child<QComboBox>(view, "setTargetCombo")), targets);
    EXPECT_EQ(rows(child<QComboBox>(view, "copyTargetCombo")), targets);
    EXPECT_EQ(rows(child<QComboBox>(view, "downloadTargetCombo")), targets);
    EXPECT_EQ(rows(child<QComboBox>(view, "copySourceCombo")),
              (QStringList{"HDMI OUT A", "HDMI OUT B", "HDMI OUT C", "HDMI OUT D"}));
    EXPECT_TRUE(child<QLineEdit>(view, "edidPath")->isReadOnly());
    EXPECT_TRUE(child<QLineEdit>(view, "edidPath")->text().isEmpty());
    EXPECT_EQ(child<gui::ImageButton>(view, "edidBrowse")->toolTip(), "Open");
    EXPECT_EQ(child<gui::GradientButton>(view, "setModeButton")->text(), "Set");

    // The entry query read the four statuses back.
    const EdidPage& page = gui.session.edid;
    EXPECT_EQ(page.inputStatusText(1), "1080i,Stereo Audio 2.0");
    EXPECT_EQ(page.inputStatusText(2), "DVI 1920X1080");
    EXPECT_EQ(page.inputStatusText(3), "Copy HDMI OUT A");
    EXPECT_EQ(page.inputStatusText(4), "User define");

    // Every control fits inside the page area.
    for (QWidget* w : view->findChildren<QWidget*>()) {
        if (!w->isVisible())
            continue;
        const QRect inView(w->mapTo(view, QPoint(0, 0)), w->size());
        EXPECT_TRUE(view->rect().contains(inView)) << w->objectName().toStdString();
    }
    EXPECT_FALSE(saveScreenshot(*gui.window, "edid-idle").isEmpty());
}

TEST_P(EdidViewTest, SetModeClickedThroughWithProgressAndNotice)
{
    GuiRig gui;
    gui::EdidView* view = openEdidTab(gui, GetParam());
    ASSERT_NE(view, nullptr);
    gui::MainWindow& w = *gui.window;
    const bool tcp = GetParam() == Transport::Tcp;
    sim::MatrixResponder& matrix = tcp ? gui.rig.tcpMatrix : gui.rig.serialMatrix;

    choose(child<QComboBox>(view, "modeCombo"), 2);
    choose(child<QComboBox>(view, "setTargetCombo"), 2);
    EXPECT_EQ(gui.session.edid.modeIndex(), 2);
    EXPECT_EQ(gui.session.edid.setTargetIndex(), 2);

    // A slow matrix, so that the progress popup is seen.
    matrix.setReplyDelayMs(1200);
    click(child<gui::GradientButton>(view, "setModeButton"));
    gui.advance(600);
    ASSERT_TRUE(w.progressView()->isVisible());
    EXPECT_TRUE(gui.session.popups.progress.text().rfind("Setting", 0) == 0);
    if (tcp) {
        EXPECT_FALSE(saveScreenshot(w, "edid-during-operation").isEmpty());
    }

    gui.advance(tcp ? 2000 : 3200);
    EXPECT_FALSE(w.progressView()->isVisible());
    ASSERT_TRUE(w.noticeView()->isVisible());
    EXPECT_EQ(gui.session.popups.notice.text(), "Set successfully!");
    if (tcp) {
        EXPECT_FALSE(saveScreenshot(w, "edid-notice").isEmpty());
    }

    gui.advance(1500 + 1300);
    EXPECT_FALSE(w.noticeView()->isVisible());
    EXPECT_EQ(gui.session.edid.inputStatusText(3), "1080i,HD Audio 7.1");
    EXPECT_EQ(gui.rig.device.edidStatus[2], 2);
    EXPECT_TRUE(gui.session.shell.tabButtonsEnabled());
}

TEST_P(EdidViewTest, CopyClickedThroughReadsBackTheCopy)
{
    GuiRig gui;
    gui.rig.device.outputCable[1] = true;
    gui::EdidView* view = openEdidTab(gui, GetParam());
    ASSERT_NE(view, nullptr);
    choose(child<QComboBox>(view, "copySourceCombo"), 1);
    choose(child<QComboBox>(view, "copyTargetCombo"), 3);
    click(child<gui::GradientButton>(view, "copyButton"));
    gui.settle();
    EXPECT_EQ(gui.session.popups.notice.text(), "Copy successfully!");
    EXPECT_TRUE(gui.window->noticeView()->isVisible());
    gui.advance(1600);
    EXPECT_EQ(gui.session.edid.inputStatusText(4), "Copy HDMI OUT B");
}

TEST_P(EdidViewTest, DownloadClickedThroughUploadsTheFileToAllInputs)
{
    GuiRig gui;
    gui::EdidView* view = openEdidTab(gui, GetParam());
    ASSERT_NE(view, nullptr);
    const QString path = sample("tv-samsung-256.bin");
    view->setFileChooser([&] { return path; });
    click(child<gui::ImageButton>(view, "edidBrowse"));
    EXPECT_EQ(child<QLineEdit>(view, "edidPath")->text(), path);

    choose(child<QComboBox>(view, "downloadTargetCombo"), 4);
    click(child<gui::GradientButton>(view, "downloadButton"));
    gui.advance(300);
    EXPECT_EQ(gui.session.popups.notice.text(), "Download successfully!");
    const auto file = readAll(path);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(gui.rig.device.inputEdid[static_cast<std::size_t>(i)], file) << "input " << i + 1;
    gui.advance(1600);
    for (int input = 1; input <= 4; ++input)
        EXPECT_EQ(gui.session.edid.inputStatusText(input), "User define");
}

TEST(EdidView, WrongFileKeepsThePathAndShowsTheNotice)
{
    GuiRig gui;
    gui::EdidView* view = openEdidTab(gui, Transport::Tcp);
    ASSERT_NE(view, nullptr);
    const QString good = sample("monitor-nec-128.bin");
    QString next = good;
    view->setFileChooser([&] { return next; });
    click(child<gui::ImageButton>(view, "edidBrowse"));
    ASSERT_EQ(child<QLineEdit>(view, "edidPath")->text(), good);

    next = QString(MATRIX_EDID_DATA_DIR) + "/ATTRIBUTION.md";
    click(child<gui::ImageButton>(view, "edidBrowse"));
    EXPECT_EQ(child<QLineEdit>(view, "edidPath")->text(), good);
    EXPECT_TRUE(gui.window->noticeView()->isVisible());
    EXPECT_EQ(gui.session.popups.notice.text(), "Please select the correct EDID file!");
    EXPECT_FALSE(saveScreenshot(*gui.window, "edid-wrong-file").isEmpty());

    // A cancelled dialog changes nothing.
    gui.advance(1600);
    next.clear();
    click(child<gui::ImageButton>(view, "edidBrowse"));
    EXPECT_EQ(child<QLineEdit>(view, "edidPath")->text(), good);
    EXPECT_FALSE(gui.window->noticeView()->isVisible());
}

}  // namespace
