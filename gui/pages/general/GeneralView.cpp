// SPDX-License-Identifier: Apache-2.0
#include "gui/pages/general/GeneralView.h"

#include "core/pages/general/GeneralPage.h"
#include "core/transport/ComPorts.h"
#include "gui/skin/LinkIndicator.h"
#include "gui/skin/PageParts.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace matrix::gui {

namespace {

using page_metrics::kMarginPx;
using page_metrics::kProgramBlue;
using page_metrics::q;

const QColor kConnectedGreen(0, 255, 0);
const QColor kDisconnectedRed(255, 0, 0);
constexpr int kButtonWidthPx = 80;
constexpr int kSpacingPx = 8;

// Replaces the rows only when they differ, so that an open drop-down and the
// user's place in it survive the 500 ms rescan.
bool sameRows(const QComboBox* combo, const std::vector<std::string>& rows)
{
    if (combo->count() != static_cast<int>(rows.size()))
        return false;
    for (int i = 0; i < combo->count(); ++i)
        if (combo->itemText(i) != q(rows[static_cast<std::size_t>(i)]))
            return false;
    return true;
}

QPushButton* makeButton(const QString& text, const char* name, QWidget* parent)
{
    auto* button = new QPushButton(text, parent);
    button->setObjectName(name);
    button->setMinimumWidth(kButtonWidthPx);
    button->setAutoDefault(false);
    return button;
}

// A group of the connection panel with its controls on a grid.
QGridLayout* makeGridGroup(QGroupBox*& group, const QString& title, const char* name, QWidget* parent)
{
    group = new QGroupBox(title, parent);
    group->setObjectName(name);
    auto* grid = new QGridLayout(group);
    grid->setHorizontalSpacing(kSpacingPx);
    return grid;
}

// The first row of a connection group: its caption and its list.
QComboBox* addListRow(QGridLayout* grid, const QString& caption, const char* name, int columnSpan)
{
    QWidget* group = grid->parentWidget();
    grid->addWidget(new QLabel(caption, group), 0, 0);
    auto* list = new QComboBox(group);
    list->setObjectName(name);
    grid->addWidget(list, 0, 1, 1, columnSpan);
    return list;
}

// A connection group's Connect button with the indicator of its link beside it.
QPushButton* addConnectRow(QGridLayout* grid, int row, int column, const char* buttonName, LinkIndicator*& indicator,
                           const char* indicatorName)
{
    QWidget* group = grid->parentWidget();
    auto* button = makeButton("Connect", buttonName, group);
    indicator = new LinkIndicator(group);
    indicator->setObjectName(indicatorName);
    grid->addWidget(button, row, column, Qt::AlignRight);
    grid->addWidget(indicator, row, column + 1, Qt::AlignCenter);
    return button;
}

}  // namespace

GeneralView::GeneralView(GeneralPage& page, QWidget* parent) : QWidget(parent), page_(page)
{
    setObjectName("generalView");
    auto* columns = pageLayout<QHBoxLayout>(this, kMarginPx);

    columns->addWidget(buildConnectionPanel(), 9);
    auto* right = new QVBoxLayout;
    right->setSpacing(kSpacingPx);
    right->addWidget(buildDeviceInformation());
    right->addWidget(buildDeviceSettings());
    right->addStretch(1);
    columns->addLayout(right, 13);

    subscription_ = ChangeNotifier::Subscription(page_.changed, [this] { sync(); });
    sync();
}

// A click forwards to the page, then the view shows what the page made of it.
void GeneralView::onClick(QAbstractButton* button, std::function<void()> action)
{
    connect(button, &QAbstractButton::clicked, this, [this, action = std::move(action)] {
        action();
        sync();
    });
}

QWidget* GeneralView::buildConnectionPanel()
{
    auto* panel = new QWidget(this);
    stackFromTop(panel, QMargins(), kSpacingPx, {buildModeGroup(panel), buildComGroup(panel), buildTcpGroup(panel)});
    return panel;
}

QGroupBox* GeneralView::buildModeGroup(QWidget* panel)
{
    auto* modeGroup = new QGroupBox("Control Mode Select", panel);
    auto* modeLayout = new QVBoxLayout(modeGroup);
    comMode_ = new QRadioButton("COM Control Mode", modeGroup);
    comMode_->setObjectName("comModeRadio");
    tcpMode_ = new QRadioButton("TCP Control Mode", modeGroup);
    tcpMode_->setObjectName("tcpModeRadio");
    modeLayout->addWidget(comMode_);
    modeLayout->addWidget(tcpMode_);
    // The radios show the page's mode; a click only asks for it.
    auto* modes = new QButtonGroup(this);
    modes->addButton(comMode_);
    modes->addButton(tcpMode_);
    onClick(comMode_, [this] { page_.selectComMode(); });
    onClick(tcpMode_, [this] { page_.selectTcpMode(); });
    return modeGroup;
}

