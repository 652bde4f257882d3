#pragma once

#include "DropZoneView.h"

#include <QMargins>
#include <QRect>
#include <QSize>
#include <QWidget>

class QVariantAnimation;

// The floating drop zone: a frameless, always-on-top tool window that never
// takes focus and stays out of the task bar. With a compositor it is
// translucent with rounded corners and a soft shadow drawn in a transparent
// margin around the panel; without one it is a flat, opaque panel with no
// margin. Position it through the panel's geometry (panelSize(),
// movePanelTo()), not the window's: the margin is not part of the panel.
class DropZoneWindow : public QWidget
{
    Q_OBJECT

public:
    enum class Chrome {
        automatic,   // translucent when a compositor runs (X11), flat otherwise
        translucent, // force the translucent look (tests, screenshots)
        flat,        // force the flat look
    };

    explicit DropZoneWindow(Chrome chrome = Chrome::automatic);
    ~DropZoneWindow() override;

    DropZoneView *dropView() const { return m_dropView; }

    // Give the panel the size of `mode` (210 x 36 compact, 260 x 132 expanded),
    // keeping its bottom-left corner; animated over 0.2 s. No-op when the mode
    // is already current. The caller re-places the panel afterwards.
    void apply(DropZoneView::DisplayMode mode, bool animated);
    DropZoneView::DisplayMode currentDisplayMode() const { return m_currentDisplayMode; }

    static constexpr QSize compactSize{210, 36};
    static constexpr QSize expandedSize{260, 132};

    // The panel's size for the current mode (the final size while a resize
    // animation runs): what the shell centres under the tray anchor.
    QSize panelSize() const;
    // The panel's rectangle on screen as shown now (window minus shadow margin).
    QRect panelGeometry() const;
    // Put the panel's top-left corner at `topLeft` (global coordinates). While a
    // resize runs, the animation is retargeted so both end together. Animated
    // moves take 0.12 s.
    void movePanelTo(const QPoint &topLeft, bool animated = false);

    bool isTranslucent() const { return m_translucent; }
    QMargins shadowMargins() const { return m_margins; }

    // With Chrome::automatic the look is chosen again each time the window is
    // shown, as a compositor may have started or stopped meanwhile.
    void setVisible(bool visible) override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    bool wantsTranslucency() const;
    void applyChrome(bool translucent, const QRect &panel);
    void setPanelRect(const QRect &panel);
    QRect targetPanelRect() const;

    Chrome m_chrome = Chrome::automatic;
    DropZoneView *m_dropView = nullptr;
    DropZoneView::DisplayMode m_currentDisplayMode = DropZoneView::DisplayMode::compact;
    bool m_translucent = false;
    QMargins m_margins;
    QVariantAnimation *m_geometryAnimation = nullptr;
    QImage m_shadowCache;
    QSize m_shadowCacheSize;
};
