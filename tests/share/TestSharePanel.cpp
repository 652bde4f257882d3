// The share panel's parts in process, on real files and a real HTTP server on
// 127.0.0.1: what the end-to-end run does not reach (names, failures, races).

#include "PelkinUploader.h"
#include "ShareItemCollector.h"
#include "ShareViewController.h"
#include "TestFiles.h"
#include "TestHttpServer.h"

#include <QCheckBox>
#include <QClipboard>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

// Collected files as "name=content", sorted (the order is the order of completion).
QStringList describe(const QList<QUrl> &urls)
{
    QStringList out;
    for (const QUrl &url : urls) {
        QFile file(url.toLocalFile());
        out << url.fileName() + '=' +
                   QString::fromUtf8(file.open(QIODevice::ReadOnly) ? file.readAll() : "<unreadable>");
    }
    out.sort();
    return out;
}

} // namespace

class TestSharePanel : public QObject
{
    Q_OBJECT
    std::unique_ptr<TestHttpServer> server;
    std::unique_ptr<QTemporaryDir> sources;
    std::unique_ptr<QTemporaryDir> run;

    QList<QUrl> collect(const QList<ShareItemProvider> &providers, const QString &runFolder)
    {
        ShareItemCollector collector(runFolder);
        QSignalSpy finished(&collector, &ShareItemCollector::finished);
        collector.collect(providers);
        return finished.wait(10000) ? finished.at(0).at(0).value<QList<QUrl>>()
                                    : QList<QUrl>{QUrl(QStringLiteral("timed-out:"))};
    }

    ShareItemProvider sourceFile(const QString &name, const QByteArray &content = "content")
    {
        return ShareItemProvider::forLocalFile(TestFiles::write(sources->path(), name, content));
    }

    std::unique_ptr<ShareViewController> makePanel(const QList<ShareItemProvider> &items)
    {
        auto panel = std::make_unique<ShareViewController>(
            items, std::make_unique<PelkinUploader>(server->url(), 10s), run->path());
        panel->show();
        return panel;
    }

    // A panel that has collected doc1.txt and is ready to upload.
    std::unique_ptr<ShareViewController> readyPanel()
    {
        auto panel = makePanel({sourceFile(QStringLiteral("doc1.txt"))});
        if (!QTest::qWaitFor([&] { return child(panel.get(), "uploadButton")->isEnabled(); }, 5000))
            qWarning("the panel did not become ready");
        return panel;
    }

    template<typename T = QPushButton>
    static T *child(ShareViewController *panel, const char *name)
    {
        return panel->findChild<T *>(QLatin1String(name));
    }

    static QString info(ShareViewController *panel)
    {
        return child<QWidget>(panel, "infoLabel")->property("text").toString();
    }

private slots:
    void initTestCase() { ShareItemCollector::setDiagnosticSink([](const QString &) {}); }

    void init()
    {
        server = std::make_unique<TestHttpServer>();
        sources = std::make_unique<QTemporaryDir>();
        run = std::make_unique<QTemporaryDir>();
    }

    // Every kind of argument at once, with the names they become; items with
    // the same name keep apart.
    void collectsEachKindOfArgument()
    {
        TestFiles::write(sources->path(), "sub/Photo.JPG", "jpeg bytes");
        TestFiles::write(sources->path(), "download.tmp", "temp bytes");
        TestFiles::write(sources->path(), "a/My Report.txt", "first");
        TestFiles::write(sources->path(), "b/My Report.TXT", "second");
        TestFiles::write(sources->path(), "b/.bashrc", "dot");
        int inputReads = 0;
        const auto input = [&] {
            ++inputReads;
            return QByteArray("%PDF-1.4\nstandard input\n"); // a type told by its content
        };
        const QString savedCurrent = QDir::currentPath();
        QDir::setCurrent(sources->path());
        QList<ShareItemProvider> providers;
        for (const QString &argument :
             {QStringLiteral("sub/../sub/Photo.JPG"), QStringLiteral("a/My Report.txt"),
              QStringLiteral("b/.bashrc"), QUrl::fromLocalFile(sources->filePath("b/My Report.TXT")).toString(),
              QUrl::fromLocalFile(sources->filePath("download.tmp")).toString(),
              QStringLiteral("https://example.com/a/page?q=1"), QStringLiteral("-")})
            providers << ShareItemProvider::fromArgument(argument, input);
        QDir::setCurrent(savedCurrent);
        QCOMPARE(inputReads, 1);
        QCOMPARE(describe(collect(providers, run->path())),
                 QStringList({".bashrc=dot", "My Report.txt=first", "My Report.txt=second",
                              "Photo.jpg=jpeg bytes", "untitled.pdf=%PDF-1.4\nstandard input\n",
                              "untitled=https://example.com/a/page?q=1", "untitled=temp bytes"}));
    }

