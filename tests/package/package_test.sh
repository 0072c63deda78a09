#!/usr/bin/env bash
# Builds the Debian package of a build tree into a temporary folder and checks it.
# Usage: tests/package/package_test.sh BUILD_DIR VERSION SANITIZE(ON|OFF)
set -euo pipefail
build=$1
version=$2
sanitize=$3
root=$(cd "$(dirname "$0")/../.." && pwd)

# Exit code 77 is reported by ctest as a skip.
if [[ $sanitize =~ ^(ON|On|on|TRUE|True|true|1|YES|Yes|yes)$ ]]; then
    echo "skipped: a sanitizer build links the sanitizer run-times and is never shipped;" \
        "the package is checked in the normal build"
    exit 77
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# cpack runs the tree's install rules (after a build of what is out of date) into $work.
cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work"
debs=("$work"/lectureinfotalvino_*.deb)
if [ ${#debs[@]} -ne 1 ] || [ ! -f "${debs[0]}" ]; then
    echo "package_test: cpack made no single lectureinfotalvino .deb in $work" >&2
    exit 1
fi
dpkg-deb -I "${debs[0]}"
dpkg-deb -c "${debs[0]}"
"$root/packaging/check-package.sh" "${debs[0]}" "$version"
