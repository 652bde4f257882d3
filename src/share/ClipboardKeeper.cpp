#include "ClipboardKeeper.h"

#include "X11Support.h"

#include <QClipboard>
#include <QGuiApplication>

ClipboardKeeper::ClipboardKeeper(QObject *parent)
    : QObject(parent)
{}

void ClipboardKeeper::keepUntilReleased()
{
    QClipboard *clipboard = QGuiApplication::clipboard();
    const QString platform = QGuiApplication::platformName();
    const bool x11 = platform == QLatin1String("xcb");
    const bool wayland = platform.startsWith(QLatin1String("wayland"));
    m_serving = (x11 || wayland) && clipboard->ownsClipboard();
    if (m_serving && x11 && X11Support::clipboardManagerRunning()) {
        m_serving = false;
    }
    if (!m_serving) {
        QMetaObject::invokeMethod(this, &ClipboardKeeper::released, Qt::QueuedConnection);
        return;
    }
    connect(clipboard, &QClipboard::changed, this, [this, clipboard](QClipboard::Mode mode) {
        if (m_serving && mode == QClipboard::Clipboard && !clipboard->ownsClipboard()) {
            m_serving = false;
            emit released();
        }
    });
}
