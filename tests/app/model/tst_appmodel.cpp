// The application state, each test on a store file in its own temporary
// folder, never the user's: settings as stored by hand or by older runs,
// damaged stores, the history's stored form, the Home upload, and a store
// that survives SIGKILL at any moment.
#include "AppModel.h"
#include "UploadHistoryCodec.h"

#include <QGuiApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>

#include <cstdio>
#include <limits>

namespace {

// A store file in a fresh temporary folder, read and written the way another
// program would.
struct StoreFixture
{
    QTemporaryDir dir;

    QString path() const { return dir.filePath(QStringLiteral("Pelkin Drop.ini")); }

    void write(const QVariantMap &values, const QStringList &removed = {}) const
    {
        QSettings settings(path(), QSettings::IniFormat);
        for (auto it = values.begin(); it != values.end(); ++it)
            settings.setValue(it.key(), it.value());
        for (const QString &key : removed)
            settings.remove(key);
    }

    QVariant value(const QString &key) const
    {
        return QSettings(path(), QSettings::IniFormat).value(key);
    }

    void writeFile(const QByteArray &bytes) const
    {
        QFile file(path());
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            file.write(bytes);
    }
};

// Owner, group and other bits, without Qt's "current user" mirror.
inline QFileDevice::Permissions filePermissions(const QString &path)
{
    return QFile::permissions(path) &
           ~(QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ExeUser);
}

inline const QString themeKey = QStringLiteral("pelkin.settings.theme");
inline const QString defaultPasswordKey = QStringLiteral("pelkin.settings.defaultPassword");
inline const QString autoCopyKey = QStringLiteral("pelkin.settings.autoCopyToClipboard");
inline const QString menuBarIconKey = QStringLiteral("pelkin.settings.showsMenuBarIcon");
inline const QString historyKey = QStringLiteral("pelkin.history.items");


QJsonArray storedHistory(const StoreFixture &store)
{
    return QJsonDocument::fromJson(store.value(historyKey).toByteArray()).array();
}

QJsonObject entry(int n)
{
    return {{"id", QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper()},
            {"timestamp", QStringLiteral("2025-03-01T09:05:%1Z").arg(n % 60, 2, 10, QChar(u'0'))},
            {"fileNames", QJsonArray{QStringLiteral("file%1.txt").arg(n)}},
            {"url", QStringLiteral("https://example.test/%1").arg(n)},
            {"success", true},
            {"message", QString::number(n)}};
}

QByteArray entries(int count)
{
    QJsonArray array;
    for (int i = 0; i < count; ++i)
        array.append(entry(i));
    return QJsonDocument(array).toJson(QJsonDocument::Compact);
}

// Two entries, the second with one member replaced (or removed when undefined).
QByteArray withMember(const QString &key, const QJsonValue &value)
{
    QJsonObject object = entry(1);
    if (value.isUndefined())
        object.remove(key);
    else
        object.insert(key, value);
    return QJsonDocument(QJsonArray{entry(0), object}).toJson(QJsonDocument::Compact);
}

QList<QUrl> files(const QStringList &paths)
{
    QList<QUrl> urls;
    for (const QString &path : paths)
        urls.append(QUrl::fromLocalFile(path));
    return urls;
}

const QString chooseStatus = QStringLiteral("ファイルを選んでください");

// Kills a child process that changes the store as fast as it can, at random
// moments, and checks that every next start finds a whole store: the state
// after the last change the child finished, or after the one it was making.
//
// The child runs steps k = 0, 1, 2, ...: step 2i adds history entry i,
// step 2i+1 sets auto-copy to (i is even). It prints each finished step.

constexpr int rounds = 20;
constexpr int seeded = 290;

struct StoreState
{
    int newest = -1;
    bool autoCopy = false;
    bool operator==(const StoreState &) const = default;
};

StoreState stateAfterStep(int step)
{
    const int newest = step / 2;
    const int lastAutoCopyEntry = step % 2 == 1 ? newest : newest - 1;
    return {newest, lastAutoCopyEntry >= 0 && lastAutoCopyEntry % 2 == 0};
}

int runBurst(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    AppModel model(QString::fromLocal8Bit(argv[2]));
    const int next = model.history().isEmpty() ? 0 : model.history().first().message.toInt() + 1;
    const StoreState start = stateAfterStep(2 * next - 1);
    model.setAutoCopyToClipboard(start.autoCopy);
    std::printf("ready %d\n", next);
    std::fflush(stdout);
    for (int i = next;; ++i) {
        model.addHistory({QStringLiteral("file-%1.txt").arg(i)},
                         QStringLiteral("https://example.test/%1").arg(i), i % 3 != 0,
                         QString::number(i));
        std::printf("step %d\n", 2 * i);
        std::fflush(stdout);
        model.setAutoCopyToClipboard(i % 2 == 0);
        std::printf("step %d\n", 2 * i + 1);
        std::fflush(stdout);
    }
}

} // namespace

class AppModelTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { m_store.emplace(); }
    void cleanup()
    {
        m_model.reset();
        m_store.reset();
    }
    // Settings
    void loading_data();
    void loading();
    void damagedStoreIsCopiedAside_data();
    void damagedStoreIsCopiedAside();
    void privateFile();
    void defaultPasswordLimit();
    void homePasswordFollowsDefault_data();
    void homePasswordFollowsDefault();
    void assignmentsAlwaysWrite();
    void sharedUsesTheUserStore();
    void abandonedLockDoesNotStallWrites();
    // History
    void historyRoundTripAndStoredForm();
    void historyDecoding_data();
    void historyDecoding();
    void historyCap();
    void historyRemoval();
    void historyEncodingFailureKeepsStored();
    // Home upload
    void appendFiles_data();
    void appendFiles();
    void passwordAndRowRemoval();
    void requestHomeUpload_data();
    void requestHomeUpload();
    void progress_data();
    void progress();
    void result_data();
    void result();
    // Crash
    void killedDuringBurstsLeavesWholeStore();

private:
    // The model on the test's store, opened on first use.
    AppModel &model()
    {
        if (!m_model)
            m_model.emplace(m_store->path());
        return *m_model;
    }
    std::optional<StoreFixture> m_store;
    std::optional<AppModel> m_model;
};

void AppModelTest::loading_data()
{
    QTest::addColumn<QVariantMap>("stored");
    QTest::addColumn<AppTheme::Value>("theme");
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("autoCopy");
    QTest::addColumn<bool>("menuBarIcon");

    QTest::newRow("first start") << QVariantMap{} << AppTheme::System << "" << true << true;
    QTest::newRow("every key set") << QVariantMap{{themeKey, "dark"}, {defaultPasswordKey, "abc"},
                                                  {autoCopyKey, false}, {menuBarIconKey, false}}
                                   << AppTheme::Dark << "abc" << false << false;
    QTest::newRow("wrong-case theme, Booleans as text and number")
        << QVariantMap{{themeKey, "Dark"}, {autoCopyKey, "false"}, {menuBarIconKey, 0}}
        << AppTheme::System << "" << false << false;
    QTest::newRow("hand-edited password with commas")
        << QVariantMap{{defaultPasswordKey, QStringList{"a", "b"}}} << AppTheme::System << "a, b"
        << true << true;
    QTest::newRow("over-long password is cut, untrimmed")
        << QVariantMap{{defaultPasswordKey, " \n" + QString(150, u'x')}} << AppTheme::System
        << " \n" + QString(98, u'x') << true << true;
}

void AppModelTest::loading()
{
    QFETCH(QVariantMap, stored);
    QFETCH(AppTheme::Value, theme);
    QFETCH(QString, password);
    QFETCH(bool, autoCopy);
    QFETCH(bool, menuBarIcon);

    m_store->write(stored);
    QCOMPARE(model().theme(), theme);
    QCOMPARE(model().defaultPassword(), password);
    QCOMPARE(model().homePassword(), password);
    QCOMPARE(model().autoCopyToClipboard(), autoCopy);
    QCOMPARE(model().showsMenuBarIcon(), menuBarIcon);
    QVERIFY(model().damagedStoreCopyPath().isEmpty());

    // Every key is (re)written with what was loaded, as the stored types.
    QCOMPARE(m_store->value(themeKey), QVariant(AppTheme::table().rawValue(theme)));
    QCOMPARE(m_store->value(defaultPasswordKey), QVariant(password));
    QCOMPARE(m_store->value(autoCopyKey), QVariant(autoCopy ? "true" : "false"));
    QCOMPARE(m_store->value(menuBarIconKey), QVariant(menuBarIcon ? "true" : "false"));
    QCOMPARE(m_store->value(historyKey), QVariant(QByteArray("[]")));
}

