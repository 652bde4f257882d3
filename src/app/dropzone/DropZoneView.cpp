#include "DropZoneView.h"

#include "CharacterImage.h"
#include "CharacterTrack.h"
#include "ShadowImage.h"

#include <QDragEnterEvent>
#include <QDragLeaveEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QTimer>
#include <QVariantAnimation>

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

const QString uploadingTitle = QStringLiteral("アップロード中…");
const QString idleTitle = QStringLiteral("ここにドロップして共有");

constexpr int progressFadeMs = 200;
constexpr int successHoldMs = 1100;
constexpr int failureHoldMs = 1400;

constexpr int horizontalInset = 10;
constexpr int verticalInset = 6;
constexpr int stackSpacing = 4;
constexpr int compactInnerHeight = 36 - 2 * verticalInset;
constexpr double progressContainerHeight = 40;
constexpr double trackHeight = 6;
constexpr double trackRadius = 3;

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

} // namespace

// How the desktop's colours stand in for the named system colours:
//   label            -> QPalette::WindowText
//   secondary label  -> WindowText at 55 % (what secondary text is on both looks)
//   window background-> QPalette::Window
//   accent and blue  -> QPalette::Highlight when it is a real colour; many
//                       themes use a grey selection, then a fixed blue that
//                       reads on light and dark
//   red              -> a fixed red, brighter on dark backgrounds
struct DropZoneView::Palette
{
    QColor label;
    QColor secondary;
    QColor idleTitle;
    QColor window;
    QColor accent;
    QColor red;
    bool dark = false;
};

DropZoneView::Palette DropZoneView::colors() const
{
    const QPalette &pal = palette();
    Palette c;
    c.window = pal.color(QPalette::Window);
    c.window.setAlpha(255);
    c.dark = c.window.lightnessF() < 0.5;
    c.label = pal.color(QPalette::WindowText);
    c.secondary = withAlpha(c.label, 0.55);
    c.idleTitle = withAlpha(c.label, 0.68);
    const QColor highlight = pal.color(QPalette::Highlight);
    if (highlight.hsvSaturationF() >= 0.35 && highlight.valueF() >= 0.35)
        c.accent = highlight;
    else
        c.accent = c.dark ? QColor(64, 150, 255) : QColor(22, 112, 232);
    c.red = c.dark ? QColor(255, 105, 97) : QColor(214, 48, 39);
    return c;
}

DropZoneView::DropZoneView(QWidget *parent)
    : QWidget(parent)
{
    setupView();
    setAcceptDrops(true);
}

DropZoneView::~DropZoneView() = default;

void DropZoneView::setupView()
{
    setAttribute(Qt::WA_TranslucentBackground);
    setFocusPolicy(Qt::NoFocus);

    m_opacityAnimation = new QVariantAnimation(this);
    m_opacityAnimation->setDuration(progressFadeMs);
    connect(m_opacityAnimation, &QVariantAnimation::valueChanged, this, [this](const QVariant &v) {
        m_progressOpacity = v.toDouble();
        update();
    });

    m_fillAnimation = new QVariantAnimation(this);
    m_fillAnimation->setDuration(PelkinCharacter::moveDurationMs);
    connect(m_fillAnimation, &QVariantAnimation::valueChanged, this, [this](const QVariant &v) {
        m_fillFraction = v.toDouble();
        update();
    });

    m_characterAnimation = new QVariantAnimation(this);
    m_characterAnimation->setDuration(PelkinCharacter::moveDurationMs);
    connect(m_characterAnimation, &QVariantAnimation::valueChanged, this,
            [this](const QVariant &v) {
                const QPointF p = v.toPointF();
                m_characterProgress = p.x();
                m_characterVertical = p.y();
                update();
            });

    m_characterImage = PelkinCharacter::loadCharacterImage(PelkinCharacter::Deliverable::dropZone);
    m_characterVertical = PelkinCharacter::dropZoneRestOffset;
    // A soft shadow of the picture: black at 20 %, shown at 25 % opacity,
    // radius 6, one point below it; made at two pixels a point.
    QImage silhouette =
        m_characterImage.scaled(QSize(84, 84), Qt::KeepAspectRatio, Qt::SmoothTransformation);
    silhouette.setDevicePixelRatio(1.0);
    m_characterShadow = makeShadow(silhouette, 12, QColor(0, 0, 0, 51));

    updateAppearance();
    applyState(UploadState::idle, false);
    if (auto callback = onDisplayModeChange)
        callback(m_displayMode);
}

