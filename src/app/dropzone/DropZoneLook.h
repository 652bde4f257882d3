#pragma once

#include <QColor>
#include <QImage>
#include <QRectF>
#include <QString>

class QFont;
class QPainter;
class QPalette;

// How the drop zone is drawn: its colours, taken from the desktop's palette,
// and the panel, texts, progress track and riding character painted from a
// description of what shows. It holds no state of the zone; DropZoneView does.
class DropZoneLook
{
public:
    enum class TextTone { label, idle, secondary, failure };

    // What shows, in view coordinates.
    struct Frame
    {
        QRectF bounds;
        bool translucentPanel = true;
        bool highlighted = false;
        bool uploading = false;
        QString title;
        QString subtitle;
        bool subtitleVisible = false;
        TextTone titleTone = TextTone::idle;
        TextTone subtitleTone = TextTone::secondary;
        double progressOpacity = 0; // 0: the progress area is hidden
        double fillWidth = 0;
        QRectF characterBox;
    };

    static constexpr int cornerRadius = 5;

    DropZoneLook();

    // The progress track of a view of `size`.
    static QRectF trackRect(const QSizeF &size);

    // The panel's fill: the window colour, tinted while uploading or lit.
    static QColor backgroundColor(const QPalette &palette, bool uploading, bool highlighted,
                                  bool translucentPanel);
    static QColor titleColor(const QPalette &palette, TextTone tone);
    static QColor subtitleColor(const QPalette &palette, TextTone tone);

    QImage characterImage() const { return m_characterImage; }

    void paint(QPainter &painter, const QPalette &palette, const QFont &font,
               qreal devicePixelRatio, const Frame &frame);

private:
    void paintCharacter(QPainter &painter, const QRectF &box, double opacity,
                        qreal devicePixelRatio);

    QImage m_characterImage;
    QImage m_characterShadow;
    QImage m_characterScaled; // m_characterImage at the screen's pixel density
};
