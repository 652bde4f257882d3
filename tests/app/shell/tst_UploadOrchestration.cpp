// Every upload of the application, end to end through the real uploader and a
// real HTTP server on 127.0.0.1: what the drop zone, the Home tab, the history,
// the clipboard and the alerts see, and in which order.
#include "AlertPresenter.h"
#include "AppDelegate.h"
#include "AppModel.h"
#include "DropZonePresenter.h"
#include "DropZoneView.h"
#include "DropZoneWindow.h"
#include "NullDragEventSource.h"
#include "PelkinUploader.h"
#include "TestHttpServer.h"
#include "UploadOrchestrator.h"

#include <QClipboard>
#include <QDir>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <QtTest>

using namespace std::chrono_literals;

Q_DECLARE_METATYPE(TestHttpServer::Reply)
Q_DECLARE_METATYPE(UploadOrchestrator::Origin)
Q_DECLARE_METATYPE(std::optional<QString>)

namespace {

const QString copiedMessage = QStringLiteral("共有URLをクリップボードにコピーしました");
const QString issuedMessage = QStringLiteral("共有URLを発行しました");
const QString shareUrl = QStringLiteral("https://share.example.test/s/Ab3");
const QString clipboardBefore = QStringLiteral("something the user copied");

// What an alert saw when it came up.
struct ShownAlert
{
    QString title;
    QString message;
    QString zoneTitle;
    QString zoneSubtitle;
    bool uploadInProgress = false;
    qsizetype historyCount = 0;
};

class RecordingAlerts : public AlertPresenter
{
public:
    std::function<ShownAlert(const QString &, const QString &)> snapshot;
    QList<ShownAlert> shown;
    void showAlert(const QString &title, const QString &message) override
    {
        shown.append(snapshot(title, message));
    }
};

TestHttpServer::Reply plain(int status, const QByteArray &body)
{
    TestHttpServer::Reply reply;
    reply.status = status;
    reply.body = body;
    reply.headers = {{"Content-Type", "text/plain"}};
    return reply;
}

} // namespace

class TestUploadOrchestration : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void menuBarUpload_data();
    void menuBarUpload();
    void homeUpload_data();
    void homeUpload();
    void passwordSentPerOrigin_data();
    void passwordSentPerOrigin();
    void emptyRequests();

private:
    QUrl makeFile(const QString &name, const QByteArray &content = "hello\n");
    QByteArray passwordPart(const TestHttpServer::Request &request) const;

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<TestHttpServer> m_server;
    std::unique_ptr<AppModel> m_model;
    std::unique_ptr<AppDelegate> m_delegate;
    RecordingAlerts *m_alerts = nullptr;
};

void TestUploadOrchestration::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_server = std::make_unique<TestHttpServer>();
    m_model = std::make_unique<AppModel>(m_dir->filePath(QStringLiteral("settings.ini")));
    auto alerts = std::make_unique<RecordingAlerts>();
    m_alerts = alerts.get();
    AppDelegate::Parts parts;
    parts.model = m_model.get();
    parts.uploader = std::make_unique<PelkinUploader>(m_server->url(), 10s);
    parts.alerts = std::move(alerts);
    parts.dragSource = std::make_shared<NullDragEventSource>();
    m_delegate = std::make_unique<AppDelegate>(std::move(parts));
    m_alerts->snapshot = [this](const QString &title, const QString &message) {
        ShownAlert alert{
            title, message, {}, {}, m_delegate->dropZone()->uploadInProgress(), m_model->history().size()};
        if (DropZoneWindow *zone = m_delegate->dropZone()->window()) {
            alert.zoneTitle = zone->dropView()->titleText();
            alert.zoneSubtitle = zone->dropView()->subtitleText();
        }
        return alert;
    };
    m_delegate->setupStatusItem();
    QGuiApplication::clipboard()->setText(clipboardBefore);
}

void TestUploadOrchestration::cleanup()
{
    m_delegate.reset();
    m_model.reset();
    m_server.reset();
    m_dir.reset();
}

QUrl TestUploadOrchestration::makeFile(const QString &name, const QByteArray &content)
{
    const QString path = m_dir->filePath(name);
    if (name.endsWith(QLatin1String(".app"))) {
        QDir().mkpath(path); // an application bundle is a folder
    } else {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            qFatal("cannot write %s", qPrintable(path));
        file.write(content);
    }
    return QUrl::fromLocalFile(path);
}

QByteArray TestUploadOrchestration::passwordPart(const TestHttpServer::Request &request) const
{
    const QByteArray marker = "Content-Disposition: form-data; name=\"password\"\r\n\r\n";
    const qsizetype at = request.body.indexOf(marker);
    if (at < 0)
        return {};
    const qsizetype start = at + marker.size();
    return request.body.mid(start, request.body.indexOf("\r\n", start) - start);
}

