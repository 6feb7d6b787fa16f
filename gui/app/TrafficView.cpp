// SPDX-License-Identifier: Apache-2.0
#include "gui/app/TrafficView.h"

#include "core/session/MatrixSession.h"
#include "gui/skin/PageParts.h"

#include <QApplication>
#include <QClipboard>
#include <QFontDatabase>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>

namespace matrix::gui {

namespace {

constexpr QSize kSize(430, 360);
constexpr int kGapPx = 8;

// The logs break lines with "\r\n", as the hidden boxes did.
QString boxText(const std::string& text) { return QString::fromStdString(text).replace("\r\n", "\n"); }

QPlainTextEdit* makeLogBox(const char* name, QWidget* parent)
{
    auto* box = new QPlainTextEdit(parent);
    box->setObjectName(name);
    box->setReadOnly(true);
    box->setLineWrapMode(QPlainTextEdit::NoWrap);
    box->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    return box;
}

// Shows new text without losing the reader's place: at the end when the
// reader was at the end, where they were otherwise.
void showText(QPlainTextEdit* box, const QString& text)
{
    if (box->toPlainText() == text)
        return;
    QScrollBar* bar = box->verticalScrollBar();
    const bool atEnd = bar->value() == bar->maximum();
    const int at = bar->value();
    box->setPlainText(text);
    bar->setValue(atEnd ? bar->maximum() : at);
}

}  // namespace

TrafficView::TrafficView(MatrixSession& session, QWidget* mainWindow) : QWidget(mainWindow, Qt::Tool), session_(session)
{
    setObjectName("trafficView");
    setWindowTitle("Traffic");
    resize(kSize);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(kGapPx, kGapPx, kGapPx, kGapPx);
    column->setSpacing(6);
    title_ = new QLabel(this);
    title_->setObjectName("trafficPage");
    column->addWidget(title_);

    auto addLog = [&](const char* caption, const char* name) {
        auto* group = new QGroupBox(caption, this);
        auto* layout = new QVBoxLayout(group);
        layout->setContentsMargins(6, 4, 6, 6);
        QPlainTextEdit* box = makeLogBox(name, group);
        layout->addWidget(box);
        column->addWidget(group, 1);
        return box;
    };
    sent_ = addLog("Sent", "trafficSent");
    received_ = addLog("Received", "trafficReceived");

    auto* clear = plainButton("Clear", "trafficClear", this);
    auto* copy = plainButton("Copy", "trafficCopy", this);
    column->addLayout(rightAlignedRow({clear, copy}));
    connect(clear, &QPushButton::clicked, this, &TrafficView::clear);
    connect(copy, &QPushButton::clicked, this, &TrafficView::copy);

    // The pages append bytes without telling anyone; while the window is
    // open it looks again now and then.
    refreshTimer_ = new QTimer(this);
    refreshTimer_->setInterval(kRefreshMs);
    connect(refreshTimer_, &QTimer::timeout, this, &TrafficView::refresh);
    shellSubscription_ = ChangeNotifier::Subscription(session_.shell.changed, [this] { refresh(); });
    refresh();
    hide();
}

void TrafficView::toggle()
{
    if (isVisible()) {
        hide();
        refreshTimer_->stop();
        return;
    }
    if (QWidget* main = parentWidget()) {
        const QRect frame = main->frameGeometry();
        move(frame.right() + 1 + kGapPx, frame.top());
    }
    refresh();
    show();
    raise();
    refreshTimer_->start();
}

TrafficView::Logs TrafficView::pageLogs(Tab tab) const
{
    switch (tab) {
    case Tab::General:
        return {boxText(session_.general.sentLog().boxText()), boxText(session_.general.receivedLog().boxText())};
    case Tab::Edid: return {boxText(session_.edid.sentLog().boxText()), boxText(session_.edid.receivedLog().boxText())};
    case Tab::Matrix:
        return {boxText(session_.routing.sentLog().boxText()), boxText(session_.routing.receivedLog().boxText())};
    case Tab::FwUpgrade:
        return {boxText(session_.firmware.sentLogText()), boxText(session_.firmware.receivedLog().boxText())};
    }
    return {};
}

QString TrafficView::after(const QString& text, const QString& baseline)
{
    // A log only grows at its end; when it no longer starts with what Clear
    // saw, the page cleared or trimmed it, and all of it is new.
    return text.startsWith(baseline) ? text.mid(baseline.size()) : text;
}

void TrafficView::refresh()
{
    const Tab tab = session_.shell.shownTab();
    const Logs logs = pageLogs(tab);
    const Logs& baseline = baselines_[static_cast<std::size_t>(tab)];
    title_->setText(QString("Page: %1").arg(Shell::tabTitle(tab)));
    showText(sent_, after(logs.sent, baseline.sent));
    showText(received_, after(logs.received, baseline.received));
}

void TrafficView::clear()
{
    const Tab tab = session_.shell.shownTab();
    baselines_[static_cast<std::size_t>(tab)] = pageLogs(tab);
    refresh();
}

void TrafficView::copy()
{
    refresh();
    QApplication::clipboard()->setText(
        QString("%1\nSent:\n%2\nReceived:\n%3").arg(title_->text(), sentText(), receivedText()));
}

QString TrafficView::sentText() const { return sent_->toPlainText(); }
QString TrafficView::receivedText() const { return received_->toPlainText(); }
QString TrafficView::pageTitle() const { return title_->text(); }

}  // namespace matrix::gui