void AppModelTest::damagedStoreIsCopiedAside_data()
{
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<QString>("password");
    QTest::newRow("binary garbage") << QByteArray("\x00\xff\xfe\x01 garbage", 12) << "";
    QTest::newRow("text without keys") << QByteArray("random text\n") << "";
    QTest::newRow("truncated history") << QByteArray("[General]\n"
                                                     "pelkin.settings.defaultPassword=pw\n"
                                                     "pelkin.history.items=\"@ByteArray([{\\\"")
                                       << "pw";
    QTest::newRow("history not JSON")
        << QByteArray("pelkin.settings.defaultPassword=pw\npelkin.history.items=@ByteArray(x)\n")
        << "pw";
}

void AppModelTest::damagedStoreIsCopiedAside()
{
    QFETCH(QByteArray, contents);
    QFETCH(QString, password);

    m_store->writeFile(contents);
    QCOMPARE(model().defaultPassword(), password);
    QCOMPARE(m_store->value(themeKey), QVariant("system"));
    QCOMPARE(m_store->value(historyKey), QVariant(QByteArray("[]")));

    const QStringList copies =
        QDir(m_store->dir.path()).entryList({QStringLiteral("Pelkin Drop.damaged-*.ini")});
    QCOMPARE(copies, QStringList{QFileInfo(model().damagedStoreCopyPath()).fileName()});
    QFile copy(model().damagedStoreCopyPath());
    QVERIFY(copy.open(QIODevice::ReadOnly));
    QCOMPARE(copy.readAll(), contents);
    QCOMPARE(filePermissions(copy.fileName()), QFile::ReadOwner | QFile::WriteOwner);

    // Rewritten whole: the next start makes no second copy.
    QVERIFY(AppModel(m_store->path()).damagedStoreCopyPath().isEmpty());
}

void AppModelTest::privateFile()
{
    // In a folder that does not exist yet, then after someone opened it up.
    const QString path = m_store->dir.filePath(QStringLiteral("Pelkin/Pelkin Drop.ini"));
    {
        AppModel model(path);
        QCOMPARE(filePermissions(path), QFile::ReadOwner | QFile::WriteOwner);
    }
    QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther));
    AppModel model(path);
    model.setDefaultPassword(QStringLiteral("secret"));
    QCOMPARE(filePermissions(path), QFile::ReadOwner | QFile::WriteOwner);
}

void AppModelTest::defaultPasswordLimit()
{
    // An emoji of several scalars counts as one character.
    const QString family = QStringLiteral("👨‍👩‍👧‍👦");
    model().setDefaultPassword(family.repeated(101));
    QCOMPARE(model().defaultPassword(), family.repeated(100));
    QCOMPARE(model().homePassword(), family.repeated(100));
    QCOMPARE(m_store->value(defaultPasswordKey), QVariant(family.repeated(100)));

    // Stored untrimmed; trimmed for use.
    model().setDefaultPassword(QStringLiteral("  p  "));
    QCOMPARE(model().normalizedDefaultPassword(), std::optional(QStringLiteral("p")));
    QCOMPARE(m_store->value(defaultPasswordKey), QVariant("  p  "));
    model().setDefaultPassword(QStringLiteral("   "));
    QVERIFY(model().normalizedDefaultPasswordValue().isNull());
}

void AppModelTest::homePasswordFollowsDefault_data()
{
    QTest::addColumn<QString>("home");
    QTest::addColumn<QString>("newDefault");
    QTest::addColumn<QString>("expectedHome");
    // The default was "abc" before each row.
    QTest::newRow("following") << "abc" << "xyz" << "xyz";
    QTest::newRow("own password stays") << "own" << "xyz" << "own";
    QTest::newRow("empty takes the default") << "" << "xyz" << "xyz";
    QTest::newRow("own over-long password is cut") << QString(120, u'o') << "xyz"
                                                   << QString(100, u'o');
    QTest::newRow("default cleared") << "abc" << "" << "";
}

void AppModelTest::homePasswordFollowsDefault()
{
    QFETCH(QString, home);
    QFETCH(QString, newDefault);
    QFETCH(QString, expectedHome);
    model().setDefaultPassword(QStringLiteral("abc"));
    model().setHomePassword(home);
    model().setDefaultPassword(newDefault);
    QCOMPARE(model().homePassword(), expectedHome);
}

