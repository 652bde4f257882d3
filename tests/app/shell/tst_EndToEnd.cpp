// The application as a user meets it, on a private X server: pelkin-drop (the
// test build, pointed at a reference service on a free port) with a temporary
// home, a real drag of a file from another process driven with XTest, the drop
// zone appearing in the top-right corner (no tray here), the drop, the
// service receiving the file, the URL on the clipboard and in the history.
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QUuid>
#include <QtTest>

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>

namespace {

struct Free
{
    void operator()(void *p) const { std::free(p); }
};
template<typename T> using Reply = std::unique_ptr<T, Free>;

// The viewable top-level windows of one process (no window manager runs, so
// they are children of the root window and their geometry is on screen).
class X11Windows
{
public:
    struct Window
    {
        xcb_window_t id = 0;
        QRect rect;
        QList<xcb_atom_t> types; // _NET_WM_WINDOW_TYPE
    };

    X11Windows()
        : m_connection(xcb_connect(nullptr, nullptr))
    {
        m_pidAtom = atom("_NET_WM_PID");
        m_typeAtom = atom("_NET_WM_WINDOW_TYPE");
        m_root = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root;
    }
    ~X11Windows() { xcb_disconnect(m_connection); }

    xcb_atom_t atom(const QByteArray &name)
    {
        const auto cookie = xcb_intern_atom(m_connection, 0, uint16_t(name.size()), name.data());
        Reply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(m_connection, cookie, nullptr));
        return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    }

    QList<QRect> visibleWindowsOf(qint64 pid)
    {
        QList<QRect> found;
        for (const Window &window : windowsOf(pid))
            found.append(window.rect);
        return found;
    }

    // The first viewable window of the process with this window type.
    std::optional<Window> windowOfType(qint64 pid, const QByteArray &type)
    {
        const xcb_atom_t wanted = atom(type);
        for (const Window &window : windowsOf(pid)) {
            if (window.types.contains(wanted))
                return window;
        }
        return std::nullopt;
    }

    QList<Window> windowsOf(qint64 pid)
    {
        QList<Window> found;
        Reply<xcb_query_tree_reply_t> tree(
            xcb_query_tree_reply(m_connection, xcb_query_tree(m_connection, m_root), nullptr));
        if (!tree)
            return found;
        const xcb_window_t *children = xcb_query_tree_children(tree.get());
        for (int i = 0; i < xcb_query_tree_children_length(tree.get()); ++i) {
            const xcb_window_t window = children[i];
            Reply<xcb_get_window_attributes_reply_t> attributes(xcb_get_window_attributes_reply(
                m_connection, xcb_get_window_attributes(m_connection, window), nullptr));
            if (!attributes || attributes->map_state != XCB_MAP_STATE_VIEWABLE)
                continue;
            Reply<xcb_get_property_reply_t> property(xcb_get_property_reply(
                m_connection,
                xcb_get_property(m_connection, 0, window, m_pidAtom, XCB_ATOM_CARDINAL, 0, 1),
                nullptr));
            if (!property || xcb_get_property_value_length(property.get()) != 4)
                continue;
            if (*static_cast<uint32_t *>(xcb_get_property_value(property.get())) != pid)
                continue;
            Reply<xcb_get_geometry_reply_t> geometry(xcb_get_geometry_reply(
                m_connection, xcb_get_geometry(m_connection, window), nullptr));
            if (!geometry)
                continue;
            Window entry{
                window, QRect(geometry->x, geometry->y, geometry->width, geometry->height), {}};
            Reply<xcb_get_property_reply_t> types(xcb_get_property_reply(
                m_connection,
                xcb_get_property(m_connection, 0, window, m_typeAtom, XCB_ATOM_ATOM, 0, 16),
                nullptr));
            if (types) {
                const auto *atoms =
                    static_cast<const xcb_atom_t *>(xcb_get_property_value(types.get()));
                for (int t = 0; t < xcb_get_property_value_length(types.get()) / 4; ++t)
                    entry.types.append(atoms[t]);
            }
            found.append(entry);
        }
        return found;
    }

private:
    xcb_connection_t *m_connection;
    xcb_atom_t m_pidAtom = XCB_ATOM_NONE;
    xcb_atom_t m_typeAtom = XCB_ATOM_NONE;
    xcb_window_t m_root = 0;
};

