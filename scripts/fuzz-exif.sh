#!/bin/sh
# Fuzzes the EXIF reader for SECONDS (default 60). Builds build/fuzz with clang if needed, runs
# on a copy of fuzz/corpus/exif in /tmp so the repository is never written, and exits non-zero
# when libFuzzer finds a crash, a leak or a timeout (the reproducer is left in the work folder).
set -eu

seconds="${1:-60}"
. "$(dirname "$0")/fuzz-common.sh"
fuzz_prepare fuzz_exif
cp "$root"/fuzz/corpus/exif/* "$work/corpus/" 2>/dev/null || true
echo "fuzzing in $work"

cd "$work"
# -close_fd_mask=1 silences the reader's two standard-output texts, which would slow the run.
# Its progress lines go to a log; the summary, or the report of a finding, is printed.
status=0
"$build/fuzz/fuzz_exif" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 \
    -close_fd_mask=1 -print_final_stats=1 -artifact_prefix="$work/" "$work/corpus" \
    >"$work/fuzz.log" 2>&1 || status=$?
fuzz_finish fuzz_exif "$status" "$seconds"
