#include "TestFiles.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QProcess>
#include <QSettings>

namespace TestFiles {

QString write(const QString &dir, const QString &name, const QByteArray &content, qint64 size)
{
    const QString path = QDir(dir).filePath(name);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size() ||
        (size > content.size() && !file.resize(size)))
        return {};
    return path;
}

std::optional<std::pair<QString, QString>> selfSignedCertificate(const QString &dir)
{
    const QString certificate = QDir(dir).filePath(QStringLiteral("cert.pem"));
    const QString key = QDir(dir).filePath(QStringLiteral("key.pem"));
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"),
                  {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                   "-nodes", "-days", "2", "-subj", "/CN=127.0.0.1", "-addext",
                   "subjectAltName=IP:127.0.0.1", "-keyout", key, "-out", certificate});
    if (!openssl.waitForFinished(30000) || openssl.exitStatus() != QProcess::NormalExit ||
        openssl.exitCode() != 0)
        return std::nullopt;
    return std::pair{certificate, key};
}

QJsonArray storedHistory(const QString &home)
{
    QSettings store(home + "/.config/Pelkin/Pelkin Drop.ini", QSettings::IniFormat);
    return QJsonDocument::fromJson(store.value("pelkin.history.items").toString().toUtf8()).array();
}

} // namespace TestFiles
