#include "RootView.h"

#include "AppState.h"
#include "AuthView.h"
#include "BusyOverlay.h"
#include "HomeView.h"
#include "InviteView.h"
#include "Palette.h"
#include "PlansView.h"
#include "RoutesView.h"
#include "SettingsView.h"
#include "SidebarView.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace orvane {

namespace {
// Kept on the state, which lives as long as the process: the launch task runs once, however
// often the window is shown again.
const char* const kLaunchStartedProperty = "orvaneLaunchTaskStarted";
// A window that is shown but not exposed (another desktop) is never painted; its start-up work
// waits this long at most.
constexpr int kUnpaintedFirstFrameMs = 300;
} // namespace

RootView::RootView(AppState& state, ConnectionPanel::Clock now, QWidget* parent)
    : QWidget(parent), m_state(state), m_now(std::move(now)),
      m_sidebar(new SidebarView(state, this)), m_pageArea(new QWidget(this)),
      m_busy(new BusyOverlay(this)) {
    m_pageArea->setAutoFillBackground(true);
    QPalette white = m_pageArea->palette();
    white.setColor(QPalette::Window, Qt::white);
    m_pageArea->setPalette(white);
    auto* pageLayout = new QVBoxLayout(m_pageArea);
    pageLayout->setContentsMargins(22, 18, 22, 18);

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    row->addWidget(m_sidebar);
    row->addWidget(m_pageArea, 1);

    connect(&state, &AppState::selectedPageChanged, this, &RootView::showPage);
    connect(&state, &AppState::busyChanged, this, &RootView::syncBusy);
    connect(&state, &AppState::showAuthSheetChanged, this, &RootView::syncSheet);
    connect(&state, &AppState::alertMessageChanged, this, &RootView::syncAlert);
    connect(this, &RootView::firstFrameDone, this, &RootView::startLaunch);
    showPage();
    syncBusy();
}

RootView::~RootView() {
    if (m_sheet) {
        m_sheet->disconnect(this);
    }
    dropAlert();
}

void RootView::showPage() {
    if (m_page) {
        // A page's own view state does not survive a switch: the next one is built anew.
        m_page->hide();
        m_pageArea->layout()->removeWidget(m_page);
        m_page->deleteLater();
    }
    switch (m_state.selectedPage()) {
    case AppPage::home:
        m_page = new HomeView(m_state, m_now, m_pageArea);
        break;
    case AppPage::routes:
        m_page = new RoutesView(m_state, m_pageArea);
        break;
    case AppPage::plans:
        m_page = new PlansView(m_state, m_pageArea);
        break;
    case AppPage::invite:
        m_page = new InviteView(m_state, m_pageArea);
        break;
    case AppPage::settings:
        m_page = new SettingsView(m_state, m_pageArea);
        break;
    }
    m_pageArea->layout()->addWidget(m_page);
    m_busy->raise();
}

void RootView::syncBusy() {
    m_busy->setVisible(m_state.isBusy());
    m_busy->place();
}

void RootView::requestWindow() {
    if (!window()->isVisible()) {
        emit windowRequested();
    }
}

// The sheet and the alert are windows of their own: the main window's shortcuts (Ctrl+Q) would
// not reach them while they have the focus.
void RootView::shareWindowShortcuts(QWidget* dialog) {
    if (window() != this) {
        dialog->addActions(window()->actions());
    }
}

void RootView::syncSheet() {
    const bool wanted = m_state.showAuthSheet();
    if (!wanted) {
        if (m_sheet && m_sheet->isVisible()) {
            m_sheet->accept();
        }
        return;
    }
    if (m_sheet && m_sheet->isVisible()) {
        return;
    }
    requestWindow();
    // A new sheet each time: fresh fields.
    auto* sheet = new AuthView(m_state, this);
    sheet->setWindowModality(Qt::WindowModal);
    shareWindowShortcuts(sheet);
    connect(sheet, &QDialog::finished, this, [this, sheet] {
        sheet->deleteLater();
        if (m_sheet == sheet) {
            m_sheet = nullptr;
        }
        // An alert shown above the sheet moves back above the window.
        syncAlert();
    });
    m_sheet = sheet;
    sheet->open();
    // An alert already showing goes above the sheet.
    syncAlert();
}

void RootView::dropAlert() {
    if (!m_alert) {
        return;
    }
    QMessageBox* alert = m_alert;
    m_alert = nullptr;
    alert->disconnect(this);
    alert->hide();
    alert->deleteLater();
}

