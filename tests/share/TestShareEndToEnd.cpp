// The share panel program on a real X server against the reference upload
// service: the user clicks with XTest, another X client reads the clipboard.

#include "ClipboardKeeper.h"
#include "ServerProcess.h"
#include "TestFiles.h"
#include "X11Driver.h"

#include <QClipboard>
#include <QDir>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QString panelWindow()
{
    return X11Driver::findWindows(QStringLiteral("^Pelkin Drop$")).value_or(QStringList()).value(0);
}

bool clickInWindow(const QString &window, int x, int y)
{
    return X11Driver::xdotool({"mousemove", "--window", window, QString::number(x), QString::number(y), "click", "1"});
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
    ServerProcess server;
    QString endpoint;

    // A panel process with its own temporary folder (to see what it leaves).
    struct Panel
    {
        QTemporaryDir temp;
        QProcess process;
        QStringList leftovers() const
        {
            return QDir(temp.path()).entryList({"pelkin-drop-share-*"}, QDir::AllEntries);
        }
    };

    std::unique_ptr<Panel> startPanel(const QStringList &files)
    {
        auto panel = std::make_unique<Panel>();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("PELKIN_TEST_UPLOAD_ENDPOINT"), endpoint);
        environment.insert(QStringLiteral("TMPDIR"), panel->temp.path());
        panel->process.setProcessEnvironment(environment);
        panel->process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        panel->process.start(QStringLiteral(PELKIN_SHARE_PROGRAM), files);
        return panel;
    }

    QStringList storedUploads() const
    {
        return QDir(server.dataDir() + QStringLiteral("/uploads")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    }

private slots:
    void initTestCase()
    {
        QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
        QVERIFY2(server.start(), server.errorOutput().constData());
        endpoint = server.url() + QStringLiteral("/api/upload.php");
    }

    // Two files shared, uploaded with a click; the panel closes, the
    // service holds both, and the URL stays on the clipboard until another
    // client takes it.
    void uploadsAndKeepsTheClipboard()
    {
        QTemporaryDir files;
        const QByteArray first = "first file\n";
        const QByteArray second(300 * 1024, 'z');
        auto panel = startPanel({TestFiles::write(files.path(), "報告.txt", first),
                                 QUrl::fromLocalFile(TestFiles::write(files.path(), "photo.JPG", second)).toString()});
        QString window;
        QTRY_VERIFY_WITH_TIMEOUT(!(window = panelWindow()).isEmpty(), 10000);
        QTest::qWait(300); // collected and drawn
        QVERIFY(clickInWindow(window, 360 - 18 - 70, 260 - 16 - 17)); // the upload button's centre
        QTRY_VERIFY_WITH_TIMEOUT(panelWindow().isEmpty(), 10000);

        // The service stored both files under their names, in the order
        // their collection finished.
        QTRY_COMPARE_WITH_TIMEOUT(storedUploads().size(), 1, 5000);
        const QString id = storedUploads().constFirst();
        const QString folder = server.dataDir() + QStringLiteral("/uploads/") + id;
        const QJsonArray stored =
            QJsonDocument::fromJson(fileBytes(folder + "/meta.json")).object()["files"].toArray();
        QMap<QString, QByteArray> received;
        for (int i = 0; i < stored.size(); ++i)
            received.insert(stored[i].toObject()["name"].toString(), fileBytes(folder + "/" + QString::number(i)));
        QCOMPARE(received, (QMap<QString, QByteArray>{{"photo.jpg", second}, {"報告.txt", first}}));

        // The window is gone, the process still serves the URL.
        QCOMPARE(panel->process.state(), QProcess::Running);
        QCOMPARE(X11Driver::clipboardText(), endpoint.section(QLatin1Char('/'), 0, 2) + "/f/" + id);
        QTRY_COMPARE_WITH_TIMEOUT(panel->leftovers(), QStringList(), 5000);

        // Another client takes the clipboard: the panel's process ends, status 0.
        QProcess taker;
        taker.start(QStringLiteral("xclip"), {"-selection", "clipboard", "-loops", "1"});
        QVERIFY(taker.waitForStarted(5000));
        taker.write("something else");
        QVERIFY(taker.waitForBytesWritten(5000));
        taker.closeWriteChannel();
        QVERIFY(panel->process.waitForFinished(10000));
        QCOMPARE(panel->process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(panel->process.exitCode(), 0);
        QCOMPARE(X11Driver::clipboardText(), QStringLiteral("something else"));
        taker.kill();
        taker.waitForFinished(2000);
    }

    // Cancel (button or Escape) closes at once with status 1, uploads
    // nothing and leaves no temporary files.
    void cancelExitsWithStatusOne()
    {
        for (const bool escape : {false, true}) {
            QTemporaryDir files;
            const qsizetype uploadsBefore = storedUploads().size();
            auto panel = startPanel({TestFiles::write(files.path(), "note.txt", "note")});
            QString window;
            QTRY_VERIFY_WITH_TIMEOUT(!(window = panelWindow()).isEmpty(), 10000);
            if (escape) {
                // Judged by the exit below: focus may be refused without a window
                // manager, and xdotool fails when the window goes before the key's release.
                X11Driver::xdotool({"windowfocus", "--sync", window});
                X11Driver::xdotool({"key", "--window", window, "Escape"});
            } else
                QVERIFY(clickInWindow(window, 140, 260 - 16 - 17)); // the cancel button
            // The driver keeps the event loop running: the exit may be seen already.
            QTRY_COMPARE_WITH_TIMEOUT(panel->process.state(), QProcess::NotRunning, 5000);
            QCOMPARE(panel->process.exitCode(), 1);
            QCOMPARE(panel->leftovers(), QStringList());
            QCOMPARE(storedUploads().size(), uploadsBefore);
        }
    }

    // In this process: with the clipboard not ours there is nothing to keep,
    // so the keeper lets go at once (queued, never inside the call).
    void keeperReleasesAtOnce()
    {
        QGuiApplication::clipboard()->clear();
        QTRY_VERIFY_WITH_TIMEOUT(!QGuiApplication::clipboard()->ownsClipboard(), 2000);
        ClipboardKeeper keeper;
        QSignalSpy released(&keeper, &ClipboardKeeper::released);
        keeper.keepUntilReleased();
        QVERIFY(!keeper.isServing() && released.isEmpty());
        QVERIFY(released.wait(1000));
    }
};

QTEST_MAIN(TestShareEndToEnd)
#include "TestShareEndToEnd.moc"