void DropZoneView::setTranslucentPanel(bool translucent)
{
    m_translucentPanel = translucent;
    update();
}

void DropZoneView::setHighlighted(bool highlighted)
{
    m_highlighted = highlighted;
    updateAppearance();
}

void DropZoneView::updateAppearance()
{
    update();
}

QColor DropZoneView::backgroundColor() const
{
    const Palette c = colors();
    // The tints are laid over the window colour rather than over the desktop:
    // a bare 12-15 % tint over an arbitrary wallpaper would leave the texts
    // unreadable.
    QColor base = c.window;
    if (m_state == UploadState::uploading)
        base = blend(base, withAlpha(c.accent, 0.15));
    else if (m_highlighted)
        base = blend(base, withAlpha(c.accent, 0.12));
    if (m_translucentPanel)
        base.setAlphaF(0.94f);
    return base;
}

QColor DropZoneView::toneColor(TextTone tone, double failureAlpha) const
{
    const Palette c = colors();
    switch (tone) {
    case TextTone::label:
        return c.label;
    case TextTone::idle:
        return c.idleTitle;
    case TextTone::secondary:
        return c.secondary;
    case TextTone::failure:
        return withAlpha(c.red, failureAlpha);
    }
    return c.label;
}

QColor DropZoneView::titleColor() const
{
    return toneColor(m_titleTone, 1.0);
}

QColor DropZoneView::subtitleColor() const
{
    return toneColor(m_subtitleTone, 0.9);
}

void DropZoneView::setTitle(const QString &text)
{
    m_titleText = text;
    setAccessibleName(text);
    update();
}

void DropZoneView::setSubtitle(const QString &text)
{
    m_subtitleText = text;
    setAccessibleDescription(text);
    update();
}

void DropZoneView::setDisplayMode(DisplayMode mode)
{
    if (mode == m_displayMode)
        return;
    m_displayMode = mode;
    if (auto callback = onDisplayModeChange)
        callback(mode);
}

void DropZoneView::applyState(UploadState state, bool animated)
{
    m_state = state;
    if (state == UploadState::uploading) {
        m_titleTone = TextTone::label;
        m_subtitleTone = TextTone::secondary;
        m_subtitleVisible = true;
        setTitle(uploadingTitle);
        setSubtitle(QStringLiteral("0%"));
    } else {
        m_titleTone = TextTone::idle;
        setTitle(idleTitle);
        m_subtitleTone = TextTone::secondary;
        m_subtitleVisible = false;
    }
    toggleProgressVisibility(state == UploadState::uploading, animated);
    updateAppearance();
}

void DropZoneView::toggleProgressVisibility(bool isVisible, bool animated)
{
    const double target = isVisible ? 1.0 : 0.0;
    const bool running = m_opacityAnimation->state() == QAbstractAnimation::Running;
    if (!running && m_progressVisible == isVisible && m_progressOpacity == target) {
        setDisplayMode(isVisible ? DisplayMode::expanded : DisplayMode::compact);
        return;
    }
    // A fade in the other direction is superseded, and so is its completion:
    // a late "hide" must not collapse an upload that has just begun.
    m_opacityAnimation->stop();
    disconnect(m_fadeCompletion);

    if (animated) {
        if (isVisible) {
            m_progressVisible = true;
            setDisplayMode(DisplayMode::expanded);
        }
        m_fadeCompletion =
            connect(m_opacityAnimation, &QVariantAnimation::finished, this, [this, isVisible] {
                if (!isVisible) {
                    m_progressVisible = false;
                    update();
                    setDisplayMode(DisplayMode::compact);
                }
            });
        m_opacityAnimation->setStartValue(m_progressOpacity);
        m_opacityAnimation->setEndValue(target);
        m_opacityAnimation->start();
        return;
    }
    m_progressVisible = isVisible;
    m_progressOpacity = target;
    update();
    setDisplayMode(isVisible ? DisplayMode::expanded : DisplayMode::compact);
}