void AppModelTest::assignmentsAlwaysWrite()
{
    AppModel &model = this->model();
    model.setTheme(AppTheme::Dark);
    QList<bool> calls;
    model.onMenuBarIconVisibilityChange = [&](bool visible) {
        QCOMPARE(m_store->value(menuBarIconKey), QVariant(visible ? "true" : "false"));
        calls.append(visible);
    };
    QSignalSpy themeSpy(&model, &AppModel::themeChanged);
    QSignalSpy iconSpy(&model, &AppModel::showsMenuBarIconChanged);

    // Another writer removes keys; assigning an unchanged value writes them all again.
    m_store->write({}, {themeKey, autoCopyKey});
    model.setTheme(AppTheme::Dark);
    QCOMPARE(m_store->value(themeKey), QVariant("dark"));
    QCOMPARE(m_store->value(autoCopyKey), QVariant("true"));
    QCOMPARE(themeSpy.count(), 0);

    // The callback runs on every assignment, after the store was written.
    model.setShowsMenuBarIcon(true);
    model.setShowsMenuBarIcon(false);
    QCOMPARE(calls, (QList<bool>{true, false}));
    QCOMPARE(iconSpy.count(), 1);
    QCOMPARE(AppModel(m_store->path()).showsMenuBarIcon(), false);
}

void AppModelTest::sharedUsesTheUserStore()
{
    // main() pointed XDG_CONFIG_HOME at a temporary folder.
    const QString expected = QDir(qEnvironmentVariable("XDG_CONFIG_HOME"))
                                 .filePath(QStringLiteral("Pelkin/Pelkin Drop.ini"));
    QCOMPARE(AppModel::shared(), AppModel::shared());
    QCOMPARE(AppModel::shared()->settingsFilePath(), expected);
    QCOMPARE(QSettings(expected, QSettings::IniFormat).value(themeKey), QVariant("system"));
}

// A process killed while taking the store's lock leaves an empty lock file;
// QSettings alone would wait 30 s on it at every write.
void AppModelTest::abandonedLockDoesNotStallWrites()
{
    QFile lock(m_store->path() + QStringLiteral(".lock"));
    QVERIFY(lock.open(QIODevice::WriteOnly));
    lock.close();
    QElapsedTimer timer;
    timer.start();
    model().setDefaultPassword(QStringLiteral("after a crash"));
    QVERIFY2(timer.elapsed() < 5000, "a write waited for the abandoned lock");
    QCOMPARE(m_store->value(defaultPasswordKey), QVariant("after a crash"));
}

void AppModelTest::historyRoundTripAndStoredForm()
{
    AppModel &model = this->model();
    QSignalSpy spy(&model, &AppModel::historyChanged);
    model.addHistory({QStringLiteral("a.txt"), QStringLiteral("写真 1.png")},
                     QStringLiteral("https://example.test/x"), true, QStringLiteral("発行"));
    // A name that is not valid Unicode is kept with a replacement character.
    model.addHistory({QStringLiteral("bad") + QChar(0xD800)}, std::nullopt, false,
                     QStringLiteral("失敗"));
    QCOMPARE(spy.count(), 2);
    QCOMPARE(model.history().first().fileNames, QStringList{QStringLiteral("bad\uFFFD")});
    QCOMPARE(model.historyList().first().toMap().value("id"), model.history().first().idString());

    const QJsonArray array = storedHistory(*m_store);
    QCOMPARE(array.size(), 2);
    const QJsonObject newest = array.at(0).toObject();
    const QJsonObject oldest = array.at(1).toObject();
    QCOMPARE(newest.value("message"), QJsonValue("失敗"));
    QVERIFY(!newest.contains("url"));
    QCOMPARE(oldest.value("url"), QJsonValue("https://example.test/x"));
    QCOMPARE(oldest.value("fileNames"), QJsonValue(QJsonArray{"a.txt", "写真 1.png"}));
    QCOMPARE(oldest.value("success"), QJsonValue(true));
    static const QRegularExpression idForm(
        QStringLiteral("^[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}$"));
    static const QRegularExpression timeForm(
        QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\dZ$"));
    QVERIFY(idForm.match(newest.value("id").toString()).hasMatch());
    QVERIFY(timeForm.match(newest.value("timestamp").toString()).hasMatch());
    QVERIFY(qAbs(model.history().first().timestamp.secsTo(QDateTime::currentDateTimeUtc())) <= 2);
    const QDateTime tokyo(QDate(2025, 3, 1), QTime(18, 5, 0, 750), QTimeZone("Asia/Tokyo"));
    QCOMPARE(UploadHistoryCodec::formatTimestamp(tokyo), QStringLiteral("2025-03-01T09:05:00Z"));

    // In memory as stored (whole seconds), so a reload compares equal.
    QCOMPARE(AppModel(m_store->path()).history(), model.history());
}

void AppModelTest::historyDecoding_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<bool>("decodes");
    const auto row = [](const char *name, const QByteArray &json, bool decodes) {
        QTest::newRow(name) << json << decodes;
    };
    row("url missing", withMember("url", QJsonValue::Undefined), true);
    row("url null", withMember("url", QJsonValue::Null), true);
    row("extra member", withMember("extra", 42), true);
    row("lower-case id", withMember("id", "0f8fad5b-d9cb-469f-a165-70867728950e"), true);
    row("400 entries", entries(400), true);
    row("message missing", withMember("message", QJsonValue::Undefined), false);
    row("success missing", withMember("success", QJsonValue::Undefined), false);
    row("fractional seconds", withMember("timestamp", "2025-03-01T09:05:00.750Z"), false);
    row("zone offset", withMember("timestamp", "2025-03-01T18:05:00+09:00"), false);
    row("no zone", withMember("timestamp", "2025-03-01T09:05:00"), false);
    row("February 30th", withMember("timestamp", "2025-02-30T09:05:00Z"), false);
    row("number timestamp", withMember("timestamp", 760000000), false);
    row("id in braces", withMember("id", "{0F8FAD5B-D9CB-469F-A165-70867728950E}"), false);
    row("success as text", withMember("success", "true"), false);
    row("file name a number", withMember("fileNames", QJsonArray{"a", 1}), false);
    row("message null", withMember("message", QJsonValue::Null), false);
    row("object, not array", "{}", false);
    row("truncated", entries(3).chopped(5), false);
    row("trailing garbage", entries(1) + "x", false);
    row("invalid UTF-8", "[{\"message\":\"\xff\xfe\"}]", false);
}

