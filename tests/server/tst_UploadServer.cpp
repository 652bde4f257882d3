// The service process against curl, raw sockets and (when built) our own upload client.
#include "RawConnection.h"
#include "ServerProcess.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QtTest>
#ifdef PELKIN_WITH_UPLOADER
#include "PelkinUploader.h"
#include "UploadJob.h"
#endif

namespace {

const QString publicUrl = "https://files.example.test";
constexpr int maxBytes = 100000;
constexpr int maxFiles = 5;
using FileList = QList<QPair<QString, QByteArray>>;

QJsonObject jsonOf(const QByteArray &body)
{
    return QJsonDocument::fromJson(body).object();
}

QStringList entries(const QString &dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);
}

QByteArray multipart(const FileList &files)
{
    QByteArray body;
    for (const auto &[name, content] : files)
        body += "--B0undary\r\nContent-Disposition: form-data; name=\"file\"; filename=\"" +
                name.toUtf8() + "\"\r\nContent-Type: application/octet-stream\r\n\r\n" + content +
                "\r\n";
    return body + "--B0undary--\r\n";
}

QByteArray rawUpload(const QByteArray &framing, const QByteArray &body)
{
    return "POST /api/upload.php HTTP/1.1\r\nHost: 127.0.0.1\r\n"
           "Content-Type: multipart/form-data; boundary=B0undary\r\n" + framing + "\r\n" + body;
}

QByteArray lengthOf(const QByteArray &body)
{
    return "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
}

QByteArray chunk(const QByteArray &bytes)
{
    return QByteArray::number(bytes.size(), 16) + "\r\n" + bytes + "\r\n";
}

struct Curl
{
    int status = 0;
    QByteArray body;
    QByteArray headers;
    QByteArray header(const QByteArray &name) const { return headerOf(headers, name); }
};

