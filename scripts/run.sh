#!/usr/bin/env bash
# Installs what is missing, builds the workbench and starts it on the
# simulated box. Extra arguments go to quillmark (e.g. leave out --simulate
# by running build/quillmark directly for a real box).
set -euo pipefail
cd "$(dirname "$0")/.."
"$(pwd)/scripts/install-deps.sh"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$(nproc 2>/dev/null || echo 2)" --target quillmark
exec build/quillmark --simulate "$@"
