#!/bin/sh
# Builds the Debian package from a build tree of its own (no tests, Debian's
# hardening flags) and checks it with lintian when lintian is installed.
#   scripts/package.sh [BUILD_DIR]      (default: build-package)
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-"$here/build-package"}
cmake -S "$here" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DSONARVEX_TESTS=OFF -DSONARVEX_BENCH=OFF -DSONARVEX_HARDEN=ON
cmake --build "$dir"
(cd "$dir" && cpack -G DEB)
deb=$(ls -t "$dir"/sonarvex_*.deb | head -n 1)
echo "$deb"
if command -v lintian >/dev/null 2>&1; then
  # Errors and warnings fail the script; information lines are shown.
  lintian --fail-on error,warning --display-info "$deb"
else
  echo "lintian is not installed (Debian package lintian): the package is not checked" >&2
fi
