// SPDX-License-Identifier: Apache-2.0
#include "gui/pages/firmware/FirmwareView.h"

#include "core/formats/FirmwareContainer.h"
#include "core/pages/firmware/FirmwarePage.h"
#include "gui/skin/GradientButton.h"
#include "gui/skin/ImageButton.h"
#include "tests/gui/GuiTestSupport.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QToolButton>

#include <gtest/gtest.h>

using namespace matrix;
using namespace matrix::testing;

namespace {

// A part-1 container of `dataBytes` bytes after the marker, written scrambled.
QString writeFirmware(const QTemporaryDir& dir, std::size_t dataBytes)
{
    Bytes image{0xA5, 0x5A};
    for (std::size_t i = 0; i < dataBytes; ++i)
        image.push_back(static_cast<std::uint8_t>((i * 7 + 3) & 0x7F));
    scramble(image);
    const QString path = dir.filePath("matrix.fw");
    EXPECT_TRUE(writeFile(path.toStdString(), image));
    return path;
}

gui::FirmwareView* openFirmwareTab(GuiRig& gui)
{
    MatrixSession& s = gui.session;
    s.link.controlMode = ControlMode::Tcp;
    s.link.setTcpState(TcpState::Reconnecting);
    s.link.matrixAddress = TestRig::kAddress;
    gui::MainWindow& w = *gui.window;
    QTest::mousePress(&w, Qt::LeftButton, Qt::NoModifier, w.tabLabel(Tab::FwUpgrade)->geometry().center());
    QTest::mouseRelease(&w, Qt::LeftButton, Qt::NoModifier, w.tabLabel(Tab::FwUpgrade)->geometry().center());
    gui.advance(200);
    return qobject_cast<gui::FirmwareView*>(w.pageView(Tab::FwUpgrade));
}

}  // namespace

TEST(FirmwareView, UploadsAMultiBlockFileWithTheProgressBarReachingItsEnd)
{
    QTemporaryDir dir;
    GuiRig gui;
    gui::FirmwareView* view = openFirmwareTab(gui);
    ASSERT_NE(view, nullptr);
    EXPECT_TRUE(view->isVisible());
    EXPECT_EQ(child<QLabel>(view, "deviceLine")->text(), "Device: HDMI MATRIX 4x4          Version: 1.0");
    EXPECT_FALSE(child<QGroupBox>(view, "mergeGroup")->isVisible()) << "the merge tool is hidden by default";
    EXPECT_TRUE(child<QLineEdit>(view, "firmwarePath")->isReadOnly());
    EXPECT_EQ(child<gui::ImageButton>(view, "firmwareBrowse")->toolTip(), "Open");

    const QString path = writeFirmware(dir, 3000);  // 12 blocks
    view->setFileChooser([&](int what) { return what == gui::FirmwareView::kFirmwareFile ? path : QString(); });
    click(child<gui::ImageButton>(view, "firmwareBrowse"));
    EXPECT_EQ(child<QLineEdit>(view, "firmwarePath")->text(), path);

    click(child<gui::GradientButton>(view, "upgradeButton"));
    gui.settle();
    EXPECT_FALSE(child<gui::GradientButton>(view, "upgradeButton")->isEnabled());
    EXPECT_FALSE(child<gui::ImageButton>(view, "firmwareBrowse")->isEnabled());
    EXPECT_EQ(child<QProgressBar>(view, "upgradeProgress")->maximum(), 3000);

    // Part way through: some blocks are out, the tabs refuse to switch.
    gui.advance(1000);
    EXPECT_GT(child<QProgressBar>(view, "upgradeProgress")->value(), 0);
    EXPECT_LT(child<QProgressBar>(view, "upgradeProgress")->value(), 3000);
    EXPECT_EQ(gui.session.link.firmwareUpgrading, 1);
    EXPECT_TRUE(child<QPlainTextEdit>(view, "messagesBox")->toPlainText().contains("Upgrading Part_1.1.0.0..."));
    QTest::mousePress(gui.window.get(), Qt::LeftButton, Qt::NoModifier,
                      gui.window->tabLabel(Tab::General)->geometry().center());
    processGuiEvents();
    EXPECT_TRUE(gui.session.shell.tabSelected(Tab::FwUpgrade));
    EXPECT_FALSE(saveScreenshot(*gui.window, "firmware_uploading").isEmpty());

    gui.advance(5000, 50);
    EXPECT_TRUE(child<QPlainTextEdit>(view, "messagesBox")->toPlainText().endsWith("Firmware upgrade Successfully\n"))
        << child<QPlainTextEdit>(view, "messagesBox")->toPlainText().toStdString();
    EXPECT_EQ(child<QProgressBar>(view, "upgradeProgress")->value(),
              child<QProgressBar>(view, "upgradeProgress")->maximum());
    EXPECT_TRUE(child<gui::GradientButton>(view, "upgradeButton")->isEnabled());
    EXPECT_EQ(gui.session.link.firmwareUpgrading, 0);
    EXPECT_EQ(gui.rig.device.firmwarePart[1].size(), 12u * 256u);
    EXPECT_FALSE(saveScreenshot(*gui.window, "firmware_success").isEmpty());

    click(child<gui::GradientButton>(view, "clearButton"));
    EXPECT_TRUE(child<QPlainTextEdit>(view, "messagesBox")->toPlainText().isEmpty());
}

