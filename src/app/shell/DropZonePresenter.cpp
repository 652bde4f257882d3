#include "DropZonePresenter.h"

#include "DropZonePlacement.h"
#include "DropZoneView.h"
#include "DropZoneWindow.h"
#include "StatusItem.h"
#include "X11Support.h"

#include <QCursor>
#include <QGuiApplication>
#include <QLoggingCategory>
#include <QMimeData>
#include <QPropertyAnimation>
#include <QScreen>

Q_DECLARE_LOGGING_CATEGORY(lcShell)

namespace {

const QString uploadingStatus = QStringLiteral("ファイルをアップロード中…");

} // namespace

DropZonePresenter::DropZonePresenter(QObject *parent)
    : QObject(parent)
{}

DropZonePresenter::~DropZonePresenter()
{
    delete m_window;
}

void DropZonePresenter::setStatusItem(StatusItem *item)
{
    m_statusItem = item;
}

bool DropZonePresenter::isDragHovering() const
{
    return m_window && m_window->isVisible() && m_window->dropView()->isDragHovering();
}

// ---------------------------------------------------------------- the window

void DropZonePresenter::ensureWindow()
{
    if (m_window)
        return;
    auto *window = new DropZoneWindow();
    if (m_placedOverSensor)
        window->setWindowFlag(Qt::X11BypassWindowManagerHint);
    DropZoneView *view = window->dropView();
    QPointer<DropZonePresenter> self(this);
    view->onDropFiles = [self](const QList<QUrl> &urls) {
        if (!self)
            return;
        qCDebug(lcShell) << "drop on the zone:" << urls.size() << "files";
        // The zone now shows the upload; the view ends the drag itself once
        // the drop is done.
        emit self->filesDropped(urls);
    };
    view->onDragEntered = [self] {
        if (!self || !self->m_window)
            return;
        if (!self->m_window->dropView()->isUploading() && self->m_statusItem)
            self->setStatusItemHighlighted(true);
    };
    view->onDragEnded = [self] {
        if (!self)
            return;
        emit self->dragEndedOnZone();
        self->hideUnlessUploading();
    };
    view->onDisplayModeChange = [self](DropZoneView::DisplayMode mode) {
        if (!self || !self->m_window)
            return;
        self->m_window->apply(mode, true);
        self->place({});
    };
    m_window = window;
    window->apply(view->currentDisplayMode(), false);
    place({});
}

QRect DropZonePresenter::anchor() const
{
    if (m_statusItem) {
        if (const auto icon = m_statusItem->geometry())
            return *icon;
    }
    QScreen *screen = QGuiApplication::screenAt(QCursor::pos());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return {};
    return DropZonePlacement::fallbackAnchor(screen->availableGeometry());
}

void DropZonePresenter::setStatusItemHighlighted(bool highlighted)
{
    if (m_statusItem)
        m_statusItem->setHighlighted(highlighted);
}

bool DropZonePresenter::isFadingOut() const
{
    return m_fade && m_fade->endValue().toDouble() == 0.0;
}

void DropZonePresenter::place(const Placement &placement)
{
    if (!m_statusItem || !m_window)
        return;
    DropZoneWindow *window = m_window;
    setStatusItemHighlighted(placement.highlightStatusItem && !window->dropView()->isUploading());

    const QRect from = anchor();
    std::optional<QRect> available;
    if (QScreen *screen = QGuiApplication::screenAt(from.center()))
        available = screen->availableGeometry();
    const QPoint origin = DropZonePlacement::origin(from, window->panelSize(), available);

    const bool wanted = placement.reveal || placement.forceVisible;
    const bool fadingOut = isFadingOut();
    if (window->isVisible() && !(fadingOut && wanted)) {
        window->movePanelTo(origin, placement.animated);
        return;
    }
    if (!window->isVisible() && !wanted)
        return;

    // Hidden, or on its way out and wanted again: the fade-out must not
    // finish by hiding a zone that was just asked for.
    stopFade();
    window->movePanelTo(origin, false);
    if (placement.reveal && X11Support::compositorRunning()) {
        if (!fadingOut)
            window->setWindowOpacity(0.0);
        window->show();
        window->raise();
        fadeIn();
    } else {
        // Without a compositor opacity does nothing; it only has to be right
        // for when one starts.
        if (window->windowOpacity() != 1.0)
            window->setWindowOpacity(1.0);
        window->show();
        window->raise();
    }
}

