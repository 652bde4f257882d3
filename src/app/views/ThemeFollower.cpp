#include "ThemeFollower.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QEvent>
#include <QGuiApplication>
#include <QPalette>

namespace {
const QString portalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString portalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString settingsInterface = QStringLiteral("org.freedesktop.portal.Settings");
const QString appearanceNamespace = QStringLiteral("org.freedesktop.appearance");
const QString colorSchemeKey = QStringLiteral("color-scheme");

// Read() answers a variant inside a variant; peel every layer.
QVariant unwrap(QVariant value)
{
    for (int depth = 0; depth < 4; ++depth) {
        if (value.canConvert<QDBusVariant>() &&
            value.metaType() == QMetaType::fromType<QDBusVariant>())
            value = value.value<QDBusVariant>().variant();
        else if (value.metaType() == QMetaType::fromType<QDBusArgument>()) {
            const auto arg = value.value<QDBusArgument>();
            QDBusVariant inner;
            arg >> inner;
            value = inner.variant();
        } else
            break;
    }
    return value;
}
} // namespace

ThemeFollower::ThemeFollower(QObject *parent)
    : ThemeFollower(QDBusConnection::sessionBus(), parent)
{}

ThemeFollower::ThemeFollower(const QDBusConnection &bus, QObject *parent)
    : QObject(parent)
    , m_bus(bus)
{
    qDBusRegisterMetaType<QDBusVariant>();
    m_systemDark = paletteIsDark();
    if (QCoreApplication::instance())
        QCoreApplication::instance()->installEventFilter(this);
    start();
}

ThemeFollower *ThemeFollower::shared()
{
    static ThemeFollower *instance = new ThemeFollower(QCoreApplication::instance());
    return instance;
}

ThemeFollower::Source ThemeFollower::source() const
{
    return m_portalScheme == 1 || m_portalScheme == 2 ? Source::Portal : Source::Palette;
}

bool ThemeFollower::paletteIsDark()
{
    const QColor window = QGuiApplication::palette().color(QPalette::Window);
    return window.lightness() < 128;
}

void ThemeFollower::start()
{
    if (!m_bus.isConnected())
        return;
    m_bus.connect(portalService, portalPath, settingsInterface, QStringLiteral("SettingChanged"),
                  this, SLOT(onSettingChanged(QString, QString, QDBusVariant)));
    QDBusMessage read = QDBusMessage::createMethodCall(portalService, portalPath, settingsInterface,
                                                       QStringLiteral("Read"));
    read << appearanceNamespace << colorSchemeKey;
    // Asynchronous: a missing or hung portal must never hold up the window.
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(read, 2000), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *w) {
        w->deleteLater();
        const QDBusMessage reply = w->reply();
        if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty())
            applyPortalValue(reply.arguments().constFirst());
    });
}

void ThemeFollower::onSettingChanged(const QString &nameSpace, const QString &key,
                                     const QDBusVariant &value)
{
    if (nameSpace == appearanceNamespace && key == colorSchemeKey)
        applyPortalValue(QVariant::fromValue(value));
}

void ThemeFollower::applyPortalValue(const QVariant &value)
{
    const QVariant inner = unwrap(value);
    bool ok = false;
    const uint scheme = inner.toUInt(&ok);
    m_portalScheme = ok ? int(scheme) : -1;
    update();
}

bool ThemeFollower::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == QCoreApplication::instance() &&
        event->type() == QEvent::ApplicationPaletteChange)
        update();
    return QObject::eventFilter(watched, event);
}

void ThemeFollower::update()
{
    bool dark;
    if (m_portalScheme == 1)
        dark = true;
    else if (m_portalScheme == 2)
        dark = false;
    else
        dark = paletteIsDark();
    if (dark != m_systemDark) {
        m_systemDark = dark;
        emit systemDarkChanged();
    }
}
