// pelkin-upload-bench: uploads files with the real upload client and prints
// one JSON line per upload. A development tool for benchmarks and checks.
#include "PelkinUploader.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>
#include <QUrl>

#include <cstdio>
#include <memory>

namespace {

int usage()
{
    std::fputs("usage: pelkin-upload-bench [--password P] [--repeat N] ENDPOINT FILE...\n", stderr);
    return 2;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    std::optional<QString> password;
    int repeat = 1;
    while (!args.isEmpty() && args.first().startsWith(u"--")) {
        const QString option = args.takeFirst();
        if (option == u"--")
            break;
        if (args.isEmpty())
            return usage();
        if (option == u"--password") {
            password = args.takeFirst();
        } else if (option == u"--repeat") {
            bool ok = false;
            repeat = args.takeFirst().toInt(&ok);
            if (!ok || repeat < 1)
                return usage();
        } else {
            return usage();
        }
    }
    if (args.size() < 2)
        return usage();
    const QUrl endpoint(args.takeFirst());
    if (!endpoint.isValid() || endpoint.scheme().isEmpty())
        return usage();
    QList<QUrl> files;
    for (const QString &path : args)
        files.append(QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()));

    PelkinUploader uploader(endpoint, PelkinUploader::defaultIdleTimeout);
    bool allOk = true;
    for (int round = 0; round < repeat; ++round) {
        QEventLoop loop;
        std::optional<UploadResult> outcome;
        // A late tick may come after completion: the counter outlives the round.
        auto progressCalls = std::make_shared<int>(0);
        QElapsedTimer clock;
        clock.start();
        uploader.upload(
            files, password, [progressCalls](double) { ++*progressCalls; },
            [&loop, &outcome](UploadResult result) {
                // Arrives on a worker thread; hand it to the loop's thread.
                QMetaObject::invokeMethod(
                    &loop,
                    [&loop, &outcome, result = std::move(result)] {
                        outcome = result;
                        loop.quit();
                    },
                    Qt::QueuedConnection);
            });
        if (!outcome)
            loop.exec();
        const double seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;

        QJsonObject line;
        line[u"ok"] = outcome->isSuccess();
        line[u"url"] = outcome->isSuccess() && outcome->response().url
                           ? QJsonValue(*outcome->response().url)
                           : QJsonValue(QJsonValue::Null);
        line[u"error"] = outcome->isSuccess() ? QJsonValue(QJsonValue::Null)
                                              : QJsonValue(outcome->localizedDescription());
        line[u"seconds"] = seconds;
        line[u"progress_calls"] = *progressCalls;
        std::fputs(QJsonDocument(line).toJson(QJsonDocument::Compact).constData(), stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
        allOk = allOk && outcome->isSuccess();
    }
    return allOk ? 0 : 1;
}
