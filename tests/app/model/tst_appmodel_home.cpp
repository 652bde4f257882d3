#include "AppModel.h"
#include "StoreFixture.h"

#include <QDir>
#include <QSignalSpy>
#include <QTest>
#include <cmath>
#include <limits>

class AppModelHomeTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { m_model.emplace(m_store.emplace().path()); }
    void cleanup()
    {
        m_model.reset();
        m_store.reset();
    }
    void appendFiles_data();
    void appendFiles();
    void passwordAndRowRemoval();
    void requestHomeUpload_data();
    void requestHomeUpload();
    void progress_data();
    void progress();
    void result_data();
    void result();

private:
    std::optional<StoreFixture> m_store;
    std::optional<AppModel> m_model;
};

static const QString chooseStatus = QStringLiteral("ファイルを選んでください");

static QList<QUrl> files(const QStringList &paths)
{
    QList<QUrl> urls;
    for (const QString &path : paths)
        urls.append(QUrl::fromLocalFile(path));
    return urls;
}

void AppModelHomeTest::appendFiles_data()
{
    QTest::addColumn<QStringList>("selected");
    QTest::addColumn<QStringList>("appended");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<QString>("status");
    const QString x = QStringLiteral("/data/a/x.txt");
    QTest::newRow("new files") << QStringList{x} << QStringList{"/y", "/z"}
                               << QStringList{x, "/y", "/z"} << "3件選択";
    QTest::newRow("dot-dot duplicate")
        << QStringList{x} << QStringList{"/data/a/b/../x.txt"} << QStringList{x} << "1件選択";
    QTest::newRow("dot and double slash duplicates")
        << QStringList{x} << QStringList{"/data/a/./x.txt", "/data//a/x.txt"} << QStringList{x}
        << "1件選択";
    QTest::newRow("kept as given") << QStringList{"/data/a/../a/x.txt"} << QStringList{x, "/q/../r"}
                                   << QStringList{"/data/a/../a/x.txt", "/q/../r"} << "2件選択";
    QTest::newRow("same new file twice in one call")
        << QStringList{} << QStringList{x, x} << QStringList{x, x} << "2件選択";
    QTest::newRow("empty into empty")
        << QStringList{} << QStringList{} << QStringList{} << chooseStatus;
    QTest::newRow("empty into non-empty changes nothing")
        << QStringList{x} << QStringList{} << QStringList{x} << "unchanged";
}

void AppModelHomeTest::appendFiles()
{
    QFETCH(QStringList, selected);
    QFETCH(QStringList, appended);
    QFETCH(QStringList, expected);
    QFETCH(QString, status);
    m_model->setSelectedURLs(files(selected));
    m_model->setHomeStatus(QStringLiteral("unchanged"));
    m_model->appendFiles(files(appended));
    QCOMPARE(m_model->selectedURLs(), files(expected));
    QCOMPARE(m_model->homeStatus(), status);
}

void AppModelHomeTest::passwordAndRowRemoval()
{
    AppModel &model = *m_model;
    model.setDefaultPassword(QStringLiteral("default"));
    const QList<QUrl> urls = files({"/d/a", "/d/b", "/d/a"});

    // Appending nothing to a non-empty selection leaves even an empty password.
    model.appendFiles(urls);
    model.setHomePassword(QString());
    model.appendFiles({});
    QCOMPARE(model.homePassword(), QString());

    // Removing a row removes every occurrence of its file.
    model.removeSelectedFile(urls.first());
    QCOMPARE(model.selectedURLs(), files({"/d/b"}));
    QCOMPARE(model.homeStatus(), QStringLiteral("1件選択"));

    // Clearing keeps the password's text; appending fills it only when empty.
    model.setHomePassword(QStringLiteral("own"));
    model.clearSelectedFiles();
    QCOMPARE(model.homeStatus(), chooseStatus);
    model.appendFiles(urls);
    QCOMPARE(model.homePassword(), QStringLiteral("own"));
    model.clearSelectedFiles();
    model.setHomePassword(QString());
    model.appendFiles({});
    QCOMPARE(model.homePassword(), QStringLiteral("default"));
}

void AppModelHomeTest::requestHomeUpload_data()
{
    QTest::addColumn<QString>("homePassword");
    QTest::addColumn<QVariant>("sent");
    QTest::newRow("empty") << "" << QVariant();
    QTest::newRow("spaces only") << "   " << QVariant();
    QTest::newRow("padded") << " \u3000pw\n" << QVariant("pw");
    QTest::newRow("150 characters") << QString(150, u'p') << QVariant(QString(100, u'p'));
}