AlertText* RootView::alertText() const {
    return m_alert ? m_alert->findChild<AlertText*>() : nullptr;
}

void RootView::showAlertText(QMessageBox* alert, const QString& message) {
    AlertText* text = alert->findChild<AlertText*>();
    if (!text) {
        return;
    }
    text->setMessage(message);
    text->setVisible(!message.isEmpty());
    // The box keeps the size it took when it was shown: fit it to the new text.
    if (alert->isVisible()) {
        QLayout* layout = alert->layout();
        layout->activate();
        const int width = std::max(alert->width(), layout->totalMinimumSize().width());
        const int height = layout->hasHeightForWidth() ? layout->totalHeightForWidth(width)
                                                       : layout->totalMinimumSize().height();
        alert->setFixedSize(width, height);
    }
}

void RootView::syncAlert() {
    const std::optional<QString> message = m_state.alertMessage();
    if (!message) {
        dropAlert();
        return;
    }
    // Above the open sheet, else above the window.
    QWidget* host = m_sheet && m_sheet->isVisible() ? static_cast<QWidget*>(m_sheet) : this;
    if (m_alert && m_alert->parentWidget() != host) {
        dropAlert();
    }
    if (m_alert) {
        showAlertText(m_alert, *message);
        return;
    }
    requestWindow();
    auto* alert = new QMessageBox(host);
    alert->setWindowTitle(QString::fromLatin1(kAlertTitle));
    alert->setWindowModality(Qt::WindowModal);
    shareWindowShortcuts(alert);
    alert->setIcon(QMessageBox::NoIcon);
    alert->setTextFormat(Qt::PlainText);
    alert->setText(QString::fromLatin1(kAlertTitle));
    alert->setStyleSheet(
        QStringLiteral("QMessageBox { background: white; }"
                       "QLabel { color: %1; font-size: 13px; min-width: 280px; }"
                       "QLabel#qt_msgbox_label { font-size: 16px; font-weight: bold; }"
                       "QPushButton { background: %2; color: white; border: none;"
                       " border-radius: 16px; min-height: 32px; min-width: 72px;"
                       " padding: 0 16px; font-size: 12px; font-weight: bold; }"
                       "QPushButton:pressed { background: %1; }")
            .arg(Palette::ink().name(), Palette::black().name()));
    QPushButton* button = alert->addButton(QStringLiteral("知道了"), QMessageBox::AcceptRole);
    alert->setDefaultButton(button);
    alert->setEscapeButton(button);
    // In the place of the box's own text label, which cuts off a word longer than its line.
    auto* text = new AlertText(alert);
    if (auto* grid = qobject_cast<QGridLayout*>(alert->layout())) {
        grid->addWidget(text, 1, 1, 1, 1, Qt::AlignTop | Qt::AlignLeft);
    }
    showAlertText(alert, *message);
    // Dismissed by the button or by the system alike: the message is done with.
    connect(alert, &QDialog::finished, this, [this, alert] {
        if (m_alert != alert) {
            return;
        }
        m_alert = nullptr;
        alert->deleteLater();
        m_state.setAlertMessage(std::nullopt);
    });
    m_alert = alert;
    alert->open();
}

void RootView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    m_busy->place();
    if (!m_firstFrameScheduled) {
        m_firstFrameScheduled = true;
        QTimer::singleShot(kUnpaintedFirstFrameMs, this, &RootView::finishFirstFrame);
    }
    syncSheet();
    syncAlert();
}

void RootView::finishFirstFrame() {
    if (m_firstFrameDone) {
        return;
    }
    m_firstFrameDone = true;
    emit firstFrameDone();
}

// The launch task starts child processes and requests at once: they would hold up the first
// frame, so it waits for it.
void RootView::startLaunch() {
    if (!m_state.property(kLaunchStartedProperty).toBool()) {
        m_state.setProperty(kLaunchStartedProperty, true);
        m_state.spawn(launch(&m_state));
    }
}

QCoro::Task<void> RootView::launch(QPointer<AppState> state) {
    co_await state->bootstrap();
    if (!state) {
        co_return;
    }
    co_await state->runAutoconnectSmokeTestIfRequested();
}

void RootView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    m_busy->place();
}

void RootView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Palette::soft());
    if (!m_firstFrameDone) {
        // Queued: the frame is flushed before anything else runs.
        QMetaObject::invokeMethod(this, &RootView::finishFirstFrame, Qt::QueuedConnection);
    }
}

} // namespace orvane
