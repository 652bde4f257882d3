// The shell's windows and tray: the activation-policy table, the tray icon
// following its setting, the drop zone following drags, and the wait for a
// drop that the X11 button release announces a moment early.
#include "AlertPresenter.h"
#include "AppDelegate.h"
#include "AppModel.h"
#include "DragEventSource.h"
#include "DragWatcher.h"
#include "DropZonePresenter.h"
#include "DropZoneView.h"
#include "DropZoneWindow.h"
#include "MainWindow.h"
#include "PelkinUploader.h"
#include "StatusItem.h"
#include "TestHttpServer.h"
#include "UploadOrchestrator.h"

#include <QMimeData>
#include <QQuickView>
#include <QSettings>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QtTest>

using namespace std::chrono_literals;
using Policy = AppDelegate::ActivationPolicy;
Q_DECLARE_METATYPE(AppDelegate::ActivationPolicy)

namespace {

// Plays the desktop's drag pasteboard: a test starts and ends drags by hand.
class ScriptedDragSource : public DragEventSource
{
public:
    bool hasDragPasteboard() const override { return true; }
    qint64 changeCount() const override { return m_count; }
    void startDrag(const QStringList &types) { emit pasteboardChanged(++m_count, types); }
    void releaseButton() { emit released(m_count, 0); }

private:
    qint64 m_count = 1;
};

class SilentAlerts : public AlertPresenter
{
public:
    QStringList titles;
    void showAlert(const QString &title, const QString &) override { titles.append(title); }
};

} // namespace

class TestShellPresentation : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void activationPolicyTable_data();
    void activationPolicyTable();
    void trayClickAndReopenShowTheSameWindow();
    void mainWindowGeometryIsKept();
    void trayIconFollowsItsSetting();
    void switchingTheIconOffWhileUploadingHidesAtOnce();
    void dragTypesDecideTheZone_data();
    void dragTypesDecideTheZone();
    void dragEndWaitsForTheDrop_data();
    void dragEndWaitsForTheDrop();
    void progressBringsBackAHiddenZone();

private:
    void launch(bool iconOn);
    QMimeData *fileDrag();

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<TestHttpServer> m_server;
    std::unique_ptr<AppModel> m_model;
    std::unique_ptr<AppDelegate> m_delegate;
    std::shared_ptr<ScriptedDragSource> m_drags;
    SilentAlerts *m_alerts = nullptr;
};

void TestShellPresentation::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_server = std::make_unique<TestHttpServer>();
    m_model = std::make_unique<AppModel>(m_dir->filePath(QStringLiteral("settings.ini")));
    m_drags = std::make_shared<ScriptedDragSource>();
    auto alerts = std::make_unique<SilentAlerts>();
    m_alerts = alerts.get();
    AppDelegate::Parts parts;
    parts.model = m_model.get();
    parts.uploader = std::make_unique<PelkinUploader>(m_server->url(), 10s);
    parts.alerts = std::move(alerts);
    parts.dragSource = m_drags;
    m_delegate = std::make_unique<AppDelegate>(std::move(parts));
}

void TestShellPresentation::cleanup()
{
    m_delegate.reset();
    m_model.reset();
    m_server.reset();
    m_dir.reset();
}

void TestShellPresentation::launch(bool iconOn)
{
    m_model->setShowsMenuBarIcon(iconOn);
    m_delegate->applicationDidFinishLaunching();
}

QMimeData *TestShellPresentation::fileDrag()
{
    const QString path = m_dir->filePath(QStringLiteral("dropped.txt"));
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write("dropped\n");
    auto *mime = new QMimeData;
    mime->setUrls({QUrl::fromLocalFile(path)});
    return mime;
}

void TestShellPresentation::activationPolicyTable_data()
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

void TestShellPresentation::activationPolicyTable()
{
    QFETCH(bool, iconAtLaunch);
    QFETCH(bool, closeWindow);
    QFETCH(int, switchIconTo);
    QFETCH(Policy, expected);

    launch(iconAtLaunch);
    // The application always starts with its window in front.
    QVERIFY(m_delegate->mainWindow());
    QVERIFY(m_delegate->mainWindow()->isVisible());
    QCOMPARE(m_delegate->activationPolicy(), Policy::regular);
    QCOMPARE(m_delegate->statusItem() != nullptr, iconAtLaunch);

    if (closeWindow) {
        m_delegate->mainWindow()->view()->close();
        // Closing only hides: the window is kept for the next time.
        QVERIFY(m_delegate->mainWindow());
        QVERIFY(!m_delegate->mainWindow()->isVisible());
    }
    if (switchIconTo >= 0) {
        m_model->setShowsMenuBarIcon(switchIconTo == 1);
        QCOMPARE(m_delegate->statusItem() != nullptr, switchIconTo == 1);
    }
    QCOMPARE(m_delegate->activationPolicy(), expected);
    // The application does not end with its last window.
    QVERIFY(!QGuiApplication::quitOnLastWindowClosed() || !closeWindow);
}

