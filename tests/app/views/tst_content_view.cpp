// The views' C++ parts at their boundaries, and the real views on a model in a temporary
// folder, driven by objectName with real mouse, key and drag events; contrast measured in
// rendered images. On a private session bus (dbus-run-session), the test plays the portal.
#include "AppModel.h"
#include "ContentViewHost.h"
#include "FileRowInfo.h"
#include "HistoryDateFormatter.h"
#include "SymbolTable.h"
#include "TestFiles.h"

#include <QClipboard>
#include <QDBusConnection>
#include <QDBusVariant>
#include <QFile>
#include <QFontInfo>
#include <QMimeData>
#include <QPalette>
#include <QQuickItem>
#include <QQuickView>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>

// The desktop portal's appearance setting; Read() answers dark (a variant holding a variant).
class FakePortal : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Settings")

public:
    void publishColourScheme(uint scheme)
    {
        emit SettingChanged(QStringLiteral("org.freedesktop.appearance"),
                            QStringLiteral("color-scheme"), QDBusVariant(scheme));
    }

public slots:
    QDBusVariant Read(const QString &, const QString &)
    {
        return QDBusVariant(QVariant::fromValue(QDBusVariant(1u)));
    }

signals:
    void SettingChanged(const QString &, const QString &, const QDBusVariant &);
};

