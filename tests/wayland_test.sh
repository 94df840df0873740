#!/usr/bin/env bash
# Runs a GUI test binary on Qt's Wayland platform, under a headless weston of its own whose
# output has the scale given (1 by default). A compositor that can't start fails the test:
# it never skips.
set -euo pipefail
binary=$1
scale=${2:-1}
runtime=$(mktemp -d)
chmod 700 "$runtime"
export XDG_RUNTIME_DIR=$runtime
# The output is 1024 x 640 in logical pixels at every scale (weston multiplies by the scale),
# room for the smallest window. No panel: one that starts after the window is maximised would
# shrink it once more, at a moment no test can foresee.
printf '[shell]\npanel-position=none\n' >"$runtime/weston.ini"
weston --backend=headless-backend.so --socket=quillmere-test --idle-time=0 \
    --config="$runtime/weston.ini" \
    --width=1024 --height=640 --scale="$scale" \
    >"$runtime/weston.log" 2>&1 &
weston=$!
trap 'kill $weston 2>/dev/null; wait $weston 2>/dev/null; rm -rf "$runtime"' EXIT
for _ in $(seq 200); do
    [[ -S $runtime/quillmere-test ]] && break
    kill -0 $weston 2>/dev/null || break
    sleep 0.05
done
if [[ ! -S $runtime/quillmere-test ]]; then
    cat "$runtime/weston.log" >&2
    echo "weston did not start" >&2
    exit 1
fi
WAYLAND_DISPLAY=quillmere-test QT_QPA_PLATFORM=wayland QUILLMERE_TEST_SCALE=$scale "$binary"
