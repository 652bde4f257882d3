// The share panel program on a real X server against the reference upload
// service: the user clicks with XTest, another X client reads the clipboard.

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QJsonArray>
#include <QMap>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QScreen>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// Runs a short X client and returns its standard output.
QByteArray runTool(const QString &program, const QStringList &arguments, int *exitCode = nullptr)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished(1000);
    }
    if (exitCode) {
        *exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }
    return process.readAllStandardOutput();
}

// The panel's visible top-level window, or 0.
QString panelWindow()
{
    const QByteArray ids =
        runTool(QStringLiteral("xdotool"), {"search", "--onlyvisible", "--name", "^Pelkin Drop$"});
    return QString::fromLatin1(ids).split(QLatin1Char('\n'), Qt::SkipEmptyParts).value(0);
}

void clickInWindow(const QString &window, int x, int y)
{
    runTool(QStringLiteral("xdotool"), {"mousemove", "--window", window, QString::number(x),
                                        QString::number(y), "click", "1"});
}

QString clipboardText()
{
    return QString::fromUtf8(runTool(QStringLiteral("xclip"), {"-o", "-selection", "clipboard"}));
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestShareEndToEnd : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir serverData;
    QProcess server;
    QString endpoint;

    // A panel process with its own temporary folder (to see what it leaves).
    struct Panel
    {
        std::unique_ptr<QTemporaryDir> temp = std::make_unique<QTemporaryDir>();
        std::unique_ptr<QProcess> process = std::make_unique<QProcess>();
        QStringList leftovers() const
        {
            return QDir(temp->path()).entryList({"pelkin-drop-share-*"}, QDir::AllEntries);
        }
    };

    std::unique_ptr<Panel> startPanel(const QStringList &files)
    {
        auto panel = std::make_unique<Panel>();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("PELKIN_TEST_UPLOAD_ENDPOINT"), endpoint);
        environment.insert(QStringLiteral("TMPDIR"), panel->temp->path());
        panel->process->setProcessEnvironment(environment);
        panel->process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        panel->process->start(QStringLiteral(PELKIN_SHARE_PROGRAM), files);
        return panel;
    }

    QStringList storedUploads() const
    {
        return QDir(serverData.filePath("uploads")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    }

private slots:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("DISPLAY")) {
            QSKIP("needs an X server");
        }
        server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        server.start(QStringLiteral(PELKIN_SERVER_PROGRAM),
                     {"--listen", "127.0.0.1:0", "--data", serverData.path()});
        QVERIFY(server.waitForStarted(5000));
        QTRY_VERIFY_WITH_TIMEOUT(server.canReadLine(), 10000);
        const QString line = QString::fromUtf8(server.readLine()).trimmed();
        const QRegularExpressionMatch match =
            QRegularExpression(QStringLiteral("^listening on (http://127\\.0\\.0\\.1:\\d+)$"))
                .match(line);
        QVERIFY2(match.hasMatch(), qPrintable(line));
        endpoint = match.captured(1) + QStringLiteral("/api/upload.php");
    }

    void cleanupTestCase()
    {
        server.terminate();
        if (!server.waitForFinished(5000)) {
            server.kill();
            server.waitForFinished(1000);
        }
    }

    // Two files shared, uploaded with a click; the panel closes, the
    // service holds both, and the URL stays on the clipboard until another
    // client takes it.
    void uploadsAndKeepsTheClipboard()
    {
        QTemporaryDir files;
        const QByteArray first = "first file\n";
        const QByteArray second(300 * 1024, 'z');
        for (const auto &[name, bytes] : {std::pair{"報告.txt", first}, {"photo.JPG", second}}) {
            QFile file(files.filePath(QString::fromUtf8(name)));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(bytes);
        }
        auto panel = startPanel({files.filePath("報告.txt"),
                                 QUrl::fromLocalFile(files.filePath("photo.JPG")).toString()});
        QString window;
        QTRY_VERIFY_WITH_TIMEOUT(!(window = panelWindow()).isEmpty(), 10000);
        QTest::qWait(300); // collected and drawn
        QScreen *screen = QGuiApplication::primaryScreen();
        const QString shots = qEnvironmentVariable("PELKIN_BINARY_DIR", QDir::tempPath()) +
                              QStringLiteral("/screenshots/share");
        QDir().mkpath(shots);
        QVERIFY(screen->grabWindow(0).save(shots + QStringLiteral("/x11-ready.png")));

        clickInWindow(window, 360 - 18 - 70, 260 - 16 - 17); // the upload button's centre
        QTRY_VERIFY_WITH_TIMEOUT(panelWindow().isEmpty(), 10000);

        // The service stored both files under their names.
        QTRY_COMPARE_WITH_TIMEOUT(storedUploads().size(), 1, 5000);
        const QString id = storedUploads().constFirst();
        const QString folder = serverData.filePath("uploads/" + id);
        const QJsonArray stored =
            QJsonDocument::fromJson(fileBytes(folder + "/meta.json")).object()["files"].toArray();
        // Items are uploaded in the order their collection finished.
        QCOMPARE(stored.size(), 2);
        QMap<QString, QByteArray> received;
        for (int i = 0; i < stored.size(); ++i)
            received.insert(stored[i].toObject()["name"].toString(),
                            fileBytes(folder + "/" + QString::number(i)));
        QCOMPARE(received.keys(), QStringList({QStringLiteral("photo.jpg"), QStringLiteral("報告.txt")}));
        QCOMPARE(received.value(QStringLiteral("報告.txt")), first);
        QCOMPARE(received.value(QStringLiteral("photo.jpg")), second);

        // The window is gone, the process still serves the URL.
        QCOMPARE(panel->process->state(), QProcess::Running);
        QVERIFY(clipboardText().endsWith("/f/" + id));
        QVERIFY(clipboardText().startsWith(endpoint.section(QLatin1Char('/'), 0, 2)));
        QTRY_COMPARE_WITH_TIMEOUT(panel->leftovers(), QStringList(), 5000);

        // Another client takes the clipboard: the panel's process ends, status 0.
        QProcess taker;
        taker.start(QStringLiteral("xclip"), {"-selection", "clipboard", "-loops", "1"});
        QVERIFY(taker.waitForStarted(5000));
        taker.write("something else");
        QVERIFY(taker.waitForBytesWritten(5000));
        taker.closeWriteChannel();
        QVERIFY(panel->process->waitForFinished(10000));
        QCOMPARE(panel->process->exitStatus(), QProcess::NormalExit);
        QCOMPARE(panel->process->exitCode(), 0);
        QCOMPARE(clipboardText(), QStringLiteral("something else"));
        taker.kill();
        taker.waitForFinished(2000);
    }

    // Cancel (button or Escape) closes at once with status 1, uploads
    // nothing and leaves no temporary files.
    void cancelExitsWithStatusOne_data()
    {
        QTest::addColumn<bool>("escape");
        QTest::newRow("cancel button") << false;
        QTest::newRow("Escape key") << true;
    }

    void cancelExitsWithStatusOne()
    {
        QFETCH(bool, escape);
        QTemporaryDir files;
        QFile file(files.filePath("note.txt"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("note");
        file.close();
        const int uploadsBefore = int(storedUploads().size());
        auto panel = startPanel({file.fileName()});
        QString window;
        QTRY_VERIFY_WITH_TIMEOUT(!(window = panelWindow()).isEmpty(), 10000);
        if (escape) {
            runTool(QStringLiteral("xdotool"), {"windowfocus", "--sync", window});
            runTool(QStringLiteral("xdotool"), {"key", "--window", window, "Escape"});
        } else {
            clickInWindow(window, 140, 260 - 16 - 17); // the cancel button
        }
        QVERIFY(panel->process->waitForFinished(5000));
        QCOMPARE(panel->process->exitCode(), 1);
        QCOMPARE(panel->leftovers(), QStringList());
        QCOMPARE(int(storedUploads().size()), uploadsBefore);
    }
};

QTEST_MAIN(TestShareEndToEnd)
#include "TestShareEndToEnd.moc"
