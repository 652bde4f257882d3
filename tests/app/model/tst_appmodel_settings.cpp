#include "AppModel.h"
#include "StoreFixture.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTest>

class AppModelSettingsTest : public QObject
{
    Q_OBJECT

private slots:
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
};

void AppModelSettingsTest::loading_data()
{
    QTest::addColumn<QVariantMap>("stored");
    QTest::addColumn<AppTheme::Value>("theme");
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("autoCopy");
    QTest::addColumn<bool>("menuBarIcon");

    QTest::newRow("first start") << QVariantMap{} << AppTheme::System << "" << true << true;
    QTest::newRow("every key set") << QVariantMap{{themeKey, "dark"},
                                                  {defaultPasswordKey, "abc"},
                                                  {autoCopyKey, false},
                                                  {menuBarIconKey, false}}
                                   << AppTheme::Dark << "abc" << false << false;
    QTest::newRow("light") << QVariantMap{{themeKey, "light"}} << AppTheme::Light << "" << true
                           << true;
    QTest::newRow("wrong case theme")
        << QVariantMap{{themeKey, "Dark"}} << AppTheme::System << "" << true << true;
    QTest::newRow("unknown theme")
        << QVariantMap{{themeKey, "blue"}} << AppTheme::System << "" << true << true;
    QTest::newRow("auto-copy missing")
        << QVariantMap{{defaultPasswordKey, "pw"}, {menuBarIconKey, false}} << AppTheme::System
        << "pw" << true << false;
    QTest::newRow("menu-bar icon missing")
        << QVariantMap{{autoCopyKey, false}} << AppTheme::System << "" << false << true;
    QTest::newRow("Booleans as text and numbers")
        << QVariantMap{{autoCopyKey, "false"}, {menuBarIconKey, 0}} << AppTheme::System << ""
        << false << false;
    QTest::newRow("hand-edited password with commas")
        << QVariantMap{{defaultPasswordKey, QStringList{"a", "b"}}} << AppTheme::System << "a, b"
        << true << true;
    QTest::newRow("untrimmed password stays")
        << QVariantMap{{defaultPasswordKey, "  p \n"}} << AppTheme::System << "  p \n"
        << true << true;
    QTest::newRow("over-long stored password is cut")
        << QVariantMap{{defaultPasswordKey, QString(150, u'x')}} << AppTheme::System
        << QString(100, u'x') << true << true;
}

void AppModelSettingsTest::loading()
{
    QFETCH(QVariantMap, stored);
    QFETCH(AppTheme::Value, theme);
    QFETCH(QString, password);
    QFETCH(bool, autoCopy);
    QFETCH(bool, menuBarIcon);

    StoreFixture store;
    store.write(stored);
    AppModel model(store.path());
    QCOMPARE(model.theme(), theme);
    QCOMPARE(model.defaultPassword(), password);
    QCOMPARE(model.homePassword(), password);
    QCOMPARE(model.autoCopyToClipboard(), autoCopy);
    QCOMPARE(model.showsMenuBarIcon(), menuBarIcon);
    QVERIFY(model.damagedStoreCopyPath().isEmpty());

    // Every key is (re)written with what was loaded, as the stored types.
    QCOMPARE(store.value(themeKey), QVariant(AppTheme::table().rawValue(theme)));
    QCOMPARE(store.value(defaultPasswordKey), QVariant(password));
    QCOMPARE(store.value(autoCopyKey), QVariant(autoCopy ? "true" : "false"));
    QCOMPARE(store.value(menuBarIconKey), QVariant(menuBarIcon ? "true" : "false"));
    QCOMPARE(store.value(historyKey), QVariant(QByteArray("[]")));
}

void AppModelSettingsTest::damagedStoreIsCopiedAside_data()
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

void AppModelSettingsTest::damagedStoreIsCopiedAside()
{
    QFETCH(QByteArray, contents);
    QFETCH(QString, password);

    StoreFixture store;
    store.writeFile(contents);
    AppModel model(store.path());
    QCOMPARE(model.defaultPassword(), password);
    QCOMPARE(store.value(themeKey), QVariant("system"));
    QCOMPARE(store.value(historyKey), QVariant(QByteArray("[]")));

    const QStringList copies =
        QDir(store.dir.path()).entryList({QStringLiteral("Pelkin Drop.damaged-*.ini")});
    QCOMPARE(copies.size(), 1);
    QCOMPARE(QFileInfo(model.damagedStoreCopyPath()).fileName(), copies.first());
    QFile copy(model.damagedStoreCopyPath());
    QVERIFY(copy.open(QIODevice::ReadOnly));
    QCOMPARE(copy.readAll(), contents);
    QCOMPARE(filePermissions(copy.fileName()), QFile::ReadOwner | QFile::WriteOwner);

    // Rewritten whole: the next start makes no second copy.
    AppModel again(store.path());
    QVERIFY(again.damagedStoreCopyPath().isEmpty());
}

