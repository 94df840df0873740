#!/usr/bin/env bash
# Runs the real viewer on Qt's X11 platform under Xvfb and openbox, on a desktop of two
# monitors side by side whose left one is primary, as a RandR setup of one X screen gives:
#  - full screen covers the primary monitor from a window on the other one, and leaving it
#    puts the window back where it was;
#  - a close request from the window manager ends the process at once while a decode that
#    takes seconds is under way.
set -euo pipefail
viewer=$1
if ! command -v Xvfb >/dev/null; then
    echo "Xvfb is not installed"
    exit 77
fi

work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*"
    exit 1
}

# The viewer keeps its settings beside its executable unless the machine-wide folder exists,
# so a copy of it in a folder of the test's own keeps the machine's settings untouched; where
# that folder exists, an empty one is mounted over it for the viewer alone.
mkdir -p "$work/bin" "$work/machine" "$work/pictures" "$work/runtime"
chmod 700 "$work/runtime"
cp "$viewer" "$work/bin/quillmere"
settings=$work/bin/quillmere.settings
run_viewer=("$work/bin/quillmere")
if [[ -d /var/lib/quillmere ]]; then
    as_root=()
    [[ $(id -u) -eq 0 ]] || as_root=(--map-root-user)
    # shellcheck disable=SC2016 # the inner shell expands its own arguments
    run_viewer=(unshare "${as_root[@]}" --mount sh -c
        'mount --bind "$0" /var/lib/quillmere && exec "$@"' "$work/machine" "${run_viewer[@]}")
    "${run_viewer[@]:0:${#run_viewer[@]}-1}" true 2>/dev/null ||
        fail "cannot hide /var/lib/quillmere from the viewer, which would write its settings there"
fi

Xvfb -displayfd 3 -screen 0 3840x1080x24 -nolisten tcp -noreset 3>"$work/display" \
    >"$work/xvfb.log" 2>&1 &
pids+=($!)
for _ in $(seq 200); do
    [[ -s $work/display ]] && break
    sleep 0.05
done
[[ -s $work/display ]] || { cat "$work/xvfb.log"; fail "Xvfb did not start"; }
DISPLAY=:$(head -1 "$work/display")
export DISPLAY
export QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR=$work/runtime
export HOME=$work XDG_CONFIG_HOME=$work/config XDG_CACHE_HOME=$work/cache

# The output's own monitor becomes the primary left half; the right half has no output. The
# server keeps them because -noreset stops it from starting afresh when xrandr disconnects.
xrandr --setmonitor '*LEFT' 1920/508x1080/286+0+0 screen >/dev/null
xrandr --setmonitor RIGHT 1920/508x1080/286+1920+0 none >/dev/null
[[ $(xrandr --listmonitors | head -1) == "Monitors: 2" ]] || fail "$(xrandr --listmonitors)"

openbox --sm-disable >"$work/openbox.log" 2>&1 &
pids+=($!)
for _ in $(seq 200); do
    wmctrl -m >/dev/null 2>&1 && break
    sleep 0.05
done
wmctrl -m >/dev/null 2>&1 || { cat "$work/openbox.log"; fail "openbox did not start"; }

# A settings record: the frame's left, top, right, bottom, maximised, background, each a
# little-endian 32-bit integer.
write_settings() {
    local bytes='' v
    for v in "$@"; do
        bytes+=$(printf '\\x%02x\\x%02x\\x%02x\\x%02x' $((v & 255)) $((v >> 8 & 255)) \
            $((v >> 16 & 255)) $((v >> 24 & 255)))
    done
    printf '%b' "$bytes" >"$settings"
}

# Starts the viewer on a picture and waits for its window; sets viewer_pid and window.
start_viewer() {
    "${run_viewer[@]}" "$1" >>"$work/viewer.log" 2>&1 &
    viewer_pid=$!
    pids+=("$viewer_pid")
    local title
    title="Quillmere - $(basename "$1")"
    window=
    for _ in $(seq 400); do
        window=$(xdotool search --name "^${title//./\\.}\$" 2>/dev/null | head -1) || true
        [[ -n $window ]] && xwininfo -id "$window" | grep -q 'IsViewable' && return 0
        sleep 0.05
    done
    cat "$work/viewer.log"
    wmctrl -l
    fail "no window titled $title (viewer $(kill -0 "$viewer_pid" 2>/dev/null && echo running || echo ended))"
}

