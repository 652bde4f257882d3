#pragma once

#include "PelkinUploader.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>

#include <mutex>

// Collects what an upload reports: every completion (from any thread) and
// every progress call with the thread it arrived on.
class UploadProbe
{
public:
    PelkinUploader::CompletionHandler completion()
    {
        return [this](UploadResult result) {
            std::lock_guard lock(m_mutex);
            m_results.append(std::move(result));
            m_completionThreads.append(QThread::currentThread());
        };
    }

    PelkinUploader::ProgressHandler progress()
    {
        return [this](double fraction) {
            std::lock_guard lock(m_mutex);
            m_progress.append(fraction);
            m_progressOffMainThread |=
                QThread::currentThread() != QCoreApplication::instance()->thread();
            m_progressAfterCompletion += m_results.isEmpty() ? 0 : 1;
        };
    }

    // Runs the event loop until a completion arrived or the time-out passed.
    bool waitForCompletion(int ms = 10000)
    {
        QDeadlineTimer deadline(ms);
        while (completionCount() == 0 && !deadline.hasExpired()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            QThread::msleep(2);
        }
        return completionCount() > 0;
    }

    // Keeps the event loop running for a while, e.g. to see that nothing more arrives.
    static void settle(int ms)
    {
        QDeadlineTimer deadline(ms);
        while (!deadline.hasExpired()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            QThread::msleep(2);
        }
    }

    int completionCount() const
    {
        std::lock_guard lock(m_mutex);
        return static_cast<int>(m_results.size());
    }
    UploadResult result() const
    {
        std::lock_guard lock(m_mutex);
        return m_results.at(0);
    }
    QList<QThread *> completionThreads() const
    {
        std::lock_guard lock(m_mutex);
        return m_completionThreads;
    }
    QList<double> progressValues() const
    {
        std::lock_guard lock(m_mutex);
        return m_progress;
    }
    bool progressOffMainThread() const
    {
        std::lock_guard lock(m_mutex);
        return m_progressOffMainThread;
    }
    int progressAfterCompletion() const
    {
        std::lock_guard lock(m_mutex);
        return m_progressAfterCompletion;
    }

private:
    mutable std::mutex m_mutex;
    QList<UploadResult> m_results;
    QList<QThread *> m_completionThreads;
    QList<double> m_progress;
    bool m_progressOffMainThread = false;
    int m_progressAfterCompletion = 0;
};
