// SPDX-License-Identifier: Apache-2.0
#include "gui/skin/PageParts.h"

#include "gui/skin/GradientButton.h"
#include "gui/skin/Icons.h"
#include "gui/skin/ImageButton.h"

#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace matrix::gui {

using namespace page_metrics;

QVBoxLayout* stackFromTop(QWidget* host, const QMargins& margins, int spacingPx, std::initializer_list<QWidget*> parts)
{
    auto* column = new QVBoxLayout(host);
    column->setContentsMargins(margins);
    column->setSpacing(spacingPx);
    for (QWidget* part : parts)
        column->addWidget(part);
    column->addStretch(1);
    return column;
}

QHBoxLayout* rightAlignedRow(std::initializer_list<QWidget*> buttons)
{
    auto* row = new QHBoxLayout;
    row->addStretch(1);
    for (QWidget* button : buttons)
        row->addWidget(button);
    return row;
}

QPushButton* plainButton(const QString& text, const char* name, QWidget* parent)
{
    auto* button = new QPushButton(text, parent);
    button->setObjectName(name);
    button->setAutoDefault(false);
    return button;
}

GradientButton* pageButton(const QString& caption, const char* name, QWidget* parent)
{
    auto* button = GradientButton::commandButton(caption, name, parent);
    button->setMinimumWidth(kButtonWidthPx);
    button->setFixedHeight(kButtonHeightPx);
    return button;
}

ImageButton* browseButton(const QString& name, QWidget* parent)
{
    auto* button = new ImageButton(parent);
    button->setObjectName(name);
    button->setIcons(icons::openFile(), QSize(16, 16));
    button->setTooltipText("Open");
    button->setFixedSize(kBrowseSizePx, kBrowseSizePx);
    return button;
}

QLineEdit* pathBox(const QString& name, QWidget* parent)
{
    auto* box = new QLineEdit(parent);
    box->setObjectName(name);
    box->setReadOnly(true);
    return box;
}

}  // namespace matrix::gui