    void failingItemsContributeNothing()
    {
        const QList<ShareItemProvider> items = {
            ShareItemProvider::forLocalFile(sources->filePath("missing.bin")),
            ShareItemProvider::forData({}, {"text/plain"}), sourceFile(QStringLiteral("good.txt"), "fine")};
        QCOMPARE(describe(collect(items, run->path())), QStringList({"good.txt=fine"}));
        // No usable run folder: nothing is written anywhere.
        QCOMPARE(collect({sourceFile(QStringLiteral("good.txt"))}, {}), QList<QUrl>());
    }

    // A derived name replaces what is there and never leaves its folder.
    void derivedNames()
    {
        TestFiles::write(run->path(), "item/same.txt", "old");
        QVERIFY(!QFileInfo::exists(ShareItemCollector::makeTempPath(run->filePath("item"), "same.txt")));
        QCOMPARE(ShareItemCollector::makeTempPath(run->path(), "a/b"), run->filePath("a_b"));
        QCOMPARE(ShareItemCollector::makeTempPath(run->path(), ".."), run->filePath("untitled"));
    }

    // Abandoning stops a resolution that waits on a silent pipe, and the
    // collector still reports, with nothing collected.
    void abandonStopsAWaitingItem()
    {
        const QByteArray fifo = QFile::encodeName(sources->filePath("silent"));
        QCOMPARE(::mkfifo(fifo.constData(), 0600), 0);
        const int writer = ::open(fifo.constData(), O_RDWR); // held open: reads wait
        QVERIFY(writer >= 0);
        ShareItemCollector collector(run->path());
        QSignalSpy finished(&collector, &ShareItemCollector::finished);
        collector.collect({ShareItemProvider::forLocalFile(sources->filePath("silent"))});
        QTest::qWait(300);
        QVERIFY(collector.isRunning());
        collector.abandon();
        QVERIFY(finished.wait(5000));
        QCOMPARE(finished.at(0).at(0).value<QList<QUrl>>(), QList<QUrl>());
        ::close(writer);
    }

    // The ways the panel ends without uploading, each closing 0.8 s later.
    void endsWithoutUploading()
    {
        const QList<std::pair<QString, QString>> rows = {{"none", "入力が空です"},
                                                         {"missing", "ファイルが取得できていません"},
                                                         {"spaces", "パスワードを入力してください"}};
        for (const auto &[setup, message] : rows) {
            std::unique_ptr<ShareViewController> panel;
            if (setup == "none") {
                panel = makePanel({});
            } else if (setup == "missing") {
                panel = makePanel({ShareItemProvider::forLocalFile(sources->filePath("gone.txt"))});
                QTRY_COMPARE_WITH_TIMEOUT(info(panel.get()),
                                          QStringLiteral("ファイルが取得できませんでした"), 5000);
            } else {
                panel = readyPanel();
                child<QCheckBox>(panel.get(), "protectCheck")->click();
                child<QLineEdit>(panel.get(), "passwordField")->setText(QStringLiteral(" \t　 "));
            }
            QSignalSpy completed(panel.get(), &ShareViewController::requestCompleted);
            QElapsedTimer clock;
            clock.start();
            if (setup != "none")
                child(panel.get(), "uploadButton")->click();
            QTRY_COMPARE_WITH_TIMEOUT(info(panel.get()), message, 1000);
            // Closing: nothing new can start.
            QVERIFY(!child(panel.get(), "uploadButton")->isEnabled());
            QVERIFY(completed.wait(5000));
            QVERIFY2(clock.elapsed() >= 750, qPrintable(QString::number(clock.elapsed())));
            QCOMPARE(completed.size(), 1);
            QCOMPARE(server->requestCount(), 0);
        }
    }

