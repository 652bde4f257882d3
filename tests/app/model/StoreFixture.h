#pragma once

#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QVariantMap>

// A store file in a fresh temporary folder, read and written the way another
// program would.
struct StoreFixture
{
    QTemporaryDir dir;

    QString path() const { return dir.filePath(QStringLiteral("Pelkin Drop.ini")); }

    void write(const QVariantMap &values, const QStringList &removed = {}) const
    {
        QSettings settings(path(), QSettings::IniFormat);
        for (auto it = values.begin(); it != values.end(); ++it)
            settings.setValue(it.key(), it.value());
        for (const QString &key : removed)
            settings.remove(key);
    }

    QVariant value(const QString &key) const
    {
        return QSettings(path(), QSettings::IniFormat).value(key);
    }

    void writeFile(const QByteArray &bytes) const
    {
        QFile file(path());
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            file.write(bytes);
    }
};

// Owner, group and other bits, without Qt's "current user" mirror.
inline QFileDevice::Permissions filePermissions(const QString &path)
{
    return QFile::permissions(path) &
           ~(QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ExeUser);
}

inline const QString themeKey = QStringLiteral("pelkin.settings.theme");
inline const QString defaultPasswordKey = QStringLiteral("pelkin.settings.defaultPassword");
inline const QString autoCopyKey = QStringLiteral("pelkin.settings.autoCopyToClipboard");
inline const QString menuBarIconKey = QStringLiteral("pelkin.settings.showsMenuBarIcon");
inline const QString historyKey = QStringLiteral("pelkin.history.items");
