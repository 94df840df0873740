#!/usr/bin/env bash
# Installs the Debian packages Quillmere needs to build, test and run; only the missing ones.
set -euo pipefail

packages=(
    cmake ninja-build g++ pkg-config
    qt6-base-dev qt6-image-formats-plugins libqt6svg6 qt6-wayland
    libopenjp2-7-dev libturbojpeg0-dev libjpeg62-turbo-dev libdeflate-dev zlib1g-dev libtiff-dev
    googletest libgtest-dev libgmock-dev libbenchmark-dev
    clang libclang-rt-14-dev clang-format clang-tidy
    xvfb xauth weston openbox wmctrl xdotool x11-utils x11-xserver-utils libopenjp2-tools
    libx11-dev libxtst-dev libjpeg-turbo-progs dbus-daemon
    desktop-file-utils appstream man-db dpkg-dev file
)

missing=()
for p in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
    [[ "$status" == "install ok installed" ]] || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "Installing: ${missing[*]}"
as_root=()
[[ $(id -u) -eq 0 ]] || as_root=(sudo)
export DEBIAN_FRONTEND=noninteractive
# A fresh machine may have empty package lists.
"${as_root[@]}" apt-get update -q
"${as_root[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