    // The field follows the check box; while uploading both are locked, the
    // password goes trimmed and never shortened, and progress shows in whole
    // percents, clamped.
    void protectionAndProgress()
    {
        auto panel = readyPanel();
        QCOMPARE(info(panel.get()), QStringLiteral("doc1.txt"));
        auto *box = child<QCheckBox>(panel.get(), "protectCheck");
        auto *password = child<QLineEdit>(panel.get(), "passwordField");
        QVERIFY(!password->isVisible() && !password->isEnabled());
        box->click();
        QVERIFY(password->isVisible() && password->isEnabled());
        const QString longPassword = QStringLiteral("鍵") + QString(149, QLatin1Char('p'));
        password->setText(QStringLiteral("\u3000 ") + longPassword + QStringLiteral(" \n"));

        TestHttpServer::Reply slow = TestHttpServer::json(200, "{\"success\":true}");
        slow.delay = 1500ms;
        server->enqueue(slow);
        child(panel.get(), "uploadButton")->click();
        QVERIFY(!box->isEnabled() && !password->isEnabled());
        box->setChecked(false);
        panel->toggleProtect();
        QVERIFY(password->isVisible() && !password->text().isEmpty());
        auto *bar = child<QProgressBar>(panel.get(), "progressBar");
        const QList<std::pair<double, int>> progress = {{0.125, 13}, {2.5, 100}, {-0.5, 0}};
        for (const auto &[fraction, percent] : progress) {
            panel->handleUploadProgress(fraction);
            QCOMPARE(info(panel.get()), QStringLiteral("アップロード中... %1%").arg(percent));
            QCOMPARE(double(bar->value()) / bar->maximum(), std::clamp(fraction, 0.0, 1.0));
        }
        QVERIFY(server->waitForRequests(1, 5s));
        const QByteArray sent = "name=\"password\"\r\n\r\n" + longPassword.toUtf8() + "\r\n";
        QVERIFY(server->requests().at(0).body.contains(sent));
        QTRY_VERIFY_WITH_TIMEOUT(box->isEnabled(), 5000);
    }

    // Collecting two files, then what a finished upload shows and copies.
    void outcome()
    {
        const QString copied = QStringLiteral("完了: URLをコピーしました");
        const QList<std::tuple<int, QByteArray, QString, QString>> rows = {
            {200, "{\"success\":true,\"download_url\":\"https://s/d\"}", copied, "https://s/d"},
            {201, "{\"success\":true}", "アップロード成功", "before"},
            {500, "<html>oops</html>", "失敗: HTTP ステータスコードエラー: 500", "before"},
        };
        for (const auto &[status, reply, message, clipboard] : rows) {
            QGuiApplication::clipboard()->setText(QStringLiteral("before"));
            auto panel = makePanel({sourceFile("a.txt"), sourceFile("b/a.txt")});
            // Nothing can be uploaded while the files are being collected.
            QCOMPARE(info(panel.get()), QStringLiteral("ファイル取得中..."));
            QVERIFY(!child(panel.get(), "uploadButton")->isEnabled());
            QTRY_COMPARE_WITH_TIMEOUT(info(panel.get()), QStringLiteral("選択されたファイル数: 2"), 5000);
            server->enqueue(TestHttpServer::json(status, reply));
            QSignalSpy completed(panel.get(), &ShareViewController::requestCompleted);
            child(panel.get(), "uploadButton")->click();
            QTRY_COMPARE_WITH_TIMEOUT(info(panel.get()), message, 5000);
            QCOMPARE(QGuiApplication::clipboard()->text(), clipboard);
            QVERIFY(completed.wait(2000));
        }
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
        child(panel.get(), "uploadButton")->click();
        child(panel.get(), "cancelButton")->click();
        QCOMPARE(cancelled.size(), 1);
        QVERIFY(settled.isEmpty());
        QVERIFY(settled.wait(5000));
        QVERIFY(server->waitForRequests(1, 1s));
        QVERIFY(server->requests().at(0).complete);
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("before"));
        QCOMPARE(info(panel.get()), QStringLiteral("アップロード中..."));
        QTest::qWait(1000);
        QVERIFY(completed.isEmpty());
    }
};

QTEST_MAIN(TestSharePanel)
#include "TestSharePanel.moc"
