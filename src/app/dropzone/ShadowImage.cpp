#include "ShadowImage.h"

#include <QPainter>

#include <algorithm>
#include <vector>

namespace {

// One horizontal or vertical running-sum box blur pass over an 8-bit plane.
void boxBlur(std::vector<int> &plane, int width, int height, int r, bool horizontal)
{
    const int length = horizontal ? width : height;
    const int lines = horizontal ? height : width;
    std::vector<int> line(length);
    for (int l = 0; l < lines; ++l) {
        auto at = [&](int i) -> int & {
            return horizontal ? plane[l * width + i] : plane[i * width + l];
        };
        for (int i = 0; i < length; ++i)
            line[i] = at(i);
        int sum = 0;
        for (int i = -r; i <= r; ++i)
            sum += (i >= 0 && i < length) ? line[i] : 0;
        for (int i = 0; i < length; ++i) {
            at(i) = sum / (2 * r + 1);
            const int out = i - r;
            const int in = i + r + 1;
            sum -= (out >= 0) ? line[out] : 0;
            sum += (in < length) ? line[in] : 0;
        }
    }
}

} // namespace

QImage makeShadow(const QImage &source, int radius, const QColor &color)
{
    if (source.isNull())
        return {};
    const qreal dpr = source.devicePixelRatio();
    const int pad = std::max(0, int(radius * dpr + 0.5));
    const int w = source.width() + 2 * pad;
    const int h = source.height() + 2 * pad;

    QImage alpha(w, h, QImage::Format_ARGB32_Premultiplied);
    alpha.fill(Qt::transparent);
    {
        QPainter p(&alpha);
        p.drawImage(QPoint(pad, pad), source);
    }
    std::vector<int> plane(size_t(w) * size_t(h));
    for (int y = 0; y < h; ++y) {
        const QRgb *row = reinterpret_cast<const QRgb *>(alpha.constScanLine(y));
        for (int x = 0; x < w; ++x)
            plane[size_t(y) * w + x] = qAlpha(row[x]);
    }
    // Three box passes approximate a Gaussian.
    const int box = std::max(1, pad / 3);
    for (int pass = 0; pass < 3; ++pass) {
        boxBlur(plane, w, h, box, true);
        boxBlur(plane, w, h, box, false);
    }
    QImage shadow(w, h, QImage::Format_ARGB32_Premultiplied);
    const float a = color.alphaF();
    for (int y = 0; y < h; ++y) {
        QRgb *row = reinterpret_cast<QRgb *>(shadow.scanLine(y));
        for (int x = 0; x < w; ++x) {
            const int alphaValue = int(plane[size_t(y) * w + x] * a + 0.5f);
            row[x] = qPremultiply(qRgba(color.red(), color.green(), color.blue(), alphaValue));
        }
    }
    shadow.setDevicePixelRatio(dpr);
    return shadow;
}
