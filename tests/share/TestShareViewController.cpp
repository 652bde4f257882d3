// The share panel on the offscreen platform, uploading with the real client
// to a real HTTP server on 127.0.0.1.

#include "PelkinUploader.h"
#include "ShareItemCollector.h"
#include "ShareViewController.h"
#include "TestFiles.h"
#include "TestHttpServer.h"

#include <QCheckBox>
#include <QClipboard>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <chrono>

using namespace std::chrono_literals;

class TestShareViewController : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TestHttpServer> server;
    std::unique_ptr<QTemporaryDir> sources;
    std::unique_ptr<QTemporaryDir> run;

    QString makeFile(const QString &name, const QByteArray &content)
    {
        return TestFiles::write(sources->path(), name, content);
    }

    std::unique_ptr<ShareViewController> makePanel(const QList<ShareItemProvider> &items)
    {
        auto panel = std::make_unique<ShareViewController>(
            items, std::make_unique<PelkinUploader>(server->url(), 10s), run->path());
        panel->show();
        return panel;
    }

    // A panel that has collected one or two files and is ready to upload.
    std::unique_ptr<ShareViewController> readyPanel(int files = 1)
    {
        QList<ShareItemProvider> items;
        for (int i = 0; i < files; ++i) {
            items << ShareItemProvider::forLocalFile(makeFile(
                QStringLiteral("doc%1.txt").arg(i + 1), "content " + QByteArray::number(i)));
        }
        auto panel = makePanel(items);
        if (!QTest::qWaitFor([&] { return button(panel.get(), "uploadButton")->isEnabled(); }, 5000))
            qWarning("the panel did not become ready");
        return panel;
    }

    static QPushButton *button(ShareViewController *panel, const char *name)
    {
        return panel->findChild<QPushButton *>(QLatin1String(name));
    }
    static QCheckBox *check(ShareViewController *panel)
    {
        return panel->findChild<QCheckBox *>(QStringLiteral("protectCheck"));
    }
    static QLineEdit *field(ShareViewController *panel)
    {
        return panel->findChild<QLineEdit *>(QStringLiteral("passwordField"));
    }
    static QString info(ShareViewController *panel)
    {
        return panel->findChild<QWidget *>(QStringLiteral("infoLabel"))->property("text").toString();
    }