bool xdotool(const QStringList &arguments)
{
    return QProcess::execute(QStringLiteral("xdotool"), arguments) == 0;
}

QString binaryDir()
{
    return qEnvironmentVariable("PELKIN_BINARY_DIR");
}

} // namespace

class TestEndToEnd : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();
    void plainTextDragShowsNothing();
    void fileDragUploadsThroughTheZone_data();
    void fileDragUploadsThroughTheZone();
    void secondLaunchLeavesTheFirst();

private:
    std::optional<QRect> dropZone();
    void startDrag(QProcess &source, const QString &toolkit, const QStringList &arguments);
    QJsonArray history() const;

    QTemporaryDir m_dir;
    QProcess m_server;
    QProcess m_app;
    QString m_configHome;
    QString m_dataDir;
    QString m_endpoint;
    QString m_instance;
    std::unique_ptr<X11Windows> m_windows;
};

void TestEndToEnd::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_windows = std::make_unique<X11Windows>();
    m_dataDir = m_dir.filePath(QStringLiteral("service"));
    m_server.setProcessChannelMode(QProcess::SeparateChannels);
    m_server.start(binaryDir() + QStringLiteral("/server/pelkin-upload-server"),
                   {"--listen", "127.0.0.1:0", "--data", m_dataDir});
    QVERIFY(m_server.waitForStarted(5000));
    QVERIFY(m_server.waitForReadyRead(10000));
    const QByteArray line = m_server.readLine().trimmed();
    QVERIFY2(line.startsWith("listening on http://127.0.0.1:"), line.constData());
    m_endpoint = QString::fromLatin1(line.mid(13)) + QStringLiteral("/api/upload.php");

    // A home of its own: settings and history never touch the user's.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    const QString home = m_dir.filePath(QStringLiteral("home"));
    m_configHome = home + QStringLiteral("/.config");
    QDir().mkpath(m_configHome);
    env.insert(QStringLiteral("HOME"), home);
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_configHome);
    env.insert(QStringLiteral("XDG_DATA_HOME"), home + QStringLiteral("/.local/share"));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), home + QStringLiteral("/.cache"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    m_app.setProcessEnvironment(env);
    m_app.setProcessChannelMode(QProcess::ForwardedChannels);
    m_instance = QStringLiteral("pelkin-drop-e2e-") + QUuid::createUuid().toString(QUuid::Id128);
    m_app.start(QCoreApplication::applicationDirPath() + QStringLiteral("/pelkin-drop-under-test"),
                {m_endpoint, m_instance});
    QVERIFY(m_app.waitForStarted(5000));
    // Up when its main window shows (860 × 600, centred).
    QTRY_VERIFY_WITH_TIMEOUT(m_windows->visibleWindowsOf(m_app.processId())
                                 .contains(QRect((1280 - 860) / 2, (800 - 600) / 2, 860, 600)),
                             20000);
}

void TestEndToEnd::cleanupTestCase()
{
    if (m_app.state() != QProcess::NotRunning) {
        m_app.terminate();
        if (!m_app.waitForFinished(5000))
            m_app.kill();
        m_app.waitForFinished(5000);
    }
    m_server.terminate();
    if (!m_server.waitForFinished(5000))
        m_server.kill();
    m_server.waitForFinished(5000);
}

void TestEndToEnd::cleanup()
{
    // A failed step may have left the button down, in the middle of a drag.
    if (QTest::currentTestFailed()) {
        xdotool({"key", "Escape"});
        xdotool({"mouseup", "1"});
    }
}

std::optional<QRect> TestEndToEnd::dropZone()
{
    // The zone is the application's only tool window; without a compositor
    // it is a flat panel of exactly the panel's size.
    if (const auto zone = m_windows->windowOfType(m_app.processId(), "_NET_WM_WINDOW_TYPE_UTILITY"))
        return zone->rect;
    return std::nullopt;
}

