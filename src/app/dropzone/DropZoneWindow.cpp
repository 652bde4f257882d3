#include "DropZoneWindow.h"

#include "ShadowImage.h"
#include "X11Support.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QVariantAnimation>

namespace {

constexpr int resizeDurationMs = 200; // a window frame animation's usual length
constexpr int moveDurationMs = 120;
constexpr int shadowRadius = 10;
constexpr int shadowOffsetY = 3;
// Room for the shadow around the panel: the shadow falls slightly downwards.
constexpr QMargins translucentMargins(shadowRadius + 2, shadowRadius - shadowOffsetY + 2,
                                      shadowRadius + 2, shadowRadius + shadowOffsetY + 2);

} // namespace

DropZoneWindow::DropZoneWindow(Chrome chrome)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                           Qt::WindowDoesNotAcceptFocus)
    , m_chrome(chrome)
{
    setObjectName(QStringLiteral("dropZoneWindow"));
    setWindowTitle(QStringLiteral("Pelkin Drop"));
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFocusPolicy(Qt::NoFocus);

    m_dropView = new DropZoneView(this);
    m_dropView->setObjectName(QStringLiteral("dropView"));

    m_geometryAnimation = new QVariantAnimation(this);
    connect(m_geometryAnimation, &QVariantAnimation::valueChanged, this,
            [this](const QVariant &value) { setPanelRect(value.toRect()); });

    applyChrome(wantsTranslucency(), QRect(QPoint(0, 0), compactSize));
}

bool DropZoneWindow::wantsTranslucency() const
{
    switch (m_chrome) {
    case Chrome::translucent:
        return true;
    case Chrome::flat:
        return false;
    case Chrome::automatic:
        break;
    }
    // Under X11 a transparent window shows black where nothing composites it;
    // other platforms (Wayland, offscreen) always blend.
    return QGuiApplication::platformName() != QLatin1String("xcb") || X11Support::compositorRunning();
}

void DropZoneWindow::applyChrome(bool translucent, const QRect &panel)
{
    m_translucent = translucent;
    m_margins = translucent ? translucentMargins : QMargins();
    m_shadowCacheSize = QSize();
    m_dropView->setTranslucentPanel(translucent);
    // The pixel format is fixed when the native window is made: make it anew.
    if (testAttribute(Qt::WA_WState_Created))
        destroy();
    setAttribute(Qt::WA_TranslucentBackground, translucent);
    setPanelRect(panel);
    if (QGuiApplication::platformName() == QLatin1String("xcb")) {
        // Task bars and pagers list every managed top-level window unless
        // told not to; the state is set before the window is first mapped.
        winId();
        X11Support::addWindowStates(windowHandle(),
                                    {"_NET_WM_STATE_SKIP_TASKBAR", "_NET_WM_STATE_SKIP_PAGER"});
    }
}

void DropZoneWindow::setVisible(bool visible)
{
    // A compositor may have started or stopped since the last time.
    if (visible && !isVisible() && m_chrome == Chrome::automatic) {
        const bool translucent = wantsTranslucency();
        if (translucent != m_translucent)
            applyChrome(translucent, targetPanelRect());
    }
    QWidget::setVisible(visible);
}

DropZoneWindow::~DropZoneWindow() = default;

QSize DropZoneWindow::panelSize() const
{
    return m_currentDisplayMode == DropZoneView::DisplayMode::expanded ? expandedSize : compactSize;
}

QRect DropZoneWindow::panelGeometry() const
{
    return geometry().marginsRemoved(m_margins);
}

QRect DropZoneWindow::targetPanelRect() const
{
    if (m_geometryAnimation->state() == QAbstractAnimation::Running)
        return m_geometryAnimation->endValue().toRect();
    return panelGeometry();
}

void DropZoneWindow::setPanelRect(const QRect &panel)
{
    setGeometry(panel.marginsAdded(m_margins));
    m_dropView->setGeometry(QRect(QPoint(m_margins.left(), m_margins.top()), panel.size()));
}

void DropZoneWindow::apply(DropZoneView::DisplayMode mode, bool animated)
{
    if (mode == m_currentDisplayMode)
        return;
    m_currentDisplayMode = mode;
    const QSize size = panelSize();
    // Keep the bottom-left corner, as a frame change from the origin would.
    const QRect from = targetPanelRect();
    const QRect to(QPoint(from.left(), from.bottom() + 1 - size.height()), size);
    m_geometryAnimation->stop();
    if (!animated || !isVisible()) {
        setPanelRect(to);
        return;
    }
    m_geometryAnimation->setDuration(resizeDurationMs);
    m_geometryAnimation->setEasingCurve(QEasingCurve::InOutQuad);
    m_geometryAnimation->setStartValue(panelGeometry());
    m_geometryAnimation->setEndValue(to);
    m_geometryAnimation->start();
}

void DropZoneWindow::movePanelTo(const QPoint &topLeft, bool animated)
{
    const QRect to(topLeft, panelSize());
    if (m_geometryAnimation->state() == QAbstractAnimation::Running) {
        m_geometryAnimation->setEndValue(to);
        return;
    }
    if (!animated || !isVisible()) {
        setPanelRect(to);
        return;
    }
    m_geometryAnimation->setDuration(moveDurationMs);
    m_geometryAnimation->setEasingCurve(QEasingCurve::InOutQuad);
    m_geometryAnimation->setStartValue(panelGeometry());
    m_geometryAnimation->setEndValue(to);
    m_geometryAnimation->start();
}

void DropZoneWindow::paintEvent(QPaintEvent *)
{
    if (!m_translucent)
        return;
    const QRect panel(QPoint(m_margins.left(), m_margins.top()), m_dropView->size());
    if (m_shadowCacheSize != panel.size()) {
        QImage shape(panel.size(), QImage::Format_ARGB32_Premultiplied);
        shape.fill(Qt::transparent);
        QPainter p(&shape);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::black);
        p.drawRoundedRect(QRectF(shape.rect()), DropZoneLook::cornerRadius,
                          DropZoneLook::cornerRadius);
        p.end();
        m_shadowCache = makeShadow(shape, shadowRadius, QColor(0, 0, 0, 84));
        m_shadowCacheSize = panel.size();
    }
    QPainter p(this);
    // The panel itself is see-through; keep the shadow from darkening it.
    QPainterPath outside;
    outside.addRect(rect());
    QPainterPath inside;
    inside.addRoundedRect(QRectF(panel), DropZoneLook::cornerRadius, DropZoneLook::cornerRadius);
    p.setClipPath(outside.subtracted(inside));
    p.drawImage(panel.topLeft() - QPoint(shadowRadius, shadowRadius - shadowOffsetY),
                m_shadowCache);
}
