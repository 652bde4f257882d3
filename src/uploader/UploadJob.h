#pragma once

#include "UploadResult.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QUrl>

#include <memory>
#include <optional>

class PelkinUploader;

// One upload as a Qt object. start() hands the files to an uploader; the job
// then emits progress() and exactly one finished(), both on the thread the
// job lives on, in that order: a progress report that arrives after the
// outcome is dropped, and an outcome the uploader reports synchronously
// (screening) still arrives after start() has returned. Destroying the job
// silences it at once; the transfer itself runs on, unseen.
class UploadJob : public QObject
{
    Q_OBJECT

public:
    explicit UploadJob(QObject *parent = nullptr);
    ~UploadJob() override;

    // Call once, on the job's thread. The uploader only has to live through
    // this call; without it no more progress comes, the outcome still does.
    void start(PelkinUploader &uploader, const QList<QUrl> &files,
               const std::optional<QString> &password);

    bool isRunning() const { return m_started && !m_finished; }
    bool isFinished() const { return m_finished; }

signals:
    // 0.0 first, then the fraction of the body sent (see PelkinUploader).
    void progress(double fraction);
    void finished(const UploadResult &result);

private:
    struct Link;
    void deliverProgress(double fraction);
    void deliverResult(const UploadResult &result);

    std::shared_ptr<Link> m_link;
    bool m_started = false;
    bool m_finished = false;
};
