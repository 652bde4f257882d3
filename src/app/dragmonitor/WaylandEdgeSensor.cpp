#include "WaylandEdgeSensor.h"

// The generated C header names a parameter "namespace".
#define namespace layerNamespace
#include "wlr-layer-shell-unstable-v1-client-protocol.h"
#undef namespace

#include "PipeReader.h"

#include <QLoggingCategory>
#include <QTimer>

#include <wayland-client.h>

#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

Q_DECLARE_LOGGING_CATEGORY(lcDragMonitor)

namespace {

const char uriListType[] = "text/uri-list";

QList<QUrl> localFiles(const QByteArray &uriList)
{
    QList<QUrl> files;
    for (const QByteArray &line : uriList.split('\n')) {
        const QByteArray uri = line.trimmed();
        if (uri.isEmpty() || uri.startsWith('#'))
            continue;
        const QUrl url = QUrl::fromEncoded(uri);
        if (url.isLocalFile())
            files.append(url);
    }
    return files;
}

} // namespace

WaylandEdgeSensor::WaylandEdgeSensor(QObject *parent)
    : DragEventSource(parent)
{
    m_leaveTimer = new QTimer(this);
    m_leaveTimer->setSingleShot(true);
    m_leaveTimer->setInterval(leaveGraceMs);
    connect(m_leaveTimer, &QTimer::timeout, this, &WaylandEdgeSensor::endDrag);
    m_ready = setUp();
    if (!m_ready && m_unavailableReason.isEmpty())
        m_unavailableReason = QStringLiteral("the Wayland display could not be used");
}

WaylandEdgeSensor::~WaylandEdgeSensor()
{
    delete m_notifier;
    for (auto it = m_offers.cbegin(); it != m_offers.cend(); ++it)
        wl_data_offer_destroy(it.key());
    if (m_dataDevice)
        wl_data_device_destroy(m_dataDevice);
    if (m_layerSurface)
        zwlr_layer_surface_v1_destroy(m_layerSurface);
    if (m_surface)
        wl_surface_destroy(m_surface);
    if (m_buffer)
        wl_buffer_destroy(m_buffer);
    if (m_layerShell)
        zwlr_layer_shell_v1_destroy(m_layerShell);
    if (m_dataDeviceManager)
        wl_data_device_manager_destroy(m_dataDeviceManager);
    if (m_seat)
        wl_seat_destroy(m_seat);
    if (m_shm)
        wl_shm_destroy(m_shm);
    if (m_compositor)
        wl_compositor_destroy(m_compositor);
    if (m_registry)
        wl_registry_destroy(m_registry);
    if (m_display)
        wl_display_disconnect(m_display);
}

