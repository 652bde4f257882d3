// The collection step: shared items in, local files with sensible names out.

#include "FileCloner.h"
#include "ShareItemCollector.h"
#include "ShareItemProvider.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QMutex>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

QMutex linesLock;
QStringList diagnosticLines;

QStringList takeDiagnostics()
{
    QMutexLocker locker(&linesLock);
    return std::exchange(diagnosticLines, {});
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

QByteArray pngBytes()
{
    QImage image(3, 2, QImage::Format_ARGB32);
    image.fill(Qt::red);
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return buffer.data();
}

// Collected files as "name=content", sorted (the order is the order of completion).
QStringList describe(const QList<QUrl> &urls)
{
    QStringList out;
    for (const QUrl &url : urls) {
        out << url.fileName() + QLatin1Char('=') + QString::fromUtf8(readFile(url.toLocalFile()));
    }
    out.sort();
    return out;
}

} // namespace

class TestShareItemCollector : public QObject
{
    Q_OBJECT

private:
    QList<QUrl> collect(const QList<ShareItemProvider> &providers, const QString &runFolder)
    {
        ShareItemCollector collector(runFolder);
        QSignalSpy finished(&collector, &ShareItemCollector::finished);
        collector.collect(providers);
        if (!finished.wait(10000)) {
            return {QUrl(QStringLiteral("timed-out:"))};
        }
        return finished.at(0).at(0).value<QList<QUrl>>();
    }

private slots:
    void initTestCase()
    {
        ShareItemCollector::setDiagnosticSink([](const QString &line) {
            QMutexLocker locker(&linesLock);
            diagnosticLines << line;
        });
    }

    void cleanupTestCase() { ShareItemCollector::setDiagnosticSink(nullptr); }

    // Rows: suggested name ("-" for none), original URL, type, expected name.
    void makeFilename_data()
    {
        QTest::addColumn<QString>("suggested");
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("expected");
        const QList<QStringList> rows = {
            {"-", "file:///d/Report.PDF", "", "Report.pdf"},
            {"Holiday", "", "image/jpeg", "Holiday.jpg"},
            {"photo.PNG", "file:///d/x.jpeg", "image/jpeg", "photo.png"},
            {"", "file:///d/notes.txt", "", "notes.txt"},
            {"-", "file:///d/.com.apple.Foo.tmp", "", "untitled"},
            {"-", "file:///d/.com.apple.Foo.tmp", "image/png", "untitled.png"},
            {"-", "file:///d/FILE", "", "untitled"},
            {"-", "file:///d/CFNetworkDownload_x.jpg", "", "untitled.jpg"},
            {"-", "file:///d/clip.download", "", "clip.download"},
            {"clip", "file:///d/x.part", "", "clip"},
            {"clip", "file:///d/x.gif", "image/png", "clip.png"},
            {"clip", "file:///d/x.MOV", "text/x-uri", "clip.mov"},
            {"-", "", "application/x-nonsense", "untitled"},
            {"-", "file:///d/.bashrc", "", ".bashrc"},
            {"-", "file:///d/a.tar.GZ", "", "a.tar.gz"},
            {"-", "file:///d/My%20File.TXT", "", "My File.txt"},
        };
        for (const QStringList &row : rows) {
            QTest::newRow(qPrintable(row.join(QLatin1Char(' '))))
                << row[0] << row[1] << row[2] << row[3];
        }
    }

    void makeFilename()
    {
        QFETCH(QString, suggested);
        QFETCH(QString, url);
        QFETCH(QString, type);
        QFETCH(QString, expected);
        const std::optional<QString> s =
            suggested == QLatin1String("-") ? std::nullopt : std::optional(suggested);
        const std::optional<QUrl> u = url.isEmpty() ? std::nullopt : std::optional(QUrl(url));
        const std::optional<QString> t = type.isEmpty() ? std::nullopt : std::optional(type);
        QCOMPARE(ShareItemCollector::makeFilename(s, u, t), expected);
    }

