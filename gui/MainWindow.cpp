// SPDX-License-Identifier: Apache-2.0
#include "gui/MainWindow.h"

#include "core/session/MatrixSession.h"
#include "gui/PageViews.h"
#include "gui/app/PopupViews.h"
#include "gui/app/TrafficView.h"
#include "gui/net/NetworkConfigDialog.h"
#include "gui/skin/Icons.h"
#include "gui/skin/ImageButton.h"
#include "gui/skin/PageMetrics.h"

#include <QApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QRegion>
#include <QScreen>
#include <QShortcut>

namespace matrix::gui {

namespace {

using page_metrics::kProgramBlue;

const QColor kSelectedTab(240, 245, 230);
const QColor kSeparatorBlue(30, 115, 225);
const QColor kTitleText(255, 255, 251);
const QColor kFrameGray(160, 160, 160);
constexpr int kLogoSizePx = 20;
constexpr int kTitleIconSizePx = 20;

}  // namespace

const char* MainWindow::applicationTitle() { return "HDMI Matrix Control"; }

MainWindow::MainWindow(MatrixSession& session, QWidget* parent)
    : DraggableWindow(parent, Qt::Window | Qt::FramelessWindowHint),
      session_(session),
      shell_(session.shell)
{
    setObjectName("mainWindow");
    setWindowTitle(applicationTitle());
    setWindowIcon(icons::logo());
    // The shrink rule: the visible part is about 600 pixels plus the two
    // title buttons wide; pages are designed for what remains below the tabs.
    setFixedSize(kShrunkWidthPx + 2 * kTitleButtonSize.width(), kPageTopPx + kPageAreaSize.height() + 1);

    buildTitleStrip();
    buildTabRow();

    noticeView_ = new NoticeView(session_.popups.notice, this);
    progressView_ = new ProgressView(session_.popups.progress, this);
    configStatusView_ = new ConfigStatusView(session_.popups.configStatus, this);
    // Modeless: the user can go on using the window while it is open.
    networkConfigDialog_ = new NetworkConfigDialog(session_.netConfig, this);
    trafficView_ = new TrafficView(session_, this);
    // Also from the traffic view itself, so the same keys close it again.
    auto* trafficKeys = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_L), this);
    trafficKeys->setContext(Qt::ApplicationShortcut);
    connect(trafficKeys, &QShortcut::activated, trafficView_, &TrafficView::toggle);

    // Enter, Escape and Space never reach a dialog's default handling, nor
    // press a focused button, anywhere in this window or its popups.
    qApp->installEventFilter(this);

    shellSubscription_ = ChangeNotifier::Subscription(shell_.changed, [this] { syncFromShell(); });
    shell_.showGeneralAtStart();
    syncFromShell();

    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.left() + (area.width() - width()) / 2, area.top() + (area.height() - height()) / 2);
    }
}

MainWindow::~MainWindow() { qApp->removeEventFilter(this); }

void MainWindow::buildTitleStrip()
{
    logo_ = new QLabel(this);
    logo_->setObjectName("logo");
    logo_->setPixmap(icons::logo().pixmap(kLogoSizePx, kLogoSizePx));
    logo_->setGeometry(8, (kTitleHeightPx - kLogoSizePx) / 2 + 1, kLogoSizePx, kLogoSizePx);
    logo_->setAttribute(Qt::WA_TransparentForMouseEvents);

    title_ = new QLabel(applicationTitle(), this);
    title_->setObjectName("title");
    QFont titleFont = font();
    titleFont.setPointSizeF(10.5);
    titleFont.setWeight(QFont::Normal);
    title_->setFont(titleFont);
    QPalette pal = title_->palette();
    pal.setColor(QPalette::WindowText, kTitleText);
    title_->setPalette(pal);
    title_->setGeometry(8 + kLogoSizePx + 8, 1, 300, kTitleHeightPx - 1);
    title_->setAttribute(Qt::WA_TransparentForMouseEvents);

    auto makeTitleButton = [this](const char* name, const QString& tip, const QIcon& hover, const QIcon& normal) {
        auto* button = new ImageButton(this);
        button->setObjectName(name);
        button->setFocusPolicy(Qt::NoFocus);
        button->setIcons(hover, QSize(kTitleIconSizePx, kTitleIconSizePx), normal,
                         QSize(kTitleIconSizePx, kTitleIconSizePx));
        button->setTooltipText(tip);
        for (int slot : {ImageButton::BackgroundIn, ImageButton::BackgroundOut, ImageButton::BackgroundFocus})
            button->setColor(slot, kProgramBlue, false);
        button->resize(kTitleButtonSize);
        return button;
    };
    minimizeButton_ = makeTitleButton("minimizeButton", "Minimize", icons::minimize(true), icons::minimize(false));
    closeButton_ = makeTitleButton("closeButton", "Close", icons::close(true), icons::close(false));
    // Minimize at x = 600, Close directly to its right, then both one pixel
    // left and down so that they sit inside the window's frame.
    minimizeButton_->move(kShrunkWidthPx - 1, 1);
    closeButton_->move(kShrunkWidthPx + kTitleButtonSize.width() - 1, 1);

    connect(closeButton_, &QAbstractButton::clicked, this, &QWidget::close);
    connect(minimizeButton_, &QAbstractButton::clicked, this, &QWidget::showMinimized);
}

