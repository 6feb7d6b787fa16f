// SPDX-License-Identifier: Apache-2.0
#include "gui/pages/firmware/FirmwareView.h"

#include "core/pages/firmware/FirmwarePage.h"
#include "gui/skin/GradientButton.h"
#include "gui/skin/ImageButton.h"
#include "gui/skin/PageParts.h"

#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QScrollBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace matrix::gui {

namespace {

using namespace page_metrics;

constexpr int kSpacingPx = 8;

// The log keeps the matrix's "\r\n" line ends; the text box wants "\n".
QString logText(const std::string& text)
{
    QString out = q(text);
    out.replace("\r\n", "\n");
    return out;
}

constexpr const char* kSourceCaptions[] = {"main MCU FW", "Open Slave MCU1 FW", "Open IR MCU2 FW",
                                           "Open Panel MCU3 FW"};
constexpr const char* kVersionPlaceholders[4][2] = {
    {"Main Ver1", "Main Ver2"}, {"Slave Ver1", "Slave Ver2"}, {"IR Ver1", "IR Ver2"}, {"Panel Ver1", "Panel Ver2"}};

}  // namespace

FirmwareView::FirmwareView(FirmwarePage& page, QWidget* parent) : QWidget(parent), page_(page)
{
    setObjectName("firmwareView");
    auto* column = pageLayout<QVBoxLayout>(this, kSpacingPx);
    column->addWidget(buildUpgradeGroup());
    QGroupBox* mergeGroup = buildMergeGroup();
    column->addWidget(mergeGroup);
    column->addWidget(buildMessagesGroup(), 1);

    auto* bottom = new QHBoxLayout;
    device_ = new QLabel(this);
    device_->setObjectName("deviceLine");
    bottom->addWidget(device_, 1);
    auto* mergeToggle = new QToolButton(this);
    mergeToggle->setObjectName("mergeToggle");
    mergeToggle->setText("Merge FW");
    mergeToggle->setCheckable(true);
    mergeToggle->setAutoRaise(true);
    mergeToggle->setToolTip("Show the merge tool");
    bottom->addWidget(mergeToggle);
    column->addLayout(bottom);

    mergeGroup->setVisible(false);
    connect(mergeToggle, &QToolButton::toggled, mergeGroup, &QWidget::setVisible);

    subscription_ = ChangeNotifier::Subscription(page_.changed, [this] { sync(); });
    sync();
}

QWidget* FirmwareView::buildUpgradeGroup()
{
    auto* group = new QGroupBox("FW Upgrade", this);
    auto* grid = new QGridLayout(group);
    grid->setHorizontalSpacing(kSpacingPx);
    grid->setVerticalSpacing(kSpacingPx);
    grid->addWidget(new QLabel("Open FW File", group), 0, 0);
    path_ = pathBox("firmwarePath", group);
    grid->addWidget(path_, 0, 1);
    browse_ = browseButton("firmwareBrowse", group);
    grid->addWidget(browse_, 0, 2);
    progress_ = new QProgressBar(group);
    progress_->setObjectName("upgradeProgress");
    progress_->setTextVisible(false);
    grid->addWidget(progress_, 1, 0, 1, 2);
    upgrade_ = pageButton("Upgrade", "upgradeButton", group);
    grid->addWidget(upgrade_, 1, 2);
    grid->setColumnStretch(1, 1);

    connect(browse_, &QAbstractButton::clicked, this, [this] {
        const QString path = chooseFile(kFirmwareFile);
        if (!path.isEmpty())
            page_.setFilePath(path.toStdString());
    });
    connect(upgrade_, &QAbstractButton::clicked, this, [this] { page_.upgradeClicked(); });
    return group;
}

QWidget* FirmwareView::buildMessagesGroup()
{
    auto* group = new QGroupBox("Messages", this);
    auto* row = new QHBoxLayout(group);
    row->setSpacing(kSpacingPx);
    messages_ = new QPlainTextEdit(group);
    messages_->setObjectName("messagesBox");
    messages_->setReadOnly(true);
    row->addWidget(messages_, 1);
    auto* clear = pageButton("Clear", "clearButton", group);
    row->addWidget(clear, 0, Qt::AlignBottom);
    connect(clear, &QAbstractButton::clicked, this, [this] { page_.clearClicked(); });
    return group;
}

