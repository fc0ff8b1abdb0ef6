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
    /usr/bin/vx418 /usr/bin/vx418-sim /usr/bin/vx418ctl /usr/bin/vx418-capture
    /usr/share/man/man1/vx418.1.gz /usr/share/man/man1/vx418-sim.1.gz
    /usr/share/man/man1/vx418ctl.1.gz /usr/share/man/man1/vx418-capture.1.gz
    /usr/share/bash-completion/completions/vx418ctl
    /usr/share/applications/org.example.vx418.desktop
    /usr/share/metainfo/org.example.vx418.metainfo.xml
    /usr/share/doc/vx418/copyright /usr/share/doc/vx418/changelog.gz
    /usr/share/doc/vx418/capture-helper.md
)
collection=/usr/share/ansible/collections/ansible_collections/vx418/av
for file in galaxy.yml meta/runtime.yml plugins/modules/info.py plugins/modules/installation.py \
    plugins/module_utils/vx418ctl.py plugins/doc_fragments/vx418ctl.py; do
    expected+=("$collection/$file")
done
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
grep -q 'setcap cap_net_raw=ep' "$work/control/postinst" || fail "postinst: no capability"
grep -q 'dpkg-statoverride --remove' "$work/control/postrm" || fail "postrm: override stays"
grep -q 'delgroup' "$work/control/postrm" || fail "postrm: group stays on purge"
# Only the helper gets the group, the mode and a capability, and loses them again; an upgrade
# takes those of earlier packages off the window and vx418ctl. The scripts run against
# stand-ins that log their calls; LISTED=1 makes dpkg-statoverride list the earlier overrides.
mkdir "$work/stubs"
for cmd in addgroup delgroup getent setcap dpkg-statoverride chown chmod; do
    printf '#!/bin/sh\necho "%s $*" >>"%s"\n[ "$1" != --list ] && exit 0\n' "$cmd" "$work/calls" \
        >"$work/stubs/$cmd"
    printf '[ -n "$LISTED" ] || exit 1\necho "root vx418 750 $2"\n' >>"$work/stubs/$cmd"
    chmod +x "$work/stubs/$cmd"
done
run_script() {  # script, argument, calls expected (| separated), pattern no call may match
    : >"$work/calls"
    PATH="$work/stubs:$PATH" sh "$work/control/$1" "$2"
    local call
    while IFS= read -r call; do
        grep -qxF -- "$call" "$work/calls" || fail "$1 $2: no '$call'"
    done <<<"${3//|/$'\n'}"
    ! grep -E -- "$4" "$work/calls" || fail "$1 $2: calls above"
}
helper=/usr/bin/vx418-capture
old='/usr/bin/vx418(ctl)?$'
run_script postinst configure \
    "dpkg-statoverride --update --add root vx418 0750 $helper|setcap cap_net_raw=ep $helper" \
    "--add .*$old|cap_net_admin|--remove"
LISTED=1 run_script postinst configure \
    "dpkg-statoverride --remove /usr/bin/vx418|dpkg-statoverride --remove /usr/bin/vx418ctl" \
    "--add"
run_script prerm remove "setcap -r $helper" "$old"
LISTED=1 run_script postrm remove "dpkg-statoverride --remove $helper" "--remove $old"

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
grep -q "^$collection/tests" "$work/files" && fail "the collection's tests are in the package"
if command -v ansible-doc >/dev/null; then  # as on a station with the package
    ANSIBLE_COLLECTIONS_PATH="$work/root/usr/share/ansible/collections" ANSIBLE_HOME="$work/ansible" \
        ansible-doc vx418.av.installation vx418.av.info >/dev/null || fail "ansible-doc"
fi

echo "--- lintian"
lintian --fail-on error,warning --display-info "$deb" || fail "lintian reports errors or warnings"

if ((failures)); then
    echo "package check: $failures failure(s)" >&2
    exit 1
fi
echo "package check: ok"
