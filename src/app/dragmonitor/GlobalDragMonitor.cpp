#include "GlobalDragMonitor.h"

#include "DragEventSource.h"
#include "NullDragEventSource.h"
#include "X11DragEventSource.h"

#include <QGuiApplication>
#include <QLoggingCategory>
#include <QTimer>

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
    // Whatever is on the pasteboard now is not a new drag.
    lastChangeCount = dragPasteboard->hasDragPasteboard() ? dragPasteboard->changeCount() : 0;

    // The timer is our child and the connections use us as context, so a
    // tick or event queued before our destruction never reaches us after it.
    pollTimer = new QTimer(this);
    pollTimer->setInterval(pollIntervalMs);
    connect(pollTimer, &QTimer::timeout, this, &GlobalDragMonitor::checkPasteboard);
    pollTimer->start();

    // Transitional: sources that report drags as a stream.
    connect(dragPasteboard.get(), &DragEventSource::pasteboardChanged, this,
            [this](qint64 change, const QStringList &types) {
                if (change == lastChangeCount)
                    return;
                lastChangeCount = change;
                if (isDragging || types.isEmpty())
                    return;
                isDragging = true;
                if (onDragStart)
                    onDragStart(types);
            });
    connect(dragPasteboard.get(), &DragEventSource::released, this, [this](qint64, int key) {
        if (key == 0 || key == Qt::Key_Escape)
            handlePotentialDragEnd();
    });
    connect(dragPasteboard.get(), &DragEventSource::leftMouseReleased, this,
            &GlobalDragMonitor::handlePotentialDragEnd);
    connect(dragPasteboard.get(), &DragEventSource::keyReleased, this, [this](int key) {
        if (key == Qt::Key_Escape)
            handlePotentialDragEnd();
    });
}

GlobalDragMonitor::~GlobalDragMonitor()
{
    if (pollTimer)
        pollTimer->stop();
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

void GlobalDragMonitor::checkPasteboard()
{
    if (!dragPasteboard->hasDragPasteboard())
        return;
    const qint64 count = dragPasteboard->changeCount();
    if (count == lastChangeCount)
        return;
    // Consumed exactly once, also while a drag is in progress.
    lastChangeCount = count;
    if (isDragging)
        return;
    const QStringList types = dragPasteboard->types();
    if (types.isEmpty())
        return;
    isDragging = true;
    if (onDragStart)
        onDragStart(types);
}

void GlobalDragMonitor::handlePotentialDragEnd()
{
    if (!isDragging)
        return;
    isDragging = false;
    if (onDragEnd)
        onDragEnd();
}
