#pragma once

#include <QColor>
#include <QIcon>
#include <QImage>
#include <QSize>
#include <QString>
#include <QStringList>

// Maps the symbol names the views use to freedesktop icon names. Symbols are
// drawn as one-colour glyphs, so only "-symbolic" theme icons qualify (a
// full-colour icon would turn into a blob when tinted); every symbol also has a
// bundled SVG under :/pelkin/views/icons/, used when the theme has none.
namespace SymbolTable {

struct Entry
{
    const char *symbol;
    const char *freedesktopName;
};

// Every symbol the views show, in no particular order.
QStringList symbols();

// The freedesktop icon name for a symbol, or an empty string for an unknown one.
QString freedesktopName(const QString &symbol);

// Resource path of the bundled icon. Unknown symbols get the plain document icon.
QString fallbackPath(const QString &symbol);

// The "-symbolic" SVG of the desktop theme (or its fallback, or Adwaita) for the
// symbol, or an empty string when there is none.
QString themeIconFile(const QString &symbol);

// Theme icon when the desktop theme has the symbolic variant, else the bundled one.
QIcon icon(const QString &symbol, bool *fromTheme = nullptr);

// The glyph at `size` pixels, every pixel recoloured to `color` (alpha kept).
// Never null for a positive size.
QImage tintedImage(const QString &symbol, const QSize &size, const QColor &color);

} // namespace SymbolTable
