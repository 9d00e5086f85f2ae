#!/usr/bin/env bash
# The progress window for real, under a virtual X display with a window manager
# (openbox), whose windows a user can move:
# - a launcher carrying 300 MB in 10000 items must show, once the preparation notice is
#   answered, a window captioned "BRASKETTLE" with no system menu (nothing cancels it);
#   it must repaint while items unpack (two shots of it a second apart differ), move when
#   its title bar is dragged and paint itself there, stay after Alt+F4, and be gone when
#   the completion notice comes up; every item is unpacked and the run ends with 0;
# - the launcher with its small sample must show its three notices and no such window.
# Screenshots stay in WORK: large-progress-1.png, large-progress-2.png,
# large-progress-moved.png, large-completion.png.
#   progress-xvfb.sh LAUNCHER.exe PACK.exe PELLMOOR-FOLDER WORK-FOLDER
# (run through xvfb-run -a, which provides DISPLAY).
set -euo pipefail
exe=$1 pack=$2 pellmoor=$3 work=$4
. "$(dirname "$0")/fresh-prefix.sh" "$work"
. "$(dirname "$0")/braskettle-windows.sh"
drive=$WINEPREFIX/drive_c
z() { printf "Z:%s" "${1//\//\\}"; }
fail=0
report() {
    echo "FAIL: $*"
    fail=1
}

openbox --sm-disable >"$work/openbox.log" 2>&1 &
wm=$!
trap 'kill $wm 2>/dev/null || true' EXIT
for _ in $(seq 1 50); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
    sleep 0.2
done

mkdir -p "$drive/Dist/Release" "$drive/Dist/res"
cp -r "$pellmoor" "$drive/Dist/res/Pellmoor"
cp "$exe" "$drive/Dist/Release/ferrowick.exe"
# 300 MB that no compression makes smaller, in items small enough that unpacking them
# takes seconds under wine. No SETUP.exe in it: packed by force.
python3 - "$work/large.zip" <<'PY'
import os, sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_STORED) as z:
    z.writestr("disk1/DATA.TAG", b"tag\r\n")
    for i in range(1, 10000):
        z.writestr(f"disk1/data/part{i // 100:02d}/item{i:05d}.cab", os.urandom(30 * 1024))
PY
cp "$pack" "$work/pack.exe"
cp "$exe" "$work/stub.exe"
wine "$(z "$work/pack.exe")" --payload "$(z "$work/large.zip")" --stub "$(z "$work/stub.exe")" \
    --output 'C:\Dist\Release\large.exe' --force >"$work/pack.txt" 2>&1 ||
    report "the large launcher could not be packed"
rm -f "$work/large.zip" "$work/pack.exe" "$work/stub.exe"

shot() { import -window root "$1"; }
# The part of screenshot $1 that the window of geometry $2 (WxH+X+Y) covers, in $3.
crop() { convert "$1" -crop "$2" +repage "$3"; }
# WxH+X+Y of the window's client area on the screen.
geometryOf() {
    xwininfo -id "$1" | awk '/Absolute upper-left X/ { x = $NF } /Absolute upper-left Y/ { y = $NF }
        /Width:/ { w = $NF } /Height:/ { h = $NF } END { print w "x" h "+" x "+" y }'
}
exists() { xwininfo -id "$1" >/dev/null 2>&1; }
# Enter to the notice $1 until it goes: the window manager may give the keyboard to a
# window that comes up meanwhile, as it does to every new window.
answer() {
    local attempt
    for attempt in 1 2 3 4 5; do
        xdotool windowactivate --sync "$1" key Return 2>/dev/null || true
        for _ in $(seq 1 8); do
            exists "$1" || return 0
            sleep 0.25
        done
    done
    return 1
}

# Runs C:\Dist\Release\PROGRAM with a log, answering each notice with Enter, and looks
# at the progress window as it comes. Sets notices (as the log counts them: a window that
# wine makes again is one notice), progress (the window's id, if one came),
# progressAfter (notice windows answered before it came) and upAtLast (whether it was
# still there when the last notice came up).
watchRun() {
    local name=$1 program=$2
    rm -rf "$drive/Temp" "$drive/Product_Released"
    wine "C:\\Dist\\Release\\$program" /log "C:\\Dist\\$name.log" >"$work/$name.txt" 2>&1 &
    local launcher=$!
    local answeredCount=0
    progress="" progressAfter=-1 upAtLast=0
    local answered=" " deadline=$((SECONDS + 400)) looked=0
    while kill -0 "$launcher" 2>/dev/null && [ $SECONDS -lt $deadline ]; do
        # Notices first: the unpacking waits while one is up (the patience notice).
        local shown="" w
        for w in $(xdotool search --onlyvisible --name '^BRASKETTLE$' 2>/dev/null || true); do
            case $answered in *" $w "*) continue ;; esac
            if isProgressWindow "$w"; then
                if [ -z "$progress" ]; then
                    progress=$w
                    progressAfter=$answeredCount
                fi
                continue
            fi
            shown=$w
            sleep 0.5 # let it paint
            upAtLast=0
            if [ -n "$progress" ] && exists "$progress"; then
                upAtLast=1
            fi
            answeredCount=$((answeredCount + 1))
            [ "$name" = large ] && shot "$work/$name-notice-$answeredCount.png"
            answer "$w" || report "$name: notice $answeredCount did not go with Enter"
            answered="$answered$w "
        done
        if [ -z "$shown" ] && [ -n "$progress" ] && [ $looked -eq 0 ] && exists "$progress"; then
            lookAtProgress "$name" "$progress" && looked=1
        fi
        sleep 0.2
    done
    if kill -0 "$launcher" 2>/dev/null; then
        report "$name: still running after $answeredCount notices"
        kill "$launcher"
    fi
    status=0
    wait "$launcher" || status=$?
    wineserver -w
    [ "$status" -eq 0 ] || report "$name: exit status $status"
    notices=$(grep -c '\] notice: ' "$drive/Dist/$name.log" || true)
    cp "$drive/Dist/$name.log" "$work/$name.log" 2>/dev/null || true
}

