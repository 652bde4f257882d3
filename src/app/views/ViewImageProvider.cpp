#include "ViewImageProvider.h"

#include "CharacterImage.h"
#include "SymbolTable.h"

#include <QFile>
#include <QPainter>
#include <QUrl>
#include <vector>

ViewImageProvider::ViewImageProvider()
    : QQuickImageProvider(QQuickImageProvider::Image)
{}

QImage ViewImageProvider::characterArtwork()
{
    static const QImage artwork = [] {
        PelkinCharacter::ensureResources();
        QImage image;
        if (QFile::exists(PelkinCharacter::characterResource))
            image.load(PelkinCharacter::characterResource);
        return image;
    }();
    return artwork;
}

namespace {

// One horizontal then one vertical running-sum box blur on the alpha channel.
void boxBlurAlpha(std::vector<float> &a, int w, int h, int r)
{
    std::vector<float> tmp(a.size());
    const float norm = 1.0f / float(2 * r + 1);
    for (int y = 0; y < h; ++y) {
        float sum = 0;
        for (int x = -r; x <= r; ++x)
            sum += a[y * w + std::clamp(x, 0, w - 1)];
        for (int x = 0; x < w; ++x) {
            tmp[y * w + x] = sum * norm;
            sum += a[y * w + std::min(x + r + 1, w - 1)] - a[y * w + std::max(x - r, 0)];
        }
    }
    for (int x = 0; x < w; ++x) {
        float sum = 0;
        for (int y = -r; y <= r; ++y)
            sum += tmp[std::clamp(y, 0, h - 1) * w + x];
        for (int y = 0; y < h; ++y) {
            a[y * w + x] = sum * norm;
            sum += tmp[std::min(y + r + 1, h - 1) * w + x] - tmp[std::max(y - r, 0) * w + x];
        }
    }
}

} // namespace

QImage ViewImageProvider::blurredShadow(const QImage &source, const QSize &size, int radius,
                                        const QColor &color)
{
    const int w = size.width() + 2 * radius;
    const int h = size.height() + 2 * radius;
    QImage canvas(w, h, QImage::Format_ARGB32);
    canvas.fill(Qt::transparent);
    {
        QPainter p(&canvas);
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        p.drawImage(QRect(radius, radius, size.width(), size.height()), source);
    }
    std::vector<float> alpha(size_t(w) * size_t(h));
    for (int y = 0; y < h; ++y) {
        const QRgb *line = reinterpret_cast<const QRgb *>(canvas.constScanLine(y));
        for (int x = 0; x < w; ++x)
            alpha[size_t(y) * w + x] = float(qAlpha(line[x]));
    }
    // Three box passes approximate a Gaussian whose extent is `radius`.
    const int box = std::max(1, radius / 3);
    for (int i = 0; i < 3; ++i)
        boxBlurAlpha(alpha, w, h, box);
    QImage out(w, h, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < h; ++y) {
        QRgb *line = reinterpret_cast<QRgb *>(out.scanLine(y));
        for (int x = 0; x < w; ++x) {
            const int a = std::clamp(int(alpha[size_t(y) * w + x] * color.alphaF() + 0.5f), 0, 255);
            line[x] = qPremultiply(qRgba(color.red(), color.green(), color.blue(), a));
        }
    }
    return out;
}

QImage ViewImageProvider::requestImage(const QString &id, QSize *size, const QSize &requestedSize)
{
    QImage result;
    if (id.startsWith(QLatin1String("symbol/"))) {
        const QString rest = id.mid(7);
        const qsizetype q = rest.indexOf(u'?');
        const QString symbol = QUrl::fromPercentEncoding(rest.left(q).toUtf8());
        const QColor color(q < 0 ? QStringLiteral("#000000") : rest.mid(q + 1));
        const QSize want =
            requestedSize.isValid() && !requestedSize.isEmpty() ? requestedSize : QSize(32, 32);
        result = SymbolTable::tintedImage(symbol, want, color.isValid() ? color : Qt::black);
    } else if (id == QLatin1String("character")) {
        result = characterArtwork();
        if (!result.isNull() && requestedSize.isValid() && !requestedSize.isEmpty())
            result = result.scaled(requestedSize, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    } else if (id == QLatin1String("charactershadow")) {
        const QImage art = characterArtwork();
        const QSize want = requestedSize.isValid() && !requestedSize.isEmpty()
                               ? requestedSize - QSize(2 * shadowRadius, 2 * shadowRadius)
                               : QSize(48, 48);
        if (!art.isNull() && want.width() > 0 && want.height() > 0) {
            const QImage scaled =
                art.scaled(want, Qt::KeepAspectRatioByExpanding, Qt::SmoothTransformation);
            result = blurredShadow(scaled, want, shadowRadius, QColor(0, 0, 0, 77));
        }
    } else if (id.startsWith(QLatin1String("roundshadow/"))) {
        // roundshadow/<width>/<height>/<corner radius>/<colour>/<offset y>
        const QStringList parts = id.mid(12).split(u'/');
        if (parts.size() == 5) {
            const QSize box(std::clamp(parts[0].toInt(), 1, 4000),
                            std::clamp(parts[1].toInt(), 1, 4000));
            const qreal corner = parts[2].toDouble();
            const QColor color(parts[3]);
            const int offsetY = std::clamp(parts[4].toInt(), -shadowRadius, shadowRadius);
            QImage shape(box, QImage::Format_ARGB32_Premultiplied);
            shape.fill(Qt::transparent);
            {
                QPainter p(&shape);
                p.setRenderHint(QPainter::Antialiasing);
                p.setPen(Qt::NoPen);
                p.setBrush(Qt::black);
                p.drawRoundedRect(QRectF(QPointF(0, 0), box), corner, corner);
            }
            result = blurredShadow(shape, box, shadowRadius, color.isValid() ? color : Qt::black);
            // Only the part outside the shape shows: the shapes over it may be
            // translucent, and a real shadow never lies under its own object.
            QPainter p(&result);
            p.setCompositionMode(QPainter::CompositionMode_DestinationOut);
            p.drawImage(QPoint(shadowRadius, shadowRadius - offsetY), shape);
        }
    }
    if (result.isNull()) {
        result = QImage(1, 1, QImage::Format_ARGB32_Premultiplied);
        result.fill(Qt::transparent);
    }
    if (size)
        *size = result.size();
    return result;
}
