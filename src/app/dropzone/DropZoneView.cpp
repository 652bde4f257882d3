#include "DropZoneView.h"

#include "CharacterTrack.h"

#include <QDragEnterEvent>
#include <QDragLeaveEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QPainter>
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

constexpr double characterSize = PelkinCharacter::dropZoneCharacterSize;

} // namespace

DropZoneView::DropZoneView(QWidget *parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_TranslucentBackground);
    setFocusPolicy(Qt::NoFocus);
    setAcceptDrops(true);

    // Each animation drives one piece of drawn state and repaints.
    const auto animation = [this](int durationMs, auto apply) {
        auto *created = new QVariantAnimation(this);
        created->setDuration(durationMs);
        connect(created, &QVariantAnimation::valueChanged, this, [this, apply](const QVariant &v) {
            apply(v);
            update();
        });
        return created;
    };
    m_opacityAnimation =
        animation(progressFadeMs, [this](const QVariant &v) { m_progressOpacity = v.toDouble(); });
    m_fillAnimation = animation(PelkinCharacter::moveDurationMs,
                                [this](const QVariant &v) { m_fillFraction = v.toDouble(); });
    m_characterAnimation = animation(PelkinCharacter::moveDurationMs, [this](const QVariant &v) {
        m_characterProgress = v.toPointF().x();
        m_characterVertical = v.toPointF().y();
    });
    m_characterVertical = PelkinCharacter::dropZoneRestOffset;

    applyState(UploadState::idle, false);
    if (auto callback = onDisplayModeChange)
        callback(m_displayMode);
}

DropZoneView::~DropZoneView() = default;

void DropZoneView::setTranslucentPanel(bool translucent)
{
    m_translucentPanel = translucent;
    update();
}

void DropZoneView::setHighlighted(bool highlighted)
{
    m_highlighted = highlighted;
    update();
}

QColor DropZoneView::backgroundColor() const
{
    return DropZoneLook::backgroundColor(palette(), isUploading(), m_highlighted,
                                         m_translucentPanel);
}

QColor DropZoneView::titleColor() const
{
    return DropZoneLook::titleColor(palette(), m_titleTone);
}

QColor DropZoneView::subtitleColor() const
{
    return DropZoneLook::subtitleColor(palette(), m_subtitleTone);
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
        m_titleTone = DropZoneLook::TextTone::label;
        m_subtitleTone = DropZoneLook::TextTone::secondary;
        m_subtitleVisible = true;
        setTitle(uploadingTitle);
        setSubtitle(QStringLiteral("0%"));
    } else {
        m_titleTone = DropZoneLook::TextTone::idle;
        setTitle(idleTitle);
        m_subtitleTone = DropZoneLook::TextTone::secondary;
        m_subtitleVisible = false;
    }
    toggleProgressVisibility(state == UploadState::uploading, animated);
    update();
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
    const PelkinCharacter::TrackOffsets end = PelkinCharacter::dropZoneOffsets(trackRect().width(), m_currentProgress);
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
    m_titleTone = success ? DropZoneLook::TextTone::label : DropZoneLook::TextTone::failure;
    m_subtitleTone = success ? DropZoneLook::TextTone::secondary : DropZoneLook::TextTone::failure;
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
    m_subtitleTone = DropZoneLook::TextTone::secondary;
    m_titleTone = DropZoneLook::TextTone::label;
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

QRectF DropZoneView::trackRect() const
{
    return DropZoneLook::trackRect(QSizeF(size()));
}

double DropZoneView::fillWidth() const
{
    return std::max(0.0, trackRect().width() * m_fillFraction);
}

QPointF DropZoneView::characterOffsets() const
{
    const PelkinCharacter::TrackOffsets drawn = PelkinCharacter::dropZoneOffsets(trackRect().width(), m_characterProgress);
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
    DropZoneLook::Frame frame;
    frame.bounds = QRectF(rect());
    frame.translucentPanel = m_translucentPanel;
    frame.highlighted = m_highlighted;
    frame.uploading = isUploading();
    frame.title = m_titleText;
    frame.subtitle = m_subtitleText;
    frame.subtitleVisible = m_subtitleVisible;
    frame.titleTone = m_titleTone;
    frame.subtitleTone = m_subtitleTone;
    frame.progressOpacity = m_progressVisible ? m_progressOpacity : 0.0;
    frame.fillWidth = fillWidth();
    frame.characterBox = characterRect();
    QPainter painter(this);
    m_look.paint(painter, palette(), font(), devicePixelRatioF(), frame);
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
