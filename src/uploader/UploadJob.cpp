#include "UploadJob.h"

#include "PelkinUploader.h"

#include <mutex>

// What the uploader's callbacks hold instead of the job: the job clears it
// as it goes, under the lock, so no callback posts to a dead object. A post
// made before that is dropped with the job's other pending events.
struct UploadJob::Link
{
    std::mutex mutex;
    UploadJob *job = nullptr;

    template<typename Call>
    void post(Call call)
    {
        std::lock_guard lock(mutex);
        if (job) {
            QMetaObject::invokeMethod(
                job, [target = job, call = std::move(call)] { call(target); },
                Qt::QueuedConnection);
        }
    }
};

UploadJob::UploadJob(QObject *parent)
    : QObject(parent)
    , m_link(std::make_shared<Link>())
{
    m_link->job = this;
}

UploadJob::~UploadJob()
{
    std::lock_guard lock(m_link->mutex);
    m_link->job = nullptr;
}

void UploadJob::start(PelkinUploader &uploader, const QList<QUrl> &files,
                      const std::optional<QString> &password)
{
    Q_ASSERT(!m_started);
    m_started = true;
    // Progress comes on the uploader's thread and the outcome on any thread:
    // both are queued here, so they keep their order and reach the job's thread.
    const std::shared_ptr<Link> link = m_link;
    uploader.upload(
        files, password,
        [link](double fraction) {
            link->post([fraction](UploadJob *job) { job->deliverProgress(fraction); });
        },
        [link](UploadResult result) {
            link->post([result = std::move(result)](UploadJob *job) { job->deliverResult(result); });
        });
}

void UploadJob::deliverProgress(double fraction)
{
    if (!m_finished)
        emit progress(fraction);
}

void UploadJob::deliverResult(const UploadResult &result)
{
    if (m_finished)
        return;
    m_finished = true;
    emit finished(result);
}
