// SPDX-License-Identifier: Apache-2.0
#include "gui/pages/edid/EdidView.h"

#include "core/pages/edid/EdidPage.h"
#include "gui/skin/GradientButton.h"
#include "gui/skin/ImageButton.h"
#include "gui/skin/PageParts.h"

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
    auto* column = pageLayout<QVBoxLayout>(this);

    auto* group = new QGroupBox("Manual Mode", this);
    group->setObjectName("manualModeGroup");
    auto* grid = new QGridLayout(group);
    grid->setContentsMargins(14, 18, 14, 18);
    grid->setHorizontalSpacing(kColumnSpacingPx);
    grid->setVerticalSpacing(kRowSpacingPx);

    addRows(grid, group);
    grid->setColumnStretch(1, 1);
    column->addWidget(group);
    column->addStretch(1);

    subscription_ = ChangeNotifier::Subscription(page_.changed, [this] { sync(); });
    sync();
}

void EdidView::addRows(QGridLayout* grid, QWidget* group)
{
    grid->addWidget(makeCaption("Set EDID Mode", group), 0, 0);
    mode_ = makeCombo(EdidPage::modeRows(), "modeCombo", kWideColumnPx, group);
    grid->addWidget(mode_, 0, 1);
    onActivated(mode_, this, [this](int row) { page_.selectMode(row); });
    setTarget_ = addRowEnd(grid, group, 0, "setTargetCombo", "setModeButton", [this] { page_.clickSetMode(); });
    onActivated(setTarget_, this, [this](int row) { page_.selectSetTarget(row); });

    grid->addWidget(makeCaption("Copy EDID From", group), 1, 0);
    copySource_ = makeCombo(page_.sourceRows(), "copySourceCombo", kWideColumnPx, group);
    grid->addWidget(copySource_, 1, 1);
    onActivated(copySource_, this, [this](int row) { page_.selectCopySource(row); });
    copyTarget_ = addRowEnd(grid, group, 1, "copyTargetCombo", "copyButton", [this] { page_.clickCopy(); });
    onActivated(copyTarget_, this, [this](int row) { page_.selectCopyTarget(row); });

    // Download row: the path box is filled only by an accepted file.
    grid->addWidget(makeCaption("Open EDID ", group), 2, 0);
    auto* fileRow = new QHBoxLayout;
    fileRow->setSpacing(4);
    path_ = pathBox("edidPath", group);
    fileRow->addWidget(path_, 1);
    auto* browse = browseButton("edidBrowse", group);
    fileRow->addWidget(browse);
    connect(browse, &QAbstractButton::clicked, this, [this] {
        const QString path = chooseFile();
        if (!path.isEmpty())
            page_.openEdidFile(path.toStdString());
    });
    grid->addLayout(fileRow, 2, 1);
    downloadTarget_ =
        addRowEnd(grid, group, 2, "downloadTargetCombo", "downloadButton", [this] { page_.clickDownload(); });
    onActivated(downloadTarget_, this, [this](int row) { page_.selectDownloadTarget(row); });
}

QComboBox* EdidView::addRowEnd(QGridLayout* grid, QWidget* group, int row, const char* targetName,
                               const char* buttonName, std::function<void()> clicked)
{
    grid->addWidget(makeCaption("to", group), row, 2);
    auto* target = makeCombo(page_.targetRows(), targetName, kTargetWidthPx, group);
    grid->addWidget(target, row, 3);
    auto* button = pageButton("Set", buttonName, group);
    grid->addWidget(button, row, 4);
    connect(button, &QAbstractButton::clicked, this, std::move(clicked));
    return target;
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
