// The shell on a real X server: the drop zone under an XEmbed tray icon
// (Debian's trayer).
#include "ShellFixture.h"

#include <QProcess>
#include <QSystemTrayIcon>
#include <QtTest>

class TestShellX11 : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb")); }

    void zoneUnderTheXEmbedTrayIcon()
    {
        QProcess tray;
        tray.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        tray.start(QStringLiteral("trayer"),
                   {"--edge", "top", "--align", "center", "--widthtype", "pixel", "--width", "120",
                    "--height", "24", "--SetDockType", "true", "--expand", "false"});
        QVERIFY(tray.waitForStarted(5000));
        QTRY_VERIFY_WITH_TIMEOUT(QSystemTrayIcon::isSystemTrayAvailable(), 5000);
        ShellFixture f;
        f.delegate->applicationDidFinishLaunching();
        StatusItem *item = f.delegate->statusItem();
        // The tray reports the icon at 0,0 until it has embedded it.
        QTRY_VERIFY_WITH_TIMEOUT(item->geometry().has_value() && item->geometry()->x() > 0, 5000);
        const QRect icon = *item->geometry();
        QVERIFY(icon.width() > 0 && icon.width() <= 64);

        DropZoneWindow *zone = f.delegate->dropZone()->window();
        f.drags->startDrag({QStringLiteral("text/uri-list")});
        QTRY_VERIFY_WITH_TIMEOUT(zone->isVisible(), 500);
        QVERIFY(item->isHighlighted());
        QTRY_VERIFY_WITH_TIMEOUT(qAbs(zone->panelGeometry().center().x() - icon.center().x()) <= 1, 1000);
        QCOMPARE(zone->panelGeometry().top(), icon.y() + icon.height() - 4);
        f.drags->releaseButton();
        QTRY_VERIFY_WITH_TIMEOUT(!zone->isVisible(), 1000);
        QVERIFY(!item->isHighlighted());
        tray.terminate();
        tray.waitForFinished(3000);
    }
};

QTEST_MAIN(TestShellX11)
#include "tst_ShellX11.moc"
