#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the program need, when missing.
# Runs apt-get as root, or through sudo for a user who is not root.
set -euo pipefail

packages=(
    g++ cmake make pkg-config dpkg-dev desktop-file-utils
    libgtest-dev libgmock-dev
    qt6-base-dev qt6-qpa-plugins fonts-dejavu-core fonts-dejavu-extra
)
# Extra packages a caller may ask for, e.g. scripts/setup.sh xvfb.
packages+=("$@")

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
if [ "$(id -u)" -eq 0 ]; then
    sudo=()
elif command -v sudo >/dev/null 2>&1; then
    sudo=(sudo)
else
    echo "setup: these packages are missing and neither root nor sudo is available: ${missing[*]}" >&2
    exit 1
fi
# sudo drops the environment, so the non-interactive front end is passed on the command line.
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    "${missing[@]}"
