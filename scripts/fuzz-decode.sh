#!/bin/sh
# Fuzzes the decode path (decoder, turn, render into a small surface) for SECONDS (default 60).
# Builds build/fuzz with clang if needed and seeds a corpus in /tmp from the project's small
# pictures, so the repository is never written. Exits non-zero when libFuzzer finds a crash, a
# leak, a timeout or an allocation beyond its limit (the reproducer is left in the work folder).
set -eu

seconds="${1:-60}"
. "$(dirname "$0")/fuzz-common.sh"
fuzz_prepare fuzz_decode
# Small seeds only: large ones slow every execution and add no structure the small ones lack.
find "$root/samples" "$root/tests/data" "$root/fuzz/corpus" -type f -size -24k \
    -exec cp {} "$work/corpus/" \; 2>/dev/null || true
# fuzz/corpus/hostile holds tiny files whose headers claim buffers of gigabytes.
# A small baseline and a small progressive JPEG, which the samples are too large to be.
if command -v djpeg >/dev/null 2>&1 && command -v cjpeg >/dev/null 2>&1; then
    djpeg -scale 1/8 "$root/samples/2-lighthouse.jpg" >"$work/small.ppm" &&
        cjpeg -quality 40 "$work/small.ppm" >"$work/corpus/small.jpg" &&
        cjpeg -quality 40 -progressive -sample 1x1 "$work/small.ppm" \
            >"$work/corpus/small-progressive.jpg" || true
    rm -f "$work/small.ppm"
fi
echo "fuzzing in $work"

cd "$work"
# Qt's readers log every broken file; -close_fd_mask=2 would hide findings, so the log keeps
# them. The target decodes within a budget of 384 MiB, its decoders' own buffers included: an
# allocation of 768 MiB, or a process past 2 GiB with the sanitizers' own memory, means a
# decoder spent more than its header's estimate. A kilobyte of JPEG 2000 may legally describe
# 500 megapixels of empty tiles, which takes a second to decode here but a minute under the
# fuzzer's instrumentation, hence the timeout. The dictionary holds each format's markers.
status=0
QT_LOGGING_RULES="*.debug=false;qt.*=false" \
"$build/fuzz/fuzz_decode" -max_total_time="$seconds" -rss_limit_mb=2048 \
    -malloc_limit_mb=768 -timeout=120 -max_len=65536 -print_final_stats=1 \
    -dict="$root/fuzz/decode.dict" -artifact_prefix="$work/" "$work/corpus" \
    >"$work/fuzz.log" 2>&1 || status=$?
fuzz_finish fuzz_decode "$status" "$seconds"
