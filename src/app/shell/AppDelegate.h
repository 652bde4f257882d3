#pragma once

#include "MainWindow.h"
#include "StatusItem.h"

#include <QObject>
#include <QPointer>

#include <memory>

class AlertPresenter;
class AppModel;
class DragEventSource;
class DragWatcher;
class DropZonePresenter;
class FileChooser;
class PelkinUploader;
class QSettings;
class UploadOrchestrator;

// The application as a whole: puts the parts together (uploads, drop zone,
// drags, file chooser), keeps the tray icon to its setting, the activation
// policy and the main window. Main thread only.
class AppDelegate : public QObject
{
    Q_OBJECT
public:
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

    // Start-up: tray icon per setting, activation policy, drag watching, the
    // model's callbacks, and the main window in front (unless started at
    // login in the background).
    void applicationDidFinishLaunching(bool showMainWindowAtLaunch = true);
    // Another launch asked for us: bring the main window back if none shows.
    void applicationShouldHandleReopen();

    // --- tray, policy, main window ---
    void setupStatusItem();
    void removeStatusItem();
    void refreshActivationPolicy();
    ActivationPolicy activationPolicy() const { return m_activationPolicy; }
    void showMainWindow();

    // --- the parts ---
    UploadOrchestrator *uploads() const { return m_uploads; }
    DropZonePresenter *dropZone() const { return m_dropZone; }
    DragWatcher *drags() const { return m_drags; }
    StatusItem *statusItem() const { return m_statusItem; }
    MainWindow *mainWindow() const { return m_mainWindow; }

signals:
    void activationPolicyChanged(AppDelegate::ActivationPolicy policy);
    void quitRequested();

private:
    void setActivationPolicy(ActivationPolicy policy);
    void ensureMainWindow();

    AppModel *m_model;
    std::unique_ptr<PelkinUploader> m_uploader;
    std::unique_ptr<AlertPresenter> m_alerts;
    std::shared_ptr<DragEventSource> m_dragSource;
    std::unique_ptr<QSettings> m_windowStore;

    DropZonePresenter *m_dropZone;
    DragWatcher *m_drags;
    UploadOrchestrator *m_uploads;
    FileChooser *m_fileChooser;
    QPointer<StatusItem> m_statusItem;
    QPointer<MainWindow> m_mainWindow;
    ActivationPolicy m_activationPolicy = ActivationPolicy::regular;
};