void TestUploadOrchestration::menuBarUpload_data()
{
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<bool>("autoCopy");
    QTest::addColumn<TestHttpServer::Reply>("reply");
    QTest::addColumn<QStringList>("sentNames"); // file names the server receives
    QTest::addColumn<bool>("success");
    QTest::addColumn<QString>("detail"); // the drop zone's result line
    QTest::addColumn<QString>("alertMessage");
    QTest::addColumn<QString>("historyMessage");
    QTest::addColumn<QString>("historyUrl"); // empty: none
    QTest::addColumn<QString>("clipboard");

    const QByteArray withUrl = R"({"success":true,"url":"https://share.example.test/s/Ab3"})";
    QTest::newRow("url, copied") << QStringList{"notes.txt", "photo.jpg"} << true
                                 << TestHttpServer::json(200, withUrl)
                                 << QStringList{"notes.txt", "photo.jpg"} << true << copiedMessage
                                 << copiedMessage + "。\n" + shareUrl << copiedMessage << shareUrl
                                 << shareUrl;
    QTest::newRow("url, automatic copy off")
        << QStringList{"notes.txt"} << false << TestHttpServer::json(200, withUrl)
        << QStringList{"notes.txt"} << true << issuedMessage << issuedMessage + "。\n" + shareUrl
        << issuedMessage << shareUrl << clipboardBefore;
    const QString noUrl = QStringLiteral("アップロードは成功しましたがURLの取得に失敗しました");
    const QString noUrlAlert =
        QStringLiteral("アップロードは成功しましたが、URLの取得に失敗しました。");
    QTest::newRow("no url") << QStringList{"notes.txt"} << true
                            << TestHttpServer::json(200, R"({"success":true})")
                            << QStringList{"notes.txt"} << true
                            << QStringLiteral("URLの取得に失敗しました") << noUrlAlert << noUrl
                            << QString() << clipboardBefore;
    QTest::newRow("empty url") << QStringList{"notes.txt"} << true
                               << TestHttpServer::json(200, R"({"success":true,"url":""})")
                               << QStringList{"notes.txt"} << true
                               << QStringLiteral("URLの取得に失敗しました") << noUrlAlert << noUrl
                               << QString() << clipboardBefore;
    const QString serverSays = QStringLiteral("容量が足りません");
    QTest::newRow("server error") << QStringList{"notes.txt"} << true
                                  << TestHttpServer::json(
                                         200, R"({"success":false,"error":"容量が足りません"})")
                                  << QStringList{"notes.txt"} << false << serverSays << serverSays
                                  << serverSays << QString() << clipboardBefore;
    const QString status = QStringLiteral("HTTP ステータスコードエラー: 503");
    QTest::newRow("http status") << QStringList{"notes.txt"} << true << plain(503, "busy")
                                 << QStringList{"notes.txt"} << false << status << status << status
                                 << QString() << clipboardBefore;
    // Screened out before anything is sent; reported like any other failure.
    const QString blocked = QStringLiteral("これらのファイルはアップロードできません: Foo.app");
    QTest::newRow("blocked only") << QStringList{"Foo.app"} << true
                                  << TestHttpServer::json(200, withUrl) << QStringList{} << false
                                  << blocked << blocked << blocked << QString() << clipboardBefore;
    // The blocked file is not sent, but the history names every file offered.
    QTest::newRow("blocked and allowed")
        << QStringList{"Foo.app", "notes.txt"} << true << TestHttpServer::json(200, withUrl)
        << QStringList{"notes.txt"} << true << copiedMessage << copiedMessage + "。\n" + shareUrl
        << copiedMessage << shareUrl << shareUrl;
}

