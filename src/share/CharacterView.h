#pragma once

#include <QImage>
#include <QWidget>

// The character that rides the share panel's progress bar: its picture
// scaled to fit its frame (centred, proportions kept), a soft drop shadow and
// its own opacity. The widget reaches `margin` beyond the frame on every side
// so the shadow is not cut; it never takes mouse events.
class CharacterView : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(qreal opacity READ opacity WRITE setOpacity)
    Q_PROPERTY(QPoint frameTopLeft READ frameTopLeft WRITE setFrameTopLeft)

public:
    static constexpr int margin = 12;

    explicit CharacterView(QWidget *parent = nullptr);

    void setImage(const QImage &image);
    QImage image() const { return m_image; }

    qreal opacity() const { return m_opacity; }
    void setOpacity(qreal opacity);

    // The character's frame in the parent's coordinates.
    QRect frame() const { return geometry().marginsRemoved(margins()); }
    void setFrame(const QRect &frame) { setGeometry(frame.marginsAdded(margins())); }
    QPoint frameTopLeft() const { return frame().topLeft(); }
    void setFrameTopLeft(const QPoint &topLeft) { move(topLeft - QPoint(margin, margin)); }

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    static QMargins margins() { return {margin, margin, margin, margin}; }
    QRectF imageRect() const;
    void rebuildShadow();

    QImage m_image;
    QImage m_shadow;
    qreal m_opacity = 1.0;
};
