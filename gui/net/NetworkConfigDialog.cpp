// SPDX-License-Identifier: Apache-2.0
#include "gui/net/NetworkConfigDialog.h"

#include "core/net/NetworkConfig.h"
#include "gui/skin/Icons.h"
#include "gui/skin/ImageButton.h"
#include "gui/skin/PageParts.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

namespace matrix::gui {

namespace {

using page_metrics::kProgramBlue;

// 188 x 167 dialog units.
constexpr QSize kDialogSize(376, 334);
constexpr int kTitleHeightPx = 30;
constexpr int kCloseButtonWidthPx = 30;
constexpr int kCloseIconSizePx = 16;
constexpr int kFieldWidthPx = 38;

}  // namespace

NetworkConfigDialog::NetworkConfigDialog(NetworkConfig& model, QWidget* mainWindow)
    : DraggableWindow(mainWindow, Qt::Tool | Qt::FramelessWindowHint),
      model_(model),
      mainWindow_(mainWindow)
{
    setObjectName("networkConfigDialog");
    setWindowTitle(" TCP  Configuration");
    setFixedSize(kDialogSize);
    setAutoFillBackground(true);
    build();
    subscription_ = ChangeNotifier::Subscription(model_.changed, [this] { sync(); });
    sync();
}

namespace {

// A row of fields behind a caption, separated by "." or "-" labels.
void addFieldRow(QWidget* group, QVBoxLayout* grid, const QString& caption, const QString& separator, int count,
                 QLineEdit** fields, const QString& objectPrefix, int maxLength, const QRegularExpression& allowed)
{
    auto* row = new QHBoxLayout;
    row->setSpacing(3);
    auto* label = new QLabel(caption, group);
    label->setMinimumWidth(70);
    row->addWidget(label);
    for (int i = 0; i < count; ++i) {
        if (i > 0)
            row->addWidget(new QLabel(separator, group));
        auto* field = new QLineEdit(group);
        field->setObjectName(QString("%1%2").arg(objectPrefix).arg(i + 1));
        field->setFixedWidth(kFieldWidthPx);
        field->setMaxLength(maxLength);
        field->setAlignment(Qt::AlignCenter);
        field->setValidator(new QRegularExpressionValidator(allowed, field));
        row->addWidget(field);
        fields[i] = field;
    }
    row->addStretch(1);
    grid->addLayout(row);
}

}  // namespace

void NetworkConfigDialog::build()
{
    buildTitle();
    auto* body = new QWidget(this);
    body->setGeometry(12, kTitleHeightPx + 10, kDialogSize.width() - 24, kDialogSize.height() - kTitleHeightPx - 20);
    auto* column = new QVBoxLayout(body);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(16);
    column->addWidget(buildDeviceGroup(body), 1);
    column->addLayout(buildButtons(body));
    connectModel();
    for (QWidget* child : findChildren<QWidget*>())
        child->installEventFilter(this);
}

void NetworkConfigDialog::buildTitle()
{
    // Title strip: the label one pixel right and down, the close button one
    // pixel left and down, both inside the grey frame.
    auto* title = new QLabel(" TCP  Configuration", this);
    title->setObjectName("netConfigTitle");
    title->setAutoFillBackground(true);
    QPalette titlePalette = title->palette();
    titlePalette.setColor(QPalette::Window, kProgramBlue);
    titlePalette.setColor(QPalette::WindowText, Qt::white);
    title->setPalette(titlePalette);
    QFont titleFont = title->font();
    titleFont.setPointSizeF(10);
    title->setFont(titleFont);
    title->setGeometry(1, 1, kDialogSize.width() - kCloseButtonWidthPx - 2, kTitleHeightPx - 1);

    auto* close = new ImageButton(this);
    close->setObjectName("netConfigClose");
    close->setFocusPolicy(Qt::NoFocus);
    close->setIcons(icons::close(true), QSize(kCloseIconSizePx, kCloseIconSizePx), icons::close(false),
                    QSize(kCloseIconSizePx, kCloseIconSizePx));
    close->setTooltipText("Close");
    close->setDrawBorder(false, false);
    for (int slot : {ImageButton::BackgroundIn, ImageButton::BackgroundOut, ImageButton::BackgroundFocus})
        close->setColor(slot, kProgramBlue, false);
    close->setGeometry(kDialogSize.width() - kCloseButtonWidthPx - 1, 1, kCloseButtonWidthPx, kTitleHeightPx - 1);
    connect(close, &QAbstractButton::clicked, this, [this] { model_.cancel(); });
}

QGroupBox* NetworkConfigDialog::buildDeviceGroup(QWidget* body)
{
    auto* group = new QGroupBox("Device Information", body);
    group->setObjectName("deviceInformation");
    auto* grid = new QVBoxLayout(group);
    grid->setContentsMargins(14, 18, 14, 18);
    grid->setSpacing(0);

    auto* radios = new QHBoxLayout;
    autoIp_ = new QRadioButton("Auto IP", group);
    autoIp_->setObjectName("autoIpRadio");
    staticIp_ = new QRadioButton("Static IP", group);
    staticIp_->setObjectName("staticIpRadio");
    radios->addWidget(autoIp_);
    radios->addSpacing(30);
    radios->addWidget(staticIp_);
    radios->addStretch(1);
    grid->addLayout(radios);
    grid->addStretch(1);

    addFieldRow(group, grid, "IP Address", ".", 4, address_.data(), "addressField", 3, QRegularExpression("[0-9]*"));
    grid->addStretch(1);
    addFieldRow(group, grid, "MAC", "-", 6, mac_.data(), "macField", 2, QRegularExpression("[0-9A-Fa-f]*"));
    return group;
}

QHBoxLayout* NetworkConfigDialog::buildButtons(QWidget* body)
{
    auto* buttons = new QHBoxLayout;
    auto* ok = plainButton("OK", "netConfigOk", body);
    auto* cancel = plainButton("Cancel", "netConfigCancel", body);
    ok->setMinimumWidth(90);
    cancel->setMinimumWidth(90);
    buttons->addStretch(1);
    buttons->addWidget(ok);
    buttons->addSpacing(24);
    buttons->addWidget(cancel);
    buttons->addStretch(1);
    connect(ok, &QPushButton::clicked, this, [this] { model_.ok(); });
    connect(cancel, &QPushButton::clicked, this, [this] { model_.cancel(); });
    return buttons;
}

void NetworkConfigDialog::connectModel()
{
    connect(autoIp_, &QRadioButton::clicked, this, [this] { model_.setAutoIp(true); });
    connect(staticIp_, &QRadioButton::clicked, this, [this] { model_.setAutoIp(false); });
    for (int i = 0; i < 4; ++i)
        connect(address_[i], &QLineEdit::textEdited, this,
                [this, i](const QString& text) { model_.setAddressField(i, text.toStdString()); });
    for (int i = 0; i < 6; ++i)
        connect(mac_[i], &QLineEdit::textEdited, this,
                [this, i](const QString& text) { model_.setMacField(i, text.toStdString()); });
}

void NetworkConfigDialog::sync()
{
    autoIp_->setChecked(model_.autoIp());
    staticIp_->setChecked(!model_.autoIp());
    // Rewrite a field only when its text differs, so typing keeps the cursor.
    const auto showText = [](QLineEdit* field, const std::string& text) {
        const QString value = QString::fromStdString(text);
        if (field->text() != value) {
            const int cursor = field->cursorPosition();
            field->setText(value);
            field->setCursorPosition(std::min(cursor, static_cast<int>(value.size())));
        }
    };
    for (int i = 0; i < 4; ++i) {
        showText(address_[i], model_.addressField(i));
        address_[i]->setEnabled(model_.addressFieldsEnabled());
    }
    for (int i = 0; i < 6; ++i)
        showText(mac_[i], model_.macField(i));

    if (!model_.isVisible()) {
        hide();
        return;
    }
    if (!placed_ && mainWindow_) {
        // Centred on the main window the first time; later where the user left it.
        const QRect main = mainWindow_->geometry();
        move(main.left() + (main.width() - width()) / 2, main.top() + (main.height() - height()) / 2);
        placed_ = true;
    }
    if (!isVisible()) {
        show();
        raise();
    }
}

void NetworkConfigDialog::paintEvent(QPaintEvent* event)
{
    QWidget::paintEvent(event);
    // The one-pixel grey frame along the edge.
    QPainter painter(this);
    painter.setPen(QColor(128, 128, 128));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

void NetworkConfigDialog::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    // Slightly rounded corners.
    QPainterPath path;
    path.addRoundedRect(QRectF(0, 0, width() + 1, height() + 1), 1.5, 2);
    setMask(QRegion(path.toFillPolygon().toPolygon()));
}

bool NetworkConfigDialog::eventFilter(QObject* watched, QEvent* event)
{
    // As everywhere in the program, Enter, Escape and Space do nothing.
    if (isSwallowedKeyEvent(*event)) {
        event->accept();
        return true;
    }
    // A press on a label or the group box's free area drags like the dialog.
    if (event->type() == QEvent::MouseButtonPress &&
        (qobject_cast<QLabel*>(watched) || qobject_cast<QGroupBox*>(watched) || watched->objectName().isEmpty())) {
        auto* press = static_cast<QMouseEvent*>(event);
        if (press->button() == Qt::LeftButton && !qobject_cast<QLineEdit*>(watched) &&
            !qobject_cast<QAbstractButton*>(watched)) {
            mousePressEvent(press);
            return true;
        }
    }
    if (event->type() == QEvent::MouseMove && drag_.dragging()) {
        mouseMoveEvent(static_cast<QMouseEvent*>(event));
        return true;
    }
    if (event->type() == QEvent::MouseButtonRelease && drag_.dragging()) {
        drag_.release();
        return false;
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace matrix::gui