QGroupBox* GeneralView::buildComGroup(QWidget* panel)
{
    auto* comLayout = makeGridGroup(com_.group, "COM Control Mode", "comGroup", panel);
    com_.list = addListRow(comLayout, "Port", "comList", 1);
    com_.list->setMinimumWidth(90);
    com_.connect = addConnectRow(comLayout, 1, 1, "comConnectButton", com_.indicator, "comIndicator");
    comLayout->setColumnStretch(1, 1);
    connect(com_.list, &QComboBox::activated, this, [this](int index) {
        page_.selectComPort(com_.list->itemText(index).toStdString());
        sync();
    });
    onClick(com_.connect, [this] {
        // The page reads the list's text, which the view keeps in step.
        page_.selectComPort(com_.list->currentText().toStdString());
        page_.comConnectClicked();
    });
    return com_.group;
}

QGroupBox* GeneralView::buildTcpGroup(QWidget* panel)
{
    auto* tcpLayout = makeGridGroup(tcp_.group, "TCP Control Mode", "tcpGroup", panel);
    tcp_.list = addListRow(tcpLayout, "Matrix  IP", "ipList", 2);
    tcp_.list->setEditable(true);
    tcp_.list->setInsertPolicy(QComboBox::NoInsert);
    auto* search = makeButton("Search", "searchButton", tcp_.group);
    auto* config = makeButton("Config...", "configButton", tcp_.group);
    auto* searchRow = new QHBoxLayout;
    searchRow->setSpacing(kSpacingPx);
    searchRow->addWidget(search);
    searchRow->addWidget(config);
    tcpLayout->addLayout(searchRow, 1, 1, 1, 2);
    tcp_.connect = addConnectRow(tcpLayout, 2, 2, "tcpConnectButton", tcp_.indicator, "tcpIndicator");
    tcpLayout->setColumnStretch(1, 1);
    connect(tcp_.list->lineEdit(), &QLineEdit::textEdited, this,
            [this](const QString& text) { page_.setIpText(text.toStdString()); });
    connect(tcp_.list, &QComboBox::activated, this, [this](int index) {
        page_.selectIpEntry(index);
        sync();
    });
    onClick(search, [this] { page_.searchClicked(); });
    onClick(config, [this] { page_.configClicked(); });
    onClick(tcp_.connect, [this] {
        page_.setIpText(tcp_.list->currentText().toStdString());
        page_.tcpConnectClicked();
    });
    return tcp_.group;
}

QWidget* GeneralView::buildDeviceInformation()
{
    auto* group = new QGroupBox("Device Information", this);
    auto* layout = new QVBoxLayout(group);
    layout->setSpacing(kSpacingPx);

    layout->addWidget(buildStatePanel(group));

    auto* status = makeButton("Status", "statusButton", group);
    auto* clear = makeButton("Clear", "clearButton", group);
    layout->addLayout(rightAlignedRow({status, clear}));
    onClick(status, [this] {
        page_.setIpText(tcp_.list->currentText().toStdString());
        page_.statusClicked();
    });
    onClick(clear, [this] { page_.clearClicked(); });
    return group;
}

// The blue panel of cable states: inputs left, outputs right.
QFrame* GeneralView::buildStatePanel(QWidget* group)
{
    auto* panel = new QFrame(group);
    panel->setObjectName("statePanel");
    panel->setFrameShape(QFrame::Panel);
    panel->setFrameShadow(QFrame::Sunken);
    panel->setAutoFillBackground(true);
    QPalette pal = panel->palette();
    pal.setColor(QPalette::Window, kProgramBlue);
    pal.setColor(QPalette::WindowText, Qt::white);
    panel->setPalette(pal);
    auto* grid = new QGridLayout(panel);
    grid->setContentsMargins(10, 8, 10, 8);
    grid->setHorizontalSpacing(10);
    grid->setVerticalSpacing(4);

    // Condensed bold keeps the longest text ("HDMI OUTD: Disconnect") whole
    // in two columns.
    QFont stateFont = font();
    stateFont.setFamilies({"DejaVu Sans Condensed", "DejaVu Sans"});
    stateFont.setBold(true);
    const int stateWidthPx = QFontMetrics(stateFont).horizontalAdvance("HDMI OUTD: Disconnect") + 4;
    for (int n = 1; n <= 8; ++n) {
        auto makeLabel = [&](const char* prefix) {
            auto* label = new QLabel(panel);
            label->setObjectName(QString("%1%2").arg(prefix).arg(n));
            label->setFont(stateFont);
            label->setMinimumSize(stateWidthPx, 22);
            // The matrix has four ports of each kind; the chain never asks for
            // ports 5 to 8, so their labels stay hidden.
            label->setVisible(n <= GeneralPage::kQueriedPorts);
            return label;
        };
        inputLabels_[static_cast<std::size_t>(n - 1)] = makeLabel("inputState");
        outputLabels_[static_cast<std::size_t>(n - 1)] = makeLabel("outputState");
        if (n <= GeneralPage::kQueriedPorts) {
            grid->addWidget(inputLabels_[static_cast<std::size_t>(n - 1)], n - 1, 0);
            grid->addWidget(outputLabels_[static_cast<std::size_t>(n - 1)], n - 1, 1);
        }
    }
    grid->setColumnStretch(0, 1);
    grid->setColumnStretch(1, 1);
    panel->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    return panel;
}

