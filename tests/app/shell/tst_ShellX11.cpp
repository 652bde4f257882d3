// The shell on a real X server: the drop zone under an XEmbed tray icon
// (Debian's trayer), fading only while a compositor (xcompmgr) runs, and the
// alert as a modal box that shows file names as text.
#include "DropZonePresenter.h"
#include "DropZoneWindow.h"
#include "ShellFixture.h"
#include "X11Support.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QProcess>
#include <QSystemTrayIcon>
#include <QtTest>

class TestShellX11 : public QObject
{
    Q_OBJECT
private slots:
    void init()
    {
        QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
        f = std::make_unique<ShellFixture>();
    }

    void cleanup()
    {
        f.reset();
        for (auto &helper : m_helpers) {
            helper->terminate();
            if (!helper->waitForFinished(3000))
                helper->kill();
            helper->waitForFinished(3000);
        }
        m_helpers.clear();
    }

    void fadesOnlyWithACompositor_data()
    {
        QTest::addColumn<bool>("compositor");
        QTest::newRow("no compositor: at once") << false;
        QTest::newRow("xcompmgr: fades") << true;
    }

    void fadesOnlyWithACompositor()
    {
        QFETCH(bool, compositor);
        if (compositor) {
            startHelper(QStringLiteral("xcompmgr"), {});
            QTRY_VERIFY_WITH_TIMEOUT(X11Support::compositorRunning(), 5000);
        }
        QCOMPARE(X11Support::compositorRunning(), compositor);
        showZoneByDrag();
        if (QTest::currentTestFailed())
            return;
        DropZoneWindow *zone = f->delegate->dropZone()->window();
        if (compositor) {
            QVERIFY(zone->windowOpacity() < 1.0);
            QTRY_COMPARE_WITH_TIMEOUT(zone->windowOpacity(), 1.0, 500);
        } else {
            QCOMPARE(zone->windowOpacity(), 1.0);
        }
        QElapsedTimer clock;
        f->drags->releaseButton();
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

    void alertIsAModalInformationBox_data()
    {
        QTest::addColumn<QString>("message");
        QTest::newRow("url") << QStringLiteral("共有URLをクリップボードにコピーしました。\nhttps://x.test/s/1");
        // A file name that looks like markup stays text.
        QTest::newRow("markup in a file name")
            << QStringLiteral("これらのファイルはアップロードできません: <b>x</b><img src=y>.app");
    }

    void alertIsAModalInformationBox()
    {
        QFETCH(QString, message);
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
            box->button(QMessageBox::Ok)->click();
        });
        AlertPresenter().showAlert(QStringLiteral("アップロード完了"), message);
        QCOMPARE(seen, QStringLiteral("アップロード完了|") + message);
    }

    void zoneUnderTheXEmbedTrayIcon()
    {
        startHelper(QStringLiteral("trayer"),
                    {"--edge", "top", "--align", "center", "--widthtype", "pixel", "--width", "120",
                     "--height", "24", "--SetDockType", "true", "--expand", "false"});
        QTRY_VERIFY_WITH_TIMEOUT(QSystemTrayIcon::isSystemTrayAvailable(), 5000);
        f->launch();
        // The tray reports the icon at 0,0 until it has embedded it.
        QTRY_VERIFY_WITH_TIMEOUT(f->delegate->statusItem()->geometry().has_value() &&
                                     f->delegate->statusItem()->geometry()->x() > 0,
                                 5000);
        const QRect icon = *f->delegate->statusItem()->geometry();
        QVERIFY(icon.width() > 0 && icon.width() <= 64);

        f->drags->startDrag({QStringLiteral("text/uri-list")});
        QTRY_VERIFY_WITH_TIMEOUT(f->zoneVisible(), 500);
        DropZoneWindow *zone = f->delegate->dropZone()->window();
        QVERIFY(f->delegate->statusItem()->isHighlighted());
        QTRY_VERIFY2_WITH_TIMEOUT(qAbs(zone->panelGeometry().center().x() - icon.center().x()) <= 1,
                                  qPrintable(QStringLiteral("icon at x %1 (%2 wide), zone at x %3")
                                                 .arg(icon.x()).arg(icon.width())
                                                 .arg(zone->panelGeometry().x())),
                                  1000);
        QCOMPARE(zone->panelGeometry().top(), icon.y() + icon.height() - 4);
        f->drags->releaseButton();
        QTRY_VERIFY_WITH_TIMEOUT(!zone->isVisible(), 1000);
        QVERIFY(!f->delegate->statusItem()->isHighlighted());
    }

private:
    void startHelper(const QString &program, const QStringList &arguments)
    {
        auto process = std::make_unique<QProcess>();
        process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process->start(program, arguments);
        QVERIFY2(process->waitForStarted(5000), qPrintable(program));
        m_helpers.push_back(std::move(process));
    }

    void showZoneByDrag()
    {
        f->launch();
        f->drags->startDrag({QStringLiteral("text/uri-list")});
        QTRY_VERIFY_WITH_TIMEOUT(f->zoneVisible(), 500);
    }

    std::unique_ptr<ShellFixture> f;
    std::vector<std::unique_ptr<QProcess>> m_helpers;
};

QTEST_MAIN(TestShellX11)
#include "tst_ShellX11.moc"