QGroupBox* FirmwareView::buildMergeGroup()
{
    auto* group = new QGroupBox("Merge FW", this);
    group->setObjectName("mergeGroup");
    auto* grid = new QGridLayout(group);
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(4);
    for (int i = 0; i < 4; ++i) {
        auto idx = static_cast<std::size_t>(i);
        grid->addWidget(new QLabel(kSourceCaptions[i], group), i, 0);
        sourcePath_[idx] = pathBox(QString("sourcePath%1").arg(i + 1), group);
        grid->addWidget(sourcePath_[idx], i, 1);
        for (int v = 0; v < 2; ++v) {
            auto* box = new QLineEdit(group);
            box->setPlaceholderText(kVersionPlaceholders[i][v]);
            box->setFixedWidth(72);
            sourceVersion_[idx][static_cast<std::size_t>(v)] = box;
            grid->addWidget(box, i, 2 + v);
        }
        auto* browse = browseButton(QString("sourceBrowse%1").arg(i + 1), group);
        grid->addWidget(browse, i, 4);
        connect(browse, &QAbstractButton::clicked, this, [this, i] {
            const QString path = chooseFile(i);
            if (!path.isEmpty())
                page_.pickMergeSource(i, path.toStdString());
        });
    }
    auto* merge = pageButton("Merge", "mergeButton", group);
    grid->addWidget(merge, 4, 4 - 1, 1, 2, Qt::AlignRight);
    grid->setColumnStretch(1, 1);
    connect(merge, &QAbstractButton::clicked, this, [this] { page_.mergeClicked(); });
    return group;
}

QString FirmwareView::chooseFile(int what)
{
    if (chooser_)
        return chooser_(what);
    QFileDialog dialog(this, "Open");
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setOption(QFileDialog::ReadOnly);
    if (what == kFirmwareFile) {
        dialog.setNameFilter("Binary file(*.fw)");
        dialog.setDefaultSuffix("fw");
    } else {
        dialog.setNameFilter(what == 0 ? "Binary file(*.bin)" : "Binary file(*)");
        dialog.setDefaultSuffix("bin");
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().first();
}

void FirmwareView::sync()
{
    path_->setText(q(page_.filePath()));
    browse_->setEnabled(page_.browseEnabled());
    if (progress_->maximum() != page_.progressMaximum())
        progress_->setRange(0, page_.progressMaximum());
    progress_->setValue(page_.progressPosition());
    upgrade_->setEnabled(page_.upgradeEnabled());
    device_->setText(q(page_.deviceLine()));

    const std::string& log = page_.messages();
    if (log != shownMessages_) {
        messages_->setPlainText(logText(log));
        messages_->verticalScrollBar()->setValue(messages_->verticalScrollBar()->maximum());
        shownMessages_ = log;
    }

    const FirmwareMerger& merger = page_.merger();
    for (int i = 0; i < 4; ++i) {
        const auto& src = merger.source(i);
        auto idx = static_cast<std::size_t>(i);
        sourcePath_[idx]->setText(q(src.pathBox));
        sourceVersion_[idx][0]->setText(q(src.version1));
        sourceVersion_[idx][1]->setText(q(src.version2));
    }

    if (page_.messageBoxOpen() && !messageBox_) {
        messageBox_ =
            new QMessageBox(QMessageBox::Warning, "FW Upgrade", q(page_.messageBoxText()), QMessageBox::Ok, this);
        messageBox_->setObjectName("firmwareMessageBox");
        messageBox_->setWindowModality(Qt::WindowModal);
        connect(messageBox_, &QMessageBox::finished, this, [this] {
            messageBox_->deleteLater();
            messageBox_ = nullptr;
            page_.closeMessageBox();
        });
        messageBox_->open();
    }
}

}  // namespace matrix::gui