void AppModelTest::historyDecoding()
{
    QFETCH(QByteArray, json);
    QFETCH(bool, decodes);
    m_store->write({{historyKey, json}, {defaultPasswordKey, "kept"}});
    QCOMPARE(model().defaultPassword(), QStringLiteral("kept"));
    if (!decodes) {
        // All or nothing; what was thrown away survives in the copy.
        QVERIFY(model().history().isEmpty());
        QCOMPARE(m_store->value(historyKey), QVariant(QByteArray("[]")));
        QCOMPARE(QSettings(model().damagedStoreCopyPath(), QSettings::IniFormat).value(historyKey),
                 QVariant(json));
        return;
    }
    const QJsonArray original = QJsonDocument::fromJson(json).array();
    QCOMPARE(model().history().size(), original.size()); // no cap on load
    const UploadHistoryItem &second = model().history().at(1);
    QCOMPARE(second.url.has_value(), original.at(1).toObject().value("url").isString());
    QCOMPARE(second.timestamp, QDateTime(QDate(2025, 3, 1), QTime(9, 5, 1), QTimeZone::utc()));
    QCOMPARE(second.id, QUuid::fromString(original.at(1).toObject().value("id").toString()));
    QVERIFY(model().damagedStoreCopyPath().isEmpty());
    // Written back, an absent URL has no member at all.
    QCOMPARE(storedHistory(*m_store).at(1).toObject().contains("url"), second.url.has_value());
}

void AppModelTest::historyCap()
{
    for (const int count : {300, 400}) {
        StoreFixture store;
        store.write({{historyKey, entries(count)}});
        AppModel model(store.path());
        const QList<UploadHistoryItem> before = model.history();
        model.addHistory({QStringLiteral("new.txt")}, std::nullopt, true, QStringLiteral("new"));
        QCOMPARE(model.history().size(), 300);
        QCOMPARE(model.history().first().message, QStringLiteral("new"));
        QCOMPARE(model.history().mid(1), before.first(299));
        QCOMPARE(storedHistory(store).size(), 300);
    }
}

void AppModelTest::historyRemoval()
{
    AppModel &model = this->model();
    for (int i = 0; i < 3; ++i)
        model.addHistory({}, std::nullopt, true, QString::number(i));
    const QList<UploadHistoryItem> items = model.history();

    model.removeHistoryItem(items.at(1));
    QCOMPARE(model.history(), (QList<UploadHistoryItem>{items.at(0), items.at(2)}));
    model.removeHistoryItemById(items.at(2).idString().toLower());
    QCOMPARE(model.history(), QList<UploadHistoryItem>{items.at(0)});

    // No match: the list stays, and the key is written anyway.
    m_store->write({}, {historyKey});
    model.removeHistoryItem(items.at(1));
    QCOMPARE(model.history(), QList<UploadHistoryItem>{items.at(0)});
    QCOMPARE(storedHistory(*m_store).size(), 1);

    model.clearHistory();
    QVERIFY(model.history().isEmpty());
    QCOMPARE(m_store->value(historyKey), QVariant(QByteArray("[]")));
}