void TestShellPresentation::trayClickAndReopenShowTheSameWindow()
{
    launch(true);
    MainWindow *window = m_delegate->mainWindow();
    QQuickView *view = window->view();
    QCOMPARE(view->title(), QStringLiteral("Pelkin Drop"));
    QCOMPARE(view->minimumSize(), QSize(760, 520));
    QCOMPARE(view->size(), QSize(860, 600));
    QVERIFY(view->rootObject());

    view->close();
    QCOMPARE(m_delegate->activationPolicy(), Policy::accessory);
    emit m_delegate->statusItem()->clicked();
    QVERIFY(window->isVisible());
    QCOMPARE(m_delegate->mainWindow(), window);
    QCOMPARE(m_delegate->activationPolicy(), Policy::regular);

    view->close();
    m_delegate->applicationShouldHandleReopen();
    QVERIFY(window->isVisible());
    QCOMPARE(m_delegate->mainWindow(), window);
    QCOMPARE(m_delegate->activationPolicy(), Policy::regular);
}

void TestShellPresentation::mainWindowGeometryIsKept()
{
    launch(true);
    m_model->setDefaultPassword(QStringLiteral("secret"));
    m_model->addHistory({QStringLiteral("a.txt")}, QStringLiteral("u"), true, QStringLiteral("m"));
    QQuickView *view = m_delegate->mainWindow()->view();
    const QRect moved(40, 50, 900, 640);
    view->setGeometry(moved);
    view->close();
    // Stored beside the settings, without disturbing them.
    QSettings store(m_model->settingsFilePath(), QSettings::IniFormat);
    QCOMPARE(store.value(QStringLiteral("PelkinDropMainWindow")).toRect(), moved);
    QCOMPARE(AppModel(m_model->settingsFilePath()).history().size(), 1);
    const QFile::Permissions others =
        QFile::ReadGroup | QFile::WriteGroup | QFile::ReadOther | QFile::WriteOther;
    QCOMPARE(QFile::permissions(m_model->settingsFilePath()) & others, QFile::Permissions());

    // A new run on the same store puts the window back where it was.
    m_delegate.reset();
    AppDelegate::Parts parts;
    parts.model = m_model.get();
    parts.uploader = std::make_unique<PelkinUploader>(m_server->url(), 10s);
    parts.alerts = std::make_unique<SilentAlerts>();
    parts.dragSource = m_drags;
    m_delegate = std::make_unique<AppDelegate>(std::move(parts));
    m_delegate->applicationDidFinishLaunching();
    QCOMPARE(m_delegate->mainWindow()->view()->geometry(), moved);
}

void TestShellPresentation::trayIconFollowsItsSetting()
{
    launch(true);
    QPointer<StatusItem> first = m_delegate->statusItem();
    QVERIFY(first);
    QVERIFY(!first->trayIcon()->icon().isNull()); // the character artwork is built in
    m_model->setShowsMenuBarIcon(false);
    QVERIFY(!first);
    QVERIFY(!m_delegate->statusItem());
    m_model->setShowsMenuBarIcon(true);
    QVERIFY(m_delegate->statusItem());
    // Setting it on again keeps the one icon.
    QPointer<StatusItem> second = m_delegate->statusItem();
    m_model->setShowsMenuBarIcon(true);
    QCOMPARE(m_delegate->statusItem(), second.data());
}

