#!/usr/bin/env bash
# Times the real viewer on an X screen: from the launch until the picture's pixels are on the
# screen, and from a key until the next picture's are. Xvfb 1920 x 1080 x 24, a session bus and
# openbox maximising every window, as people have a viewer; a fresh session every 5 rounds.
#
#   bench/latency.sh [--against COMMIT] [--rounds N] [--rows ROW,ROW...] [--with-feh]
#                    [--with-floor] [--timeline] [--ahead] [--viewer BINARY]
#
#   --against COMMIT   also time COMMIT, built (Release, the quillmere target only) in a git
#                      worktree under the scratch folder and kept there for the next run
#   --rounds N         rounds after round 0, the warm-up (default 5); within a round every row
#                      runs once per viewer, the viewers' order turning each round
#   --rows LIST        rows by name, globs allowed ('cold-*'); default all (--list-rows)
#   --with-feh         feh beside, as a black box (feh --scale-down --start-at PICTURE)
#   --with-floor       a trivial Xlib window beside (a colour, the next at each Right)
#   --timeline         print each cold launch's stages (QUILLMERE_TIMELINE), slowest first
#   --viewer BINARY    time this binary as "now" instead of building build/release
#   --baseline-binary BINARY  time this binary as "base" instead of building a commit
#   --ahead            the X session and the launches in scheduling groups ahead of the
#                      machine's other work (autogroup nice -20; root): on a shared machine the
#                      figures then show the viewers more than their neighbours
#   --self-check       one round of three rows beside a trivial window, into a scratch folder
#                      of its own: checks that the session, the timer and the viewer work
#
# Rows: cold-* from the launch to the picture (24 MP JPEG, 1920 x 1080 JPEG in a folder of two,
# 4000 x 3000 RGBA PNG, the 1920 x 1080 JPEG among 100,000 files, the others empty files with
# picture names); next-* from Right to the next picture, pressed 2 s after the first showed or at
# once; held-hd: 20 presses of Right 30 ms apart through 21 pictures, "lag" from the last press
# to the last picture, "shown" how many of the 20 reached the screen.
#
# Pictures and results go to $QUILLMERE_LATENCY_DIR (default /tmp/quillmere-latency); each run's
# raw lines, viewer logs and tables stay in its own results folder.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
here="$root/bench/latency"
scratch=${QUILLMERE_LATENCY_DIR:-/tmp/quillmere-latency}
rounds=5 rows_wanted='*' against='' baseline_binary='' viewer_binary='' with_feh=0 with_floor=0
timeline=0 self_check=0 block=5 ahead=0

all_rows=(cold-24mp cold-hd cold-png cold-hd-100k next-24mp-2s next-24mp-now next-hd-2s
    next-hd-now next-hd-100k-now held-hd)

usage() { sed -n 2,31p "$0" | sed 's/^# \{0,1\}//'; exit 2; }
while (($#)); do
    case $1 in
        --against) against=$2; shift ;;
        --rounds) rounds=$2; shift ;;
        --rows) rows_wanted=$2; shift ;;
        --with-feh) with_feh=1 ;;
        --with-floor) with_floor=1 ;;
        --timeline) timeline=1 ;;
        --viewer) viewer_binary=$(realpath "$2"); shift ;;
        --baseline-binary) baseline_binary=$(realpath "$2"); shift ;;
        --self-check) self_check=1 ;;
        --ahead) ahead=1 ;;
        --list-rows) printf '%s\n' "${all_rows[@]}"; exit 0 ;;
        *) usage ;;
    esac
    shift
done

started=$SECONDS
say() { printf '%s\n' "$*" >&2; }

if ((self_check)); then
    # Skipped, not failed, where the session can't be made.
    for tool in Xvfb openbox dbus-daemon cjpeg cc xprop; do
        command -v "$tool" >/dev/null || { say "self-check skipped: no $tool"; exit 77; }
    done
    [[ -e /usr/include/X11/extensions/XTest.h ]] || { say "self-check skipped: no XTest"; exit 77; }
    rounds=0 rows_wanted='cold-hd,next-hd-now,held-hd' with_floor=1
    scratch=$(mktemp -d /tmp/quillmere-latency-check.XXXXXX)
else
    "$root/scripts/install-deps.sh"
    if ((with_feh)) && ! command -v feh >/dev/null; then
        say "feh is not installed (apt-get install feh)"
        exit 2
    fi
