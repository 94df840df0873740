#!/usr/bin/env bash
# Installs what is missing, builds Quillmere with its tests and benchmarks, and runs every test.
# GUI tests run the real window on Qt's offscreen platform: no display is needed.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/install-deps.sh
build=${QUILLMERE_BUILD_DIR:-build/test}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLMERE_WERROR=ON \
    "$@"
cmake --build "$build"
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$build" --parallel "$(nproc)" --output-on-failure --timeout 900