# The window's client area as WIDTHxHEIGHT+X+Y.
geometry() {
    xwininfo -id "$window" | awk '/Absolute upper-left X/ {x = $4} /Absolute upper-left Y/ {y = $4}
        /Width:/ {w = $2} /Height:/ {h = $2} END {print w "x" h "+" x "+" y}'
}

# Waits until the window's client area is $1, failing with $2 after five seconds.
expect_geometry() {
    for _ in $(seq 100); do
        [[ $(geometry) == "$1" ]] && return 0
        sleep 0.05
    done
    fail "$2: the window is at $(geometry), not $1"
}

# Waits up to $2 seconds for the viewer to end; a process that has ended but is not yet
# reaped counts as ended.
viewer_gone() {
    local deadline=$((SECONDS + $2))
    while ((SECONDS <= deadline)); do
        local state
        state=$(awk '{print $3}' "/proc/$1/stat" 2>/dev/null) || return 0
        [[ $state == Z ]] && return 0
        sleep 0.005
    done
    return 1
}

close_viewer() {
    wmctrl -i -c "$window" >/dev/null
    viewer_gone "$viewer_pid" 10 || fail "the viewer did not end after a close request"
    wait "$viewer_pid" || fail "the viewer ended with status $?"
}

printf 'P6\n64 48\n255\n' >"$work/small.ppm"
head -c $((64 * 48 * 3)) /dev/urandom >>"$work/small.ppm"
opj_compress -i "$work/small.ppm" -o "$work/pictures/small.jp2" >/dev/null

primary=1920x1080+0+0
write_settings 2300 200 3100 800 0 250
start_viewer "$work/pictures/small.jp2"
before=$(geometry)
left=${before#*+}
((${left%+*} >= 1920)) || fail "the window did not start on the right monitor: $before"
timeout 10 xdotool windowactivate --sync "$window" >/dev/null
xdotool key f
expect_geometry "$primary" "full screen from the right monitor"
xdotool key f
expect_geometry "$before" "leaving full screen"
echo "full screen from $before covered $primary and came back"
close_viewer

# A maximised window on the right monitor: the window manager keeps it there until it is
# restored, so it is restored and moved before it asks for full screen.
write_settings 2300 200 3100 800 1 250
start_viewer "$work/pictures/small.jp2"
for _ in $(seq 100); do
    before=$(geometry)
    left=${before#*+}
    [[ $before == 1920x* ]] && ((${left%+*} >= 1920)) && break
    sleep 0.05
done
if [[ $before != 1920x* ]] || ((${left%+*} < 1920)); then
    fail "not maximised on the right monitor: $before"
fi
timeout 10 xdotool windowactivate --sync "$window" >/dev/null
xdotool key f
expect_geometry "$primary" "full screen from the maximised window on the right monitor"
xdotool key f
expect_geometry "$before" "leaving full screen back to maximised"
echo "full screen from the maximised $before covered $primary and came back"
close_viewer

# A picture whose decode takes seconds: 24 megapixels of noise, stored losslessly with a
# single resolution level, so no reduced level spares the decoder any of it.
printf 'P6\n6000 4000\n255\n' >"$work/slow.ppm"
head -c $((6000 * 4000 * 3)) /dev/urandom >>"$work/slow.ppm"
opj_compress -i "$work/slow.ppm" -o "$work/pictures/slow.jp2" -n 1 >/dev/null
rm -f "$work/slow.ppm" "$settings"

started=$EPOCHREALTIME
start_viewer "$work/pictures/slow.jp2"
# The decode must still be running when the close is sent: the process is using the CPU.
cpu_ticks() { awk '{print $14 + $15}' "/proc/$viewer_pid/stat"; }
ticks=$(cpu_ticks)
sleep 0.3
(($(cpu_ticks) > ticks)) || fail "the viewer was idle before the close: the decode was over"
sent=$EPOCHREALTIME
wmctrl -i -c "$window" >/dev/null
viewer_gone "$viewer_pid" 10 || fail "the viewer did not end within 10 s of a close request"
gone=$EPOCHREALTIME
wait "$viewer_pid" || fail "the viewer ended with status $?"
ms() { echo $(((${1//[.,]/} - ${2//[.,]/}) / 1000)); }
echo "close sent $(ms "$sent" "$started") ms after start, process gone $(ms "$gone" "$sent") ms later"
(($(ms "$gone" "$sent") < 1000)) || fail "the process outlived the close request by over a second"
[[ $(stat -c %s "$settings") == 24 ]] || fail "the settings were not saved before the process ended"
echo "1 passed, 0 failed"
