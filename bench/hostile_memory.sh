#!/usr/bin/env bash
# The viewer's peak memory (VmHWM) while it shows an ordinary picture beside each kind of
# hostile file, and whether it still answers a close request; in a real X session (Xvfb
# 1920 x 1080 with openbox), one fresh viewer a row.
#
#   bench/hostile_memory.sh BINARY [BINARY...]      (ROWS="pipe j2k-tiles" for some rows)
#
# Each binary's settings file is the one it uses itself (beside the executable when
# /var/lib/quillmere doesn't exist), so run it on a machine without that folder. Rows that
# today cost gigabytes run under an 8 GiB address-space limit, so an old build fails there
# instead of taking the machine's memory.
set -euo pipefail
[[ $# -ge 1 ]] || { sed -n 2,12p "$0"; exit 2; }
[[ ! -e /var/lib/quillmere ]] || { echo "/var/lib/quillmere exists: the rows would share it"; exit 2; }

work=$(mktemp -d /tmp/hostile-memory.XXXXXX)
trap 'kill $wm $xvfb 2>/dev/null || true; rm -rf "$work"' EXIT
export DISPLAY=:93
Xvfb "$DISPLAY" -screen 0 1920x1080x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
sleep 1
openbox >/dev/null 2>&1 &
wm=$!
sleep 1

seeds="$(dirname "$0")/../fuzz/corpus/hostile"  # the decode fuzzer's tiny hostile seeds
wide_png() {  # 46000 x 11600 black pixels in about 2 MB
    python3 - "$1" <<'PY'
import struct, sys, zlib
w, h = 46000, 11600
def chunk(t, d):
    return struct.pack('>I', len(d)) + t + d + struct.pack('>I', zlib.crc32(t + d) & 0xffffffff)
z = zlib.compressobj(9)
row = b'\0' * (w * 3 + 1)
idat = b''.join(z.compress(row) for _ in range(h)) + z.flush()
with open(sys.argv[1], 'wb') as f:
    f.write(b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', w, h, 8, 2, 0, 0, 0))
            + chunk(b'IDAT', idat) + chunk(b'IEND', b''))
PY
}
cp "$(dirname "$0")/../samples/1-harbour.jpg" "$work/a.jpg"
mkdir "$work/png-source"
wide_png "$work/png-source/wide.png"

# row name, then what the row's folder holds beside a.jpg
setup_row() {
    local folder=$1 row=$2
    mkdir -p "$folder"
    cp "$work/a.jpg" "$folder/a.jpg"
    case $row in
        ordinary) cp "$work/a.jpg" "$folder/b.jpg" ;;
        settings-65536) ;;
        progressive-jpeg-x3) for n in b c d; do cp "$seeds/progressive-28000x15750.jpg" "$folder/$n.jpg"; done ;;
        j2k-tiles) cp "$seeds/tiles-65025x40-components.j2k" "$folder/b.j2k"
                    cp "$seeds/tiles-65025x40-components.j2k" "$folder/z.j2k" ;;
        wide-png-x2) cp "$work/png-source/wide.png" "$folder/b.png"
                     cp "$work/png-source/wide.png" "$folder/z.png" ;;
        named-films) printf '\x1a\x45\xdf\xa3' >"$folder/b.jpg.mkv"; truncate -s 2047M "$folder/b.jpg.mkv"
                     printf 'PK\x03\x04' >"$folder/z.tif.zip"; truncate -s 2047M "$folder/z.tif.zip" ;;
        pipe) mkfifo "$folder/b.jpg" ;;
    esac
}

settings_for() {  # BINARY ROW: the settings file the row starts from
    local file; file="$(dirname "$1")/quillmere.settings"
    rm -f "$file"
    if [[ $2 == settings-65536 ]]; then
        python3 -c "import struct,sys; sys.stdout.buffer.write(struct.pack('<6i',0,0,65536,65536,0,250))" >"$file"
    fi
}

vmhwm_mib() { awk '/VmHWM/ {printf "%d", $2 / 1024}' "/proc/$1/status" 2>/dev/null || echo "?"; }

printf '%-22s %-48s %10s %s\n' row binary "VmHWM MiB" "close answered"
for row in ${ROWS:-ordinary settings-65536 progressive-jpeg-x3 j2k-tiles wide-png-x2 named-films pipe}; do
    for binary in "$@"; do
        folder="$work/rows/$row-$RANDOM"
        setup_row "$folder" "$row"
        settings_for "$binary" "$row"
        prlimit --as=$((8 << 30)) "$binary" "$folder/a.jpg" >/dev/null 2>&1 &
        pid=$!
        sleep 4
        if [[ $row == pipe ]]; then  # onto the pipe, then open-with and properties
            for key in Right o p Escape; do xdotool key $key 2>/dev/null || true; sleep 0.5; done
        fi
        sleep 2
        peak=$(vmhwm_mib $pid)
        wmctrl -c Quillmere 2>/dev/null || true
        answered=no
        for _ in $(seq 50); do
            kill -0 $pid 2>/dev/null || { answered=yes; break; }
            sleep 0.1
        done
        [[ $answered == yes ]] || kill -9 $pid 2>/dev/null || true
        wait $pid 2>/dev/null || true
        # Windows the open-with chooser or the properties sheet left behind.
        wmctrl -l 2>/dev/null | awk '{print $1}' | xargs -r -n1 wmctrl -i -c 2>/dev/null || true
        printf '%-22s %-48s %10s %s\n' "$row" "$binary" "$peak" "$answered"
        rm -rf "$folder"
    done
done
rm -f "$(dirname "$1")/quillmere.settings"