bool WaylandEdgeSensor::setUp()
{
    if (qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
        m_unavailableReason = QStringLiteral("no Wayland display");
        return false;
    }
    m_display = wl_display_connect(nullptr);
    if (!m_display) {
        m_unavailableReason = QStringLiteral("cannot connect to the Wayland display");
        return false;
    }

    static const wl_registry_listener registryListener = {
        [](void *data, wl_registry *registry, uint32_t name, const char *interface,
           uint32_t version) {
            auto *self = static_cast<WaylandEdgeSensor *>(data);
            const auto bind = [&](const wl_interface *wanted, uint32_t highest) {
                return wl_registry_bind(registry, name, wanted, std::min(version, highest));
            };
            if (!std::strcmp(interface, wl_compositor_interface.name) && !self->m_compositor)
                self->m_compositor = static_cast<wl_compositor *>(bind(&wl_compositor_interface, 4));
            else if (!std::strcmp(interface, wl_shm_interface.name) && !self->m_shm)
                self->m_shm = static_cast<wl_shm *>(bind(&wl_shm_interface, 1));
            else if (!std::strcmp(interface, wl_seat_interface.name) && !self->m_seat)
                self->m_seat = static_cast<wl_seat *>(bind(&wl_seat_interface, 5));
            else if (!std::strcmp(interface, wl_data_device_manager_interface.name) &&
                     !self->m_dataDeviceManager) {
                self->m_dataDeviceManagerVersion = std::min(version, 3u);
                self->m_dataDeviceManager = static_cast<wl_data_device_manager *>(
                    bind(&wl_data_device_manager_interface, 3));
            } else if (!std::strcmp(interface, zwlr_layer_shell_v1_interface.name) &&
                       !self->m_layerShell)
                self->m_layerShell =
                    static_cast<zwlr_layer_shell_v1 *>(bind(&zwlr_layer_shell_v1_interface, 1));
        },
        [](void *, wl_registry *, uint32_t) {},
    };
    m_registry = wl_display_get_registry(m_display);
    wl_registry_add_listener(m_registry, &registryListener, this);
    if (wl_display_roundtrip(m_display) < 0) {
        m_unavailableReason = QStringLiteral("the Wayland display closed the connection");
        return false;
    }
    if (!m_layerShell) {
        m_unavailableReason = QStringLiteral("the compositor offers no layer shell");
        return false;
    }
    if (!m_compositor || !m_shm || !m_seat || !m_dataDeviceManager) {
        m_unavailableReason = QStringLiteral("the compositor lacks a seat or drag and drop");
        return false;
    }

    static const wl_data_offer_listener offerListener = {
        [](void *data, wl_data_offer *offer, const char *type) {
            auto *self = static_cast<WaylandEdgeSensor *>(data);
            auto it = self->m_offers.find(offer);
            if (it != self->m_offers.end())
                it->types.append(QString::fromUtf8(type));
        },
        [](void *, wl_data_offer *, uint32_t) {},
        [](void *, wl_data_offer *, uint32_t) {},
    };
    static const wl_data_device_listener deviceListener = {
        // data_offer: a new offer, its types follow, then its enter or selection.
        [](void *data, wl_data_device *, wl_data_offer *offer) {
            auto *self = static_cast<WaylandEdgeSensor *>(data);
            self->m_offers.insert(offer, Offer{});
            wl_data_offer_add_listener(offer, &offerListener, self);
        },
        [](void *data, wl_data_device *, uint32_t serial, wl_surface *, wl_fixed_t, wl_fixed_t,
           wl_data_offer *offer) { static_cast<WaylandEdgeSensor *>(data)->enter(serial, offer); },
        [](void *data, wl_data_device *) { static_cast<WaylandEdgeSensor *>(data)->leave(); },
        [](void *, wl_data_device *, uint32_t, wl_fixed_t, wl_fixed_t) {},
        [](void *data, wl_data_device *) { static_cast<WaylandEdgeSensor *>(data)->drop(); },
        // selection: the clipboard is none of our business.
        [](void *data, wl_data_device *, wl_data_offer *offer) {
            auto *self = static_cast<WaylandEdgeSensor *>(data);
            if (offer && self->m_offers.remove(offer))
                wl_data_offer_destroy(offer);
        },
    };
    m_dataDevice = wl_data_device_manager_get_data_device(m_dataDeviceManager, m_seat);
    wl_data_device_add_listener(m_dataDevice, &deviceListener, this);

    static const zwlr_layer_surface_v1_listener layerListener = {
        [](void *data, zwlr_layer_surface_v1 *surface, uint32_t serial, uint32_t width,
           uint32_t height) {
            static_cast<WaylandEdgeSensor *>(data)->configure(surface, serial, width, height);
        },
        [](void *data, zwlr_layer_surface_v1 *) {
            static_cast<WaylandEdgeSensor *>(data)->fail(
                QStringLiteral("the compositor closed the sensor surface"));
        },
    };
    m_surface = wl_compositor_create_surface(m_compositor);
    m_layerSurface = zwlr_layer_shell_v1_get_layer_surface(
        m_layerShell, m_surface, nullptr, ZWLR_LAYER_SHELL_V1_LAYER_OVERLAY, "pelkin-drop-sensor");
    zwlr_layer_surface_v1_add_listener(m_layerSurface, &layerListener, this);
    zwlr_layer_surface_v1_set_size(m_layerSurface, cornerWidth, cornerHeight);
    zwlr_layer_surface_v1_set_anchor(m_layerSurface, ZWLR_LAYER_SURFACE_V1_ANCHOR_TOP |
                                                         ZWLR_LAYER_SURFACE_V1_ANCHOR_RIGHT);
    // At the very screen edge, over panels: a flung pointer stops there.
    zwlr_layer_surface_v1_set_exclusive_zone(m_layerSurface, -1);
    zwlr_layer_surface_v1_set_keyboard_interactivity(m_layerSurface, 0);
    wl_surface_commit(m_surface);
    // The first configure maps the surface.
    if (wl_display_roundtrip(m_display) < 0 || !m_buffer) {
        if (m_unavailableReason.isEmpty())
            m_unavailableReason = QStringLiteral("the sensor surface was not configured");
        return false;
    }

    m_notifier = new QSocketNotifier(wl_display_get_fd(m_display), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &WaylandEdgeSensor::dispatch);
    wl_display_flush(m_display);
    return true;
}