void TestUploadOrchestration::menuBarUpload()
{
    QFETCH(QStringList, files);
    QFETCH(bool, autoCopy);
    QFETCH(TestHttpServer::Reply, reply);
    QFETCH(QStringList, sentNames);
    QFETCH(bool, success);
    QFETCH(QString, detail);
    QFETCH(QString, alertMessage);
    QFETCH(QString, historyMessage);
    QFETCH(QString, historyUrl);
    QFETCH(QString, clipboard);

    m_model->setAutoCopyToClipboard(autoCopy);
    m_server->enqueue(reply);
    QList<QUrl> urls;
    for (const QString &name : files)
        urls.append(makeFile(name));

    m_delegate->uploads()->start(urls, std::nullopt, UploadOrchestrator::Origin::menuBar);

    // The start is announced before startUpload returns, and nothing else
    // has happened yet, even where the uploader failed synchronously.
    QVERIFY(m_delegate->dropZone()->uploadInProgress());
    DropZoneWindow *zone = m_delegate->dropZone()->window();
    QVERIFY(zone);
    QVERIFY(zone->isVisible());
    QVERIFY(zone->dropView()->isUploading());
    QCOMPARE(zone->dropView()->titleText(), QStringLiteral("ファイルをアップロード中…"));
    QTRY_COMPARE_WITH_TIMEOUT(zone->panelSize(), DropZoneWindow::expandedSize, 2000);
    QVERIFY(m_alerts->shown.isEmpty());
    QVERIFY(m_model->history().isEmpty());

    QTRY_COMPARE_WITH_TIMEOUT(m_alerts->shown.size(), 1, 10000);
    const ShownAlert alert = m_alerts->shown.first();
    const QString title =
        success ? QStringLiteral("アップロード完了") : QStringLiteral("アップロード失敗");
    QCOMPARE(alert.title, title);
    QCOMPARE(alert.message, alertMessage);
    // The zone already shows the outcome and the history holds it when the
    // alert comes up.
    QCOMPARE(alert.zoneTitle, title);
    QCOMPARE(alert.zoneSubtitle, detail);
    QVERIFY(alert.uploadInProgress);
    QCOMPARE(alert.historyCount, 1);

    QCOMPARE(m_model->history().size(), 1);
    const UploadHistoryItem entry = m_model->history().first();
    QCOMPARE(entry.fileNames, files);
    QCOMPARE(entry.success, success);
    QCOMPARE(entry.message, historyMessage);
    QCOMPARE(entry.url, historyUrl.isEmpty() ? std::nullopt : std::optional(historyUrl));
    QCOMPARE(QGuiApplication::clipboard()->text(), clipboard);
    QCOMPARE(m_model->hasHomeUploadResult(), false);

    const QList<TestHttpServer::Request> requests = m_server->requests();
    QCOMPARE(requests.size(), sentNames.isEmpty() ? 0 : 1);
    for (const QString &name : files) {
        const QByteArray part = "filename=\"" + name.toUtf8() + "\"";
        QCOMPARE(!requests.isEmpty() && requests.first().body.contains(part),
                 sentNames.contains(name));
    }

    // The result stays up (1.1 s / 1.4 s), then the zone resets and fades out;
    // no late progress report brings "アップロード中…" back in between.
    QTRY_VERIFY_WITH_TIMEOUT(!m_delegate->dropZone()->uploadInProgress(), 4000);
    QCOMPARE(zone->dropView()->isUploading(), false);
    QTRY_VERIFY_WITH_TIMEOUT(!zone->isVisible(), 2000);
    QCOMPARE(m_alerts->shown.size(), 1);
    QCOMPARE(m_model->history().size(), 1);
}

void TestUploadOrchestration::homeUpload_data()
{
    QTest::addColumn<bool>("autoCopy");
    QTest::addColumn<TestHttpServer::Reply>("reply");
    QTest::addColumn<HomeUploadResult>("expected");
    QTest::addColumn<QString>("historyMessage");
    QTest::addColumn<QString>("clipboard");

    const QByteArray withUrl = R"({"success":true,"url":"https://share.example.test/s/Ab3"})";
    const QStringList names{"notes.txt"};
    QTest::newRow("url, copied") << true << TestHttpServer::json(200, withUrl)
                                 << HomeUploadResult{true, shareUrl, copiedMessage, names, true}
                                 << copiedMessage << shareUrl;
    QTest::newRow("url, automatic copy off")
        << false << TestHttpServer::json(200, withUrl)
        << HomeUploadResult{true, shareUrl, issuedMessage, names, false} << issuedMessage
        << clipboardBefore;
    const QString noUrl = QStringLiteral("アップロードは成功しましたがURLの取得に失敗しました");
    QTest::newRow("empty url") << true << TestHttpServer::json(200, R"({"success":true,"url":""})")
                               << HomeUploadResult{true, std::nullopt, noUrl, names, false} << noUrl
                               << clipboardBefore;
    const QString status = QStringLiteral("HTTP ステータスコードエラー: 404");
    QTest::newRow("http status") << true << plain(404, "")
                                 << HomeUploadResult{false, std::nullopt, status, names, false}
                                 << status << clipboardBefore;
}

