#pragma once

#include "DragEventSource.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QUrl>

#include <functional>

struct wl_buffer;
struct wl_compositor;
struct wl_data_device;
struct wl_data_device_manager;
struct wl_data_offer;
struct wl_display;
struct wl_registry;
struct wl_seat;
struct wl_shm;
struct wl_surface;
struct zwlr_layer_shell_v1;
struct zwlr_layer_surface_v1;
class QSocketNotifier;
class QTimer;

// A native Wayland client that watches the top-right corner of the screen for
// drags: a transparent layer-shell surface on the overlay layer whose input
// region is a thin strip along the top edge while idle, and the whole corner
// (where the drop zone shows) while a drag is over it. A Wayland compositor
// tells a client about a drag only when the drag is over one of its surfaces,
// so this is how drags of native applications are seen where the compositor
// does not pass them on to X11 clients, and it takes their drop itself where
// the compositor refuses X11 clients the data at the drop (sway).
//
// As a DragEventSource: a drag reaching the strip is a new change (its types
// only when it carries local files); a drop, or leaving the corner for longer
// than leaveGraceMs, is its release. Main thread only.
class WaylandEdgeSensor final : public DragEventSource
{
    Q_OBJECT
public:
    // The corner the sensor covers, from the top-right corner of the screen.
    static constexpr int cornerWidth = 320;
    static constexpr int cornerHeight = 200;
    // Idle input region: this thin along the top edge, stopping short of the
    // screen corner, where maximised windows keep their close button.
    static constexpr int stripHeight = 2;
    static constexpr int cornerGap = 24;
    // A drag that leaves the corner and does not come back within this long
    // counts as ended: nothing tells a Wayland client where a drag ends.
    static constexpr int leaveGraceMs = 600;
    // Longest wait for the drag source to hand over its file list.
    static constexpr int readTimeoutMs = 2000;

    // Connects to $WAYLAND_DISPLAY. Unavailable (see unavailableReason())
    // without a Wayland display or without the layer shell.
    explicit WaylandEdgeSensor(QObject *parent = nullptr);
    ~WaylandEdgeSensor() override;

    bool hasDragPasteboard() const override { return m_ready; }
    qint64 changeCount() const override { return m_change; }
    QString unavailableReason() const { return m_unavailableReason; }

signals:
    // A drag carrying these local files is over the corner.
    void dragEntered(const QList<QUrl> &files);
    // It left the corner (it may come back).
    void dragLeft();
    // It was dropped on the corner: hand the files to the upload.
    void dropped(const QList<QUrl> &files);

private:
    struct Offer
    {
        QStringList types;
    };

    bool setUp();
    void dispatch();
    void configure(zwlr_layer_surface_v1 *layerSurface, uint32_t serial, uint32_t width,
                   uint32_t height);
    bool attachBuffer(int width, int height);
    void setInputRegion(bool wholeCorner);
    void enter(uint32_t serial, wl_data_offer *offer);
    void leave();
    void drop();
    void endDrag();
    void forgetOffer();
    void readFiles(wl_data_offer *offer, std::function<void(const QList<QUrl> &)> done);
    void fail(const QString &reason);

    wl_display *m_display = nullptr;
    wl_registry *m_registry = nullptr;
    wl_compositor *m_compositor = nullptr;
    wl_shm *m_shm = nullptr;
    wl_seat *m_seat = nullptr;
    wl_data_device_manager *m_dataDeviceManager = nullptr;
    uint32_t m_dataDeviceManagerVersion = 0;
    zwlr_layer_shell_v1 *m_layerShell = nullptr;
    wl_data_device *m_dataDevice = nullptr;
    wl_surface *m_surface = nullptr;
    zwlr_layer_surface_v1 *m_layerSurface = nullptr;
    wl_buffer *m_buffer = nullptr;
    int m_width = 0;
    int m_height = 0;
    QSocketNotifier *m_notifier = nullptr;
    QTimer *m_leaveTimer = nullptr;

    bool m_ready = false;
    QString m_unavailableReason;
    qint64 m_change = 0;

    // Offers announced before their enter, with the types each offers.
    QHash<wl_data_offer *, Offer> m_offers;
    wl_data_offer *m_current = nullptr;
    uint32_t m_enterSerial = 0;
    bool m_dragUnderWay = false; // reported as a change and not yet released
    bool m_dropping = false;
    QList<QUrl> m_files; // read at the latest enter
    quint64 m_enterGeneration = 0;
};
