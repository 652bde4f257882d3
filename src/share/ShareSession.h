#pragma once

#include "ShareItemProvider.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QStringList>

#include <functional>
#include <memory>

class ClipboardKeeper;
class PelkinUploader;
class QTemporaryDir;
class ShareViewController;

// One run of the share panel: the shared items from the command line, a
// private run folder for their local copies, the panel window, and the end:
// the window closes, running work settles, the run folder is removed, the
// clipboard is kept alive if needed, then finished() with exit status 0
// (completed) or 1 (cancelled).
class ShareSession : public QObject
{
    Q_OBJECT

public:
    using UploaderFactory = std::function<std::unique_ptr<PelkinUploader>()>;

    ShareSession(QList<ShareItemProvider> items, std::unique_ptr<PelkinUploader> uploader,
                 QObject *parent = nullptr);
    ~ShareSession() override;

    // Creates the run folder and shows the panel, centred and on top.
    void start();
    ShareViewController *panel() const;
    QString runFolder() const;

    // Each argument is one shared item; "-" reads standard input (once).
    static QList<ShareItemProvider> providersFromArguments(const QStringList &arguments);

    // The whole program: application object, items from argv, the panel,
    // the event loop; returns the exit status.
    static int main(int argc, char **argv, const UploaderFactory &makeUploader);

signals:
    void finished(int exitCode);

private:
    void end(int exitCode);
    void proceed();

    QList<ShareItemProvider> m_items;
    std::unique_ptr<PelkinUploader> m_uploader;
    std::unique_ptr<QTemporaryDir> m_runDir;
    QPointer<ShareViewController> m_panel;
    ClipboardKeeper *m_keeper = nullptr;
    int m_exitCode = -1; // -1 while the panel is open
    bool m_keeping = false;
};
