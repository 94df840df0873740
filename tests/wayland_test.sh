#!/usr/bin/env bash
# Runs a GUI test binary on Qt's Wayland platform, under a headless weston of its own.
set -euo pipefail
binary=$1
runtime=$(mktemp -d)
chmod 700 "$runtime"
export XDG_RUNTIME_DIR=$runtime
weston --backend=headless-backend.so --socket=quillmere-test --idle-time=0 \
    >"$runtime/weston.log" 2>&1 &
weston=$!
trap 'kill $weston 2>/dev/null; wait $weston 2>/dev/null; rm -rf "$runtime"' EXIT
for _ in $(seq 200); do
    [[ -S $runtime/quillmere-test ]] && break
    sleep 0.05
done
if [[ ! -S $runtime/quillmere-test ]]; then
    cat "$runtime/weston.log" >&2
    echo "weston did not start" >&2
    exit 1
fi
WAYLAND_DISPLAY=quillmere-test QT_QPA_PLATFORM=wayland "$binary"
