#include "FileRowInfo.h"

#include <QFileInfo>
#include <QHash>
#include <QLocale>
#include <cmath>

namespace FileRowInfo {

QString iconName(const QUrl &url)
{
    static const QHash<QString, QString> table = [] {
        QHash<QString, QString> t;
        const auto add = [&t](std::initializer_list<const char *> exts, const char *symbol) {
            for (const char *e : exts)
                t.insert(QString::fromLatin1(e), QString::fromLatin1(symbol));
        };
        add({"jpg", "jpeg", "png", "gif", "heic", "webp", "tiff"}, "photo");
        add({"mp4", "mov", "avi", "mkv"}, "film");
        add({"mp3", "wav", "aac", "flac"}, "music.note");
        add({"pdf"}, "doc.richtext");
        add({"zip", "rar", "7z", "tar", "gz"}, "doc.zipper");
        add({"txt", "md", "rtf"}, "doc.text");
        add({"swift", "py", "js", "ts", "html", "css", "json"},
            "chevron.left.forwardslash.chevron.right");
        return t;
    }();
    const QString name = url.fileName();
    const qsizetype dot = name.lastIndexOf(u'.');
    const QString ext = dot < 0 ? QString() : name.mid(dot + 1).toLower();
    return table.value(ext, QStringLiteral("doc"));
}

std::optional<QString> fileSize(const QUrl &url)
{
    if (!url.isLocalFile())
        return std::nullopt;
    const QFileInfo info(url.toLocalFile());
    // A folder's own size says nothing about what it holds: show no size line.
    if (!info.exists() || info.isDir())
        return std::nullopt;
    return fileByteCountText(info.size());
}

QString fileByteCountText(qint64 bytes)
{
    if (bytes < 0)
        return QStringLiteral("%1 バイト").arg(bytes);
    if (bytes == 0)
        return QStringLiteral("0 KB");
    if (bytes == 1)
        return QStringLiteral("1 バイト");
    if (bytes < 1000)
        return QStringLiteral("%1 バイト").arg(bytes);

    static const char *const units[] = {"KB", "MB", "GB", "TB", "PB", "EB"};
    const QLocale c = QLocale::c();
    double value = double(bytes) / 1000.0;
    int unit = 0;
    while (true) {
        const int digits = unit == 0 ? 0 : (unit == 1 ? 1 : 2);
        const double scale = std::pow(10.0, digits);
        const double rounded = std::round(value * scale) / scale;
        // 999,999 bytes reads "1 MB", not "1000 KB".
        if (rounded >= 1000.0 && unit + 1 < int(std::size(units))) {
            value /= 1000.0;
            ++unit;
            continue;
        }
        QString number = c.toString(rounded, 'f', digits);
        if (number.contains(u'.')) {
            while (number.endsWith(u'0'))
                number.chop(1);
            if (number.endsWith(u'.'))
                number.chop(1);
        }
        return number + u' ' + QLatin1String(units[unit]);
    }
}

} // namespace FileRowInfo
