// The shell offscreen, through its delegate: uploads through the real
// uploader and a real HTTP server with what the drop zone, the history, the
// clipboard and the alerts see and in which order, and the password each
// origin sends; the windows
// and the tray icon with its autostart menu; drags and the drop that follows
// the button release; the Home tab's file chooser.
#include "AutostartEntry.h"
#include "DragWatcher.h"
#include "DropZonePresenter.h"
#include "DropZoneView.h"
#include "DropZoneWindow.h"
#include "FileChooser.h"
#include "ShellFixture.h"
#include "TestFiles.h"
#include "UploadOrchestrator.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
#include <QMenu>
#include <QMimeData>
#include <QQuickView>
#include <QSettings>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QtTest>

using namespace std::chrono_literals;
using Origin = UploadOrchestrator::Origin;
using Policy = AppDelegate::ActivationPolicy;
Q_DECLARE_METATYPE(TestHttpServer::Reply)
Q_DECLARE_METATYPE(Origin)
Q_DECLARE_METATYPE(Policy)
Q_DECLARE_METATYPE(std::optional<QString>)

namespace {

const QString copied = QStringLiteral("共有URLをクリップボードにコピーしました");
const QString shareUrl = QStringLiteral("https://share.example.test/s/Ab3");
const QByteArray withUrl = R"({"success":true,"url":"https://share.example.test/s/Ab3"})";
const QString before = QStringLiteral("something the user copied");

QByteArray passwordPart(const QByteArray &body)
{
    const QByteArray marker = "Content-Disposition: form-data; name=\"password\"\r\n\r\n";
    const qsizetype at = body.indexOf(marker);
    return at < 0 ? QByteArray() : body.mid(at + marker.size()).split('\r').first();
}

} // namespace

class TestShellGui : public QObject
{
    Q_OBJECT
    std::unique_ptr<ShellFixture> f;

    QString autostartPath() const
    {
        return f->dir.filePath(QStringLiteral("config/autostart/") + AutostartEntry::fileName);
    }

private slots:
    void init()
    {
        f = std::make_unique<ShellFixture>();
        QVERIFY(f->dir.isValid());
        qputenv("XDG_CONFIG_HOME", f->dir.filePath(QStringLiteral("config")).toLocal8Bit());
        QGuiApplication::clipboard()->setText(before);
    }
    void cleanup() { f.reset(); }

    void menuBarUpload_data()
    {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<bool>("autoCopy");
        QTest::addColumn<TestHttpServer::Reply>("reply");
        QTest::addColumn<QStringList>("sent"); // the names the server receives
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("detail"); // the drop zone's result line, the history's message
        QTest::addColumn<QString>("alert");
        QTest::addColumn<QString>("url"); // in the history
        QTest::addColumn<QString>("clipboard");

        const QString done = QStringLiteral("アップロード完了");
        const QString failed = QStringLiteral("アップロード失敗");
        const QString issued = QStringLiteral("共有URLを発行しました");
        const QStringList notes{"notes.txt"};
        QTest::newRow("url, copied")
            << QStringList{"notes.txt", "photo.jpg"} << true << TestHttpServer::json(200, withUrl)
            << QStringList{"notes.txt", "photo.jpg"} << done << copied
            << copied + "。\n" + shareUrl << shareUrl << shareUrl;
        QTest::newRow("url, automatic copy off")
            << notes << false << TestHttpServer::json(200, withUrl) << notes << done << issued
            << issued + "。\n" + shareUrl << shareUrl << before;
        const QString says = QStringLiteral("容量が足りません");
        QTest::newRow("server error")
            << notes << true
            << TestHttpServer::json(200, R"({"success":false,"error":"容量が足りません"})")
            << notes << failed << says << says << QString() << before;
        // Screened out before anything is sent; reported like any other failure.
        const QString blocked = QStringLiteral("これらのファイルはアップロードできません: Foo.app");
        QTest::newRow("blocked only")
            << QStringList{"Foo.app"} << true << TestHttpServer::json(200, withUrl)
            << QStringList{} << failed << blocked << blocked << QString() << before;
        // The blocked file is not sent, but the history names every file offered.
        QTest::newRow("blocked and allowed")
            << QStringList{"Foo.app", "notes.txt"} << true << TestHttpServer::json(200, withUrl)
            << notes << done << copied << copied + "。\n" + shareUrl << shareUrl << shareUrl;
    }

