#include "ShareProgressArea.h"

#include "CharacterImage.h"
#include "CharacterTrack.h"
#include "CharacterView.h"

#include <QGraphicsOpacityEffect>
#include <QParallelAnimationGroup>
#include <QProgressBar>
#include <QPropertyAnimation>

#include <algorithm>
#include <cmath>

namespace {

// Ease in, ease out: the standard cubic curve (0.42, 0) (0.58, 1).
QEasingCurve easeInEaseOut()
{
    QEasingCurve curve(QEasingCurve::BezierSpline);
    curve.addCubicBezierSegment(QPointF(0.42, 0.0), QPointF(0.58, 1.0), QPointF(1.0, 1.0));
    return curve;
}

constexpr int progressScale = 1000; // the bar counts in thousandths
constexpr int barInset = 16;
constexpr int barBottom = 18; // from the container's bottom edge
constexpr int barHeight = 10;
constexpr int characterGap = 8; // between the bar's top and the character's bottom

} // namespace

ShareProgressArea::ShareProgressArea(QWidget *panel)
    : QObject(panel)
{
    m_container = new QWidget(panel);
    m_container->setObjectName(QStringLiteral("progressContainer"));
    m_container->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_containerOpacity = new QGraphicsOpacityEffect(m_container);
    m_containerOpacity->setOpacity(0.0);
    m_container->setGraphicsEffect(m_containerOpacity);
    m_container->hide();

    m_bar = new QProgressBar(m_container);
    m_bar->setObjectName(QStringLiteral("progressBar"));
    m_bar->setRange(0, progressScale);
    m_bar->setValue(0);
    m_bar->setTextVisible(false);

    m_character = new CharacterView(panel);
    m_character->setObjectName(QStringLiteral("characterImageView"));
    m_character->setImage(
        PelkinCharacter::loadCharacterImage(PelkinCharacter::Deliverable::sharePanel));
    m_character->setOpacity(0.0);
    const int size = int(PelkinCharacter::sharePanelCharacterSize);
    m_character->setFrame(QRect(0, 0, size, size));
    m_character->hide();
    m_characterMove = new QPropertyAnimation(m_character, "frameTopLeft", this);
    m_characterMove->setDuration(PelkinCharacter::moveDurationMs);
    m_characterMove->setEasingCurve(easeInEaseOut());
}

void ShareProgressArea::place(const QRect &frame)
{
    m_container->setGeometry(frame);
    const int width = std::max(frame.width() - 2 * barInset, 120);
    m_bar->setGeometry(barInset, frame.height() - barBottom - barHeight, width, barHeight);
    m_characterBaseY = barBottom + barHeight + characterGap;
    updateCharacterPosition(false);
}

void ShareProgressArea::setAccentColour(const QString &colour)
{
    m_bar->setStyleSheet(
        QStringLiteral("QProgressBar { border: none; border-radius: 5px;"
                       " background-color: rgba(128,128,128,0.25); }"
                       "QProgressBar::chunk { border-radius: 5px; background-color: %1; }")
            .arg(colour));
}

bool ShareProgressArea::isShown() const
{
    return !m_container->isHidden();
}

void ShareProgressArea::appear()
{
    m_progress = 0;
    m_bar->setValue(0);
    updateCharacterPosition(false);
    m_containerOpacity->setOpacity(0.0);
    m_character->setOpacity(0.0);
    m_container->show();
    m_character->show();
    m_character->raise();
    fade(1.0, showMs, false);
}

void ShareProgressArea::disappear()
{
    const bool wasShown = isShown();
    m_progress = 0;
    m_bar->setValue(0);
    updateCharacterPosition(false);
    if (wasShown)
        fade(0.0, hideMs, true);
}

void ShareProgressArea::fade(qreal to, int durationMs, bool hideWhenDone)
{
    if (m_fade) {
        // A newer fade replaces the running one; stop() does not signal
        // finished, so a replaced fade-out never hides a shown container.
        m_fade->stop();
    }
    auto *group = new QParallelAnimationGroup(this);
    for (QObject *target :
         {static_cast<QObject *>(m_containerOpacity), static_cast<QObject *>(m_character)}) {
        auto *animation = new QPropertyAnimation(target, "opacity", group);
        animation->setDuration(durationMs);
        animation->setEasingCurve(easeInEaseOut());
        animation->setEndValue(to);
        group->addAnimation(animation);
    }
    if (hideWhenDone) {
        connect(group, &QAbstractAnimation::finished, this, [this] {
            m_container->hide();
            m_character->hide();
        });
    }
    m_fade = group;
    group->start(QAbstractAnimation::DeleteWhenStopped);
}

void ShareProgressArea::setProgress(double fraction)
{
    m_progress = std::isnan(fraction) ? 0.0 : std::clamp(fraction, 0.0, 1.0);
    m_bar->setValue(int(std::lround(m_progress * progressScale)));
    updateCharacterPosition(true);
}

void ShareProgressArea::updateCharacterPosition(bool animated)
{
    const double restBottomY = m_container->height() - m_characterBaseY;
    const std::optional<QPointF> topLeft = PelkinCharacter::sharePanelTopLeft(
        QRectF(m_bar->geometry()), QSizeF(m_character->frame().size()), restBottomY, m_progress);
    if (!topLeft)
        return;
    const QPoint target = m_container->pos() + topLeft->toPoint();
    m_characterMove->stop();
    if (PelkinCharacter::sharePanelShouldAnimate(animated, m_containerOpacity->opacity())) {
        m_characterMove->setStartValue(m_character->frameTopLeft());
        m_characterMove->setEndValue(target);
        m_characterMove->start();
    } else {
        m_character->setFrameTopLeft(target);
    }
}