void AppModelTest::historyEncodingFailureKeepsStored()
{
    model().addHistory({QStringLiteral("a.txt")}, std::nullopt, true, QStringLiteral("kept"));
    const QVariant before = m_store->value(historyKey);
    QList<UploadHistoryItem> items = model().history();
    items.prepend(UploadHistoryItem(QUuid::createUuid(), QDateTime(), {}, std::nullopt, true, {}));
    model().setHistory(items);
    QCOMPARE(model().history().size(), 2);
    QCOMPARE(m_store->value(historyKey), before);
}

void AppModelTest::appendFiles_data()
{
    QTest::addColumn<QStringList>("selected");
    QTest::addColumn<QStringList>("appended");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<QString>("status");
    const QString x = QStringLiteral("/data/a/x.txt");
    QTest::newRow("new files") << QStringList{x} << QStringList{"/y", "/z"}
                               << QStringList{x, "/y", "/z"} << "3件選択";
    QTest::newRow("dot, dot-dot and double slash duplicates")
        << QStringList{x} << QStringList{"/data/a/b/../x.txt", "/data/a/./x.txt", "/data//a/x.txt"}
        << QStringList{x} << "1件選択";
    QTest::newRow("kept as given") << QStringList{"/data/a/../a/x.txt"} << QStringList{x, "/q/../r"}
                                   << QStringList{"/data/a/../a/x.txt", "/q/../r"} << "2件選択";
    QTest::newRow("same new file twice in one call")
        << QStringList{} << QStringList{x, x} << QStringList{x, x} << "2件選択";
    QTest::newRow("empty into empty")
        << QStringList{} << QStringList{} << QStringList{} << chooseStatus;
    QTest::newRow("empty into non-empty changes nothing")
        << QStringList{x} << QStringList{} << QStringList{x} << "unchanged";
}

void AppModelTest::appendFiles()
{
    QFETCH(QStringList, selected);
    QFETCH(QStringList, appended);
    QFETCH(QStringList, expected);
    QFETCH(QString, status);
    model().setSelectedURLs(files(selected));
    model().setHomeStatus(QStringLiteral("unchanged"));
    model().appendFiles(files(appended));
    QCOMPARE(model().selectedURLs(), files(expected));
    QCOMPARE(model().homeStatus(), status);
}

void AppModelTest::passwordAndRowRemoval()
{
    AppModel &model = this->model();
    model.setDefaultPassword(QStringLiteral("default"));
    const QList<QUrl> urls = files({"/d/a", "/d/b", "/d/a"});

    // Appending nothing to a non-empty selection leaves even an empty password.
    model.appendFiles(urls);
    model.setHomePassword(QString());
    model.appendFiles({});
    QCOMPARE(model.homePassword(), QString());

    // Clearing keeps the password's text; appending fills it only when empty.
    model.setHomePassword(QStringLiteral("own"));
    model.clearSelectedFiles();
    QCOMPARE(model.homeStatus(), chooseStatus);
    model.appendFiles(urls);
    QCOMPARE(model.homePassword(), QStringLiteral("own"));
    model.clearSelectedFiles();
    model.setHomePassword(QString());
    model.appendFiles({});
    QCOMPARE(model.homePassword(), QStringLiteral("default"));
}

void AppModelTest::requestHomeUpload_data()
{
    QTest::addColumn<QString>("homePassword");
    QTest::addColumn<QVariant>("sent");
    QTest::newRow("spaces only") << " \n " << QVariant();
    QTest::newRow("padded") << " \u3000pw\n" << QVariant("pw");
    QTest::newRow("150 characters") << QString(150, u'p') << QVariant(QString(100, u'p'));
}

void AppModelTest::requestHomeUpload()
{
    QFETCH(QString, homePassword);
    QFETCH(QVariant, sent);
    model().requestHomeUpload(); // no callback installed: nothing happens
    QList<std::pair<QList<QUrl>, std::optional<QString>>> calls;
    model().onRequestHomeUpload = [&](const QList<QUrl> &urls, const std::optional<QString> &pw) {
        calls.append({urls, pw});
    };
    model().appendFiles(files({"/d/a", "/d/b"}));
    model().setHomePassword(homePassword);
    model().requestHomeUpload();
    QCOMPARE(calls.size(), 1);
    QCOMPARE(calls.first().first, files({"/d/a", "/d/b"}));
    QCOMPARE(calls.first().second.has_value(), sent.isValid());
    QCOMPARE(calls.first().second.value_or(QString()), sent.toString());

    model().markHomeUploadStarted();
    model().requestHomeUpload(); // ignored while uploading
    QCOMPARE(calls.size(), 1);
}

