// What goes on the wire: exact request bytes for the shapes an upload can
// take, and the screening that decides, before any byte is read or sent,
// that nothing goes on the wire at all.
#include "MultipartBody.h"
#include "PelkinUploader.h"
#include "TestHttpServer.h"
#include "UploadProbe.h"
#include "UploadScreening.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <unistd.h>

using namespace std::chrono_literals;

struct NamedContent
{
    QString name;
    QByteArray content;
};
using FileList = QList<NamedContent>;
using OptionalPassword = std::optional<QString>;
Q_DECLARE_METATYPE(FileList)
Q_DECLARE_METATYPE(OptionalPassword)

namespace {
const QByteArray jsonOk = "{\"success\":true,\"url\":\"https://s.example/x\"}";

QUrl writeFile(const QTemporaryDir &dir, const QString &name, const QByteArray &content)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        qFatal("cannot write test file");
    return QUrl::fromLocalFile(path);
}
} // namespace

class UploadRequestTest : public QObject
{
    Q_OBJECT

private slots:
    void exactBody_data();
    void exactBody();
    void nameThatIsNotUtf8();
    void screeningRefusesBeforeSending_data();
    void screeningRefusesBeforeSending();
    void sizeLimitIsInclusive();
    void blockedNames_data();
    void blockedNames();
    void fileRemovedAfterScreening();
    void fileShrinkingWhileSent();
};

void UploadRequestTest::exactBody_data()
{
    QTest::addColumn<FileList>("files");
    QTest::addColumn<OptionalPassword>("password");
    // The expected file parts: field name, escaped file name, MIME type.
    QTest::addColumn<QByteArray>("field");
    QTest::addColumn<QList<QByteArray>>("sentNames");
    QTest::addColumn<QList<QByteArray>>("mimeTypes");

    const QByteArray jpeg("\xff\xd8\xff\xe0 not really", 15);
    QTest::newRow("one file keeps its name's case")
        << FileList{{"Photo.JPG", jpeg}} << OptionalPassword() << QByteArray("file")
        << QList<QByteArray>{"Photo.JPG"} << QList<QByteArray>{"image/jpeg"};
    QTest::newRow("several files in order")
        << FileList{{"b.png", "PNG"}, {"a.gif", "GIF"}, {"c.mov", "MOV"}} << OptionalPassword()
        << QByteArray("files[]") << QList<QByteArray>{"b.png", "a.gif", "c.mov"}
        << QList<QByteArray>{"image/png", "image/gif", "video/quicktime"};
    QTest::newRow("unknown and missing extensions")
        << FileList{{"README", "read me"}, {"archive.tar.gz", "gz"}, {"clip.MP4", "mp4"}}
        << OptionalPassword() << QByteArray("files[]")
        << QList<QByteArray>{"README", "archive.tar.gz", "clip.MP4"}
        << QList<QByteArray>{"application/octet-stream", "application/octet-stream", "video/mp4"};
    QTest::newRow("more MIME types")
        << FileList{{"a.jpeg", "1"}, {"b.pdf", "2"}, {"c.Zip", "3"}, {"d.", "4"}}
        << OptionalPassword() << QByteArray("files[]")
        << QList<QByteArray>{"a.jpeg", "b.pdf", "c.Zip", "d."}
        << QList<QByteArray>{"image/jpeg", "application/pdf", "application/zip",
                             "application/octet-stream"};
    QTest::newRow("password part comes last")
        << FileList{{"x.txt", "x"}, {"y.txt", "y"}} << OptionalPassword(u"pa ss\"wörd"_qs)
        << QByteArray("files[]") << QList<QByteArray>{"x.txt", "y.txt"}
        << QList<QByteArray>{"application/octet-stream", "application/octet-stream"};
    QTest::newRow("empty password sends no part")
        << FileList{{"x.txt", "x"}} << OptionalPassword(QString()) << QByteArray("file")
        << QList<QByteArray>{"x.txt"} << QList<QByteArray>{"application/octet-stream"};
    QTest::newRow("empty file") << FileList{{"empty.png", QByteArray()}} << OptionalPassword()
                                << QByteArray("file") << QList<QByteArray>{"empty.png"}
                                << QList<QByteArray>{"image/png"};
    QTest::newRow("non-ASCII name stays raw UTF-8")
        << FileList{{u"写真 ✓ café.pdf"_qs, "%PDF"}} << OptionalPassword() << QByteArray("file")
        << QList<QByteArray>{u"写真 ✓ café.pdf"_qs.toUtf8()}
        << QList<QByteArray>{"application/pdf"};
    QTest::newRow("quote and line breaks are escaped")
        << FileList{{"a\"b\r\nContent-Type: evil\".txt", "payload"}} << OptionalPassword()
        << QByteArray("file") << QList<QByteArray>{"a%22b%0D%0AContent-Type: evil%22.txt"}
        << QList<QByteArray>{"application/octet-stream"};
    QTest::newRow("blocked file is dropped silently")
        << FileList{{"Foo.app", "bundle"}, {"notes.txt", "n"}} << OptionalPassword()
        << QByteArray("file") << QList<QByteArray>{"notes.txt"}
        << QList<QByteArray>{"application/octet-stream"};
    QByteArray binary;
    for (int i = 0; i < 1600000; ++i) // over 1 MiB: where curl would add Expect
        binary += static_cast<char>((i * 7919) & 0xff);
    QTest::newRow("binary file larger than a buffer")
        << FileList{{"data.bin", binary}} << OptionalPassword(u"pw"_qs) << QByteArray("file")
        << QList<QByteArray>{"data.bin"} << QList<QByteArray>{"application/octet-stream"};
}

