#pragma once

#include <QDBusConnection>
#include <QDBusVariant>
#include <QObject>

class QDBusPendingCallWatcher;

// Whether the desktop prefers a dark appearance. Reads the XDG desktop
// portal's "org.freedesktop.appearance" / "color-scheme" setting (1 dark,
// 2 light, 0 no preference) and follows its SettingChanged signal; without a
// portal, or with no preference, the application palette's lightness decides
// and palette changes are followed.
class ThemeFollower : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool systemDark READ systemDark NOTIFY systemDarkChanged)

public:
    enum class Source { Palette, Portal };
    Q_ENUM(Source)

    // Uses the session bus.
    explicit ThemeFollower(QObject *parent = nullptr);
    // Uses `bus` (tests run a private bus with their own portal).
    explicit ThemeFollower(const QDBusConnection &bus, QObject *parent = nullptr);

    // One follower for the whole process, on the session bus.
    static ThemeFollower *shared();

    bool systemDark() const { return m_systemDark; }
    // Where the current answer comes from.
    Source source() const;

    // Lightness rule of the fallback: a window colour darker than mid-grey.
    static bool paletteIsDark();

signals:
    void systemDarkChanged();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private slots:
    void onSettingChanged(const QString &nameSpace, const QString &key, const QDBusVariant &value);

private:
    void start();
    void applyPortalValue(const QVariant &value);
    void update();

    QDBusConnection m_bus;
    // -1: no answer from the portal; otherwise its color-scheme value.
    int m_portalScheme = -1;
    bool m_systemDark = false;
};