void MainWindow::buildTabRow()
{
    QFont tabFont = font();
    tabFont.setPointSizeF(9.5);
    for (std::size_t i = 0; i < kTabTable.size(); ++i) {
        auto* label = new QLabel(kTabTable[i].title, this);
        label->setObjectName(QString("tab%1").arg(i));
        label->setFont(tabFont);
        label->setAlignment(Qt::AlignCenter);
        label->setAutoFillBackground(true);
        label->setCursor(Qt::PointingHandCursor);
        // One pixel between labels for the separators the window draws.
        label->setGeometry(1 + static_cast<int>(i) * (kTabSize.width() + 1), kTitleHeightPx, kTabSize.width(),
                           kTabSize.height());
        tabLabels_[i] = label;
    }
}

std::array<PopupView*, 3> MainWindow::popupViews() const { return {configStatusView_, progressView_, noticeView_}; }

void MainWindow::syncFromShell()
{
    updateTabColors();
    for (const TabInfo& info : kTabTable) {
        const Tab tab = info.tab;
        const auto i = static_cast<std::size_t>(tab);
        if (shell_.pageCreated(tab) && !pageViews_[i]) {
            QWidget* view = createPageView(info.page, session_, this);
            view->move(1, kPageTopPx);
            pageViews_[i] = view;
        }
    }
    for (const TabInfo& info : kTabTable) {
        const Tab tab = info.tab;
        QWidget* view = pageViews_[static_cast<std::size_t>(tab)];
        if (view)
            view->setVisible(tab == shell_.shownTab());
    }
    // Popups stay above the page that was just shown.
    for (PopupView* popup : popupViews())
        if (popup && popup->isVisible())
            popup->raise();
}

void MainWindow::updateTabColors()
{
    for (const TabInfo& info : kTabTable) {
        const Tab tab = info.tab;
        QLabel* label = tabLabels_[static_cast<std::size_t>(tab)];
        const bool selected = shell_.tabSelected(tab);
        QPalette pal = label->palette();
        pal.setColor(QPalette::Window, selected ? kSelectedTab : kProgramBlue);
        pal.setColor(QPalette::WindowText, selected ? QColor(Qt::black) : QColor(Qt::white));
        label->setPalette(pal);
    }
}

void MainWindow::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), palette().color(QPalette::Window));
    // Title strip and tab row; the tab labels paint their own colours.
    p.fillRect(QRect(0, 0, width(), kPageTopPx), kProgramBlue);
    // Separators at the right edge of the first three tab labels.
    for (std::size_t i = 0; i + 1 < tabLabels_.size(); ++i) {
        const QRect r = tabLabels_[i]->geometry();
        const int x = r.right() + 1;
        p.fillRect(QRect(x, r.top(), 1, r.height()), kProgramBlue);
        p.fillRect(QRect(x, r.top() + 5, 1, r.height() - 9), kSeparatorBlue);
    }
    // One-pixel gray frame along the window's edge.
    p.setPen(kFrameGray);
    p.setBrush(Qt::NoBrush);
    p.drawRect(rect().adjusted(0, 0, -1, -1));
}

void MainWindow::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    // Rounded corners: cut the corner pixels, as a 3 x 3 ellipse region does.
    QRegion region(rect());
    const int w = width(), h = height();
    for (const QPoint& corner : {QPoint(0, 0), QPoint(w - 1, 0), QPoint(0, h - 1), QPoint(w - 1, h - 1)})
        region -= QRegion(corner.x(), corner.y(), 1, 1);
    setMask(region);
}

bool MainWindow::takesPress(QMouseEvent& event)
{
    const QPoint pos = event.position().toPoint();
    for (const TabInfo& info : kTabTable) {
        const Tab tab = info.tab;
        if (tabLabels_[static_cast<std::size_t>(tab)]->geometry().contains(pos)) {
            // A press on a tab never drags, even when the switch is refused.
            shell_.selectTab(tab);
            return true;
        }
    }
    return false;  // any free spot moves the window
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event)
{
    auto* widget = qobject_cast<QWidget*>(watched);
    if (isSwallowedKeyEvent(*event) && widget && (widget == this || isAncestorOf(widget))) {
        event->accept();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace matrix::gui
