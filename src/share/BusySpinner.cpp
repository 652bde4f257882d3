#include "BusySpinner.h"

#include <QPainter>

namespace {
constexpr int spokes = 12;
}

BusySpinner::BusySpinner(QWidget *parent)
    : QWidget(parent)
{
    m_timer.setInterval(80);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        m_step = (m_step + 1) % spokes;
        update();
    });
    hide();
}

void BusySpinner::startAnimation()
{
    show();
    if (!m_timer.isActive()) {
        m_timer.start();
    }
}

void BusySpinner::stopAnimation()
{
    m_timer.stop();
    hide();
}

void BusySpinner::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal side = qMin(width(), height());
    painter.translate(width() / 2.0, height() / 2.0);
    QColor colour = palette().color(QPalette::WindowText);
    QPen pen(colour, side / 10.0, Qt::SolidLine, Qt::RoundCap);
    for (int i = 0; i < spokes; ++i) {
        // The newest spoke is darkest; the trail fades behind it.
        const int age = (m_step - i + spokes) % spokes;
        colour.setAlphaF(1.0 - 0.75 * age / (spokes - 1));
        pen.setColor(colour);
        painter.setPen(pen);
        painter.save();
        painter.rotate(360.0 * i / spokes);
        painter.drawLine(QPointF(0, -side * 0.24), QPointF(0, -side * 0.45));
        painter.restore();
    }
}
