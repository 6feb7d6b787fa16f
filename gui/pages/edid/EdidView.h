// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/transport/ChangeNotifier.h"

#include <QString>
#include <QWidget>

#include <array>
#include <functional>

class QGridLayout;
class QComboBox;
class QLineEdit;

namespace matrix {
class EdidPage;
}

namespace matrix::gui {

// The "EDID" tab: the "Manual Mode" group with the set, copy and download
// rows. It re-reads the page on every change notification and forwards the
// user's choices; the EDID file dialog is its own.
class EdidView : public QWidget {
    Q_OBJECT
public:
    // Returns the chosen path, empty when the user cancelled.
    using FileChooser = std::function<QString()>;

    explicit EdidView(EdidPage& page, QWidget* parent = nullptr);

    // Tests replace the modal file dialog.
    void setFileChooser(FileChooser chooser) { chooser_ = std::move(chooser); }

private:
    void addRows(QGridLayout* grid, QWidget* group);
    // Every row ends alike: "to", the target inputs, and its Set button.
    QComboBox* addRowEnd(QGridLayout* grid, QWidget* group, int row, const char* targetName, const char* buttonName,
                         std::function<void()> clicked);
    QString chooseFile();
    void sync();

    EdidPage& page_;
    ChangeNotifier::Subscription subscription_;
    FileChooser chooser_;

    // The choices sync() keeps in step with the page.
    QComboBox* mode_ = nullptr;
    QComboBox* setTarget_ = nullptr;
    QComboBox* copySource_ = nullptr;
    QComboBox* copyTarget_ = nullptr;
    QComboBox* downloadTarget_ = nullptr;
    QLineEdit* path_ = nullptr;
};

}  // namespace matrix::gui
