#pragma once

#include "AlertPresenter.h"
#include "AppDelegate.h"
#include "AppModel.h"
#include "DragEventSource.h"
#include "DropZonePresenter.h"
#include "DropZoneView.h"
#include "DropZoneWindow.h"
#include "PelkinUploader.h"
#include "TestFiles.h"
#include "TestHttpServer.h"

#include <QTemporaryDir>
#include <QUrl>

#include <memory>

// Plays the desktop's drag pasteboard: a test starts and ends drags by hand.
class ScriptedDragSource : public DragEventSource
{
public:
    bool hasDragPasteboard() const override { return true; }
    qint64 changeCount() const override { return m_count; }
    void startDrag(const QStringList &types) { emit pasteboardChanged(++m_count, types); }
    void releaseButton() { emit released(m_count, 0); }

private:
    qint64 m_count = 1;
};

// The delegate with the model on a temporary store, the real uploader against
// a server on 127.0.0.1, scripted drags, and each alert captured with what the
// rest of the application showed when it came up.
class ShellFixture
{
public:
    struct ShownAlert
    {
        QString title;
        QString message;
        QString zoneTitle;
        QString zoneSubtitle;
        bool uploadInProgress = false;
        qsizetype historyCount = 0;
    };

    ShellFixture() { restart(); }

    // A new delegate on the same store, as a new run of the application.
    void restart()
    {
        delegate.reset();
        delegate = std::make_unique<AppDelegate>(AppDelegate::Parts{
            .model = model.get(),
            .uploader = std::make_unique<PelkinUploader>(server.url(), std::chrono::seconds(10)),
            .alerts = std::make_unique<RecordingAlerts>(*this),
            .dragSource = drags});
    }

    QUrl makeFile(const QString &name, const QByteArray &content = "hello\n")
    {
        return QUrl::fromLocalFile(TestFiles::write(dir.path(), name, content));
    }

    QTemporaryDir dir;
    TestHttpServer server;
    std::unique_ptr<AppModel> model =
        std::make_unique<AppModel>(dir.filePath(QStringLiteral("settings.ini")));
    std::shared_ptr<ScriptedDragSource> drags = std::make_shared<ScriptedDragSource>();
    QList<ShownAlert> alerts;
    std::unique_ptr<AppDelegate> delegate;

private:
    class RecordingAlerts : public AlertPresenter
    {
    public:
        explicit RecordingAlerts(ShellFixture &fixture) : m_f(fixture) {}
        void showAlert(const QString &title, const QString &message) override
        {
            const DropZonePresenter *zone = m_f.delegate->dropZone();
            const DropZoneView *view = zone->window() ? zone->window()->dropView() : nullptr;
            m_f.alerts.append({title, message, view ? view->titleText() : QString(),
                               view ? view->subtitleText() : QString(), zone->uploadInProgress(),
                               m_f.model->history().size()});
        }

    private:
        ShellFixture &m_f;
    };
};