    // Every kind of argument at once, with the names and contents they become.
    void collectsEachKindOfArgument()
    {
        QTemporaryDir sources;
        QTemporaryDir run;
        writeFile(sources.filePath("sub/Photo.JPG"), "jpeg bytes");
        writeFile(sources.filePath("download.tmp"), "temp bytes");
        writeFile(sources.filePath("My Report.PDF"), "pdf bytes");
        const QString savedCurrent = QDir::currentPath();
        QDir::setCurrent(sources.path());
        const QByteArray png = pngBytes();
        int inputReads = 0;
        auto input = [&] {
            ++inputReads;
            return png;
        };
        const QList<ShareItemProvider> providers = {
            ShareItemProvider::fromArgument(QStringLiteral("sub/../sub/Photo.JPG"), input),
            ShareItemProvider::fromArgument(
                QUrl::fromLocalFile(sources.filePath("download.tmp")).toString(), input),
            ShareItemProvider::fromArgument(
                QUrl::fromLocalFile(sources.filePath("My Report.PDF")).toString(), input),
            ShareItemProvider::fromArgument(QStringLiteral("https://example.com/a/page?q=1"),
                                            input),
            ShareItemProvider::fromArgument(QStringLiteral("-"), input),
        };
        QDir::setCurrent(savedCurrent);
        QCOMPARE(inputReads, 1);
        takeDiagnostics();

        const QList<QUrl> urls = collect(providers, run.path());
        QCOMPARE(describe(urls), QStringList({
                                     "My Report.pdf=pdf bytes",
                                     "Photo.jpg=jpeg bytes",
                                     "untitled.png=" + QString::fromUtf8(png),
                                     "untitled=https://example.com/a/page?q=1",
                                     "untitled=temp bytes",
                                 }));
        // One fresh folder per item, all inside the run folder.
        QSet<QString> folders;
        for (const QUrl &url : urls) {
            const QFileInfo info(url.toLocalFile());
            QCOMPARE(QFileInfo(info.absolutePath()).absolutePath(), run.path());
            folders << info.absolutePath();
        }
        QCOMPARE(folders.size(), urls.size());
        // The provider lines come first and in the order of the items.
        const QStringList lines = takeDiagnostics();
        QCOMPARE(lines, QStringList({
                            R"(provider types: ["image/jpeg"] suggested: nil)",
                            R"(provider types: ["text/plain"] suggested: nil)",
                            R"(provider types: ["application/pdf"] suggested: nil)",
                            R"(provider types: ["text/x-uri"] suggested: nil)",
                            R"(provider types: ["image/png"] suggested: nil)",
                        }));
    }

    void keepsItemsWithTheSameName()
    {
        QTemporaryDir sources;
        QTemporaryDir run;
        writeFile(sources.filePath("a/report.txt"), "first");
        writeFile(sources.filePath("b/REPORT.TXT"), "second");
        const QList<QUrl> urls = collect(
            {ShareItemProvider::forLocalFile(sources.filePath("a/report.txt")),
             ShareItemProvider::forLocalFile(sources.filePath("b/REPORT.TXT")),
             ShareItemProvider::forData("third", {"text/plain"}, QStringLiteral(" report\n"))},
            run.path());
        QCOMPARE(describe(urls),
                 QStringList({"REPORT.txt=second", "report.txt=first", "report.txt=third"}));
    }

