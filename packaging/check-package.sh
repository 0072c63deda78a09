#!/usr/bin/env bash
# Checks a built lectureinfotalvino .deb: control data, file list, desktop entry and udev rule.
# Usage: packaging/check-package.sh PACKAGE.deb [VERSION]
# Prints every fault found and exits 1 if there is one.
set -euo pipefail
deb=$1
version=${2:-}

faults=0
fault() {
    echo "check-package: $*" >&2
    faults=$((faults + 1))
}

field() { dpkg-deb -f "$deb" "$1"; }

[ "$(field Package)" = lectureinfotalvino ] || fault "package name is '$(field Package)'"
[ "$(field Section)" = electronics ] || fault "section is '$(field Section)'"
if [ -n "$version" ] && [[ $(field Version) != "$version"-* ]]; then
    fault "version '$(field Version)' is not the project's $version"
fi
depends=$(field Depends)
# The window program links Qt Widgets; a Depends without it means the program was left out
# or dependencies were not computed.
[[ $depends == *libqt6widgets6* ]] || fault "Depends names no Qt Widgets library: '$depends'"
[[ $depends == *qt6-qpa-plugins* ]] || fault "Depends lacks the Qt platform plugins: '$depends'"

# Paths as dpkg-deb -c prints them, with the mode of each entry.
listing=$(dpkg-deb -c "$deb" | awk '{print $1, $6}')
has() { grep -qxF -e "$1" <<<"$listing"; }

for program in LectureInfoTalvino talvino-read talvino-sim; do
    has "-rwxr-xr-x ./usr/bin/$program" || fault "no executable /usr/bin/$program"
done
desktop=usr/share/applications/lectureinfotalvino.desktop
icon=usr/share/icons/hicolor/scalable/apps/lectureinfotalvino.svg
rule=usr/lib/udev/rules.d/70-talvino-adapter.rules
for file in "$desktop" "$icon" "$rule" usr/share/doc/lectureinfotalvino/copyright; do
    has "-rw-r--r-- ./$file" || fault "no file /$file"
done

# 71-seat.rules and 73-seat-late.rules act on the uaccess tag: our rules must sort before both.
while read -r name; do
    [[ $(printf '%s\n' "$name" 71-seat.rules | LC_ALL=C sort | head -1) == "$name" ]] ||
        fault "udev rule $name does not sort before 71-seat.rules: its uaccess tag is ignored"
done < <(sed -n 's|^.* \./usr/lib/udev/rules\.d/\(.*\.rules\)$|\1|p' <<<"$listing")

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
dpkg-deb -x "$deb" "$work"

if [ -f "$work/$rule" ]; then
    grep -qxF 'SUBSYSTEM=="tty", DRIVERS=="cp210x", TAG+="uaccess"' "$work/$rule" ||
        fault "the udev rule does not tag the cp210x serial ports for uaccess"
fi

if [ -f "$work/$desktop" ]; then
    entry() { sed -n "s/^$1=//p" "$work/$desktop"; }
    exec=$(entry Exec)
    [ -x "$work/usr/bin/${exec%% *}" ] || fault "desktop entry runs '$exec', not a packaged program"
    [ -f "$work/usr/share/icons/hicolor/scalable/apps/$(entry Icon).svg" ] ||
        fault "desktop entry icon '$(entry Icon)' is not packaged"
    [ -n "$(entry 'Comment\[fr\]')" ] || fault "desktop entry has no French comment"
    if command -v desktop-file-validate >/dev/null 2>&1; then
        desktop-file-validate "$work/$desktop" >&2 || fault "desktop-file-validate rejects it"
    else
        echo "check-package: desktop-file-validate not installed, entry not validated" >&2
    fi
fi

if [ "$faults" -ne 0 ]; then
    echo "check-package: $faults fault(s) in $deb" >&2
    exit 1
fi
echo "check-package: $deb is complete"