TEST(FirmwareView, MergeToolBehindItsToggle)
{
    QTemporaryDir dir;
    GuiRig gui;
    gui::FirmwareView* view = openFirmwareTab(gui);
    ASSERT_NE(view, nullptr);
    const QString main = dir.filePath("main.bin");
    ASSERT_TRUE(writeFile(main.toStdString(), Bytes(1000, 0x12)));
    view->setFileChooser([&](int what) { return what == 0 ? main : QString(); });

    click(child<QToolButton>(view, "mergeToggle"));
    EXPECT_TRUE(child<QGroupBox>(view, "mergeGroup")->isVisible());
    click(child<gui::ImageButton>(view, "sourceBrowse1"));
    EXPECT_EQ(child<QLineEdit>(view, "sourcePath1")->text(), main);
    click(child<gui::GradientButton>(view, "mergeButton"));
    const QString output = dir.filePath("Matrix44_mm0.0.fw");
    EXPECT_TRUE(QFile::exists(output));
    EXPECT_TRUE(child<QPlainTextEdit>(view, "messagesBox")
                    ->toPlainText()
                    .contains("Firmware merged complete,save to file:" + output));
    EXPECT_FALSE(saveScreenshot(*gui.window, "firmware_merge_tool").isEmpty());
    click(child<QToolButton>(view, "mergeToggle"));
    EXPECT_FALSE(child<QGroupBox>(view, "mergeGroup")->isVisible());
}

TEST(FirmwareView, RejectedPart2ShowsAStandardMessageBox)
{
    QTemporaryDir dir;
    GuiRig gui;
    gui.rig.device.rejectFirmwarePart2 = true;
    gui::FirmwareView* view = openFirmwareTab(gui);
    ASSERT_NE(view, nullptr);
    Bytes image{0xA4, 0x5B};
    image.resize(400, 0x21);
    scramble(image);
    const QString path = dir.filePath("slave.fw");
    ASSERT_TRUE(writeFile(path.toStdString(), image));
    view->setFileChooser([&](int) { return path; });
    click(child<gui::ImageButton>(view, "firmwareBrowse"));
    click(child<gui::GradientButton>(view, "upgradeButton"));
    gui.settle();

    auto* box = view->findChild<QMessageBox*>("firmwareMessageBox");
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(box->isVisible());
    EXPECT_EQ(box->text(), "Write to Part_2.1.0.0 failed");
    EXPECT_TRUE(child<gui::GradientButton>(view, "upgradeButton")->isEnabled());
    EXPECT_FALSE(saveScreenshot(*box, "firmware_part2_rejected").isEmpty());
    QPointer<QMessageBox> watch(box);
    box->button(QMessageBox::Ok)->click();
    processGuiEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(gui.session.firmware.messageBoxOpen());
    EXPECT_TRUE(watch.isNull()) << "the box is released once dismissed";
}