fi
# The viewer keeps its settings beside its executable only when this folder is missing; a
# settings file would change every launch's placement.
if [[ -e /var/lib/quillmere ]]; then
    say "/var/lib/quillmere exists: launches would share its settings"
    exit $((self_check ? 77 : 2))
fi

rows=()
IFS=, read -r -a patterns <<<"$rows_wanted"
for row in "${all_rows[@]}"; do
    for pattern in "${patterns[@]}"; do
        # shellcheck disable=SC2053  # the pattern is a glob on purpose
        if [[ $row == $pattern ]]; then rows+=("$row"); break; fi
    done
done
((${#rows[@]})) || { say "no row matches $rows_wanted"; exit 2; }

mkdir -p "$scratch/bin"
results="$scratch/results/$(date +%Y%m%d-%H%M%S)"
mkdir -p "$results/logs"

# --- tools and pictures ---------------------------------------------------------------------
compile() {  # output source libraries...
    local out=$1 source=$2
    shift 2
    [[ $out -nt $source ]] || "${CC:-cc}" -O2 -Wall -o "$out" "$source" "$@"
}
compile "$scratch/bin/screen_timer" "$here/screen_timer.c" -lXtst -lX11
compile "$scratch/bin/make_picture" "$here/make_picture.c" -lz -lm
timer="$scratch/bin/screen_timer"

# Flat colours of the held key's pictures: three levels a channel, never grey, so any two
# differ by 96 in some channel, far beyond the timer's tolerance.
held_colours=()
for rgb in {2,8,e}{2,8,e}{2,8,e}; do
    [[ ${rgb:0:1} == "${rgb:1:1}" && ${rgb:1:1} == "${rgb:2:1}" ]] && continue
    held_colours+=("${rgb:0:1}0${rgb:1:1}0${rgb:2:1}0")
done
held_presses=20

jpeg() {  # width height colour seed file
    "$scratch/bin/make_picture" ppm "$1" "$2" "$3" "$4" | cjpeg -quality 90 >"$5.part"
    mv "$5.part" "$5"
}

pictures="$scratch/pictures"
make_set() {  # set: made once, kept between runs
    local dir="$pictures/$1"
    [[ -e $dir/.done ]] && return
    say "making the pictures of $1"
    rm -rf "$dir" && mkdir -p "$dir"
    case $1 in
        big) jpeg 6000 4000 ff0000 11 "$dir/a01.jpg" && jpeg 6000 4000 0000ff 12 "$dir/a02.jpg" ;;
        hd) jpeg 1920 1080 ff0000 13 "$dir/b01.jpg" && jpeg 1920 1080 0000ff 14 "$dir/b02.jpg" ;;
        png) "$scratch/bin/make_picture" png 4000 3000 ff0000 15 >"$dir/c01.png" ;;
        many)
            # The timed pair among 99,998 empty files with picture names: m1 and m2 are
            # neighbours in natural and in plain order alike, every a.. before, every z.. after.
            make_set hd
            cp "$pictures/hd/b01.jpg" "$dir/m1.jpg" && cp "$pictures/hd/b02.jpg" "$dir/m2.jpg"
            (cd "$dir" && seq 1 49999 | sed 's/.*/a&.jpg/' | xargs touch &&
                seq 1 49999 | sed 's/.*/z&.jpg/' | xargs touch) ;;
        held)
            local i
            for ((i = 0; i <= held_presses; i++)); do
                jpeg 1920 1080 "${held_colours[i]}" $((20 + i)) "$dir/$(printf 'h%02d.jpg' $((i + 1)))"
            done ;;
    esac
    touch "$dir/.done"
}

# row -> picture, first colour, the timer's key options
row_picture() {
    case $1 in
        *24mp*) echo "$pictures/big/a01.jpg" ;;
        *png*) echo "$pictures/png/c01.png" ;;
        *100k*) echo "$pictures/many/m1.jpg" ;;
        held-*) echo "$pictures/held/h01.jpg" ;;
        *) echo "$pictures/hd/b01.jpg" ;;
    esac
}
row_first() { [[ $1 == held-* ]] && echo "${held_colours[0]}" || echo ff0000; }
row_keys() {
    case $1 in
        cold-*) ;;
        *-2s) echo -w 2000 -k Right -C 0000ff ;;
        *-now) echo -k Right -C 0000ff ;;
        held-*)
            local after
            after=$(IFS=,; echo "${held_colours[*]:1:held_presses}")
            echo -w 1000 -k Right -n "$held_presses" -i 30 -C "$after" ;;
    esac
}
row_metric() {  # the figure a row is judged by
    case $1 in
        cold-*) echo first_ms ;;
        held-*) echo lag_ms ;;
        *) echo key_ms ;;
    esac
}

