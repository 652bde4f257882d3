#pragma once

#include <QLatin1String>
#include <QStringList>

// The drag types that make a drag worth showing the drop zone for. Drag
// monitor sources report X11 target names, so these are the X11 names.
namespace DragTypes {

// A list of URIs; the X11 drag source reports it only when it holds at least
// one file:// URI, so a web link alone never matches.
inline constexpr QLatin1String fileUrl{"text/uri-list"};
// Files the source will write where the target asks (the X Direct Save protocol).
inline constexpr QLatin1String promisedFile{"XdndDirectSave0"};
// The older file-list type of desktop file managers.
inline constexpr QLatin1String legacyFileNames{"x-special/gnome-icon-list"};

// True when any one of the three types above is in the list (exact match).
inline bool containsFileType(const QStringList &types)
{
    return types.contains(fileUrl) || types.contains(promisedFile) ||
           types.contains(legacyFileNames);
}

} // namespace DragTypes
