// pelkin-views-preview: the main window's views on a throw-away model with
// sample files and history, for looking at the views without the application.
// Uploads are simulated: progress runs for two seconds, then succeeds (or
// fails when the password is "fail").
//
//   pelkin-views-preview [--tab home|history|settings] [--theme system|light|dark]
//                        [--state idle|uploading|success|failure] [--empty]
//                        [--screenshot FILE.png]

#include "AppModel.h"
#include "ContentViewHost.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QPointer>
#include <QQuickView>
#include <QTemporaryDir>
#include <QTimer>

namespace {

QList<QUrl> makeSampleFiles(const QString &dir)
{
    const struct
    {
        const char *name;
        qint64 size;
    } files[] = {{"旅行の写真_2025.jpg", 2'480'000},
                 {"企画書_最終版.pdf", 845'000},
                 {"project-archive.tar.gz", 18'300'000},
                 {"議事録.md", 3'200}};
    QList<QUrl> urls;
    for (const auto &f : files) {
        const QString path = QDir(dir).filePath(QString::fromUtf8(f.name));
        QFile file(path);
        if (file.open(QIODevice::WriteOnly))
            file.resize(f.size);
        urls << QUrl::fromLocalFile(path);
    }
    return urls;
}

void addSampleHistory(AppModel &model)
{
    model.addHistory({QStringLiteral("議事録.md")}, std::nullopt, false,
                     QStringLiteral("サーバーに接続できませんでした"));
    model.addHistory({QStringLiteral("企画書_最終版.pdf"), QStringLiteral("見積書.xlsx")},
                     QStringLiteral("https://drop.example.jp/s/Q7xk2PmA"), true,
                     QStringLiteral("共有URLを発行しました"));
    model.addHistory({QStringLiteral("旅行の写真_2025.jpg"), QStringLiteral("IMG_0412.heic"),
                      QStringLiteral("IMG_0413.heic")},
                     QStringLiteral("https://drop.example.jp/s/9fK3aZ"), true,
                     QStringLiteral("共有URLをクリップボードにコピーしました"));
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addOption({QStringLiteral("tab"), QStringLiteral("home, history or settings"),
                      QStringLiteral("tab"), QStringLiteral("home")});
    parser.addOption({QStringLiteral("theme"), QStringLiteral("system, light or dark"),
                      QStringLiteral("theme"), QStringLiteral("system")});
    parser.addOption({QStringLiteral("state"),
                      QStringLiteral("idle, uploading, success or failure"),
                      QStringLiteral("state"), QStringLiteral("idle")});
    parser.addOption({QStringLiteral("empty"), QStringLiteral("no files, no history")});
    parser.addOption({QStringLiteral("screenshot"), QStringLiteral("save a PNG and quit"),
                      QStringLiteral("file")});
    parser.process(app);

    QTemporaryDir dir;
    AppModel model(QDir(dir.path()).filePath(QStringLiteral("preview.ini")));
    if (const auto theme = AppTheme::table().fromRawValue(parser.value(QStringLiteral("theme"))))
        model.setTheme(*theme);
    if (const auto tab = MainTab::table().fromRawValue(parser.value(QStringLiteral("tab"))))
        model.setSelectedTab(*tab);

    const QList<QUrl> files = makeSampleFiles(dir.path());
    if (!parser.isSet(QStringLiteral("empty"))) {
        model.appendFiles(files.mid(0, 3));
        addSampleHistory(model);
    }

    QTimer progress;
    progress.setInterval(80);
    QPointer<AppModel> guard(&model);
    model.onRequestHomeUpload = [&](const QList<QUrl> &urls, const std::optional<QString> &pw) {
        QStringList names;
        for (const QUrl &u : urls)
            names << u.fileName();
        if (urls.isEmpty()) {
            model.markHomeUploadFailed(QStringLiteral("ファイルが選択されていません"), names);
            return;
        }
        model.markHomeUploadStarted();
        const bool fail = pw == QStringLiteral("fail");
        auto *step = new int(0);
        QObject::disconnect(&progress, nullptr, nullptr, nullptr);
        QObject::connect(&progress, &QTimer::timeout, &model, [&, step, names, fail] {
            *step += 1;
            model.updateHomeUploadProgress(*step / 25.0);
            if (*step < 25)
                return;
            progress.stop();
            delete step;
            if (fail)
                model.markHomeUploadFailed(QStringLiteral("サーバーエラー（HTTP 500）"), names);
            else
                model.markHomeUploadSucceeded(QStringLiteral("https://drop.example.jp/s/Xy12Ab"),
                                              names, model.autoCopyToClipboard());
        });
        progress.start();
    };

    const QString state = parser.value(QStringLiteral("state"));
    if (state == u"uploading") {
        model.markHomeUploadStarted();
        model.updateHomeUploadProgress(0.42);
    } else if (state == u"success") {
        model.markHomeUploadSucceeded(
            QStringLiteral("https://drop.example.jp/s/Xy12Ab"),
            {QStringLiteral("旅行の写真_2025.jpg"), QStringLiteral("企画書_最終版.pdf")}, true);
    } else if (state == u"failure") {
        model.markHomeUploadFailed(QStringLiteral("サーバーに接続できませんでした"),
                                   {QStringLiteral("旅行の写真_2025.jpg")});
    }

    QQuickView *view = PelkinViews::createContentView(&model);
    if (!view)
        return 1;
    view->setTitle(QStringLiteral("Pelkin Drop"));
    view->resize(900, 680);
    view->show();

    const QString shot = parser.value(QStringLiteral("screenshot"));
    if (!shot.isEmpty()) {
        QTimer::singleShot(1500, view, [view, shot] {
            const bool ok = view->grabWindow().save(shot);
            QCoreApplication::exit(ok ? 0 : 1);
        });
    }
    const int rc = app.exec();
    delete view;
    return rc;
}