void AppModelTest::progress_data()
{
    QTest::addColumn<double>("fraction");
    QTest::addColumn<double>("stored");
    QTest::addColumn<QString>("percent");
    const double infinity = std::numeric_limits<double>::infinity();
    QTest::newRow("over 1") << 1.7 << 1.0 << "100";
    QTest::newRow("negative") << -0.2 << 0.0 << "0";
    QTest::newRow("not rounded up") << 0.999 << 0.999 << "99";
    QTest::newRow("not a number") << std::nan("") << 0.0 << "0";
    QTest::newRow("minus infinity") << -infinity << 0.0 << "0";
}

void AppModelTest::progress()
{
    QFETCH(double, fraction);
    QFETCH(double, stored);
    QFETCH(QString, percent);
    model().markHomeUploadStarted();
    QVERIFY(model().isHomeUploading());
    QCOMPARE(model().homeStatus(), QStringLiteral("アップロード中…"));
    model().updateHomeUploadProgress(fraction);
    QCOMPARE(model().homeUploadProgress(), stored);
    const QString status = QStringLiteral("アップロード中… %1%").arg(percent);
    QCOMPARE(model().homeStatus(), status);

    // A report that arrives after the outcome changes nothing.
    model().markHomeUploadFailed(QStringLiteral("error"), {});
    model().updateHomeUploadProgress(0.5);
    QCOMPARE(model().homeUploadProgress(), stored);
    QCOMPARE(model().homeStatus(), status);
}

void AppModelTest::result_data()
{
    QTest::addColumn<bool>("success");
    QTest::addColumn<QVariant>("url");
    QTest::addColumn<bool>("copied");
    QTest::addColumn<QString>("message");
    const QVariant url("https://example.test/s");
    const QString noUrl = QStringLiteral("アップロードは成功しましたがURLの取得に失敗しました");
    QTest::newRow("copied") << true << url << true << "共有URLをクリップボードにコピーしました";
    QTest::newRow("empty URL, said copied") << true << QVariant("") << true << noUrl;
    QTest::newRow("no URL") << true << QVariant() << false << noUrl;
    QTest::newRow("failed") << false << QVariant() << false << "ネットワークエラー";
}

void AppModelTest::result()
{
    QFETCH(bool, success);
    QFETCH(QVariant, url);
    QFETCH(bool, copied);
    QFETCH(QString, message);
    AppModel &model = this->model();
    model.setDefaultPassword(QStringLiteral("default"));
    model.appendFiles(files({"/d/a.txt"}));
    model.setHomePassword(QStringLiteral("own"));
    model.markHomeUploadStarted();
    model.updateHomeUploadProgress(0.5);

    const std::optional<QString> given =
        url.isValid() ? std::optional(url.toString()) : std::nullopt;
    if (success)
        model.markHomeUploadSucceeded(given, {QStringLiteral("a.txt")}, copied);
    else
        model.markHomeUploadFailed(message, {QStringLiteral("a.txt")});
    QCOMPARE(model.homeUploadState(), HomeUploadState::Idle);
    const HomeUploadResult expected{success, given, message, {QStringLiteral("a.txt")}, copied};
    QCOMPARE(model.homeUploadResult(), std::optional(expected));
    QCOMPARE(model.homeUploadResultValue().toMap().value("message"), QVariant(message));
    // Status, progress and selection stay as they were.
    QCOMPARE(model.homeStatus(), QStringLiteral("アップロード中… 50%"));
    QCOMPARE(model.selectedURLs(), files({"/d/a.txt"}));

    model.dismissHomeUploadResult();
    QVERIFY(model.homeUploadResultValue().isNull());
    QVERIFY(model.selectedURLs().isEmpty());
    QCOMPARE(model.homePassword(), QStringLiteral("default"));
    QCOMPARE(model.homeStatus(), chooseStatus);
    QCOMPARE(model.homeUploadProgress(), 0.5); // reset by the next start
    model.markHomeUploadStarted();
    QCOMPARE(model.homeUploadProgress(), 0.0);
}

