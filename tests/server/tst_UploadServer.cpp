#include "RawConnection.h"
#include "ServerProcess.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QUrl>
#include <QtTest>

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

QByteArray headerValue(const QByteArray &headers, const QByteArray &name)
{
    for (const QByteArray &line : headers.split('\n')) {
        if (line.toLower().startsWith(name.toLower() + ":")) {
            return line.mid(name.size() + 1).trimmed();
        }
    }
    return {};
}

QByteArray multipart(const QList<QPair<QByteArray, QByteArray>> &fileParts)
{
    QByteArray body;
    for (const auto &[name, content] : fileParts) {
        body += "--B0undary\r\nContent-Disposition: form-data; name=\"file\"; filename=\"" + name +
                "\"\r\nContent-Type: application/octet-stream\r\n\r\n" + content + "\r\n";
    }
    return body + "--B0undary--\r\n";
}

QByteArray rawUpload(const QByteArray &framing, const QByteArray &body)
{
    return "POST /api/upload.php HTTP/1.1\r\nHost: 127.0.0.1\r\n"
           "Content-Type: multipart/form-data; boundary=B0undary\r\n" +
           framing + "\r\n" + body;
}

QByteArray chunk(const QByteArray &bytes)
{
    return QByteArray::number(bytes.size(), 16) + "\r\n" + bytes + "\r\n";
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

    CurlResult curl(const QStringList &args) { return runCurl(args, m_files.path()); }
    QString writeFile(const QString &name, const QByteArray &content)
    {
        const QString path = m_files.path() + "/" + name;
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size()) {
            return {};
        }
        return path;
    }
    CurlResult postRaw(const QByteArray &body, const QByteArray &contentType,
                       const QStringList &extra = {})
    {
        return curl(QStringList{"-H", "Content-Type: " + contentType, "--data-binary",
                                "@" + writeFile("raw-body", body)} +
                    extra + QStringList{m_server.url() + "/api/upload.php"});
    }
    QString uploadsDir() const { return m_server.dataDir() + "/uploads"; }

