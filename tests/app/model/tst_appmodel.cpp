// The application state, each test on a store file in its own temporary
// folder, never the user's: settings as stored by hand or by older runs,
// damaged stores, the history's stored form, the Home upload, and a store
// that survives SIGKILL at any moment.
#include "AppModel.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSettings>
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
};

// Owner, group and other bits, without Qt's "current user" mirror.
QFileDevice::Permissions filePermissions(const QString &path)
{
    return QFile::permissions(path) &
           ~(QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ExeUser);
}

const QString themeKey = QStringLiteral("pelkin.settings.theme");
const QString passwordKey = QStringLiteral("pelkin.settings.defaultPassword");
const QString autoCopyKey = QStringLiteral("pelkin.settings.autoCopyToClipboard");
const QString menuBarIconKey = QStringLiteral("pelkin.settings.showsMenuBarIcon");
const QString historyKey = QStringLiteral("pelkin.history.items");
const QString chooseStatus = QStringLiteral("ファイルを選んでください");

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
    void loading_data();
    void loading();
    void damagedStoreIsCopiedAside_data();
    void damagedStoreIsCopiedAside();
    void privateFileAndAbandonedLock();
    void passwords();
    void assignmentsAlwaysWrite();
    void historyStoredForm();
    void historyDecoding_data();
    void historyDecoding();
    void historyCapAndRemoval();
    void appendFiles_data();
    void appendFiles();
    void homeUploadWithPassword_data();
    void homeUploadWithPassword();
    void resultStaysUntilDismissed();
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
    QTest::addColumn<bool>("flags"); // auto-copy and menu bar icon
    QTest::newRow("first start") << QVariantMap{} << AppTheme::System << "" << true;
    QTest::newRow("wrong-case theme, Booleans as text and number")
        << QVariantMap{{themeKey, "Dark"}, {autoCopyKey, "false"}, {menuBarIconKey, 0}}
        << AppTheme::System << "" << false;
    QTest::newRow("dark") << QVariantMap{{themeKey, "dark"}} << AppTheme::Dark << "" << true;
    QTest::newRow("hand-edited password with commas, over-long, untrimmed")
        << QVariantMap{{passwordKey, QStringList{" \n", QString(150, u'x')}}} << AppTheme::System
        << " \n, " + QString(96, u'x') << true;
}

void AppModelTest::loading()
{
    QFETCH(QVariantMap, stored);
    QFETCH(AppTheme::Value, theme);
    QFETCH(QString, password);
    QFETCH(bool, flags);
    m_store->write(stored);
    QCOMPARE(model().theme(), theme);
    QCOMPARE(model().homePassword(), password);
    QCOMPARE(model().autoCopyToClipboard(), flags);
    QCOMPARE(model().showsMenuBarIcon(), flags);
    QVERIFY(model().damagedStoreCopyPath().isEmpty());
    // Every key is (re)written with what was loaded, as the stored types.
    QCOMPARE(m_store->value(themeKey), QVariant(AppTheme::table().rawValue(theme)));
    QCOMPARE(m_store->value(passwordKey), QVariant(password));
    QCOMPARE(m_store->value(autoCopyKey), QVariant(flags ? "true" : "false"));
    QCOMPARE(m_store->value(menuBarIconKey), QVariant(flags ? "true" : "false"));
    QCOMPARE(m_store->value(historyKey), QVariant(QByteArray("[]")));
}

void AppModelTest::damagedStoreIsCopiedAside_data()
{
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<QString>("password");
    QTest::newRow("binary garbage") << QByteArray("\x00\xff\xfe\x01 garbage", 12) << "";
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
    QFile file(m_store->path());
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size());
    file.close();
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

