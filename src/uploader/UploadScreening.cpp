#include "UploadScreening.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

QString UploadScreening::lastPathComponent(const QUrl &file)
{
    QString path = file.isLocalFile() ? file.toLocalFile() : file.path();
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash < 0 || path.size() == 1 ? path : path.mid(slash + 1);
}

QByteArray UploadScreening::nativePath(const QUrl &file)
{
    return QByteArray::fromPercentEncoding(file.path(QUrl::FullyEncoded).toLatin1());
}

bool UploadScreening::isBlacklisted(const QUrl &file)
{
    const QString name = lastPathComponent(file).toLower();
    return name.endsWith(QStringLiteral(".photoslibrary")) || name.endsWith(QStringLiteral(".app"));
}

std::variant<QList<MultipartBody::File>, UploadResult>
UploadScreening::screen(const QList<QUrl> &files, qint64 sizeLimit)
{
    if (files.isEmpty())
        return UploadResult(UploadError::noFiles());

    QStringList blocked;
    QList<QUrl> accepted;
    for (const QUrl &file : files) {
        if (isBlacklisted(file))
            blocked.append(lastPathComponent(file));
        else
            accepted.append(file);
    }
    if (accepted.isEmpty())
        return UploadResult(UploadError::allBlocked(blocked));

    QList<MultipartBody::File> toSend;
    qint64 total = 0;
    for (const QUrl &file : accepted) {
        const QString name = lastPathComponent(file);
        const QByteArray path = nativePath(file);
        // A remote host or an embedded NUL would make the path name another file.
        const bool local =
            file.isLocalFile() && (file.host().isEmpty() || file.host() == u"localhost");
        if (!local || path.isEmpty() || path.contains('\0'))
            return UploadResult(UploadError::cannotReadFile(name));
        // stat() follows symbolic links: a link to a file sends the file.
        struct stat info
        {
        };
        if (::stat(path.constData(), &info) != 0) {
            if (errno == ENOENT || errno == ENOTDIR)
                return UploadResult(PlatformError(
                    PlatformError::Kind::fileSystem,
                    QStringLiteral("ファイル「%1」が見つかりませんでした。").arg(name),
                    QString::fromLocal8Bit(std::strerror(errno))));
            return UploadResult(PlatformError(
                PlatformError::Kind::fileSystem,
                QStringLiteral("ファイル「%1」の情報を読み取れませんでした。").arg(name),
                QString::fromLocal8Bit(std::strerror(errno))));
        }
        if (!S_ISREG(info.st_mode))
            return UploadResult(UploadError::cannotReadFile(name));
        total += info.st_size;
        QByteArray sentName = path;
        while (sentName.size() > 1 && sentName.endsWith('/'))
            sentName.chop(1);
        sentName = sentName.mid(sentName.lastIndexOf('/') + 1);
        toSend.append(MultipartBody::File{path, sentName, name});
    }
    // All sizes are summed before deciding, so the message shows the true total.
    if (total > sizeLimit)
        return UploadResult(UploadError::totalSizeExceeded(sizeLimit, total));
    return toSend;
}