    void menuBarUpload()
    {
        QFETCH(QStringList, files);
        QFETCH(QStringList, sent);
        QFETCH(QString, title);
        QFETCH(QString, detail);
        QFETCH(QString, alert);
        QFETCH(QString, url);
        QFETCH(bool, autoCopy);
        QFETCH(TestHttpServer::Reply, reply);
        f->model->setAutoCopyToClipboard(autoCopy);
        f->delegate->setupStatusItem();
        f->server.enqueue(reply);
        QList<QUrl> urls;
        for (const QString &name : files)
            urls.append(f->makeFile(name));
        f->delegate->uploads()->start(urls, std::nullopt, Origin::menuBar);

        // The start is announced before start() returns, and nothing else has
        // happened yet, even where the uploader failed synchronously.
        DropZoneWindow *zone = f->delegate->dropZone()->window();
        QVERIFY(f->delegate->dropZone()->uploadInProgress());
        QVERIFY(zone && zone->isVisible() && zone->dropView()->isUploading());
        QTRY_COMPARE_WITH_TIMEOUT(zone->panelSize(), DropZoneWindow::expandedSize, 2000);
        QVERIFY(f->alerts.isEmpty() && f->model->history().isEmpty());

        // When the alert comes up, the zone shows the outcome and the history holds it.
        QTRY_COMPARE_WITH_TIMEOUT(f->alerts.size(), 1, 10000);
        const ShellFixture::ShownAlert shown = f->alerts.first();
        QCOMPARE(QStringList({shown.title, shown.message, shown.zoneTitle, shown.zoneSubtitle}),
                 QStringList({title, alert, title, detail}));
        QVERIFY(shown.uploadInProgress);
        QCOMPARE(shown.historyCount, 1);
        const UploadHistoryItem entry = f->model->history().first();
        QCOMPARE(entry.fileNames, files);
        QCOMPARE(QStringList({entry.message, entry.url.value_or(QString())}), QStringList({detail, url}));
        QCOMPARE(entry.success, title != QStringLiteral("アップロード失敗"));
        QTEST(QGuiApplication::clipboard()->text(), "clipboard");
        QVERIFY(!f->model->hasHomeUploadResult());
        const QList<TestHttpServer::Request> requests = f->server.requests();
        QCOMPARE(requests.size(), sent.isEmpty() ? 0 : 1);
        for (const QString &name : files) {
            const QByteArray part = "filename=\"" + name.toUtf8() + "\"";
            QCOMPARE(!requests.isEmpty() && requests.first().body.contains(part), sent.contains(name));
        }

        // The result stays up, then the zone resets and goes; no late progress
        // report brings "アップロード中…" back in between.
        QTRY_VERIFY_WITH_TIMEOUT(!f->delegate->dropZone()->uploadInProgress(), 4000);
        QVERIFY(!zone->dropView()->isUploading());
        QTRY_VERIFY_WITH_TIMEOUT(!zone->isVisible(), 2000);
        QCOMPARE(f->alerts.size(), 1);
        QCOMPARE(f->model->history().size(), 1);
    }

    void passwordSentPerOrigin_data()
    {
        QTest::addColumn<Origin>("origin");
        QTest::addColumn<std::optional<QString>>("given");
        QTest::addColumn<QString>("defaultPassword");
        QTest::addColumn<QByteArray>("sent"); // empty: no password part
        const auto none = std::optional<QString>();
        QTest::newRow("home, trimmed")
            << Origin::home << std::optional<QString>("  秘密 \n") << "dflt" << QByteArray("秘密");
        QTest::newRow("home, only spaces: none")
            << Origin::home << std::optional<QString>("   ") << "dflt" << QByteArray();
        QTest::newRow("home, 150 characters: the first 100")
            << Origin::home << std::optional(QString(150, 'p')) << "" << QByteArray(100, 'p');
        QTest::newRow("home, absent: none, not the default") << Origin::home << none << "dflt" << QByteArray();
        QTest::newRow("menu bar: the default, trimmed")
            << Origin::menuBar << none << "  dflt  " << QByteArray("dflt");
        QTest::newRow("menu bar, no default: none") << Origin::menuBar << none << "" << QByteArray();
    }

