#include "CharacterImage.h"

#include <QPainter>
#include <QPainterPath>

#include <mutex>

// Q_INIT_RESOURCE must be used outside any namespace. Referencing the
// initialiser also makes the linker keep the artwork's object file.
static void initCharacterResources()
{
#ifdef PELKIN_HAS_CHARACTER_RESOURCES
    Q_INIT_RESOURCE(pelkin_character);
#endif
}

namespace PelkinCharacter {

void ensureResources()
{
    static std::once_flag once;
    std::call_once(once, initCharacterResources);
}

QImage loadCharacterImage(Deliverable deliverable, const QString &resourcePath)
{
    ensureResources();
    QImage artwork(resourcePath);
    if (!artwork.isNull())
        return flippedHorizontally(artwork.convertToFormat(QImage::Format_ARGB32_Premultiplied));
    return flippedHorizontally(makeFallbackCharacterImage(deliverable));
}

QImage makeFallbackCharacterImage(Deliverable deliverable, qreal devicePixelRatio)
{
    constexpr int side = 64;
    const qreal dpr = devicePixelRatio > 0 ? devicePixelRatio : 1.0;
    const int pixels = qRound(side * dpr);
    QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    image.setDevicePixelRatio(dpr);

    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);

    // Drawn in the canvas' own units; y grows downwards.
    const QRectF face(6, 6, 52, 52);
    p.setBrush(QColor(32, 128, 240));
    p.drawEllipse(face);

    p.setBrush(Qt::white);
    p.drawEllipse(QRectF(face.left() + 14, face.center().y() - 4 - 7, 7, 7));
    p.drawEllipse(QRectF(face.right() - 14 - 7, face.center().y() - 4 - 7, 7, 7));

    QPainterPath mouth;
    QPen pen(Qt::black, 2.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    if (deliverable == Deliverable::dropZone) {
        mouth.moveTo(face.left() + 16, face.bottom() - 18);
        mouth.cubicTo(face.left() + 24, face.bottom() - 4, face.right() - 24, face.bottom() - 4,
                      face.right() - 16, face.bottom() - 18);
    } else {
        mouth.moveTo(face.center().x() - 12, face.bottom() - 16);
        mouth.cubicTo(face.center().x() - 4, face.bottom() - 11, face.center().x() + 4,
                      face.bottom() - 11, face.center().x() + 12, face.bottom() - 16);
        pen.setColor(QColor(255, 255, 255, qRound(0.8 * 255)));
    }
    p.setBrush(Qt::NoBrush);
    p.setPen(pen);
    p.drawPath(mouth);

    if (deliverable == Deliverable::sharePanel) {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(255, 255, 255, qRound(0.25 * 255)));
        p.drawEllipse(QRectF(face.center().x() - 6, face.top() + 22 - 16, 16, 16));
    }
    p.end();
    return image;
}

QImage flippedHorizontally(const QImage &image)
{
    if (image.isNull())
        return QImage(image);
    QImage mirrored = image.mirrored(true, false);
    mirrored.setDevicePixelRatio(image.devicePixelRatio());
    return mirrored;
}

} // namespace PelkinCharacter
