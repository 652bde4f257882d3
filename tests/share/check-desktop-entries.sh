#!/usr/bin/env bash
# Validates the share panel's desktop entries: the "Open With" entry must pass
# desktop-file-validate cleanly; the KDE service menu may fail only on the
# keys that Plasma defines for service menus (Type=Service, all/allfiles).
# Usage: check-desktop-entries.sh OPEN_WITH_ENTRY SERVICE_MENU PROGRAM
set -uo pipefail
entry=$1 menu=$2 program=$3
status=0

if ! desktop-file-validate "$entry"; then
  echo "FAIL: $entry does not validate"; status=1
fi
grep -qx 'Name=Pelkin Drop で共有' "$entry" || { echo "FAIL: entry name"; status=1; }
grep -qx "Exec=$program %F" "$entry" || { echo "FAIL: entry Exec is not $program %F"; status=1; }
grep -qx 'MimeType=application/octet-stream;' "$entry" || { echo "FAIL: entry MIME types"; status=1; }

unexpected=$(desktop-file-validate "$menu" 2>&1 | grep -v \
  -e '"all/allfiles"' \
  -e 'but the type is "Service"' || true)
if [[ -n "$unexpected" ]]; then
  echo "FAIL: $menu:"; echo "$unexpected"; status=1
fi
grep -qx 'Name=Pelkin Drop で共有' "$menu" || { echo "FAIL: service menu action name"; status=1; }
grep -qx "Exec=$program %F" "$menu" || { echo "FAIL: service menu Exec"; status=1; }
grep -qx 'X-KDE-ServiceTypes=KonqPopupMenu/Plugin' "$menu" || { echo "FAIL: service type"; status=1; }

[[ $status -eq 0 ]] && echo "desktop entries OK"
exit $status