    void passwordSentPerOrigin()
    {
        QFETCH(Origin, origin);
        QFETCH(std::optional<QString>, given);
        QFETCH(QString, defaultPassword);
        f->delegate->setupStatusItem();
        f->model->setDefaultPassword(defaultPassword);
        f->delegate->uploads()->start({f->makeFile(QStringLiteral("a.txt"))}, given, origin);
        QVERIFY(f->server.waitForRequests(1, 10s));
        QTEST(passwordPart(f->server.requests().first().body), "sent");
        QTRY_COMPARE_WITH_TIMEOUT(f->model->history().size(), 1, 10000);
        // Each origin reports where it started: the Home tab without an
        // alert or the drop zone, the menu bar with both.
        const bool home = origin == Origin::home;
        QTRY_COMPARE_WITH_TIMEOUT(f->alerts.size(), home ? 0 : 1, 5000);
        QCOMPARE(f->model->homeUploadResult().has_value(), home);
        QCOMPARE(f->delegate->dropZone()->window() != nullptr, !home);
    }

    void emptyRequests()
    {
        // Home: the failure goes to the Home tab only.
        f->delegate->setupStatusItem();
        f->delegate->uploads()->start({}, QStringLiteral("pw"), Origin::home);
        QVERIFY(f->model->homeUploadResult().has_value());
        QCOMPARE(f->model->homeUploadResult()->message, QStringLiteral("ファイルが選択されていません"));
        // Menu bar: one alert, and the drop zone is not touched.
        f->delegate->uploads()->start({}, std::nullopt, Origin::menuBar);
        QTRY_COMPARE_WITH_TIMEOUT(f->alerts.size(), 1, 2000);
        QCOMPARE(f->alerts.first().message, QStringLiteral("ファイルが選択されていません。"));
        QTest::qWait(100);
        QVERIFY(!f->delegate->dropZone()->window());
        QVERIFY(f->model->history().isEmpty());
        QCOMPARE(f->server.requestCount(), 0);
        QCOMPARE(f->alerts.size(), 1);
    }

    void activationPolicy_data()
    {
        QTest::addColumn<bool>("iconAtLaunch");
        QTest::addColumn<bool>("closeWindow");
        QTest::addColumn<int>("switchIconTo"); // -1: leave
        QTest::addColumn<Policy>("expected");
        QTest::newRow("icon on, window open") << true << false << -1 << Policy::regular;
        QTest::newRow("icon off, window open") << false << false << -1 << Policy::regular;
        QTest::newRow("icon on, window closed") << true << true << -1 << Policy::accessory;
        QTest::newRow("icon off, window closed") << false << true << -1 << Policy::regular;
        QTest::newRow("switched off while closed") << true << true << 0 << Policy::regular;
        QTest::newRow("switched on while closed") << false << true << 1 << Policy::accessory;
        QTest::newRow("switched on while open") << false << false << 1 << Policy::regular;
        QTest::newRow("switched off while open") << true << false << 0 << Policy::regular;
    }

    void activationPolicy()
    {
        QFETCH(bool, iconAtLaunch);
        QFETCH(bool, closeWindow);
        QFETCH(int, switchIconTo);
        f->launch(iconAtLaunch);
        // The application always starts with its window in front.
        QVERIFY(f->delegate->mainWindow()->isVisible());
        QCOMPARE(f->delegate->activationPolicy(), Policy::regular);
        QCOMPARE(f->delegate->statusItem() != nullptr, iconAtLaunch);
        if (closeWindow) {
            f->delegate->mainWindow()->view()->close();
            // Closing only hides: the window is kept for the next time.
            QVERIFY(f->delegate->mainWindow() && !f->delegate->mainWindow()->isVisible());
        }
        if (switchIconTo >= 0) {
            f->model->setShowsMenuBarIcon(switchIconTo == 1);
            QCOMPARE(f->delegate->statusItem() != nullptr, switchIconTo == 1);
        }
        QTEST(f->delegate->activationPolicy(), "expected");
        // The application does not end with its last window.
        QVERIFY(!QGuiApplication::quitOnLastWindowClosed() || !closeWindow);
    }