void UploadRequestTest::exactBody()
{
    QFETCH(FileList, files);
    QFETCH(OptionalPassword, password);
    QFETCH(QByteArray, field);
    QFETCH(QList<QByteArray>, sentNames);
    QFETCH(QList<QByteArray>, mimeTypes);

    QTemporaryDir dir;
    QList<QUrl> urls;
    QList<QByteArray> sentContents;
    for (const NamedContent &file : files) {
        urls.append(writeFile(dir, file.name, file.content));
        if (!file.name.endsWith(u".app"))
            sentContents.append(file.content);
    }

    TestHttpServer server;
    server.enqueue(TestHttpServer::json(200, jsonOk));
    PelkinUploader uploader(server.url(), 5s);
    UploadProbe probe;
    uploader.upload(urls, password, {}, probe.completion());
    QVERIFY(probe.waitForCompletion());
    QVERIFY2(probe.result().isSuccess(), qPrintable(probe.result().localizedDescription()));
    QCOMPARE(probe.result().response().url, u"https://s.example/x"_qs);

    QCOMPARE(server.requestCount(), 1);
    const TestHttpServer::Request request = server.requests().at(0);
    QCOMPARE(request.method, QByteArray("POST"));
    QCOMPARE(request.target, QByteArray("/api/upload.php"));
    const QByteArray contentType = request.header("content-type");
    const QRegularExpression shape(QStringLiteral(
        "^multipart/form-data; boundary=(Boundary-[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-"
        "[0-9A-F]{4}-[0-9A-F]{12})$"));
    const auto match = shape.match(QString::fromLatin1(contentType));
    QVERIFY2(match.hasMatch(), contentType.constData());
    const QByteArray boundary = match.captured(1).toLatin1();
    // A fixed length, no chunking, no 100-continue round trip.
    QCOMPARE(request.header("content-length"), QByteArray::number(request.bodySize));
    QVERIFY(request.header("transfer-encoding").isNull());
    QVERIFY(request.header("expect").isNull());

    QByteArray expected;
    for (qsizetype i = 0; i < sentNames.size(); ++i) {
        expected += "--" + boundary + "\r\n";
        expected += "Content-Disposition: form-data; name=\"" + field + "\"; filename=\"" +
                    sentNames[i] + "\"\r\n";
        expected += "Content-Type: " + mimeTypes[i] + "\r\n\r\n";
        expected += sentContents[i] + "\r\n";
    }
    if (password && !password->isEmpty()) {
        expected += "--" + boundary + "\r\n";
        expected += "Content-Disposition: form-data; name=\"password\"\r\n\r\n";
        expected += password->toUtf8() + "\r\n";
    }
    expected += "--" + boundary + "--\r\n";
    QCOMPARE(request.body, expected);
}