void AppModelTest::killedDuringBurstsLeavesWholeStore()
{
    StoreFixture store;
    {
        AppModel model(store.path());
        model.setTheme(AppTheme::Dark);
        model.setDefaultPassword(QStringLiteral("secret pass"));
        model.setShowsMenuBarIcon(false);
        model.setAutoCopyToClipboard(false);
        // Close to the cap, so the bursts also cut the oldest entries.
        QList<UploadHistoryItem> seed;
        for (int i = seeded - 1; i >= 0; --i)
            seed.append(UploadHistoryItem(QUuid::createUuid(), QDateTime::currentDateTimeUtc(),
                                          {QStringLiteral("seed.txt")}, std::nullopt, true,
                                          QString::number(i)));
        model.setHistory(seed);
    }

    int killedDuringWrite = 0;
    int killedDuringStart = 0;
    StoreState previous{seeded - 1, false};
    for (int round = 0; round < rounds; ++round) {
        // Every third round kills the child while it is still starting.
        const bool duringStart = round % 3 == 2;
        QProcess child;
        child.setProgram(QCoreApplication::applicationFilePath());
        child.setArguments({QStringLiteral("--burst"), store.path()});
        child.start();
        QVERIFY2(child.waitForStarted(5000), qPrintable(child.errorString()));
        QByteArray output;
        while (!duringStart && !output.contains('\n')) {
            QVERIFY2(child.waitForReadyRead(10000), "the child did not get ready");
            output += child.readAllStandardOutput();
        }
        QTest::qWait(QRandomGenerator::global()->bounded(1, duringStart ? 40 : 120));
        child.kill();
        QVERIFY(child.waitForFinished(5000));
        output += child.readAllStandardOutput();

        // The last step the child reported as finished.
        int lastStep = -2;
        for (const QByteArray &line : output.split('\n')) {
            if (line.startsWith("ready "))
                lastStep = 2 * line.mid(6).toInt() - 1;
            else if (line.startsWith("step "))
                lastStep = line.mid(5).toInt();
        }

        AppModel reopened(store.path());
        QVERIFY2(reopened.damagedStoreCopyPath().isEmpty(), "the store was found damaged");
        QCOMPARE(reopened.theme(), AppTheme::Dark);
        QCOMPARE(reopened.defaultPassword(), QStringLiteral("secret pass"));
        QCOMPARE(reopened.showsMenuBarIcon(), false);

        const QList<UploadHistoryItem> history = reopened.history();
        const StoreState found{history.isEmpty() ? -1 : history.first().message.toInt(),
                               reopened.autoCopyToClipboard()};
        bool whole = false;
        if (lastStep == -2) {
            // Killed before it was ready: untouched, or its start-up write, or
            // its first step.
            ++killedDuringStart;
            const int next = previous.newest + 1;
            whole = found == previous || found == stateAfterStep(2 * next - 1) ||
                    found == stateAfterStep(2 * next);
        } else {
            const bool inFlight = found == stateAfterStep(lastStep + 1);
            whole = found == stateAfterStep(lastStep) || inFlight;
            killedDuringWrite += inFlight ? 1 : 0;
        }
        QVERIFY2(whole,
                 qPrintable(QStringLiteral("round %1: found entry %2/auto-copy %3 after step %4")
                                .arg(round)
                                .arg(found.newest)
                                .arg(found.autoCopy)
                                .arg(lastStep)));
        previous = found;

        // The newest entries, contiguous, at most 300 of them.
        QCOMPARE(history.size(), qMin(found.newest + 1, AppModel::historyLimit));
        for (int i = 0; i < history.size(); ++i)
            QCOMPARE(history.at(i).message.toInt(), found.newest - i);
    }
    qInfo("%d of %d kills landed after a change was stored but before it was reported; "
          "%d before the child was ready; newest entry %d",
          killedDuringWrite, rounds, killedDuringStart, previous.newest);
    // No temporary or lock files are left behind.
    QCOMPARE(QDir(store.dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System),
             QStringList{QStringLiteral("Pelkin Drop.ini")});
}

// shared() opens the user's store: point HOME and XDG_CONFIG_HOME at a temporary folder.
int main(int argc, char **argv)
{
    if (argc == 3 && qstrcmp(argv[1], "--burst") == 0)
        return runBurst(argc, argv);
    QTemporaryDir home;
    qputenv("HOME", home.path().toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", QDir(home.path()).filePath(QStringLiteral(".config")).toLocal8Bit());
    QGuiApplication app(argc, argv);
    AppModelTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_appmodel.moc"