void TestUploadOrchestration::homeUpload()
{
    QFETCH(bool, autoCopy);
    QFETCH(TestHttpServer::Reply, reply);
    QFETCH(HomeUploadResult, expected);
    QFETCH(QString, historyMessage);
    QFETCH(QString, clipboard);

    m_model->setAutoCopyToClipboard(autoCopy);
    m_server->enqueue(reply);
    m_delegate->uploads()->start({makeFile(QStringLiteral("notes.txt"))}, std::nullopt,
                            UploadOrchestrator::Origin::home);
    QVERIFY(m_model->isHomeUploading());
    QCOMPARE(m_model->homeStatus(), QStringLiteral("アップロード中…"));

    QTRY_VERIFY_WITH_TIMEOUT(!m_model->isHomeUploading(), 10000);
    QVERIFY(m_model->homeUploadResult().has_value());
    const HomeUploadResult result = *m_model->homeUploadResult();
    QCOMPARE(result.success, expected.success);
    QCOMPARE(result.url.value_or(QString()), expected.url.value_or(QString()));
    QCOMPARE(result.message, expected.message);
    QCOMPARE(result.fileNames, expected.fileNames);
    QCOMPARE(result.didCopyToClipboard, expected.didCopyToClipboard);
    QCOMPARE(m_model->history().size(), 1);
    QCOMPARE(m_model->history().first().message, historyMessage);
    QCOMPARE(m_model->history().first().success, expected.success);
    QCOMPARE(QGuiApplication::clipboard()->text(), clipboard);

    // The Home tab never gets an alert and the drop zone is left alone.
    const QString statusAfter = m_model->homeStatus();
    QTest::qWait(300);
    QVERIFY(m_alerts->shown.isEmpty());
    QVERIFY(!m_delegate->dropZone()->window());
    QVERIFY(!m_delegate->dropZone()->uploadInProgress());
    QCOMPARE(m_model->homeStatus(), statusAfter);
    QVERIFY(!m_model->isHomeUploading());
}

void TestUploadOrchestration::passwordSentPerOrigin_data()
{
    QTest::addColumn<UploadOrchestrator::Origin>("origin");
    QTest::addColumn<std::optional<QString>>("given");
    QTest::addColumn<QString>("defaultPassword");
    QTest::addColumn<QByteArray>("sent"); // empty: no password part

    using O = UploadOrchestrator::Origin;
    const QString long150 = QString(150, QLatin1Char('p'));
    QTest::newRow("home, trimmed")
        << O::home << std::optional<QString>("  秘密 \n") << "dflt" << QByteArray("秘密");
    QTest::newRow("home, only spaces: none")
        << O::home << std::optional<QString>("   ") << "dflt" << QByteArray();
    QTest::newRow("home, 150 characters: the first 100")
        << O::home << std::optional(long150) << "" << QByteArray(100, 'p');
    QTest::newRow("home, absent: none, not the default")
        << O::home << std::optional<QString>() << "dflt" << QByteArray();
    QTest::newRow("menu bar: the default, trimmed")
        << O::menuBar << std::optional<QString>() << "  dflt  " << QByteArray("dflt");
    QTest::newRow("menu bar, no default: none")
        << O::menuBar << std::optional<QString>() << "" << QByteArray();
}

void TestUploadOrchestration::passwordSentPerOrigin()
{
    QFETCH(UploadOrchestrator::Origin, origin);
    QFETCH(std::optional<QString>, given);
    QFETCH(QString, defaultPassword);
    QFETCH(QByteArray, sent);

    m_model->setDefaultPassword(defaultPassword);
    m_delegate->uploads()->start({makeFile(QStringLiteral("a.txt"))}, given, origin);
    QVERIFY(m_server->waitForRequests(1, 10s));
    QCOMPARE(passwordPart(m_server->requests().first()), sent);
    QTRY_COMPARE_WITH_TIMEOUT(m_model->history().size(), 1, 10000);
}

void TestUploadOrchestration::emptyRequests()
{
    // Home: the failure goes to the Home tab only.
    m_delegate->uploads()->start({}, QStringLiteral("pw"), UploadOrchestrator::Origin::home);
    QVERIFY(m_model->homeUploadResult().has_value());
    QCOMPARE(m_model->homeUploadResult()->success, false);
    QCOMPARE(m_model->homeUploadResult()->message, QStringLiteral("ファイルが選択されていません"));
    QCOMPARE(m_model->homeUploadResult()->fileNames, QStringList());

    // Menu bar: one alert, and the drop zone is not touched.
    m_delegate->uploads()->start({}, std::nullopt, UploadOrchestrator::Origin::menuBar);
    QTRY_COMPARE_WITH_TIMEOUT(m_alerts->shown.size(), 1, 2000);
    QCOMPARE(m_alerts->shown.first().title, QStringLiteral("アップロード失敗"));
    QCOMPARE(m_alerts->shown.first().message, QStringLiteral("ファイルが選択されていません。"));
    QVERIFY(!m_delegate->dropZone()->window());
    QVERIFY(!m_delegate->dropZone()->uploadInProgress());

    QTest::qWait(100);
    QVERIFY(m_model->history().isEmpty());
    QCOMPARE(m_server->requestCount(), 0);
    QCOMPARE(m_alerts->shown.size(), 1);
}

QTEST_MAIN(TestUploadOrchestration)
#include "tst_UploadOrchestration.moc"
