#pragma once

// Entry point the application shell uses to host the main window's content.
//
// createContentView() returns a QQuickView (resize mode SizeRootObjectToView)
// with ContentView loaded and bound to `model`. The caller owns the view and
// sets its title, size and geometry. The model must outlive the view.
//
// Each view gets its own QQmlEngine, parented to the view, so several windows
// (and tests) never share QML state. The theme follower that implements
// "system" appearance is created once per process and shared.

class AppModel;
class QQuickView;
class QWindow;

namespace PelkinViews {

// Minimum content size of the main window (the window is resizable above it).
inline constexpr int minimumWidth = 760;
inline constexpr int minimumHeight = 520;

// Builds the view. Returns nullptr only if the QML failed to load (the errors
// are written to the log with qWarning()).
QQuickView *createContentView(AppModel *model, QWindow *parent = nullptr);

} // namespace PelkinViews