void TestShellPresentation::switchingTheIconOffWhileUploadingHidesAtOnce()
{
    launch(true);
    TestHttpServer::Reply slow = TestHttpServer::json(200, R"({"success":true,"url":"u"})");
    slow.delay = 800ms;
    m_server->enqueue(slow);
    QScopedPointer<QMimeData> mime(fileDrag());
    m_delegate->uploads()->start(mime->urls(), std::nullopt, UploadOrchestrator::Origin::menuBar);
    DropZoneWindow *zone = m_delegate->dropZone()->window();
    QVERIFY(zone->isVisible());

    m_model->setShowsMenuBarIcon(false);
    QVERIFY(!zone->isVisible()); // at once, not after a fade
    QVERIFY(!m_delegate->statusItem());
    // The upload still runs to its end; the zone does not come back.
    QTRY_COMPARE_WITH_TIMEOUT(m_alerts->titles.size(), 1, 10000);
    QCOMPARE(m_alerts->titles.first(), QStringLiteral("アップロード完了"));
    QVERIFY(!zone->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(!m_delegate->dropZone()->uploadInProgress(), 4000);
    QVERIFY(!zone->isVisible());
}

void TestShellPresentation::dragTypesDecideTheZone_data()
{
    QTest::addColumn<QStringList>("types");
    QTest::addColumn<bool>("shows");
    QTest::newRow("files (Qt source)")
        << QStringList{"text/uri-list", "text/x-moz-url", "text/plain"} << true;
    QTest::newRow("files (GTK source)") << QStringList{"text/uri-list"} << true;
    QTest::newRow("promised file") << QStringList{"XdndDirectSave0"} << true;
    QTest::newRow("older file list") << QStringList{"x-special/gnome-icon-list"} << true;
    QTest::newRow("plain text") << QStringList{"text/plain", "UTF8_STRING", "STRING", "TEXT"}
                                << false;
    // The source reports text/uri-list only when it holds a file, so a web
    // link arrives as its other types.
    QTest::newRow("web link") << QStringList{"text/x-moz-url", "text/plain"} << false;
    QTest::newRow("similar name") << QStringList{"text/uri-list;charset=utf-8"} << false;
}

void TestShellPresentation::dragTypesDecideTheZone()
{
    QFETCH(QStringList, types);
    QFETCH(bool, shows);
    QCOMPARE(DragWatcher::shouldReactToDrag(types), shows);

    launch(true);
    m_drags->startDrag(types);
    if (shows) {
        // The monitor polls every 0.18 s: the zone is up within half a second.
        QTRY_VERIFY_WITH_TIMEOUT(
            m_delegate->dropZone()->window() && m_delegate->dropZone()->window()->isVisible(), 500);
        QVERIFY(m_delegate->statusItem()->isHighlighted());
        const QRect panel = m_delegate->dropZone()->window()->panelGeometry();
        QCOMPARE(panel.size(), DropZoneWindow::compactSize);
        // No tray on this platform: under the top-right corner of the screen.
        const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
        QCOMPARE(panel.right(), area.right() - 12);
        QCOMPARE(panel.top(), area.top() + 24 - 4);
    } else {
        QTest::qWait(500);
        QVERIFY(!m_delegate->dropZone()->window() || !m_delegate->dropZone()->window()->isVisible());
    }
    m_drags->releaseButton();
    // No compositor offscreen: the zone goes at once; the highlight goes too.
    QTRY_VERIFY_WITH_TIMEOUT(!m_delegate->statusItem()->isHighlighted(), 500);
    QTRY_VERIFY_WITH_TIMEOUT(
        !m_delegate->dropZone()->window() || !m_delegate->dropZone()->window()->isVisible(), 500);
}

void TestShellPresentation::dragEndWaitsForTheDrop_data()
{
    QTest::addColumn<bool>("dropArrives");
    QTest::newRow("drop follows the release") << true;
    QTest::newRow("no drop follows") << false;
}

void TestShellPresentation::dragEndWaitsForTheDrop()
{
    QFETCH(bool, dropArrives);
    launch(true);
    m_drags->startDrag({QStringLiteral("text/uri-list")});
    QTRY_VERIFY_WITH_TIMEOUT(
        m_delegate->dropZone()->window() && m_delegate->dropZone()->window()->isVisible(), 500);
    DropZoneWindow *zone = m_delegate->dropZone()->window();
    QScopedPointer<QMimeData> mime(fileDrag());
    QVERIFY(zone->dropView()->draggingEntered(mime.data()));
    QVERIFY(zone->dropView()->isDragHovering());

    // The release comes first, as on X11.
    m_drags->releaseButton();
    QTRY_VERIFY_WITH_TIMEOUT(m_delegate->drags()->isWaitingForDrop(), 500);
    QVERIFY(zone->isVisible());
    if (dropArrives) {
        QTest::qWait(3);
        QVERIFY(zone->dropView()->performDragOperation(mime.data()));
        QVERIFY(!m_delegate->drags()->isWaitingForDrop());
        // The zone never went away: it is now showing the upload.
        QVERIFY(zone->isVisible());
        QVERIFY(m_delegate->dropZone()->uploadInProgress());
        QTRY_COMPARE_WITH_TIMEOUT(m_alerts->titles.size(), 1, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(!zone->isVisible(), 4000);
    } else {
        QTest::qWait(DragWatcher::dropWaitMs - 150);
        QVERIFY(zone->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(!zone->isVisible(), 1000);
        QVERIFY(!m_delegate->drags()->isWaitingForDrop());
        QVERIFY(!zone->dropView()->isHighlighted());
        QCOMPARE(m_server->requestCount(), 0);
    }
}

void TestShellPresentation::progressBringsBackAHiddenZone()
{
    launch(true);
    m_delegate->dropZone()->showUploadStarted();
    DropZoneWindow *zone = m_delegate->dropZone()->window();
    QVERIFY(zone->isVisible());
    // A drag end does not remove the zone during an upload; only force does.
    m_delegate->dropZone()->hideUnlessUploading();
    QVERIFY(zone->isVisible());
    m_delegate->dropZone()->hideNow();
    QVERIFY(!zone->isVisible());
    m_delegate->dropZone()->showUploadProgress(0.5);
    QVERIFY(zone->isVisible());
    QCOMPARE(zone->dropView()->currentProgress(), 0.5);
    // Finishing clears the flag even without a window in the uploading state.
    m_delegate->dropZone()->showUploadFinished(QStringLiteral("アップロード完了"), QStringLiteral("x"),
                                       true);
    QTRY_VERIFY_WITH_TIMEOUT(!m_delegate->dropZone()->uploadInProgress(), 3000);
    QTRY_VERIFY_WITH_TIMEOUT(!zone->isVisible(), 2000);
}

QTEST_MAIN(TestShellPresentation)
#include "tst_ShellPresentation.moc"