void DropZoneView::updateProgressFill(bool animated)
{
    const double target = std::max(0.0, m_currentProgress);
    m_fillAnimation->stop();
    if (animated) {
        m_fillAnimation->setStartValue(m_fillFraction);
        m_fillAnimation->setEndValue(target);
        m_fillAnimation->start();
    } else {
        m_fillFraction = target;
        update();
    }
    updateCharacterPosition(animated);
}

void DropZoneView::updateCharacterPosition(bool animated)
{
    // The horizontal offset is linear in the progress, so the drawn position is
    // kept as a progress fraction and turned into points when painted.
    const PelkinCharacter::TrackOffsets end = PelkinCharacter::dropZoneOffsets(
        trackRect().width(), m_currentProgress, characterSize, characterBounceAmplitude);
    const QPointF target(m_currentProgress, end.centerFromTop);
    m_characterAnimation->stop();
    if (animated) {
        m_characterAnimation->setStartValue(QPointF(m_characterProgress, m_characterVertical));
        m_characterAnimation->setEndValue(target);
        m_characterAnimation->start();
    } else {
        m_characterProgress = target.x();
        m_characterVertical = target.y();
        update();
    }
}

void DropZoneView::prepareForUpload(const std::optional<QString> &status)
{
    ++m_uploadGeneration;
    applyState(UploadState::uploading, true);
    m_currentProgress = 0.0;
    setSubtitle(QStringLiteral("0%"));
    if (status)
        setTitle(*status);
    updateProgressFill(false);
}

void DropZoneView::updateUploadProgress(double progress)
{
    if (m_state != UploadState::uploading)
        return;
    m_currentProgress = std::isnan(progress) ? 0.0 : std::clamp(progress, 0.0, 1.0);
    updateProgressFill(true);
    const long percent = std::lround(m_currentProgress * 100.0);
    setSubtitle(uploadingTitle + QLatin1Char(' ') + QString::number(percent) + QLatin1Char('%'));
}

void DropZoneView::finishUpload(const QString &title, const QString &detail, bool success,
                                std::function<void()> completion)
{
    if (m_state != UploadState::uploading) {
        if (completion)
            completion();
        return;
    }
    setTitle(title);
    setSubtitle(detail);
    m_titleTone = success ? TextTone::label : TextTone::failure;
    m_subtitleTone = success ? TextTone::secondary : TextTone::failure;
    m_currentProgress = 1.0;
    updateProgressFill(true);

    // No context object: the completion must run even when the view is gone.
    QTimer::singleShot(success ? successHoldMs : failureHoldMs,
                       [view = QPointer<DropZoneView>(this), generation = m_uploadGeneration,
                        completion = std::move(completion)] {
                           if (view && view->m_uploadGeneration == generation)
                               view->resetToIdle(true);
                           if (completion)
                               completion();
                       });
}

void DropZoneView::resetToIdle(bool animated)
{
    m_subtitleTone = TextTone::secondary;
    m_titleTone = TextTone::label;
    m_subtitleVisible = false;
    applyState(UploadState::idle, animated);
    m_currentProgress = 0.0;
    updateProgressFill(false);
}

QList<QUrl> DropZoneView::fileUrls(const QMimeData *mime)
{
    QList<QUrl> files;
    if (!mime || !mime->hasUrls())
        return files;
    const QList<QUrl> urls = mime->urls();
    for (const QUrl &url : urls) {
        if (url.isLocalFile())
            files.append(url);
    }
    return files;
}

