// What goes on the wire: exact request bytes for the shapes an upload can
// take, read again by PHP's own multipart parser, and the screening that
// decides, before any byte is read or sent, that nothing goes on the wire.
#include "MultipartBody.h"
#include "PelkinUploader.h"
#include "TestHttpServer.h"
#include "UploadProbe.h"
#include "UploadScreening.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
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
using ByteArrays = QList<QByteArray>;
Q_DECLARE_METATYPE(FileList)
Q_DECLARE_METATYPE(OptionalPassword)

class UploadRequestTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void exactBody_data();
    void exactBody();
    void nameThatIsNotUtf8();
    void screeningRefusesBeforeSending_data();
    void screeningRefusesBeforeSending();
    void sizeLimitIsInclusive();
    void fileRemovedAfterScreening();
    void fileShrinkingWhileSent();

private:
    QTemporaryDir m_dir;
    QProcess m_php;
    QUrl m_phpEndpoint;
};

// PHP's built-in server with a router (php/) that dumps what PHP parsed.
void UploadRequestTest::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"PELKIN_DUMP"_qs, m_dir.filePath(u"dump.json"_qs));
    m_php.setProcessEnvironment(env);
    m_php.setProcessChannelMode(QProcess::MergedChannels);
    m_php.start(u"php"_qs, {u"-n"_qs, u"-d"_qs, u"upload_max_filesize=64M"_qs, u"-d"_qs,
                            u"post_max_size=64M"_qs, u"-S"_qs, u"127.0.0.1:0"_qs,
                            qEnvironmentVariable("PELKIN_SOURCE_DIR") +
                                u"/tests/uploader/php/upload-dump.php"_qs});
    // The server names its port on its first line.
    const QRegularExpression started(u"http://127\\.0\\.0\\.1:(\\d+)"_qs);
    QByteArray output;
    QVERIFY(QTest::qWaitFor([&] {
        m_php.waitForReadyRead(100);
        output += m_php.readAll();
        return started.match(QString::fromUtf8(output)).hasMatch();
    }, 10000));
    m_phpEndpoint = QUrl(u"http://127.0.0.1:%1/api/upload.php"_qs.arg(
        started.match(QString::fromUtf8(output)).captured(1)));
}

void UploadRequestTest::cleanupTestCase()
{
    m_php.kill();
    m_php.waitForFinished(5000);
}