# Whether a notice other than those answered (in watchRun's `answered`) is up beside the
# progress window $1.
noticeUp() {
    local v
    for v in $(xdotool search --onlyvisible --name '^BRASKETTLE$' 2>/dev/null || true); do
        [ "$v" = "$1" ] && continue
        case $answered in *" $v "*) continue ;; esac
        return 0
    done
    return 1
}

# The window while items unpack: it repaints, moves with its title bar, paints itself
# where it went, and does not close. Not looked at (status 1, to be tried again) when a
# notice came up meanwhile: the unpacking waits while one is up (the patience notice).
lookAtProgress() {
    local name=$1 w=$2 before after
    sleep 0.3
    before=$(geometryOf "$w")
    shot "$work/$name-progress-1.png"
    sleep 1
    shot "$work/$name-progress-2.png"
    if noticeUp "$w"; then
        return 1
    fi
    # Nothing cancels it.
    xdotool windowactivate --sync "$w" key alt+F4 2>/dev/null || true
    sleep 0.5
    exists "$w" || noticeUp "$w" || report "$name: Alt+F4 closed the progress window"
    crop "$work/$name-progress-1.png" "$before" "$work/$name-crop-1.png"
    crop "$work/$name-progress-2.png" "$before" "$work/$name-crop-2.png"
    local differing
    differing=$(compare -metric AE "$work/$name-crop-1.png" "$work/$name-crop-2.png" null: 2>&1 || true)
    [ "${differing%% *}" != 0 ] || report "$name: the progress window did not repaint in a second"
    # Dragged by its title bar, which the window manager draws above it (the top of its
    # frame's extents: left, right, top, bottom).
    local top x y width
    top=$(xprop -id "$w" _NET_FRAME_EXTENTS | sed -n 's/.*= [0-9]*, [0-9]*, \([0-9]*\),.*/\1/p')
    IFS='x+' read -r width _ x y <<<"$before"
    xdotool mousemove $((x + width / 3)) $((y - ${top:-20} / 2)) mousedown 1
    for _ in 1 2 3 4 5 6; do
        xdotool mousemove_relative -- 20 15
        sleep 0.05
    done
    xdotool mouseup 1
    sleep 0.5
    after=$(geometryOf "$w")
    [ "$after" != "$before" ] || report "$name: the progress window did not move ($before)"
    shot "$work/$name-progress-moved.png"
    crop "$work/$name-progress-moved.png" "$after" "$work/$name-crop-moved.png"
    [ "$(convert "$work/$name-crop-moved.png" -format %k info:)" -gt 4 ] ||
        report "$name: the moved progress window is not painted"
    echo "$name: progress window $before, moved to $after"
    return 0
}

watchRun large large.exe
echo "large: $notices notices; progress window ${progress:-none}, after notice $progressAfter"
[ -n "$progress" ] || report "large: no progress window came up"
# Opening, preparation, patience (10000 items), completion.
[ "$notices" -eq 4 ] || report "large: $notices notices, not 4"
[ "$progressAfter" -ge 2 ] || report "large: the progress window came before the preparation notice was answered"
[ "$upAtLast" -eq 0 ] || report "large: the progress window was still there at the completion notice"
[ -n "$progress" ] && exists "$progress" && report "large: the progress window outlived the run"
last=$(ls "$work"/large-notice-*.png 2>/dev/null | sort -V | tail -n1)
[ -n "$last" ] && cp "$last" "$work/large-completion.png"
unpacked=$(find "$drive/Temp/_Download/_UnZip/disk1" -type f | wc -l)
[ "$unpacked" -eq 10000 ] || report "large: $unpacked of 10000 items unpacked"

# The 300 MB go; the screenshots and the logs stay.
rm -rf "$drive/Temp" "$drive/Dist/Release/large.exe"

watchRun sample ferrowick.exe
echo "sample: $notices notices; progress window ${progress:-none}"
[ -z "$progress" ] || report "sample: a progress window came up"
[ "$notices" -eq 3 ] || report "sample: $notices notices, not 3"

[ $fail -eq 0 ] && echo "progress window: all checks passed"
exit $fail