void AppModelSettingsTest::privateFile()
{
    StoreFixture store;
    // In a folder that does not exist yet, then after someone opened it up.
    const QString path = store.dir.filePath(QStringLiteral("Pelkin/Pelkin Drop.ini"));
    {
        AppModel model(path);
        QCOMPARE(filePermissions(path), QFile::ReadOwner | QFile::WriteOwner);
    }
    QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther));
    AppModel model(path);
    model.setDefaultPassword(QStringLiteral("secret"));
    QCOMPARE(filePermissions(path), QFile::ReadOwner | QFile::WriteOwner);
}

void AppModelSettingsTest::defaultPasswordLimit()
{
    StoreFixture store;
    AppModel model(store.path());
    model.setDefaultPassword(QString(150, u'a'));
    QCOMPARE(model.defaultPassword(), QString(100, u'a'));
    QCOMPARE(store.value(defaultPasswordKey), QVariant(QString(100, u'a')));

    // An emoji of several scalars counts as one character.
    const QString family = QStringLiteral("👨‍👩‍👧‍👦");
    model.setDefaultPassword(family.repeated(101));
    QCOMPARE(model.defaultPassword(), family.repeated(100));
    QCOMPARE(model.homePassword(), family.repeated(100));
    QCOMPARE(store.value(defaultPasswordKey), QVariant(family.repeated(100)));

    // Stored untrimmed; trimmed for use.
    model.setDefaultPassword(QStringLiteral("  p  "));
    QCOMPARE(model.normalizedDefaultPassword(), std::optional(QStringLiteral("p")));
    QCOMPARE(store.value(defaultPasswordKey), QVariant("  p  "));
    model.setDefaultPassword(QStringLiteral("   "));
    QCOMPARE(model.normalizedDefaultPassword(), std::nullopt);
    QVERIFY(model.normalizedDefaultPasswordValue().isNull());
}

void AppModelSettingsTest::homePasswordFollowsDefault_data()
{
    QTest::addColumn<QString>("home");
    QTest::addColumn<QString>("newDefault");
    QTest::addColumn<QString>("expectedHome");
    // The default was "abc" before each row.
    QTest::newRow("following") << "abc"
                               << "xyz"
                               << "xyz";
    QTest::newRow("own password stays") << "own"
                                        << "xyz"
                                        << "own";
    QTest::newRow("empty takes the default") << ""
                                             << "xyz"
                                             << "xyz";
    QTest::newRow("following an over-long default")
        << "abc" << QString(150, u'n') << QString(100, u'n');
    QTest::newRow("own over-long password is cut")
        << QString(120, u'o') << "xyz" << QString(100, u'o');
    QTest::newRow("default cleared") << "abc"
                                     << ""
                                     << "";
}

void AppModelSettingsTest::homePasswordFollowsDefault()
{
    QFETCH(QString, home);
    QFETCH(QString, newDefault);
    QFETCH(QString, expectedHome);

    StoreFixture store;
    AppModel model(store.path());
    model.setDefaultPassword(QStringLiteral("abc"));
    model.setHomePassword(home);
    model.setDefaultPassword(newDefault);
    QCOMPARE(model.homePassword(), expectedHome);
}

void AppModelSettingsTest::assignmentsAlwaysWrite()
{
    StoreFixture store;
    AppModel model(store.path());
    model.setTheme(AppTheme::Dark);
    QList<bool> calls;
    model.onMenuBarIconVisibilityChange = [&](bool visible) {
        QCOMPARE(store.value(menuBarIconKey), QVariant(visible ? "true" : "false"));
        calls.append(visible);
    };
    QSignalSpy themeSpy(&model, &AppModel::themeChanged);
    QSignalSpy iconSpy(&model, &AppModel::showsMenuBarIconChanged);

    // Another writer removes keys; assigning an unchanged value writes them all again.
    store.write({}, {themeKey, autoCopyKey});
    model.setTheme(AppTheme::Dark);
    QCOMPARE(store.value(themeKey), QVariant("dark"));
    QCOMPARE(store.value(autoCopyKey), QVariant("true"));
    QCOMPARE(themeSpy.count(), 0);

    // The callback runs on every assignment, after the store was written.
    model.setShowsMenuBarIcon(true);
    model.setShowsMenuBarIcon(false);
    QCOMPARE(calls, (QList<bool>{true, false}));
    QCOMPARE(iconSpy.count(), 1);
    QCOMPARE(AppModel(store.path()).showsMenuBarIcon(), false);
}

void AppModelSettingsTest::sharedUsesTheUserStore()
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
void AppModelSettingsTest::abandonedLockDoesNotStallWrites()
{
    StoreFixture store;
    QFile lock(store.path() + QStringLiteral(".lock"));
    QVERIFY(lock.open(QIODevice::WriteOnly));
    lock.close();

    QElapsedTimer timer;
    timer.start();
    AppModel model(store.path());
    model.setDefaultPassword(QStringLiteral("after a crash"));
    QVERIFY2(timer.elapsed() < 5000, "a write waited for the abandoned lock");
    QCOMPARE(store.value(QStringLiteral("pelkin.settings.defaultPassword")).toString(),
             QStringLiteral("after a crash"));
}

int main(int argc, char **argv)
{
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    QCoreApplication app(argc, argv);
    AppModelSettingsTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_appmodel_settings.moc"
