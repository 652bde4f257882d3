#include "ModelStore.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

constexpr QFileDevice::Permissions privateFile = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

bool isPrivate(const QString &path)
{
    // The "user" bits mirror the owner's for our own files; compare the rest.
    const QFileDevice::Permissions ignored =
        QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ExeUser;
    return (QFile::permissions(path) & ~ignored) == privateFile;
}

// Creates the file empty and private before QSettings first writes it: its
// replacement file takes over the permissions of the existing one, so the
// password is never readable by others, not even for a moment.
void preparePrivateFile(const QString &path)
{
    const QFileInfo info(path);
    QDir().mkpath(info.absolutePath());
    if (!info.exists()) {
        QFile file(path);
        if (file.open(QIODevice::WriteOnly | QIODevice::NewOnly, privateFile))
            file.close();
    } else if (!isPrivate(path)) {
        QFile::setPermissions(path, privateFile);
    }
}

// QSettings guards each write with "<file>.lock". A process killed between
// creating that file and writing its id into it leaves it empty, and every
// later write would wait 30 s for it to turn stale, freezing the window.
// Only one instance of the application opens the store (the single-instance
// check comes first), so an empty lock at opening time is abandoned.
void removeAbandonedLock(const QString &path)
{
    const QFileInfo lock(path + QLatin1String(".lock"));
    if (lock.isFile() && lock.size() == 0)
        QFile::remove(lock.filePath());
}

// A write goes to "<file>.XXXXXX" and is renamed over the file; a process
// killed before the rename leaves that whole copy behind, one per crash. For
// the reason above, none can belong to a write still under way.
void removeLeftoverCopies(const QString &path)
{
    const QFileInfo file(path);
    const QDir dir = file.absoluteDir();
    const QStringList copies =
        dir.entryList({file.fileName() + QStringLiteral(".??????")}, QDir::Files | QDir::Hidden);
    for (const QString &copy : copies)
        QFile::remove(dir.filePath(copy));
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

} // namespace

ModelStore::ModelStore(const QString &filePath)
    : m_filePath(QFileInfo(filePath).absoluteFilePath())
    , m_originalBytes(
          (preparePrivateFile(filePath), removeAbandonedLock(filePath),
           removeLeftoverCopies(filePath), readAll(filePath)))
    , m_settings(m_filePath, QSettings::IniFormat)
{
    // QSettings parses on first access, and only then is the status known.
    m_settings.allKeys();
    m_openedDamaged = m_settings.status() == QSettings::FormatError;
}

bool ModelStore::contains(const QString &key) const
{
    return m_settings.contains(key);
}

QVariant ModelStore::value(const QString &key) const
{
    return m_settings.value(key);
}

QString ModelStore::text(const QString &key) const
{
    const QVariant stored = m_settings.value(key);
    if (stored.typeId() == QMetaType::QStringList)
        return stored.toStringList().join(QStringLiteral(", "));
    return stored.toString();
}

void ModelStore::setValues(const QList<std::pair<QString, QVariant>> &values)
{
    for (const auto &[key, value] : values)
        m_settings.setValue(key, value);
    sync();
}

void ModelStore::remove(const QString &key)
{
    m_settings.remove(key);
    sync();
}

void ModelStore::sync()
{
    m_settings.sync();
    restrictPermissions();
}

void ModelStore::restrictPermissions()
{
    // Someone may have replaced or recreated the file behind our back.
    if (QFile::exists(m_filePath) && !isPrivate(m_filePath))
        QFile::setPermissions(m_filePath, privateFile);
}

QString ModelStore::preserveOriginal()
{
    if (!m_preservedCopyPath.isEmpty())
        return m_preservedCopyPath;
    const QFileInfo info(m_filePath);
    const QString stamp =
        QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd-HHmmss")) + u'Z';
    const QString base =
        info.absolutePath() + u'/' + info.completeBaseName() + QStringLiteral(".damaged-") + stamp;
    // A fresh private file under a name nobody uses yet.
    QString path = base + QStringLiteral(".ini");
    QFile copy(path);
    for (int n = 2; !copy.open(QIODevice::WriteOnly | QIODevice::NewOnly, privateFile); ++n) {
        if (!copy.exists() || n > 100)
            return QString();
        path = base + u'-' + QString::number(n) + QStringLiteral(".ini");
        copy.setFileName(path);
    }
    if (copy.write(m_originalBytes) != m_originalBytes.size() || !copy.flush()) {
        copy.close();
        copy.remove();
        return QString();
    }
    copy.close();
    m_preservedCopyPath = path;
    return path;
}
