// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QColor>
#include <QString>

#include <string>

// What the page views share: their margin, the size of a command button and
// of a file-browse button, the program's blue, and the one conversion of the
// core's texts.
namespace matrix::gui::page_metrics {

constexpr int kMarginPx = 10;
constexpr int kButtonWidthPx = 88;
constexpr int kButtonHeightPx = 26;
constexpr int kBrowseSizePx = 24;

// The blue of the title strips, of a pushed-in routing button and of the
// cable state panel.
inline const QColor kProgramBlue(30, 144, 225);

inline QString q(const std::string& text) { return QString::fromStdString(text); }

}  // namespace matrix::gui::page_metrics
