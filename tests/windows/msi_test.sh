#!/usr/bin/env bash
# The installer in the Wine prefix of scripts/build-windows --test (WINEPREFIX, server running):
# a silent install puts both programs, the README, the Start menu entries and the PATH entry in
# place, vx418ctl runs from the folder and through the PATH, a silent removal leaves nothing.
#   tests/windows/msi_test.sh vx418-<version>-x64.msi <version>
set -euo pipefail
msi=$1 version=$2
wine=/usr/lib/wine/wine64
folder="$WINEPREFIX/drive_c/Program Files/VX418"
fail() { echo "msi_test: $*" >&2 && exit 1; }
menu_entry() { find "$WINEPREFIX/drive_c" -path "*/Start Menu/Programs/VX418/$1.lnk" | grep -q .; }
system_path() { "$wine" reg query 'HKLM\System\CurrentControlSet\Control\Session Manager\Environment' /v PATH; }

"$wine" msiexec /i "$msi" /qn || fail "the silent install failed"
for file in vx418.exe vx418ctl.exe README.txt; do [ -f "$folder/$file" ] || fail "no $file"; done
menu_entry "VX418 Management Utility" || fail "no Start menu entry"
menu_entry "VX418 README (Npcap)" || fail "no Start menu entry for the README"
system_path | grep -qF 'C:\Program Files\VX418\' || fail "the folder is not on the PATH"
"$wine" 'C:\Program Files\VX418\vx418ctl.exe' --version | grep -qF "vx418ctl $version" ||
    fail "vx418ctl.exe --version from the install folder"
"$wine" cmd /c 'vx418ctl --version' | grep -qF "vx418ctl $version" || fail "vx418ctl on the PATH"

"$wine" msiexec /x "$msi" /qn || fail "the silent removal failed"
[ ! -e "$folder" ] || fail "$folder is left"
! menu_entry "VX418 Management Utility" || fail "the Start menu entry is left"
! system_path | grep -qF 'VX418' || fail "the PATH entry is left"
echo "msi_test: installed, ran and removed $(basename "$msi")"