void DropZonePresenter::fadeIn()
{
    auto *fade = new QPropertyAnimation(m_window, "windowOpacity", this);
    fade->setDuration(showFadeMs);
    fade->setStartValue(m_window->windowOpacity());
    fade->setEndValue(1.0);
    m_fade = fade;
    fade->start(QAbstractAnimation::DeleteWhenStopped);
}

void DropZonePresenter::stopFade()
{
    if (m_fade) {
        m_fade->stop(); // deletes it
        m_fade = nullptr;
    }
}

// ---------------------------------------------------------------- drags

void DropZonePresenter::revealForDrag()
{
    ensureWindow();
    place({.highlightStatusItem = true, .animated = true, .reveal = true});
}

void DropZonePresenter::concludeDrag()
{
    if (m_window && m_window->dropView()->hasDragTouched())
        m_window->dropView()->draggingEnded();
    hideUnlessUploading();
}

// ---------------------------------------------------------------- hiding

void DropZonePresenter::hideUnlessUploading()
{
    hide({});
}

void DropZonePresenter::hideNow()
{
    hide({.immediate = true, .evenWhileUploading = true});
}

void DropZonePresenter::hide(const Hiding &hiding)
{
    qCDebug(lcShell) << "hide; immediate" << hiding.immediate << "even while uploading"
                     << hiding.evenWhileUploading << "uploading" << m_uploadInProgress;
    setStatusItemHighlighted(false);
    DropZoneWindow *window = m_window;
    if (!window || !window->isVisible())
        return;
    if ((m_uploadInProgress || window->dropView()->isUploading()) && !hiding.evenWhileUploading)
        return;
    const bool compositing = X11Support::compositorRunning();
    if (hiding.immediate || !compositing) {
        stopFade();
        window->hide();
        if (compositing)
            window->setWindowOpacity(0.0);
        return;
    }
    if (isFadingOut())
        return;
    stopFade();
    auto *fade = new QPropertyAnimation(window, "windowOpacity", this);
    fade->setDuration(hideFadeMs);
    fade->setStartValue(window->windowOpacity());
    fade->setEndValue(0.0);
    QPointer<DropZoneWindow> target(window);
    connect(fade, &QPropertyAnimation::finished, this, [target] {
        if (!target)
            return;
        target->hide();
        target->setWindowOpacity(0.0);
    });
    m_fade = fade;
    fade->start(QAbstractAnimation::DeleteWhenStopped);
}

// ---------------------------------------------------------------- uploads

void DropZonePresenter::showUploadStarted()
{
    m_uploadInProgress = true;
    ensureWindow();
    place({.animated = true, .reveal = true, .forceVisible = true});
    if (m_window)
        m_window->dropView()->prepareForUpload(uploadingStatus);
}

void DropZonePresenter::showUploadProgress(double fraction)
{
    if (m_uploadInProgress && m_window && !m_window->isVisible()) {
        ensureWindow();
        place({.animated = true, .reveal = true, .forceVisible = true});
    }
    if (m_window)
        m_window->dropView()->updateUploadProgress(fraction);
}

void DropZonePresenter::showUploadFinished(const QString &title, const QString &detail,
                                           bool success)
{
    if (!m_uploadInProgress)
        return;
    const Hiding afterUpload{.evenWhileUploading = true};
    if (m_window && m_window->dropView()->isUploading()) {
        QPointer<DropZonePresenter> self(this);
        m_window->dropView()->finishUpload(title, detail, success, [self, afterUpload] {
            if (!self)
                return;
            self->m_uploadInProgress = false;
            self->hide(afterUpload);
        });
    } else {
        m_uploadInProgress = false;
        hide(afterUpload);
    }
}

void DropZonePresenter::setPlacedOverSensor(bool placedOverSensor)
{
    m_placedOverSensor = placedOverSensor;
    if (m_window)
        m_window->setWindowFlag(Qt::X11BypassWindowManagerHint, placedOverSensor);
}

void DropZonePresenter::sensorDragEntered(const QList<QUrl> &files)
{
    ensureWindow();
    QMimeData mime;
    mime.setUrls(files);
    m_window->dropView()->draggingEntered(&mime);
}

void DropZonePresenter::sensorDragLeft()
{
    if (m_window)
        m_window->dropView()->draggingExited();
}

void DropZonePresenter::sensorDropped(const QList<QUrl> &files)
{
    ensureWindow();
    QMimeData mime;
    mime.setUrls(files);
    DropZoneView *view = m_window->dropView();
    view->performDragOperation(&mime);
    view->draggingEnded();
}