QWidget* GeneralView::buildDeviceSettings()
{
    auto* column = new QWidget(this);
    auto* layout = new QVBoxLayout(column);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(kSpacingPx);

    auto* beepGroup = new QGroupBox("Disable/Enable Beep", column);
    auto* beepLayout = new QVBoxLayout(beepGroup);
    ir_ = new QCheckBox("Enable IR Control", beepGroup);
    ir_->setObjectName("irBox");
    ir_->hide();  // created hidden; its replies still keep it in step
    beep_ = new QCheckBox("Enable Beep ", beepGroup);
    beep_->setObjectName("beepBox");
    beepLayout->addWidget(ir_);
    beepLayout->addWidget(beep_);
    // The boxes show only what the matrix confirmed: the click is forwarded
    // and the box re-reads the page, undoing the toolkit's own toggle.
    connect(beep_, &QCheckBox::clicked, this, [this] {
        page_.beepClicked();
        sync();
    });
    connect(ir_, &QCheckBox::clicked, this, [this] {
        page_.irClicked();
        sync();
    });
    layout->addWidget(beepGroup);

    auto* resetGroup = new QGroupBox("Reset to the factory settings", column);
    auto* resetLayout = new QHBoxLayout(resetGroup);
    auto* factoryReset = makeButton("Factory Reset", "factoryResetButton", resetGroup);
    factoryReset->setMinimumWidth(120);
    resetLayout->addWidget(factoryReset);
    resetLayout->addStretch(1);
    onClick(factoryReset, [this] { page_.factoryResetClicked(); });
    layout->addWidget(resetGroup);
    return column;
}

void GeneralView::syncComList()
{
    const QSignalBlocker block(com_.list);
    if (!sameRows(com_.list, page_.comPorts())) {
        com_.list->clear();
        for (const std::string& name : page_.comPorts()) {
            com_.list->addItem(q(name));
            if (auto n = comPortNumber(name))
                com_.list->setItemData(com_.list->count() - 1, q(comDevicePath(*n)), Qt::ToolTipRole);
        }
    }
    com_.list->setCurrentIndex(page_.comSelection());
    const auto number = comPortNumber(page_.comSelectedText());
    com_.list->setToolTip(number ? q(comDevicePath(*number)) : QString());
}

void GeneralView::syncIpList()
{
    const QSignalBlocker block(tcp_.list);
    if (!sameRows(tcp_.list, page_.ipEntries())) {
        tcp_.list->clear();
        for (const std::string& address : page_.ipEntries())
            tcp_.list->addItem(q(address));
    }
    if (page_.ipSelection() >= 0 && page_.ipSelection() < tcp_.list->count())
        tcp_.list->setCurrentIndex(page_.ipSelection());
    // Typing goes to the page as it happens; only a change from the page
    // (a selection, a search that emptied the list) rewrites the text.
    if (tcp_.list->currentText() != q(page_.ipText()))
        tcp_.list->setEditText(q(page_.ipText()));
}

void GeneralView::showLink(const LinkGroup& link, bool enabled, const char* connectText, bool connected)
{
    link.group->setEnabled(enabled);
    link.connect->setText(connectText);
    link.indicator->setConnected(connected);
}

void GeneralView::sync()
{
    {
        const QSignalBlocker blockCom(comMode_);
        const QSignalBlocker blockTcp(tcpMode_);
        comMode_->setChecked(page_.comModeSelected());
        tcpMode_->setChecked(page_.tcpModeSelected());
    }

    showLink(com_, page_.comGroupEnabled(), page_.comConnectText(), page_.comIndicatorConnected());
    com_.list->setEnabled(page_.comListEnabled());
    syncComList();
    showLink(tcp_, page_.tcpGroupEnabled(), page_.tcpConnectText(), page_.tcpIndicatorConnected());
    syncIpList();

    for (int n = 1; n <= 8; ++n) {
        auto paint = [](QLabel* label, const std::string& text, bool connected) {
            label->setText(q(text));
            QPalette pal = label->palette();
            pal.setColor(QPalette::WindowText, connected ? kConnectedGreen : kDisconnectedRed);
            label->setPalette(pal);
        };
        paint(inputLabels_[static_cast<std::size_t>(n - 1)], page_.inputLabel(n), page_.inputConnected(n));
        paint(outputLabels_[static_cast<std::size_t>(n - 1)], page_.outputLabel(n), page_.outputConnected(n));
    }

    {
        const QSignalBlocker blockBeep(beep_);
        const QSignalBlocker blockIr(ir_);
        beep_->setChecked(page_.beepChecked());
        ir_->setChecked(page_.irChecked());
    }
}

}  // namespace matrix::gui
