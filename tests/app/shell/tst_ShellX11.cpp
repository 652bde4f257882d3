// The drop zone on a real X server: where it hangs with and without an
// XEmbed tray (Debian's trayer), and that it fades only while a compositor
// (xcompmgr) runs.
#include "AlertPresenter.h"
#include "AppDelegate.h"
#include "AppModel.h"
#include "DragEventSource.h"
#include "DragWatcher.h"
#include "DropZonePresenter.h"
#include "DropZoneWindow.h"
#include "PelkinUploader.h"
#include "X11Support.h"
#include "StatusItem.h"

#include <QAbstractButton>
#include <QLabel>
#include <QMessageBox>
#include <QProcess>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QtTest>

using namespace std::chrono_literals;

namespace {

class ScriptedDragSource : public DragEventSource
{
public:
    bool hasDragPasteboard() const override { return true; }
    qint64 changeCount() const override { return m_count; }
    void startDrag() { emit pasteboardChanged(++m_count, {QStringLiteral("text/uri-list")}); }
    void releaseButton() { emit released(m_count, 0); }

private:
    qint64 m_count = 1;
};

class NoAlerts : public AlertPresenter
{
public:
    void showAlert(const QString &, const QString &) override {}
};

// For a person to look at: the whole screen as the X server shows it.
void saveScreenshot(const QString &name)
{
    QTest::qWait(300); // fades and first paints
    const QString dir =
        qEnvironmentVariable("PELKIN_BINARY_DIR") + QStringLiteral("/screenshots/shell");
    QDir().mkpath(dir);
    QGuiApplication::primaryScreen()->grabWindow(0).save(dir + QLatin1Char('/') + name);
}

} // namespace

class TestShellX11 : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void zoneUnderTheFallbackAnchorWithoutTray();
    void fadesOnlyWithACompositor_data();
    void fadesOnlyWithACompositor();
    void alertIsAModalInformationBox_data();
    void alertIsAModalInformationBox();
    void zoneUnderTheXEmbedTrayIcon();

private:
    void launch();
    void startHelper(const QString &program, const QStringList &arguments);
    void showZoneByDrag();

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<AppModel> m_model;
    std::unique_ptr<AppDelegate> m_delegate;
    std::shared_ptr<ScriptedDragSource> m_drags;
    std::vector<std::unique_ptr<QProcess>> m_helpers;
};

void TestShellX11::init()
{
    QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
    m_dir = std::make_unique<QTemporaryDir>();
    m_model = std::make_unique<AppModel>(m_dir->filePath(QStringLiteral("settings.ini")));
    m_drags = std::make_shared<ScriptedDragSource>();
}

void TestShellX11::cleanup()
{
    m_delegate.reset();
    m_model.reset();
    for (auto &helper : m_helpers) {
        helper->terminate();
        if (!helper->waitForFinished(3000))
            helper->kill();
        helper->waitForFinished(3000);
    }
    m_helpers.clear();
}

void TestShellX11::launch()
{
    AppDelegate::Parts parts;
    parts.model = m_model.get();
    parts.uploader =
        std::make_unique<PelkinUploader>(QUrl("http://127.0.0.1:9/api/upload.php"), 1s);
    parts.alerts = std::make_unique<NoAlerts>();
    parts.dragSource = m_drags;
    m_delegate = std::make_unique<AppDelegate>(std::move(parts));
    m_delegate->applicationDidFinishLaunching();
    QVERIFY(m_delegate->statusItem());
}

void TestShellX11::startHelper(const QString &program, const QStringList &arguments)
{
    auto process = std::make_unique<QProcess>();
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process->start(program, arguments);
    QVERIFY2(process->waitForStarted(5000), qPrintable(program));
    m_helpers.push_back(std::move(process));
}

void TestShellX11::showZoneByDrag()
{
    m_drags->startDrag();
    QTRY_VERIFY_WITH_TIMEOUT(
        m_delegate->dropZone()->window() && m_delegate->dropZone()->window()->isVisible(), 500);
}

void TestShellX11::zoneUnderTheFallbackAnchorWithoutTray()
{
    QVERIFY(!QSystemTrayIcon::isSystemTrayAvailable());
    launch();
    QVERIFY(!m_delegate->statusItem()->geometry());
    showZoneByDrag();
    if (QTest::currentTestFailed())
        return;
    DropZoneWindow *zone = m_delegate->dropZone()->window();
    saveScreenshot(QStringLiteral("zone-without-tray.png"));
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    // Top-right corner: 12 px from the right edge, just under the corner.
    QTRY_COMPARE_WITH_TIMEOUT(zone->panelGeometry(),
                              QRect(area.x() + area.width() - 12 - 210, area.y() + 24 - 4, 210, 36),
                              1000);
}

void TestShellX11::fadesOnlyWithACompositor_data()
{
    QTest::addColumn<bool>("compositor");
    QTest::newRow("no compositor: at once") << false;
    QTest::newRow("xcompmgr: fades") << true;
}

