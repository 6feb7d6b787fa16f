// SPDX-License-Identifier: Apache-2.0
#include "gui/pages/routing/RoutingView.h"

#include "core/pages/routing/RoutingPage.h"
#include "gui/MainWindow.h"
#include "gui/skin/GradientButton.h"
#include "gui/skin/Icons.h"
#include "gui/skin/ImageButton.h"
#include "gui/skin/PageParts.h"
#include "gui/skin/SegmentDisplay.h"

#include <QComboBox>
#include <QDialog>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QResizeEvent>
#include <QSignalBlocker>
#include <QTableWidget>
#include <QToolButton>
#include <QVBoxLayout>

namespace matrix::gui {

namespace {

using namespace page_metrics;

const QColor kCheckedText(255, 255, 255);
const QColor kSegmentBack(0, 0, 0);
const QColor kSegmentOff(0, 0, 0);
const QColor kSegmentOn(0, 255, 0);
constexpr int kSpacingPx = 10;
constexpr QSize kDisplaySize(92, 124);
constexpr QSize kGridButtonSize(30, 28);
constexpr QSize kStepIconSize(16, 16);
// Wide enough for the preset list's name column and Output1..Output4;
// Output5..Output8 are reached by the list's scroll bar.
constexpr int kPanelWidthPx = 406;
constexpr int kPresetNameColumnPx = 80;
constexpr int kPresetOutputColumnPx = 70;
constexpr int kPresetRowPx = 20;

GradientButton* makeGradientButton(const QString& caption, const char* name, QWidget* parent)
{
    auto* button = GradientButton::commandButton(caption, name, parent);
    button->setFixedSize(84, 26);
    return button;
}

}  // namespace

RoutingView::RoutingView(RoutingPage& page, QWidget* parent) : QWidget(parent), page_(page)
{
    setObjectName("routingView");
    auto* column = pageLayout<QVBoxLayout>(this, kSpacingPx);

    auto* outputs = new QHBoxLayout;
    outputs->setSpacing(kSpacingPx);
    for (int output = 1; output <= kOutputs; ++output)
        outputs->addWidget(buildOutputGroup(output));
    column->addStretch(1);
    column->addLayout(outputs);
    column->addStretch(2);

    auto* bottom = new QHBoxLayout;
    bottom->addStretch(1);
    panelToggle_ = new QToolButton(this);
    panelToggle_->setObjectName("panelToggle");
    panelToggle_->setText("Presets ◂");
    panelToggle_->setToolTip("Presets and output configuration");
    panelToggle_->setCheckable(true);
    panelToggle_->setAutoRaise(true);
    bottom->addWidget(panelToggle_);
    column->addLayout(bottom);

    panel_ = buildSidePanel();
    panel_->hide();
    connect(panelToggle_, &QToolButton::toggled, this, [this](bool open) {
        panelToggle_->setText(open ? "Presets ▸" : "Presets ◂");
        placeSidePanel();
        panel_->setVisible(open);
        panel_->raise();
    });

    editor_ = buildPresetEditor();
    messageBox_ =
        new QMessageBox(QMessageBox::Information, MainWindow::applicationTitle(), QString(), QMessageBox::Ok, this);
    messageBox_->setObjectName("routingMessageBox");
    messageBox_->setWindowModality(Qt::WindowModal);
    connect(messageBox_, &QMessageBox::finished, this, [this] {
        if (page_.messageBoxOpen())
            page_.dismissMessageBox();
    });

    subscription_ = ChangeNotifier::Subscription(page_.changed, [this] { sync(); });
    sync();
}

ImageButton* RoutingView::inputButton(int output, int input) const
{
    return inputs_.at(static_cast<std::size_t>(output - 1)).at(static_cast<std::size_t>(input - 1));
}

QGroupBox* RoutingView::buildOutputGroup(int output)
{
    const QString letter(QChar('A' + output - 1));
    auto* group = new QGroupBox("OUTPUT " + letter, this);
    group->setObjectName("outputGroup" + letter);
    group->setAlignment(Qt::AlignHCenter);
    auto* layout = new QVBoxLayout(group);
    layout->setSpacing(8);
    layout->setContentsMargins(8, 12, 8, 10);

    auto* display = new SegmentDisplay(group);
    display->setObjectName("display" + letter);
    display->setFixedSize(kDisplaySize);
    display->setBackgroundColor(kSegmentBack);
    display->setColors(kSegmentOff, kSegmentOn);
    display->setText("1");
    layout->addWidget(display, 0, Qt::AlignHCenter);
    displays_[static_cast<std::size_t>(output - 1)] = display;

    auto* inputs = new QHBoxLayout;
    inputs->setSpacing(4);
    for (int input = 1; input <= kInputs; ++input) {
        auto* button = new ImageButton(QString::number(input), group);
        button->setObjectName(QString("input%1%2").arg(letter).arg(input));
        button->setFixedSize(kGridButtonSize);
        button->setFlat(false);
        button->setCheckBoxMode(true);
        // A checked (pushed-in) button carries the output's input.
        button->setColor(ImageButton::BackgroundIn, kProgramBlue, false);
        button->setColor(ImageButton::ForegroundIn, kCheckedText, false);
        connect(button, &QAbstractButton::clicked, this, [this, output, input] {
            page_.clickGrid(output, input);
            // The click toggled the button; only a reply changes the grid.
            sync();
        });
        inputs->addWidget(button);
        inputs_[static_cast<std::size_t>(output - 1)][static_cast<std::size_t>(input - 1)] = button;
    }
    layout->addLayout(inputs);

    layout->addLayout(buildStepRow(group, output));
    return group;
}

QFrame* RoutingView::buildSidePanel()
{
    auto* panel = new QFrame(this);
    panel->setObjectName("routingSidePanel");
    panel->setFrameShape(QFrame::StyledPanel);
    panel->setFrameShadow(QFrame::Raised);
    panel->setAutoFillBackground(true);
    stackFromTop(panel, QMargins(8, 6, 8, 8), 6, {buildPresetGroup(panel), buildConfigGroup(panel)});
    return panel;
}

QGroupBox* RoutingView::buildPresetGroup(QWidget* panel)
{
    auto* presets = new QGroupBox("Presets", panel);
    auto* presetLayout = new QVBoxLayout(presets);
    presetLayout->setSpacing(6);
    presetList_ = buildPresetTable(presets);
    connect(presetList_, &QTableWidget::cellClicked, this, [this](int row, int) { page_.clickPresetRow(row); });
    presetLayout->addWidget(presetList_);

    auto* edit = makeGradientButton("Edit", "editButton", presets);
    auto* set = makeGradientButton("Set", "setButton", presets);
    presetLayout->addLayout(rightAlignedRow({edit, set}));
    connect(edit, &QAbstractButton::clicked, this, [this] { page_.clickEdit(); });
    connect(set, &QAbstractButton::clicked, this, [this] { page_.clickSet(); });
    set_ = set;
    return presets;
}

QTableWidget* RoutingView::buildPresetTable(QWidget* parent)
{
    auto* list = new QTableWidget(RoutingPage::kPresetRows, RoutingPage::kPresetColumns, parent);
    list->setObjectName("presetList");
    QStringList headers{QString()};
    for (int k = 1; k <= RoutingPage::kOutputs; ++k)
        headers << QString("Output%1").arg(k);
    list->setHorizontalHeaderLabels(headers);
    list->verticalHeader()->hide();
    list->verticalHeader()->setDefaultSectionSize(kPresetRowPx);
    list->horizontalHeader()->setDefaultAlignment(Qt::AlignCenter);
    list->horizontalHeader()->setSectionsClickable(false);
    list->setColumnWidth(0, kPresetNameColumnPx);
    for (int k = 1; k < RoutingPage::kPresetColumns; ++k)
        list->setColumnWidth(k, kPresetOutputColumnPx);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->setShowGrid(true);
    list->setSortingEnabled(false);
    list->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list->setFixedHeight(list->horizontalHeader()->sizeHint().height() + RoutingPage::kPresetRows * kPresetRowPx + 2 +
                         16);
    for (int row = 0; row < RoutingPage::kPresetRows; ++row)
        for (int col = 0; col < RoutingPage::kPresetColumns; ++col) {
            auto* item = new QTableWidgetItem;
            item->setTextAlignment(Qt::AlignCenter);
            list->setItem(row, col, item);
        }
    return list;
}

QGroupBox* RoutingView::buildConfigGroup(QWidget* panel)
{
    auto* config = new QGroupBox("Output configuration", panel);
    auto* configLayout = new QGridLayout(config);
    configLayout->setHorizontalSpacing(4);
    configLayout->setVerticalSpacing(6);
    configLayout->addWidget(new QLabel("Select Output", config), 0, 0, 1, 3);
    configTarget_ = new QComboBox(config);
    configTarget_->setObjectName("configTargetList");
    for (int i = 0; i < RoutingPage::kConfigEntries; ++i)
        configTarget_->addItem(RoutingPage::configEntryText(i));
    configLayout->addWidget(configTarget_, 0, 3, 1, 5);
    connect(configTarget_, &QComboBox::activated, this, [this](int index) { page_.selectConfigTarget(index); });
    for (int n = 1; n <= RoutingPage::kInputs; ++n) {
        auto* button = new QPushButton(QString::number(n), config);
        button->setObjectName(QString("configInput%1").arg(n));
        button->setFixedSize(36, 26);
        button->setAutoDefault(false);
        configLayout->addWidget(button, 1, n - 1);
        connect(button, &QPushButton::clicked, this, [this, n] { page_.clickConfigInput(n); });
        configInputs_[static_cast<std::size_t>(n - 1)] = button;
    }
    return config;
}

// Step buttons sit under inputs 2 and 3, centred under the row.
QHBoxLayout* RoutingView::buildStepRow(QWidget* group, int output)
{
    const QString letter(QChar('A' + output - 1));
    auto* steps = new QHBoxLayout;
    steps->setSpacing(4);
    steps->addStretch(1);
    auto makeStep = [&](const QIcon& icon, const QString& name, const QString& tip) {
        auto* button = new ImageButton(group);
        button->setObjectName(name + letter);
        button->setFixedSize(kGridButtonSize);
        button->setFlat(false);
        button->setIcons(icon, kStepIconSize);
        button->setTooltipText(tip);
        steps->addWidget(button);
        return button;
    };
    auto* previous = makeStep(icons::previous(), "previous", "Previous input");
    auto* next = makeStep(icons::next(), "next", "Next input");
    steps->addStretch(1);
    connect(previous, &QAbstractButton::clicked, this, [this, output] { page_.clickPrevious(output); });
    connect(next, &QAbstractButton::clicked, this, [this, output] { page_.clickNext(output); });
    return steps;
}

QDialog* RoutingView::buildPresetEditor()
{
    auto* dialog = new QDialog(this);
    dialog->setObjectName("presetEditor");
    dialog->setWindowTitle("Preset");
    dialog->setWindowModality(Qt::WindowModal);
    auto* layout = new QGridLayout(dialog);
    layout->setHorizontalSpacing(8);
    layout->addWidget(new QLabel("Name", dialog), 0, 0);
    editorName_ = new QLineEdit(dialog);
    editorName_->setObjectName("presetName");
    layout->addWidget(editorName_, 0, 1, 1, 3);

    QStringList inputs;
    for (int n = 1; n <= RoutingPage::kInputs; ++n)
        inputs << QString("In%1").arg(n);
    for (int k = 1; k <= RoutingPage::kOutputs; ++k) {
        const int row = 1 + (k - 1) % 4;
        const int col = (k - 1) / 4 * 2;
        layout->addWidget(new QLabel(QString("Output%1").arg(k), dialog), row, col);
        auto* combo = new QComboBox(dialog);
        combo->setObjectName(QString("presetInput%1").arg(k));
        combo->addItems(inputs);
        layout->addWidget(combo, row, col + 1);
        connect(combo, &QComboBox::activated, this, [this, k](int index) { page_.editorSelectInput(k, index); });
        editorInputs_[static_cast<std::size_t>(k - 1)] = combo;
    }
    layout->addWidget(new QLabel("All Outputs from", dialog), 5, 0);
    editorAllFrom_ = new QComboBox(dialog);
    editorAllFrom_->setObjectName("presetAllFrom");
    editorAllFrom_->addItem("Select Input");
    editorAllFrom_->addItems(inputs);
    editorAllFrom_->addItem("Port to Port");
    layout->addWidget(editorAllFrom_, 5, 1);
    connect(editorAllFrom_, &QComboBox::activated, this, [this](int item) { page_.editorChooseAllFrom(item); });

    auto* ok = new QPushButton("OK", dialog);
    ok->setObjectName("presetOk");
    auto* cancel = new QPushButton("Cancel", dialog);
    cancel->setObjectName("presetCancel");
    layout->addWidget(ok, 6, 2);
    layout->addWidget(cancel, 6, 3);
    connect(ok, &QPushButton::clicked, this, [this] { page_.editorOk(); });
    connect(cancel, &QPushButton::clicked, this, [this] { page_.editorCancel(); });
    // Closing the box by its frame is Cancel.
    connect(dialog, &QDialog::rejected, this, [this] { page_.editorCancel(); });
    return dialog;
}

void RoutingView::placeSidePanel()
{
    const int toggleRow = panelToggle_->height() + kMarginPx;
    panel_->setGeometry(width() - kPanelWidthPx, 0, kPanelWidthPx, height() - toggleRow);
}

void RoutingView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    placeSidePanel();
}