void AppModelHomeTest::requestHomeUpload()
{
    QFETCH(QString, homePassword);
    QFETCH(QVariant, sent);
    m_model->requestHomeUpload(); // no callback installed: nothing happens
    QList<std::pair<QList<QUrl>, std::optional<QString>>> calls;
    m_model->onRequestHomeUpload = [&](const QList<QUrl> &urls, const std::optional<QString> &pw) {
        calls.append({urls, pw});
    };
    m_model->appendFiles(files({"/d/a", "/d/b"}));
    m_model->setHomePassword(homePassword);
    m_model->requestHomeUpload();
    QCOMPARE(calls.size(), 1);
    QCOMPARE(calls.first().first, files({"/d/a", "/d/b"}));
    QCOMPARE(calls.first().second.has_value(), sent.isValid());
    QCOMPARE(calls.first().second.value_or(QString()), sent.toString());

    m_model->markHomeUploadStarted();
    m_model->requestHomeUpload(); // ignored while uploading
    QCOMPARE(calls.size(), 1);
}

void AppModelHomeTest::progress_data()
{
    QTest::addColumn<double>("fraction");
    QTest::addColumn<double>("stored");
    QTest::addColumn<QString>("status");
    const double infinity = std::numeric_limits<double>::infinity();
    QTest::newRow("over 1") << 1.7 << 1.0 << "アップロード中… 100%";
    QTest::newRow("negative") << -0.2 << 0.0 << "アップロード中… 0%";
    QTest::newRow("truncated") << 0.4259 << 0.4259 << "アップロード中… 42%";
    QTest::newRow("not rounded up") << 0.999 << 0.999 << "アップロード中… 99%";
    QTest::newRow("not a number") << std::nan("") << 0.0 << "アップロード中… 0%";
    QTest::newRow("infinity") << infinity << 1.0 << "アップロード中… 100%";
    QTest::newRow("minus infinity") << -infinity << 0.0 << "アップロード中… 0%";
}

void AppModelHomeTest::progress()
{
    QFETCH(double, fraction);
    QFETCH(double, stored);
    QFETCH(QString, status);
    m_model->markHomeUploadStarted();
    QVERIFY(m_model->isHomeUploading());
    QCOMPARE(m_model->homeStatus(), QStringLiteral("アップロード中…"));
    m_model->updateHomeUploadProgress(fraction);
    QCOMPARE(m_model->homeUploadProgress(), stored);
    QCOMPARE(m_model->homeStatus(), status);

    // A report that arrives after the outcome changes nothing.
    m_model->markHomeUploadFailed(QStringLiteral("error"), {});
    m_model->updateHomeUploadProgress(0.5);
    QCOMPARE(m_model->homeUploadProgress(), stored);
    QCOMPARE(m_model->homeStatus(), status);
}

void AppModelHomeTest::result_data()
{
    QTest::addColumn<bool>("success");
    QTest::addColumn<QVariant>("url");
    QTest::addColumn<bool>("copied");
    QTest::addColumn<QString>("message");
    const QVariant url("https://example.test/s");
    const QString noUrl = QStringLiteral("アップロードは成功しましたがURLの取得に失敗しました");
    QTest::newRow("copied") << true << url << true << "共有URLをクリップボードにコピーしました";
    QTest::newRow("not copied") << true << url << false << "共有URLを発行しました";
    QTest::newRow("empty URL, said copied") << true << QVariant("") << true << noUrl;
    QTest::newRow("no URL") << true << QVariant() << false << noUrl;
    QTest::newRow("failed") << false << QVariant() << false << "ネットワークエラー";
}

void AppModelHomeTest::result()
{
    QFETCH(bool, success);
    QFETCH(QVariant, url);
    QFETCH(bool, copied);
    QFETCH(QString, message);
    AppModel &model = *m_model;
    model.setDefaultPassword(QStringLiteral("default"));
    model.appendFiles(files({"/d/a.txt"}));
    model.setHomePassword(QStringLiteral("own"));
    model.markHomeUploadStarted();
    model.updateHomeUploadProgress(0.5);

    const std::optional<QString> given =
        url.isValid() ? std::optional(url.toString()) : std::nullopt;
    if (success)
        model.markHomeUploadSucceeded(given, {QStringLiteral("a.txt")}, copied);
    else
        model.markHomeUploadFailed(message, {QStringLiteral("a.txt")});
    QCOMPARE(model.homeUploadState(), HomeUploadState::Idle);
    const HomeUploadResult expected{success, given, message, {QStringLiteral("a.txt")}, copied};
    QCOMPARE(model.homeUploadResult(), std::optional(expected));
    QCOMPARE(model.homeUploadResultValue().toMap().value("message"), QVariant(message));
    // Status, progress and selection stay as they were.
    QCOMPARE(model.homeStatus(), QStringLiteral("アップロード中… 50%"));
    QCOMPARE(model.selectedURLs(), files({"/d/a.txt"}));

    model.dismissHomeUploadResult();
    QVERIFY(model.homeUploadResultValue().isNull());
    QVERIFY(model.selectedURLs().isEmpty());
    QCOMPARE(model.homePassword(), QStringLiteral("default"));
    QCOMPARE(model.homeStatus(), chooseStatus);
    QCOMPARE(model.homeUploadProgress(), 0.5); // reset by the next start
    model.markHomeUploadStarted();
    QCOMPARE(model.homeUploadProgress(), 0.0);
}

QTEST_GUILESS_MAIN(AppModelHomeTest)
#include "tst_appmodel_home.moc"
