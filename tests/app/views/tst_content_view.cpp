// The real views on a model in a temporary folder, driven by objectName with
// real mouse, key and drag events; contrast measured in rendered screenshots.
#include "AppModel.h"
#include "ContentViewHost.h"

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QFontInfo>
#include <QMimeData>
#include <QPalette>
#include <QQuickItem>
#include <QQuickView>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>
#include <memory>

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

QString text(QQuickItem *item)
{
    return item ? item->property("text").toString() : QStringLiteral("<missing>");
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
    void init();
    void cleanup();
    void tabsFollowBothWays();
    void homeFormByDropsButtonsAndReturn();
    void resultCard_data();
    void resultCard();
    void historyRowsDeletionAndClearing();
    void settingsTab();
    void contrastInScreenshots_data();
    void contrastInScreenshots();

private:
    QQuickItem *find(const QString &name) const // the visible one, or null
    {
        QQuickItem *found = nullptr;
        for (QQuickItem *item : findAll(view->contentItem(), name))
            found = item->isVisible() ? item : found;
        return found;
    }
    int count(const char *name) const { return findAll(view->contentItem(), name).size(); }
    void click(QQuickItem *item, Qt::MouseButton button = Qt::LeftButton)
    {
        QTest::mouseClick(view.get(), button, Qt::NoModifier, centre(item));
    }
    QList<QUrl> makeFiles(int count);
    bool drag(const QList<QUrl> &urls, bool drop);
    void showTab(MainTab::Value tab, const char *name);
    QImage shot(const QString &name);

    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<AppModel> model;
    std::unique_ptr<QQuickView> view;
};

void TestContentView::init()
{
    dir = std::make_unique<QTemporaryDir>();
    qputenv("XDG_CONFIG_HOME", dir->filePath("config").toUtf8());
    model = std::make_unique<AppModel>(dir->filePath(QStringLiteral("store.ini")));
    model->setTheme(AppTheme::Light);
    view.reset(PelkinViews::createContentView(model.get()));
    view->resize(900, 680);
    view->show();
    QVERIFY(QTest::qWaitForWindowExposed(view.get()));
}

void TestContentView::cleanup()
{
    view.reset();
    model.reset();
    dir.reset();
    QGuiApplication::setPalette(QPalette());
}

QList<QUrl> TestContentView::makeFiles(int count)
{
    static int counter = 0;
    QList<QUrl> urls;
    for (int i = 0; i < count; ++i) {
        QFile file(dir->filePath(QStringLiteral("%1-写真.jpg").arg(++counter)));
        if (file.open(QIODevice::WriteOnly))
            file.resize(1000 * (i + 1));
        urls << QUrl::fromLocalFile(file.fileName());
    }
    return urls;
}

