#pragma once

#include <QQuickImageProvider>

// Images the views ask for by URL (image://pelkin/...):
//   symbol/<symbol name>?<colour>   a tinted glyph (see SymbolTable)
//   character                       the character artwork as stored
//   charactershadow                 its blurred silhouette, black at 30 %, for a
//                                   12-point shadow; the image is larger than
//                                   the requested size by 2 × 12 on each axis
// The software renderer has no shader effects, so colouring and blurring
// happen here rather than in QML.
class ViewImageProvider : public QQuickImageProvider
{
public:
    static constexpr int shadowRadius = 12;

    ViewImageProvider();

    QImage requestImage(const QString &id, QSize *size, const QSize &requestedSize) override;

    // The artwork, or a null image when the application has none.
    static QImage characterArtwork();
    static QImage blurredShadow(const QImage &source, const QSize &size, int radius,
                                const QColor &color);
};
