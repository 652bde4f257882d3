#pragma once

#include <QColor>
#include <QImage>

// Soft shadows for the drop zone: the silhouette of `source` (its alpha),
// blurred by `radius` (about a Gaussian of that radius) and coloured `color`.
// The result is padded by `radius` on every side and keeps the source's device
// pixel ratio; draw it at (source position - radius).
QImage makeShadow(const QImage &source, int radius, const QColor &color);