    void trayClickAndReopenShowTheSameWindow()
    {
        f->launch();
        MainWindow *window = f->delegate->mainWindow();
        for (bool viaTray : {true, false}) {
            window->view()->close();
            QCOMPARE(f->delegate->activationPolicy(), Policy::accessory);
            if (viaTray)
                emit f->delegate->statusItem()->clicked();
            else
                f->delegate->applicationShouldHandleReopen();
            QVERIFY(window->isVisible());
            QCOMPARE(f->delegate->mainWindow(), window);
            QCOMPARE(f->delegate->activationPolicy(), Policy::regular);
        }
    }

    void mainWindowGeometryIsKept()
    {
        f->launch();
        f->model->addHistory({QStringLiteral("a.txt")}, QStringLiteral("u"), true, QStringLiteral("m"));
        const QRect moved(40, 50, 900, 640);
        f->delegate->mainWindow()->view()->setGeometry(moved);
        f->delegate->mainWindow()->view()->close();
        // Stored beside the settings, without disturbing them, and private.
        const QString path = f->model->settingsFilePath();
        QCOMPARE(QSettings(path, QSettings::IniFormat).value(QStringLiteral("PelkinDropMainWindow")).toRect(), moved);
        QCOMPARE(AppModel(path).history().size(), 1);
        QCOMPARE(QFile::permissions(path) & (QFile::ReadGroup | QFile::ReadOther), QFile::Permissions());
        // A new run on the same store puts the window back where it was.
        f->restart();
        f->delegate->applicationDidFinishLaunching();
        QCOMPARE(f->delegate->mainWindow()->view()->geometry(), moved);
    }

