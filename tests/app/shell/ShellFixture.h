#pragma once

#include "AlertPresenter.h"
#include "AppDelegate.h"
#include "AppModel.h"
#include "DragEventSource.h"
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

// The application's delegate as the shell tests drive it: the model on a
// temporary store, the real uploader against a real HTTP server on
// 127.0.0.1, scripted drags, and the alerts captured with what the rest of
// the application showed when each came up.
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

    ShellFixture();
    ~ShellFixture();

    // A new delegate on the same store, as a new run of the application.
    void restart();
    // applicationDidFinishLaunching with the tray icon on or off.
    void launch(bool iconOn = true);
    bool zoneVisible() const;
    // A file (or, for a name ending in ".app", a bundle folder) in the store's folder.
    QUrl makeFile(const QString &name, const QByteArray &content = "hello\n");

    QTemporaryDir dir;
    TestHttpServer server;
    std::unique_ptr<AppModel> model;
    std::shared_ptr<ScriptedDragSource> drags = std::make_shared<ScriptedDragSource>();
    std::unique_ptr<AppDelegate> delegate;
    QList<ShownAlert> alerts;
};
