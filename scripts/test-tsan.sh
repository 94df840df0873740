#!/usr/bin/env bash
# The threaded tests (decoding and the picture source, the prefetcher, the window, hardening)
# under the thread sanitizer, which must report nothing. Qt is built without it: the few
# suppressions, each for Qt's own internals, are in tests/tsan.supp with their reasons.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/install-deps.sh
build=${QUILLMERE_BUILD_DIR:-build/tsan}
targets=(render_tests prefetch_tests window_tests hardening_tests)
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLMERE_WERROR=ON \
    -DQUILLMERE_TSAN=ON -DQUILLMERE_BENCH=OFF
cmake --build "$build" --target "${targets[@]}"
export QT_QPA_PLATFORM=offscreen
export TSAN_OPTIONS="suppressions=$PWD/tests/tsan.supp halt_on_error=1 exitcode=66"
ctest --test-dir "$build" --parallel "$(nproc)" --output-on-failure --timeout 1200 \
    -R "^($(IFS='|'; echo "${targets[*]}"))\$"
