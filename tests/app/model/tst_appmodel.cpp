// The application state on a store file in a temporary folder, never the user's: stored forms,
// damaged stores, the history, the Home form and upload, a store that survives SIGKILL.
#include "AppModel.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>

#include <cstdio>

namespace {

// A store file in a fresh temporary folder, read and written the way another program would.
struct StoreFixture
{
    QTemporaryDir dir;
    QString path() const { return dir.filePath(QStringLiteral("Pelkin Drop.ini")); }
    void write(const QVariantMap &values) const
    {
        QSettings settings(path(), QSettings::IniFormat);
        for (auto it = values.begin(); it != values.end(); ++it)
            settings.setValue(it.key(), it.value());
    }
    QVariant value(const QString &key) const
    {
        return QSettings(path(), QSettings::IniFormat).value(key);
    }
};

QByteArray bytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Read and write for the owner alone (Qt's "current user" bits mirror the owner's).
bool isPrivate(const QString &path)
{
    const auto permissions = QFile::permissions(path) & ~(QFile::ReadUser | QFile::WriteUser);
    return permissions == (QFile::ReadOwner | QFile::WriteOwner);
}

const QString themeKey = QStringLiteral("pelkin.settings.theme");
const QString passwordKey = QStringLiteral("pelkin.settings.defaultPassword");
const QString autoCopyKey = QStringLiteral("pelkin.settings.autoCopyToClipboard");
const QString menuBarIconKey = QStringLiteral("pelkin.settings.showsMenuBarIcon");
const QString historyKey = QStringLiteral("pelkin.history.items");
const QString chooseStatus = QStringLiteral("ファイルを選んでください");

// Entries as another writer stores them, newest first, numbered in their messages.
QJsonArray entries(int count)
{
    QJsonArray array;
    for (int n = 0; n < count; ++n)
        array.append(QJsonObject{
            {"id", QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper()},
            {"timestamp", QStringLiteral("2025-03-01T09:05:%1Z").arg(n % 60, 2, 10, QChar(u'0'))},
            {"fileNames", QJsonArray{QStringLiteral("file%1.txt").arg(n)}},
            {"url", QStringLiteral("https://example.test/%1").arg(n)},
            {"success", true},
            {"message", QString::number(count - 1 - n)}});
    return array;
}

// Two entries as stored, the second with these members replaced (removed when undefined).
QByteArray withMembers(std::initializer_list<std::pair<QString, QJsonValue>> members)
{
    QJsonArray array = entries(2);
    QJsonObject second = array.at(1).toObject();
    for (const auto &[key, value] : members)
        second.insert(key, value);
    array.replace(1, second);
    return QJsonDocument(array).toJson(QJsonDocument::Compact);
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
// after the last change the child reported, or after the one it was making.
// Step 2i adds history entry i, step 2i+1 sets auto-copy to (i is even).

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

// The child: its start-up write is step 2n-1, n being the next entry.
int runBurst(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    AppModel model(QString::fromLocal8Bit(argv[2]));
    const int next = model.history().isEmpty() ? 0 : model.history().first().message.toInt() + 1;
    for (int step = 2 * next - 1;; ++step) {
        const int i = step / 2;
        if (step % 2 == 0)
            model.addHistory({QStringLiteral("file-%1.txt").arg(i)},
                             QStringLiteral("https://example.test/%1").arg(i), i % 3 != 0,
                             QString::number(i));
        else
            model.setAutoCopyToClipboard(stateAfterStep(step).autoCopy);
        std::printf("step %d\n", step);
        std::fflush(stdout);
    }
}

} // namespace

class AppModelTest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_model.reset(); // before its store
        m_store.emplace();
    }

    void loading()
    {
        const QString family = QStringLiteral("👨‍👩‍👧‍👦");
        const struct
        {
            QVariantMap stored;
            AppTheme::Value theme;
            QString password;
            bool flags; // auto-copy and menu bar icon
        } rows[] = {{{}, AppTheme::System, "", true},
                    // A wrong-case theme, Booleans as text and as a number.
                    {{{themeKey, "Dark"}, {autoCopyKey, "false"}, {menuBarIconKey, 0}},
                     AppTheme::System,
                     "",
                     false},
                    // A hand-edited password with commas (a list to QSettings): over-long,
                    // untrimmed, an emoji of several scalars counting as one character.
                    {{{themeKey, "dark"}, {passwordKey, QStringList{" \n", family.repeated(150)}}},
                     AppTheme::Dark,
                     " \n, " + family.repeated(96),
                     true}};
        for (const auto &row : rows) {
            StoreFixture store;
            store.write(row.stored);
            AppModel model(store.path());
            QCOMPARE(model.theme(), row.theme);
            QCOMPARE(model.homePassword(), row.password);
            QCOMPARE(model.autoCopyToClipboard(), row.flags);
            QCOMPARE(model.showsMenuBarIcon(), row.flags);
            QVERIFY(model.damagedStoreCopyPath().isEmpty());
            // What was loaded is written back, as the stored types.
            QCOMPARE(store.value(passwordKey), QVariant(row.password));
            QCOMPARE(store.value(autoCopyKey), QVariant(row.flags ? "true" : "false"));
            QCOMPARE(store.value(menuBarIconKey), QVariant(row.flags ? "true" : "false"));
        }
    }

    void damagedStoreIsCopiedAside_data()
    {
        // The file as given, or else a history that does not decode written beside a password.
        QTest::addColumn<QByteArray>("contents");
        QTest::addColumn<QByteArray>("history");
        const QByteArray truncated = "[General]\npelkin.settings.defaultPassword=pw\n"
                                     "pelkin.history.items=\"@ByteArray([{\\\"";
        QTest::newRow("garbage") << QByteArray("\x00\xff\xfe\x01 garbage", 12) << QByteArray();
        QTest::newRow("truncated history") << truncated << QByteArray();
        QTest::newRow("history entry without a message")
            << QByteArray() << withMembers({{"message", QJsonValue::Undefined}});
        QTest::newRow("history not UTF-8")
            << QByteArray() << QByteArray("[{\"message\":\"\xff\xfe\"}]");
    }
    void damagedStoreIsCopiedAside()
    {
        QFETCH(QByteArray, contents);
        QFETCH(QByteArray, history);
        if (history.isEmpty()) {
            QFile file(m_store->path());
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size());
        } else {
            m_store->write({{historyKey, history}, {passwordKey, "pw"}});
            contents = bytes(m_store->path());
        }
        // What can be read is kept, the history all or nothing; the file is copied aside.
        QCOMPARE(model().defaultPassword(), QString(contents.contains("Password=pw") ? "pw" : ""));
        QVERIFY(model().history().isEmpty());
        QCOMPARE(m_store->value(themeKey), QVariant("system"));
        QCOMPARE(m_store->value(historyKey), QVariant(QByteArray("[]")));
        const QStringList copies =
            QDir(m_store->dir.path()).entryList({QStringLiteral("Pelkin Drop.damaged-*.ini")});
        QCOMPARE(copies, QStringList{QFileInfo(model().damagedStoreCopyPath()).fileName()});
        QCOMPARE(bytes(model().damagedStoreCopyPath()), contents);
        QVERIFY(isPrivate(model().damagedStoreCopyPath()));
        // Rewritten whole: the next start makes no second copy.
        QVERIFY(AppModel(m_store->path()).damagedStoreCopyPath().isEmpty());
    }

    void privateFileAndAbandonedLock()
    {
        // In a folder that does not exist yet, then after someone opened it up.
        const QString path = m_store->dir.filePath(QStringLiteral("Pelkin/Pelkin Drop.ini"));
        AppModel(path).setTheme(AppTheme::Dark);
        QVERIFY(isPrivate(path));
        QVERIFY(
            QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther));

        // A process killed while taking the store's lock leaves an empty lock file;
        // QSettings alone would wait 30 s on it at every write.
        QVERIFY(QFile(path + QStringLiteral(".lock")).open(QIODevice::WriteOnly));
        // One killed before renaming its write leaves a whole copy of the store.
        const QString copy = path + QStringLiteral(".AbC123");
        QVERIFY(QFile(copy).open(QIODevice::WriteOnly));
        const QDeadlineTimer deadline(5000);
        AppModel(path).setDefaultPassword(QStringLiteral("after a crash"));
        QVERIFY2(!deadline.hasExpired(), "a write waited for the abandoned lock");
        QCOMPARE(QSettings(path, QSettings::IniFormat).value(passwordKey),
                 QVariant("after a crash"));
        QVERIFY(isPrivate(path));
        QVERIFY(!QFile::exists(copy));
    }

    void homePasswordFollowsTheDefaultUnlessItsOwn()
    {
        for (const auto &[home, followed] :
             {std::pair{"abc", "xyz"}, {"", "xyz"}, {"own", "own"}}) {
            model().setDefaultPassword(QStringLiteral("abc"));
            model().setHomePassword(home);
            model().setDefaultPassword(QStringLiteral("xyz"));
            QCOMPARE(model().homePassword(), QString(followed));
        }
    }

    void historyStoredForm()
    {
        // As another writer may leave them: a null URL, a lower-case id.
        const QString id = QStringLiteral("0f8fad5b-d9cb-469f-a165-70867728950e");
        m_store->write({{historyKey, withMembers({{"url", QJsonValue::Null}, {"id", id}})}});
        AppModel &model = this->model();
        const QDateTime time(QDate(2025, 3, 1), QTime(9, 5, 1), QTimeZone::utc());
        QCOMPARE(model.history().value(1),
                 UploadHistoryItem(QUuid::fromString(id), time, {"file1.txt"}, {}, true, "0"));

        model.addHistory({QStringLiteral("a.txt"), QStringLiteral("写真 1.png")},
                         QStringLiteral("https://example.test/x"), true, QStringLiteral("発行"));
        // A name that is not valid Unicode is kept with a replacement character.
        model.addHistory({QStringLiteral("bad") + QChar(0xD800)}, std::nullopt, false,
                         QStringLiteral("失敗"));
        QCOMPARE(model.history().first().fileNames, QStringList{QStringLiteral("bad\uFFFD")});

        // Written back, an absent URL has no member; ids upper-case, whole seconds in UTC.
        const QJsonArray array =
            QJsonDocument::fromJson(m_store->value(historyKey).toByteArray()).array();
        QCOMPARE(array.size(), 4);
        QVERIFY(!array.at(0).toObject().contains("url") && !array.at(3).toObject().contains("url"));
        QJsonObject written = array.at(1).toObject();
        const QString newId = written.take("id").toString(),
                      stamp = written.take("timestamp").toString();
        QCOMPARE(newId, QUuid::fromString(newId).toString(QUuid::WithoutBraces).toUpper());
        QCOMPARE(stamp, QDateTime::fromString(stamp, Qt::ISODate).toUTC().toString(Qt::ISODate));
        QCOMPARE(written, (QJsonObject{{"url", "https://example.test/x"},
                                       {"fileNames", QJsonArray{"a.txt", "写真 1.png"}},
                                       {"success", true},
                                       {"message", "発行"}}));
        // In memory as stored (whole seconds), so a reload compares equal.
        QCOMPARE(AppModel(m_store->path()).history(), model.history());
    }

    // The upload's outcomes themselves come from a real server in the shell's tests.
    void homeFormAndItsUpload()
    {
        AppModel &model = this->model();
        // What is selected already is left out however spelled.
        model.setDefaultPassword(QStringLiteral("default"));
        model.setSelectedURLs(files({"/data/a/x.txt"}));
        model.appendFiles(files({"/data/a/b/../x.txt", "/data/./a/x.txt", "/data//a/x.txt", "/y"}));
        QCOMPARE(model.selectedURLs(), files({"/data/a/x.txt", "/y"}));
        // Adding nothing to a selection changes nothing; to none (even nothing), it asks for
        // files and fills an empty Home password with the default.
        const auto addNothing = [&] {
            model.setHomeStatus(QStringLiteral("unchanged"));
            model.setHomePassword(QString());
            model.appendFiles({});
            return std::pair(model.homeStatus(), model.homePassword());
        };
        QCOMPARE(addNothing(), std::pair(QStringLiteral("unchanged"), QString()));
        model.clearSelectedFiles();
        QCOMPARE(addNothing(), std::pair(chooseStatus, QStringLiteral("default")));

        model.requestHomeUpload();          // no callback installed: nothing happens
        QList<std::optional<QString>> sent; // the views' tests check the files sent
        model.onRequestHomeUpload = [&](const auto &, const auto &password) { sent << password; };
        model.appendFiles(files({"/d/a.txt"}));
        model.setHomePassword(QStringLiteral("own"));
        model.requestHomeUpload();
        model.markHomeUploadStarted();
        model.requestHomeUpload(); // ignored while uploading
        QCOMPARE(sent, QList<std::optional<QString>>{QStringLiteral("own")});
        // Progress is clamped and never rounded up.
        for (const auto &[fraction, percent] :
             {std::pair{std::nan(""), 0}, {1.7, 100}, {0.999, 99}}) {
            model.updateHomeUploadProgress(fraction);
            QCOMPARE(model.homeStatus(), QStringLiteral("アップロード中… %1%").arg(percent));
        }

        // The result stays until dismissed; a late report changes nothing.
        model.markHomeUploadSucceeded(QString(), {QStringLiteral("a.txt")}, true);
        model.updateHomeUploadProgress(0.5);
        QCOMPARE(model.homeUploadState(), HomeUploadState::Idle);
        QCOMPARE(model.homeUploadProgress(), 0.999);
        QVERIFY(model.hasHomeUploadResult());
        model.dismissHomeUploadResult();
        QCOMPARE(std::pair(model.homeStatus(), model.homePassword()),
                 std::pair(chooseStatus, QStringLiteral("default")));
        model.markHomeUploadStarted();
        QCOMPARE(model.homeUploadProgress(), 0.0);
    }

    void killedDuringBurstsLeavesWholeStore()
    {
        const StoreFixture &store = *m_store;
        // Close to the cap, so the bursts also cut the oldest entries.
        store.write({{themeKey, "dark"},
                     {passwordKey, "secret pass"},
                     {autoCopyKey, "false"},
                     {historyKey, QJsonDocument(entries(seeded)).toJson(QJsonDocument::Compact)}});
        StoreState previous{seeded - 1, false};
        for (int round = 0; round < 20; ++round) {
            // Every third round kills the child while it is still starting.
            const bool duringStart = round % 3 == 2;
            QProcess child;
            child.start(QCoreApplication::applicationFilePath(), {"--burst", store.path()});
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

            // Before it reported anything it may also have written nothing at all.
            const bool reported = !output.isEmpty();
            const int last = reported ? output.trimmed().split('\n').last().mid(5).toInt()
                                      : 2 * (previous.newest + 1) - 1;
            AppModel reopened(store.path());
            QVERIFY2(reopened.damagedStoreCopyPath().isEmpty(), "the store was found damaged");
            QCOMPARE(reopened.theme(), AppTheme::Dark);
            QCOMPARE(reopened.defaultPassword(), QStringLiteral("secret pass"));
            const QList<UploadHistoryItem> history = reopened.history();
            const StoreState found{history.isEmpty() ? -1 : history.first().message.toInt(),
                                   reopened.autoCopyToClipboard()};
            QVERIFY2(found == stateAfterStep(last) || found == stateAfterStep(last + 1) ||
                         (!reported && found == previous),
                     qPrintable(QString::asprintf("round %d: entry %d, auto-copy %d after step %d",
                                                  round, found.newest, found.autoCopy, last)));
            previous = found;
            // The newest entries, contiguous, at most 300 of them.
            QCOMPARE(history.size(), qMin(found.newest + 1, AppModel::historyLimit));
            for (int i = 0; i < history.size(); ++i)
                QCOMPARE(history.at(i).message.toInt(), found.newest - i);
        }
        // No temporary or lock files are left behind.
        const QStringList left =
            QDir(store.dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System);
        QVERIFY2(left == QStringList{QStringLiteral("Pelkin Drop.ini")},
                 qPrintable(left.join(u'|')));
    }

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
