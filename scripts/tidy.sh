#!/usr/bin/env bash
# clang-tidy with the checks of .clang-tidy over every C++ source of the tree but the fuzz
# targets (built by clang alone), from the compile commands of the build folder given
# (default build/test, which scripts/test.sh makes). Fails on any finding.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/test}
mapfile -t sources < <(git ls-files '*.cpp' | grep -v '^fuzz/')
run-clang-tidy -p "$build" -quiet -j "$(nproc)" "${sources[@]}" >"$build/tidy.log" 2>&1 || {
    grep -E 'error:|warning:' "$build/tidy.log" | sed 's/\x1b\[[0-9;]*m//g' | sort -u
    echo "clang-tidy found the faults above"
    exit 1
}
echo "clang-tidy: nothing found in ${#sources[@]} files"
