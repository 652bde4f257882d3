// A second opinion on the request body: PHP's own multipart parser, behind
// PHP's built-in web server, must see the same files, names and password.
#include "PelkinUploader.h"
#include "UploadProbe.h"

#include <QCryptographicHash>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

using namespace std::chrono_literals;

class UploadPhpTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void phpSeesWhatWasSent_data();
    void phpSeesWhatWasSent();

private:
    QTemporaryDir m_dir;
    QProcess m_php;
    QUrl m_endpoint;
};

void UploadPhpTest::initTestCase()
{
    QVERIFY(m_dir.isValid());
    const QString router =
        qEnvironmentVariable("PELKIN_SOURCE_DIR") + u"/tests/uploader/php/upload-dump.php"_qs;
    QVERIFY(QFile::exists(router));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"PELKIN_DUMP"_qs, m_dir.filePath(u"dump.json"_qs));
    m_php.setProcessEnvironment(env);
    m_php.setProcessChannelMode(QProcess::MergedChannels);
    m_php.start(u"php"_qs, {u"-n"_qs, u"-d"_qs, u"upload_max_filesize=64M"_qs, u"-d"_qs,
                            u"post_max_size=64M"_qs, u"-d"_qs, u"file_uploads=1"_qs, u"-S"_qs,
                            u"127.0.0.1:0"_qs, router});
    QVERIFY(m_php.waitForStarted(5000));
    // The server names its port on its first line.
    const QRegularExpression started(u"http://127\\.0\\.0\\.1:(\\d+)"_qs);
    QByteArray output;
    QDeadlineTimer deadline(10000);
    while (!started.match(QString::fromUtf8(output)).hasMatch() && !deadline.hasExpired()) {
        m_php.waitForReadyRead(200);
        output += m_php.readAll();
    }
    const auto match = started.match(QString::fromUtf8(output));
    QVERIFY2(match.hasMatch(), output.constData());
    m_endpoint = QUrl(u"http://127.0.0.1:%1/api/upload.php"_qs.arg(match.captured(1)));
}

void UploadPhpTest::cleanupTestCase()
{
    m_php.kill();
    m_php.waitForFinished(5000);
}

void UploadPhpTest::phpSeesWhatWasSent_data()
{
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QStringList>("types");
    QTest::addColumn<QString>("password");
    QTest::newRow("one file") << QStringList{u"Photo.JPG"_qs} << QStringList{u"image/jpeg"_qs}
                              << QString();
    QTest::newRow("several files and a password")
        << QStringList{u"写真 ✓.pdf"_qs, u"say \"hi\".txt"_qs, u"empty.zip"_qs, u"clip.mov"_qs}
        << QStringList{u"application/pdf"_qs, u"application/octet-stream"_qs, u"application/zip"_qs,
                       u"video/quicktime"_qs}
        << u"pässwörd 1 \"q\""_qs;
}

void UploadPhpTest::phpSeesWhatWasSent()
{
    QFETCH(QStringList, names);
    QFETCH(QStringList, types);
    QFETCH(QString, password);

    QList<QUrl> urls;
    QList<QByteArray> hashes;
    for (const QString &name : names) {
        QByteArray content;
        if (!name.startsWith(u"empty")) {
            content.resize(150000 + QRandomGenerator::global()->bounded(50000));
            for (char &c : content)
                c = static_cast<char>(QRandomGenerator::global()->bounded(256));
        }
        QFile file(m_dir.filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(content), content.size());
        urls.append(QUrl::fromLocalFile(file.fileName()));
        hashes.append(QCryptographicHash::hash(content, QCryptographicHash::Sha256).toHex());
    }

    PelkinUploader uploader(m_endpoint, 10s);
    UploadProbe probe;
    uploader.upload(urls, password.isEmpty() ? std::nullopt : std::optional(password), {},
                    probe.completion());
    QVERIFY(probe.waitForCompletion(15000));
    QVERIFY2(probe.result().isSuccess(), qPrintable(probe.result().localizedDescription()));
    QCOMPARE(probe.result().response().fileCount, qint64(names.size()));

    QFile dumpFile(m_dir.filePath(u"dump.json"_qs));
    QVERIFY(dumpFile.open(QIODevice::ReadOnly));
    const QJsonObject dump = QJsonDocument::fromJson(dumpFile.readAll()).object();
    const QJsonArray files = dump.value(u"files").toArray();
    QCOMPARE(files.size(), names.size());
    for (qsizetype i = 0; i < names.size(); ++i) {
        const QJsonObject f = files.at(i).toObject();
        QCOMPARE(f.value(u"field").toString(), names.size() == 1 ? u"file"_qs : u"files[]"_qs);
        // A quote arrives percent-encoded, as browsers send it.
        QString sentName = names[i];
        sentName.replace(u'"', u"%22"_qs);
        QCOMPARE(f.value(u"name").toString(), sentName);
        QCOMPARE(f.value(u"type").toString(), types[i]);
        QCOMPARE(f.value(u"error").toInt(-1), 0);
        QCOMPARE(f.value(u"sha256").toString().toLatin1(), hashes[i]);
    }
    const QJsonObject post = dump.value(u"post").toObject();
    if (password.isEmpty())
        QVERIFY(post.isEmpty());
    else
        QCOMPARE(post.value(u"password").toString(), password);
    QVERIFY(QFile::remove(dumpFile.fileName()));
}

QTEST_GUILESS_MAIN(UploadPhpTest)
#include "tst_uploadphp.moc"