void TestShellX11::fadesOnlyWithACompositor()
{
    QFETCH(bool, compositor);
    if (compositor) {
        startHelper(QStringLiteral("xcompmgr"), {});
        QTRY_VERIFY_WITH_TIMEOUT(X11Support::compositorRunning(), 5000);
    }
    QCOMPARE(X11Support::compositorRunning(), compositor);
    launch();
    showZoneByDrag();
    if (QTest::currentTestFailed())
        return;
    DropZoneWindow *zone = m_delegate->dropZone()->window();
    if (compositor) {
        // Faded in over 0.12 s.
        QVERIFY(zone->windowOpacity() < 1.0);
        QTRY_COMPARE_WITH_TIMEOUT(zone->windowOpacity(), 1.0, 500);
    } else {
        QCOMPARE(zone->windowOpacity(), 1.0);
    }

    QElapsedTimer clock;
    m_drags->releaseButton();
    clock.start();
    QTRY_VERIFY_WITH_TIMEOUT(!zone->isVisible(), 1000);
    if (compositor)
        // Qt's animation clock starts at its last tick, so a fade can end a
        // frame or two early; an unfaded hide takes a few milliseconds.
        QVERIFY2(clock.elapsed() >= DropZonePresenter::hideFadeMs * 2 / 3,
                 qPrintable(QStringLiteral("hid after %1 ms").arg(clock.elapsed())));
    else
        QVERIFY2(clock.elapsed() < DropZonePresenter::hideFadeMs / 2, "waited for a fade nobody sees");
}

void TestShellX11::alertIsAModalInformationBox_data()
{
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("message");
    QTest::newRow("url") << QStringLiteral("アップロード完了")
                         << QStringLiteral(
                                "共有URLをクリップボードにコピーしました。\nhttps://x.test/s/1");
    // A file name that looks like markup stays text.
    QTest::newRow("markup in a file name")
        << QStringLiteral("アップロード失敗")
        << QStringLiteral("これらのファイルはアップロードできません: <b>x</b><img src=y>.app");
}

void TestShellX11::alertIsAModalInformationBox()
{
    QFETCH(QString, title);
    QFETCH(QString, message);
    // The zone showing a result, and the alert that follows it.
    launch();
    m_delegate->dropZone()->showUploadStarted();
    m_delegate->dropZone()->showUploadProgress(0.6);
    m_delegate->dropZone()->showUploadFinished(QStringLiteral("アップロード完了"),
                                       QStringLiteral("共有URLをクリップボードにコピーしました"),
                                       true);
    QString seen;
    QTimer::singleShot(400, this, [&seen] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        seen = box->text() + QLatin1Char('|') + box->informativeText();
        if (box->icon() != QMessageBox::Information || box->buttons().size() != 1)
            seen.prepend(QStringLiteral("wrong kind of box: "));
        for (auto *label : box->findChildren<QLabel *>()) {
            if (!label->text().isEmpty() && label->textFormat() != Qt::PlainText)
                seen.prepend(QStringLiteral("markup allowed: "));
        }
        saveScreenshot(
            QStringLiteral("alert-%1.png")
                .arg(QString::fromLatin1(QTest::currentDataTag()))
                .replace(QLatin1Char(' '), QLatin1Char('-')));
        box->button(QMessageBox::Ok)->click();
    });
    AlertPresenter().showAlert(title, message);
    QCOMPARE(seen, title + QLatin1Char('|') + message);
}

void TestShellX11::zoneUnderTheXEmbedTrayIcon()
{
    startHelper(QStringLiteral("trayer"),
                {"--edge", "top", "--align", "center", "--widthtype", "pixel", "--width", "120",
                 "--height", "24", "--SetDockType", "true", "--expand", "false"});
    QTRY_VERIFY_WITH_TIMEOUT(QSystemTrayIcon::isSystemTrayAvailable(), 5000);
    launch();
    // The tray reports where it embedded the icon a moment after showing it.
    // The tray reports the icon at 0,0 until it has embedded it.
    QTRY_VERIFY_WITH_TIMEOUT(m_delegate->statusItem()->geometry().has_value() &&
                                 m_delegate->statusItem()->geometry()->x() > 0,
                             5000);
    const QRect icon = *m_delegate->statusItem()->geometry();
    QVERIFY(icon.width() > 0 && icon.width() <= 64);

    showZoneByDrag();
    if (QTest::currentTestFailed())
        return;
    DropZoneWindow *zone = m_delegate->dropZone()->window();
    QVERIFY(m_delegate->statusItem()->isHighlighted());
    QTRY_VERIFY2_WITH_TIMEOUT(qAbs(zone->panelGeometry().center().x() - icon.center().x()) <= 1,
                              qPrintable(QStringLiteral("icon %1,%2 %3x%4, zone %5,%6 %7x%8")
                                             .arg(icon.x())
                                             .arg(icon.y())
                                             .arg(icon.width())
                                             .arg(icon.height())
                                             .arg(zone->panelGeometry().x())
                                             .arg(zone->panelGeometry().y())
                                             .arg(zone->panelGeometry().width())
                                             .arg(zone->panelGeometry().height())),
                              1000);
    QCOMPARE(zone->panelGeometry().top(), icon.y() + icon.height() - 4);
    saveScreenshot(QStringLiteral("zone-under-xembed-tray.png"));
    m_drags->releaseButton();
    QTRY_VERIFY_WITH_TIMEOUT(!zone->isVisible(), 1000);
    QVERIFY(!m_delegate->statusItem()->isHighlighted());
}

QTEST_MAIN(TestShellX11)
#include "tst_ShellX11.moc"
