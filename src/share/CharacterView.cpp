#include "CharacterView.h"

#include <QPainter>

#include <vector>

namespace {

// Black at 20 % alpha with a layer opacity of 0.25: a very faint shadow.
constexpr qreal shadowAlpha = 0.2 * 0.25;
constexpr int shadowRadius = 10;
// One point below the character (y grows downwards here).
constexpr int shadowOffsetY = 1;

// Three box blurs approximate a Gaussian of about radius / 2 deviation.
void boxBlurAlpha(QImage &image, int radius)
{
    const int w = image.width();
    const int h = image.height();
    const int box = qMax(1, radius / 3);
    std::vector<int> line(size_t(qMax(w, h)));
    for (int pass = 0; pass < 3; ++pass) {
        for (int horizontal = 0; horizontal < 2; ++horizontal) {
            const int count = horizontal ? h : w;
            const int length = horizontal ? w : h;
            for (int j = 0; j < count; ++j) {
                auto at = [&](int i) -> uchar & {
                    return horizontal ? image.scanLine(j)[i] : image.scanLine(i)[j];
                };
                for (int i = 0; i < length; ++i) {
                    line[size_t(i)] = at(i);
                }
                int sum = 0;
                for (int i = -box; i <= box; ++i) {
                    sum += (i >= 0 && i < length) ? line[size_t(i)] : 0;
                }
                for (int i = 0; i < length; ++i) {
                    at(i) = uchar(sum / (2 * box + 1));
                    const int out = i - box;
                    const int in = i + box + 1;
                    sum -= (out >= 0) ? line[size_t(out)] : 0;
                    sum += (in < length) ? line[size_t(in)] : 0;
                }
            }
        }
    }
}

} // namespace

CharacterView::CharacterView(QWidget *parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
}

void CharacterView::setImage(const QImage &image)
{
    m_image = image;
    rebuildShadow();
    update();
}

void CharacterView::setOpacity(qreal opacity)
{
    opacity = qBound(0.0, opacity, 1.0);
    if (qFuzzyCompare(opacity, m_opacity)) {
        return;
    }
    m_opacity = opacity;
    update();
}

QRectF CharacterView::imageRect() const
{
    const QRectF box = QRectF(rect()).marginsRemoved(QMarginsF(margins()));
    if (m_image.isNull() || box.isEmpty()) {
        return box;
    }
    QSizeF size = m_image.deviceIndependentSize();
    size.scale(box.size(), Qt::KeepAspectRatio);
    QRectF target(QPointF(), size);
    target.moveCenter(box.center());
    return target;
}

void CharacterView::rebuildShadow()
{
    m_shadow = QImage();
    if (m_image.isNull() || width() <= 0 || height() <= 0) {
        return;
    }
    QImage silhouette(size(), QImage::Format_ARGB32_Premultiplied);
    silhouette.fill(Qt::transparent);
    {
        QPainter painter(&silhouette);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(imageRect(), m_image);
    }
    QImage alpha = silhouette.convertToFormat(QImage::Format_Alpha8);
    boxBlurAlpha(alpha, shadowRadius);
    m_shadow = QImage(size(), QImage::Format_ARGB32_Premultiplied);
    m_shadow.fill(Qt::transparent);
    QPainter painter(&m_shadow);
    painter.fillRect(m_shadow.rect(), QColor(0, 0, 0, int(255 * shadowAlpha)));
    painter.setCompositionMode(QPainter::CompositionMode_DestinationIn);
    painter.drawImage(0, 0, alpha);
}

void CharacterView::resizeEvent(QResizeEvent *)
{
    rebuildShadow();
}

void CharacterView::paintEvent(QPaintEvent *)
{
    if (m_opacity <= 0.0 || m_image.isNull()) {
        return;
    }
    QPainter painter(this);
    painter.setOpacity(m_opacity);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    if (!m_shadow.isNull()) {
        painter.drawImage(QPoint(0, shadowOffsetY), m_shadow);
    }
    painter.drawImage(imageRect(), m_image);
}
