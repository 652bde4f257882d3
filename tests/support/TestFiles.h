#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QString>

#include <optional>
#include <utility>

// Files for tests, in one place: written, sparse, or a self-signed certificate.
namespace TestFiles {

// Writes `content` to dir/name, making sub-folders; with `size` larger than
// the content, the file is extended to it as a hole (sparse). The path, or
// an empty string on failure.
QString write(const QString &dir, const QString &name, const QByteArray &content = {},
              qint64 size = -1);

// A self-signed certificate for 127.0.0.1 and its key, made by openssl in
// dir: {certificate PEM path, key PEM path}, or nullopt on failure.
std::optional<std::pair<QString, QString>> selfSignedCertificate(const QString &dir);

// The upload history the application stored with this home folder.
QJsonArray storedHistory(const QString &home);

} // namespace TestFiles
