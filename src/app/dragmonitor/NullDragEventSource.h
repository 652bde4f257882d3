#pragma once

#include "DragEventSource.h"

// For desktops where drags of other applications cannot be seen (Wayland
// without an X11 display, offscreen): no pasteboard, no events.
class NullDragEventSource final : public DragEventSource
{
    Q_OBJECT
public:
    using DragEventSource::DragEventSource;

    bool hasDragPasteboard() const override { return false; }
    qint64 changeCount() const override { return 0; }
};