// curl with the arguments (bounded); the reply's status, body and headers.
Curl curl(const QStringList &args)
{
    QTemporaryDir dir;
    QProcess process;
    process.start("curl", QStringList{"-sS", "--max-time", "30", "-o", dir.filePath("body"), "-D",
                                      dir.filePath("headers"), "-w", "%{http_code}"} + args);
    if (!process.waitForFinished(40000))
        process.kill();
    const auto read = [&](const char *name) {
        QFile file(dir.filePath(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    return {process.readAllStandardOutput().toInt(), read("body"), read("headers")};
}

} // namespace

Q_DECLARE_METATYPE(FileList)

class UploadServerTest : public QObject
{
    Q_OBJECT

private:
    ServerProcess m_server{{"--max-bytes", QString::number(maxBytes), "--max-files",
                            QString::number(maxFiles), "--public-url", publicUrl + "/"}};
    QTemporaryDir m_files;

    QString writeFile(const QString &name, const QByteArray &content)
    {
        QFile file(m_files.filePath(name));
        return file.open(QIODevice::WriteOnly) && file.write(content) == content.size()
                   ? file.fileName() : QString();
    }
    Curl post(const ServerProcess &server, const QByteArray &body, const QStringList &extra = {})
    {
        return curl(QStringList{"-H", "Content-Type: multipart/form-data; boundary=B0undary",
                                "--data-binary", "@" + writeFile("raw-body", body)} +
                    extra + QStringList{server.url() + "/api/upload.php"});
    }
    QString uploadsDir() const { return m_server.dataDir() + "/uploads"; }
    // Nothing new stored, nothing half-received left behind.
    void nothingKept(const ServerProcess &server, const QStringList &before)
    {
        QCOMPARE(entries(server.dataDir() + "/uploads"), before);
        QTRY_COMPARE_WITH_TIMEOUT(entries(server.dataDir() + "/incoming"), QStringList(), 5000);
    }
    void started(ServerProcess &server) { QVERIFY2(server.start(), server.errorOutput().constData()); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_files.isValid());
        started(m_server);
    }

    void uploadsKeepEveryByte_data()
    {
        QTest::addColumn<FileList>("files");
        QTest::addColumn<QString>("password");
        QByteArray binary;
        for (int i = 0; i < 256; ++i)
            binary += char(i);
        QTest::newRow("one file") << FileList{{"hello.txt", "hello\n"}} << QString();
        QTest::newRow("several, password")
            << FileList{{"写真 2026年.jpg", binary.repeated(10)}, {"empty.bin", ""}, {"README", "t"}}
            << QString("pässwörd 秘密");
    }
    void uploadsKeepEveryByte()
    {
        QFETCH(FileList, files);
        QFETCH(QString, password);
        QStringList args;
        QStringList names;
        qint64 total = 0;
        for (const auto &[name, content] : files) {
            args << "-F" << (files.size() == 1 ? "file" : "files[]") + QString("=@") + writeFile(name, content);
            names << name;
            total += content.size();
        }
        if (!password.isEmpty())
            args << "--form-string" << "password=" + password;
        const Curl reply = curl(args << m_server.url() + "/api/upload.php");
        QCOMPARE(reply.status, 200);
        QCOMPARE(reply.header("X-Content-Type-Options"), QByteArray("nosniff"));
        const QJsonObject json = jsonOf(reply.body);
        const QString id = json.value("id").toString();
        QVERIFY(QRegularExpression("^[A-Za-z0-9_-]{22}$").match(id).hasMatch());
        const QDateTime expires = QDateTime::fromString(json.value("expires_at").toString(), Qt::ISODate);
        QVERIFY(qAbs(QDateTime::currentDateTimeUtc().secsTo(expires) - 7 * 86400) < 10);
        QVERIFY(json.value("success").toBool() && json.value("expires_in").isDouble());
        QVERIFY(qAbs(json.value("expires_in").toInteger() - 7 * 86400) < 10);
        QCOMPARE(json.value("url").toString() + " " + json.value("download_url").toString(),
                 publicUrl + "/f/" + id + " " + publicUrl + "/d/" + id);
        QCOMPARE(json.value("size_bytes").toInteger(-1), total);
        QCOMPARE(json.value("file_count").toInteger(-1), files.size());
        QCOMPARE(json.value("original_names").toVariant().toStringList(), names);
        QCOMPARE(json.value("password_protected"), QJsonValue(!password.isEmpty()));

        QStringList cookie;
        const QUrl sharePage(m_server.url() + "/f/" + id);
        if (!password.isEmpty()) {
            const QString first = m_server.url() + "/d/" + id + "/0";
            const Curl refused = curl({first});
            QCOMPARE(refused.status, 303);
            QCOMPARE(QUrl(first).resolved(QUrl(refused.header("Location"))), sharePage);
            const QString jar = m_files.filePath("jar");
            const Curl login = curl({"-c", jar, "--data-urlencode", "password=" + password,
                                     sharePage.toString()});
            QCOMPARE(login.status, 303);
            QCOMPARE(sharePage.resolved(QUrl(login.header("Location"))), sharePage);
            cookie << "-b" << jar;
        }
        for (int i = 0; i < files.size(); ++i) {
            const Curl download = curl(cookie + QStringList{m_server.url() + "/d/" + id + "/" + QString::number(i)});
            QCOMPARE(download.status, 200);
            QCOMPARE(download.body, files[i].second);
            QVERIFY(download.header("Content-Disposition")
                        .contains("filename*=UTF-8''" + QUrl::toPercentEncoding(files[i].first)));
        }
        QCOMPARE(curl(cookie + QStringList{m_server.url() + "/d/" + id + "/" + QString::number(files.size())}).status, 404);
        QCOMPARE(entries(m_server.dataDir() + "/incoming"), QStringList());
    }

    void badRequestsAreRefusedWithoutLeavingFiles_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QStringList>("extraArgs");
        QTest::addColumn<int>("status");
        const QByteArray pw = "--B0undary\r\nContent-Disposition: form-data; name=\"password\"\r\n\r\n";
        FileList many;
        for (int i = 0; i <= maxFiles; ++i)
            many.append({"f" + QString::number(i), "x"});
        const QByteArray big = multipart({{"big", QByteArray(2 * 1024 * 1024, 'z')}});
        QTest::newRow("not multipart") << QByteArray("a=1") << QStringList{"-H", "Content-Type: text/plain"} << 400;
        QTest::newRow("no file") << pw + "pw\r\n--B0undary--\r\n" << QStringList() << 400;
        QTest::newRow("too many files") << multipart(many) << QStringList() << 400;
        // Over the limit only once the second file has been partly stored.
        QTest::newRow("oversized total") << multipart({{"a", QByteArray(maxBytes / 2 + 10, 'a')},
                                                       {"b", QByteArray(maxBytes / 2 + 10, 'b')}})
                                         << QStringList() << 413;
        QTest::newRow("oversized length") << big << QStringList() << 413;
        // Without "Expect: 100-continue" the body is read and dropped first.
        QTest::newRow("oversized, no 100-continue") << big << QStringList{"-H", "Expect:"} << 413;
        QTest::newRow("password too long") << multipart({{"a", "abc"}}).chopped(14) + pw +
                                                  QByteArray(5000, 'p') + "\r\n--B0undary--\r\n"
                                           << QStringList() << 400;
        QTest::newRow("compressed body") << multipart({{"a", "abc"}})
                                         << QStringList{"-H", "Content-Encoding: gzip"} << 415;
        QTest::newRow("wrong method") << multipart({{"a", "abc"}}) << QStringList{"-X", "PUT"} << 405;
    }
    void badRequestsAreRefusedWithoutLeavingFiles()
    {
        QFETCH(QByteArray, body);
        QFETCH(QStringList, extraArgs);
        QFETCH(int, status);
        const QStringList before = entries(uploadsDir());
        const Curl reply = post(m_server, body, extraArgs);
        QCOMPARE(reply.status, status);
        const QJsonObject json = jsonOf(reply.body);
        QCOMPARE(json.value("success"), QJsonValue(false));
        // Said in Japanese.
        QVERIFY(json.value("error").toString().contains(QRegularExpression("[\\x{3040}-\\x{9fff}]")));
        nothingKept(m_server, before);
    }

    void ambiguousFramingIsRefused()
    {
        const QByteArray body = multipart({{"framed.txt", "abc"}});
        for (const auto &[framing, status] : QList<QPair<QByteArray, int>>{
                 {lengthOf(body) + "Content-Length: 5\r\n", 400},
                 {lengthOf(body) + "Transfer-Encoding: chunked\r\n", 400},
                 {"Transfer-Encoding: gzip\r\n", 501}, {"", 411}}) {
            const QStringList before = entries(uploadsDir());
            RawConnection connection;
            QVERIFY(connection.connectTo(m_server.port()) && connection.send(rawUpload(framing, body)));
            connection.shutdownWrite();
            const RawReply reply = RawReply::parse(connection.readUntilClosed(10000));
            QVERIFY2(reply.status == status, framing.constData());
            QCOMPARE(jsonOf(reply.body).value("success"), QJsonValue(false));
            nothingKept(m_server, before);
        }
    }

    void hostileNamesAreStoredAsDataOnly_data()
    {
        QTest::addColumn<QByteArray>("sent");
        QTest::addColumn<QString>("stored");
        QTest::newRow("parent folders") << QByteArray("../../escape.txt") << "../../escape.txt";
        QTest::newRow("absolute path") << QByteArray("/tmp/pelkin-abs.txt") << "/tmp/pelkin-abs.txt";
        QTest::newRow("escaped quote and line break") << QByteArray("a%22b%0D%0Ac.txt") << "a\"b\r\nc.txt";
        QTest::newRow("other escapes kept") << QByteArray("100%25 %2F.txt") << "100%25 %2F.txt";
        QTest::newRow("control characters") << QByteArray("ctl\x01\x1b.txt") << "ctl\x01\x1b.txt";
        QTest::newRow("invalid UTF-8") << QByteArray("\xff\xfe" "bad.txt") << "\uFFFD\uFFFDbad.txt";
        QTest::newRow("markup") << QByteArray("<script>x</script>.html") << "<script>x</script>.html";
        QTest::newRow("empty") << QByteArray("") << "file";
        QTest::newRow("right-to-left override") << QByteArray("a\u202Etxt.exe") << "a\u202Etxt.exe";
    }
    void hostileNamesAreStoredAsDataOnly()
    {
        QFETCH(QByteArray, sent);
        QFETCH(QString, stored);
        const QStringList around = entries(m_server.scratchDir());
        const QByteArray body = "--B0undary\r\nContent-Disposition: form-data; name=\"file\"; "
                                "filename=\"" + sent + "\"\r\n\r\npayload\r\n--B0undary--\r\n";
        const Curl reply = post(m_server, body);
        QCOMPARE(reply.status, 200);
        const QJsonObject json = jsonOf(reply.body);
        QCOMPARE(json.value("original_names").toArray().at(0).toString(), stored);
        const QString id = json.value("id").toString();
        QCOMPARE(entries(uploadsDir() + "/" + id), (QStringList{"0", "meta.json"}));
        QCOMPARE(entries(m_server.scratchDir()), around);
        QVERIFY(!QFile::exists("/tmp/pelkin-abs.txt"));

        // Shown escaped (controls and direction overrides as %XX), never obeyed.
        const QByteArray page = curl({m_server.url() + "/f/" + id}).body;
        QVERIFY(!page.contains("<script>") && !page.contains('\x01') && !page.contains("\u202E"));
        QVERIFY(!stored.startsWith("ctl") || page.contains("ctl%01%1B.txt"));
        QVERIFY(!stored.contains(QChar(0x202E)) || page.contains("a%E2%80%AEtxt.exe"));
        const Curl download = curl({m_server.url() + "/d/" + id});
        QCOMPARE(download.body, QByteArray("payload"));
        QCOMPARE(download.header("Content-Type"), QByteArray("application/octet-stream"));
        const QByteArray disposition = download.header("Content-Disposition");
        const int star = disposition.indexOf("filename*=UTF-8''");
        QVERIFY(star > 0);
        QCOMPARE(QString::fromUtf8(QByteArray::fromPercentEncoding(disposition.mid(star + 17))), stored);
    }

    void unknownAndMalformedLinksAnswerNotFound()
    {
        for (const char *path : {"/f/AAAAAAAAAAAAAAAAAAAAAA", "/f/abc", "/d/../../etc/passwd",
                                 "/f/..%2F..%2Fsecret", "/d/AAAAAAAAAAAAAAAAAAAAAA/0"}) {
            const Curl reply = curl({"--path-as-is", m_server.url() + path});
            QCOMPARE(reply.status, 404);
            QVERIFY(reply.body.contains("ファイルが見つかりません"));
        }
    }

    void largeBodyIsStreamedNotBuffered()
    {
        ServerProcess server;
        started(server);
        QFile sparse(m_files.filePath("sparse.bin"));
        constexpr qint64 size = 200 * 1024 * 1024;
        QVERIFY(sparse.open(QIODevice::WriteOnly) && sparse.resize(size));
        const Curl reply = curl({"-F", "file=@" + sparse.fileName(), server.url() + "/api/upload.php"});
        QCOMPARE(jsonOf(reply.body).value("size_bytes").toInteger(), size);
        QVERIFY(sparse.remove());
        QFile status(QString("/proc/%1/status").arg(server.pid()));
        QVERIFY(status.open(QIODevice::ReadOnly));
        const auto peak = QRegularExpression("VmHWM:\\s+(\\d+) kB").match(status.readAll());
        QVERIFY2(peak.captured(1).toLongLong() < 64 * 1024, qPrintable(peak.captured(0)));
    }

    void expiredUploadsArePurged()
    {
        // Leftovers of an earlier run: cleared at start.
        ServerProcess server({"--expire-days", "0.00003"}); // about 2.6 seconds
        const QString stale = server.dataDir() + "/incoming/half-received";
        const QString expired = server.dataDir() + "/uploads/AAAAAAAAAAAAAAAAAAAAAA";
        QVERIFY(QDir().mkpath(stale) && QDir().mkpath(expired));
        QFile meta(expired + "/meta.json");
        QVERIFY(meta.open(QIODevice::WriteOnly));
        meta.write(R"({"id":"AAAAAAAAAAAAAAAAAAAAAA","created_at":1,"expires_at":2,)"
                   R"("files":[{"name":"old","content_type":"text/plain","size":0}],"password_hash":""})");
        meta.close();
        QFile(expired + "/0").open(QIODevice::WriteOnly);
        started(server);
        QVERIFY(!QDir(stale).exists() && !QDir(expired).exists());
        QVERIFY(server.errorOutput().contains("purged 1 expired upload(s)"));
        QVERIFY(server.errorOutput().contains("removed 1 unfinished upload(s) left by an earlier run"));

        // And while it runs.
        const QJsonObject json = jsonOf(post(server, multipart({{"soon.txt", "x"}})).body);
        QVERIFY(json.value("expires_in").toInteger() <= 3);
        const QString page = server.url() + "/f/" + json.value("id").toString();
        QCOMPARE(curl({page}).status, 200);
        QTRY_COMPARE_WITH_TIMEOUT(entries(server.dataDir() + "/uploads"), QStringList(), 15000);
        QCOMPARE(curl({page}).status, 404);
    }

    void bodiesSplitAnywhereAreAccepted_data()
    {
        QTest::addColumn<bool>("chunked");
        QTest::newRow("Content-Length") << false;
        QTest::newRow("chunked") << true;
    }
    void bodiesSplitAnywhereAreAccepted()
    {
        QFETCH(bool, chunked);
        const QByteArray content = "split me\r\n--B0undar";
        const QByteArray body = multipart({{"split.txt", content}});
        for (int cut = 1; cut < body.size(); ++cut) {
            const QByteArray head = body.left(cut);
            const QByteArray tail = body.mid(cut);
            RawConnection connection;
            QVERIFY(connection.connectTo(m_server.port()));
            QVERIFY(connection.send(chunked ? rawUpload("Transfer-Encoding: chunked\r\n", chunk(head))
                                            : rawUpload(lengthOf(body), head)));
            QTest::qWait(2);
            QVERIFY(connection.send(chunked ? chunk(tail) + "0\r\n\r\n" : tail));
            const RawReply reply = RawReply::parse(connection.readUntilClosed(10000));
            QVERIFY2(reply.status == 200, qPrintable(QString("cut at %1: %2").arg(cut).arg(reply.status)));
            QFile stored(uploadsDir() + "/" + jsonOf(reply.body).value("id").toString() + "/0");
            QVERIFY(stored.open(QIODevice::ReadOnly));
            QCOMPARE(stored.readAll(), content);
        }
    }

    void halfClosingClientGetsItsReplyOrNothingIsKept_data()
    {
        QTest::addColumn<bool>("wholeBody");
        QTest::newRow("whole body sent") << true;
        QTest::newRow("body cut short") << false;
    }
    void halfClosingClientGetsItsReplyOrNothingIsKept()
    {
        QFETCH(bool, wholeBody);
        // A short idle time-out: a cut body ends by the half-close or, at the latest, by the
        // time-out; either way nothing may be kept.
        ServerProcess server({"--timeout", "3"});
        started(server);
        const QByteArray body = multipart({{"half.txt", "half-closed"}});
        RawConnection connection;
        QVERIFY(connection.connectTo(server.port()));
        QVERIFY(connection.send(rawUpload(lengthOf(body), wholeBody ? body : body.left(body.size() / 2))));
        connection.shutdownWrite();
        const RawReply reply = RawReply::parse(connection.readUntilClosed(10000));
        if (!wholeBody) {
            QVERIFY(reply.status != 200);
            return nothingKept(server, {});
        }
        QCOMPARE(reply.status, 200);
        QCOMPARE(entries(server.dataDir() + "/uploads"), QStringList{jsonOf(reply.body).value("id").toString()});
    }

    void rangesAnswerPartialContent_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QByteArray>("contentRange");
        QTest::newRow("middle") << QStringList{"-H", "Range: bytes=2-5"} << 206 << QByteArray("2345")
                                << QByteArray("bytes 2-5/10");
        QTest::newRow("resume") << QStringList{"-C", "6"} << 206 << QByteArray("6789")
                                << QByteArray("bytes 6-9/10");
        QTest::newRow("past the end") << QStringList{"-H", "Range: bytes=10-"} << 416 << QByteArray()
                                      << QByteArray("bytes */10");
        QTest::newRow("If-Range of another version")
            << QStringList{"-H", "Range: bytes=2-5", "-H", "If-Range: \"other\""} << 200
            << QByteArray("0123456789") << QByteArray();
    }
    void rangesAnswerPartialContent()
    {
        QFETCH(QStringList, args);
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QByteArray, contentRange);
        const Curl up = post(m_server, multipart({{"digits.txt", "0123456789"}}));
        const QString url = m_server.url() + "/d/" + jsonOf(up.body).value("id").toString() + "/0";
        const Curl reply = curl(args << url);
        QCOMPARE(reply.status, status);
        QCOMPARE(reply.body, body);
        QCOMPARE(reply.header("Content-Range"), contentRange);
        if (status != 416) {
            QCOMPARE(reply.header("Accept-Ranges"), QByteArray("bytes"));
            // The validator a download manager sends back with If-Range.
            const Curl again = curl({"-H", "Range: bytes=1-1", "-H", "If-Range: " + reply.header("ETag"), url});
            QCOMPARE(again.status, 206);
            QCOMPARE(again.body, QByteArray("1"));
        }
    }

    void passwordGuessesAreThrottled()
    {
        // A service of its own: other cases' wrong passwords would have spent some tokens.
        ServerProcess server;
        started(server);
        const Curl up = curl({"-F", "file=@" + writeFile("guarded.txt", "guarded"), "--form-string",
                              "password=right", server.url() + "/api/upload.php"});
        const QString page = server.url() + "/f/" + jsonOf(up.body).value("id").toString();
        QList<int> statuses;
        Curl last;
        for (int i = 0; i < 7; ++i)
            statuses << (last = curl({"--data-urlencode", "password=wrong" + QString::number(i), page})).status;
        QCOMPARE(statuses, (QList<int>{403, 403, 403, 403, 403, 429, 429}));
        const int retryAfter = last.header("Retry-After").toInt();
        QVERIFY2(retryAfter >= 1 && retryAfter <= 10, last.headers.constData());
        QVERIFY(QString::fromUtf8(last.body).contains("試行回数が多すぎます"));
        // Throttled means not checked at all, even the right password.
        QCOMPARE(curl({"--data-urlencode", "password=right", page}).status, 429);
    }

    void everyRequestIsLoggedWithTheClientAddress()
    {
        RawConnection connection;
        QVERIFY(connection.connectTo(m_server.port()));
        QVERIFY(connection.send("GET /malformed-probe HTTP/1.1\r\nHost: x\r\nNo colon here\r\n\r\n"));
        QCOMPARE(RawReply::parse(connection.readUntilClosed(5000)).status, 400);
        curl({"--path-as-is", m_server.url() + "/x%0D%0Aforged"});
        QTRY_VERIFY_WITH_TIMEOUT(m_server.errorOutput().contains("\"GET /x%0D%0Aforged\" 404"), 5000);
        QVERIFY(m_server.errorOutput().contains("127.0.0.1 \"- /malformed-probe\" 400 - refused"));
    }

    void sigtermLetsUploadsInProgressFinish()
    {
        ServerProcess server;
        started(server);
        const QByteArray body = multipart({{"late.txt", QByteArray(5000, 'L')}});
        RawConnection upload;
        QVERIFY(upload.connectTo(server.port()));
        QVERIFY(upload.send(rawUpload(lengthOf(body), body.left(2000))));
        QTRY_COMPARE_WITH_TIMEOUT(entries(server.dataDir() + "/incoming").size(), 1, 5000);
        // Clients that never finish their headers must not hold the exit up.
        RawConnection dripping[3];
        for (auto &connection : dripping)
            QVERIFY(connection.connectTo(server.port()) && connection.send("GET / HTTP/1.1\r\nHo"));
        QElapsedTimer clock;
        clock.start();
        server.terminate();
        // No new connections are taken once it is stopping.
        QTRY_VERIFY_WITH_TIMEOUT(!RawConnection().connectTo(server.port(), 500), 3000);
        QVERIFY(upload.send(body.mid(2000)));
        const RawReply reply = RawReply::parse(upload.readUntilClosed(5000));
        QCOMPARE(reply.status, 200);
        QCOMPARE(server.waitForExit(5000), 0);
        QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
        const QString id = jsonOf(reply.body).value("id").toString();
        QCOMPARE(QFileInfo(server.dataDir() + "/uploads/" + id + "/0").size(), 5000);
        for (auto &connection : dripping)
            QVERIFY(connection.closedByPeer());
    }

    void stalledClientIsDisconnected()
    {
        ServerProcess server({"--timeout", "1"});
        started(server);
        RawConnection upload;
        QVERIFY(upload.connectTo(server.port()));
        QVERIFY(upload.send(rawUpload("Content-Length: 100000\r\n", multipart({{"a", "partial"}}).left(120))));
        QTRY_COMPARE_WITH_TIMEOUT(entries(server.dataDir() + "/incoming").size(), 1, 5000);
        QTRY_VERIFY_WITH_TIMEOUT(upload.closedByPeer(), 8000);
        nothingKept(server, {});
    }

    void badCommandLinesAndBusyPortAreErrors()
    {
        const QString busy = "127.0.0.1:" + QString::number(m_server.port());
        for (const auto &[args, exitCode, message] : QList<std::tuple<QStringList, int, QString>>{
                 {{"--listen", "localhost"}, 2, "--listen"}, {{"--cert", "c.pem"}, 2, "--key"},
                 {{"--verbose"}, 2, "unknown option"},
                 {{"--listen", busy, "--data", m_files.filePath("second")}, 1, "cannot listen"}}) {
            QProcess process;
            process.start(ServerProcess::binary(), args);
            QVERIFY(process.waitForFinished(5000));
            QCOMPARE(process.exitCode(), exitCode);
            QVERIFY(process.readAllStandardOutput().isEmpty());
            const QString err = QString::fromUtf8(process.readAllStandardError());
            QVERIFY2(err.contains(message) && (exitCode == 1 || err.contains("Usage")), qPrintable(err));
        }
    }

    void servesHttpsWithCertificateAndKey()
    {
        const QString cert = m_files.filePath("cert.pem");
        const QString key = m_files.filePath("key.pem");
        QProcess openssl;
        openssl.start("openssl", {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key,
                                  "-out", cert, "-days", "1", "-subj", "/CN=127.0.0.1", "-addext",
                                  "subjectAltName=IP:127.0.0.1"});
        QVERIFY(openssl.waitForFinished(30000) && openssl.exitCode() == 0);
        ServerProcess server({"--cert", cert, "--key", key});
        started(server);
        QVERIFY2(server.url().startsWith("https://127.0.0.1:"), qPrintable(server.url()));
        const Curl up = curl({"--cacert", cert, "-F", "file=@" + cert, server.url() + "/api/upload.php"});
        const QString shareUrl = jsonOf(up.body).value("url").toString();
        QVERIFY(shareUrl.startsWith(server.url() + "/f/"));
        QCOMPARE(curl({"--cacert", cert, shareUrl}).status, 200);
        // Plain HTTP to the TLS port gets no page.
        QVERIFY(curl({QString(shareUrl).replace("https:", "http:")}).status != 200);
    }