void UploadRequestTest::nameThatIsNotUtf8()
{
    // Old archives carry Latin-1 names; the file is still found and its
    // name is sent as the bytes on disk.
    QTemporaryDir dir;
    const QByteArray path = QFile::encodeName(dir.path()) + "/caf\xe9 \"1\".txt";
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    QVERIFY(fd >= 0);
    const bool written = ::write(fd, "latin", 5) == 5;
    ::close(fd);
    QVERIFY(written);
    const QUrl url = QUrl::fromEncoded("file://" + path.toPercentEncoding("/"));
    QVERIFY(url.isValid());

    TestHttpServer server;
    PelkinUploader uploader(server.url(), 5s);
    UploadProbe probe;
    uploader.upload({url}, {}, {}, probe.completion());
    QVERIFY(probe.waitForCompletion());
    QVERIFY2(probe.result().isSuccess(), qPrintable(probe.result().localizedDescription()));
    QVERIFY(server.requests().at(0).body.contains("; filename=\"caf\xe9 %221%22.txt\"\r\n"));
    QVERIFY(server.requests().at(0).body.contains("\r\n\r\nlatin\r\n"));
    ::unlink(path.constData()); // QTemporaryDir cannot name it
}

void UploadRequestTest::screeningRefusesBeforeSending_data()
{
    QTest::addColumn<QStringList>("names"); // "dir:" makes a folder, "gone:" nothing at all
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("kind"); // UploadError::Kind, or -1 for a platform error

    QTest::newRow("empty list") << QStringList() << u"ファイルが選択されていません。"_qs
                                << int(UploadError::Kind::noFiles);
    QTest::newRow("only a blocked name")
        << QStringList{"Foo.APP"} << u"これらのファイルはアップロードできません: Foo.APP"_qs
        << int(UploadError::Kind::allBlocked);
    QTest::newRow("all blocked, in order")
        << QStringList{"b.photoslibrary", "dir:Tool.app"}
        << u"これらのファイルはアップロードできません: b.photoslibrary, Tool.app"_qs
        << int(UploadError::Kind::allBlocked);
    QTest::newRow("folder") << QStringList{"ok.txt", "dir:Photos"}
                            << u"ファイルを読み込めませんでした: Photos"_qs
                            << int(UploadError::Kind::cannotReadFile);
    QTest::newRow("missing file") << QStringList{"gone:lost.txt"}
                                  << u"ファイル「lost.txt」が見つかりませんでした。"_qs << -1;
}

void UploadRequestTest::screeningRefusesBeforeSending()
{
    QFETCH(QStringList, names);
    QFETCH(QString, message);
    QFETCH(int, kind);

    QTemporaryDir dir;
    QList<QUrl> urls;
    for (QString name : names) {
        if (name.startsWith(u"dir:")) {
            name = name.mid(4);
            QVERIFY(QDir(dir.path()).mkdir(name));
            // Folders dropped from a file manager often carry a trailing slash.
            urls.append(QUrl::fromLocalFile(dir.filePath(name) + u'/'));
        } else if (name.startsWith(u"gone:")) {
            urls.append(QUrl::fromLocalFile(dir.filePath(name.mid(5))));
        } else {
            urls.append(writeFile(dir, name, "content"));
        }
    }

    TestHttpServer server;
    PelkinUploader uploader(server.url(), 5s);
    UploadProbe probe;
    bool called = false;
    uploader.upload(urls, u"pw"_qs, probe.progress(), [&](UploadResult result) {
        called = true;
        probe.completion()(std::move(result));
    });
    QVERIFY2(called, "screening failures are reported before upload() returns");
    UploadProbe::settle(150);
    QCOMPARE(probe.completionCount(), 1);
    QCOMPARE(probe.result().localizedDescription(), message);
    if (kind < 0)
        QVERIFY(probe.result().isPlatformError());
    else
        QCOMPARE(int(probe.result().uploadError().kind()), kind);
    QVERIFY(probe.progressValues().isEmpty());
    QCOMPARE(server.connectionCount(), 0);
}

