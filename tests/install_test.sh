#!/usr/bin/env bash
# Stages an install into a temporary DESTDIR and checks what a desktop needs from it.
set -euo pipefail
build=$1
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT

DESTDIR="$stage" cmake --install "$build" --prefix /usr >/dev/null
root="$stage/usr"

fail() { echo "FAIL: $*"; exit 1; }
for f in bin/quillmere share/applications/quillmere.desktop \
         share/metainfo/org.quillmere.Quillmere.metainfo.xml share/man/man1/quillmere.1 \
         share/icons/hicolor/scalable/apps/quillmere.svg; do
    [[ -f "$root/$f" ]] || fail "missing $f"
done
for size in 16 24 32 48 64 128 256; do
    png="$root/share/icons/hicolor/${size}x${size}/apps/quillmere.png"
    [[ -s "$png" ]] || fail "missing icon $size"
    # The PNG header holds the width at bytes 16..19.
    width=$(od -An -tu1 -j16 -N4 "$png" | awk '{print $1*16777216+$2*65536+$3*256+$4}')
    [[ "$width" == "$size" ]] || fail "icon $size is $width wide"
done
[[ -x "$root/bin/quillmere" ]] || fail "quillmere is not executable"
# A staged install leaves the machine-wide folder to the package's post-install step.
[[ ! -e "$stage/var/lib/quillmere" ]] || fail "staged install created the settings folder"

desktop="$root/share/applications/quillmere.desktop"
desktop-file-validate "$desktop" || fail "desktop-file-validate"
grep -qx 'Exec=quillmere %f' "$desktop" || fail "Exec line"
for type in image/jpeg image/png image/gif image/bmp image/tiff image/jp2 image/jpx image/jpm \
            image/x-jp2-codestream video/mj2; do
    grep -q "^MimeType=.*$type;" "$desktop" || fail "MimeType lacks $type"
done
appstreamcli validate --no-net "$root/share/metainfo/org.quillmere.Quillmere.metainfo.xml" \
    >/dev/null || fail "appstreamcli validate"
man -l "$root/share/man/man1/quillmere.1" 2>&1 >/dev/null | grep -q . && fail "man page warnings"
echo "1 passed, 0 failed"
