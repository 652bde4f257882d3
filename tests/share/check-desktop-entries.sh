#!/usr/bin/env bash
# The share panel's desktop entries as the desktop reads them: the "Open With"
# entry validates cleanly; the KDE service menu fails only on the keys Plasma
# defines for service menus (Type=Service, all/allfiles). Both run PROGRAM.
# Usage: check-desktop-entries.sh OPEN_WITH_ENTRY SERVICE_MENU PROGRAM
set -uo pipefail
entry=$1 menu=$2 program=$3
status=0
desktop-file-validate "$entry" || { echo "FAIL: $entry does not validate"; status=1; }
unexpected=$(desktop-file-validate "$menu" 2>&1 | grep -v -e '"all/allfiles"' -e 'but the type is "Service"')
[[ -z "$unexpected" ]] || { echo "FAIL: $menu:"; echo "$unexpected"; status=1; }
for file in "$entry" "$menu"; do
  grep -qx "Exec=$program %F" "$file" || { echo "FAIL: $file does not run $program %F"; status=1; }
done
exit $status
