#pragma once

#include "PelkinUploader.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <mutex>

// Collects what an upload reports: every completion (from any thread) and every progress call,
// with the threads they arrived on.
class UploadProbe
{
public:
    struct State
    {
        QList<UploadResult> results;
        QList<QThread *> completionThreads;
        QList<double> progress;
        bool progressOffMainThread = false;
        int progressAfterCompletion = 0;
    };

    PelkinUploader::CompletionHandler completion()
    {
        return [this](UploadResult result) {
            std::lock_guard lock(m_mutex);
            m_state.results.append(std::move(result));
            m_state.completionThreads.append(QThread::currentThread());
        };
    }
    PelkinUploader::ProgressHandler progress()
    {
        return [this](double fraction) {
            std::lock_guard lock(m_mutex);
            m_state.progress.append(fraction);
            m_state.progressOffMainThread |= QThread::currentThread() != qApp->thread();
            m_state.progressAfterCompletion += m_state.results.isEmpty() ? 0 : 1;
        };
    }
    State state() const
    {
        std::lock_guard lock(m_mutex);
        return m_state;
    }
    int completionCount() const { return int(state().results.size()); }
    UploadResult result() const { return state().results.at(0); }
    // Runs the event loop until a completion arrived or the time-out passed.
    bool waitForCompletion(int ms = 10000)
    {
        return QTest::qWaitFor([this] { return completionCount() > 0; }, ms);
    }
    // One upload with its own uploader, waited for.
    bool upload(const QUrl &endpoint, const QList<QUrl> &files, const std::optional<QString> &password = {},
                std::chrono::milliseconds idleTimeout = std::chrono::seconds(5), int ms = 15000)
    {
        PelkinUploader uploader(endpoint, idleTimeout);
        uploader.upload(files, password, progress(), completion());
        return waitForCompletion(ms);
    }

private:
    mutable std::mutex m_mutex;
    State m_state;
};

// A test file in dir (sub-folders made as needed); size > 0 makes it sparse.
inline QUrl writeFile(const QTemporaryDir &dir, const QString &name, const QByteArray &content,
                      qint64 size = 0)
{
    QFile file(dir.filePath(name));
    if (!QDir().mkpath(QFileInfo(file).path()) || !file.open(QIODevice::WriteOnly) ||
        file.write(content) != content.size() || (size > 0 && !file.resize(size)))
        qFatal("cannot write test file");
    return QUrl::fromLocalFile(file.fileName());
}