private slots:
    void initTestCase()
    {
        QVERIFY(m_files.isValid());
        QVERIFY2(m_server.start(), m_server.errorOutput().constData());
    }

    void uploadsAnswerEveryFieldAndKeepTheBytes_data()
    {
        QTest::addColumn<FileList>("files");
        QTest::addColumn<QString>("password");
        QByteArray binary;
        for (int i = 0; i < 256; ++i) {
            binary += char(i);
        }
        QTest::newRow("one file") << FileList{{"hello.txt", "hello\n"}} << QString();
        QTest::newRow("several files")
            << FileList{{"a.txt", "A"}, {"b.png", binary}, {"README", "text"}} << QString();
        QTest::newRow("password") << FileList{{"secret.pdf", "%PDF-1.4"}}
                                  << QString("pässwörd 秘密");
        QTest::newRow("Japanese name")
            << FileList{{"写真 2026年.jpg", binary.repeated(10)}} << QString();
        QTest::newRow("empty file") << FileList{{"empty.bin", QByteArray()}} << QString();
    }
    void uploadsAnswerEveryFieldAndKeepTheBytes()
    {
        QFETCH(FileList, files);
        QFETCH(QString, password);
        QTemporaryDir dir;
        QStringList args;
        const QString field = files.size() == 1 ? "file" : "files[]";
        QStringList names;
        qint64 total = 0;
        for (const auto &[name, content] : files) {
            QFile file(dir.path() + "/" + name);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(content);
            file.close();
            args << "-F" << field + "=@" + file.fileName();
            names << name;
            total += content.size();
        }
        if (!password.isEmpty()) {
            args << "--form-string"
                 << "password=" + password;
        }
        const CurlResult reply = curl(args << m_server.url() + "/api/upload.php");
        QCOMPARE(reply.status, 200);
        QCOMPARE(headerValue(reply.headers, "X-Content-Type-Options"), QByteArray("nosniff"));
        const QJsonObject json = jsonOf(reply.body);
        QCOMPARE(json.value("success"), QJsonValue(true));
        const QString id = json.value("id").toString();
        QVERIFY(QRegularExpression("^[A-Za-z0-9_-]{22}$").match(id).hasMatch());
        QCOMPARE(json.value("url").toString(), publicUrl + "/f/" + id);
        QCOMPARE(json.value("download_url").toString(), publicUrl + "/d/" + id);
        const QDateTime expires =
            QDateTime::fromString(json.value("expires_at").toString(), Qt::ISODate);
        QVERIFY(expires.isValid());
        QVERIFY(qAbs(QDateTime::currentDateTimeUtc().secsTo(expires) - 7 * 86400) < 10);
        QVERIFY(json.value("expires_in").isDouble());
        QVERIFY(qAbs(json.value("expires_in").toInteger() - 7 * 86400) < 10);
        QCOMPARE(json.value("size_bytes").toInteger(-1), total);
        QCOMPARE(json.value("file_count").toInteger(-1), files.size());
        QCOMPARE(json.value("original_names").toVariant().toStringList(), names);
        QCOMPARE(json.value("password_protected"), QJsonValue(!password.isEmpty()));

        QStringList cookie;
        if (!password.isEmpty()) {
            const QString first = m_server.url() + "/d/" + id + "/0";
            const CurlResult refused = curl({first});
            QCOMPARE(refused.status, 303);
            const QUrl sharePage(m_server.url() + "/f/" + id);
            QCOMPARE(QUrl(first).resolved(QUrl(headerValue(refused.headers, "Location"))),
                     sharePage);
            const QString jar = m_files.path() + "/jar";
            const CurlResult login = curl({"-c", jar, "--data-urlencode", "password=" + password,
                                           m_server.url() + "/f/" + id});
            QCOMPARE(login.status, 303);
            QCOMPARE(sharePage.resolved(QUrl(headerValue(login.headers, "Location"))), sharePage);
            cookie << "-b" << jar;
        }
        for (int i = 0; i < files.size(); ++i) {
            const CurlResult download =
                curl(cookie + QStringList{m_server.url() + "/d/" + id + "/" + QString::number(i)});
            QCOMPARE(download.status, 200);
            QCOMPARE(download.body, files[i].second);
            const QByteArray disposition = headerValue(download.headers, "Content-Disposition");
            QVERIFY2(
                disposition.contains("filename*=UTF-8''" + QUrl::toPercentEncoding(files[i].first)),
                disposition.constData());
        }
        QCOMPARE(entries(m_server.dataDir() + "/incoming"), QStringList());
    }

    void badRequestsAreRefusedWithoutLeavingFiles_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QByteArray>("contentType");
        QTest::addColumn<QStringList>("extraArgs");
        QTest::addColumn<int>("status");
        const QByteArray mp = "multipart/form-data; boundary=B0undary";
        QTest::newRow("not multipart")
            << QByteArray("a=1") << QByteArray("text/plain") << QStringList() << 400;
        QTest::newRow("no boundary") << multipart({{"a.txt", "abc"}})
                                     << QByteArray("multipart/form-data") << QStringList() << 400;
        QTest::newRow("malformed multipart")
            << QByteArray("--B0undary\r\nContent-Disposition: form-data; name=\"file\"; "
                          "filename=\"a.txt\"\r\n\r\nabc and no end")
            << mp << QStringList() << 400;
        QTest::newRow("broken part header")
            << QByteArray("--B0undary\r\nContent-Disposition: attachment\r\n\r\nabc\r\n"
                          "--B0undary--\r\n")
            << mp << QStringList() << 400;
        QTest::newRow("no file")
            << QByteArray("--B0undary\r\nContent-Disposition: form-data; name=\"password\"\r\n\r\n"
                          "pw\r\n--B0undary--\r\n")
            << mp << QStringList() << 400;
        QList<QPair<QByteArray, QByteArray>> many;
        for (int i = 0; i <= maxFiles; ++i) {
            many.append({"f" + QByteArray::number(i), "x"});
        }
        QTest::newRow("too many files") << multipart(many) << mp << QStringList() << 400;
        // Over the limit only once the second file has been partly stored.
        QTest::newRow("oversized total") << multipart({{"a", QByteArray(maxBytes / 2 + 10, 'a')},
                                                       {"b", QByteArray(maxBytes / 2 + 10, 'b')}})
                                         << mp << QStringList() << 413;
        QTest::newRow("oversized length")
            << multipart({{"big", QByteArray(2 * 1024 * 1024, 'z')}}) << mp << QStringList() << 413;
        // Without "Expect: 100-continue" the body is read and dropped first.
        QTest::newRow("oversized length, no 100-continue")
            << multipart({{"big", QByteArray(2 * 1024 * 1024, 'z')}}) << mp
            << QStringList{"-H", "Expect:"} << 413;
        QTest::newRow("password too long")
            << "--B0undary\r\nContent-Disposition: form-data; name=\"file\"; filename=\"a\"\r\n\r\n"
               "abc\r\n--B0undary\r\nContent-Disposition: form-data; name=\"password\"\r\n\r\n" +
                   QByteArray(5000, 'p') + "\r\n--B0undary--\r\n"
            << mp << QStringList() << 400;
        QTest::newRow("compressed body") << multipart({{"a", "abc"}}) << mp
                                         << QStringList{"-H", "Content-Encoding: gzip"} << 415;
        QTest::newRow("wrong method")
            << multipart({{"a", "abc"}}) << mp << QStringList{"-X", "PUT"} << 405;
    }
    void badRequestsAreRefusedWithoutLeavingFiles()
    {
        QFETCH(QByteArray, body);
        QFETCH(QByteArray, contentType);
        QFETCH(QStringList, extraArgs);
        QFETCH(int, status);
        const QStringList before = entries(uploadsDir());
        const CurlResult reply = postRaw(body, contentType, extraArgs);
        QCOMPARE(reply.status, status);
        const QJsonObject json = jsonOf(reply.body);
        QCOMPARE(json.value("success"), QJsonValue(false));
        const QString error = json.value("error").toString();
        QVERIFY2(
            QRegularExpression("[\\x{3040}-\\x{30ff}\\x{4e00}-\\x{9fff}]").match(error).hasMatch(),
            qPrintable(error));
        QCOMPARE(entries(uploadsDir()), before);
        QCOMPARE(entries(m_server.dataDir() + "/incoming"), QStringList());
    }

    void hostileNamesAreStoredAsDataOnly_data()
    {
        QTest::addColumn<QByteArray>("sent");
        QTest::addColumn<QString>("stored");
        QTest::newRow("parent folders") << QByteArray("../../escape.txt") << "../../escape.txt";
        QTest::newRow("absolute path")
            << QByteArray("/tmp/pelkin-abs.txt") << "/tmp/pelkin-abs.txt";
        QTest::newRow("escaped quote and line break")
            << QByteArray("a%22b%0D%0Ac.txt") << "a\"b\r\nc.txt";
        QTest::newRow("other escapes kept") << QByteArray("100%25 %2F.txt") << "100%25 %2F.txt";
        QTest::newRow("control characters") << QByteArray("ctl\x01\x1b.txt") << "ctl\x01\x1b.txt";
        QTest::newRow("invalid UTF-8") << QByteArray("\xff\xfe"
                                                     "bad.txt")
                                       << QString::fromUtf8("\uFFFD\uFFFDbad.txt");
        QTest::newRow("markup") << QByteArray("<script>alert(1)</script>.html")
                                << "<script>alert(1)</script>.html";
        QTest::newRow("empty") << QByteArray("") << "file";
        QTest::newRow("right-to-left override")
            << QByteArray("invoice\u202Etxt.exe") << QString::fromUtf8("invoice\u202Etxt.exe");
    }
    void hostileNamesAreStoredAsDataOnly()
    {
        QFETCH(QByteArray, sent);
        QFETCH(QString, stored);
        const QStringList around = entries(m_server.scratchDir());
        const CurlResult reply =
            postRaw(multipart({{sent, "payload"}}), "multipart/form-data; boundary=B0undary");
        QCOMPARE(reply.status, 200);
        const QJsonObject json = jsonOf(reply.body);
        QCOMPARE(json.value("original_names").toArray().at(0).toString(), stored);
        const QString id = json.value("id").toString();
        QCOMPARE(entries(uploadsDir() + "/" + id), (QStringList{"0", "meta.json"}));
        QCOMPARE(entries(m_server.scratchDir()), around);
        QVERIFY(!QFile::exists("/tmp/pelkin-abs.txt"));

        const CurlResult page = curl({m_server.url() + "/f/" + id});
        QCOMPARE(page.status, 200);
        QVERIFY(!page.body.contains("<script>"));
        QVERIFY(!page.body.contains('\x01') && !page.body.contains('\x1b'));
        if (stored.contains('\x01')) {
            QVERIFY(page.body.contains("ctl%01%1B.txt"));
        }
        // Direction controls are shown, never obeyed.
        QVERIFY(!page.body.contains("\u202E"));
        if (stored.contains(QChar(0x202E))) {
            QVERIFY(page.body.contains("invoice%E2%80%AEtxt.exe"));
        }
        const CurlResult download = curl({m_server.url() + "/d/" + id});
        QCOMPARE(download.status, 200);
        QCOMPARE(download.body, QByteArray("payload"));
        QCOMPARE(headerValue(download.headers, "Content-Type"),
                 QByteArray("application/octet-stream"));
        const QByteArray disposition = headerValue(download.headers, "Content-Disposition");
        const int star = disposition.indexOf("filename*=UTF-8''");
        QVERIFY(star > 0);
        QCOMPARE(QString::fromUtf8(QByteArray::fromPercentEncoding(disposition.mid(star + 17))),
                 stored);
    }

    void unknownAndMalformedLinksAnswerNotFound_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("unknown id") << "/f/AAAAAAAAAAAAAAAAAAAAAA";
        QTest::newRow("short id") << "/f/abc";
        QTest::newRow("traversal") << "/d/../../etc/passwd";
        QTest::newRow("encoded traversal") << "/f/..%2F..%2Fsecret";
        QTest::newRow("unknown download") << "/d/AAAAAAAAAAAAAAAAAAAAAA/0";
    }
    void unknownAndMalformedLinksAnswerNotFound()
    {
        QFETCH(QString, path);
        const CurlResult reply = curl({"--path-as-is", m_server.url() + path});
        QCOMPARE(reply.status, 404);
        QVERIFY(reply.body.contains("ファイルが見つかりません"));
    }

    void fileIndexOutOfRangeIsNotFound()
    {
        const CurlResult up =
            postRaw(multipart({{"one", "1"}}), "multipart/form-data; boundary=B0undary");
        const QString id = jsonOf(up.body).value("id").toString();
        QCOMPARE(curl({m_server.url() + "/d/" + id + "/1"}).status, 404);
        QCOMPARE(curl({m_server.url() + "/d/" + id + "/0"}).status, 200);
    }

    void parallelUploadsAllArrive()
    {
        QList<QProcess *> clients;
        for (int i = 0; i < 6; ++i) {
            auto *client = new QProcess(this);
            const QString path =
                writeFile(QString("parallel-%1").arg(i), QByteArray(20000, 'a' + i));
            client->start("curl", {"-sS", "--max-time", "30", "-F", "file=@" + path,
                                   m_server.url() + "/api/upload.php"});
            clients << client;
        }
        QSet<QString> ids;
        for (int i = 0; i < clients.size(); ++i) {
            QVERIFY(clients[i]->waitForFinished(40000));
            const QJsonObject json = jsonOf(clients[i]->readAllStandardOutput());
            QCOMPARE(json.value("original_names").toArray().at(0).toString(),
                     QString("parallel-%1").arg(i));
            const QString id = json.value("id").toString();
            ids.insert(id);
            QFile stored(uploadsDir() + "/" + id + "/0");
            QVERIFY(stored.open(QIODevice::ReadOnly));
            QCOMPARE(stored.readAll(), QByteArray(20000, 'a' + i));
        }
        QCOMPARE(ids.size(), clients.size());
        qDeleteAll(clients);
    }

    void largeBodyIsStreamedNotBuffered()
    {
        ServerProcess server;
        QVERIFY(server.start());
        QFile sparse(m_files.path() + "/sparse.bin");
        QVERIFY(sparse.open(QIODevice::WriteOnly));
        constexpr qint64 size = 200 * 1024 * 1024;
        QVERIFY(sparse.resize(size));
        sparse.close();
        const CurlResult reply = runCurl(
            {"-F", "file=@" + sparse.fileName(), server.url() + "/api/upload.php"}, m_files.path());
        QCOMPARE(reply.status, 200);
        QCOMPARE(jsonOf(reply.body).value("size_bytes").toInteger(), size);
        QFile status(QString("/proc/%1/status").arg(server.pid()));
        QVERIFY(status.open(QIODevice::ReadOnly));
        const QByteArray text = status.readAll();
        const auto match =
            QRegularExpression("VmHWM:\\s+(\\d+) kB").match(QString::fromLatin1(text));
        QVERIFY(match.hasMatch());
        QVERIFY2(match.captured(1).toLongLong() < 64 * 1024, qPrintable(match.captured(0)));
        QFile::remove(sparse.fileName());
    }

    void expiredUploadsArePurged()
    {
        // About 2.6 seconds.
        ServerProcess server({"--expire-days", "0.00003"});
        QVERIFY(server.start());
        const CurlResult up =
            runCurl({"-F", "file=@" + writeFile("soon.txt", "x"), server.url() + "/api/upload.php"},
                    m_files.path());
        QCOMPARE(up.status, 200);
        const QJsonObject json = jsonOf(up.body);
        QVERIFY(json.value("expires_in").toInteger() <= 3);
        const QString id = json.value("id").toString();
        QCOMPARE(runCurl({server.url() + "/f/" + id}, m_files.path()).status, 200);
        QTRY_VERIFY_WITH_TIMEOUT(!QDir(server.dataDir() + "/uploads/" + id).exists(), 15000);
        QCOMPARE(runCurl({server.url() + "/f/" + id}, m_files.path()).status, 404);
    }

    void leftoversOfAnEarlierRunAreClearedAtStart()
    {
        ServerProcess server;
        const QString stale = server.dataDir() + "/incoming/half-received";
        const QString expired = server.dataDir() + "/uploads/AAAAAAAAAAAAAAAAAAAAAA";
        QVERIFY(QDir().mkpath(stale) && QDir().mkpath(expired));
        QFile meta(expired + "/meta.json");
        QVERIFY(meta.open(QIODevice::WriteOnly));
        meta.write(R"({"id":"AAAAAAAAAAAAAAAAAAAAAA","created_at":1,"expires_at":2,)"
                   R"("files":[{"name":"old","content_type":"text/plain","size":0}],)"
                   R"("password_hash":""})");
        meta.close();
        QFile(expired + "/0").open(QIODevice::WriteOnly);
        QVERIFY(server.start());
        QVERIFY(!QDir(stale).exists());
        QVERIFY(!QDir(expired).exists());
        QCOMPARE(server.stop(), 0);
        QVERIFY(server.errorOutput().contains("purged 1 expired upload(s)"));
        QVERIFY(server.errorOutput().contains("removed 1 unfinished upload(s) left by an earlier run"));
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
            if (chunked) {
                QVERIFY(connection.send(rawUpload("Transfer-Encoding: chunked\r\n", chunk(head))));
                QTest::qWait(2);
                QVERIFY(connection.send(chunk(tail) + "0\r\n\r\n"));
            } else {
                QVERIFY(connection.send(
                    rawUpload("Content-Length: " + QByteArray::number(body.size()) + "\r\n", head)));
                QTest::qWait(2);
                QVERIFY(connection.send(tail));
            }
            const RawReply reply = RawReply::parse(connection.readUntilClosed(10000));
            QVERIFY2(reply.status == 200, qPrintable(QString("cut at %1: %2").arg(cut).arg(reply.status)));
            const QString id = jsonOf(reply.body).value("id").toString();
            QFile stored(uploadsDir() + "/" + id + "/0");
            QVERIFY(stored.open(QIODevice::ReadOnly));
            QCOMPARE(stored.readAll(), content);
        }
    }

    void ambiguousFramingIsRefusedAndNothingStored_data()
    {
        QTest::addColumn<QByteArray>("framing");
        QTest::addColumn<int>("status");
        const QByteArray body = multipart({{"framed.txt", "abc"}});
        const QByteArray length = QByteArray::number(body.size());
        QTest::newRow("two different lengths")
            << "Content-Length: " + length + "\r\nContent-Length: 5\r\n" << 400;
        QTest::newRow("length and chunked")
            << "Content-Length: " + length + "\r\nTransfer-Encoding: chunked\r\n" << 400;
        QTest::newRow("unknown transfer coding") << QByteArray("Transfer-Encoding: gzip\r\n") << 501;
        QTest::newRow("no framing at all") << QByteArray() << 411;
    }
    void ambiguousFramingIsRefusedAndNothingStored()
    {
        QFETCH(QByteArray, framing);
        QFETCH(int, status);
        const QStringList before = entries(uploadsDir());
        RawConnection connection;
        QVERIFY(connection.connectTo(m_server.port()));
        QVERIFY(connection.send(rawUpload(framing, multipart({{"framed.txt", "abc"}}))));
        connection.shutdownWrite();
        const RawReply reply = RawReply::parse(connection.readUntilClosed(10000));
        QCOMPARE(reply.status, status);
        QCOMPARE(jsonOf(reply.body).value("success"), QJsonValue(false));
        QCOMPARE(entries(uploadsDir()), before);
        QTRY_COMPARE_WITH_TIMEOUT(entries(m_server.dataDir() + "/incoming"), QStringList(), 5000);
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
        // A service of its own with a short idle time-out: a cut body ends by
        // the half-close or, at the latest, by the time-out; either way nothing
        // may be kept.
        ServerProcess server({"--timeout", "3"});
        QVERIFY(server.start());
        const QString uploads = server.dataDir() + "/uploads";
        const QStringList before = entries(uploads);
        const QByteArray body = multipart({{"half.txt", "half-closed"}});
        RawConnection connection;
        QVERIFY(connection.connectTo(server.port()));
        QVERIFY(connection.send(rawUpload("Content-Length: " + QByteArray::number(body.size()) + "\r\n",
                                          wholeBody ? body : body.left(body.size() / 2))));
        connection.shutdownWrite();
        const RawReply reply = RawReply::parse(connection.readUntilClosed(10000));
        QTRY_COMPARE_WITH_TIMEOUT(entries(server.dataDir() + "/incoming"), QStringList(), 5000);
        QStringList added = entries(uploads);
        for (const QString &old : before) {
            added.removeOne(old);
        }
        if (wholeBody) {
            QCOMPARE(reply.status, 200);
            QCOMPARE(added, QStringList{jsonOf(reply.body).value("id").toString()});
        } else {
            QVERIFY(reply.status != 200);
            QCOMPARE(added, QStringList());
        }
    }

    void rangesAnswerPartialContent_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QByteArray>("contentRange");
        QTest::newRow("no range") << QStringList() << 200 << QByteArray("0123456789") << QByteArray();
        QTest::newRow("middle") << QStringList{"-H", "Range: bytes=2-5"} << 206 << QByteArray("2345")
                                << QByteArray("bytes 2-5/10");
        QTest::newRow("suffix") << QStringList{"-H", "Range: bytes=-3"} << 206 << QByteArray("789")
                                << QByteArray("bytes 7-9/10");
        QTest::newRow("resume") << QStringList{"-C", "6"} << 206 << QByteArray("6789")
                                << QByteArray("bytes 6-9/10");
        QTest::newRow("two ranges: whole file")
            << QStringList{"-H", "Range: bytes=0-1,5-6"} << 200 << QByteArray("0123456789")
            << QByteArray();
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
        const CurlResult up =
            postRaw(multipart({{"digits.txt", "0123456789"}}), "multipart/form-data; boundary=B0undary");
        const QString url = m_server.url() + "/d/" + jsonOf(up.body).value("id").toString() + "/0";
        const CurlResult reply = curl(args + QStringList{url});
        QCOMPARE(reply.status, status);
        QCOMPARE(reply.body, body);
        QCOMPARE(headerValue(reply.headers, "Content-Range"), contentRange);
        if (status != 416) {
            QCOMPARE(headerValue(reply.headers, "Accept-Ranges"), QByteArray("bytes"));
            // The validator a download manager sends back with If-Range.
            const QByteArray etag = headerValue(reply.headers, "ETag");
            const CurlResult again = curl({"-H", "Range: bytes=1-1", "-H", "If-Range: " + etag, url});
            QCOMPARE(again.status, 206);
            QCOMPARE(again.body, QByteArray("1"));
        }
    }

    void passwordGuessesAreThrottled()
    {
        // A service of its own: other cases' wrong passwords from this address
        // would have spent some of the tokens.
        ServerProcess server;
        QVERIFY(server.start());
        const CurlResult up = curl({"-F", "file=@" + writeFile("guarded.txt", "guarded"),
                                    "--form-string", "password=right",
                                    server.url() + "/api/upload.php"});
        const QString page = server.url() + "/f/" + jsonOf(up.body).value("id").toString();
        QList<int> statuses;
        CurlResult last;
        for (int i = 0; i < 7; ++i) {
            last = curl({"--data-urlencode", "password=wrong" + QString::number(i), page});
            statuses << last.status;
        }
        QCOMPARE(statuses, (QList<int>{403, 403, 403, 403, 403, 429, 429}));
        const int retryAfter = headerValue(last.headers, "Retry-After").toInt();
        QVERIFY2(retryAfter >= 1 && retryAfter <= 10, last.headers.constData());
        QVERIFY(QString::fromUtf8(last.body).contains("試行回数が多すぎます"));
        // Throttled means not checked at all, even the right password.
        QCOMPARE(curl({"--data-urlencode", "password=right", page}).status, 429);
    }

    void malformedRequestsAreLoggedWithTheClientAddress()
    {
        RawConnection connection;
        QVERIFY(connection.connectTo(m_server.port()));
        QVERIFY(connection.send("GET /malformed-probe HTTP/1.1\r\nHost: x\r\nNo colon here\r\n\r\n"));
        const RawReply reply = RawReply::parse(connection.readUntilClosed(5000));
        QCOMPARE(reply.status, 400);
        QTRY_VERIFY_WITH_TIMEOUT(
            m_server.errorOutput().contains("127.0.0.1 \"- /malformed-probe\" 400 - refused"), 5000);
    }

    void sigtermLetsUploadsInProgressFinish()
    {
        ServerProcess server;
        QVERIFY(server.start());
        const QByteArray body = multipart({{"late.txt", QByteArray(5000, 'L')}});
        RawConnection upload;
        QVERIFY(upload.connectTo(server.port()));
        QVERIFY(upload.send(rawUpload("Content-Length: " + QByteArray::number(body.size()) + "\r\n",
                                      body.left(2000))));
        QTRY_COMPARE_WITH_TIMEOUT(entries(server.dataDir() + "/incoming").size(), 1, 5000);
        // Clients that never finish their headers must not hold the exit up.
        RawConnection dripping[3];
        for (auto &connection : dripping) {
            QVERIFY(connection.connectTo(server.port()));
            QVERIFY(connection.send("GET / HTTP/1.1\r\nHo"));
        }
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
        for (auto &connection : dripping) {
            QVERIFY(connection.closedByPeer());
        }
    }

    void sigtermEndsAStalledUploadAfterTheGracePeriod()
    {
        ServerProcess server;
        QVERIFY(server.start());
        RawConnection upload;
        QVERIFY(upload.connectTo(server.port()));
        QVERIFY(upload.send(rawUpload("Content-Length: 100000\r\n", multipart({{"x", "stalled"}}).left(150))));
        QTRY_COMPARE_WITH_TIMEOUT(entries(server.dataDir() + "/incoming").size(), 1, 5000);
        QElapsedTimer clock;
        clock.start();
        server.terminate();
        QCOMPARE(server.waitForExit(14000), 0);
        QVERIFY2(clock.elapsed() >= 9000 && clock.elapsed() < 13000,
                 qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(entries(server.dataDir() + "/incoming"), QStringList());
        QCOMPARE(entries(server.dataDir() + "/uploads"), QStringList());
    }

    void stalledClientIsDisconnected()
    {
        ServerProcess server({"--timeout", "1"});
        QVERIFY(server.start());
        const QUrl url(server.url());
        QTcpSocket socket;
        socket.connectToHost("127.0.0.1", quint16(url.port()));
        QVERIFY(socket.waitForConnected(5000));
        socket.write(
            "POST /api/upload.php HTTP/1.1\r\nHost: x\r\nContent-Type: multipart/form-data; "
            "boundary=B0undary\r\nContent-Length: 100000\r\n\r\n--B0undary\r\n"
            "Content-Disposition: form-data; name=\"file\"; filename=\"a\"\r\n\r\npartial");
        QVERIFY(socket.waitForBytesWritten(5000));
        QTRY_VERIFY_WITH_TIMEOUT(entries(server.dataDir() + "/incoming").size() == 1, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(socket.state(), QAbstractSocket::UnconnectedState, 8000);
        QTRY_COMPARE_WITH_TIMEOUT(entries(server.dataDir() + "/incoming"), QStringList(), 5000);
        QCOMPARE(entries(server.dataDir() + "/uploads"), QStringList());
    }

    void badCommandLinesAreRefused_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("message");
        QTest::newRow("listen") << QStringList{"--listen", "localhost"} << "--listen";
        QTest::newRow("cert alone") << QStringList{"--cert", "c.pem"} << "--key";
        QTest::newRow("unknown") << QStringList{"--verbose"} << "unknown option";
    }
    void badCommandLinesAreRefused()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, message);
        QProcess process;
        process.start(ServerProcess::binary(), args);
        QVERIFY(process.waitForFinished(5000));
        QCOMPARE(process.exitCode(), 2);
        QVERIFY(process.readAllStandardOutput().isEmpty());
        const QString err = QString::fromUtf8(process.readAllStandardError());
        QVERIFY2(err.contains(message) && err.contains("Usage"), qPrintable(err));
    }

    void busyPortIsAnError()
    {
        QProcess second;
        second.start(ServerProcess::binary(),
                     {"--listen", "127.0.0.1:" + QString::number(QUrl(m_server.url()).port()),
                      "--data", m_files.path() + "/second"});
        QVERIFY(second.waitForFinished(5000));
        QCOMPARE(second.exitCode(), 1);
        QVERIFY(second.readAllStandardError().contains("cannot listen"));
    }

    void servesHttpsWithCertificateAndKey()
    {
        const QString cert = m_files.path() + "/cert.pem";
        const QString key = m_files.path() + "/key.pem";
        QProcess openssl;
        openssl.start("openssl", {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key,
                                  "-out", cert, "-days", "1", "-subj", "/CN=127.0.0.1", "-addext",
                                  "subjectAltName=IP:127.0.0.1"});
        QVERIFY(openssl.waitForFinished(30000));
        QCOMPARE(openssl.exitCode(), 0);
        ServerProcess server({"--cert", cert, "--key", key});
        QVERIFY(server.start());
        QVERIFY2(server.url().startsWith("https://127.0.0.1:"), qPrintable(server.url()));
        const CurlResult up =
            runCurl({"--cacert", cert, "-F", "file=@" + cert, server.url() + "/api/upload.php"},
                    m_files.path());
        QCOMPARE(up.status, 200);
        const QString shareUrl = jsonOf(up.body).value("url").toString();
        QVERIFY(shareUrl.startsWith(server.url() + "/f/"));
        QCOMPARE(runCurl({"--cacert", cert, shareUrl}, m_files.path()).status, 200);
        // Plain HTTP to the TLS port gets no page.
        QVERIFY(runCurl({QString(shareUrl).replace("https:", "http:")}, m_files.path()).status !=
                200);
    }

    void everyRequestIsLogged()
    {
        curl({m_server.url() + "/f/AAAAAAAAAAAAAAAAAAAAAA"});
        QTRY_VERIFY_WITH_TIMEOUT(
            m_server.errorOutput().contains("\"GET /f/AAAAAAAAAAAAAAAAAAAAAA\" 404"), 5000);
        curl({"--path-as-is", m_server.url() + "/x%0D%0Aforged"});
        QTRY_VERIFY_WITH_TIMEOUT(m_server.errorOutput().contains("\"GET /x%0D%0Aforged\" 404"),
                                 5000);
    }
};

QTEST_GUILESS_MAIN(UploadServerTest)
#include "tst_UploadServer.moc"
