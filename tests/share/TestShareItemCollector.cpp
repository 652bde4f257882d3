// The collection step: shared items in, local files with sensible names out.

#include "FileCloner.h"
#include "ShareItemCollector.h"
#include "ShareItemProvider.h"
#include "TestFiles.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

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
    for (const QUrl &url : urls)
        out << url.fileName() + QLatin1Char('=') + QString::fromUtf8(readFile(url.toLocalFile()));
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
        return finished.wait(10000) ? finished.at(0).at(0).value<QList<QUrl>>()
                                    : QList<QUrl>{QUrl(QStringLiteral("timed-out:"))};
    }

private slots:
    void initTestCase() { ShareItemCollector::setDiagnosticSink([](const QString &) {}); }

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
            {"-", "file:///d/.com.apple.Foo.tmp", "image/png", "untitled.png"},
            {"clip", "file:///d/x.MOV", "text/x-uri", "clip.mov"},
            {"-", "", "application/x-nonsense", "untitled"},
            {"-", "file:///d/.bashrc", "", ".bashrc"},
            {"-", "file:///d/a.tar.GZ", "", "a.tar.gz"},
            {"-", "file:///d/My%20File.TXT", "", "My File.txt"},
        };
        for (const QStringList &row : rows)
            QTest::newRow(qPrintable(row.join(' '))) << row[0] << row[1] << row[2] << row[3];
    }

    void makeFilename()
    {
        QFETCH(QString, suggested);
        QFETCH(QString, url);
        QFETCH(QString, type);
        QFETCH(QString, expected);
        const std::optional<QString> s = suggested == "-" ? std::nullopt : std::optional(suggested);
        const std::optional<QUrl> u = url.isEmpty() ? std::nullopt : std::optional(QUrl(url));
        const std::optional<QString> t = type.isEmpty() ? std::nullopt : std::optional(type);
        QCOMPARE(ShareItemCollector::makeFilename(s, u, t), expected);
    }

    // Every kind of argument at once, with the names and contents they become.
    void collectsEachKindOfArgument()
    {
        QTemporaryDir sources;
        QTemporaryDir run;
        TestFiles::write(sources.path(), "sub/Photo.JPG", "jpeg bytes");
        TestFiles::write(sources.path(), "download.tmp", "temp bytes");
        TestFiles::write(sources.path(), "My Report.PDF", "pdf bytes");
        const QString savedCurrent = QDir::currentPath();
        QDir::setCurrent(sources.path());
        const QByteArray png = pngBytes();
        int inputReads = 0;
        auto input = [&] {
            ++inputReads;
            return png;
        };
        QList<ShareItemProvider> providers;
        for (const QString &argument :
             {QStringLiteral("sub/../sub/Photo.JPG"), QUrl::fromLocalFile(sources.filePath("download.tmp")).toString(),
              QUrl::fromLocalFile(sources.filePath("My Report.PDF")).toString(),
              QStringLiteral("https://example.com/a/page?q=1"), QStringLiteral("-")})
            providers << ShareItemProvider::fromArgument(argument, input);
        QDir::setCurrent(savedCurrent);
        QCOMPARE(inputReads, 1);

        const QList<QUrl> urls = collect(providers, run.path());
        QCOMPARE(describe(urls), QStringList({"My Report.pdf=pdf bytes", "Photo.jpg=jpeg bytes",
                                              "untitled.png=" + QString::fromUtf8(png),
                                              "untitled=https://example.com/a/page?q=1", "untitled=temp bytes"}));
        // One fresh folder per item, all inside the run folder.
        QSet<QString> folders;
        for (const QUrl &url : urls) {
            const QFileInfo info(url.toLocalFile());
            QCOMPARE(QFileInfo(info.absolutePath()).absolutePath(), run.path());
            folders << info.absolutePath();
        }
        QCOMPARE(folders.size(), urls.size());
    }

    void keepsItemsWithTheSameName()
    {
        QTemporaryDir sources;
        QTemporaryDir run;
        TestFiles::write(sources.path(), "a/report.txt", "first");
        TestFiles::write(sources.path(), "b/REPORT.TXT", "second");
        const QList<QUrl> urls = collect(
            {ShareItemProvider::forLocalFile(sources.filePath("a/report.txt")),
             ShareItemProvider::forLocalFile(sources.filePath("b/REPORT.TXT")),
             ShareItemProvider::forData("third", {"text/plain"}, QStringLiteral(" report\n"))},
            run.path());
        QCOMPARE(describe(urls), QStringList({"REPORT.txt=second", "report.txt=first", "report.txt=third"}));
    }

    void failingItemsContributeNothing()
    {
        QTemporaryDir sources;
        QTemporaryDir run;
        TestFiles::write(sources.path(), "good.txt", "fine");
        // Not readable by this process: root reads any mode-000 file, so take a
        // file every read of which fails.
        QString unreadable = QStringLiteral("/proc/self/mem");
        if (::geteuid() != 0) {
            unreadable = TestFiles::write(sources.path(), "secret.txt", "secret");
            QFile::setPermissions(unreadable, {});
        }
        const QList<QUrl> urls =
            collect({ShareItemProvider::forLocalFile(sources.filePath("missing.bin")),
                     ShareItemProvider::forLocalFile(unreadable),
                     ShareItemProvider::forData({}, {"text/plain"}),
                     ShareItemProvider::forLocalFile(sources.filePath("good.txt"))},
                    run.path());
        QCOMPARE(describe(urls), QStringList({"good.txt=fine"}));

        // No usable run folder: nothing is written anywhere.
        QCOMPARE(collect({ShareItemProvider::forLocalFile(sources.filePath("good.txt"))}, {}), QList<QUrl>());
    }

    void clonesInsteadOfCopying()
    {
        QTemporaryDir dir;
        const QByteArray big(3 * 1024 * 1024 + 17, 'x');
        TestFiles::write(dir.path(), "source.bin", big);
        QString error;
        FileCloner::Method method = FileCloner::Method::byteCopy;
        QVERIFY2(FileCloner::cloneOrCopy(dir.filePath("source.bin"), dir.filePath("clone.bin"), nullptr, &error, &method),
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
        const bool copied = FileCloner::cloneOrCopy(fifo, dir.filePath("from-pipe"), nullptr, &error, &method);
        closer.join();
        QVERIFY2(copied, qPrintable(error));
        QCOMPARE(method, FileCloner::Method::byteCopy);
        QCOMPARE(readFile(dir.filePath("from-pipe")), QByteArray("streamed"));

        // An existing file at the derived name is replaced.
        TestFiles::write(dir.path(), "item/same.txt", "old");
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
