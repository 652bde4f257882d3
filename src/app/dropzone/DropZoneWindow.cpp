#include "DropZoneWindow.h"

#include "ShadowImage.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QVariantAnimation>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>

namespace {

constexpr int resizeDurationMs = 200; // a window frame animation's usual length
constexpr int moveDurationMs = 120;
constexpr int shadowRadius = 10;
constexpr int shadowOffsetY = 3;
// Room for the shadow around the panel: the shadow falls slightly downwards.
constexpr QMargins translucentMargins(shadowRadius + 2, shadowRadius - shadowOffsetY + 2,
                                      shadowRadius + 2, shadowRadius + shadowOffsetY + 2);

xcb_connection_t *x11Connection()
{
    auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

xcb_atom_t internAtom(xcb_connection_t *connection, const char *name)
{
    xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, uint16_t(std::strlen(name)), name), nullptr);
    if (!reply)
        return XCB_ATOM_NONE;
    const xcb_atom_t atom = reply->atom;
    std::free(reply);
    return atom;
}

int defaultScreenNumber()
{
    // DISPLAY is ":N" or ":N.S"; S is the default screen.
    const QByteArray display = qgetenv("DISPLAY");
    const int dot = display.lastIndexOf('.');
    const int colon = display.lastIndexOf(':');
    if (dot > colon && colon >= 0)
        return display.mid(dot + 1).toInt();
    return 0;
}

// Task bars and pagers list every managed top-level window unless told not to.
void keepOutOfTaskBar(QWidget *window)
{
    xcb_connection_t *connection = x11Connection();
    if (!connection)
        return;
    const xcb_atom_t state = internAtom(connection, "_NET_WM_STATE");
    const xcb_atom_t atoms[] = {internAtom(connection, "_NET_WM_STATE_SKIP_TASKBAR"),
                                internAtom(connection, "_NET_WM_STATE_SKIP_PAGER")};
    if (state == XCB_ATOM_NONE || atoms[0] == XCB_ATOM_NONE || atoms[1] == XCB_ATOM_NONE)
        return;
    // Set before the window is first mapped; Qt adds its own states to these.
    xcb_change_property(connection, XCB_PROP_MODE_APPEND, xcb_window_t(window->winId()), state,
                        XCB_ATOM_ATOM, 32, 2, atoms);
    xcb_flush(connection);
}

} // namespace

bool DropZoneWindow::compositorAvailable()
{
    xcb_connection_t *connection = x11Connection();
    if (!connection)
        return false;
    const QByteArray name = "_NET_WM_CM_S" + QByteArray::number(defaultScreenNumber());
    const xcb_atom_t selection = internAtom(connection, name.constData());
    if (selection == XCB_ATOM_NONE)
        return false;
    xcb_get_selection_owner_reply_t *reply = xcb_get_selection_owner_reply(
        connection, xcb_get_selection_owner(connection, selection), nullptr);
    if (!reply)
        return false;
    const bool owned = reply->owner != XCB_NONE;
    std::free(reply);
    return owned;
}

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
    return QGuiApplication::platformName() != QLatin1String("xcb") || compositorAvailable();
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
        winId(); // create the native window now, so its state can be set before mapping
        keepOutOfTaskBar(this);
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
        p.drawRoundedRect(QRectF(shape.rect()), DropZoneView::cornerRadius,
                          DropZoneView::cornerRadius);
        p.end();
        m_shadowCache = makeShadow(shape, shadowRadius, QColor(0, 0, 0, 84));
        m_shadowCacheSize = panel.size();
    }
    QPainter p(this);
    // The panel itself is see-through; keep the shadow from darkening it.
    QPainterPath outside;
    outside.addRect(rect());
    QPainterPath inside;
    inside.addRoundedRect(QRectF(panel), DropZoneView::cornerRadius, DropZoneView::cornerRadius);
    p.setClipPath(outside.subtracted(inside));
    p.drawImage(panel.topLeft() - QPoint(shadowRadius, shadowRadius - shadowOffsetY),
                m_shadowCache);
}
