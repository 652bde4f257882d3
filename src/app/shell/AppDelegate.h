#pragma once

#include "DropZoneWindow.h"
#include "GlobalDragMonitor.h"
#include "MainWindow.h"
#include "StatusItem.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <memory>
#include <optional>

class AlertPresenter;
class AppModel;
class DragEventSource;
class PelkinUploader;
class QPropertyAnimation;
class QSettings;
class QTimer;
class UploadResult;

// The application as a whole: owns the uploader, the tray icon, the main
// window, the drop zone and the drag monitor, runs every upload of the
// application through startUpload() and keeps the drop zone under the tray
// icon while files are on their way. Main thread only.
class AppDelegate : public QObject
{
    Q_OBJECT
public:
    enum class UploadOrigin { menuBar, home };
    // Recorded as on other desktops; on Linux "accessory" means the tray icon
    // is the way back (no window in the task bar), "regular" that the
    // application is reached from the launcher (a second launch reopens it).
    enum class ActivationPolicy { regular, accessory };

    struct Parts
    {
        // Required; must outlive the delegate.
        AppModel *model = nullptr;
        // Defaults: the built-in endpoint, message boxes, the desktop's drags.
        std::unique_ptr<PelkinUploader> uploader;
        std::unique_ptr<AlertPresenter> alerts;
        std::shared_ptr<DragEventSource> dragSource;
    };

    explicit AppDelegate(Parts parts, QObject *parent = nullptr);
    ~AppDelegate() override;

    // Start-up: tray icon per setting, activation policy, drag monitor, the
    // model's callbacks, and the main window in front (unless started at
    // login in the background).
    void applicationDidFinishLaunching(bool showMainWindowAtLaunch = true);
    // Another launch asked for us: bring the main window back if none shows.
    void applicationShouldHandleReopen();

    // --- uploads ---
    void startUpload(const QList<QUrl> &files, const std::optional<QString> &password,
                     UploadOrigin origin);
    std::optional<QString> resolvedPassword(const std::optional<QString> &password) const;
    static std::optional<QString> normalizedPassword(const std::optional<QString> &password);
    bool copyURLToClipboardIfNeeded(const std::optional<QString> &url);

    // --- tray, policy, main window ---
    void setupStatusItem();
    void removeStatusItem();
    void refreshActivationPolicy();
    ActivationPolicy activationPolicy() const { return m_activationPolicy; }
    void showMainWindow();
    void showMainWindowFromStatusItem() { showMainWindow(); }

    // --- drop zone ---
    static bool shouldReactToDrag(const QStringList &types);
    void ensureDropZoneWindow();
    void repositionDropZoneWindow(bool highlightStatusItem, bool animated, bool reveal,
                                  bool forceVisible);
    void hideDropZone(bool immediate, bool force);
    void prepareDropZoneForUpload();
    void updateDropZoneProgress(double progress);
    void finalizeDropZoneUpload(const QString &title, const QString &detail, bool success);
    // The monitor's two events, as queued from its callbacks.
    void handleDragStart(const QStringList &types);
    void handleDragEnd();

    // Where the drop zone hangs from: the tray icon's rectangle when the tray
    // reports one, otherwise a small square in the top-right corner of the
    // available area of the screen under the pointer.
    QRect dropZoneAnchor() const;

    // --- state, for the application and tests ---
    StatusItem *statusItem() const { return m_statusItem; }
    DropZoneWindow *dropZoneWindow() const { return m_dropZoneWindow; }
    MainWindow *mainWindow() const { return m_mainWindow; }
    bool uploadInProgress() const { return m_uploadInProgress; }
    bool isWaitingForDrop() const;

    // Durations of the drop zone's fades.
    static constexpr int showFadeMs = 120;
    static constexpr int hideFadeMs = 180;
    // How long a drag end waits for the drop it may be followed by.
    static constexpr int dropWaitMs = 500;

signals:
    void activationPolicyChanged(AppDelegate::ActivationPolicy policy);
    void quitRequested();

private:
    struct Request;
    void setActivationPolicy(ActivationPolicy policy);
    void ensureMainWindow();
    void setupGlobalDragMonitor();
    void handleUploadResult(const std::shared_ptr<Request> &request, const UploadResult &result);
    void finishDragEnd();
    void setStatusItemHighlighted(bool highlighted);
    void fadeDropZoneIn();
    void stopDropZoneFade();

    AppModel *m_model;
    std::unique_ptr<PelkinUploader> m_uploader;
    std::unique_ptr<AlertPresenter> m_alerts;
    std::shared_ptr<DragEventSource> m_dragSource;
    std::unique_ptr<QSettings> m_windowStore;

    QPointer<StatusItem> m_statusItem;
    QPointer<MainWindow> m_mainWindow;
    QPointer<DropZoneWindow> m_dropZoneWindow;
    QPointer<GlobalDragMonitor> m_dragMonitor;
    bool m_uploadInProgress = false;
    ActivationPolicy m_activationPolicy = ActivationPolicy::regular;

    QPointer<QPropertyAnimation> m_fade;
    QTimer *m_dropWaitTimer;
};
