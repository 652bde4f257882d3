// The shell offscreen, through its delegate: uploads as each part shows them, the
// password per origin, the main window, the drop after the release, autostart.
#include "AutostartEntry.h"
#include "DragWatcher.h"
#include "FileChooser.h"
#include "ShellFixture.h"
#include "UploadOrchestrator.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QMimeData>
#include <QSystemTrayIcon>
#include <QtTest>

using namespace std::chrono_literals;
using Origin = UploadOrchestrator::Origin;

namespace {

const QString shareUrl = QStringLiteral("https://share.example.test/s/Ab3");
const QString before = QStringLiteral("something the user copied");

// A menu-bar upload: what is offered, what the server answers, what the user sees.
struct Upload
{
    QStringList files;
    bool autoCopy;
    QByteArray reply;
    QStringList sent; // the names the server receives
    bool success;
    QString detail; // the drop zone's result line, the history's message
    QString alert;
    QString clipboard;
};

} // namespace

Q_DECLARE_METATYPE(Upload)
Q_DECLARE_METATYPE(Origin)
Q_DECLARE_METATYPE(std::optional<QString>)

class TestShellGui : public QObject
{
    Q_OBJECT
    std::unique_ptr<ShellFixture> f;

private slots:
    void init()
    {
        f = std::make_unique<ShellFixture>();
        qputenv("XDG_CONFIG_HOME", f->dir.filePath(QStringLiteral("config")).toLocal8Bit());
        QGuiApplication::clipboard()->setText(before);
    }
    void cleanup() { f.reset(); }

    void menuBarUpload_data()
    {
        QTest::addColumn<Upload>("upload");
        const QByteArray withUrl = R"({"success":true,"url":"https://share.example.test/s/Ab3"})";
        const QByteArray noRoom = R"({"success":false,"error":"容量が足りません"})";
        const QString copied = QStringLiteral("共有URLをクリップボードにコピーしました");
        const QString issued = QStringLiteral("共有URLを発行しました");
        const QString full = QStringLiteral("容量が足りません");
        const QString blocked = QStringLiteral("これらのファイルはアップロードできません: Foo.app");
        const QStringList notes{"notes.txt"};
        // The blocked file is not sent, but the history names every file offered.
        QTest::newRow("url, copied") << Upload{{"Foo.app", "notes.txt", "photo.jpg"}, true, withUrl,
                                               {"notes.txt", "photo.jpg"}, true, copied,
                                               copied + "。\n" + shareUrl, shareUrl};
        QTest::newRow("url, automatic copy off")
            << Upload{notes, false, withUrl, notes, true, issued, issued + "。\n" + shareUrl, before};
        QTest::newRow("server error")
            << Upload{notes, true, noRoom, notes, false, full, full, before};
        // Screened out before anything is sent; reported like any other failure.
        QTest::newRow("blocked only")
            << Upload{{"Foo.app"}, true, withUrl, {}, false, blocked, blocked, before};
    }