void AppModelTest::privateFileAndAbandonedLock()
{
    // In a folder that does not exist yet, then after someone opened it up.
    const QString path = m_store->dir.filePath(QStringLiteral("Pelkin/Pelkin Drop.ini"));
    AppModel(path).setTheme(AppTheme::Dark);
    QCOMPARE(filePermissions(path), QFile::ReadOwner | QFile::WriteOwner);
    QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther));

    // A process killed while taking the store's lock leaves an empty lock file;
    // QSettings alone would wait 30 s on it at every write.
    QFile lock(path + QStringLiteral(".lock"));
    QVERIFY(lock.open(QIODevice::WriteOnly));
    lock.close();
    // One killed before renaming its write leaves a whole copy of the store.
    QFile copy(path + QStringLiteral(".AbC123"));
    QVERIFY(copy.open(QIODevice::WriteOnly));
    copy.close();
    QElapsedTimer timer;
    timer.start();
    AppModel(path).setDefaultPassword(QStringLiteral("after a crash"));
    QVERIFY2(timer.elapsed() < 5000, "a write waited for the abandoned lock");
    QCOMPARE(QSettings(path, QSettings::IniFormat).value(passwordKey), QVariant("after a crash"));
    QCOMPARE(filePermissions(path), QFile::ReadOwner | QFile::WriteOwner);
    QVERIFY(!copy.exists());
}

void AppModelTest::passwords()
{
    // An emoji of several scalars counts as one character.
    const QString family = QStringLiteral("👨‍👩‍👧‍👦");
    model().setDefaultPassword(family.repeated(101));
    QCOMPARE(model().homePassword(), family.repeated(100));
    QCOMPARE(m_store->value(passwordKey), QVariant(family.repeated(100)));
    // Stored untrimmed; trimmed for use.
    model().setDefaultPassword(QStringLiteral("  p  "));
    QCOMPARE(model().normalizedDefaultPassword(), std::optional(QStringLiteral("p")));
    QCOMPARE(m_store->value(passwordKey), QVariant("  p  "));

    // The Home password follows the default unless it has its own.
    const auto follow = [&](const QString &home, const QString &newDefault) {
        model().setDefaultPassword(QStringLiteral("abc"));
        model().setHomePassword(home);
        model().setDefaultPassword(newDefault);
        return model().homePassword();
    };
    QCOMPARE(follow("abc", "xyz"), QString("xyz"));
    QCOMPARE(follow("", "xyz"), QString("xyz"));
    QCOMPARE(follow("own", "xyz"), QString("own"));
    QCOMPARE(follow(QString(120, u'o'), "xyz"), QString(100, u'o'));
    QCOMPARE(follow("abc", ""), QString());

    // Adding to an empty selection (even nothing) fills an empty Home password with the
    // default; adding to a non-empty one, or clearing, leaves it as it is.
    model().setDefaultPassword(QStringLiteral("default"));
    model().appendFiles(files({"/d/a"}));
    model().setHomePassword(QString());
    model().appendFiles({});
    QCOMPARE(model().homePassword(), QString());
    model().setHomePassword(QStringLiteral("own"));
    model().clearSelectedFiles();
    QCOMPARE(model().homeStatus(), chooseStatus);
    model().appendFiles(files({"/d/a"}));
    QCOMPARE(model().homePassword(), QStringLiteral("own"));
    model().clearSelectedFiles();
    model().setHomePassword(QString());
    model().appendFiles({});
    QCOMPARE(model().homePassword(), QStringLiteral("default"));
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
    // Another writer removes keys; assigning an unchanged value writes them all again.
    m_store->write({}, {themeKey, autoCopyKey});
    model.setTheme(AppTheme::Dark);
    QCOMPARE(m_store->value(themeKey), QVariant("dark"));
    QCOMPARE(m_store->value(autoCopyKey), QVariant("true"));
    // The callback runs on every assignment, after the store was written.
    model.setShowsMenuBarIcon(true);
    model.setShowsMenuBarIcon(false);
    QCOMPARE(calls, (QList<bool>{true, false}));
}

