#include "PelkinUploader.h"

#include "MultipartBody.h"
#include "UploadScreening.h"
#include "UploadTransfer.h"

#include <PelkinConfig.h>

#include <QCoreApplication>
#include <QObject>
#include <QPointer>
#include <QThread>
#include <QTimer>

#include <curl/curl.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>

namespace {

constexpr std::chrono::milliseconds progressInterval{80};

// Where progress ticks run; cleared when the uploader goes away, so a
// worker never posts to a dead object.
struct ProgressLink
{
    std::mutex mutex;
    QObject *context = nullptr;
};

struct Job
{
    QUrl endpoint;
    std::chrono::milliseconds idleTimeout;
    QList<MultipartBody::File> files;
    std::optional<QString> password;
    QByteArray boundary;
    PelkinUploader::ProgressHandler progress;
    PelkinUploader::CompletionHandler completion;
    std::shared_ptr<ProgressLink> link;

    UploadTransfer::Shared shared;
    std::atomic<qint64> bodySize{0};
    std::atomic<bool> finished{false};
};

// Runs each upload on a thread of its own. At process exit the running
// transfers are stopped and awaited (briefly) so that no thread is still
// inside libcurl or OpenSSL while their global state is torn down; such
// an upload gets no completion, since its receivers are gone too.
class Workers
{
public:
    static Workers &instance()
    {
        static Workers workers;
        return workers;
    }

    void start(std::shared_ptr<Job> job)
    {
        {
            std::lock_guard lock(m_state->mutex);
            m_state->running.insert(job);
        }
        std::thread([state = m_state, job = std::move(job)] {
            run(job);
            std::lock_guard lock(state->mutex);
            state->running.erase(job);
            state->idle.notify_all();
        }).detach();
    }

private:
    struct State
    {
        std::mutex mutex;
        std::condition_variable idle;
        std::set<std::shared_ptr<Job>> running;
    };

    // libcurl's global set-up happens after this object exists, so its
    // teardown (and OpenSSL's) comes after ours.
    Workers() { curl_global_init(CURL_GLOBAL_DEFAULT); }

    ~Workers()
    {
        std::unique_lock lock(m_state->mutex);
        for (const auto &job : m_state->running)
            job->shared.abort.store(true);
        m_state->idle.wait_for(lock, std::chrono::seconds(5),
                               [this] { return m_state->running.empty(); });
    }

    static void run(const std::shared_ptr<Job> &job);

    std::shared_ptr<State> m_state = std::make_shared<State>();
};

void startProgress(const std::shared_ptr<Job> &job)
{
    std::lock_guard lock(job->link->mutex);
    QObject *context = job->link->context;
    if (!context)
        return;
    // Runs on the context's (main) thread, and only while the context lives.
    QMetaObject::invokeMethod(
        context,
        [job, context] {
            if (job->finished.load())
                return; // done before the main thread got here: nothing to show
            QPointer<QTimer> timer = new QTimer(context);
            timer->setInterval(progressInterval);
            auto tick = [job, timer] {
                if (job->finished.load()) {
                    if (timer) {
                        timer->stop();
                        timer->deleteLater();
                    }
                    return;
                }
                const qint64 total = job->bodySize.load();
                if (total <= 0)
                    return;
                const double fraction =
                    static_cast<double>(job->shared.bytesSent.load()) / static_cast<double>(total);
                job->progress(std::clamp(fraction, 0.0, 1.0));
            };
            QObject::connect(timer, &QTimer::timeout, timer, tick);
            job->progress(0.0);
            if (timer) {
                timer->start();
                tick();
            }
        },
        Qt::QueuedConnection);
}

void Workers::run(const std::shared_ptr<Job> &job)
{
    auto opened = MultipartBody::open(job->files, job->password, job->boundary,
                                      PelkinUploader::maxUploadBytes);
    if (auto *error = std::get_if<UploadError>(&opened)) {
        job->finished.store(true);
        job->completion(*error);
        return;
    }
    MultipartBody &body = *std::get<std::unique_ptr<MultipartBody>>(opened);
    job->bodySize.store(body.size());
    if (job->progress)
        startProgress(job);

    UploadTransfer transfer(job->endpoint, job->idleTimeout, body, job->boundary, job->shared);
    UploadResult result = transfer.run();
    job->finished.store(true);
    if (transfer.wasAborted())
        return;
    job->completion(std::move(result));
}

} // namespace

struct PelkinUploader::Private
{
    QUrl endpoint;
    std::chrono::milliseconds idleTimeout;
    std::shared_ptr<ProgressLink> link = std::make_shared<ProgressLink>();
    QObject *context = nullptr;
};

PelkinUploader::PelkinUploader()
    : PelkinUploader(QUrl(QString::fromUtf8(PelkinConfig::uploadEndpoint)), defaultIdleTimeout)
{}

PelkinUploader::PelkinUploader(QUrl endpoint, std::chrono::milliseconds idleTimeout)
    : d(std::make_unique<Private>())
{
    Workers::instance();
    d->endpoint = std::move(endpoint);
    d->idleTimeout = idleTimeout;
    d->context = new QObject;
    if (auto *app = QCoreApplication::instance(); app && app->thread() != QThread::currentThread())
        d->context->moveToThread(app->thread());
    d->link->context = d->context;
}

PelkinUploader::~PelkinUploader()
{
    {
        std::lock_guard lock(d->link->mutex);
        d->link->context = nullptr;
    }
    // Takes the progress timers with it.
    if (d->context->thread() == QThread::currentThread())
        delete d->context;
    else
        d->context->deleteLater();
}

QUrl PelkinUploader::endpoint() const
{
    return d->endpoint;
}

std::chrono::milliseconds PelkinUploader::idleTimeout() const
{
    return d->idleTimeout;
}

bool PelkinUploader::isBlacklisted(const QUrl &file)
{
    return UploadScreening::isBlacklisted(file);
}

void PelkinUploader::upload(const QList<QUrl> &files, const std::optional<QString> &password,
                            ProgressHandler progress, CompletionHandler completion)
{
    auto screened = UploadScreening::screen(files, maxUploadBytes);
    if (auto *failure = std::get_if<UploadResult>(&screened)) {
        if (completion)
            completion(*failure);
        return;
    }

    auto job = std::make_shared<Job>();
    job->endpoint = d->endpoint;
    job->idleTimeout = d->idleTimeout;
    job->files = std::get<QList<MultipartBody::File>>(std::move(screened));
    job->password = password;
    job->boundary = MultipartBody::makeBoundary();
    job->progress = std::move(progress);
    job->completion = completion ? std::move(completion) : [](UploadResult) {};
    if (job->progress)
        job->link = d->link;
    Workers::instance().start(std::move(job));
}
