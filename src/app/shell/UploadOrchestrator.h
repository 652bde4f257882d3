#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>

class AlertPresenter;
class AppModel;
class DropZonePresenter;
class PelkinUploader;
class UploadResult;

// Runs every upload of the application and shows it where it came from:
// uploads from the tray or the drop zone ("menu bar") on the drop zone, with
// an alert for the outcome; uploads from the Home tab in the model. Either
// way the outcome goes into the history and the share URL, when the setting
// asks for it, onto the clipboard. Main thread only.
class UploadOrchestrator : public QObject
{
    Q_OBJECT
public:
    enum class Origin { menuBar, home };

    // Each part must outlive the orchestrator.
    UploadOrchestrator(AppModel *model, PelkinUploader *uploader, AlertPresenter *alerts,
                       DropZonePresenter *dropZone, QObject *parent = nullptr);

    // The start shows before this returns; progress and the outcome come
    // later, in that order, even when the uploader refuses at once.
    void start(const QList<QUrl> &files, const std::optional<QString> &password, Origin origin);

    // The password as given, else the default one (menu-bar uploads).
    std::optional<QString> resolvedPassword(const std::optional<QString> &password) const;
    static std::optional<QString> normalizedPassword(const std::optional<QString> &password);
    bool copyURLToClipboardIfNeeded(const std::optional<QString> &url);

private:
    void showProgress(Origin origin, double fraction);
    void showResult(Origin origin, const QStringList &fileNames, const UploadResult &result);

    AppModel *m_model;
    PelkinUploader *m_uploader;
    AlertPresenter *m_alerts;
    DropZonePresenter *m_dropZone;
};
