#pragma once

#include <QObject>
#include <QPointer>
#include <QRect>

class CharacterView;
class QGraphicsOpacityEffect;
class QParallelAnimationGroup;
class QProgressBar;
class QPropertyAnimation;
class QWidget;

// The share panel's progress display: a container holding the bar, and the
// character riding it. The character is the container's sibling above it,
// not its child, so the bounce can rise past the container's top edge
// without being cut off. Both fade in for an upload and out after it.
class ShareProgressArea : public QObject
{
    Q_OBJECT

public:
    static constexpr int showMs = 250;
    static constexpr int hideMs = 180;

    // Makes the widgets as children of `panel`, hidden.
    explicit ShareProgressArea(QWidget *panel);

    // Puts the container at `frame` (panel coordinates) and lays out its inside.
    void place(const QRect &frame);
    void setAccentColour(const QString &colour);

    // Fades in from an empty bar; fades out and hides, back at zero.
    void appear();
    void disappear();
    bool isShown() const;

    // Fraction 0..1 (clamped; NaN counts as 0); moves the character.
    void setProgress(double fraction);
    double progress() const { return m_progress; }
    // Where the character's bottom edge rests, in points above the
    // container's bottom edge.
    double characterBaseY() const { return m_characterBaseY; }

private:
    void fade(qreal to, int durationMs, bool hideWhenDone);
    void updateCharacterPosition(bool animated);

    QWidget *m_container = nullptr;
    QGraphicsOpacityEffect *m_containerOpacity = nullptr;
    QProgressBar *m_bar = nullptr;
    CharacterView *m_character = nullptr;
    QPointer<QParallelAnimationGroup> m_fade;
    QPropertyAnimation *m_characterMove = nullptr;
    double m_progress = 0;
    double m_characterBaseY = 0;
};
