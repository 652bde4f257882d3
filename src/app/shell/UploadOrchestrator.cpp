#include "UploadOrchestrator.h"

#include "AlertPresenter.h"
#include "AppModel.h"
#include "DropZonePresenter.h"
#include "PelkinUploader.h"
#include "TextLimits.h"
#include "UploadJob.h"

#include <QClipboard>
#include <QGuiApplication>

namespace {

const QString uploadSucceededTitle = QStringLiteral("アップロード完了");
const QString uploadFailedTitle = QStringLiteral("アップロード失敗");
const QString noUrlDetail = QStringLiteral("URLの取得に失敗しました");
const QString noUrlAlert =
    QStringLiteral("アップロードは成功しましたが、URLの取得に失敗しました。");
const QString noFilesAlert = QStringLiteral("ファイルが選択されていません。");
const QString noFilesHome = QStringLiteral("ファイルが選択されていません");

// The last component of the URL's path, as the user named the file (a
// trailing slash does not count).
QString lastPathComponent(const QUrl &url)
{
    QString path = url.path(QUrl::FullyDecoded);
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    if (path == QLatin1String("/"))
        return path;
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

} // namespace

UploadOrchestrator::UploadOrchestrator(AppModel *model, PelkinUploader *uploader,
                                       AlertPresenter *alerts, DropZonePresenter *dropZone,
                                       QObject *parent)
    : QObject(parent)
    , m_model(model)
    , m_uploader(uploader)
    , m_alerts(alerts)
    , m_dropZone(dropZone)
{}

std::optional<QString> UploadOrchestrator::normalizedPassword(
    const std::optional<QString> &password)
{
    if (!password)
        return std::nullopt;
    return TextLimits::normalizedPassword(*password);
}

std::optional<QString> UploadOrchestrator::resolvedPassword(
    const std::optional<QString> &password) const
{
    if (auto normalized = normalizedPassword(password))
        return normalized;
    return m_model->normalizedDefaultPassword();
}

bool UploadOrchestrator::copyURLToClipboardIfNeeded(const std::optional<QString> &url)
{
    if (!url || url->isEmpty() || !m_model->autoCopyToClipboard())
        return false;
    QClipboard *clipboard = QGuiApplication::clipboard();
    clipboard->clear(QClipboard::Clipboard);
    clipboard->setText(*url, QClipboard::Clipboard);
    return true;
}

void UploadOrchestrator::start(const QList<QUrl> &files, const std::optional<QString> &password,
                               Origin origin)
{
    if (files.isEmpty()) {
        if (origin == Origin::home) {
            m_model->markHomeUploadFailed(noFilesHome, {});
        } else {
            // Not from inside the drop's own event handling: the drag source
            // waits for the drop to finish.
            QMetaObject::invokeMethod(
                this, [this] { m_alerts->showAlert(uploadFailedTitle, noFilesAlert); },
                Qt::QueuedConnection);
        }
        return;
    }

    QStringList fileNames;
    for (const QUrl &file : files)
        fileNames.append(lastPathComponent(file));
    const std::optional<QString> settled =
        origin == Origin::home ? normalizedPassword(password) : resolvedPassword(password);

    if (origin == Origin::menuBar)
        m_dropZone->showUploadStarted();
    else
        m_model->markHomeUploadStarted();

    auto *job = new UploadJob(this);
    connect(job, &UploadJob::progress, this,
            [this, origin](double fraction) { showProgress(origin, fraction); });
    connect(job, &UploadJob::finished, this,
            [this, job, origin, fileNames](const UploadResult &result) {
                job->deleteLater();
                showResult(origin, fileNames, result);
            });
    job->start(*m_uploader, files, settled);
}

void UploadOrchestrator::showProgress(Origin origin, double fraction)
{
    if (origin == Origin::home)
        m_model->updateHomeUploadProgress(fraction);
    else
        m_dropZone->showUploadProgress(fraction);
}

void UploadOrchestrator::showResult(Origin origin, const QStringList &names,
                                    const UploadResult &result)
{
    const bool fromHome = origin == Origin::home;
    if (result.isSuccess()) {
        const std::optional<QString> url = result.response().url;
        const bool copied = copyURLToClipboardIfNeeded(url);
        if (url && !url->isEmpty()) {
            const QString status = HomeUploadResult::successMessage(url, copied);
            if (fromHome)
                m_model->markHomeUploadSucceeded(url, names, copied);
            m_model->addHistory(names, url, true, status);
            if (!fromHome) {
                m_dropZone->showUploadFinished(uploadSucceededTitle, status, true);
                m_alerts->showAlert(uploadSucceededTitle, status + QStringLiteral("。\n") + *url);
            }
        } else {
            if (fromHome)
                m_model->markHomeUploadSucceeded(std::nullopt, names, false);
            m_model->addHistory(names, std::nullopt, true,
                                HomeUploadResult::successMessage(std::nullopt, false));
            if (!fromHome) {
                m_dropZone->showUploadFinished(uploadSucceededTitle, noUrlDetail, true);
                m_alerts->showAlert(uploadSucceededTitle, noUrlAlert);
            }
        }
    } else {
        const QString message = result.localizedDescription();
        if (fromHome)
            m_model->markHomeUploadFailed(message, names);
        m_model->addHistory(names, std::nullopt, false, message);
        if (!fromHome) {
            m_dropZone->showUploadFinished(uploadFailedTitle, message, false);
            m_alerts->showAlert(uploadFailedTitle, message);
        }
    }
}