namespace {

// Every item of that name under `item` (popups included).
QList<QQuickItem *> findAll(QQuickItem *item, const QString &name)
{
    QList<QQuickItem *> out;
    if (item->objectName() == name)
        out << item;
    for (QQuickItem *child : item->childItems())
        out << findAll(child, name);
    return out;
}

QQuickItem *inside(QQuickItem *root, const char *name)
{
    return findAll(root, QString::fromLatin1(name)).value(0);
}

QPoint centre(QQuickItem *item)
{
    return item->mapToScene(QPointF(item->width() / 2, item->height() / 2)).toPoint();
}

double luminance(QRgb c)
{
    const auto channel = [](int v) {
        const double s = v / 255.0;
        return s <= 0.04045 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(qRed(c)) + 0.7152 * channel(qGreen(c)) + 0.0722 * channel(qBlue(c));
}

double contrast(QRgb a, QRgb b)
{
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QRect pixels(const QImage &image, QQuickItem *item)
{
    const QRectF r = item->mapRectToScene(QRectF(0, 0, item->width(), item->height()));
    const qreal dpr = image.devicePixelRatio();
    return QRectF(r.topLeft() * dpr, r.size() * dpr).toAlignedRect() & image.rect();
}

// Contrast of a text item as rendered: its most common pixel is the
// background, its strongest pixel against that is the ink.
double renderedContrast(const QImage &image, QQuickItem *item)
{
    const QRect area = pixels(image, item);
    QHash<QRgb, int> counts;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            ++counts[image.pixel(x, y) | 0xff000000u];
    const auto background = std::max_element(counts.cbegin(), counts.cend()).key();
    double best = 1.0;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        best = std::max(best, contrast(it.key(), background));
    return best;
}

} // namespace

class TestContentView : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "portal");
        QVERIFY2(bus.registerObject(QStringLiteral("/org/freedesktop/portal/desktop"), &portal,
                                    QDBusConnection::ExportAllContents),
                 "no session bus: run under dbus-run-session");
        QVERIFY(bus.registerService(QStringLiteral("org.freedesktop.portal.Desktop")));
    }

    void init()
    {
        view.reset(); // before the model it shows
        QGuiApplication::setPalette(QPalette());
        dir = std::make_unique<QTemporaryDir>();
        qputenv("XDG_CONFIG_HOME", dir->filePath("config").toUtf8());
        model = std::make_unique<AppModel>(dir->filePath(QStringLiteral("store.ini")));
        model->setTheme(AppTheme::Light);
        view.reset(PelkinViews::createContentView(model.get()));
        view->resize(900, 680);
        view->show();
        QVERIFY(QTest::qWaitForWindowExposed(view.get()));
    }

    void rowTexts()
    {
        // The boundaries of the symbol and byte-count tables; the date in local time.
        for (const auto &[name, symbol, bytes, size] :
             {std::tuple{"写真.PNG", "photo", 0LL, "0 KB"},
              {"backup.tar.gz", "doc.zipper", 999LL, "999 バイト"},
              {"odd.", "doc", 999'999LL, "1 MB"},
              {"dir.png/file", "doc", 1'234'567'890LL, "1.23 GB"}}) {
            const QUrl url = QUrl::fromLocalFile(QStringLiteral("/tmp/") + QString::fromUtf8(name));
            QCOMPARE(FileRowInfo::iconName(url), QString::fromUtf8(symbol));
            QCOMPARE(FileRowInfo::fileByteCountText(bytes), QString::fromUtf8(size));
        }
        const QString file = TestFiles::write(dir->path(), "資料.bin", {}, 2'480'000);
        QCOMPARE(FileRowInfo::fileSize(QUrl::fromLocalFile(file)), QString("2.5 MB"));
        // Gone, not local, or a folder (its inode would read "4 KB"): no size line.
        for (const QUrl &url :
             {QUrl::fromLocalFile(dir->filePath("missing")), QUrl("https://example.com/a.png"),
              QUrl::fromLocalFile(dir->path())})
            QCOMPARE(FileRowInfo::fileSize(url), std::nullopt);

        // TZ is America/New_York (CMakeLists.txt).
        const QDateTime newYear(QDate(2025, 1, 1), QTime(2, 0), Qt::UTC);
        QCOMPARE(HistoryDateFormatter::format(newYear), QString("2024/12/31 21:00"));
    }

    void everySymbolDrawsInItsColour()
    {
        const QStringList names = SymbolTable::symbols() << QStringLiteral("no.such.symbol");
        for (const QString &name : names) {
            QVERIFY2(QFile::exists(SymbolTable::fallbackPath(name)), qPrintable(name));
            const QImage image = SymbolTable::tintedImage(name, QSize(24, 24), Qt::red);
            int inked = 0, wrong = 0;
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < image.width(); ++x) {
                    const QColor c = image.pixelColor(x, y);
                    inked += c.alpha() > 0;
                    wrong += c.alpha() > 0 && (c.red() < 200 || c.green() > 30 || c.blue() > 30);
                }
            QVERIFY2(inked > 20 && wrong == 0, qPrintable(name));
            // A full-colour theme icon would be tinted into a blob: only symbolic ones.
            const QString file = SymbolTable::themeIconFile(name);
            QVERIFY2(file.isEmpty() || file.endsWith("-symbolic.svg"), qPrintable(file));
        }
    }

    void homeFormByDropsButtonsAndReturn()
    {
        QList<QList<QUrl>> requested;
        model->onRequestHomeUpload = [&](const auto &urls, const auto &) { requested << urls; };
        // Only file URLs join the selection, in order; a drag that leaves adds nothing.
        const QList<QUrl> files = makeFiles(2);
        QVERIFY(drag({files[0]}, false) && model->selectedURLs().isEmpty());
        QVERIFY(drag({QUrl("https://example.com/x"), files[0], files[1]}, true));
        QTRY_VERIFY(find("uploadButton")->isEnabled());
        click(find("uploadButton"));
        QQuickItem *input = inside(find("homePasswordRow"), "passwordInput");
        click(input);
        QTRY_VERIFY(input->hasActiveFocus());
        QTest::keyClick(view.get(), Qt::Key_Return);
        QCOMPARE(requested, (QList<QList<QUrl>>{files, files}));

        // A row's remove button (shown under the pointer) removes every equal URL.
        model->setSelectedURLs({files[0], files[1], files[0]});
        QTRY_COMPARE(count("fileRow"), 3);
        QQuickItem *remove = inside(findAll(view->contentItem(), "fileRow").last(), "removeButton");
        QTest::qWait(700); // the list springs into place first
        QTest::mouseMove(view.get(), centre(remove));
        QTRY_COMPARE_WITH_TIMEOUT(remove->opacity(), 1.0, 1000);
        click(remove);
        QCOMPARE(model->selectedURLs(), QList<QUrl>{files[1]});
        model->appendFiles(makeFiles(10));
        QTRY_COMPARE(count("fileRow"), 8);
        QCOMPARE(find("moreFilesText")->property("text").toString(), QString("他 3件"));

        // While uploading nothing of the form can be changed; dropped files join, disabled.
        model->markHomeUploadStarted();
        QTRY_VERIFY_WITH_TIMEOUT(find("progressPanel") && !find("actionRow"), 1000);
        QVERIFY(drag(makeFiles(1), true));
        QTRY_COMPARE(find("moreFilesText")->property("text").toString(), QString("他 4件"));
        for (const char *name :
             {"chooseButton", "homePasswordRow", "clearAllFilesButton", "fileRow"})
            QVERIFY2(!find(name)->isEnabled(), name);
        // Under a result card the drop area takes nothing.
        model->markHomeUploadFailed(QStringLiteral("エラー"), {});
        QTRY_VERIFY_WITH_TIMEOUT(find("uploadResultView"), 1000);
        QVERIFY(!drag(makeFiles(1), true));
        QCOMPARE(model->selectedURLs().size(), 12);
    }

    void historyRowsDeletionAndClearing()
    {
        showTab(MainTab::History, "historyTab");
        QVERIFY(!find("clearHistoryButton"));
        // Added while the tab is shown; the list shows them newest first.
        model->addHistory({QStringLiteral("b.txt")}, QString(), true, QString());
        model->addHistory({QStringLiteral("a.txt")}, QStringLiteral("https://e.jp/s/1"), true,
                          QStringLiteral("発行"));
        const QList<UploadHistoryItem> before = model->history();
        QTRY_COMPARE(count("historyRow"), 2);
        QQuickItem *row = findAll(view->contentItem(), "historyRow").first();
        click(inside(row, "historyCopyButton"));
        QCOMPARE(QGuiApplication::clipboard()->text(), QString("https://e.jp/s/1"));

        // Swiping the first card most of the way to the left deletes it.
        const QPoint start = centre(row) + QPoint(row->width() / 4, 0);
        QTest::mousePress(view.get(), Qt::LeftButton, Qt::NoModifier, start);
        for (int dx = 10; dx <= int(row->width() * 0.8); dx += 20)
            QTest::mouseMove(view.get(), start - QPoint(dx, 0), 5);
        QTest::mouseRelease(view.get(), Qt::LeftButton, Qt::NoModifier,
                            start - QPoint(int(row->width() * 0.8), 0), 5);
        QTRY_COMPARE_WITH_TIMEOUT(model->history(), before.mid(1), 2000);

        // Clearing asks first, every time on キャンセル; Escape gives the focus back.
        QQuickItem *clear = find("clearHistoryButton");
        clear->forceActiveFocus(Qt::TabFocusReason);
        for (int opening = 0; opening < 2; ++opening) {
            QTest::keyClick(view.get(), Qt::Key_Return);
            QTRY_VERIFY(find("cancelClearButton") && find("cancelClearButton")->hasActiveFocus());
            QTest::keyClick(view.get(), Qt::Key_Escape);
            QTRY_VERIFY(!find("clearConfirmationTitle") && clear->hasActiveFocus());
        }
        QCOMPARE(model->history().size(), 1);
        click(clear);
        QTRY_VERIFY_WITH_TIMEOUT(find("confirmClearButton"), 1000);
        QTest::qWait(150); // the popup fades in
        click(find("confirmClearButton"));
        QVERIFY(model->history().isEmpty());
        QTRY_VERIFY(find("historyEmptyState") && !find("clearConfirmationTitle"));
    }

    void settingsTab()
    {
        click(find("sidebarRow_settings"));
        QCOMPARE(model->selectedTab(), MainTab::Settings);
        showTab(MainTab::Settings, "settingsTab");
        const auto toggle = [&](const char *row) {
            return qvariant_cast<QQuickItem *>(find(row)->property("toggle"));
        };
        click(toggle("menuBarIconRow"));
        QVERIFY(!model->showsMenuBarIcon());
        click(toggle("autoCopyRow"));
        QVERIFY(!model->autoCopyToClipboard());
        model->setAutoCopyToClipboard(true);
        QVERIFY(toggle("autoCopyRow")->property("checked").toBool());

        // 99 letters, a family emoji of several code points (one character), then more.
        QQuickItem *input = inside(find("defaultPasswordRow"), "passwordInput");
        const QString kept = QString(99, u'a') + QStringLiteral("👨‍👩‍👧");
        QGuiApplication::clipboard()->setText(kept + QString(50, u'b'));
        click(input);
        QTRY_VERIFY(input->hasActiveFocus());
        QTest::keyClick(view.get(), Qt::Key_V, Qt::ControlModifier);
        QTRY_COMPARE(input->property("text").toString(), kept);
        QCOMPARE(model->defaultPassword(), kept);
        model->setDefaultPassword(QStringLiteral("abc")); // a change of the model shows
        QCOMPARE(input->property("text").toString(), QString("abc"));

        // "System" follows the portal while running, over the palette; with no
        // preference, the palette. Light stays light.
        const auto dark = [&] {
            return luminance(view->rootObject()->property("color").value<QColor>().rgb()) < 0.1;
        };
        click(find("segment_system"));
        QCOMPARE(model->theme(), AppTheme::System);
        QTRY_VERIFY(dark());
        click(find("segment_light"));
        QVERIFY(!dark());
        click(find("segment_system"));
        portal.publishColourScheme(2);
        QTRY_VERIFY(!dark());
        QGuiApplication::setPalette(QPalette(QColor(0x22, 0x22, 0x22)));
        QVERIFY(!dark());
        portal.publishColourScheme(0);
        QTRY_VERIFY(dark());
        QGuiApplication::setPalette(QPalette());
        QTRY_VERIFY(!dark());
    }

    // What is measured in the screenshots must read at 4.5:1, large text (18 px,
    // or 14 px bold) at 3:1, and the focus ring at 3:1 against what it covers.
    void contrastInScreenshots_data()
    {
        QTest::addColumn<AppTheme::Value>("theme");
        QTest::newRow("light") << AppTheme::Light;
        QTest::newRow("dark") << AppTheme::Dark;
    }

    void contrastInScreenshots()
    {
        QFETCH(AppTheme::Value, theme);
        model->setTheme(theme);
        QCOMPARE(QFontInfo(find("dropAreaText")->property("font").value<QFont>()).family(),
                 QString("Noto Sans CJK JP"));
        // Each text as rendered, in a settled window.
        const auto measure = [&](const QImage &image, const QStringList &names) {
            for (const QString &name : names) {
                const QList<QQuickItem *> items = findAll(view->contentItem(), name);
                QVERIFY2(!items.isEmpty(), qPrintable(name));
                for (QQuickItem *item : items) {
                    if (!item->isVisible() || item->opacity() < 1.0 || item->width() < 1)
                        continue;
                    const QFont font = item->property("font").value<QFont>();
                    const bool large = font.pixelSize() >= 18 ||
                                       (font.pixelSize() >= 14 && font.weight() >= QFont::Bold);
                    const double ratio = renderedContrast(image, item);
                    QVERIFY2(ratio >= (large ? 3.0 : 4.5),
                             qPrintable(name + QString(": %1:1").arg(ratio)));
                }
            }
        };
        model->appendFiles(makeFiles(3));
        const QImage idle = shot();
        measure(idle,
                {"homeSubtitle", "fileSize", "passwordInput", "clearAllFilesButton", "homeStatus"});

        // The focus ring: what changed around the focused control against what was there.
        QTest::keyClick(view.get(), Qt::Key_Tab);
        QTRY_VERIFY(view->activeFocusItem());
        QQuickItem *focused = view->activeFocusItem();
        QQuickItem *ring = inside(focused, "focusRing");
        QVERIFY(ring && ring->isVisible());
        const QImage withFocus = shot();
        const QRect inner = pixels(idle, focused), outer = pixels(idle, ring);
        QList<double> ratios;
        for (int y = outer.top(); y <= outer.bottom(); ++y)
            for (int x = outer.left(); x <= outer.right(); ++x)
                if (!inner.contains(x, y) && idle.pixel(x, y) != withFocus.pixel(x, y))
                    ratios << contrast(idle.pixel(x, y), withFocus.pixel(x, y));
        QVERIFY2(ratios.size() > outer.width(), "no ring drawn");
        std::sort(ratios.begin(), ratios.end());
        QVERIFY2(ratios[ratios.size() / 2] >= 3.0,
                 qPrintable(QString::number(ratios[ratios.size() / 2])));
        focused->setFocus(false);

        const QStringList names(5, QStringLiteral("見積書.xlsx"));
        model->markHomeUploadSucceeded(QString("https://drop.example.jp/s/Q7xk2PmA"), names, true);
        measure(shot(), {"resultMessage", "resultUrl", "resultMoreFiles"});
        click(find("newUploadButton"));
        QVERIFY(!model->hasHomeUploadResult() && model->selectedURLs().isEmpty());

        model->addHistory({QStringLiteral("議事録.md")}, std::nullopt, false,
                          QStringLiteral("サーバーに接続できませんでした"));
        model->addHistory(names, QStringLiteral("https://drop.example.jp/s/9fK3aZ"), true,
                          QStringLiteral("発行"));
        showTab(MainTab::History, "historyTab");
        measure(shot(), {"historyCount", "historyTimestamp", "historyUrl", "historyStatusText",
                         "historyMessage", "historyFileCount", "clearHistoryButton"});
        showTab(MainTab::Settings, "settingsTab");
        measure(shot(), {"toggleSubtitle", "settingsHint", "versionText"});
    }

private:
    QQuickItem *find(const QString &name) const // the visible one, or null
    {
        QQuickItem *found = nullptr;
        for (QQuickItem *item : findAll(view->contentItem(), name))
            found = item->isVisible() ? item : found;
        return found;
    }
    int count(const char *name) const { return findAll(view->contentItem(), name).size(); }
    void click(QQuickItem *item)
    {
        QTest::mouseClick(view.get(), Qt::LeftButton, {}, centre(item));
    }
    QImage shot()
    {
        QTest::qWait(900); // springs and fades settle
        return view->grabWindow();
    }

    QList<QUrl> makeFiles(int count)
    {
        static int counter = 0;
        QList<QUrl> urls;
        while (urls.size() < count)
            urls << QUrl::fromLocalFile(TestFiles::write(
                dir->path(), QStringLiteral("%1-写真.jpg").arg(++counter), {}, 1000));
        return urls;
    }

    // Holds a drag of these URLs over the drop area, then drops or leaves; true
    // when the area showed itself targeted (and took the drop).
    bool drag(const QList<QUrl> &urls, bool drop)
    {
        QMimeData mime;
        mime.setUrls(urls);
        const QPoint pos = centre(find("dropArea"));
        QDragEnterEvent enter(pos, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(view.get(), &enter);
        const bool targeted = find("homeTab")->property("isTargeted").toBool();
        QDropEvent dropEvent(pos, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QDragLeaveEvent leave;
        QCoreApplication::sendEvent(view.get(), drop ? static_cast<QEvent *>(&dropEvent) : &leave);
        return targeted && (!drop || dropEvent.isAccepted()) &&
               !find("homeTab")->property("isTargeted").toBool();
    }

    void showTab(MainTab::Value tab, const char *name)
    {
        model->setSelectedTab(tab);
        QTRY_VERIFY_WITH_TIMEOUT(find(name), 2000);
        // The outgoing tab is gone once the cross-fade is over.
        QTRY_COMPARE_WITH_TIMEOUT(find(name)->opacity(), 1.0, 2000);
    }

    FakePortal portal;
    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<AppModel> model;
    std::unique_ptr<QQuickView> view;
};

QTEST_MAIN(TestContentView)
#include "tst_content_view.moc"