void RoutingView::sync()
{
    for (int output = 1; output <= kOutputs; ++output) {
        displays_[static_cast<std::size_t>(output - 1)]->setText(q(page_.displayText(output)));
        const int checked = page_.checkedInput(output);
        for (int input = 1; input <= kInputs; ++input)
            inputButton(output, input)->setCheck(checked == input);
    }
    syncPresets();
    syncEditor();
    syncMessageBox();
}

void RoutingView::syncPresets()
{
    for (int row = 0; row < RoutingPage::kPresetRows; ++row)
        for (int col = 0; col < RoutingPage::kPresetColumns; ++col) {
            QTableWidgetItem* item = presetList_->item(row, col);
            const QString text = q(page_.presetCell(row, col));
            if (item->text() != text)
                item->setText(text);
        }
    {
        const QSignalBlocker block(configTarget_);
        configTarget_->setCurrentIndex(page_.configTarget());
    }
    // While a recall or a panel command runs these would do nothing.
    const bool ready = page_.panelReady();
    presetList_->setEnabled(ready);
    set_->setEnabled(ready);
    for (QPushButton* button : configInputs_)
        button->setEnabled(ready);
}

void RoutingView::syncEditor()
{
    if (!page_.editorOpen()) {
        if (editor_->isVisible()) {
            const QSignalBlocker block(editor_);
            editor_->hide();
        }
        return;
    }
    if (!editor_->isVisible())
        editorName_->setText(q(page_.editorName()));
    for (int k = 1; k <= RoutingPage::kOutputs; ++k) {
        QComboBox* combo = editorInputs_[static_cast<std::size_t>(k - 1)];
        const QSignalBlocker block(combo);
        combo->setCurrentIndex(page_.editorSelection(k));
    }
    {
        const QSignalBlocker block(editorAllFrom_);
        editorAllFrom_->setCurrentIndex(page_.editorAllFrom());
    }
    if (!editor_->isVisible())
        editor_->show();
}

void RoutingView::syncMessageBox()
{
    if (page_.messageBoxOpen()) {
        messageBox_->setText(q(page_.messageBoxText()));
        if (!messageBox_->isVisible())
            messageBox_->open();
    } else if (messageBox_->isVisible()) {
        messageBox_->hide();
    }
}

}  // namespace matrix::gui