# --- the viewers ----------------------------------------------------------------------------
# Each binary runs from a copy in the scratch folder, where its settings file (beside the
# executable) can be removed before every launch.
install_viewer() {  # label binary
    mkdir -p "$scratch/viewers/$1"
    cp "$2" "$scratch/viewers/$1/quillmere.new"
    mv "$scratch/viewers/$1/quillmere.new" "$scratch/viewers/$1/quillmere"
}

build_commit() {  # commit -> path of its Release binary on stdout
    local commit dir
    commit=$(git -C "$root" rev-parse --verify "$1^{commit}")
    dir="$scratch/builds/${commit:0:12}"
    if [[ ! -x $dir/build/app/quillmere ]]; then
        say "building $1 (${commit:0:12}) in $dir"
        rm -rf "$dir/src"
        mkdir -p "$dir"
        git -C "$root" worktree add --detach "$dir/src" "$commit" >&2
        cmake -S "$dir/src" -B "$dir/build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
            -DQUILLMERE_BENCH=OFF >"$dir/cmake.log"
        nice -n 5 cmake --build "$dir/build" --target quillmere >"$dir/build.log"
        # The binary is all that is kept: the worktree would only linger in git's list.
        git -C "$root" worktree remove --force "$dir/src"
    fi
    echo "$dir/build/app/quillmere"
}

viewers=(now)
if [[ -n $viewer_binary ]]; then
    install_viewer now "$viewer_binary"
    now_name="now ($viewer_binary)"
else
    say "building the current tree (build/release, quillmere only)"
    cmake -S "$root" -B "$root/build/release" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DQUILLMERE_BENCH=OFF >/dev/null
    nice -n 5 cmake --build "$root/build/release" --target quillmere >/dev/null
    install_viewer now "$root/build/release/app/quillmere"
    now_name="now ($(git -C "$root" rev-parse --short HEAD)$(git -C "$root" diff --quiet HEAD || echo '+changes'))"
fi
base_name=''
if [[ -n $against ]]; then
    install_viewer base "$(build_commit "$against")"
    base_name="base ($against)"
    short=$(git -C "$root" rev-parse --short "$against^{commit}")
    [[ $short == "$against"* ]] || base_name="base ($against, $short)"
    viewers+=(base)
elif [[ -n $baseline_binary ]]; then
    install_viewer base "$baseline_binary"
    base_name="base ($baseline_binary)"
    viewers+=(base)
fi
((with_feh)) && viewers+=(feh)
((with_floor)) && viewers+=(floor)

make_set hd  # each session's first launches show it
for row in "${rows[@]}"; do
    case $(row_picture "$row") in
        */big/*) make_set big ;; */hd/*) make_set hd ;; */png/*) make_set png ;;
        */many/*) make_set many ;; */held/*) make_set held ;;
    esac
done

# The builds write their stages on stderr (the other programs ignore it); set here, not by an
# `env` in the command line, so that every viewer is started by the same one exec.
export QUILLMERE_TIMELINE=1
# The session's X server, whatever the caller's environment says (the tests' is offscreen).
export QT_QPA_PLATFORM=xcb
unset WAYLAND_DISPLAY
launch_command() {  # viewer row: the command line, one word a line
    local picture
    picture=$(row_picture "$2")
    case $1 in
        now | base) printf '%s\n' "$scratch/viewers/$1/quillmere" "$picture" ;;
        feh) printf '%s\n' feh --scale-down --start-at "$picture" ;;
        floor)
            local colours
            read -r -a colours <<<"$(row_first "$2") $(row_keys "$2" | sed -n 's/.*-C \([^ ]*\).*/\1/p' | tr , ' ')"
            printf '%s\n' "$timer" --paint "${colours[@]}" ;;
    esac
}

