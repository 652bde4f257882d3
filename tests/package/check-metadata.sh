#!/usr/bin/env bash
# One version everywhere, and the metadata the desktop and systemd read is valid.
# Usage: check-metadata.sh VERSION UNIT METAINFO PELKIN-DROP PELKIN-DROP-SHARE PELKIN-UPLOAD-SERVER
set -uo pipefail
version=$1 unit=$2 metainfo=$3 failures=0 && shift 3
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
changelog=$(dpkg-parsechangelog -l "$PELKIN_SOURCE_DIR/debian/changelog" -S Version)
[[ $changelog == "$version" ]] || fail "debian/changelog has $changelog, CMake $version"
release=$(grep -o '<release version="[^"]*"' "$metainfo" | head -n1 | cut -d'"' -f2)
[[ $release == "$version" ]] || fail "metainfo's newest release is $release, CMake $version"
for program in "$@"; do
  out=$("$program" --version 2>&1); [[ $out == *" $version" ]] || fail "$(basename "$program") --version says '$out'"
done
appstreamcli validate --pedantic --no-net "$metainfo" || fail "appstreamcli validate --pedantic"
desktop-file-validate "$PELKIN_SOURCE_DIR/resources/app/org.pelkin.PelkinDrop.desktop" || fail "desktop-file-validate"
# No systemd runs here: check the unit file itself (not its man page link).
systemd-analyze verify --man=no "$unit" || fail "systemd-analyze verify"
for directive in DynamicUser=yes StateDirectory= ProtectSystem=strict ProtectHome=yes PrivateTmp=yes \
                 NoNewPrivileges=yes RestrictAddressFamilies= MemoryMax= TasksMax= EnvironmentFile=; do
  grep -q "^$directive" "$unit" || fail "the unit lacks $directive"
done
exit $((failures > 0))
