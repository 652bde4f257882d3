#include "GlobalDragMonitor.h"

#include "DragEventSource.h"
#include "NullDragEventSource.h"
#include "X11DragEventSource.h"

#include <QGuiApplication>
#include <QLoggingCategory>

#include <algorithm>
#include <mutex>

Q_LOGGING_CATEGORY(lcDragMonitor, "pelkin.dragmonitor", QtInfoMsg)

GlobalDragMonitor::GlobalDragMonitor(QObject *parent)
    : GlobalDragMonitor(createPlatformSource(), parent)
{
    if (!isAvailable()) {
        static std::once_flag logged;
        std::call_once(logged, [] {
            qCInfo(lcDragMonitor,
                   "このデスクトップでは他のアプリケーションのドラッグを検出できないため、"
                   "ドロップゾーンの自動表示は利用できません（X11 のセッションが必要です）");
        });
    }
}

GlobalDragMonitor::GlobalDragMonitor(std::shared_ptr<DragEventSource> source, QObject *parent)
    : QObject(parent)
    , dragPasteboard(source ? std::move(source) : std::make_shared<NullDragEventSource>())
{
    if (!dragPasteboard->hasDragPasteboard())
        return;
    // Whatever is on the pasteboard now is not a new drag.
    lastChangeCount = dragPasteboard->changeCount();

    // We are the context, so a signal queued before our destruction never
    // reaches us after it.
    connect(dragPasteboard.get(), &DragEventSource::pasteboardChanged, this,
            &GlobalDragMonitor::handlePasteboardChange);
    connect(dragPasteboard.get(), &DragEventSource::released, this,
            &GlobalDragMonitor::handleRelease);
}

GlobalDragMonitor::~GlobalDragMonitor()
{
    // The source may be shared and outlive us: make sure it calls nothing here.
    disconnect(dragPasteboard.get(), nullptr, this, nullptr);
}

std::shared_ptr<DragEventSource> GlobalDragMonitor::createPlatformSource()
{
    const bool onX11 = QGuiApplication::platformName() == QLatin1String("xcb");
    if (onX11 || !qEnvironmentVariableIsEmpty("DISPLAY")) {
        auto x11 = std::make_shared<X11DragEventSource>();
        if (x11->hasDragPasteboard())
            return x11;
    }
    return std::make_shared<NullDragEventSource>();
}

bool GlobalDragMonitor::isAvailable() const
{
    return dragPasteboard->hasDragPasteboard();
}

void GlobalDragMonitor::handlePasteboardChange(qint64 change, const QStringList &types)
{
    // Older than the baseline, or its drag already ended.
    if (change <= lastChangeCount)
        return;
    // Consumed exactly once, also while a drag is in progress.
    lastChangeCount = change;
    if (isDragging || types.isEmpty())
        return;
    isDragging = true;
    qCDebug(lcDragMonitor) << "drag" << change << "started" << types;
    if (onDragStart)
        onDragStart(types);
}

void GlobalDragMonitor::handleRelease(qint64 change, int key)
{
    if (key != 0 && key != Qt::Key_Escape)
        return;
    if (!isDragging) {
        // The release of a drag whose start has not reached us yet: that drag
        // is over, so its start must not leave us "dragging" and swallow the
        // next one.
        if (change > lastChangeCount) {
            qCDebug(lcDragMonitor) << "drag" << change << "ended before its start was reported";
            lastChangeCount = change;
        }
        return;
    }
    isDragging = false;
    lastChangeCount = std::max(lastChangeCount, change);
    qCDebug(lcDragMonitor) << "drag ended at change" << change;
    if (onDragEnd)
        onDragEnd();
}
