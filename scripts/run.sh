#!/usr/bin/env bash
# Installs what is missing, builds Quillmere and opens it on the project's sample pictures.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/install-deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUILLMERE_BENCH=OFF
cmake --build build/release --target quillmere
first=$(find samples -maxdepth 1 -type f | LC_ALL=C sort | head -n 1)
exec ./build/release/app/quillmere "$first"
