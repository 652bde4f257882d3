#pragma once

#include "DropZoneWindow.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QRect>
#include <QString>
#include <QUrl>

class QPropertyAnimation;
class StatusItem;

// How the drop zone comes and goes: made on first use, hung under the tray
// icon (or the screen's top-right corner), faded in and out where a
// compositor runs, the tray icon lit while a drag is on its way, and an
// upload's timeline from "アップロード中…" to its result. Main thread only.
class DropZonePresenter : public QObject
{
    Q_OBJECT
public:
    // Durations of the fades.
    static constexpr int showFadeMs = 120;
    static constexpr int hideFadeMs = 180;

    explicit DropZonePresenter(QObject *parent = nullptr);
    ~DropZonePresenter() override;

    // The tray icon to hang from and to light; none: the screen's corner.
    void setStatusItem(StatusItem *item);

    DropZoneWindow *window() const { return m_window; }
    // Makes the (hidden) window now, so the first drag does not wait for it.
    void prepareWindow() { ensureWindow(); }
    // From showUploadStarted() until the result has been shown and cleared.
    bool uploadInProgress() const { return m_uploadInProgress; }
    // An accepted drag is over the visible zone: its drop may be on its way.
    bool isDragHovering() const;

    // --- drags ---
    // A file drag started somewhere: fade the zone in and light the tray icon.
    void revealForDrag();
    // The drag is over. A drag that touched the zone is ended there too (Qt
    // tells a drop target only about leaving and dropping); the zone fades
    // out unless it shows an upload.
    void concludeDrag();

    // --- drags that a sensor lying over the zone sees (native Wayland drags) ---
    // The sensor takes the zone's drops, so the zone must show exactly under
    // it: no window manager may place it (sway centres floating windows).
    void setPlacedOverSensor(bool placedOverSensor);
    void sensorDragEntered(const QList<QUrl> &files);
    void sensorDragLeft();
    void sensorDropped(const QList<QUrl> &files);

    // --- uploads ---
    void showUploadStarted();
    // Brings a zone that was hidden meanwhile back.
    void showUploadProgress(double fraction);
    // Shows the result, then fades out (even if a drag hovers).
    void showUploadFinished(const QString &title, const QString &detail, bool success);

    // --- hiding ---
    // Fade out, unless an upload shows.
    void hideUnlessUploading();
    // At once, whatever shows (the tray icon is going away).
    void hideNow();

    // Where the zone hangs from: the tray icon's rectangle when the tray
    // reports one, otherwise a small square in the top-right corner of the
    // available area of the screen under the pointer.
    QRect anchor() const;

signals:
    // Local files dropped on the zone, in the order the drag offered them.
    void filesDropped(const QList<QUrl> &files);
    // A drag that the zone accepted has ended there.
    void dragEndedOnZone();

private:
    struct Placement
    {
        bool highlightStatusItem = false;
        bool animated = false;
        bool reveal = false;       // show a hidden zone (with a fade where possible)
        bool forceVisible = false; // show it even when not revealing
    };
    struct Hiding
    {
        bool immediate = false;
        bool evenWhileUploading = false;
    };

    void ensureWindow();
    void place(const Placement &placement);
    void hide(const Hiding &hiding);
    void setStatusItemHighlighted(bool highlighted);
    void fadeIn();
    void stopFade();
    bool isFadingOut() const;

    QPointer<StatusItem> m_statusItem;
    QPointer<DropZoneWindow> m_window;
    QPointer<QPropertyAnimation> m_fade;
    bool m_uploadInProgress = false;
    bool m_placedOverSensor = false;
};