void UploadRequestTest::exactBody_data()
{
    QTest::addColumn<FileList>("files");
    QTest::addColumn<OptionalPassword>("password");
    // The expected file parts: field name, escaped file name, MIME type.
    QTest::addColumn<QByteArray>("field");
    QTest::addColumn<ByteArrays>("sentNames");
    QTest::addColumn<ByteArrays>("mimeTypes");
    const QByteArray octets = "application/octet-stream";

    QTest::newRow("one file keeps its name's case")
        << FileList{{"Photo.JPG", QByteArray("\xff\xd8\xff\xe0 jpeg", 9)}} << OptionalPassword()
        << QByteArray("file") << ByteArrays{"Photo.JPG"} << ByteArrays{"image/jpeg"};
    QTest::newRow("several in order, type from the last extension")
        << FileList{{"README", "r"}, {"archive.tar.gz", "gz"}, {"d.", "4"}, {"clip.MP4", "mp4"}}
        << OptionalPassword() << QByteArray("files[]")
        << ByteArrays{"README", "archive.tar.gz", "d.", "clip.MP4"}
        << ByteArrays{octets, octets, octets, "video/mp4"};
    QTest::newRow("password part comes last, empty file")
        << FileList{{"x.txt", "x"}, {"empty.png", QByteArray()}}
        << OptionalPassword(u"pa ss\"wörd"_qs) << QByteArray("files[]")
        << ByteArrays{"x.txt", "empty.png"} << ByteArrays{octets, "image/png"};
    QTest::newRow("empty password sends no part")
        << FileList{{"x.txt", "x"}} << OptionalPassword(QString()) << QByteArray("file")
        << ByteArrays{"x.txt"} << ByteArrays{octets};
    QTest::newRow("non-ASCII name stays raw UTF-8")
        << FileList{{u"写真 ✓ café.pdf"_qs, "%PDF"}} << OptionalPassword() << QByteArray("file")
        << ByteArrays{u"写真 ✓ café.pdf"_qs.toUtf8()} << ByteArrays{"application/pdf"};
    QTest::newRow("quote and line breaks are escaped")
        << FileList{{"a\"b\r\nContent-Type: evil\".txt", "payload"}} << OptionalPassword()
        << QByteArray("file") << ByteArrays{"a%22b%0D%0AContent-Type: evil%22.txt"}
        << ByteArrays{octets};
    // Only the name's own extension counts, in any case; a bundle is left out silently.
    QTest::newRow("blocked bundle dropped, look-alikes sent")
        << FileList{{"Foo.App", "bundle"}, {"x.app/inner.txt", "i"}, {"my.application", "a"}}
        << OptionalPassword() << QByteArray("files[]")
        << ByteArrays{"inner.txt", "my.application"} << ByteArrays{octets, octets};
    QByteArray binary;
    for (int i = 0; i < 1600000; ++i) // over 1 MiB: where curl would add Expect
        binary += static_cast<char>((i * 7919) & 0xff);
    QTest::newRow("binary file larger than a buffer")
        << FileList{{"data.bin", binary}} << OptionalPassword(u"pw"_qs) << QByteArray("file")
        << ByteArrays{"data.bin"} << ByteArrays{octets};
}

