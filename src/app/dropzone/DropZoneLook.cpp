#include "DropZoneLook.h"

#include "CharacterImage.h"
#include "ShadowImage.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>

#include <algorithm>
#include <cmath>

namespace {

constexpr int horizontalInset = 10;
constexpr int verticalInset = 6;
constexpr int stackSpacing = 4;
constexpr int compactInnerHeight = 36 - 2 * verticalInset;
constexpr double progressContainerHeight = 40;
constexpr double trackHeight = 6;
constexpr double trackRadius = 3;
// The shadow is made from the picture at two pixels a point.
constexpr int shadowSourceSize = 84;
constexpr int shadowRadius = 12;

QColor withAlpha(QColor color, double alpha)
{
    color.setAlphaF(float(color.alphaF() * alpha));
    return color;
}

// Composites `over` onto an opaque `base`.
QColor blend(const QColor &base, const QColor &over)
{
    const double a = over.alphaF();
    return QColor::fromRgbF(float(base.redF() * (1 - a) + over.redF() * a),
                            float(base.greenF() * (1 - a) + over.greenF() * a),
                            float(base.blueF() * (1 - a) + over.blueF() * a), base.alphaF());
}

QFont labelFont(const QFont &base, int pixelSize, QFont::Weight weight)
{
    QFont font(base);
    font.setPixelSize(pixelSize);
    font.setWeight(weight);
    return font;
}

// How the desktop's colours stand in for the named system colours:
//   label            -> QPalette::WindowText
//   secondary label  -> WindowText at 55 % (what secondary text is on both looks)
//   window background-> QPalette::Window
//   accent and blue  -> QPalette::Highlight when it is a real colour; many
//                       themes use a grey selection, then a fixed blue that
//                       reads on light and dark
//   red              -> a fixed red, brighter on dark backgrounds
struct Colours
{
    QColor label;
    QColor secondary;
    QColor idleTitle;
    QColor window;
    QColor accent;
    QColor red;
    bool dark = false;

    explicit Colours(const QPalette &pal)
    {
        window = pal.color(QPalette::Window);
        window.setAlpha(255);
        dark = window.lightnessF() < 0.5;
        label = pal.color(QPalette::WindowText);
        secondary = withAlpha(label, 0.55);
        idleTitle = withAlpha(label, 0.68);
        const QColor highlight = pal.color(QPalette::Highlight);
        if (highlight.hsvSaturationF() >= 0.35 && highlight.valueF() >= 0.35)
            accent = highlight;
        else
            accent = dark ? QColor(64, 150, 255) : QColor(22, 112, 232);
        red = dark ? QColor(255, 105, 97) : QColor(214, 48, 39);
    }

    QColor tone(DropZoneLook::TextTone tone, double failureAlpha) const
    {
        switch (tone) {
        case DropZoneLook::TextTone::label:
            return label;
        case DropZoneLook::TextTone::idle:
            return idleTitle;
        case DropZoneLook::TextTone::secondary:
            return secondary;
        case DropZoneLook::TextTone::failure:
            return withAlpha(red, failureAlpha);
        }
        return label;
    }
};

} // namespace

DropZoneLook::DropZoneLook()
{
    m_characterImage =
        PelkinCharacter::loadCharacterImage(PelkinCharacter::Deliverable::dropZone);
    // A soft shadow of the picture: black at 20 %, shown at 25 % opacity,
    // radius 6, one point below it.
    QImage silhouette = m_characterImage.scaled(QSize(shadowSourceSize, shadowSourceSize),
                                                Qt::KeepAspectRatio, Qt::SmoothTransformation);
    silhouette.setDevicePixelRatio(1.0);
    m_characterShadow = makeShadow(silhouette, shadowRadius, QColor(0, 0, 0, 51));
}

QRectF DropZoneLook::trackRect(const QSizeF &size)
{
    const double width = std::max(0.0, size.width() - 2 * horizontalInset);
    const QRectF container(horizontalInset,
                           size.height() - verticalInset - progressContainerHeight, width,
                           progressContainerHeight);
    return QRectF(container.left(), container.center().y() - trackHeight / 2, container.width(),
                  trackHeight);
}

QColor DropZoneLook::backgroundColor(const QPalette &palette, bool uploading, bool highlighted,
                                     bool translucentPanel)
{
    const Colours c(palette);
    // The tints are laid over the window colour rather than over the desktop:
    // a bare 12-15 % tint over an arbitrary wallpaper would leave the texts
    // unreadable.
    QColor base = c.window;
    if (uploading)
        base = blend(base, withAlpha(c.accent, 0.15));
    else if (highlighted)
        base = blend(base, withAlpha(c.accent, 0.12));
    if (translucentPanel)
        base.setAlphaF(0.94f);
    return base;
}

QColor DropZoneLook::titleColor(const QPalette &palette, TextTone tone)
{
    return Colours(palette).tone(tone, 1.0);
}