void AppModelTest::historyStoredForm()
{
    AppModel &model = this->model();
    model.addHistory({QStringLiteral("a.txt"), QStringLiteral("写真 1.png")},
                     QStringLiteral("https://example.test/x"), true, QStringLiteral("発行"));
    // A name that is not valid Unicode is kept with a replacement character.
    model.addHistory({QStringLiteral("bad") + QChar(0xD800)}, std::nullopt, false,
                     QStringLiteral("失敗"));
    QCOMPARE(model.history().first().fileNames, QStringList{QStringLiteral("bad\uFFFD")});

    const QJsonArray array = storedHistory(*m_store);
    QCOMPARE(array.size(), 2);
    const QJsonObject newest = array.at(0).toObject();
    QJsonObject oldest = array.at(1).toObject();
    QVERIFY(!newest.contains("url"));
    static const QRegularExpression idForm(
        QStringLiteral("^[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}$"));
    static const QRegularExpression timeForm(
        QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\dZ$"));
    QVERIFY(idForm.match(oldest.take("id").toString()).hasMatch());
    QVERIFY(timeForm.match(oldest.take("timestamp").toString()).hasMatch());
    QCOMPARE(oldest, (QJsonObject{{"url", "https://example.test/x"},
                                  {"fileNames", QJsonArray{"a.txt", "写真 1.png"}},
                                  {"success", true},
                                  {"message", "発行"}}));
    QVERIFY(qAbs(model.history().first().timestamp.secsTo(QDateTime::currentDateTimeUtc())) <= 2);
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
    row("url null", withMember("url", QJsonValue::Null), true);
    row("lower-case id", withMember("id", "0f8fad5b-d9cb-469f-a165-70867728950e"), true);
    row("400 entries", entries(400), true);
    row("message missing", withMember("message", QJsonValue::Undefined), false);
    row("fractional seconds", withMember("timestamp", "2025-03-01T09:05:00.750Z"), false);
    row("February 30th", withMember("timestamp", "2025-02-30T09:05:00Z"), false);
    row("id in braces", withMember("id", "{0F8FAD5B-D9CB-469F-A165-70867728950E}"), false);
    row("file name a number", withMember("fileNames", QJsonArray{"a", 1}), false);
    row("truncated", entries(3).chopped(5), false);
    row("invalid UTF-8", "[{\"message\":\"\xff\xfe\"}]", false);
}

void AppModelTest::historyDecoding()
{
    QFETCH(QByteArray, json);
    QFETCH(bool, decodes);
    m_store->write({{historyKey, json}, {passwordKey, "kept"}});
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
    QCOMPARE(second.timestamp, QDateTime(QDate(2025, 3, 1), QTime(9, 5, 1), QTimeZone::utc()));
    QCOMPARE(second.id, QUuid::fromString(original.at(1).toObject().value("id").toString()));
    QVERIFY(model().damagedStoreCopyPath().isEmpty());
    // Written back, an absent URL has no member at all.
    QCOMPARE(storedHistory(*m_store).at(1).toObject().contains("url"), second.url.has_value());
}

void AppModelTest::historyCapAndRemoval()
{
    m_store->write({{historyKey, entries(400)}});
    AppModel &model = this->model();
    const QList<UploadHistoryItem> before = model.history();
    model.addHistory({QStringLiteral("new.txt")}, std::nullopt, true, QStringLiteral("new"));
    QCOMPARE(model.history().mid(1), before.first(299));
    QCOMPARE(storedHistory(*m_store).size(), 300);

    const QList<UploadHistoryItem> items = model.history().first(3);
    model.removeHistoryItem(items.at(1));
    QCOMPARE(model.history().first(2), (QList<UploadHistoryItem>{items.at(0), items.at(2)}));
    model.removeHistoryItemById(items.at(2).idString().toLower());
    QCOMPARE(model.history().size(), 298);
    // No match: the list stays, and the key is written anyway.
    m_store->write({}, {historyKey});
    model.removeHistoryItem(items.at(1));
    QCOMPARE(storedHistory(*m_store).size(), 298);
    // An entry that cannot be stored leaves the stored list as it was.
    QList<UploadHistoryItem> bad = model.history();
    bad.prepend(UploadHistoryItem(QUuid::createUuid(), QDateTime(), {}, std::nullopt, true, {}));
    model.setHistory(bad);
    QCOMPARE(storedHistory(*m_store).size(), 298);
    model.clearHistory();
    QCOMPARE(m_store->value(historyKey), QVariant(QByteArray("[]")));
}

void AppModelTest::appendFiles_data()
{
    QTest::addColumn<QStringList>("selected");
    QTest::addColumn<QStringList>("appended");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<QString>("status");
    const QString x = QStringLiteral("/data/a/x.txt");
    QTest::newRow("dot, dot-dot and double slash duplicates")
        << QStringList{x}
        << QStringList{"/data/a/b/../x.txt", "/data/a/./x.txt", "/data//a/x.txt", "/y"}
        << QStringList{x, "/y"} << "2件選択";
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

void AppModelTest::homeUploadWithPassword_data()
{
    QTest::addColumn<QString>("homePassword");
    QTest::addColumn<QVariant>("sent");
    QTest::newRow("spaces only") << " \n " << QVariant();
    QTest::newRow("padded") << " \u3000pw\n" << QVariant("pw");
    QTest::newRow("150 characters") << QString(150, u'p') << QVariant(QString(100, u'p'));
}

void AppModelTest::homeUploadWithPassword()
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
    const std::optional<QString> expected =
        sent.isValid() ? std::optional(sent.toString()) : std::nullopt;
    QCOMPARE(calls, (QList<std::pair<QList<QUrl>, std::optional<QString>>>{
                        {files({"/d/a", "/d/b"}), expected}}));

    model().markHomeUploadStarted();
    model().requestHomeUpload(); // ignored while uploading
    QCOMPARE(calls.size(), 1);
    // Progress is clamped and never rounded up; a report after the outcome changes nothing.
    for (const auto &[fraction, percent] : {std::pair{std::nan(""), 0},
                                            {-std::numeric_limits<double>::infinity(), 0},
                                            {1.7, 100},
                                            {0.999, 99}}) {
        model().updateHomeUploadProgress(fraction);
        QCOMPARE(model().homeStatus(), QStringLiteral("アップロード中… %1%").arg(percent));
    }
    model().markHomeUploadFailed(QStringLiteral("error"), {});
    model().updateHomeUploadProgress(0.5);
    QCOMPARE(model().homeUploadProgress(), 0.999);
}

// The outcomes themselves come from a real server in the shell's orchestration test.
void AppModelTest::resultStaysUntilDismissed()
{
    AppModel &model = this->model();
    model.setDefaultPassword(QStringLiteral("default"));
    model.appendFiles(files({"/d/a.txt"}));
    model.setHomePassword(QStringLiteral("own"));
    model.markHomeUploadStarted();
    model.updateHomeUploadProgress(0.5);
    model.markHomeUploadSucceeded(QString(), {QStringLiteral("a.txt")}, true);
    QCOMPARE(model.homeUploadState(), HomeUploadState::Idle);
    const HomeUploadResult expected{
        true,
        QString(),
        QStringLiteral("アップロードは成功しましたがURLの取得に失敗しました"),
        {QStringLiteral("a.txt")},
        true};
    QCOMPARE(model.homeUploadResult(), std::optional(expected));
    QCOMPARE(model.homeStatus(), QStringLiteral("アップロード中… 50%"));
    QCOMPARE(model.selectedURLs(), files({"/d/a.txt"}));
    model.dismissHomeUploadResult();
    QVERIFY(model.homeUploadResultValue().isNull());
    QVERIFY(model.selectedURLs().isEmpty());
    QCOMPARE(model.homePassword(), QStringLiteral("default"));
    QCOMPARE(model.homeStatus(), chooseStatus);
    model.markHomeUploadStarted();
    QCOMPARE(model.homeUploadProgress(), 0.0);
}

void AppModelTest::killedDuringBurstsLeavesWholeStore()
{
    const StoreFixture &store = *m_store;
    {
        AppModel model(store.path());
        model.setTheme(AppTheme::Dark);
        model.setDefaultPassword(QStringLiteral("secret pass"));
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
        QVERIFY2(whole, qPrintable(QStringLiteral("round %1: entry %2, auto-copy %3 after step %4")
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
          "%d before the child was ready",
          killedDuringWrite, rounds, killedDuringStart);
    // No temporary or lock files are left behind.
    const QStringList left =
        QDir(store.dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System);
    QVERIFY2(left == QStringList{QStringLiteral("Pelkin Drop.ini")}, qPrintable(left.join(u'|')));
}

// The child of the crash test is this binary with --burst.
int main(int argc, char **argv)
{
    if (argc == 3 && qstrcmp(argv[1], "--burst") == 0)
        return runBurst(argc, argv);
    QTemporaryDir home; // nothing here may reach the user's own store
    qputenv("HOME", home.path().toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", home.path().toLocal8Bit());
    QCoreApplication app(argc, argv);
    AppModelTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_appmodel.moc"
