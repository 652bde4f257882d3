#include "PelkinUploader.h"
#include "ServerProcess.h"

#include <QCoreApplication>
#include <QFile>
#include <QtTest>

#include <memory>
#include <mutex>

using namespace std::chrono_literals;

// Our own upload client against the service: the two ends were written
// independently (the service parses multipart with the HTTP library's parser),
// so each checks the other.
class ServerWithUploaderTest : public QObject
{
    Q_OBJECT

private:
    ServerProcess m_server{{"--max-bytes", "5000", "--max-files", "3"}};
    QTemporaryDir m_files;

    struct Outcome
    {
        std::mutex mutex;
        std::optional<UploadResult> result;
    };

    // Waits (bounded) for the one completion; a time-out fails the test.
    void upload(const QList<QUrl> &files, const std::optional<QString> &password,
                std::optional<UploadResult> &out)
    {
        PelkinUploader uploader(QUrl(m_server.url() + "/api/upload.php"), 20000ms);
        auto outcome = std::make_shared<Outcome>();
        uploader.upload(files, password, {}, [outcome](UploadResult result) {
            std::lock_guard lock(outcome->mutex);
            outcome->result = std::move(result);
        });
        const auto done = [&] {
            std::lock_guard lock(outcome->mutex);
            return outcome->result.has_value();
        };
        QTRY_VERIFY_WITH_TIMEOUT(done(), 30000);
        std::lock_guard lock(outcome->mutex);
        out = outcome->result;
    }
    QUrl file(const QString &name, const QByteArray &content)
    {
        QFile f(m_files.path() + "/" + name);
        if (!f.open(QIODevice::WriteOnly)) {
            return {};
        }
        f.write(content);
        return QUrl::fromLocalFile(f.fileName());
    }
    QByteArray stored(const QString &id, int index)
    {
        QFile f(m_server.dataDir() + "/uploads/" + id + "/" + QString::number(index));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }

private slots:
    void initTestCase() { QVERIFY(m_server.start()); }

    void repliesDecodeAndBytesArrive_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QString>("password");
        QTest::newRow("one file") << QStringList{"Photo.JPG"} << QString();
        QTest::newRow("several with password")
            << QStringList{"議事録.pdf", "say \"hi\".txt", "README"} << QString("パス word");
        QTest::newRow("line break in name") << QStringList{"two\nlines.txt"} << QString();
    }
    void repliesDecodeAndBytesArrive()
    {
        QFETCH(QStringList, names);
        QFETCH(QString, password);
        QList<QUrl> urls;
        QList<QByteArray> contents;
        for (int i = 0; i < names.size(); ++i) {
            contents << QByteArray(100 + i * 300, char('a' + i)) + "\r\n--Boundary-\r\n";
            urls << file(names[i], contents.last());
        }
        std::optional<UploadResult> result;
        upload(urls, password.isEmpty() ? std::nullopt : std::optional<QString>(password), result);
        QVERIFY(result);
        QVERIFY2(result->isSuccess(), qPrintable(result->localizedDescription()));
        const UploadResponse &reply = result->response();
        QCOMPARE(reply.originalNames.value_or(QStringList()), names);
        QCOMPARE(reply.fileCount.value_or(-1), names.size());
        QCOMPARE(reply.passwordProtected.value_or(password.isEmpty()), !password.isEmpty());
        QVERIFY(reply.url.value_or(QString()).startsWith(m_server.url() + "/f/"));
        QVERIFY(reply.expiresIn.value_or(0) > 0 && reply.expiresAt.has_value());
        qint64 total = 0;
        for (int i = 0; i < contents.size(); ++i) {
            QCOMPARE(stored(reply.id.value_or(QString()), i), contents[i]);
            total += contents[i].size();
        }
        QCOMPARE(reply.sizeBytes.value_or(-1), total);
    }

    void serviceMessagesReachTheClient_data()
    {
        QTest::addColumn<int>("files");
        QTest::addColumn<int>("size");
        QTest::addColumn<QString>("message");
        QTest::newRow("over the size limit") << 1 << 6000 << "上限";
        // Refused from the announced length, before the body is read.
        QTest::newRow("far over the size limit") << 1 << 3000000 << "上限";
        QTest::newRow("too many files") << 4 << 10 << "ファイルが多すぎます";
    }
    void serviceMessagesReachTheClient()
    {
        QFETCH(int, files);
        QFETCH(int, size);
        QFETCH(QString, message);
        QList<QUrl> urls;
        for (int i = 0; i < files; ++i) {
            urls << file("f" + QString::number(i), QByteArray(size, 'x'));
        }
        std::optional<UploadResult> result;
        upload(urls, std::nullopt, result);
        QVERIFY(result);
        QVERIFY(result->isUploadError());
        QCOMPARE(result->uploadError().kind(), UploadError::Kind::serverError);
        QVERIFY2(result->localizedDescription().contains(message),
                 qPrintable(result->localizedDescription()));
    }
};

QTEST_GUILESS_MAIN(ServerWithUploaderTest)
#include "tst_ServerWithUploader.moc"
