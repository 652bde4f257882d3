// Launches of the real application on a real X server: a start with
// --background (what the login autostart entry runs) maps no main window, a
// plain start maps it, and a second launch brings the hidden window up.
#include <QProcess>
#include <QUuid>
#include <QtTest>

namespace {

QString appPath()
{
    return qEnvironmentVariable("PELKIN_BINARY_DIR") +
           QStringLiteral("/tests/app/shell/pelkin-drop-under-test");
}

// Windows of `pid` whose title matches `name`, by xdotool; `visibleOnly` counts
// mapped ones. xdotool dies on an X error when a window it is reading goes away
// (Qt makes and drops helper windows while it starts), so such a reading is
// taken again instead of counting as "none".
int windowsOf(qint64 pid, const QString &name, bool visibleOnly)
{
    QStringList args{QStringLiteral("search")};
    if (visibleOnly)
        args << QStringLiteral("--onlyvisible");
    args << QStringLiteral("--pid") << QString::number(pid) << QStringLiteral("--name") << name;
    for (int attempt = 0; attempt < 10; ++attempt) {
        QProcess search;
        search.start(QStringLiteral("xdotool"), args);
        if (!search.waitForFinished(5000))
            return -1;
        if (search.exitStatus() != QProcess::NormalExit || !search.readAllStandardError().isEmpty())
            continue;
        return QString::fromLatin1(search.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts).size();
    }
    return -1;
}

// Mapped windows titled "Pelkin Drop" (the main window).
int mainWindowsOf(qint64 pid)
{
    return windowsOf(pid, QStringLiteral("^Pelkin Drop$"), true);
}

// Any window of `pid`: Qt has connected and set up its windows.
bool hasAnyWindow(qint64 pid)
{
    return windowsOf(pid, QStringLiteral(".*"), false) > 0;
}

// A loaded machine can take long to start Qt Quick for the first time.
constexpr int startTimeoutMs = 30000;

} // namespace

class TestBackgroundLaunch : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void firstLaunch_data();
    void firstLaunch();
    void secondLaunchShowsTheHiddenWindow();

private:
    void start(QProcess &process, const QStringList &options);
    QTemporaryDir m_home;
    QString m_instance;
    QProcess m_first;
};

void TestBackgroundLaunch::init()
{
    QVERIFY(m_home.isValid());
    m_instance = QStringLiteral("pelkin-test-") + QUuid::createUuid().toString(QUuid::Id128);
}

void TestBackgroundLaunch::cleanup()
{
    if (m_first.state() != QProcess::NotRunning) {
        m_first.terminate();
        if (!m_first.waitForFinished(5000))
            m_first.kill();
        m_first.waitForFinished(5000);
    }
}

void TestBackgroundLaunch::start(QProcess &process, const QStringList &options)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), m_home.path());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_home.filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("XDG_DATA_HOME"), m_home.filePath(QStringLiteral("data")));
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.start(appPath(), QStringList{QStringLiteral("http://127.0.0.1:9/api/upload.php"), m_instance} + options);
    QVERIFY2(process.waitForStarted(5000), qPrintable(appPath()));
}

void TestBackgroundLaunch::firstLaunch_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("mainWindows");
    QTest::newRow("from the menu") << QStringList() << 1;
    QTest::newRow("at login") << QStringList{QStringLiteral("--background")} << 0;
}

void TestBackgroundLaunch::firstLaunch()
{
    QFETCH(QStringList, options);
    QFETCH(int, mainWindows);
    start(m_first, options);
    QTRY_VERIFY_WITH_TIMEOUT(hasAnyWindow(m_first.processId()), startTimeoutMs);
    if (mainWindows > 0) {
        QTRY_COMPARE_WITH_TIMEOUT(mainWindowsOf(m_first.processId()), mainWindows, startTimeoutMs);
    } else {
        // Long enough for a window that was going to appear to be mapped.
        QTest::qWait(1500);
        QCOMPARE(mainWindowsOf(m_first.processId()), 0);
    }
    QCOMPARE(m_first.state(), QProcess::Running);
}

void TestBackgroundLaunch::secondLaunchShowsTheHiddenWindow()
{
    start(m_first, {QStringLiteral("--background")});
    QTRY_VERIFY_WITH_TIMEOUT(hasAnyWindow(m_first.processId()), startTimeoutMs);
    QTest::qWait(500);
    QCOMPARE(mainWindowsOf(m_first.processId()), 0);

    QProcess second;
    start(second, {});
    QVERIFY(second.waitForFinished(10000));
    QCOMPARE(second.exitCode(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(mainWindowsOf(m_first.processId()), 1, startTimeoutMs);
}

QTEST_GUILESS_MAIN(TestBackgroundLaunch)
#include "tst_BackgroundLaunch.moc"
