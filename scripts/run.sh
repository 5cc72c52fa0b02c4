#!/usr/bin/env bash
# Sets up a Debian 12 machine, builds Sonarvex and starts it.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
bash scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)" --target sonarvex sonarvex-cli sonarvex-demo-disc kelpra kelpra-decode
# A software drive with a demo disc, unless drives were declared already.
build/bin/sonarvex-demo-disc build/bin/setting/demo --vdrives build/bin/setting/vdrives.lst
exec build/bin/sonarvex "$@"