    void failingItemsContributeNothing()
    {
        QTemporaryDir sources;
        QTemporaryDir run;
        writeFile(sources.filePath("good.txt"), "fine");
        // Not readable by this process: root reads any mode-000 file, so take a
        // file every read of which fails.
        QString unreadable = QStringLiteral("/proc/self/mem");
        if (::geteuid() != 0) {
            unreadable = sources.filePath("secret.txt");
            writeFile(unreadable, "secret");
            QFile::setPermissions(unreadable, {});
        }
        takeDiagnostics();
        const QList<QUrl> urls =
            collect({ShareItemProvider::forLocalFile(sources.filePath("missing.bin")),
                     ShareItemProvider::forLocalFile(unreadable),
                     ShareItemProvider::forData({}, {"text/plain"}),
                     ShareItemProvider::forLocalFile(sources.filePath("good.txt"))},
                    run.path());
        QCOMPARE(describe(urls), QStringList({"good.txt=fine"}));
        const QStringList errors = takeDiagnostics().filter(QStringLiteral("copyToTemp error: "));
        // The missing file is tried as a file URL (four candidates), in place
        // and as a file representation, and fails each time with a reason.
        QCOMPARE(errors.filter(QStringLiteral("missing.bin")).size(), 6);
        QVERIFY(errors.filter(unreadable).size() >= 1);

        // No usable run folder: nothing is written anywhere.
        QCOMPARE(collect({ShareItemProvider::forLocalFile(sources.filePath("good.txt"))}, {}),
                 QList<QUrl>());
    }

    void clonesInsteadOfCopying()
    {
        QTemporaryDir dir;
        const QByteArray big(3 * 1024 * 1024 + 17, 'x');
        writeFile(dir.filePath("source.bin"), big);
        QString error;
        FileCloner::Method method = FileCloner::Method::byteCopy;
        QVERIFY2(FileCloner::cloneOrCopy(dir.filePath("source.bin"), dir.filePath("clone.bin"),
                                         nullptr, &error, &method),
                 qPrintable(error));
        // Same file system: never a byte-by-byte copy.
        QVERIFY(method == FileCloner::Method::reflink || method == FileCloner::Method::hardLink);
        QCOMPARE(readFile(dir.filePath("clone.bin")), big);

        // A pipe is copied byte by byte, to its end.
        const QString fifo = dir.filePath("pipe");
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        const int writer = ::open(QFile::encodeName(fifo).constData(), O_RDWR);
        QVERIFY(writer >= 0);
        QCOMPARE(::write(writer, "streamed", 8), 8);
        std::thread closer([&] {
            QThread::msleep(200);
            ::close(writer);
        });
        const bool copied =
            FileCloner::cloneOrCopy(fifo, dir.filePath("from-pipe"), nullptr, &error, &method);
        closer.join();
        QVERIFY2(copied, qPrintable(error));
        QCOMPARE(method, FileCloner::Method::byteCopy);
        QCOMPARE(readFile(dir.filePath("from-pipe")), QByteArray("streamed"));

        // An existing file at the derived name is replaced.
        writeFile(dir.filePath("item/same.txt"), "old");
        const QString path = ShareItemCollector::makeTempPath(dir.filePath("item"), "same.txt");
        QVERIFY(!QFileInfo::exists(path));
        QCOMPARE(ShareItemCollector::makeTempPath(dir.path(), "a/b"), dir.filePath("a_b"));
        QCOMPARE(ShareItemCollector::makeTempPath(dir.path(), ".."), dir.filePath("untitled"));
    }

    // Abandoning stops a resolution that waits on a silent pipe, and the
    // collector still reports, with nothing collected.
    void abandonStopsAWaitingItem()
    {
        QTemporaryDir dir;
        QTemporaryDir run;
        const QString fifo = dir.filePath("silent");
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        const int writer = ::open(QFile::encodeName(fifo).constData(), O_RDWR);
        QVERIFY(writer >= 0);
        ShareItemCollector collector(run.path());
        QSignalSpy finished(&collector, &ShareItemCollector::finished);
        collector.collect({ShareItemProvider::forLocalFile(fifo)});
        QTest::qWait(300);
        QVERIFY(collector.isRunning());
        collector.abandon();
        QVERIFY(finished.wait(5000));
        QCOMPARE(finished.at(0).at(0).value<QList<QUrl>>(), QList<QUrl>());
        QVERIFY(!collector.isRunning());
        ::close(writer);
    }
};

QTEST_GUILESS_MAIN(TestShareItemCollector)
#include "TestShareItemCollector.moc"