void UploadRequestTest::exactBody()
{
    QFETCH(FileList, files);
    QFETCH(OptionalPassword, password);
    QFETCH(QByteArray, field);
    QFETCH(ByteArrays, sentNames);
    QFETCH(ByteArrays, mimeTypes);

    QTemporaryDir dir;
    QList<QUrl> urls;
    ByteArrays sentContents;
    for (const NamedContent &file : files) {
        urls.append(writeFile(dir, file.name, file.content));
        if (!file.name.endsWith(u".App"))
            sentContents.append(file.content);
    }

    TestHttpServer server;
    server.enqueue(TestHttpServer::json(200, R"({"success":true,"url":"https://s.example/x"})"));
    UploadProbe probe;
    QVERIFY(probe.upload(server.url(), urls, password));
    QCOMPARE(probe.result().response().url, u"https://s.example/x"_qs);

    QCOMPARE(server.requestCount(), 1);
    const TestHttpServer::Request request = server.requests().at(0);
    QCOMPARE(request.method + ' ' + request.target, QByteArray("POST /api/upload.php"));
    const QByteArray contentType = request.header("content-type");
    const QRegularExpression shape(QStringLiteral(
        "^multipart/form-data; boundary=(Boundary-[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-"
        "[0-9A-F]{4}-[0-9A-F]{12})$"));
    const auto match = shape.match(QString::fromLatin1(contentType));
    QVERIFY2(match.hasMatch(), contentType.constData());
    const QByteArray boundary = match.captured(1).toLatin1();
    // A fixed length, no chunking, no 100-continue round trip.
    QCOMPARE(request.header("content-length"), QByteArray::number(request.bodySize));
    QVERIFY(request.header("transfer-encoding").isNull() && request.header("expect").isNull());

    QByteArray expected;
    for (qsizetype i = 0; i < sentNames.size(); ++i) {
        expected += "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + field +
                    "\"; filename=\"" + sentNames[i] + "\"\r\nContent-Type: " + mimeTypes[i] +
                    "\r\n\r\n" + sentContents[i] + "\r\n";
    }
    if (password && !password->isEmpty()) {
        expected += "--" + boundary + "\r\nContent-Disposition: form-data; name=\"password\"" +
                    "\r\n\r\n" + password->toUtf8() + "\r\n";
    }
    expected += "--" + boundary + "--\r\n";
    QCOMPARE(request.body, expected);

    // A second, independent reader: PHP must see the same parts.
    QFile dumpFile(m_dir.filePath(u"dump.json"_qs));
    dumpFile.remove();
    UploadProbe viaPhp;
    QVERIFY(viaPhp.upload(m_phpEndpoint, urls, password));
    QVERIFY2(viaPhp.result().isSuccess(), qPrintable(viaPhp.result().localizedDescription()));
    QVERIFY(dumpFile.open(QIODevice::ReadOnly));
    const QJsonObject dump = QJsonDocument::fromJson(dumpFile.readAll()).object();
    const QJsonArray parsed = dump.value(u"files").toArray();
    QCOMPARE(parsed.size(), sentNames.size());
    for (qsizetype i = 0; i < sentNames.size(); ++i) {
        const QJsonObject f = parsed.at(i).toObject();
        QCOMPARE(f.value(u"field").toString().toUtf8(), field);
        QCOMPARE(f.value(u"name").toString().toUtf8(), sentNames[i]);
        QCOMPARE(f.value(u"type").toString().toUtf8(), mimeTypes[i]);
        QCOMPARE(f.value(u"error").toInt(-1), 0);
        QCOMPARE(f.value(u"sha256").toString().toLatin1(),
                 QCryptographicHash::hash(sentContents[i], QCryptographicHash::Sha256).toHex());
    }
    QCOMPARE(dump.value(u"post").toObject().value(u"password").toString(),
             password.value_or(QString()));
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

    TestHttpServer server;
    UploadProbe probe;
    const bool done =
        probe.upload(server.url(), {QUrl::fromEncoded("file://" + path.toPercentEncoding("/"))});
    ::unlink(path.constData()); // QTemporaryDir cannot name it
    QVERIFY(done && probe.result().isSuccess());
    QVERIFY(server.requests().at(0).body.contains(
        "; filename=\"caf\xe9 %221%22.txt\"\r\nContent-Type: application/octet-stream\r\n"
        "\r\nlatin\r\n"));
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
    uploader.upload(urls, u"pw"_qs, probe.progress(), probe.completion());
    QCOMPARE(probe.completionCount(), 1); // reported before upload() returns
    QTest::qWait(150);
    QCOMPARE(probe.completionCount(), 1);
    QCOMPARE(probe.result().localizedDescription(), message);
    if (kind < 0)
        QVERIFY(probe.result().isPlatformError());
    else
        QCOMPARE(int(probe.result().uploadError().kind()), kind);
    QVERIFY(probe.state().progress.isEmpty());
    QCOMPARE(server.connectionCount(), 0);
}

void UploadRequestTest::sizeLimitIsInclusive()
{
    // Sparse files: their size is what counts, and nothing may be read.
    QTemporaryDir dir;
    const QUrl bigUrl = writeFile(dir, u"big.mov"_qs, {}, PelkinUploader::maxUploadBytes - 10);
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
    // Megabytes up to the unit's change, with separators; two digits of gigabytes.
    QCOMPARE(UploadError::formatBytes(1073741823), u"1,024 MB"_qs);
    QCOMPARE(UploadError::formatBytes(1073741824 + 1073741824 / 100 * 23), u"1.23 GB"_qs);
    QTest::qWait(100);
    QCOMPARE(server.connectionCount(), 0);
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
    const QString path = writeFile(dir, u"growing-log.bin"_qs, {}, 256 << 20).toLocalFile();

    TestHttpServer server;
    server.setBodyCaptureLimit(0);
    PelkinUploader uploader(server.url(), 5s);
    UploadProbe probe;
    bool truncated = false;
    // The first progress call comes once the file is open and sending starts.
    uploader.upload(
        {QUrl::fromLocalFile(path)}, {},
        [&](double) {
            if (!truncated)
                truncated = QFile::resize(path, 1024 * 1024);
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