QColor DropZoneLook::subtitleColor(const QPalette &palette, TextTone tone)
{
    return Colours(palette).tone(tone, 0.9);
}

void DropZoneLook::paint(QPainter &p, const QPalette &palette, const QFont &font,
                         qreal devicePixelRatio, const Frame &frame)
{
    const Colours c(palette);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);

    // Panel. Without translucency the window is a plain rectangle, so the
    // panel is too; a hairline keeps it apart from what lies behind.
    const QRectF panel = frame.bounds.adjusted(0.5, 0.5, -0.5, -0.5);
    const double radius = frame.translucentPanel ? cornerRadius : 0.0;
    // A hovering drag also lights the edge: the 12 % tint alone is easy to miss.
    const bool lit = frame.highlighted && !frame.uploading;
    p.setPen(QPen(lit ? withAlpha(c.accent, 0.7) : withAlpha(c.label, c.dark ? 0.22 : 0.16), 1.0));
    p.setBrush(
        backgroundColor(palette, frame.uploading, frame.highlighted, frame.translucentPanel));
    p.drawRoundedRect(panel, radius, radius);
    if (frame.translucentPanel && c.dark) {
        // A faint inner edge on dark panels, as dark surfaces are usually lit.
        p.setPen(QPen(QColor(255, 255, 255, 18), 1.0));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(panel.adjusted(1, 1, -1, -1), radius - 1, radius - 1);
    }

    // Texts.
    const double textWidth = std::max(0.0, frame.bounds.width() - 2 * horizontalInset);
    const QFont titleFont = labelFont(font, 12, QFont::DemiBold);
    const QFont subtitleFont = labelFont(font, 11, QFont::Normal);
    const QFontMetricsF titleMetrics(titleFont);
    const QFontMetricsF subtitleMetrics(subtitleFont);
    const double titleHeight = std::ceil(titleMetrics.height());
    double titleTop = verticalInset;
    if (!frame.subtitleVisible)
        titleTop += std::max(0.0, (compactInnerHeight - titleHeight) / 2);
    p.setFont(titleFont);
    p.setPen(c.tone(frame.titleTone, 1.0));
    p.drawText(QRectF(horizontalInset, titleTop, textWidth, titleHeight),
               Qt::AlignHCenter | Qt::AlignVCenter,
               titleMetrics.elidedText(frame.title, Qt::ElideRight, textWidth));
    if (frame.subtitleVisible) {
        const double subtitleTop = titleTop + titleHeight + stackSpacing;
        p.setFont(subtitleFont);
        p.setPen(c.tone(frame.subtitleTone, 0.9));
        p.drawText(
            QRectF(horizontalInset, subtitleTop, textWidth, std::ceil(subtitleMetrics.height())),
            Qt::AlignHCenter | Qt::AlignVCenter,
            subtitleMetrics.elidedText(frame.subtitle, Qt::ElideRight, textWidth));
    }

    if (frame.progressOpacity <= 0.0)
        return;

    // Progress: track, fill, then the character above both.
    p.setOpacity(frame.progressOpacity);
    const QRectF track = trackRect(frame.bounds.size());
    p.setPen(Qt::NoPen);
    p.setBrush(withAlpha(c.accent, 0.18));
    p.drawRoundedRect(track, trackRadius, trackRadius);
    const double fill = std::min(frame.fillWidth, track.width());
    if (fill > 0) {
        QPainterPath clip;
        clip.addRoundedRect(track, trackRadius, trackRadius);
        p.save();
        p.setClipPath(clip);
        p.setBrush(c.accent);
        p.drawRect(QRectF(track.left(), track.top(), fill, track.height()));
        p.restore();
    }
    paintCharacter(p, frame.characterBox, frame.progressOpacity, devicePixelRatio);
}

void DropZoneLook::paintCharacter(QPainter &p, const QRectF &box, double opacity, qreal dpr)
{
    if (m_characterImage.isNull())
        return;
    // Scaled once per pixel density: the artwork is far larger than the
    // character's box and is drawn on every frame of a move.
    if (m_characterScaled.isNull() || m_characterScaled.devicePixelRatio() != dpr) {
        m_characterScaled = m_characterImage.scaled((box.size() * dpr).toSize(),
                                                    Qt::KeepAspectRatio, Qt::SmoothTransformation);
        m_characterScaled.setDevicePixelRatio(dpr);
    }
    const QSizeF imageSize = m_characterScaled.deviceIndependentSize();
    const QRectF target(box.center().x() - imageSize.width() / 2,
                        box.center().y() - imageSize.height() / 2, imageSize.width(),
                        imageSize.height());
    if (!m_characterShadow.isNull()) {
        p.save();
        p.setOpacity(opacity * 0.25);
        const double scale = target.width() / shadowSourceSize;
        const double pad = shadowRadius * scale;
        p.drawImage(target.adjusted(-pad, -pad, pad, pad).translated(0, 1), m_characterShadow);
        p.restore();
    }
    p.drawImage(target, m_characterScaled);
}
