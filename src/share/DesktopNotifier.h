#pragma once

#include <QString>

// Posts a desktop notification (org.freedesktop.Notifications on the session
// bus) when a notification service is running; otherwise does nothing. The
// share panel closes 0.8 s after its outcome, so the outcome is repeated
// where it can still be read.
namespace DesktopNotifier {

// True when the notification was handed to a running service.
bool notify(const QString &summary, const QString &body);

} // namespace DesktopNotifier