#ifdef PELKIN_WITH_UPLOADER
    // The service's refusals as our own client reads them, including one sent from the
    // announced length while the client is still sending.
    void refusalsReachOurClient_data()
    {
        QTest::addColumn<int>("files");
        QTest::addColumn<int>("size");
        QTest::addColumn<QString>("message");
        QTest::newRow("over the size limit") << 1 << maxBytes + 1000 << "上限";
        QTest::newRow("far over the size limit") << 1 << 3000000 << "上限";
        QTest::newRow("too many files") << maxFiles + 1 << 10 << "ファイルが多すぎます";
    }
    void refusalsReachOurClient()
    {
        QFETCH(int, files);
        QFETCH(int, size);
        QFETCH(QString, message);
        QList<QUrl> urls;
        for (int i = 0; i < files; ++i)
            urls << QUrl::fromLocalFile(writeFile("f" + QString::number(i), QByteArray(size, 'x')));
        PelkinUploader uploader(QUrl(m_server.url() + "/api/upload.php"), std::chrono::seconds(20));
        UploadJob job;
        std::optional<UploadResult> result;
        connect(&job, &UploadJob::finished, this, [&](const UploadResult &r) { result = r; });
        job.start(uploader, urls, std::nullopt);
        QTRY_VERIFY_WITH_TIMEOUT(result.has_value(), 30000);
        QCOMPARE(result->uploadError().kind(), UploadError::Kind::serverError);
        QVERIFY2(result->localizedDescription().contains(message), qPrintable(result->localizedDescription()));
    }
#endif
};

QTEST_GUILESS_MAIN(UploadServerTest)
#include "tst_UploadServer.moc"
