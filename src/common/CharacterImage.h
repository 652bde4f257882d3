#pragma once

#include <QImage>
#include <QString>

// The character that rides the progress bar in the drop zone and in the share
// panel. Both deliverables use these functions; where their pictures differ,
// the caller says which deliverable it is.
namespace PelkinCharacter {

enum class Deliverable {
    dropZone,   // main application: dark smile, no highlight
    sharePanel, // share panel: soft white smile and a glossy highlight
};

// Compiled-in artwork (see resources/character.cmake).
inline const QString characterResource = QStringLiteral(":/pelkin/DropCharacter.png");
// Monochrome silhouette for the tray icon, and its highlighted state.
inline const QString trayResource = QStringLiteral(":/pelkin/DropCharacterTray.png");
inline const QString trayHighlightedResource =
    QStringLiteral(":/pelkin/DropCharacterTrayHighlighted.png");

// Registers the compiled-in artwork with Qt's resource system. Safe to call
// any number of times; loadCharacterImage() calls it. Call it before using the
// tray resources directly (the artwork lives in a static library).
void ensureResources();

// Always returns a usable image: the artwork at `resourcePath`, else the drawn
// face of `deliverable`; either one mirrored horizontally (the artwork faces
// right, the character runs left to right looking back at the bar's start).
QImage loadCharacterImage(Deliverable deliverable, const QString &resourcePath = characterResource);

// A freshly drawn 64 x 64 (logical) face, rendered at `devicePixelRatio`.
QImage makeFallbackCharacterImage(Deliverable deliverable, qreal devicePixelRatio = 4.0);

// Left-right mirror with the same pixel size and device pixel ratio; a null
// image comes back as a (null) copy.
QImage flippedHorizontally(const QImage &image);

} // namespace PelkinCharacter
