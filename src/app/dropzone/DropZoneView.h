#pragma once

#include "DropZoneLook.h"

#include <QColor>
#include <QImage>
#include <QList>
#include <QPointF>
#include <QString>
#include <QUrl>
#include <QWidget>

#include <functional>
#include <optional>

class QMimeData;
class QVariantAnimation;

// The drop zone's content: the drop target, the idle and uploading looks, the
// progress bar with the riding character and the result line. It knows nothing
// about uploads or the tray; the shell drives it and listens to the on*
// callbacks (main thread only).
class DropZoneView : public QWidget
{
    Q_OBJECT

public:
    enum class DisplayMode { compact, expanded };

    explicit DropZoneView(QWidget *parent = nullptr);
    ~DropZoneView() override;

    // Called with the dropped local files, in the order the drag offered them.
    std::function<void(const QList<QUrl> &)> onDropFiles;
    // An acceptable drag (one carrying file URLs, while not uploading) entered.
    std::function<void()> onDragEntered;
    // A drag that was accepted here has ended (after a drop, or when the shell
    // reports the end of a drag that touched the zone via draggingEnded()).
    std::function<void()> onDragEnded;
    // Fired exactly when the display mode changes value.
    std::function<void(DisplayMode)> onDisplayModeChange;

    bool isUploading() const { return m_state == UploadState::uploading; }
    DisplayMode currentDisplayMode() const { return m_displayMode; }

    // True from an accepted drag entering until it leaves, drops or ends. The
    // shell uses it to give a drop that is on its way a moment to arrive when
    // the global drag monitor reports the release first.
    bool isDragHovering() const { return m_dragHovering; }
    // True once an accepted drag has entered, until draggingEnded().
    bool hasDragTouched() const { return m_dragTouched; }

    // The window tells the view whether the desktop shows translucency; the
    // flat look has square corners and an opaque fill.
    void setTranslucentPanel(bool translucent);
    bool isTranslucentPanel() const { return m_translucentPanel; }

    bool isHighlighted() const { return m_highlighted; }
    void setHighlighted(bool highlighted); // repaints on every call

    // Switches to the uploading look ("アップロード中…" unless `status` is given).
    void prepareForUpload(const std::optional<QString> &status = std::nullopt);
    // Fraction 0..1 (clamped; ignored while idle).
    void updateUploadProgress(double progress);
    // Shows the result, fills the bar, then after 1.1 s (success) or 1.4 s
    // (failure) resets to idle and calls `completion`. While idle, calls
    // `completion` at once. `completion` always runs, even if the view is gone.
    void finishUpload(const QString &title, const QString &detail, bool success,
                      std::function<void()> completion = {});
    void resetToIdle(bool animated);

    // Drag-destination steps. The Qt drag events call them; they are public so
    // the shell (and tests) can drive them without a drag source.
    bool draggingEntered(const QMimeData *mime); // true = the drag is accepted
    void draggingExited();
    void draggingEnded();
    // true = files delivered. A drop whose data carries no files (or none
    // given) delivers those the accepted drag offered when it entered.
    bool performDragOperation(const QMimeData *mime);

    // Read-only state for the shell and tests.
    QString titleText() const { return m_titleText; }
    QString subtitleText() const { return m_subtitleText; }
    bool isSubtitleVisible() const { return m_subtitleVisible; }
    QColor titleColor() const;
    QColor subtitleColor() const;
    QColor backgroundColor() const; // the panel's fill for the current state
    double currentProgress() const { return m_currentProgress; }
    bool isProgressAreaVisible() const { return m_progressVisible; }
    double progressAreaOpacity() const { return m_progressOpacity; }
    double fillWidth() const; // as drawn now
    // Character offsets as drawn now: x from the track's left edge, y of its
    // centre from the track's top edge (see PelkinCharacter::dropZoneOffsets).
    QPointF characterOffsets() const;
    bool isAnimating() const;
    QRectF trackRect() const;     // in view coordinates
    QRectF characterRect() const; // in view coordinates
    QImage characterImage() const { return m_look.characterImage(); }

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dragLeaveEvent(QDragLeaveEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    enum class UploadState { idle, uploading };

    void applyState(UploadState state, bool animated);
    void toggleProgressVisibility(bool isVisible, bool animated);
    void updateProgressFill(bool animated);
    void updateCharacterPosition(bool animated);
    void setDisplayMode(DisplayMode mode);
    void setTitle(const QString &text);
    void setSubtitle(const QString &text);
    static QList<QUrl> fileUrls(const QMimeData *mime);

    UploadState m_state = UploadState::idle;
    DisplayMode m_displayMode = DisplayMode::compact;
    bool m_highlighted = false;
    bool m_dragHovering = false;
    bool m_dragTouched = false;
    // The files the current drag offered when it entered: some sources
    // deliver the drop without its data (see performDragOperation).
    QList<QUrl> m_dragFiles;

    QString m_titleText;
    QString m_subtitleText;
    bool m_subtitleVisible = false;
    DropZoneLook::TextTone m_titleTone = DropZoneLook::TextTone::idle;
    DropZoneLook::TextTone m_subtitleTone = DropZoneLook::TextTone::secondary;

    bool m_translucentPanel = true;
    bool m_progressVisible = false; // the container's "not hidden"
    double m_progressOpacity = 0.0;
    double m_currentProgress = 0.0;
    // Drawn state, kept as fractions of the track so a resize of the window
    // while an upload runs keeps the bar and the character in proportion.
    double m_fillFraction = 0.0;
    double m_characterProgress = 0.0; // horizontal position as a fraction
    double m_characterVertical = 0.0; // centre relative to the track's top
    DropZoneLook m_look;
    // Which upload a scheduled reset belongs to: a reset left over from an
    // earlier upload must not cut a later one short.
    quint64 m_uploadGeneration = 0;

    QVariantAnimation *m_opacityAnimation = nullptr;
    QMetaObject::Connection m_fadeCompletion;
    QVariantAnimation *m_fillAnimation = nullptr;
    QVariantAnimation *m_characterAnimation = nullptr;
};
