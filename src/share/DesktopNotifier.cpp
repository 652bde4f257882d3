#include "DesktopNotifier.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QVariantMap>

namespace DesktopNotifier {

bool notify(const QString &summary, const QString &body)
{
    const QString service = QStringLiteral("org.freedesktop.Notifications");
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface() || !bus.interface()->isServiceRegistered(service))
        return false;
    QDBusMessage call = QDBusMessage::createMethodCall(
        service, QStringLiteral("/org/freedesktop/Notifications"), service,
        QStringLiteral("Notify"));
    call << QStringLiteral("Pelkin Drop") << quint32(0) << QString() << summary << body
         << QStringList() << QVariantMap() << qint32(-1);
    // Not waited for: the panel must not stall on a slow notification daemon.
    return bus.send(call);
}

} // namespace DesktopNotifier