private slots:
    void initTestCase() { ShareItemCollector::setDiagnosticSink([](const QString &) {}); }

    void init()
    {
        server = std::make_unique<TestHttpServer>();
        sources = std::make_unique<QTemporaryDir>();
        run = std::make_unique<QTemporaryDir>();
    }

    void cleanup() { server.reset(); }

    // Collecting, then ready: the information line and the controls.
    void collectionStates()
    {
        auto two = makePanel({ShareItemProvider::forLocalFile(makeFile("a.txt", "a")),
                              ShareItemProvider::forLocalFile(makeFile("b/a.txt", "b"))});
        QCOMPARE(info(two.get()), QStringLiteral("ファイル取得中..."));
        QVERIFY(!button(two.get(), "uploadButton")->isEnabled());
        QVERIFY(two->findChild<QWidget *>(QStringLiteral("spinner"))->isVisible());
        QTRY_COMPARE_WITH_TIMEOUT(info(two.get()), QStringLiteral("選択されたファイル数: 2"), 5000);
        QVERIFY(button(two.get(), "uploadButton")->isEnabled());
        QVERIFY(!two->findChild<QWidget *>(QStringLiteral("spinner"))->isVisible());
        QCOMPARE(two->collectedURLs().size(), 2);

        auto one = readyPanel();
        QCOMPARE(info(one.get()), QStringLiteral("doc1.txt"));
    }

    // The ways the panel ends without uploading, each closing 0.8 s later.
    void endsWithoutUploading_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("message");
        QTest::newRow("no input") << "none" << "入力が空です";
        QTest::newRow("nothing collected") << "missing" << "ファイルが取得できていません";
        QTest::newRow("password of spaces") << "spaces" << "パスワードを入力してください";
    }

    void endsWithoutUploading()
    {
        QFETCH(QString, setup);
        QFETCH(QString, message);
        std::unique_ptr<ShareViewController> panel;
        if (setup == "none") {
            panel = makePanel({});
        } else if (setup == "missing") {
            panel = makePanel({ShareItemProvider::forLocalFile(sources->filePath("gone.txt"))});
            QTRY_COMPARE_WITH_TIMEOUT(info(panel.get()), QStringLiteral("ファイルが取得できませんでした"), 5000);
            QVERIFY(button(panel.get(), "uploadButton")->isEnabled());
        } else {
            panel = readyPanel();
            check(panel.get())->click();
            field(panel.get())->setText(QStringLiteral(" \t　 "));
        }
        QSignalSpy completed(panel.get(), &ShareViewController::requestCompleted);
        QElapsedTimer clock;
        clock.start();
        if (setup != "none")
            button(panel.get(), "uploadButton")->click();
        QTRY_COMPARE_WITH_TIMEOUT(info(panel.get()), message, 1000);
        // Closing: nothing new can start.
        QVERIFY(!button(panel.get(), "uploadButton")->isEnabled());
        QVERIFY(completed.wait(2000));
        const qint64 elapsed = clock.elapsed();
        QVERIFY2(elapsed >= 750 && elapsed <= 1100, qPrintable(QString::number(elapsed)));
        QCOMPARE(completed.size(), 1);
        QCOMPARE(server->requestCount(), 0);
    }

    // The field follows the check box and is cleared when protection goes
    // off; while uploading both are locked. The password is sent trimmed
    // and never shortened.
    void protectionControls()
    {
        auto panel = readyPanel();
        QCheckBox *box = check(panel.get());
        QLineEdit *password = field(panel.get());
        QVERIFY(!password->isVisible() && !password->isEnabled());
        box->click();
        QVERIFY(password->isVisible() && password->isEnabled());
        password->setText(QStringLiteral("secret"));
        box->click();
        QVERIFY(!password->isVisible() && !password->isEnabled());
        box->click();
        QCOMPARE(password->text(), QString());
        const QString longPassword = QStringLiteral("鍵") + QString(149, QLatin1Char('p'));
        password->setText(QStringLiteral("\u3000 ") + longPassword + QStringLiteral(" \n"));

        TestHttpServer::Reply slow = TestHttpServer::json(200, "{\"success\":true}");
        slow.delay = 1500ms;
        server->enqueue(slow);
        button(panel.get(), "uploadButton")->click();
        QVERIFY(panel->isUploading());
        QVERIFY(!box->isEnabled() && !password->isEnabled());
        box->setChecked(false);
        panel->toggleProtect();
        QVERIFY(password->isVisible() && !password->text().isEmpty());
        QVERIFY(server->waitForRequests(1, 5s));
        QVERIFY(server->requests().at(0).body.contains("name=\"password\"\r\n\r\n" + longPassword.toUtf8() + "\r\n"));
        QTRY_VERIFY_WITH_TIMEOUT(!panel->isUploading(), 5000);
        QVERIFY(box->isEnabled());
    }

    // Percentages round half away from zero; the fraction is clamped.
    void progressText()
    {
        auto panel = readyPanel();
        panel->handleUploadProgress(0.5); // no upload running: ignored
        QCOMPARE(info(panel.get()), QStringLiteral("doc1.txt"));
        TestHttpServer::Reply slow = TestHttpServer::json(200, "{\"success\":true}");
        slow.delay = 2s;
        server->enqueue(slow);
        button(panel.get(), "uploadButton")->click();
        QVERIFY(panel->isUploading());
        auto *bar = panel->findChild<QProgressBar *>(QStringLiteral("progressBar"));
        const QList<std::pair<double, int>> rows = {{0.125, 13}, {0.005, 1}, {0.004, 0}, {2.5, 100}, {-0.5, 0}};
        for (const auto &[fraction, percent] : rows) {
            panel->handleUploadProgress(fraction);
            QCOMPARE(info(panel.get()), QStringLiteral("アップロード中... %1%").arg(percent));
            QCOMPARE(panel->currentProgress(), std::clamp(fraction, 0.0, 1.0));
            QCOMPARE(double(bar->value()) / bar->maximum(), std::clamp(fraction, 0.0, 1.0));
        }
        panel->tapCancel();
    }

    // What a finished upload shows and copies.
    void outcome_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("clipboard");
        const QString copied = QStringLiteral("完了: URLをコピーしました");
        const QString failed = QStringLiteral("失敗: ");
        QTest::newRow("url") << 200 << QByteArray("{\"success\":true,\"url\":\"https://s/u\",\"download_url\":\"https://s/d\"}")
                             << copied << "https://s/u";
        QTest::newRow("download_url only") << 200 << QByteArray("{\"success\":true,\"download_url\":\"https://s/d\"}")
                                           << copied << "https://s/d";
        QTest::newRow("empty url counts") << 200 << QByteArray("{\"success\":true,\"url\":\"\",\"download_url\":\"https://s/d\"}")
                                          << copied << "";
        QTest::newRow("no link") << 201 << QByteArray("{\"success\":true}") << "アップロード成功" << "before";
        QTest::newRow("service message") << 413 << QByteArray("{\"success\":false,\"error\":\"容量オーバーです\"}")
                                         << failed + "容量オーバーです" << "before";
        QTest::newRow("HTTP status") << 500 << QByteArray("<html>oops</html>")
                                     << failed + "HTTP ステータスコードエラー: 500" << "before";
    }

    void outcome()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, reply);
        QFETCH(QString, message);
        QFETCH(QString, clipboard);
        QGuiApplication::clipboard()->setText(QStringLiteral("before"));
        auto panel = readyPanel(2);
        server->enqueue(TestHttpServer::json(status, reply));
        QSignalSpy completed(panel.get(), &ShareViewController::requestCompleted);
        button(panel.get(), "uploadButton")->click();
        QTRY_COMPARE_WITH_TIMEOUT(info(panel.get()), message, 5000);
        QCOMPARE(QGuiApplication::clipboard()->text(), clipboard);
        QVERIFY(!panel->isUploading());
        QVERIFY(completed.wait(2000));
    }

    // Cancel closes at once; an upload already running finishes unseen.
    void cancelLetsTheUploadFinishSilently()
    {
        QGuiApplication::clipboard()->setText(QStringLiteral("before"));
        auto panel = readyPanel();
        TestHttpServer::Reply slow = TestHttpServer::json(200, "{\"success\":true,\"url\":\"https://s/u\"}");
        slow.delay = 700ms;
        server->enqueue(slow);
        QSignalSpy cancelled(panel.get(), &ShareViewController::requestCancelled);
        QSignalSpy settled(panel.get(), &ShareViewController::workSettled);
        QSignalSpy completed(panel.get(), &ShareViewController::requestCompleted);
        button(panel.get(), "uploadButton")->click();
        QVERIFY(panel->hasWorkInFlight());
        button(panel.get(), "cancelButton")->click();
        QCOMPARE(cancelled.size(), 1);
        QVERIFY(settled.isEmpty());
        QVERIFY(settled.wait(5000));
        QVERIFY(server->waitForRequests(1, 1s));
        QVERIFY(server->requests().at(0).complete);
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("before"));
        QCOMPARE(info(panel.get()), QStringLiteral("アップロード中..."));
        QTest::qWait(1000);
        QVERIFY(completed.isEmpty());
        QVERIFY(!panel->copiedLink());
    }
};

QTEST_MAIN(TestShareViewController)
#include "TestShareViewController.moc"