void TestEndToEnd::startDrag(QProcess &source, const QString &toolkit, const QStringList &arguments)
{
    // A GTK source, as the desktop's file manager is, or a Qt one. Its
    // window sits at 20,20, 200 × 120.
    const QStringList place{"--place", "20,20,200,120"};
    if (toolkit == QLatin1String("qt"))
        source.start(qEnvironmentVariable("PELKIN_QT_DRAG_SOURCE"), place + arguments);
    else
        source.start(QStringLiteral("/usr/bin/python3"),
                     QStringList{qEnvironmentVariable("PELKIN_SOURCE_DIR") +
                                 QStringLiteral("/tests/support/gtk-drag-source.py")} +
                         place + arguments);
    QVERIFY(source.waitForStarted(5000));
    QTRY_VERIFY_WITH_TIMEOUT(source.canReadLine() || source.waitForReadyRead(50), 10000);
    QCOMPARE(source.readLine().trimmed(), QByteArray("ready"));
    // Relative moves make raw motion, as a real mouse does.
    QVERIFY(xdotool({"mousemove", "120", "80", "mousedown", "1", "mousemove_relative", "--", "20",
                     "20", "sleep", "0.02", "mousemove_relative", "--", "20", "20"}));
    QTRY_VERIFY_WITH_TIMEOUT(source.canReadLine() || source.waitForReadyRead(50), 3000);
    QVERIFY(source.readLine().startsWith("drag-started"));
}

QJsonArray TestEndToEnd::history() const
{
    QSettings store(m_configHome + QStringLiteral("/Pelkin/Pelkin Drop.ini"), QSettings::IniFormat);
    const QVariant value = store.value(QStringLiteral("pelkin.history.items"));
    return QJsonDocument::fromJson(value.toString().toUtf8()).array();
}

void TestEndToEnd::plainTextDragShowsNothing()
{
    QProcess source;
    startDrag(source, QStringLiteral("gtk"), {"--text", "just some words"});
    if (QTest::currentTestFailed())
        return;
    // The monitor polls every 0.18 s; give it more than enough to be wrong.
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 700) {
        QVERIFY2(!dropZone(), "a text drag showed the drop zone");
        QTest::qWait(30);
    }
    QVERIFY(xdotool({"key", "Escape"}));
    QVERIFY(xdotool({"mouseup", "1"}));
    QByteArray said;
    QTRY_VERIFY2_WITH_TIMEOUT((said += source.readAll()).contains("drag-finished"),
                              said.constData(), 5000);
    source.kill();
    source.waitForFinished(5000);
    QVERIFY(!dropZone());
}

void TestEndToEnd::fileDragUploadsThroughTheZone_data()
{
    QTest::addColumn<QString>("toolkit");
    // A Qt source's drag is over for it once it has sent the drop; one that
    // quits then is gone before anyone asks it for the dropped files.
    QTest::addColumn<bool>("sourceQuitsAtTheDrop");
    QTest::newRow("from a GTK source") << QStringLiteral("gtk") << false;
    QTest::newRow("from a Qt source") << QStringLiteral("qt") << false;
    QTest::newRow("from a Qt source that quits") << QStringLiteral("qt") << true;
}

