#!/usr/bin/env bash
# Checks the Debian package without installing it: control data and dependencies, the files it
# installs, the maintainer scripts, the desktop entry, AppStream data and man pages it carries,
# and lintian (no errors). Usage: tests/install/check_package.sh build/ci/vx418_*.deb
set -euo pipefail
deb=$(realpath "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

echo "--- control"
dpkg-deb --field "$deb"
depends=$(dpkg-deb --field "$deb" Depends)
for dep in adduser libcap2-bin libc6 libpcap0.8 libqt6widgets6; do
    grep -qw -- "$dep" <<<"$depends" || fail "Depends lacks $dep: $depends"
done

echo "--- contents"
dpkg-deb --contents "$deb" | awk '{print $1, $2, $6}'
dpkg-deb --contents "$deb" | awk '{print $6}' | sed 's|^\./|/|' >"$work/files"
expected=(
    /usr/bin/vx418 /usr/bin/vx418-sim /usr/bin/vx418ctl
    /usr/share/man/man1/vx418.1.gz /usr/share/man/man1/vx418-sim.1.gz
    /usr/share/man/man1/vx418ctl.1.gz /usr/share/bash-completion/completions/vx418ctl
    /usr/share/applications/org.example.vx418.desktop
    /usr/share/metainfo/org.example.vx418.metainfo.xml
    /usr/share/doc/vx418/copyright /usr/share/doc/vx418/changelog.gz
)
for size in 16 32 48 128 256; do
    expected+=("/usr/share/icons/hicolor/${size}x${size}/apps/vx418.png")
done
for path in "${expected[@]}"; do
    grep -qx -- "$path" "$work/files" || fail "missing $path"
done
dpkg-deb --contents "$deb" | grep -v '^d' | awk '$2 != "root/root" {print}' | grep . &&
    fail "files not owned by root/root in the archive"

echo "--- maintainer scripts"
dpkg-deb --control "$deb" "$work/control"
for script in postinst prerm postrm; do
    [ -x "$work/control/$script" ] || fail "$script missing or not executable"
    sh -n "$work/control/$script" || fail "$script: syntax"
done
grep -q 'addgroup --quiet --system vx418' "$work/control/postinst" || fail "postinst: no group"
grep -q 'root vx418 0750 ' "$work/control/postinst" || fail "postinst: no owner/mode"
grep -q 'setcap cap_net_raw,cap_net_admin=ep' "$work/control/postinst" || fail "postinst: no caps"
grep -q 'dpkg-statoverride --remove' "$work/control/postrm" || fail "postrm: override stays"
grep -q 'delgroup' "$work/control/postrm" || fail "postrm: group stays on purge"
# Both capturing programs get the same owner, mode and capabilities, and lose them again: the
# scripts run against stand-ins that log their calls.
mkdir "$work/stubs"
for cmd in addgroup delgroup getent setcap dpkg-statoverride; do
    printf '#!/bin/sh\necho "%s $*" >>"%s"\n[ "$1" != --list ] || exit "${LISTED:-1}"\n' \
        "$cmd" "$work/calls" >"$work/stubs/$cmd"
    chmod +x "$work/stubs/$cmd"
done
PATH="$work/stubs:$PATH" sh "$work/control/postinst" configure
PATH="$work/stubs:$PATH" LISTED=0 sh "$work/control/postrm" remove
for program in /usr/bin/vx418 /usr/bin/vx418ctl; do
    for call in "dpkg-statoverride --update --add root vx418 0750 $program" \
        "setcap cap_net_raw,cap_net_admin=ep $program" "dpkg-statoverride --remove $program"; do
        grep -qxF -- "$call" "$work/calls" || fail "maintainer scripts: no '$call'"
    done
    grep -qF -- "$program" "$work/control/prerm" || fail "prerm: $program keeps its capabilities"
done

echo "--- installed data"
dpkg-deb --extract "$deb" "$work/root"
desktop-file-validate "$work"/root/usr/share/applications/*.desktop || fail "desktop entry"
appstreamcli validate --no-net "$work"/root/usr/share/metainfo/*.xml || fail "metainfo"
for size in 16 32 48 128 256; do
    file "$work/root/usr/share/icons/hicolor/${size}x${size}/apps/vx418.png" |
        grep -q "$size x $size" || fail "icon $size"
done
for page in "$work"/root/usr/share/man/man1/*.1.gz; do
    out=$(LC_ALL=C.UTF-8 MANWIDTH=80 man -l "$page" 2>&1) || fail "man -l $page"
    grep -q '^SYNOPSIS\|^NAME' <<<"$out" || fail "man page $page renders no NAME"
    grep -qi 'warning' <<<"$out" && fail "man page $page: $out"
done

bash -n "$work/root/usr/share/bash-completion/completions/vx418ctl" || fail "bash completion"

echo "--- lintian"
lintian --fail-on error --display-info "$deb" || fail "lintian reports errors"

if ((failures)); then
    echo "package check: $failures failure(s)" >&2
    exit 1
fi
echo "package check: ok"
