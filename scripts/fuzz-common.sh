# Sourced by the fuzz scripts. fuzz_prepare TARGET builds TARGET in build/fuzz with clang if
# needed and makes an empty corpus in a fresh work folder in /tmp ($work), so the repository
# is never written. fuzz_finish TARGET STATUS SECONDS reports libFuzzer's exit: on a finding
# the end of its log and the folder with the reproducer, and a non-zero exit; otherwise the
# summary, and the folder is removed.

root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build/fuzz"

fuzz_prepare() {
    if [ ! -f "$build/build.ninja" ]; then
        CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja \
            -DQUILLMERE_FUZZ=ON -DQUILLMERE_BENCH=OFF
    fi
    # CI builds both targets first and then fuzzes them side by side, one core each.
    if [ -z "${QUILLMERE_FUZZ_BUILT:-}" ]; then
        cmake --build "$build" --target "$1"
    fi
    work="$(mktemp -d "/tmp/$1.XXXXXX")"
    mkdir -p "$work/corpus"
}

fuzz_finish() {
    if [ "$2" -ne 0 ]; then
        tail -n 60 "$work/fuzz.log"
        echo "$1 found a fault (exit $2); see $work"
        exit "$2"
    fi
    grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb|Done )' "$work/fuzz.log" || true
    rm -rf "$work"
    echo "$1: nothing found in $3 s"
}