void WaylandEdgeSensor::dispatch()
{
    if (wl_display_dispatch(m_display) < 0) {
        fail(QStringLiteral("the Wayland connection broke: %1")
                 .arg(QString::fromLocal8Bit(std::strerror(wl_display_get_error(m_display)))));
        return;
    }
    wl_display_flush(m_display);
}

void WaylandEdgeSensor::configure(zwlr_layer_surface_v1 *layerSurface, uint32_t serial,
                                  uint32_t width, uint32_t height)
{
    zwlr_layer_surface_v1_ack_configure(layerSurface, serial);
    const int w = width ? int(width) : cornerWidth;
    const int h = height ? int(height) : cornerHeight;
    if (m_buffer && w == m_width && h == m_height) {
        wl_surface_commit(m_surface);
        return;
    }
    if (!attachBuffer(w, h)) {
        fail(QStringLiteral("no memory for the sensor surface"));
        return;
    }
    setInputRegion(m_dragUnderWay);
}

bool WaylandEdgeSensor::attachBuffer(int width, int height)
{
    // A fully transparent buffer: the sensor is never seen, only felt.
    const int stride = width * 4;
    const int size = stride * height;
    const int fd = memfd_create("pelkin-drop-sensor", MFD_CLOEXEC);
    if (fd < 0)
        return false;
    if (ftruncate(fd, size) < 0) {
        ::close(fd);
        return false;
    }
    wl_shm_pool *pool = wl_shm_create_pool(m_shm, fd, size);
    wl_buffer *buffer =
        wl_shm_pool_create_buffer(pool, 0, width, height, stride, WL_SHM_FORMAT_ARGB8888);
    wl_shm_pool_destroy(pool);
    ::close(fd);
    if (m_buffer)
        wl_buffer_destroy(m_buffer);
    m_buffer = buffer;
    m_width = width;
    m_height = height;
    wl_surface_attach(m_surface, m_buffer, 0, 0);
    wl_surface_damage(m_surface, 0, 0, width, height);
    return true;
}

void WaylandEdgeSensor::setInputRegion(bool wholeCorner)
{
    if (!m_surface || !m_buffer)
        return;
    wl_region *region = wl_compositor_create_region(m_compositor);
    if (wholeCorner)
        wl_region_add(region, 0, 0, m_width, m_height);
    else
        wl_region_add(region, 0, 0, std::max(1, m_width - cornerGap), stripHeight);
    wl_surface_set_input_region(m_surface, region);
    wl_region_destroy(region);
    wl_surface_commit(m_surface);
    wl_display_flush(m_display);
}

