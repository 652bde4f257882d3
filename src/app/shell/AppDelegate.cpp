#include "AppDelegate.h"

#include "AlertPresenter.h"
#include "AppModel.h"
#include "DragTypes.h"
#include "DropZonePlacement.h"
#include "DropZoneView.h"
#include "DropZoneWindow.h"
#include "GlobalDragMonitor.h"
#include "MainWindow.h"
#include "PelkinUploader.h"
#include "StatusItem.h"

#include <QApplication>
#include <QClipboard>
#include <QCursor>
#include <QLoggingCategory>
#include <QPropertyAnimation>
#include <QScreen>
#include <QSettings>
#include <QTimer>

Q_LOGGING_CATEGORY(lcShell, "pelkin.shell", QtInfoMsg)

namespace {

const QString uploadSucceededTitle = QStringLiteral("アップロード完了");
const QString uploadFailedTitle = QStringLiteral("アップロード失敗");
const QString copiedStatus = QStringLiteral("共有URLをクリップボードにコピーしました");
const QString issuedStatus = QStringLiteral("共有URLを発行しました");
const QString noUrlHistoryMessage =
    QStringLiteral("アップロードは成功しましたがURLの取得に失敗しました");
const QString noUrlDetail = QStringLiteral("URLの取得に失敗しました");
const QString noUrlAlert =
    QStringLiteral("アップロードは成功しましたが、URLの取得に失敗しました。");
const QString noFilesAlert = QStringLiteral("ファイルが選択されていません。");
const QString noFilesHome = QStringLiteral("ファイルが選択されていません");
const QString uploadingStatus = QStringLiteral("ファイルをアップロード中…");

// The last component of the URL's path, as the user named the file (a
// trailing slash does not count).
QString lastPathComponent(const QUrl &url)
{
    QString path = url.path(QUrl::FullyDecoded);
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    if (path == QLatin1String("/"))
        return path;
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

} // namespace

// What the callbacks of one request share. `handled` turns true when the
// outcome has been shown; a progress report that arrives after that is stale
// and dropped, so it can never overwrite the result.
struct AppDelegate::Request
{
    UploadOrigin origin;
    QStringList fileNames;
    bool handled = false;
};

AppDelegate::AppDelegate(Parts parts, QObject *parent)
    : QObject(parent)
    , m_model(parts.model)
    , m_uploader(std::move(parts.uploader))
    , m_alerts(std::move(parts.alerts))
    , m_dragSource(std::move(parts.dragSource))
    , m_dropWaitTimer(new QTimer(this))
{
    Q_ASSERT(m_model);
    if (!m_uploader)
        m_uploader = std::make_unique<PelkinUploader>();
    if (!m_alerts)
        m_alerts = std::make_unique<AlertPresenter>();
    // The window's place lives in the model's store file, beside the settings.
    m_windowStore = std::make_unique<QSettings>(m_model->settingsFilePath(), QSettings::IniFormat);
    m_dropWaitTimer->setSingleShot(true);
    m_dropWaitTimer->setInterval(dropWaitMs);
    connect(m_dropWaitTimer, &QTimer::timeout, this, &AppDelegate::finishDragEnd);
}

AppDelegate::~AppDelegate()
{
    m_model->onRequestHomeUpload = nullptr;
    m_model->onMenuBarIconVisibilityChange = nullptr;
    delete m_dropZoneWindow;
    delete m_dragMonitor;
}

// ---------------------------------------------------------------- launch

void AppDelegate::applicationDidFinishLaunching(bool showMainWindowAtLaunch)
{
    // The tray icon, the drop zone and a second launch are ways back: closing
    // the last window never ends the application.
    QApplication::setQuitOnLastWindowClosed(false);
    setActivationPolicy(ActivationPolicy::regular);
    if (m_model->showsMenuBarIcon())
        setupStatusItem();
    else
        removeStatusItem();
    refreshActivationPolicy();
    setupGlobalDragMonitor();

    QPointer<AppDelegate> self(this);
    m_model->onRequestHomeUpload = [self](const QList<QUrl> &urls,
                                          const std::optional<QString> &password) {
        if (self)
            self->startUpload(urls, password, UploadOrigin::home);
    };
    m_model->onMenuBarIconVisibilityChange = [self](bool visible) {
        if (!self)
            return;
        if (visible)
            self->setupStatusItem();
        else
            self->removeStatusItem();
        self->refreshActivationPolicy();
    };
    if (showMainWindowAtLaunch)
        showMainWindow();
    else
        refreshActivationPolicy();
}

void AppDelegate::applicationShouldHandleReopen()
{
    // A launch from the menu is a request to see the window: raise it even
    // when it is open behind others.
    showMainWindow();
}

// ---------------------------------------------------------------- uploads

std::optional<QString> AppDelegate::normalizedPassword(const std::optional<QString> &password)
{
    if (!password)
        return std::nullopt;
    return AppModel::normalizedPassword(*password);
}

std::optional<QString> AppDelegate::resolvedPassword(const std::optional<QString> &password) const
{
    if (auto normalized = normalizedPassword(password))
        return normalized;
    return m_model->normalizedDefaultPassword();
}

bool AppDelegate::copyURLToClipboardIfNeeded(const std::optional<QString> &url)
{
    if (!url || url->isEmpty() || !m_model->autoCopyToClipboard())
        return false;
    QClipboard *clipboard = QGuiApplication::clipboard();
    clipboard->clear(QClipboard::Clipboard);
    clipboard->setText(*url, QClipboard::Clipboard);
    return true;
}

void AppDelegate::startUpload(const QList<QUrl> &files, const std::optional<QString> &password,
                              UploadOrigin origin)
{
    if (files.isEmpty()) {
        if (origin == UploadOrigin::home) {
            m_model->markHomeUploadFailed(noFilesHome, {});
        } else {
            // Not from inside the drop's own event handling: the drag source
            // waits for the drop to finish.
            QMetaObject::invokeMethod(
                this, [this] { m_alerts->showAlert(uploadFailedTitle, noFilesAlert); },
                Qt::QueuedConnection);
        }
        return;
    }

    auto request = std::make_shared<Request>();
    request->origin = origin;
    for (const QUrl &file : files)
        request->fileNames.append(lastPathComponent(file));

    const std::optional<QString> settled =
        origin == UploadOrigin::home ? normalizedPassword(password) : resolvedPassword(password);

    if (origin == UploadOrigin::menuBar)
        prepareDropZoneForUpload();
    else
        m_model->markHomeUploadStarted();

    QPointer<AppDelegate> self(this);
    auto progress = [self, request](double fraction) {
        // Already on the main thread, but queued all the same so that the
        // order start → progress → outcome holds for every request.
        QMetaObject::invokeMethod(
            qApp,
            [self, request, fraction] {
                if (!self || request->handled)
                    return;
                if (request->origin == UploadOrigin::home)
                    self->m_model->updateHomeUploadProgress(fraction);
                else
                    self->updateDropZoneProgress(fraction);
            },
            Qt::QueuedConnection);
    };
    auto completion = [self, request](UploadResult result) {
        // Any thread: only the QPointer copy happens here; it is read on the
        // main thread.
        QCoreApplication *app = QCoreApplication::instance();
        if (!app)
            return;
        QMetaObject::invokeMethod(
            app,
            [self, request, result = std::move(result)] {
                if (self)
                    self->handleUploadResult(request, result);
            },
            Qt::QueuedConnection);
    };
    m_uploader->upload(files, settled, std::move(progress), std::move(completion));
}

void AppDelegate::handleUploadResult(const std::shared_ptr<Request> &request,
                                     const UploadResult &result)
{
    request->handled = true;
    const bool fromHome = request->origin == UploadOrigin::home;
    const QStringList &names = request->fileNames;

    if (result.isSuccess()) {
        const std::optional<QString> url = result.response().url;
        const bool copied = copyURLToClipboardIfNeeded(url);
        if (url && !url->isEmpty()) {
            const QString status = copied ? copiedStatus : issuedStatus;
            if (fromHome)
                m_model->markHomeUploadSucceeded(url, names, copied);
            m_model->addHistory(names, url, true, status);
            if (!fromHome) {
                finalizeDropZoneUpload(uploadSucceededTitle, status, true);
                m_alerts->showAlert(uploadSucceededTitle, status + QStringLiteral("。\n") + *url);
            }
        } else {
            if (fromHome)
                m_model->markHomeUploadSucceeded(std::nullopt, names, false);
            m_model->addHistory(names, std::nullopt, true, noUrlHistoryMessage);
            if (!fromHome) {
                finalizeDropZoneUpload(uploadSucceededTitle, noUrlDetail, true);
                m_alerts->showAlert(uploadSucceededTitle, noUrlAlert);
            }
        }
    } else {
        const QString message = result.localizedDescription();
        if (fromHome)
            m_model->markHomeUploadFailed(message, names);
        m_model->addHistory(names, std::nullopt, false, message);
        if (!fromHome) {
            finalizeDropZoneUpload(uploadFailedTitle, message, false);
            m_alerts->showAlert(uploadFailedTitle, message);
        }
    }
}

// ---------------------------------------------------------------- tray, policy, window

void AppDelegate::setupStatusItem()
{
    if (m_statusItem)
        return;
    m_statusItem = new StatusItem(this);
    connect(m_statusItem, &StatusItem::clicked, this, &AppDelegate::showMainWindowFromStatusItem);
    connect(m_statusItem, &StatusItem::quitRequested, this, &AppDelegate::quitRequested);
    connect(m_statusItem, &StatusItem::autostartFailed, this,
            [this](const QString &message) {
                m_alerts->showAlert(QStringLiteral("ログイン時の起動を設定できませんでした"), message);
            });
}

void AppDelegate::removeStatusItem()
{
    hideDropZone(true, true);
    delete m_statusItem;
}

void AppDelegate::refreshActivationPolicy()
{
    if (m_mainWindow && m_mainWindow->isVisible())
        setActivationPolicy(ActivationPolicy::regular);
    else if (m_model->showsMenuBarIcon())
        setActivationPolicy(ActivationPolicy::accessory);
    else
        setActivationPolicy(ActivationPolicy::regular);
}

void AppDelegate::setActivationPolicy(ActivationPolicy policy)
{
    if (m_activationPolicy == policy)
        return;
    m_activationPolicy = policy;
    emit activationPolicyChanged(policy);
}

void AppDelegate::ensureMainWindow()
{
    if (m_mainWindow)
        return;
    auto *window = new MainWindow(m_model, m_windowStore.get(), this);
    if (!window->isValid()) {
        delete window;
        return;
    }
    // Hidden already when this arrives: a closing window counts as closed.
    connect(window, &MainWindow::closed, this, &AppDelegate::refreshActivationPolicy);
    m_mainWindow = window;
}

void AppDelegate::showMainWindow()
{
    ensureMainWindow();
    if (!m_mainWindow)
        return;
    setActivationPolicy(ActivationPolicy::regular);
    m_mainWindow->showAndActivate();
}

// ---------------------------------------------------------------- drop zone

bool AppDelegate::shouldReactToDrag(const QStringList &types)
{
    return DragTypes::containsFileType(types);
}

void AppDelegate::setupGlobalDragMonitor()
{
    delete m_dragMonitor;
    m_dragMonitor =
        m_dragSource ? new GlobalDragMonitor(m_dragSource, this) : new GlobalDragMonitor(this);
    QPointer<AppDelegate> self(this);
    m_dragMonitor->onDragStart = [self](const QStringList &types) {
        if (!self || !shouldReactToDrag(types))
            return;
        QMetaObject::invokeMethod(
            self, [self, types] { self->handleDragStart(types); }, Qt::QueuedConnection);
    };
    m_dragMonitor->onDragEnd = [self] {
        if (!self)
            return;
        QMetaObject::invokeMethod(
            self, [self] { self->handleDragEnd(); }, Qt::QueuedConnection);
    };
}

void AppDelegate::handleDragStart(const QStringList &types)
{
    qCDebug(lcShell) << "drag start" << types;
    if (!shouldReactToDrag(types))
        return;
    // A drag end still waiting for its drop belongs to the previous drag.
    if (m_dropWaitTimer->isActive())
        finishDragEnd();
    ensureDropZoneWindow();
    repositionDropZoneWindow(true, true, true, false);
}

void AppDelegate::handleDragEnd()
{
    qCDebug(lcShell) << "drag end; zone visible"
                     << (m_dropZoneWindow && m_dropZoneWindow->isVisible()) << "hovering"
                     << (m_dropZoneWindow && m_dropZoneWindow->dropView()->isDragHovering());
    // On X11 the button release is seen a few milliseconds before the drop
    // reaches the zone. Hiding now would fade the zone out under the drop and
    // bring it back for the upload; wait for the drop instead (bounded).
    if (m_dropZoneWindow && m_dropZoneWindow->isVisible() &&
        m_dropZoneWindow->dropView()->isDragHovering()) {
        m_dropWaitTimer->start();
        return;
    }
    finishDragEnd();
}

bool AppDelegate::isWaitingForDrop() const
{
    return m_dropWaitTimer->isActive();
}

void AppDelegate::finishDragEnd()
{
    qCDebug(lcShell) << "drag end handled; waited" << m_dropWaitTimer->isActive();
    m_dropWaitTimer->stop();
    // The zone learns of the end of a drag that touched it from us: Qt tells
    // a drop target only about leaving and dropping.
    if (m_dropZoneWindow && m_dropZoneWindow->dropView()->hasDragTouched())
        m_dropZoneWindow->dropView()->draggingEnded();
    hideDropZone(false, false);
}

void AppDelegate::ensureDropZoneWindow()
{
    if (m_dropZoneWindow)
        return;
    auto *window = new DropZoneWindow();
    DropZoneView *view = window->dropView();
    QPointer<AppDelegate> self(this);
    view->onDropFiles = [self](const QList<QUrl> &urls) {
        if (!self)
            return;
        qCDebug(lcShell) << "drop on the zone:" << urls.size() << "files";
        // The drop a drag end may be waiting for: the zone now shows the
        // upload, and the view ends the drag itself once the drop is done.
        self->m_dropWaitTimer->stop();
        self->startUpload(urls, std::nullopt, UploadOrigin::menuBar);
    };
    view->onDragEntered = [self] {
        if (!self || !self->m_dropZoneWindow)
            return;
        if (!self->m_dropZoneWindow->dropView()->isUploading() && self->m_statusItem)
            self->setStatusItemHighlighted(true);
    };
    view->onDragEnded = [self] {
        if (!self)
            return;
        self->m_dropWaitTimer->stop();
        self->hideDropZone(false, false);
    };
    view->onDisplayModeChange = [self](DropZoneView::DisplayMode mode) {
        if (!self || !self->m_dropZoneWindow)
            return;
        self->m_dropZoneWindow->apply(mode, true);
        self->repositionDropZoneWindow(false, false, false, false);
    };
    m_dropZoneWindow = window;
    window->apply(view->currentDisplayMode(), false);
    repositionDropZoneWindow(false, false, false, false);
}

QRect AppDelegate::dropZoneAnchor() const
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

void AppDelegate::setStatusItemHighlighted(bool highlighted)
{
    if (m_statusItem)
        m_statusItem->setHighlighted(highlighted);
}

void AppDelegate::repositionDropZoneWindow(bool highlightStatusItem, bool animated, bool reveal,
                                           bool forceVisible)
{
    if (!m_statusItem || !m_dropZoneWindow)
        return;
    DropZoneWindow *window = m_dropZoneWindow;
    setStatusItemHighlighted(highlightStatusItem && !window->dropView()->isUploading());

    const QRect anchor = dropZoneAnchor();
    std::optional<QRect> available;
    if (QScreen *screen = QGuiApplication::screenAt(anchor.center()))
        available = screen->availableGeometry();
    const QPoint origin = DropZonePlacement::origin(anchor, window->panelSize(), available);

    const bool fadingOut = m_fade && m_fade->endValue().toDouble() == 0.0;
    if (window->isVisible() && !(fadingOut && (reveal || forceVisible))) {
        window->movePanelTo(origin, animated);
        return;
    }
    if (!window->isVisible() && !reveal && !forceVisible)
        return;

    // Hidden, or on its way out and wanted again: the fade-out must not
    // finish by hiding a zone that was just asked for.
    const bool wasFadingOut = fadingOut;
    stopDropZoneFade();
    window->movePanelTo(origin, false);
    if (reveal && DropZoneWindow::compositorAvailable()) {
        if (!wasFadingOut)
            window->setWindowOpacity(0.0);
        window->show();
        window->raise();
        fadeDropZoneIn();
    } else {
        // Without a compositor opacity does nothing; it only has to be right
        // for when one starts.
        if (window->windowOpacity() != 1.0)
            window->setWindowOpacity(1.0);
        window->show();
        window->raise();
    }
}

void AppDelegate::fadeDropZoneIn()
{
    auto *fade = new QPropertyAnimation(m_dropZoneWindow, "windowOpacity", this);
    fade->setDuration(showFadeMs);
    fade->setStartValue(m_dropZoneWindow->windowOpacity());
    fade->setEndValue(1.0);
    m_fade = fade;
    fade->start(QAbstractAnimation::DeleteWhenStopped);
}

void AppDelegate::stopDropZoneFade()
{
    if (m_fade) {
        m_fade->stop(); // deletes it
        m_fade = nullptr;
    }
}

void AppDelegate::hideDropZone(bool immediate, bool force)
{
    qCDebug(lcShell) << "hide; immediate" << immediate << "force" << force << "uploading"
                     << m_uploadInProgress;
    setStatusItemHighlighted(false);
    DropZoneWindow *window = m_dropZoneWindow;
    if (!window || !window->isVisible())
        return;
    if ((m_uploadInProgress || window->dropView()->isUploading()) && !force)
        return;
    const bool compositing = DropZoneWindow::compositorAvailable();
    if (immediate || !compositing) {
        stopDropZoneFade();
        window->hide();
        if (compositing)
            window->setWindowOpacity(0.0);
        return;
    }
    if (m_fade && m_fade->endValue().toDouble() == 0.0)
        return; // already on its way out
    stopDropZoneFade();
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

void AppDelegate::prepareDropZoneForUpload()
{
    m_uploadInProgress = true;
    ensureDropZoneWindow();
    repositionDropZoneWindow(false, true, true, true);
    if (m_dropZoneWindow)
        m_dropZoneWindow->dropView()->prepareForUpload(uploadingStatus);
}

void AppDelegate::updateDropZoneProgress(double progress)
{
    if (m_uploadInProgress && m_dropZoneWindow && !m_dropZoneWindow->isVisible()) {
        ensureDropZoneWindow();
        repositionDropZoneWindow(false, true, true, true);
    }
    if (m_dropZoneWindow)
        m_dropZoneWindow->dropView()->updateUploadProgress(progress);
}

void AppDelegate::finalizeDropZoneUpload(const QString &title, const QString &detail, bool success)
{
    if (!m_uploadInProgress)
        return;
    if (m_dropZoneWindow && m_dropZoneWindow->dropView()->isUploading()) {
        QPointer<AppDelegate> self(this);
        m_dropZoneWindow->dropView()->finishUpload(title, detail, success, [self] {
            if (!self)
                return;
            self->m_uploadInProgress = false;
            self->hideDropZone(false, true);
        });
    } else {
        m_uploadInProgress = false;
        hideDropZone(false, true);
    }
}
