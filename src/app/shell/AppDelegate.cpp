#include "AppDelegate.h"

#include "AlertPresenter.h"
#include "AppModel.h"
#include "DragWatcher.h"
#include "DropZonePresenter.h"
#include "FileChooser.h"
#include "PelkinUploader.h"
#include "UploadOrchestrator.h"

#include <QApplication>
#include <QLoggingCategory>
#include <QSettings>

Q_LOGGING_CATEGORY(lcShell, "pelkin.shell", QtInfoMsg)

AppDelegate::AppDelegate(Parts parts, QObject *parent)
    : QObject(parent)
    , m_model(parts.model)
    , m_uploader(std::move(parts.uploader))
    , m_alerts(std::move(parts.alerts))
    , m_dragSource(std::move(parts.dragSource))
{
    Q_ASSERT(m_model);
    if (!m_uploader)
        m_uploader = std::make_unique<PelkinUploader>();
    if (!m_alerts)
        m_alerts = std::make_unique<AlertPresenter>();
    // The window's place lives in the model's store file, beside the settings.
    m_windowStore = std::make_unique<QSettings>(m_model->settingsFilePath(), QSettings::IniFormat);

    m_dropZone = new DropZonePresenter(this);
    m_drags = new DragWatcher(m_dropZone, this);
    m_uploads = new UploadOrchestrator(m_model, m_uploader.get(), m_alerts.get(), m_dropZone, this);
    m_fileChooser = new FileChooser(m_model, this);
    connect(m_dropZone, &DropZonePresenter::filesDropped, m_uploads, [this](const QList<QUrl> &urls) {
        m_uploads->start(urls, std::nullopt, UploadOrchestrator::Origin::menuBar);
    });
}

AppDelegate::~AppDelegate()
{
    m_model->onRequestHomeUpload = nullptr;
    m_model->onMenuBarIconVisibilityChange = nullptr;
    m_model->onChooseFiles = nullptr;
    // The drags stop before the zone they drive goes.
    delete m_drags;
    delete m_dropZone;
}

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
    m_drags->start(m_dragSource);
    m_dropZone->prepareWindow();

    QPointer<AppDelegate> self(this);
    m_model->onRequestHomeUpload = [self](const QList<QUrl> &urls,
                                          const std::optional<QString> &password) {
        if (self)
            self->m_uploads->start(urls, password, UploadOrchestrator::Origin::home);
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
    m_model->onChooseFiles = [self] {
        if (self)
            self->m_fileChooser->open();
    };
    if (showMainWindowAtLaunch)
        showMainWindow();
}

void AppDelegate::applicationShouldHandleReopen()
{
    // A launch from the menu is a request to see the window: raise it even
    // when it is open behind others.
    showMainWindow();
}

void AppDelegate::setupStatusItem()
{
    if (m_statusItem)
        return;
    m_statusItem = new StatusItem(this);
    m_dropZone->setStatusItem(m_statusItem);
    connect(m_statusItem, &StatusItem::clicked, this, &AppDelegate::showMainWindow);
    connect(m_statusItem, &StatusItem::quitRequested, this, &AppDelegate::quitRequested);
    connect(m_statusItem, &StatusItem::autostartFailed, this,
            [this](const QString &message) {
                m_alerts->showAlert(QStringLiteral("ログイン時の起動を設定できませんでした"), message);
            });
}

void AppDelegate::removeStatusItem()
{
    m_dropZone->hideNow();
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