    void switchingTheIconOffWhileUploadingHidesAtOnce()
    {
        f->launch();
        TestHttpServer::Reply slow = TestHttpServer::json(200, withUrl);
        slow.delay = 800ms;
        f->server.enqueue(slow);
        f->delegate->uploads()->start({f->makeFile(QStringLiteral("a.txt"))}, std::nullopt, Origin::menuBar);
        DropZoneWindow *zone = f->delegate->dropZone()->window();
        QVERIFY(zone->isVisible());
        f->model->setShowsMenuBarIcon(false);
        QVERIFY(!zone->isVisible()); // at once, not after a fade
        // The upload still runs to its end; the zone does not come back.
        QTRY_COMPARE_WITH_TIMEOUT(f->alerts.size(), 1, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(!f->delegate->dropZone()->uploadInProgress(), 4000);
        QVERIFY(!zone->isVisible());
    }

    void dragTypesDecide_data()
    {
        QTest::addColumn<QStringList>("types");
        QTest::addColumn<bool>("shows");
        QTest::newRow("files") << QStringList{"text/uri-list"} << true;
        QTest::newRow("promised file") << QStringList{"XdndDirectSave0"} << true;
        QTest::newRow("older file list") << QStringList{"x-special/gnome-icon-list"} << true;
        // The source reports text/uri-list only when it holds a file, so a web
        // link arrives as its other types.
        QTest::newRow("web link") << QStringList{"text/x-moz-url", "text/plain"} << false;
        QTest::newRow("similar name") << QStringList{"text/uri-list;charset=utf-8"} << false;
    }

    void dragTypesDecide()
    {
        QFETCH(QStringList, types);
        QTEST(DragWatcher::shouldReactToDrag(types), "shows");
    }

    void dragEndWaitsForTheDrop_data()
    {
        QTest::addColumn<bool>("dropArrives");
        QTest::newRow("drop follows the release") << true;
        QTest::newRow("no drop follows") << false;
    }

    void dragEndWaitsForTheDrop()
    {
        QFETCH(bool, dropArrives);
        f->launch();
        f->drags->startDrag({QStringLiteral("text/uri-list")});
        QTRY_VERIFY_WITH_TIMEOUT(f->zoneVisible(), 500);
        QVERIFY(f->delegate->statusItem()->isHighlighted());
        DropZoneWindow *zone = f->delegate->dropZone()->window();
        QMimeData mime;
        mime.setUrls({f->makeFile(QStringLiteral("dropped.txt"))});
        QVERIFY(zone->dropView()->draggingEntered(&mime));

        // The release comes first, as on X11.
        f->drags->releaseButton();
        QTRY_VERIFY_WITH_TIMEOUT(f->delegate->drags()->isWaitingForDrop(), 500);
        QVERIFY(zone->isVisible());
        if (dropArrives) {
            QTest::qWait(3);
            QVERIFY(zone->dropView()->performDragOperation(&mime));
            QVERIFY(!f->delegate->drags()->isWaitingForDrop());
            // The zone never went away: it is now showing the upload.
            QVERIFY(zone->isVisible() && f->delegate->dropZone()->uploadInProgress());
            QTRY_COMPARE_WITH_TIMEOUT(f->alerts.size(), 1, 10000);
        } else {
            QTest::qWait(DragWatcher::dropWaitMs - 150);
            QVERIFY(zone->isVisible());
            QTRY_VERIFY_WITH_TIMEOUT(!zone->isVisible(), 1000);
            QVERIFY(!f->delegate->drags()->isWaitingForDrop() && !zone->dropView()->isHighlighted());
            QCOMPARE(f->server.requestCount(), 0);
        }
        QTRY_VERIFY_WITH_TIMEOUT(!zone->isVisible(), 4000);
        QVERIFY(!f->delegate->statusItem()->isHighlighted());
    }

    void progressBringsBackAHiddenZone()
    {
        f->launch();
        DropZonePresenter *presenter = f->delegate->dropZone();
        presenter->showUploadStarted();
        DropZoneWindow *zone = presenter->window();
        // A drag end does not remove the zone during an upload; only force does.
        presenter->hideUnlessUploading();
        QVERIFY(zone->isVisible());
        presenter->hideNow();
        QVERIFY(!zone->isVisible());
        presenter->showUploadProgress(0.5);
        QVERIFY(zone->isVisible());
        QCOMPARE(zone->dropView()->currentProgress(), 0.5);
    }

    void autostartMenuActionWritesAndRemovesTheEntry()
    {
        StatusItem item;
        QAction *action = item.trayIcon()->contextMenu()->findChild<QAction *>(QStringLiteral("autostartAction"));
        QVERIFY(action && !action->isChecked());
        action->trigger();
        QVERIFY(action->isChecked());
        QFile file(autostartPath());
        QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(autostartPath()));
        const QString text = QString::fromUtf8(file.readAll());
        // This test binary is not on PATH, so the entry names it by its full path.
        QVERIFY2(text.startsWith(QStringLiteral("[Desktop Entry]\n")) &&
                     text.contains("\nExec=" + QCoreApplication::applicationFilePath() + " --background\n"),
                 qPrintable(text));
        action->trigger();
        QVERIFY(!action->isChecked());
        QVERIFY(!QFile::exists(autostartPath()));
        // Turning it off when the file is already gone is no error.
        QVERIFY(AutostartEntry().setEnabled(false));
    }

    void autostartMenuShowsTheEntryAsItIs_data()
    {
        QTest::addColumn<QByteArray>("content"); // empty: no file
        QTest::addColumn<bool>("checked");
        const QByteArray entry = "[Desktop Entry]\nType=Application\nExec=pelkin-drop --background\n";
        QTest::newRow("no entry") << QByteArray() << false;
        QTest::newRow("entry") << entry << true;
        QTest::newRow("hidden by the session settings") << entry + "Hidden=true\n" << false;
        QTest::newRow("turned off in GNOME") << entry + "X-GNOME-Autostart-enabled=false\n" << false;
    }

