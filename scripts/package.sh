#!/usr/bin/env bash
# Sets everything up, builds a release tree in build-package, makes the Debian package there,
# checks it and prints its path. Install it with: sudo apt install ./build-package/<name>.deb
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts/setup.sh
scripts/build.sh build-package -DCMAKE_BUILD_TYPE=Release -DTALVINO_SANITIZE=OFF
(cd build-package && cpack -G DEB >/dev/null)
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build-package/CMakeCache.txt)
deb=build-package/lectureinfotalvino_${version}-1_$(dpkg --print-architecture).deb
packaging/check-package.sh "$deb" "$version" >&2
echo "$root/$deb"