bool DropZoneView::draggingEntered(const QMimeData *mime)
{
    // Only file drags are of interest here, as if nothing else were offered.
    QList<QUrl> files = fileUrls(mime);
    if (isUploading() || files.isEmpty())
        return false;
    m_dragFiles = std::move(files);
    m_dragHovering = true;
    m_dragTouched = true;
    setHighlighted(true);
    if (auto callback = onDragEntered)
        callback();
    return true;
}

void DropZoneView::draggingExited()
{
    m_dragHovering = false;
    m_dragFiles.clear();
    setHighlighted(false);
}

void DropZoneView::draggingEnded()
{
    m_dragHovering = false;
    m_dragTouched = false;
    m_dragFiles.clear();
    setHighlighted(false);
    if (auto callback = onDragEnded)
        callback();
}

bool DropZoneView::performDragOperation(const QMimeData *mime)
{
    // The list read at the enter is taken once, by this drop or by nothing.
    const QList<QUrl> entered = std::exchange(m_dragFiles, {});
    if (isUploading())
        return false;
    QList<QUrl> files = fileUrls(mime);
    // A drop can come without its file list (a Qt source considers its drag
    // done once it has sent the drop, and may be gone before we ask) although
    // the same drag offered it on entering; those are the files dropped.
    if (files.isEmpty())
        files = entered;
    if (files.isEmpty())
        return false;
    m_dragHovering = false;
    setHighlighted(false);
    if (auto callback = onDropFiles)
        callback(files);
    return true;
}

void DropZoneView::dragEnterEvent(QDragEnterEvent *event)
{
    if (draggingEntered(event->mimeData())) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else {
        event->ignore();
    }
}

void DropZoneView::dragMoveEvent(QDragMoveEvent *event)
{
    if (m_dragHovering) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else {
        event->ignore();
    }
}

void DropZoneView::dragLeaveEvent(QDragLeaveEvent *event)
{
    if (m_dragHovering)
        draggingExited();
    event->accept();
}

void DropZoneView::dropEvent(QDropEvent *event)
{
    // A drag's data does not change, and the files were read on entering.
    // Reading them again asks the source once more, and a source that has
    // quit in the meantime leaves Qt waiting seconds with our window frozen.
    const QMimeData *mime = m_dragFiles.isEmpty() ? event->mimeData() : nullptr;
    if (performDragOperation(mime)) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else {
        event->ignore();
    }
    // The drag is over once it has been dropped here.
    draggingEnded();
}

QRectF DropZoneView::progressContainerRect() const
{
    const double w = width() - 2 * horizontalInset;
    return QRectF(horizontalInset, height() - verticalInset - progressContainerHeight,
                  std::max(0.0, w), progressContainerHeight);
}

QRectF DropZoneView::trackRect() const
{
    const QRectF container = progressContainerRect();
    return QRectF(container.left(), container.center().y() - trackHeight / 2, container.width(),
                  trackHeight);
}

double DropZoneView::fillWidth() const
{
    return std::max(0.0, trackRect().width() * m_fillFraction);
}

QPointF DropZoneView::characterOffsets() const
{
    const PelkinCharacter::TrackOffsets drawn = PelkinCharacter::dropZoneOffsets(
        trackRect().width(), m_characterProgress, characterSize, characterBounceAmplitude);
    return QPointF(drawn.leading, m_characterVertical);
}

QRectF DropZoneView::characterRect() const
{
    const QRectF track = trackRect();
    const QPointF offsets = characterOffsets();
    return QRectF(track.left() + offsets.x(), track.top() + offsets.y() - characterSize / 2,
                  characterSize, characterSize);
}

bool DropZoneView::isAnimating() const
{
    return m_opacityAnimation->state() == QAbstractAnimation::Running ||
           m_fillAnimation->state() == QAbstractAnimation::Running ||
           m_characterAnimation->state() == QAbstractAnimation::Running;
}

