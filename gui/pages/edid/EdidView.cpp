// SPDX-License-Identifier: Apache-2.0
#include "gui/pages/edid/EdidView.h"

#include "core/pages/edid/EdidPage.h"
#include "gui/skin/GradientButton.h"
#include "gui/skin/Icons.h"
#include "gui/skin/ImageButton.h"
#include "gui/skin/PageMetrics.h"

#include <QComboBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace matrix::gui {

namespace {

using namespace page_metrics;

constexpr int kRowSpacingPx = 14;
constexpr int kColumnSpacingPx = 10;
constexpr int kTargetWidthPx = 110;
constexpr int kWideColumnPx = 230;

QComboBox* makeCombo(const std::vector<std::string>& rows, const char* name, int widthPx, QWidget* parent)
{
    auto* combo = new QComboBox(parent);
    combo->setObjectName(name);
    for (const std::string& row : rows)
        combo->addItem(q(row));
    combo->setMinimumWidth(widthPx);
    return combo;
}

GradientButton* makeSetButton(const char* name, QWidget* parent)
{
    auto* button = GradientButton::commandButton("Set", name, parent);
    button->setMinimumWidth(kButtonWidthPx);
    button->setFixedHeight(kButtonHeightPx);
    return button;
}

QLabel* makeCaption(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    return label;
}

// Forwards a row the user picked; a row set by sync() is not a choice.
void onActivated(QComboBox* combo, QObject* context, std::function<void(int)> choose)
{
    QObject::connect(combo, &QComboBox::activated, context, [choose = std::move(choose)](int row) { choose(row); });
}

}  // namespace

EdidView::EdidView(EdidPage& page, QWidget* parent) : QWidget(parent), page_(page)
{
    setObjectName("edidView");
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(kMarginPx, kMarginPx, kMarginPx, kMarginPx);

    group_ = new QGroupBox("Manual Mode", this);
    group_->setObjectName("manualModeGroup");
    auto* grid = new QGridLayout(group_);
    grid->setContentsMargins(14, 18, 14, 18);
    grid->setHorizontalSpacing(kColumnSpacingPx);
    grid->setVerticalSpacing(kRowSpacingPx);

    addRows(grid);
    grid->setColumnStretch(1, 1);
    column->addWidget(group_);
    column->addStretch(1);

    connectPage();
    subscription_ = page_.changed.subscribe([this] { sync(); });
    sync();
}

EdidView::~EdidView() { page_.changed.unsubscribe(subscription_); }

void EdidView::addRows(QGridLayout* grid)
{
    grid->addWidget(makeCaption("Set EDID Mode", group_), 0, 0);
    mode_ = makeCombo(EdidPage::modeRows(), "modeCombo", kWideColumnPx, group_);
    grid->addWidget(mode_, 0, 1);
    addRowEnd(grid, 0, setTarget_, "setTargetCombo", set_, "setModeButton");

    grid->addWidget(makeCaption("Copy EDID From", group_), 1, 0);
    copySource_ = makeCombo(page_.sourceRows(), "copySourceCombo", kWideColumnPx, group_);
    grid->addWidget(copySource_, 1, 1);
    addRowEnd(grid, 1, copyTarget_, "copyTargetCombo", copy_, "copyButton");

    // Download row: the path box is filled only by an accepted file.
    grid->addWidget(makeCaption("Open EDID ", group_), 2, 0);
    auto* fileRow = new QHBoxLayout;
    fileRow->setSpacing(4);
    path_ = new QLineEdit(group_);
    path_->setObjectName("edidPath");
    path_->setReadOnly(true);
    fileRow->addWidget(path_, 1);
    browse_ = new ImageButton(group_);
    browse_->setObjectName("edidBrowse");
    browse_->setIcons(icons::openFile(), QSize(16, 16));
    browse_->setTooltipText("Open");
    browse_->setFixedSize(kBrowseSizePx, kBrowseSizePx);
    fileRow->addWidget(browse_);
    grid->addLayout(fileRow, 2, 1);
    addRowEnd(grid, 2, downloadTarget_, "downloadTargetCombo", download_, "downloadButton");
}

// Every row ends alike: "to", the target inputs, and its Set button.
void EdidView::addRowEnd(QGridLayout* grid, int row, QComboBox*& target, const char* targetName,
                         GradientButton*& button, const char* buttonName)
{
    grid->addWidget(makeCaption("to", group_), row, 2);
    target = makeCombo(page_.targetRows(), targetName, kTargetWidthPx, group_);
    grid->addWidget(target, row, 3);
    button = makeSetButton(buttonName, group_);
    grid->addWidget(button, row, 4);
}

void EdidView::connectPage()
{
    onActivated(mode_, this, [this](int row) { page_.selectMode(row); });
    onActivated(setTarget_, this, [this](int row) { page_.selectSetTarget(row); });
    onActivated(copySource_, this, [this](int row) { page_.selectCopySource(row); });
    onActivated(copyTarget_, this, [this](int row) { page_.selectCopyTarget(row); });
    onActivated(downloadTarget_, this, [this](int row) { page_.selectDownloadTarget(row); });
    connect(set_, &QAbstractButton::clicked, this, [this] { page_.clickSetMode(); });
    connect(copy_, &QAbstractButton::clicked, this, [this] { page_.clickCopy(); });
    connect(download_, &QAbstractButton::clicked, this, [this] { page_.clickDownload(); });
    connect(browse_, &QAbstractButton::clicked, this, [this] {
        const QString path = chooseFile();
        if (!path.isEmpty())
            page_.openEdidFile(path.toStdString());
    });
}

QString EdidView::chooseFile()
{
    if (chooser_)
        return chooser_();
    QFileDialog dialog(this, "Open");
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilter("Binary file(*.BIN)");
    dialog.setDefaultSuffix("BIN");
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().first();
}

void EdidView::sync()
{
    const std::pair<QComboBox*, int> selections[] = {
        {mode_, page_.modeIndex()},
        {setTarget_, page_.setTargetIndex()},
        {copySource_, page_.copySourceIndex()},
        {copyTarget_, page_.copyTargetIndex()},
        {downloadTarget_, page_.downloadTargetIndex()},
    };
    for (const auto& [combo, row] : selections) {
        if (combo->currentIndex() == row)
            continue;
        const QSignalBlocker quiet(combo);
        combo->setCurrentIndex(row);
    }
    const QString path = q(page_.pathText());
    if (path_->text() != path) {
        path_->setText(path);
        path_->setToolTip(path);
        path_->setCursorPosition(path.size());  // the file name is the part that matters
    }
}

}  // namespace matrix::gui