void TestEndToEnd::fileDragUploadsThroughTheZone()
{
    QFETCH(QString, toolkit);
    QFETCH(bool, sourceQuitsAtTheDrop);
    const qsizetype uploadsBefore = history().size();
    const QByteArray content = "end to end " + QUuid::createUuid().toByteArray() + "\n";
    const QString path = m_dir.filePath(QStringLiteral("旅行メモ.txt"));
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }

    QProcess source;
    startDrag(source, toolkit,
              sourceQuitsAtTheDrop ? QStringList{"--quit-at-drop", "--files", path}
                                   : QStringList{"--files", path});
    if (QTest::currentTestFailed())
        return;
    QElapsedTimer clock;
    clock.start();
    QTRY_VERIFY_WITH_TIMEOUT(dropZone().has_value(), 1000);
    const qint64 appearedAfter = clock.elapsed();
    qInfo("drop zone visible %lld ms after the drag started", appearedAfter);
    QVERIFY2(appearedAfter <= 500, "the drop zone took longer than 0.5 s");
    // No tray on this X server: under the top-right corner, 12 px in.
    const QRect zone = *dropZone();
    QCOMPARE(zone, QRect(1280 - 12 - 210, 24 - 4, 210, 36));

    // Over the zone in a few steps (each motion is one XdndPosition), then drop.
    const QPoint target = zone.center();
    QVERIFY(xdotool({"mousemove", "600", "300"}));
    QVERIFY(xdotool({"mousemove", QString::number(target.x() - 20), QString::number(target.y())}));
    QTest::qWait(50);
    QVERIFY(xdotool({"mousemove", QString::number(target.x()), QString::number(target.y())}));
    QTest::qWait(100);
    QVERIFY(xdotool({"mouseup", "1"}));
    QElapsedTimer sinceDrop;
    sinceDrop.start();
    QByteArray said;
    QTRY_VERIFY_WITH_TIMEOUT((said += source.readAll()).contains("drag-finished"), 5000);
    if (sourceQuitsAtTheDrop)
        QTRY_COMPARE_WITH_TIMEOUT(source.state(), QProcess::NotRunning, 5000);

    // The zone stays up for the upload (expanded), then the result, then fades.
    QTRY_COMPARE_WITH_TIMEOUT(history().size(), uploadsBefore + 1, 10000);
    // Well before the seconds Qt would wait on a source that is gone.
    QVERIFY2(sinceDrop.elapsed() < 3000, "the upload started late: the zone hung on the drop");
    const QJsonObject entry = history().first().toObject();
    QCOMPARE(entry.value("fileNames").toArray(), QJsonArray{QStringLiteral("旅行メモ.txt")});
    QCOMPARE(entry.value("success").toBool(), true);
    QCOMPARE(entry.value("message").toString(),
             QStringLiteral("共有URLをクリップボードにコピーしました"));
    const QString url = entry.value("url").toString();
    QVERIFY2(url.startsWith(QStringLiteral("http://127.0.0.1:")), qPrintable(url));
    source.kill();
    source.waitForFinished(5000);

    QProcess clipboard;
    clipboard.start(QStringLiteral("xclip"), {"-o", "-selection", "clipboard"});
    QVERIFY(clipboard.waitForFinished(5000));
    QCOMPARE(QString::fromUtf8(clipboard.readAllStandardOutput()), url);

    // The service has the file, byte for byte.
    bool stored = false;
    QDirIterator it(m_dataDir, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext() && !stored) {
        QFile file(it.next());
        stored = file.size() == content.size() && file.open(QIODevice::ReadOnly) &&
                 file.readAll() == content;
    }
    QVERIFY2(stored, "the service did not store the dropped file");

    // The result shows for 1.1 s in the expanded zone, then the zone goes.
    QTRY_COMPARE_WITH_TIMEOUT(dropZone().value_or(QRect()).size(), QSize(260, 132), 3000);
    QTRY_VERIFY_WITH_TIMEOUT(!dropZone().has_value(), 4000);
    // The application carries on; the alert with the URL waits for the user,
    // who dismisses it before the next drag (its modality refuses drops).
    QCOMPARE(m_app.state(), QProcess::Running);
    std::optional<X11Windows::Window> alert;
    QTRY_VERIFY_WITH_TIMEOUT(
        (alert = m_windows->windowOfType(m_app.processId(), "_NET_WM_WINDOW_TYPE_DIALOG")), 3000);
    QVERIFY(xdotool({"windowfocus", "--sync", QString::number(alert->id), "key", "Return"}));
    QTRY_VERIFY_WITH_TIMEOUT(
        !m_windows->windowOfType(m_app.processId(), "_NET_WM_WINDOW_TYPE_DIALOG"), 3000);
}

void TestEndToEnd::secondLaunchLeavesTheFirst()
{
    QProcess second;
    second.setProcessEnvironment(m_app.processEnvironment());
    second.start(m_app.program(), {m_endpoint, m_instance});
    QVERIFY(second.waitForFinished(10000));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    QCOMPARE(m_app.state(), QProcess::Running);
    QVERIFY(!m_windows->visibleWindowsOf(m_app.processId()).isEmpty());
}

QTEST_GUILESS_MAIN(TestEndToEnd)
#include "tst_EndToEnd.moc"