void WaylandEdgeSensor::enter(uint32_t serial, wl_data_offer *offer)
{
    forgetOffer();
    m_current = offer;
    m_enterSerial = serial;
    m_dropping = false;
    const quint64 generation = ++m_enterGeneration;
    const bool returning = m_leaveTimer->isActive();
    m_leaveTimer->stop();
    setInputRegion(true);

    const QStringList types = offer ? m_offers.value(offer).types : QStringList();
    if (!returning) {
        ++m_change;
        m_dragUnderWay = true;
    }
    qCDebug(lcDragMonitor) << "sensor: drag entered" << types << "returning" << returning;
    if (!types.contains(QLatin1String(uriListType))) {
        // Text and links: nothing for us; say so at once.
        wl_data_offer_accept(offer, serial, nullptr);
        if (!returning)
            emit pasteboardChanged(m_change, {});
        return;
    }
    wl_data_offer_accept(offer, serial, uriListType);
    if (m_dataDeviceManagerVersion >= 3)
        wl_data_offer_set_actions(offer, WL_DATA_DEVICE_MANAGER_DND_ACTION_COPY,
                                  WL_DATA_DEVICE_MANAGER_DND_ACTION_COPY);
    const qint64 change = m_change;
    // A list of URIs is a file drag only when it holds a local file.
    readFiles(offer, [this, generation, change, returning](const QList<QUrl> &files) {
        if (generation != m_enterGeneration || !m_current)
            return;
        m_files = files;
        if (files.isEmpty()) {
            wl_data_offer_accept(m_current, m_enterSerial, nullptr);
            wl_display_flush(m_display);
        }
        if (!returning)
            emit pasteboardChanged(change, files.isEmpty() ? QStringList()
                                                           : QStringList{QLatin1String(uriListType)});
        if (!files.isEmpty())
            emit dragEntered(files);
    });
}

void WaylandEdgeSensor::leave()
{
    qCDebug(lcDragMonitor) << "sensor: drag left; dropping" << m_dropping;
    if (m_dropping)
        return; // the drop finishes the offer
    forgetOffer();
    ++m_enterGeneration;
    if (!m_dragUnderWay)
        return;
    if (!m_files.isEmpty())
        emit dragLeft();
    m_files.clear();
    m_leaveTimer->start();
}

void WaylandEdgeSensor::drop()
{
    wl_data_offer *offer = m_current;
    qCDebug(lcDragMonitor) << "sensor: drop; files known" << m_files.size();
    if (!offer || m_files.isEmpty()) {
        forgetOffer();
        endDrag();
        return;
    }
    m_dropping = true;
    const QList<QUrl> entered = m_files;
    // The files are asked for again at the drop, as the protocol expects; a
    // source that no longer answers still dropped what it offered on entering.
    readFiles(offer, [this, offer, entered](const QList<QUrl> &files) {
        if (m_current == offer) {
            if (m_dataDeviceManagerVersion >= 3)
                wl_data_offer_finish(offer);
            forgetOffer();
        }
        m_dropping = false;
        m_files.clear();
        emit dropped(files.isEmpty() ? entered : files);
        endDrag();
    });
}

void WaylandEdgeSensor::endDrag()
{
    m_leaveTimer->stop();
    setInputRegion(false);
    if (!m_dragUnderWay)
        return;
    m_dragUnderWay = false;
    emit released(m_change, 0);
}

void WaylandEdgeSensor::forgetOffer()
{
    if (!m_current)
        return;
    m_offers.remove(m_current);
    wl_data_offer_destroy(m_current);
    m_current = nullptr;
}

void WaylandEdgeSensor::readFiles(wl_data_offer *offer,
                                  std::function<void(const QList<QUrl> &)> done)
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) < 0) {
        done({});
        return;
    }
    wl_data_offer_receive(offer, uriListType, fds[1]);
    ::close(fds[1]);
    wl_display_flush(m_display);
    new PipeReader(fds[0], readTimeoutMs,
                   [done = std::move(done)](bool ok, const QByteArray &data) {
                       done(ok ? localFiles(data) : QList<QUrl>());
                   },
                   this);
}

void WaylandEdgeSensor::fail(const QString &reason)
{
    qCWarning(lcDragMonitor, "drag sensor stopped: %s", qPrintable(reason));
    m_unavailableReason = reason;
    m_ready = false;
    if (m_notifier)
        m_notifier->setEnabled(false);
    m_leaveTimer->stop();
    if (m_dragUnderWay) {
        m_dragUnderWay = false;
        emit released(m_change, 0);
    }
}
