#include "SidebarView.h"

#include "AppState.h"
#include "ClickableCard.h"
#include "FitLabel.h"
#include "OrvaneLogoMark.h"
#include "Palette.h"
#include "PlainTextButton.h"
#include "SidebarButton.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QPainter>
#include <QVBoxLayout>

namespace orvane {

namespace {
const QColor kServiceGreen = QColor::fromRgbF(0.188f, 0.82f, 0.345f, 1.0f);

QColor whiteAt(double opacity) {
    return Palette::withOpacity(Qt::white, opacity);
}

// The 8 px status dot.
class Dot : public QWidget {
public:
    explicit Dot(QWidget* parent) : QWidget(parent) { setFixedSize(8, 8); }
    void setColor(const QColor& color) {
        if (color != m_color) {
            m_color = color;
            update();
        }
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(m_color);
        painter.drawEllipse(QRectF(rect()));
    }

private:
    QColor m_color;
};
} // namespace

SidebarView::SidebarView(AppState& state, QWidget* parent)
    : QWidget(parent), m_state(state), m_card(new ClickableCard(this)),
      m_identity(new FitLabel(13, Qt::white, m_card)),
      m_planLine(new FitLabel(12, whiteAt(0.62), m_card)),
      m_accountButton(new PlainTextButton(QString(), 12, Qt::white, m_card)), m_dot(new Dot(this)),
      m_service(new FitLabel(12, whiteAt(0.62), this)) {
    setFixedWidth(kWidth);

    auto* name = new FitLabel(23, Qt::white, this);
    name->setText(QStringLiteral("Orvane"));
    auto* version = new FitLabel(12, whiteAt(0.64), this);
    version->setText(state.appVersion());
    auto* names = new QVBoxLayout;
    names->setSpacing(5);
    names->addWidget(name);
    names->addWidget(version);
    auto* header = new QHBoxLayout;
    header->setContentsMargins(8, 18, 8, 0);
    header->setSpacing(12);
    header->addWidget(new OrvaneLogoMark(50, this));
    header->addLayout(names, 1);

    auto* entries = new QVBoxLayout;
    entries->setSpacing(7);
    for (AppPage page : allAppPages()) {
        auto* button = new SidebarButton(state, page, this);
        m_pages.append(button);
        entries->addWidget(button);
    }

    auto* cardCaption = new FitLabel(12, whiteAt(0.62), m_card);
    cardCaption->setText(QStringLiteral("当前账号"));
    cardCaption->setWeight(QFont::Bold);
    m_identity->setMinimumScale(0.72);
    auto* cardLayout = new QVBoxLayout(m_card);
    cardLayout->setContentsMargins(14, 14, 14, 14);
    cardLayout->setSpacing(8);
    cardLayout->addWidget(cardCaption);
    cardLayout->addWidget(m_identity);
    m_planLine->setMaxLines(2);
    m_planLine->installEventFilter(this);
    cardLayout->addWidget(m_planLine);
    cardLayout->addWidget(m_accountButton);
    m_card->setColors(Qt::transparent, whiteAt(0.14));
    m_card->letClicksThrough();

    auto* status = new QHBoxLayout;
    status->setContentsMargins(8, 0, 8, 18);
    status->setSpacing(8);
    status->addWidget(m_dot, 0, Qt::AlignVCenter);
    status->addWidget(m_service, 1, Qt::AlignVCenter);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(14, 0, 14, 0);
    layout->setSpacing(22);
    layout->addLayout(header);
    layout->addLayout(entries);
    layout->addStretch(1);
    layout->addWidget(m_card);
    layout->addLayout(status);

    connect(m_card, &QAbstractButton::clicked, this, [this] {
        if (!signedIn()) {
            m_state.setShowAuthSheet(true);
        }
    });
    connect(m_accountButton, &QAbstractButton::clicked, this, [this] {
        if (signedIn()) {
            m_state.spawn(m_state.logout());
        } else {
            m_state.setShowAuthSheet(true);
        }
    });
    connect(&state, &AppState::accountChanged, this, &SidebarView::refreshAccount);
    connect(&state, &AppState::endpointsChanged, this, &SidebarView::refreshService);
    refreshAccount();
    refreshService();
}

bool SidebarView::signedIn() const {
    return m_state.token().has_value() && m_state.currentUser().has_value();
}

QString SidebarView::identityText() const {
    return m_identity->text();
}

QString SidebarView::planLineText() const {
    return m_planLine->text();
}

QString SidebarView::serviceStatusText() const {
    return m_service->text();
}

void SidebarView::refreshAccount() {
    const auto& user = m_state.currentUser();
    m_identity->setText(user ? user->identity : QStringLiteral("未登录"));
    fitPlanLine();
    m_accountButton->setText(signedIn() ? QStringLiteral("退出登录") : QStringLiteral("登录账号"));
    m_accountButton->updateGeometry();
    m_card->setCursor(signedIn() ? Qt::ArrowCursor : Qt::PointingHandCursor);
}

// Up to two lines; a plan name too long for them gives way, the device count stays whole.
void SidebarView::fitPlanLine() {
    const auto& user = m_state.currentUser();
    const QString name = user ? user->planName : QStringLiteral("未开通套餐");
    QString usage = QStringLiteral(" · ") + m_state.deviceUsage();
    usage.replace(QLatin1Char(' '), QChar(0x00A0));
    usage[0] = QLatin1Char(' ');
    const int width = m_planLine->width();
    QString text = name + usage;
    if (width > 0 && !m_planLine->fitsAtFullSize(text, width)) {
        qsizetype low = 0;
        qsizetype high = name.size();
        while (low < high) {
            const qsizetype middle = (low + high + 1) / 2;
            if (m_planLine->fitsAtFullSize(name.left(middle) + QChar(0x2026) + usage, width)) {
                low = middle;
            } else {
                high = middle - 1;
            }
        }
        text = name.left(low) + QChar(0x2026) + usage;
    }
    m_planLine->setText(text);
}

bool SidebarView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_planLine && event->type() == QEvent::Resize) {
        fitPlanLine();
    }
    return QWidget::eventFilter(watched, event);
}

void SidebarView::refreshService() {
    const bool any = !m_state.endpoints().isEmpty();
    static_cast<Dot*>(m_dot)->setColor(any ? kServiceGreen : Palette::orange());
    m_service->setText(any ? QStringLiteral("节点服务正常") : QStringLiteral("节点服务待同步"));
}

void SidebarView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Palette::black());
}

} // namespace orvane