    void autostartMenuShowsTheEntryAsItIs()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, checked);
        StatusItem item;
        // Written behind the menu's back, after the item was made.
        item.autostartAction()->setChecked(!checked);
        if (!content.isEmpty())
            QVERIFY(!TestFiles::write(QFileInfo(autostartPath()).path(), AutostartEntry::fileName, content).isEmpty());
        QMenu *menu = item.trayIcon()->contextMenu();
        menu->popup(QPoint(10, 10));
        QTRY_VERIFY_WITH_TIMEOUT(menu->isVisible(), 2000);
        QCOMPARE(item.autostartAction()->isChecked(), checked);
        menu->hide();
    }

    void autostartFailureIsReported()
    {
        // A file where the autostart folder should be.
        QVERIFY(!TestFiles::write(f->dir.filePath(QStringLiteral("config")), QStringLiteral("autostart")).isEmpty());
        StatusItem item;
        QSignalSpy failures(&item, &StatusItem::autostartFailed);
        item.autostartAction()->trigger();
        QCOMPARE(failures.count(), 1);
        QVERIFY(failures.first().first().toString().contains(QStringLiteral("できませんでした")));
        QVERIFY(!item.autostartAction()->isChecked());
    }

    void autostartExecLineQuotes_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("exec");
        QTest::newRow("space") << "/opt/Pelkin Drop/pelkin-drop" << "\"/opt/Pelkin Drop/pelkin-drop\" --background";
        // "\$" quoted, then each backslash doubled by the key-file escaping.
        QTest::newRow("dollar") << "/opt/a$b/pelkin-drop" << "\"/opt/a\\\\$b/pelkin-drop\" --background";
        QTest::newRow("percent") << "/opt/100%/pelkin-drop" << "/opt/100%%/pelkin-drop --background";
    }

    void autostartExecLineQuotes()
    {
        QFETCH(QString, program);
        QTEST(AutostartEntry::execLine(program), "exec");
    }

    void trayIconFollowsTheAppearance()
    {
        // No portal on this bus-less platform: the palette tells the appearance.
        const QPalette original = QGuiApplication::palette();
        StatusItem item;
        QPalette dark = original;
        dark.setColor(QPalette::Window, QColor(0x20, 0x20, 0x20));
        QGuiApplication::setPalette(dark);
        QTRY_VERIFY_WITH_TIMEOUT(item.iconPath().endsWith(QLatin1String("Dark.png")), 2000);
        const qint64 darkIcon = item.trayIcon()->icon().cacheKey();
        QGuiApplication::setPalette(original);
        QTRY_VERIFY_WITH_TIMEOUT(!item.iconPath().endsWith(QLatin1String("Dark.png")), 2000);
        QVERIFY(item.trayIcon()->icon().cacheKey() != darkIcon);
    }

    void fileChoiceReachesTheModel()
    {
        f->makeFile(QStringLiteral("one.txt"));
        f->makeFile(QStringLiteral("two.txt"));
        FileChooser chooser(f->model.get());
        f->model->onChooseFiles = [&chooser] { chooser.open(); };
        f->model->chooseFiles();
        QPointer<QFileDialog> dialog = chooser.dialog();
        QTRY_VERIFY_WITH_TIMEOUT(dialog && dialog->isVisible(), 2000);
        QCOMPARE(dialog->fileMode(), QFileDialog::ExistingFiles);
        f->model->chooseFiles(); // raises the open one
        QCOMPARE(chooser.dialog(), dialog.data());
        dialog->setDirectory(f->dir.path());
        dialog->selectFile(QStringLiteral("\"one.txt\" \"two.txt\""));
        QMetaObject::invokeMethod(dialog, "accept");
        QTRY_COMPARE_WITH_TIMEOUT(f->model->selectedURLs().size(), 2, 2000);
        QStringList names{f->model->selectedURLs().at(0).fileName(), f->model->selectedURLs().at(1).fileName()};
        names.sort();
        QCOMPARE(names, (QStringList{"one.txt", "two.txt"}));
        f->model->onChooseFiles = nullptr;
    }

    void fileChooserOutlivesItsModel()
    {
        f->makeFile(QStringLiteral("one.txt"));
        auto chooser = std::make_unique<FileChooser>(f->model.get());
        f->model->onChooseFiles = [&chooser] { chooser->open(); };
        f->model->chooseFiles();
        QPointer<QFileDialog> dialog = chooser->dialog();
        QVERIFY(dialog);
        dialog->setDirectory(f->dir.path());
        dialog->selectFile(QStringLiteral("one.txt"));
        // Accepted, and the model gone before the queued choice arrives.
        QMetaObject::invokeMethod(dialog, "accept");
        chooser.reset();
        QVERIFY(dialog.isNull());
        f.reset();
        QTest::qWait(50);
    }
};

// The file dialog keeps state in the user's configuration: a home of its own
// before Qt starts.
int main(int argc, char **argv)
{
    QTemporaryDir home;
    qputenv("HOME", home.path().toLocal8Bit());
    QApplication app(argc, argv);
    TestShellGui test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_ShellGui.moc"