    void menuBarUpload()
    {
        QFETCH(Upload, upload);
        f->model->setAutoCopyToClipboard(upload.autoCopy);
        f->delegate->setupStatusItem();
        f->server.enqueue(TestHttpServer::json(200, upload.reply));
        QList<QUrl> urls;
        for (const QString &name : upload.files)
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
        const QString title = upload.success ? "アップロード完了" : "アップロード失敗";
        const ShellFixture::ShownAlert shown = f->alerts.first();
        QCOMPARE(QStringList({shown.title, shown.message, shown.zoneTitle, shown.zoneSubtitle}),
                 QStringList({title, upload.alert, title, upload.detail}));
        QVERIFY(shown.uploadInProgress);
        QCOMPARE(shown.historyCount, 1);
        const UploadHistoryItem entry = f->model->history().first();
        QCOMPARE(entry.fileNames, upload.files);
        QCOMPARE(entry.success, upload.success);
        QCOMPARE(QStringList({entry.message, entry.url.value_or(QString())}),
                 QStringList({upload.detail, upload.success ? shareUrl : QString()}));
        QCOMPARE(QGuiApplication::clipboard()->text(), upload.clipboard);
        const QList<TestHttpServer::Request> requests = f->server.requests();
        QCOMPARE(requests.size(), upload.sent.isEmpty() ? 0 : 1);
        for (const QString &name : upload.files)
            QCOMPARE(requests.value(0).body.contains("filename=\"" + name.toUtf8() + "\""),
                     upload.sent.contains(name));

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
        QTest::addColumn<QString>("sent"); // empty: no password part
        const std::optional<QString> none;
        const auto given = [](const QString &password) { return std::optional(password); };
        QTest::newRow("home, trimmed") << Origin::home << given("  秘密 \n") << "dflt" << "秘密";
        QTest::newRow("home, only spaces: none") << Origin::home << given("   ") << "dflt" << "";
        QTest::newRow("home, 150 characters: the first 100")
            << Origin::home << given(QString(150, 'p')) << "" << QString(100, 'p');
        QTest::newRow("home, absent: none, not the default") << Origin::home << none << "dflt" << "";
        QTest::newRow("menu bar: the default, trimmed") << Origin::menuBar << none << " dflt " << "dflt";
        QTest::newRow("menu bar, no default: none") << Origin::menuBar << none << "" << "";
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
        QFETCH(QString, sent);
        const QByteArray body = f->server.requests().first().body;
        QCOMPARE(body.contains("name=\"password\""), !sent.isEmpty());
        QCOMPARE(body.contains("\"password\"\r\n\r\n" + sent.toUtf8() + "\r\n"), !sent.isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(f->model->history().size(), 1, 10000);
        // Each origin reports where it started: the Home tab without an
        // alert or the drop zone, the menu bar with both.
        const bool home = origin == Origin::home;
        QTRY_COMPARE_WITH_TIMEOUT(f->alerts.size(), home ? 0 : 1, 5000);
        QCOMPARE(f->model->homeUploadResult().has_value(), home);
        QCOMPARE(f->delegate->dropZone()->window() != nullptr, !home);
    }

    // Closing only hides the window; the tray icon brings it back, until the
    // setting removes the icon. Its geometry is stored beside the settings, which
    // stay intact and private, and restored by the next run.
    void mainWindow()
    {
        f->delegate->applicationDidFinishLaunching();
        f->model->addHistory({QStringLiteral("a.txt")}, QStringLiteral("u"), true, QStringLiteral("m"));
        MainWindow *window = f->delegate->mainWindow();
        QVERIFY(window->isVisible());
        const QRect moved(40, 50, 900, 640);
        window->view()->setGeometry(moved);
        window->view()->close();
        QVERIFY(!window->isVisible() && !QGuiApplication::quitOnLastWindowClosed());
        emit f->delegate->statusItem()->clicked();
        QVERIFY(window->isVisible());
        QCOMPARE(f->delegate->mainWindow(), window);
        f->model->setShowsMenuBarIcon(false);
        QVERIFY(!f->delegate->statusItem());

        const QString path = f->model->settingsFilePath();
        QCOMPARE(AppModel(path).history().size(), 1);
        QCOMPARE(QFile::permissions(path) & (QFile::ReadGroup | QFile::ReadOther), QFile::Permissions());
        f->restart();
        f->delegate->applicationDidFinishLaunching();
        QCOMPARE(f->delegate->mainWindow()->view()->geometry(), moved);
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
        f->delegate->applicationDidFinishLaunching();
        DropZoneWindow *zone = f->delegate->dropZone()->window();
        f->drags->startDrag({QStringLiteral("text/uri-list")});
        QTRY_VERIFY_WITH_TIMEOUT(zone->isVisible(), 500);
        QVERIFY(f->delegate->statusItem()->isHighlighted());
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

    void autostartMenuItem_data()
    {
        QTest::addColumn<QByteArray>("entry"); // written behind the menu's back; empty: none
        QTest::addColumn<bool>("on");          // what the menu shows when it opens
        const QByteArray entry = "[Desktop Entry]\nType=Application\nExec=pelkin-drop --background\n";
        QTest::newRow("no entry") << QByteArray() << false;
        QTest::newRow("entry") << entry << true;
        QTest::newRow("hidden by the session settings") << entry + "Hidden=true\n" << false;
        QTest::newRow("turned off in GNOME") << entry + "X-GNOME-Autostart-enabled=false\n" << false;
    }

    // The menu shows the entry as it is when it opens; its action then
    // writes or removes the real file, each way once.
    void autostartMenuItem()
    {
        QFETCH(QByteArray, entry);
        QFETCH(bool, on);
        StatusItem item;
        QMenu *menu = item.trayIcon()->contextMenu();
        QAction *action = menu->findChild<QAction *>(QStringLiteral("autostartAction"));
        QVERIFY(action);
        action->setChecked(!on);
        const QString folder = f->dir.filePath(QStringLiteral("config/autostart"));
        if (!entry.isEmpty())
            QVERIFY(!TestFiles::write(folder, AutostartEntry::fileName, entry).isEmpty());
        menu->popup(QPoint(10, 10));
        QTRY_VERIFY_WITH_TIMEOUT(menu->isVisible(), 2000);
        QCOMPARE(action->isChecked(), on);
        menu->hide();
        // This test binary is not on PATH, so the entry names it by its full path.
        const QString exec = "\nExec=" + QCoreApplication::applicationFilePath() + " --background\n";
        for (int i = 0; i < 2; ++i) {
            action->trigger();
            on = !on;
            QCOMPARE(action->isChecked(), on);
            QFile file(folder + '/' + AutostartEntry::fileName);
            QCOMPARE(file.open(QIODevice::ReadOnly), on);
            const QString text = QString::fromUtf8(file.readAll());
            QVERIFY2(!on || (text.startsWith(QStringLiteral("[Desktop Entry]\n")) && text.contains(exec)),
                     qPrintable(text));
            QVERIFY2(!text.contains(QStringLiteral("Hidden=")) && !text.contains(QStringLiteral("enabled=false")),
                     qPrintable(text));
        }
        // Turning it off when the file is already gone is no error.
        QVERIFY(AutostartEntry().setEnabled(false));
    }

    // A failure to write the entry reaches the user. The Exec line: "\$" quoted,
    // then each backslash doubled by the key-file escaping.
    void autostartEntryEdges()
    {
        // A file where the autostart folder should be.
        const QString config = f->dir.filePath(QStringLiteral("config"));
        QVERIFY(!TestFiles::write(config, QStringLiteral("autostart")).isEmpty());
        f->delegate->setupStatusItem();
        QAction *action = f->delegate->statusItem()->autostartAction();
        action->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(f->alerts.size(), 1, 2000);
        QVERIFY(f->alerts.first().message.contains(QStringLiteral("できませんでした")));
        QVERIFY(!action->isChecked());
        QCOMPARE(AutostartEntry::execLine("/opt/Pelkin Drop/100%$x"),
                 QStringLiteral("\"/opt/Pelkin Drop/100%%\\\\$x\" --background"));
    }

    // A file name that looks like markup stays text in the alert.
    void alertIsPlainText()
    {
        const QString message = QStringLiteral("これらのファイルはアップロードできません: <b>x</b><img src=y>.app");
        QString seen;
        QTimer poll;
        connect(&poll, &QTimer::timeout, this, [&] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box)
                return;
            poll.stop();
            seen = box->text() + QLatin1Char('|') + box->informativeText();
            for (auto *label : box->findChildren<QLabel *>())
                if (!label->text().isEmpty() && label->textFormat() != Qt::PlainText)
                    seen.prepend(QStringLiteral("markup allowed: "));
            box->button(QMessageBox::Ok)->click();
        });
        poll.start(50);
        AlertPresenter().showAlert(QStringLiteral("アップロード完了"), message);
        QCOMPARE(seen, QStringLiteral("アップロード完了|") + message);
    }

    // No portal on this bus-less platform: the palette tells the appearance.
    void trayIconFollowsTheAppearance()
    {
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

    // A second request raises the open dialog; a choice still queued when the
    // chooser and the model are gone is dropped.
    void fileChooser()
    {
        const QUrl one = f->makeFile(QStringLiteral("one.txt"));
        auto chooser = std::make_unique<FileChooser>(f->model.get());
        f->model->onChooseFiles = [&chooser] { chooser->open(); };
        for (bool keepTheModel : {true, false}) {
            f->model->chooseFiles();
            QPointer<QFileDialog> dialog = chooser->dialog();
            QTRY_VERIFY_WITH_TIMEOUT(dialog && dialog->isVisible(), 2000);
            f->model->chooseFiles();
            QCOMPARE(chooser->dialog(), dialog.data());
            dialog->setDirectory(f->dir.path());
            dialog->selectFile(QStringLiteral("one.txt"));
            QMetaObject::invokeMethod(dialog, "accept");
            if (keepTheModel) {
                QTRY_COMPARE_WITH_TIMEOUT(f->model->selectedURLs(), QList{one}, 2000);
            } else {
                chooser.reset();
                QVERIFY(dialog.isNull());
                f.reset();
                QTest::qWait(50);
            }
        }
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