void DropZoneView::paintEvent(QPaintEvent *)
{
    const Palette c = colors();
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);

    // Panel. Without translucency the window is a plain rectangle, so the
    // panel is too; a hairline keeps it apart from what lies behind.
    const QRectF panel = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const double radius = m_translucentPanel ? cornerRadius : 0.0;
    // A hovering drag also lights the edge: the 12 % tint alone is easy to miss.
    const bool lit = m_highlighted && m_state == UploadState::idle;
    p.setPen(QPen(lit ? withAlpha(c.accent, 0.7) : withAlpha(c.label, c.dark ? 0.22 : 0.16), 1.0));
    p.setBrush(backgroundColor());
    p.drawRoundedRect(panel, radius, radius);
    if (m_translucentPanel && c.dark) {
        // A faint inner edge on dark panels, as dark surfaces are usually lit.
        p.setPen(QPen(QColor(255, 255, 255, 18), 1.0));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(panel.adjusted(1, 1, -1, -1), radius - 1, radius - 1);
    }

    // Texts.
    const double textWidth = std::max(0, width() - 2 * horizontalInset);
    const QFont titleFont = labelFont(font(), 12, QFont::DemiBold);
    const QFont subtitleFont = labelFont(font(), 11, QFont::Normal);
    const QFontMetricsF titleMetrics(titleFont);
    const QFontMetricsF subtitleMetrics(subtitleFont);
    const double titleHeight = std::ceil(titleMetrics.height());
    double titleTop = verticalInset;
    if (!m_subtitleVisible)
        titleTop += std::max(0.0, (compactInnerHeight - titleHeight) / 2);
    p.setFont(titleFont);
    p.setPen(titleColor());
    p.drawText(QRectF(horizontalInset, titleTop, textWidth, titleHeight),
               Qt::AlignHCenter | Qt::AlignVCenter,
               titleMetrics.elidedText(m_titleText, Qt::ElideRight, textWidth));
    if (m_subtitleVisible) {
        const double subtitleTop = titleTop + titleHeight + stackSpacing;
        p.setFont(subtitleFont);
        p.setPen(subtitleColor());
        p.drawText(
            QRectF(horizontalInset, subtitleTop, textWidth, std::ceil(subtitleMetrics.height())),
            Qt::AlignHCenter | Qt::AlignVCenter,
            subtitleMetrics.elidedText(m_subtitleText, Qt::ElideRight, textWidth));
    }

    if (!m_progressVisible || m_progressOpacity <= 0.0)
        return;

    // Progress: track, fill, then the character above both.
    p.setOpacity(m_progressOpacity);
    const QRectF track = trackRect();
    p.setPen(Qt::NoPen);
    p.setBrush(withAlpha(c.accent, 0.18));
    p.drawRoundedRect(track, trackRadius, trackRadius);
    const double fill = std::min(fillWidth(), track.width());
    if (fill > 0) {
        QPainterPath clip;
        clip.addRoundedRect(track, trackRadius, trackRadius);
        p.save();
        p.setClipPath(clip);
        p.setBrush(c.accent);
        p.drawRect(QRectF(track.left(), track.top(), fill, track.height()));
        p.restore();
    }

    if (m_characterImage.isNull())
        return;
    const QRectF box = characterRect();
    // Scaled once per pixel density: the artwork is far larger than 42 points
    // and is drawn on every frame of a move.
    const qreal dpr = devicePixelRatioF();
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
        p.setOpacity(m_progressOpacity * 0.25);
        const double scale = target.width() / 84.0;
        const double pad = 12 * scale;
        p.drawImage(target.adjusted(-pad, -pad, pad, pad).translated(0, 1), m_characterShadow);
        p.restore();
    }
    p.drawImage(target, m_characterScaled);
}

void DropZoneView::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    update();
}

void DropZoneView::hideEvent(QHideEvent *event)
{
    // The zone hides as its result fades back to idle; finish the fades now
    // so that the next drag does not find the expanded look and size of the
    // last upload for their remaining moments.
    for (QVariantAnimation *animation :
         {m_opacityAnimation, m_fillAnimation, m_characterAnimation}) {
        if (animation->state() == QAbstractAnimation::Running)
            animation->setCurrentTime(animation->totalDuration());
    }
    QWidget::hideEvent(event);
}

void DropZoneView::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::FontChange)
        update();
    QWidget::changeEvent(event);
}
