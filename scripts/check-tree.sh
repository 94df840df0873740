#!/usr/bin/env bash
# The tree's habits, checked without building: every C++ file as clang-format lays it out, no
# source file over 700 lines, and the viewer window, where the subsystems meet, at most 400.
set -euo pipefail
cd "$(dirname "$0")/.."

mapfile -t sources < <(git ls-files '*.cpp' '*.h')
clang-format --dry-run --Werror "${sources[@]}"

status=0
for file in "${sources[@]}"; do
    limit=700
    [[ $file == app/viewer_window.cpp ]] && limit=400
    lines=$(wc -l <"$file")
    if ((lines > limit)); then
        echo "$file: $lines lines, more than $limit"
        status=1
    fi
done
exit $status