void UploadRequestTest::sizeLimitIsInclusive()
{
    // Sparse files: their size is what counts, and nothing may be read.
    QTemporaryDir dir;
    QFile big(dir.filePath(u"big.mov"_qs));
    QVERIFY(big.open(QIODevice::WriteOnly));
    QVERIFY(big.resize(PelkinUploader::maxUploadBytes - 10));
    big.close();
    const QUrl bigUrl = QUrl::fromLocalFile(big.fileName());
    const QUrl ten = writeFile(dir, u"ten.txt"_qs, "0123456789");
    const QUrl eleven = writeFile(dir, u"eleven.txt"_qs, "0123456789X");

    auto atLimit = UploadScreening::screen({bigUrl, ten}, PelkinUploader::maxUploadBytes);
    QVERIFY(std::holds_alternative<QList<MultipartBody::File>>(atLimit));

    TestHttpServer server;
    PelkinUploader uploader(server.url(), 5s);
    UploadProbe probe;
    uploader.upload({eleven, bigUrl}, {}, probe.progress(), probe.completion());
    QCOMPARE(probe.completionCount(), 1);
    const UploadError error = probe.result().uploadError();
    QCOMPARE(error.kind(), UploadError::Kind::totalSizeExceeded);
    QCOMPARE(error.limit(), qint64(1073741824));
    QCOMPARE(error.total(), qint64(1073741825));
    QCOMPARE(error.errorDescription(), u"アップロード上限は1 GBです（現在: 1 GB）。"_qs);
    QCOMPARE(UploadError::totalSizeExceeded(1073741824, 1610612736).errorDescription(),
             u"アップロード上限は1 GBです（現在: 1.5 GB）。"_qs);
    UploadProbe::settle(100);
    QCOMPARE(server.connectionCount(), 0);
}

void UploadRequestTest::blockedNames_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("blocked");
    QTest::newRow("app") << "/tmp/Foo.app" << true;
    QTest::newRow("upper case") << "/tmp/Foo.APP" << true;
    QTest::newRow("bundle with slash") << "/tmp/Foo.app/" << true;
    QTest::newRow("photo library") << "/x/Library.PhotosLibrary" << true;
    QTest::newRow("no dot") << "/tmp/app" << false;
    QTest::newRow("longer extension") << "/tmp/myapp.application" << false;
    QTest::newRow("app inside folder name") << "/tmp/x.app/inner.txt" << false;
}

void UploadRequestTest::blockedNames()
{
    QFETCH(QString, path);
    QFETCH(bool, blocked);
    QCOMPARE(PelkinUploader::isBlacklisted(QUrl::fromLocalFile(path)), blocked);
}

void UploadRequestTest::fileRemovedAfterScreening()
{
    QTemporaryDir dir;
    const QUrl a = writeFile(dir, u"a.txt"_qs, "a");
    const QUrl b = writeFile(dir, u"b.txt"_qs, "b");
    auto screened = UploadScreening::screen({a, b}, PelkinUploader::maxUploadBytes);
    QVERIFY(std::holds_alternative<QList<MultipartBody::File>>(screened));
    QVERIFY(QFile::remove(b.toLocalFile()));
    auto opened =
        MultipartBody::open(std::get<QList<MultipartBody::File>>(screened), {},
                            MultipartBody::makeBoundary(), PelkinUploader::maxUploadBytes);
    QVERIFY(std::holds_alternative<UploadError>(opened));
    QCOMPARE(std::get<UploadError>(opened).errorDescription(),
             u"ファイルを読み込めませんでした: b.txt"_qs);
}

void UploadRequestTest::fileShrinkingWhileSent()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(u"growing-log.bin"_qs);
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QVERIFY(file.resize(256 * 1024 * 1024));
    file.close();

    TestHttpServer server;
    server.setBodyCaptureLimit(0);
    PelkinUploader uploader(server.url(), 5s);
    UploadProbe probe;
    bool truncated = false;
    // The first progress call comes once the file is open and sending starts.
    uploader.upload(
        {QUrl::fromLocalFile(path)}, {},
        [&](double) {
            if (!truncated) {
                truncated = true;
                QVERIFY(QFile::resize(path, 1024 * 1024));
            }
        },
        probe.completion());
    QVERIFY(probe.waitForCompletion(20000));
    QVERIFY(truncated);
    QVERIFY(probe.result().isUploadError());
    QCOMPARE(probe.result().localizedDescription(),
             u"ファイルを読み込めませんでした: growing-log.bin"_qs);
    // The server never saw a complete request: the body was cut short, not padded.
    QVERIFY(server.waitForRequests(1, 5s));
    QVERIFY(!server.requests().at(0).complete);
}

QTEST_GUILESS_MAIN(UploadRequestTest)
#include "tst_uploadrequest.moc"
