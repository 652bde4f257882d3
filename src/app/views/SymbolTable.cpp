#include "SymbolTable.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QHash>
#include <QMutex>
#include <QPainter>
#include <QStandardPaths>

namespace SymbolTable {
namespace {

constexpr Entry entries[] = {
    {"square.and.arrow.up", "send-to"},
    {"clock.arrow.circlepath", "document-open-recent"},
    {"gearshape", "emblem-system"},
    {"arrow.down.doc.fill", "document-save"},
    {"tray.and.arrow.up.fill", "mail-send"},
    {"xmark.circle.fill", "dialog-cancel"},
    {"checkmark.circle.fill", "emblem-default"},
    {"plus.circle.fill", "list-add"},
    {"info.circle.fill", "help-about"},
    {"arrow.up.circle.fill", "go-up"},
    {"photo", "image-x-generic"},
    {"film", "video-x-generic"},
    {"music.note", "audio-x-generic"},
    {"doc.richtext", "x-office-document-template"},
    {"doc.zipper", "package-x-generic"},
    {"doc.text", "x-office-document"},
    {"chevron.left.forwardslash.chevron.right", "text-x-script"},
    {"doc", "text-x-generic"},
    {"lock.fill", "changes-prevent"},
    {"paperplane.fill", "mail-send"},
    {"square.and.arrow.up.on.square", "document-send"},
    {"doc.fill", "text-x-generic"},
    {"link", "insert-link"},
    {"checkmark", "object-select"},
    {"doc.on.doc", "edit-copy"},
    {"trash", "user-trash"},
    {"clock.badge.checkmark", "document-open-recent"},
    {"paintbrush.fill", "applications-graphics"},
    {"drop.fill", "weather-showers-scattered"},
};

// "-symbolic" icon files of the desktop theme, its fallback and Adwaita (in
// that order of preference), by icon name. Read from disk once: QIcon's own
// lookup strips "-symbolic" and other dashed suffixes when it finds nothing,
// which would bring back full-colour icons, and the offscreen platform gives
// it no search path at all.
QHash<QString, QString> symbolicIconFiles()
{
    static QMutex mutex;
    static QHash<QString, QString> files;
    static bool scanned = false;
    QMutexLocker lock(&mutex);
    if (scanned)
        return files;
    scanned = true;

    QStringList roots = QIcon::themeSearchPaths();
    roots << QDir::homePath() + QStringLiteral("/.icons");
    for (const QString &dir :
         QStandardPaths::locateAll(QStandardPaths::GenericDataLocation, QStringLiteral("icons"),
                                   QStandardPaths::LocateDirectory))
        roots << dir;
    roots << QStringLiteral("/usr/share/icons");
    roots.removeDuplicates();

    QStringList themes{QIcon::themeName(), QIcon::fallbackThemeName(), QStringLiteral("Adwaita")};
    themes.removeAll(QString());
    themes.removeDuplicates();

    for (const QString &theme : themes) {
        for (const QString &root : roots) {
            if (root.startsWith(u':'))
                continue;
            QDirIterator it(root + u'/' + theme, {QStringLiteral("*-symbolic.svg")}, QDir::Files,
                            QDirIterator::Subdirectories);
            while (it.hasNext()) {
                const QString path = it.next();
                const QString name = it.fileInfo().completeBaseName();
                if (!files.contains(name))
                    files.insert(name, path);
            }
        }
    }
    return files;
}

const Entry *find(const QString &symbol)
{
    for (const Entry &e : entries) {
        if (symbol == QLatin1String(e.symbol))
            return &e;
    }
    return nullptr;
}

} // namespace

QStringList symbols()
{
    QStringList list;
    for (const Entry &e : entries)
        list << QString::fromLatin1(e.symbol);
    return list;
}

QString freedesktopName(const QString &symbol)
{
    const Entry *e = find(symbol);
    return e ? QString::fromLatin1(e->freedesktopName) : QString();
}

QString fallbackPath(const QString &symbol)
{
    const Entry *e = find(symbol);
    return QStringLiteral(":/qt/qml/PelkinDrop/Views/icons/%1.svg")
        .arg(e ? QString::fromLatin1(e->symbol) : QStringLiteral("doc"));
}

QString themeIconFile(const QString &symbol)
{
    const QString name = freedesktopName(symbol);
    return name.isEmpty() ? QString()
                          : symbolicIconFiles().value(name + QStringLiteral("-symbolic"));
}

QIcon icon(const QString &symbol, bool *fromTheme)
{
    if (fromTheme)
        *fromTheme = false;
    {
        const QString file = themeIconFile(symbol);
        if (!file.isEmpty()) {
            if (fromTheme)
                *fromTheme = true;
            return QIcon(file);
        }
    }
    return QIcon(fallbackPath(symbol));
}

QImage tintedImage(const QString &symbol, const QSize &size, const QColor &color)
{
    const QSize s = size.isValid() && !size.isEmpty() ? size : QSize(16, 16);
    QImage image(s, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    icon(symbol).paint(&p, QRect(QPoint(0, 0), s));
    p.setCompositionMode(QPainter::CompositionMode_SourceIn);
    p.fillRect(image.rect(), color);
    return image;
}

} // namespace SymbolTable
