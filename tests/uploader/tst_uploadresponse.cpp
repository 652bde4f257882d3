// Strict reply decoding and the byte-count text of the size-limit message.
#include "UploadError.h"
#include "UploadResponse.h"

#include <QtTest>

class UploadResponseTest : public QObject
{
    Q_OBJECT

private slots:
    void decode_data();
    void decode();
    void decodeKeepsValues();
    void formatBytes_data();
    void formatBytes();
    void messages();
};

void UploadResponseTest::decode_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("decodes");

    QTest::newRow("only success") << QByteArray(R"({"success":true})") << true;
    QTest::newRow("success false") << QByteArray(R"({"success":false,"error":"x"})") << true;
    QTest::newRow("nulls are absent")
        << QByteArray(R"({"success":true,"url":null,"size_bytes":null,"original_names":null})")
        << true;
    QTest::newRow("unknown keys ignored")
        << QByteArray(R"({"success":true,"extra":{"a":[1.5,"b"]},"URL":5})") << true;
    QTest::newRow("int64 extremes")
        << QByteArray(R"({"success":true,"expires_in":9223372036854775807,)"
                      R"("size_bytes":-9223372036854775808})")
        << true;
    QTest::newRow("empty names list")
        << QByteArray(R"({"success":true,"original_names":[]})") << true;

    QTest::newRow("no success") << QByteArray(R"({"url":"https://s/1"})") << false;
    QTest::newRow("success null") << QByteArray(R"({"success":null})") << false;
    QTest::newRow("success as number") << QByteArray(R"({"success":1})") << false;
    QTest::newRow("success as string") << QByteArray(R"({"success":"true"})") << false;
    QTest::newRow("size as string") << QByteArray(R"({"success":true,"size_bytes":"12"})") << false;
    QTest::newRow("integer with fraction")
        << QByteArray(R"({"success":true,"file_count":1.5})") << false;
    QTest::newRow("integer written as float")
        << QByteArray(R"({"success":true,"file_count":1.0})") << false;
    QTest::newRow("integer in exponent form")
        << QByteArray(R"({"success":true,"expires_in":1e3})") << false;
    QTest::newRow("above int64") << QByteArray(
                                        R"({"success":true,"size_bytes":9223372036854775808})")
                                 << false;
    QTest::newRow("below int64") << QByteArray(
                                        R"({"success":true,"size_bytes":-9223372036854775809})")
                                 << false;
    QTest::newRow("names not an array")
        << QByteArray(R"({"success":true,"original_names":"a.txt"})") << false;
    QTest::newRow("names with a number")
        << QByteArray(R"({"success":true,"original_names":["a",2]})") << false;
    QTest::newRow("names with a null")
        << QByteArray(R"({"success":true,"original_names":["a",null]})") << false;
    QTest::newRow("protected as string")
        << QByteArray(R"({"success":true,"password_protected":"no"})") << false;
    QTest::newRow("error as object")
        << QByteArray(R"({"success":false,"error":{"m":"x"}})") << false;
    QTest::newRow("url as number") << QByteArray(R"({"success":true,"url":3})") << false;
    QTest::newRow("top-level array") << QByteArray(R"([{"success":true}])") << false;
    QTest::newRow("empty") << QByteArray() << false;
    QTest::newRow("trailing garbage") << QByteArray(R"({"success":true} x)") << false;
    QTest::newRow("NUL after the document") << QByteArray(R"({"success":true})"
                                                          "\0"
                                                          "junk",
                                                          21)
                                            << false;
    QTest::newRow("invalid UTF-8") << QByteArray("{\"success\":true,\"id\":\"\xff\"}") << false;
}

void UploadResponseTest::decode()
{
    QFETCH(QByteArray, body);
    QFETCH(bool, decodes);
    QString problem;
    const auto response = UploadResponse::decode(body, &problem);
    QCOMPARE(response.has_value(), decodes);
    QCOMPARE(problem.isEmpty(), decodes);
}

void UploadResponseTest::decodeKeepsValues()
{
    const auto r = UploadResponse::decode(
        R"({"success":true,"id":"i","url":"https://s/u","download_url":"https://s/d",)"
        R"("expires_at":"2026-01-01T00:00:00Z","expires_in":-5,"size_bytes":9223372036854775807,)"
        R"("file_count":2,"original_names":["写真.jpg","b"],"password_protected":true,"error":"e"})");
    QVERIFY(r);
    QVERIFY(r->success);
    QCOMPARE(r->id, QString("i"));
    QCOMPARE(r->url, QString("https://s/u"));
    QCOMPARE(r->downloadUrl, QString("https://s/d"));
    QCOMPARE(r->expiresAt, QString("2026-01-01T00:00:00Z"));
    QCOMPARE(r->expiresIn, qint64(-5));
    QCOMPARE(r->sizeBytes, std::numeric_limits<qint64>::max());
    QCOMPARE(r->fileCount, qint64(2));
    QCOMPARE(r->originalNames, (QStringList{u"写真.jpg"_qs, u"b"_qs}));
    QCOMPARE(r->passwordProtected, true);
    QCOMPARE(r->error, QString("e"));

    const auto bare = UploadResponse::decode(R"({"success":true})");
    QVERIFY(bare);
    UploadResponse onlySuccess;
    onlySuccess.success = true;
    QCOMPARE(*bare, onlySuccess);
}

void UploadResponseTest::formatBytes_data()
{
    QTest::addColumn<qint64>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("limit") << qint64(1073741824) << "1 GB";
    QTest::newRow("limit plus one") << qint64(1073741825) << "1 GB";
    QTest::newRow("one and a half GiB") << qint64(1610612736) << "1.5 GB";
    QTest::newRow("GiB with two digits") << qint64(1073741824 + 1073741824 / 100 * 23) << "1.23 GB";
    QTest::newRow("5 MiB") << qint64(5 * 1048576) << "5 MB";
    QTest::newRow("1.5 MiB") << qint64(1572864) << "1.5 MB";
    QTest::newRow("just under 1 GiB") << qint64(1073741823) << "1,024 MB";
    QTest::newRow("zero") << qint64(0) << "0 MB";
}

void UploadResponseTest::formatBytes()
{
    QFETCH(qint64, bytes);
    QFETCH(QString, text);
    QCOMPARE(UploadError::formatBytes(bytes), text);
}

void UploadResponseTest::messages()
{
    QCOMPARE(UploadError::noFiles().errorDescription(), u"ファイルが選択されていません。"_qs);
    QCOMPARE(UploadError::allBlocked({u"A.app"_qs, u"B.photoslibrary"_qs}).errorDescription(),
             u"これらのファイルはアップロードできません: A.app, B.photoslibrary"_qs);
    QCOMPARE(UploadError::cannotReadFile(u"x"_qs).errorDescription(),
             u"ファイルを読み込めませんでした: x"_qs);
    QCOMPARE(UploadError::serverError(u"そのまま"_qs).errorDescription(), u"そのまま"_qs);
    QCOMPARE(UploadError::httpStatus(503).errorDescription(),
             u"HTTP ステータスコードエラー: 503"_qs);
    QCOMPARE(UploadError::invalidResponse().errorDescription(), u"不正なレスポンスです。"_qs);
}

QTEST_GUILESS_MAIN(UploadResponseTest)
#include "tst_uploadresponse.moc"
