// The tray icon: "ログイン時に起動" in its menu (the real menu action writes and
// removes the XDG autostart entry under a temporary XDG_CONFIG_HOME, the menu
// shows the file as it is when it opens, a failure is reported, not hidden),
// and its artwork following the desktop's light or dark appearance.
#include "AutostartEntry.h"
#include "StatusItem.h"

#include <QAction>
#include <QFile>
#include <QMenu>
#include <QPalette>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QtTest>

class TestStatusItem : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void menuActionWritesAndRemovesTheEntry();
    void menuShowsTheEntryAsItIsWhenItOpens_data();
    void menuShowsTheEntryAsItIsWhenItOpens();
    void unwritableFolderIsReported();
    void execLineQuotesWhatNeedsIt_data();
    void execLineQuotesWhatNeedsIt();
    void iconFollowsTheAppearance();

private:
    QString entryPath() const { return m_config->filePath(QStringLiteral("autostart/") + AutostartEntry::fileName); }
    std::unique_ptr<QTemporaryDir> m_config;
};

void TestStatusItem::init()
{
    m_config = std::make_unique<QTemporaryDir>();
    QVERIFY(m_config->isValid());
    qputenv("XDG_CONFIG_HOME", m_config->path().toLocal8Bit());
}

void TestStatusItem::menuActionWritesAndRemovesTheEntry()
{
    StatusItem item;
    QAction *action = item.trayIcon()->contextMenu()->findChild<QAction *>(QStringLiteral("autostartAction"));
    QVERIFY(action);
    QCOMPARE(action->text(), QStringLiteral("ログイン時に起動"));
    QVERIFY(action->isCheckable());
    QVERIFY(!action->isChecked());

    action->trigger();
    QVERIFY(action->isChecked());
    QFile file(entryPath());
    QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(entryPath()));
    const QString text = QString::fromUtf8(file.readAll());
    file.close();
    QVERIFY(text.startsWith(QStringLiteral("[Desktop Entry]\n")));
    QVERIFY(text.contains(QStringLiteral("\nType=Application\n")));
    // This test binary is not on PATH, so the entry names it by its full path.
    QVERIFY2(text.contains(QStringLiteral("\nExec=") + QCoreApplication::applicationFilePath() +
                           QStringLiteral(" --background\n")),
             qPrintable(text));
    QVERIFY(AutostartEntry().isEnabled());

    action->trigger();
    QVERIFY(!action->isChecked());
    QVERIFY(!QFile::exists(entryPath()));
    // Turning it off when the file is already gone is no error.
    QSignalSpy failures(&item, &StatusItem::autostartFailed);
    AutostartEntry entry;
    QVERIFY(entry.setEnabled(false));
    QCOMPARE(failures.count(), 0);
}

void TestStatusItem::menuShowsTheEntryAsItIsWhenItOpens_data()
{
    QTest::addColumn<QByteArray>("content"); // empty: no file
    QTest::addColumn<bool>("checked");
    QTest::newRow("no entry") << QByteArray() << false;
    QTest::newRow("entry") << QByteArray("[Desktop Entry]\nType=Application\nExec=pelkin-drop --background\n") << true;
    QTest::newRow("hidden by the session settings")
        << QByteArray("[Desktop Entry]\nType=Application\nExec=pelkin-drop\nHidden=true\n") << false;
    QTest::newRow("turned off in GNOME")
        << QByteArray("[Desktop Entry]\nType=Application\nExec=pelkin-drop\nX-GNOME-Autostart-enabled=false\n")
        << false;
}

void TestStatusItem::menuShowsTheEntryAsItIsWhenItOpens()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, checked);
    StatusItem item;
    QMenu *menu = item.trayIcon()->contextMenu();
    QAction *action = item.autostartAction();
    // Written behind the menu's back, after the item was made.
    action->setChecked(!checked);
    if (!content.isEmpty()) {
        QVERIFY(QDir().mkpath(QFileInfo(entryPath()).absolutePath()));
        QFile file(entryPath());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
    menu->popup(QPoint(10, 10));
    QTRY_VERIFY_WITH_TIMEOUT(menu->isVisible(), 2000);
    QCOMPARE(action->isChecked(), checked);
    menu->hide();
}

void TestStatusItem::unwritableFolderIsReported()
{
    // A file where the autostart folder should be.
    QFile blocker(m_config->filePath(QStringLiteral("autostart")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    StatusItem item;
    QSignalSpy failures(&item, &StatusItem::autostartFailed);
    item.autostartAction()->trigger();
    QCOMPARE(failures.count(), 1);
    QVERIFY(failures.first().first().toString().contains(QStringLiteral("できませんでした")));
    QVERIFY(!item.autostartAction()->isChecked());
}

void TestStatusItem::execLineQuotesWhatNeedsIt_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("exec");
    QTest::newRow("plain") << "pelkin-drop" << "pelkin-drop --background";
    QTest::newRow("space") << "/opt/Pelkin Drop/pelkin-drop" << "\"/opt/Pelkin Drop/pelkin-drop\" --background";
    // "\$" quoted, then each backslash doubled by the key-file escaping.
    QTest::newRow("dollar") << "/opt/a$b/pelkin-drop" << "\"/opt/a\\\\$b/pelkin-drop\" --background";
    QTest::newRow("percent") << "/opt/100%/pelkin-drop" << "/opt/100%%/pelkin-drop --background";
}

void TestStatusItem::execLineQuotesWhatNeedsIt()
{
    QFETCH(QString, program);
    QFETCH(QString, exec);
    QCOMPARE(AutostartEntry::execLine(program), exec);
}

void TestStatusItem::iconFollowsTheAppearance()
{
    // No portal on this bus-less platform: the palette tells the appearance.
    const QPalette original = QGuiApplication::palette();
    StatusItem item;
    QPalette dark = original;
    dark.setColor(QPalette::Window, QColor(0x20, 0x20, 0x20));
    QGuiApplication::setPalette(dark);
    QTRY_COMPARE_WITH_TIMEOUT(item.iconPath(), QStringLiteral(":/pelkin/DropCharacterTrayDark.png"), 2000);
    const qint64 darkIcon = item.trayIcon()->icon().cacheKey();
    QGuiApplication::setPalette(original);
    QTRY_COMPARE_WITH_TIMEOUT(item.iconPath(), QStringLiteral(":/pelkin/DropCharacterTray.png"), 2000);
    QVERIFY(item.trayIcon()->icon().cacheKey() != darkIcon);
    // Lit while a drag is on its way, whatever the panel.
    item.setHighlighted(true);
    QCOMPARE(item.iconPath(), QStringLiteral(":/pelkin/DropCharacterTrayHighlighted.png"));
}

QTEST_MAIN(TestStatusItem)
#include "tst_StatusItem.moc"
