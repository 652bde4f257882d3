#include "PasswordHash.h"
#include "RandomToken.h"
#include "ServerOptions.h"
#include "TextEncoding.h"

#include <QtTest>

#include <set>

class ServerPartsTest : public QObject
{
    Q_OBJECT

private slots:
    void invalidUtf8IsReplaced_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QByteArray>("output");
        const QByteArray r = "\xEF\xBF\xBD";
        QTest::newRow("valid") << QByteArray("日本 ok") << QByteArray("日本 ok");
        QTest::newRow("lone continuation") << QByteArray("a\x80z") << "a" + r + "z";
        QTest::newRow("overlong slash") << QByteArray("\xC0\xAF") << r + r;
        QTest::newRow("surrogate") << QByteArray("\xED\xA0\x80") << r + r + r;
        QTest::newRow("truncated") << QByteArray("\xE6\x97") << r + r;
        QTest::newRow("beyond U+10FFFF") << QByteArray("\xF4\x90\x80\x80") << r + r + r + r;
        QTest::newRow("NUL kept") << QByteArray("a\0b", 3) << QByteArray("a\0b", 3);
    }
    void invalidUtf8IsReplaced()
    {
        QFETCH(QByteArray, input);
        QFETCH(QByteArray, output);
        QCOMPARE(QByteArray::fromStdString(TextEncoding::toValidUtf8(input.toStdString())), output);
    }

    void textIsEscapedForEachDestination()
    {
        QCOMPARE(TextEncoding::htmlEscape("<a href=\"x\">'&'</a>\n\x7f"),
                 std::string("&lt;a href=&quot;x&quot;&gt;&#39;&amp;&#39;&lt;/a&gt;%0A%7F"));
        QCOMPARE(TextEncoding::contentDispositionAttachment("報告 \"1\";\r\n.pdf"),
                 std::string("attachment; filename=\"__ _1____.pdf\"; "
                             "filename*=UTF-8''%E5%A0%B1%E5%91%8A%20%221%22%3B%0D%0A.pdf"));
        QCOMPARE(TextEncoding::contentDispositionAttachment(""),
                 std::string("attachment; filename=\"download\"; filename*=UTF-8''"));
        QCOMPARE(TextEncoding::formUrlDecode("a+b%20c%E6%97%A5%zz"), std::string("a b c日%zz"));
        QCOMPARE(TextEncoding::isoUtc(0), std::string("1970-01-01T00:00:00Z"));
        QCOMPARE(TextEncoding::formatSize(999), std::string("999 バイト"));
        QCOMPARE(TextEncoding::formatSize(1500), std::string("1.5 KB"));
        QCOMPARE(TextEncoding::formatSize(999999), std::string("1.0 MB"));
        QCOMPARE(TextEncoding::formatSize(1073741824), std::string("1.1 GB"));
    }

    void identifiersAreUnguessableAndStrictlyChecked()
    {
        std::set<std::string> seen;
        for (int i = 0; i < 1000; ++i) {
            const std::string id = RandomToken::identifier();
            QVERIFY(RandomToken::isIdentifier(id));
            QVERIFY(seen.insert(id).second);
        }
        QVERIFY(!RandomToken::isIdentifier("../../../../etc/passwd"));
        QVERIFY(!RandomToken::isIdentifier("AAAAAAAAAAAAAAAAAAAAA"));
        QVERIFY(!RandomToken::isIdentifier("AAAAAAAAAAAAAAAAAAAAA."));
        const std::string bytes = "\x00\xff\x10 binary";
        QCOMPARE(RandomToken::fromBase64Url(TextEncoding::base64Url(bytes)).value(), bytes);
        QVERIFY(!RandomToken::fromBase64Url("a+b/").has_value());
    }

    void passwordsAreSaltedAndVerified()
    {
        const std::string first = PasswordHash::create("秘密 pass", 1000);
        const std::string second = PasswordHash::create("秘密 pass", 1000);
        QVERIFY(first != second);
        QVERIFY(first.find("秘密") == std::string::npos);
        QVERIFY(PasswordHash::verify("秘密 pass", first));
        QVERIFY(PasswordHash::verify("秘密 pass", second));
        QVERIFY(!PasswordHash::verify("秘密 pass ", first));
        QVERIFY(!PasswordHash::verify("", first));
        for (const char *broken : {"", "pbkdf2-sha256$1000$abc", "md5$1$a$b",
                                   "pbkdf2-sha256$0$abc$def", "pbkdf2-sha256$x$abc$def"}) {
            QVERIFY(!PasswordHash::verify("", broken));
        }
    }

    void commandLinesAreParsed_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<QString>("host");
        QTest::addColumn<int>("port");
        QTest::newRow("defaults") << QStringList() << true << "127.0.0.1" << 8787;
        QTest::newRow("any port") << QStringList{"--listen", "127.0.0.1:0"} << true << "127.0.0.1"
                                  << 0;
        QTest::newRow("IPv6") << QStringList{"--listen", "[::1]:9000"} << true << "::1" << 9000;
        QTest::newRow("bare IPv6") << QStringList{"--listen", "::1:9000"} << false << "" << 0;
        QTest::newRow("port too big") << QStringList{"--listen", "h:70000"} << false << "" << 0;
        QTest::newRow("no port") << QStringList{"--listen", "h:"} << false << "" << 0;
        QTest::newRow("fraction of a day")
            << QStringList{"--expire-days", "0.5"} << true << "127.0.0.1" << 8787;
        QTest::newRow("expiry not a number")
            << QStringList{"--expire-days", "7d"} << false << "" << 0;
        QTest::newRow("max bytes text") << QStringList{"--max-bytes", "1e9"} << false << "" << 0;
        QTest::newRow("key alone") << QStringList{"--key", "k.pem"} << false << "" << 0;
        QTest::newRow("stray argument") << QStringList{"serve"} << false << "" << 0;
    }
    void commandLinesAreParsed()
    {
        QFETCH(QStringList, args);
        QFETCH(bool, valid);
        QFETCH(QString, host);
        QFETCH(int, port);
        std::vector<std::string> list;
        for (const QString &arg : args) {
            list.push_back(arg.toStdString());
        }
        std::string error;
        const auto options = ServerOptions::parse(list, error);
        QCOMPARE(options.has_value(), valid);
        QCOMPARE(error.empty(), valid);
        if (valid) {
            QCOMPARE(QString::fromStdString(options->host), host);
            QCOMPARE(options->port, port);
            QVERIFY(options->maxBytes > (1ULL << 30));
        }
    }

    void dataFolderFollowsXdg()
    {
        qputenv("XDG_DATA_HOME", "/tmp/xdg-test-data");
        QCOMPARE(ServerOptions::defaultDataDir().string(),
                 std::string("/tmp/xdg-test-data/pelkin-upload-server"));
    }
};

QTEST_APPLESS_MAIN(ServerPartsTest)
#include "tst_ServerParts.moc"