# The kernel shares the cores between sessions first (autogroups): with --ahead, the X server,
# the window manager and each launch run in sessions of their own whose groups weigh most, so
# they get the cores whenever they want them. The builds above stay where they were.
# It replaces the shell it runs in: call it in a subshell (&, $(...), (...)).
ahead() {
    if ((ahead)); then
        # shellcheck disable=SC2016  # expanded by the inner shell
        exec setsid bash -c 'echo -20 >/proc/self/autogroup && exec "$@"' ahead "$@"
    fi
    exec "$@"
}

# --- the X session --------------------------------------------------------------------------
session_pids=()
session_stop() {
    local pid
    for pid in "${session_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${session_pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    session_pids=()
}
session_start() {
    local displayfile="$results/display" i
    : >"$displayfile"
    ahead Xvfb -displayfd 3 -screen 0 1920x1080x24 -br -nolisten tcp 3>"$displayfile" \
        >>"$results/xvfb.log" 2>&1 &
    session_pids+=($!)
    for ((i = 0; i < 200; i++)); do [[ -s $displayfile ]] && break; sleep 0.05; done
    [[ -s $displayfile ]] || { say "Xvfb did not start (see $results/xvfb.log)"; exit 1; }
    DISPLAY=":$(head -n1 "$displayfile")"
    export DISPLAY
    ahead dbus-daemon --session --nofork --address="unix:path=$results/bus" >>"$results/dbus.log" 2>&1 &
    session_pids+=($!)
    export DBUS_SESSION_BUS_ADDRESS="unix:path=$results/bus"
    ahead openbox --config-file "$here/openbox-rc.xml" >>"$results/openbox.log" 2>&1 &
    session_pids+=($!)
    for ((i = 0; i < 200; i++)); do
        xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
        sleep 0.05
    done
    sleep 0.5  # openbox's own start-up work, off the first launch
}
# shellcheck disable=SC2317  # run by the trap
cleanup() {
    session_stop
    if ((self_check)); then rm -rf "$scratch"; fi
}
trap cleanup EXIT

# --- the rounds -----------------------------------------------------------------------------
raw="$results/raw.txt"
{
    echo "# $(date -u '+%Y-%m-%d %H:%M UTC') $(nproc) cores, $(uname -r), load $(cut -d' ' -f1-3 /proc/loadavg)"
    echo "# now: $now_name"
    [[ -n $base_name ]] && echo "# base: $base_name"
    ((with_feh)) && echo "# feh: $(feh --version | head -n1)"
    echo "# rounds: $rounds after the warm-up; rows: ${rows[*]}$( ((ahead)) && echo '; ahead of other work')"
} >"$raw"
say "$(sed 's/^# //' "$raw")"
say "results: $results"