// Holds a drag of these URLs over the drop area, then drops or leaves; true
// when the area showed itself targeted (and took the drop).
bool TestContentView::drag(const QList<QUrl> &urls, bool drop)
{
    QMimeData mime;
    mime.setUrls(urls);
    const QPoint pos = centre(find("dropArea"));
    QDragEnterEvent enter(pos, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(view.get(), &enter);
    QDragMoveEvent move(pos, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(view.get(), &move);
    const bool targeted = find("homeTab")->property("isTargeted").toBool();
    QDropEvent dropEvent(pos, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QDragLeaveEvent leave;
    QCoreApplication::sendEvent(view.get(), drop ? static_cast<QEvent *>(&dropEvent) : &leave);
    return targeted && (!drop || dropEvent.isAccepted()) &&
           !find("homeTab")->property("isTargeted").toBool();
}

void TestContentView::showTab(MainTab::Value tab, const char *name)
{
    model->setSelectedTab(tab);
    QTRY_VERIFY_WITH_TIMEOUT(find(name), 2000);
    // The outgoing tab is gone once the cross-fade is over.
    QTRY_COMPARE_WITH_TIMEOUT(find(name)->opacity(), 1.0, 2000);
}

void TestContentView::tabsFollowBothWays()
{
    click(find("sidebarRow_history"));
    QCOMPARE(model->selectedTab(), MainTab::History);
    QTRY_VERIFY_WITH_TIMEOUT(find("historyTab") && !find("homeTab"), 1000);
    model->setSelectedTab(MainTab::Settings);
    QVERIFY(find("sidebarRow_settings")->property("selected").toBool());
    QVERIFY(!find("sidebarRow_history")->property("selected").toBool());
    QTRY_VERIFY_WITH_TIMEOUT(find("settingsTab") && !find("historyTab"), 1000);
}

void TestContentView::homeFormByDropsButtonsAndReturn()
{
    QList<QList<QUrl>> requested;
    model->onRequestHomeUpload = [&](const QList<QUrl> &urls, const std::optional<QString> &) {
        requested << urls;
    };
    QQuickItem *upload = find("uploadButton");
    QVERIFY(!upload->isEnabled());
    // Only file URLs join the selection, in order; a drag that leaves adds nothing.
    const QList<QUrl> files = makeFiles(2);
    QVERIFY(drag({files[0]}, false) && model->selectedURLs().isEmpty());
    QVERIFY(drag({QUrl("https://example.com/x"), files[0], files[1]}, true));
    QCOMPARE(model->selectedURLs(), files);
    QTRY_VERIFY(upload->isEnabled());
    click(upload);
    QQuickItem *input = inside(find("homePasswordRow"), "passwordInput");
    click(input);
    QTRY_VERIFY(input->hasActiveFocus());
    QTest::keyClick(view.get(), Qt::Key_Return);
    QCOMPARE(requested, (QList<QList<QUrl>>{files, files}));

    // The remove button shows under the pointer; it removes every equal URL.
    model->setSelectedURLs({files[0], files[1], files[0]});
    QTRY_COMPARE(count("fileRow"), 3);
    QQuickItem *remove = inside(findAll(view->contentItem(), "fileRow").last(), "removeButton");
    QCOMPARE(remove->opacity(), 0.0);
    QTest::qWait(700); // the list springs into place first
    for (const QPoint &at : {centre(remove) + QPoint(2, 2), centre(remove)}) {
        QMouseEvent move(QEvent::MouseMove, at, view->mapToGlobal(at), Qt::NoButton, Qt::NoButton,
                         Qt::NoModifier);
        QCoreApplication::sendEvent(view.get(), &move);
    }
    QTRY_COMPARE_WITH_TIMEOUT(remove->opacity(), 1.0, 1000);
    click(remove);
    QCOMPARE(model->selectedURLs(), QList<QUrl>{files[1]});
    model->appendFiles(makeFiles(10));
    QTRY_COMPARE(count("fileRow"), 8);
    QCOMPARE(text(find("moreFilesText")), QString("他 3件"));

    // While uploading nothing of the form can be changed; dropped files join, disabled.
    model->markHomeUploadStarted();
    model->updateHomeUploadProgress(0.999);
    QTRY_VERIFY_WITH_TIMEOUT(find("progressPanel") && !find("actionRow"), 1000);
    QCOMPARE(text(find("progressPercent")), QString("99%"));
    QVERIFY(drag(makeFiles(1), true));
    QTRY_COMPARE(text(find("moreFilesText")), QString("他 4件"));
    for (const char *name : {"chooseButton", "homePasswordRow", "clearAllFilesButton", "fileRow"})
        QVERIFY2(!find(name)->isEnabled(), name);
    // Under a result card the drop area takes nothing.
    model->markHomeUploadFailed(QStringLiteral("エラー"), {});
    QTRY_VERIFY_WITH_TIMEOUT(find("uploadResultView"), 1000);
    QVERIFY(!drag(makeFiles(1), true));
    QCOMPARE(model->selectedURLs().size(), 12);
}

void TestContentView::resultCard_data()
{
    QTest::addColumn<QString>("url"); // a failure when empty
    QTest::addColumn<int>("files");
    QTest::addColumn<QString>("more");
    QTest::newRow("success, 5 files") << "https://e.jp/s/abc" << 5 << "他 2件";
    QTest::newRow("failure, 2 files") << "" << 2 << "";
}

void TestContentView::resultCard()
{
    QFETCH(QString, url);
    QFETCH(int, files);
    QFETCH(QString, more);
    QStringList names;
    for (int i = 0; i < files; ++i)
        names << QStringLiteral("ファイル%1.txt").arg(i + 1);
    model->appendFiles(makeFiles(2));
    if (!url.isEmpty())
        model->markHomeUploadSucceeded(url, names, true);
    else
        model->markHomeUploadFailed(QStringLiteral("サーバーに接続できませんでした"), names);
    QTRY_VERIFY_WITH_TIMEOUT(find("uploadResultView"), 1000);
    QQuickItem *form = find("uploadForm");
    QVERIFY(!form->isEnabled());
    QTRY_COMPARE_WITH_TIMEOUT(form->opacity(), 0.0, 2000);
    QCOMPARE(text(find("resultMessage")), model->homeUploadResult()->message);
    QCOMPARE(count("resultFileRow"), std::min(files, 3));
    QCOMPARE(text(find("resultMoreFiles")), more.isEmpty() ? "<missing>" : more);
    QCOMPARE(text(find("resultUrl")), url.isEmpty() ? "<missing>" : url);
    QTRY_COMPARE_WITH_TIMEOUT(find("uploadResultView")->property("contentProgress").toDouble(), 1.0,
                              2000);
    if (!url.isEmpty()) {
        click(find("copyUrlButton"));
        QCOMPARE(QGuiApplication::clipboard()->text(), url);
    }
    click(find(url.isEmpty() ? "retryButton" : "newUploadButton"));
    QVERIFY(!model->hasHomeUploadResult() && model->selectedURLs().isEmpty());
    QTRY_COMPARE_WITH_TIMEOUT(form->opacity(), 1.0, 2000);
    QVERIFY(form->isEnabled());
}

void TestContentView::historyRowsDeletionAndClearing()
{
    showTab(MainTab::History, "historyTab");
    QVERIFY(find("historyEmptyState") && !find("clearHistoryButton"));
    QStringList twenty;
    for (int i = 0; i < 20; ++i)
        twenty << QStringLiteral("とても長いファイル名_%1.png").arg(i);
    // Added while the tab is shown; the list shows them newest first.
    model->addHistory({QStringLiteral("a.txt")}, std::nullopt, true, QString());
    model->addHistory({QStringLiteral("b.txt")}, QString(), true, QString());
    model->addHistory({QStringLiteral("c.txt")}, std::nullopt, false, QStringLiteral("エラー"));
    model->addHistory(twenty, QStringLiteral("https://e.jp/s/1"), true, QStringLiteral("発行"));
    const QList<UploadHistoryItem> before = model->history();
    QTRY_COMPARE(count("historyRow"), 4);
    QCOMPARE(text(find("historyCount")), QString("4件の記録"));
    const auto rows = [&] { return findAll(view->contentItem(), "historyRow"); };
    QCOMPARE(text(inside(rows()[0], "historyFileNames")), twenty.join(", "));
    QCOMPARE(inside(rows()[0], "historyFileNames")->property("lineCount").toInt(), 2);
    click(inside(rows()[0], "historyCopyButton"));
    QCOMPARE(QGuiApplication::clipboard()->text(), QString("https://e.jp/s/1"));
    // A failure and a success with an empty URL have no URL line; an empty message none.
    for (const auto &[row, message] : {std::pair{rows()[1], true}, std::pair{rows()[2], false}}) {
        QVERIFY(!inside(row, "historyUrlRow")->isVisible());
        QCOMPARE(inside(row, "historyMessage")->isVisible(), message);
    }

    click(rows()[1], Qt::RightButton);
    QTRY_VERIFY_WITH_TIMEOUT(find("historyDeleteMenuItem"), 1000);
    QTest::qWait(100); // the menu fades in
    click(find("historyDeleteMenuItem"));
    QCOMPARE(model->history(), (QList<UploadHistoryItem>{before[0], before[2], before[3]}));
    // Swiping the first card most of the way to the left deletes it.
    QTRY_COMPARE(count("historyRow"), 3);
    QQuickItem *row = rows().first();
    const QPoint start = centre(row) + QPoint(row->width() / 4, 0);
    QTest::mousePress(view.get(), Qt::LeftButton, Qt::NoModifier, start);
    for (int dx = 10; dx <= int(row->width() * 0.8); dx += 20)
        QTest::mouseMove(view.get(), start - QPoint(dx, 0), 5);
    QTest::mouseRelease(view.get(), Qt::LeftButton, Qt::NoModifier,
                        start - QPoint(int(row->width() * 0.8), 0), 5);
    QTRY_COMPARE_WITH_TIMEOUT(model->history(), (QList<UploadHistoryItem>{before[2], before[3]}),
                              2000);

    // Clearing asks first, every time on キャンセル; Escape gives the focus back.
    QQuickItem *clear = find("clearHistoryButton");
    clear->forceActiveFocus(Qt::TabFocusReason);
    for (int opening = 0; opening < 2; ++opening) {
        QTest::keyClick(view.get(), Qt::Key_Return);
        QTRY_VERIFY_WITH_TIMEOUT(find("cancelClearButton"), 1000);
        QTRY_VERIFY(find("cancelClearButton")->hasActiveFocus());
        QTest::keyClick(view.get(), Qt::Key_Escape);
        QTRY_VERIFY_WITH_TIMEOUT(!find("clearConfirmationTitle"), 1000);
        QTRY_VERIFY(clear->hasActiveFocus());
    }
    QCOMPARE(model->history().size(), 2);
    click(clear);
    QTRY_VERIFY_WITH_TIMEOUT(find("confirmClearButton"), 1000);
    QTest::qWait(150); // the popup fades in
    click(find("confirmClearButton"));
    QVERIFY(model->history().isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(find("historyEmptyState") && !find("clearConfirmationTitle"), 1000);
}

void TestContentView::settingsTab()
{
    QList<bool> calls;
    model->onMenuBarIconVisibilityChange = [&](bool on) { calls << on; };
    showTab(MainTab::Settings, "settingsTab");
    const auto toggle = [&](const char *row) {
        return qvariant_cast<QQuickItem *>(find(row)->property("toggle"));
    };
    click(toggle("menuBarIconRow"));
    click(toggle("menuBarIconRow"));
    QCOMPARE(calls, (QList<bool>{false, true}));
    click(toggle("autoCopyRow"));
    QVERIFY(!model->autoCopyToClipboard());
    model->setAutoCopyToClipboard(true);
    QVERIFY(toggle("autoCopyRow")->property("checked").toBool());

    // 99 letters, a family emoji of several code points (one character), then more.
    QQuickItem *input = inside(find("defaultPasswordRow"), "passwordInput");
    QCOMPARE(input->property("echoMode").toInt(), 2); // TextInput.Password
    const QString kept = QString(99, u'a') + QStringLiteral("👨‍👩‍👧");
    QGuiApplication::clipboard()->setText(kept + QString(50, u'b'));
    click(input);
    QTRY_VERIFY(input->hasActiveFocus());
    QTest::keyClick(view.get(), Qt::Key_V, Qt::ControlModifier);
    QTRY_COMPARE(input->property("text").toString(), kept);
    QCOMPARE(model->defaultPassword(), kept);
    QTest::keyClick(view.get(), 'z');
    QCOMPARE(input->property("text").toString(), kept);
    model->setDefaultPassword(QStringLiteral("abc")); // a change of the model shows
    QCOMPARE(input->property("text").toString(), QString("abc"));

    // "System" follows the desktop while running (no portal here: the palette decides).
    const auto colour = [&] { return view->rootObject()->property("color").value<QColor>(); };
    const QColor light = colour();
    QPalette darkPalette;
    darkPalette.setColor(QPalette::Window, QColor(0x22, 0x22, 0x22));
    QGuiApplication::setPalette(darkPalette);
    QCOMPARE(colour(), light);
    click(find("segment_system"));
    QCOMPARE(model->theme(), AppTheme::System);
    QTRY_VERIFY(luminance(colour().rgb()) < 0.1);
    QGuiApplication::setPalette(QPalette());
    QTRY_COMPARE(colour(), light);
}

// Screenshots land in the build folder for people to look at; what is
// measured in them must read at 4.5:1, large text (18 px, or 14 px bold) at 3:1.
QImage TestContentView::shot(const QString &name)
{
    QTest::qWait(900); // springs and fades settle
    const QImage image = view->grabWindow();
    const QString out = qEnvironmentVariable("PELKIN_BINARY_DIR", QDir::tempPath()) +
                        QStringLiteral("/screenshots/views/");
    QDir().mkpath(out);
    image.save(out + name + QStringLiteral(".png"));
    return image;
}

void TestContentView::contrastInScreenshots_data()
{
    QTest::addColumn<AppTheme::Value>("theme");
    QTest::newRow("light") << AppTheme::Light;
    QTest::newRow("dark") << AppTheme::Dark;
}

void TestContentView::contrastInScreenshots()
{
    QFETCH(AppTheme::Value, theme);
    const QString suffix = QString::fromLatin1(QTest::currentDataTag());
    model->setTheme(theme);
    QCOMPARE(QFontInfo(find("dropAreaText")->property("font").value<QFont>()).family(),
             QString("Noto Sans CJK JP"));
    QImage idle;
    const auto measure = [&](const char *shotName, const QStringList &names) {
        const QImage image = shot(QStringLiteral("%1-%2").arg(QLatin1String(shotName), suffix));
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
                         qPrintable(QStringLiteral("%1 in %2: %3:1")
                                        .arg(name, QLatin1String(shotName))
                                        .arg(ratio, 0, 'f', 2)));
            }
        }
        if (idle.isNull())
            idle = image;
    };
    model->appendFiles(makeFiles(3));
    measure("home-idle",
            {"homeSubtitle", "fileSize", "passwordInput", "clearAllFilesButton", "homeStatus"});

    // The focus ring: what changed around the focused control against what was there.
    QTest::keyClick(view.get(), Qt::Key_Tab);
    QTRY_VERIFY(view->activeFocusItem());
    QQuickItem *focused = view->activeFocusItem();
    QQuickItem *ring = nullptr;
    for (QQuickItem *child : focused->childItems())
        ring = child->objectName() == u"focusRing" ? child : ring;
    QVERIFY(ring && ring->isVisible());
    const QImage withFocus = shot(QStringLiteral("home-focus-") + suffix);
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

    QStringList names;
    for (int i = 0; i < 5; ++i)
        names << QStringLiteral("見積書_%1.xlsx").arg(i);
    model->markHomeUploadSucceeded(QStringLiteral("https://drop.example.jp/s/Q7xk2PmA"), names,
                                   true);
    measure("home-success", {"resultMessage", "resultUrl"});
    model->dismissHomeUploadResult();

    model->addHistory({QStringLiteral("議事録.md")}, std::nullopt, false,
                      QStringLiteral("サーバーに接続できませんでした"));
    model->addHistory(names, QStringLiteral("https://drop.example.jp/s/9fK3aZ"), true,
                      QStringLiteral("発行"));
    showTab(MainTab::History, "historyTab");
    measure("history", {"historyCount", "historyTimestamp", "historyUrl", "historyStatusText",
                        "historyMessage", "historyFileCount", "clearHistoryButton"});
    showTab(MainTab::Settings, "settingsTab");
    measure("settings", {"toggleSubtitle", "settingsHint", "versionText"});
}

QTEST_MAIN(TestContentView)
#include "tst_content_view.moc"