failures=0
for ((round = 0; round <= rounds; round++)); do
    if ((round % block == 0)); then
        session_stop
        session_start
        # A new X server's first clients pay for its caches: one launch of each viewer,
        # not counted, so that every block starts alike (round 0 is a warm-up anyway).
        if ((round)); then
            for viewer in "${viewers[@]}"; do
                mapfile -t command < <(launch_command "$viewer" cold-hd)
                (ahead "$timer" -t 20000 -p 960,540 -c ff0000 -- "${command[@]}" >/dev/null 2>&1) ||
                    true
            done
        fi
    fi
    order=("${viewers[@]}")
    if ((round % 2)); then
        order=()
        for ((i = ${#viewers[@]} - 1; i >= 0; i--)); do order+=("${viewers[i]}"); done
    fi
    for row in "${rows[@]}"; do
        for viewer in "${order[@]}"; do
            [[ $viewer == now || $viewer == base ]] && rm -f "$scratch/viewers/$viewer/quillmere.settings"
            mapfile -t command < <(launch_command "$viewer" "$row")
            log="$results/logs/$round-$viewer-$row.txt"
            # shellcheck disable=SC2046  # the key options are words
            line=$(ahead "$timer" -t 20000 -p 960,430 -p 960,540 -p 960,650 -c "$(row_first "$row")" \
                $(row_keys "$row") -- "${command[@]}" 2>"$log") || true
            [[ $line == *result=ok* || $line == *result=stopped-short* ]] || failures=$((failures + 1))
            echo "$round $viewer $row $line" >>"$raw"
            printf '%-3s %-5s %-17s %s\n' "$round" "$viewer" "$row" \
                "$(sed 's/launch_ns=[0-9]* //; s/ hwm_kb.*//' <<<"$line")" >&2
            sleep 0.3
        done
    done
done
session_stop

# --- the tables -----------------------------------------------------------------------------
field() { sed -n "s/.* $1=\([-0-9.]*\).*/\1/p"; }
stats() {  # viewer row metric -> "median min max n" over the rounds after the warm-up
    local first=1 results='result=ok'
    ((rounds == 0)) && first=0
    # A run that stopped short has no time of its last picture, but it did show pictures.
    [[ $3 == shown ]] && results='result=(ok|stopped-short)'
    awk -v v="$1" -v r="$2" -v f="$first" -v ok="$results" '$1 >= f && $2 == v && $3 == r && $0 ~ ok' "$raw" |
        field "$3" | sort -g | awk '{ x[NR] = $1 } END {
            if (NR == 0) { print "- - - 0"; exit }
            m = NR % 2 ? x[(NR + 1) / 2] : (x[NR / 2] + x[NR / 2 + 1]) / 2
            printf "%.1f %.1f %.1f %d\n", m, x[1], x[NR], NR }'
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (a == "-" || b == "-" || b == 0) print "-"; else printf "%.2f", a / b }'; }

table="$results/table.md"
{
    echo "Medians in ms [min-max] over ${rounds} rounds after the warm-up$( ((rounds)) || echo ' (the warm-up only)')."
    echo "$now_name${base_name:+; $base_name}"
    echo
    header="| row | metric |"
    rule="|---|---|"
    for viewer in "${viewers[@]}"; do header+=" $viewer |"; rule+="--:|"; done
    [[ -n $base_name ]] && header+=" now/base |" && rule+="--:|"
    ((with_feh)) && header+=" now/feh |" && rule+="--:|"
    echo "$header"
    echo "$rule"
    for row in "${rows[@]}"; do
        metrics=("$(row_metric "$row")")
        [[ $row == held-* ]] && metrics+=(shown)
        for metric in "${metrics[@]}"; do
            line="| $row | ${metric%_ms} |"
            declare -A median=()
            for viewer in "${viewers[@]}"; do
                read -r m lo hi n <<<"$(stats "$viewer" "$row" "$metric")"
                median[$viewer]=$m
                cell="$m [$lo-$hi]"
                ((n)) || cell="-"
                [[ $metric == shown ]] && cell="$m of $held_presses"
                expected=$rounds
                ((rounds)) || expected=1
                short=$(awk -v v="$viewer" -v r="$row" -v f=$((rounds ? 1 : 0)) \
                    '$1 >= f && $2 == v && $3 == r && /result=stopped-short/' "$raw" | wc -l)
                if [[ $metric != shown ]] && ((short)); then
                    cell+=" ($short never reached the last)"
                    n=$((n + short))
                fi
                ((n < expected)) && cell+=" ($((expected - n)) failed)"
                line+=" $cell |"
            done
            [[ -n $base_name ]] && line+=" $(ratio "${median[now]}" "${median[base]}") |"
            ((with_feh)) && line+=" $(ratio "${median[now]}" "${median[feh]}") |"
            echo "$line"
            unset median
        done
    done
} >"$table"

# Each launch of a cold row, slowest first: where its threads spent the time, and the viewer's
# stages in ms from the launch.
stages=(main application "window built" shown resized "first paint" decode decoded painted
    "first paint flushed")
{
    # run and wait: the main thread's time on a core and waiting for one (schedstat), then
    # the other threads' together, until the picture showed; the stages follow.
    printf '%-5s %-13s %-5s %7s %6s %6s %6s %6s' viewer row round screen run wait "o.run" "o.wait"
    for stage in "${stages[@]}"; do printf ' %8.8s' "$stage"; done
    echo
    while read -r round viewer row rest; do
        launch=$(field launch_ns <<<" $rest")
        printf '%-5s %-13s %-5s %7s %6s %6s %6s %6s' "$viewer" "$row" "$round" \
            "$(field first_ms <<<" $rest")" "$(field main_run_ms <<<" $rest")" \
            "$(field main_wait_ms <<<" $rest")" "$(field others_run_ms <<<" $rest")" \
            "$(field others_wait_ms <<<" $rest")"
        for stage in "${stages[@]}"; do
            awk -v s="$stage" -v l="$launch" '
                $1 == "quillmere-timeline" { name = $2; k = 3
                    while (k < NF && $k !~ /^[0-9]+$/) name = name " " $(k++)
                    # The window manager resizes the window before its first paint: the last
                    # size before it is the one the picture is fitted to.
                    if (name == "first paint") painted = 1
                    if (name == s && s == "resized" && !painted) { at = $k; found = 1 }
                    else if (name == s && !found) { at = $k; found = 1 } }
                END { if (found) printf " %8.1f", (at - l) / 1e6; else printf " %8s", "-" }' \
                "$results/logs/$round-$viewer-$row.txt"
        done
        echo
    done < <(awk '!/^#/ && $2 != "floor" && $3 ~ /^cold-/' "$raw" |
        sort -t= -k3 -g -r)
} >"$results/timeline.txt"

# The fastest and the slowest half of each viewer's cold launches side by side: per span of the
# start, the elapsed time and the main thread's time on a core and waiting for one (means), so
# that the spans the slow launches lose and the reason (work or waiting) stand out.
spans() {  # viewer row
    local round rest log
    while read -r round rest; do
        log="$results/logs/$round-$1-$2.txt"
        awk -v line=" $rest" '
            function field(name) {
                if (!match(line, " " name "=[-0-9.]+")) return -1
                return substr(line, RSTART + length(name) + 2, RLENGTH - length(name) - 2) + 0 }
            $1 == "quillmere-timeline" { name = $2; k = 3
                while (k < NF && $k !~ /^[0-9]+$/) name = name " " $(k++)
                if (!(name in at)) { at[name] = $k; split($(k + 1), r, "="); split($(k + 2), w, "=")
                    run[name] = r[2]; wait[name] = w[2] } }
            END {
                if (!("painted" in at)) exit
                n = split("main,application,first paint,painted", stage, ",")
                printf "%.1f", field("first_ms")
                t = field("launch_ns"); pr = 0; pw = 0
                for (i = 1; i <= n; i++) {
                    s = stage[i]
                    printf " %.1f %.1f %.1f", (at[s] - t) / 1e6, (run[s] - pr) / 1e6, (wait[s] - pw) / 1e6
                    t = at[s]; pr = run[s]; pw = wait[s] }
                printf " %.1f %.1f %.1f\n", field("first_ms") - (t - field("launch_ns")) / 1e6,
                    field("main_run_ms") - pr / 1e6, field("main_wait_ms") - pw / 1e6 }' "$log"
    done < <(awk -v v="$1" -v r="$2" -v f=$((rounds ? 1 : 0)) \
        '$1 >= f && $2 == v && $3 == r && /result=ok/ { $2 = ""; $3 = ""; print }' "$raw") | sort -g
}
halves() {
    echo "Fastest and slowest half of the cold launches, ms (means): elapsed / main thread on a core / waiting for one"
    printf '%-5s %-13s %-4s %6s  %-17s %-17s %-17s %-17s %-17s\n' viewer row half screen \
        "launch-main" "QApplication" "to first paint" "first paint" "to the screen"
    for viewer in now base; do
        for row in "${rows[@]}"; do
            [[ $row == cold-* ]] || continue
            mapfile -t lines < <(spans "$viewer" "$row")
            local n=${#lines[@]} half
            ((n >= 2)) || continue
            for half in fast slow; do
                if [[ $half == fast ]]; then
                    printf '%s\n' "${lines[@]:0:n/2}"
                else
                    printf '%s\n' "${lines[@]:n-n/2}"
                fi | awk -v v="$viewer" -v r="$row" -v h="$half" '
                    { for (i = 1; i <= NF; i++) sum[i] += $i }
                    END { printf "%-5s %-13s %-4s %6.1f ", v, r, h, sum[1] / NR
                        for (i = 2; i <= NF; i += 3)
                            printf " %5.1f/%4.1f/%4.1f", sum[i] / NR, sum[i + 1] / NR, sum[i + 2] / NR
                        print "" }'
            done
        done
    done
}
halves >>"$results/timeline.txt"

cat "$table"
if ((timeline)); then
    echo
    echo "Each cold launch, slowest first: the main thread's and the other threads' time on a core"
    echo "and waiting for one, then the viewer's stages, ms from the launch (QUILLMERE_TIMELINE):"
    cat "$results/timeline.txt"
fi
echo
echo "$failures launches failed; raw lines, logs and tables in $results"
echo "total: $(((SECONDS - started) / 60)) min $(((SECONDS - started) % 60)) s"
((self_check && failures)) && exit 1
exit 0
