#!/usr/bin/env bash
# A silent run for real, under a virtual X display that is watched for windows: every
# window mapped anywhere on the display, however briefly, is seen (xev on the root
# window). With /S and arguments for SETUP.exe, the launcher must unpack, copy and
# launch without a single window; SETUP.exe (the sample's recorder) must receive exactly
# the arguments given after --, and the launcher's exit status, read in full inside wine,
# must be SETUP.exe's own: 0, 7 and 3010. An argument with '%' is refused with status 4,
# and the log says why. First, /? must show its box: the watch sees this program's windows.
#   silent-xvfb.sh LAUNCHER.exe EXIT-STATUS.exe SAMPLE.zip PELLMOOR-FOLDER WORK-FOLDER
# (run through xvfb-run -a, which provides DISPLAY).
set -euo pipefail
exe=$1 helper=$2 sample=$3 pellmoor=$4 work=$5
here=$(cd "$(dirname "$0")" && pwd)
. "$(dirname "$0")/fresh-prefix.sh" "$work"
drive=$WINEPREFIX/drive_c
unzip=$drive/Temp/_Download/_UnZip
log=$drive/Temp/_Download/Ferrowick.log
z() { printf "Z:%s" "${1//\//\\}"; }
fail=0
report() {
    echo "FAIL: $*"
    fail=1
}

# A fresh drive C: with the launcher in a build folder and the resource folder beside it.
fresh() {
    find "$drive" -mindepth 1 -maxdepth 1 ! -name windows ! -name users ! -name ProgramData \
        ! -name 'Program Files*' -exec rm -rf {} +
    mkdir -p "$drive/Dist/Release" "$drive/Dist/res"
    cp "$exe" "$drive/Dist/Release/ferrowick.exe"
    cp -r --preserve=timestamps "$pellmoor" "$drive/Dist/res/Pellmoor"
}

# Runs the launcher with ARGS through the exit-status helper while the display is
# watched; leaves the helper's output in $work/NAME.txt and the windows mapped in
# $work/NAME.xev.
watched() {
    local name=$1
    shift
    xev -root -event substructure >"$work/$name.xev" 2>&1 &
    local watch=$!
    sleep 1  # listening before anything starts
    timeout 300 wine "$(z "$helper")" 'C:\Dist\Release\ferrowick.exe' "$@" >"$work/$name.txt" 2>&1 ||
        report "$name: the run did not end by itself"
    wineserver -w
    sleep 0.5
    kill "$watch"
    wait "$watch" 2>/dev/null || true
}

statusOf() { tr -d '\r' <"$work/$1.txt" | sed -n 's/^exit status //p'; }
windowsIn() { grep -c '^MapNotify' "$work/$1.xev" || true; }

# The watch sees this program's windows: /? shows a box, answered with Enter.
fresh
xev -root -event substructure >"$work/usage.xev" 2>&1 &
watch=$!
sleep 1
wine 'C:\Dist\Release\ferrowick.exe' /? >/dev/null 2>&1 &
program=$!
box=""
for _ in $(seq 1 120); do
    box=$(xdotool search --name '^BRASKETTLE$' 2>/dev/null | head -n1 || true)
    [ -n "$box" ] && break
    sleep 0.5
done
[ -n "$box" ] || report "/?: no usage box came up"
[ -n "$box" ] && { sleep 0.5; xdotool windowfocus --sync "$box" key Return 2>/dev/null || true; }
status=0
timeout 60 tail --pid="$program" -f /dev/null || { kill "$program"; report "/?: still open"; }
wait "$program" || status=$?
wineserver -w
kill "$watch"
wait "$watch" 2>/dev/null || true
[ "$status" -eq 0 ] || report "/?: exit status $status"
[ "$(windowsIn usage)" -gt 0 ] || report "/?: the watch saw no window"
[ ! -e "$drive/Temp" ] || report "/?: it touched C:\\Temp"

# The arguments: blanks, the interpreter's operators, '^', parentheses, quotes, trailing
# and inner backslashes, an empty one, and switches of SETUP.exe's own.
args=(/quiet /norestart "a b" "x&y" "a^b" "(x)" 'q"r' '"' "" 'tr\ x\' 'a|b<c>d'
    'C:\Program Files\X\' 'x,y;z=w' '!x!' '\"\')
expected=$(printf 'argument: %s\n' "${args[@]}")
for setupStatus in 0 7 3010; do
    name=status-$setupStatus
    fresh
    FERROWICK_SETUP_STATUS=$setupStatus watched "$name" /S -- "${args[@]}"
    [ "$(windowsIn "$name")" -eq 0 ] || report "$name: a window appeared"
    [ "$(statusOf "$name")" = "$setupStatus" ] ||
        report "$name: exit status '$(statusOf "$name")', not SETUP.exe's $setupStatus"
    python3 "$here/check-tree.py" expect "$sample" "$unzip" cp1252 --gone disk1/SETUP.EXE ||
        report "$name: the unpacked tree differs"
    expectedProduct=$work/pellmoor-expected
    rm -rf "$expectedProduct"
    cp -r "$pellmoor" "$expectedProduct"
    find "$expectedProduct" -type f -name Thumbs.db -delete
    diff -r "$expectedProduct" "$drive/Product_Released/Pellmoor" >/dev/null ||
        report "$name: the product folder differs"
    received=$(tr -d '\r' <"$unzip/disk1/SETUP.LOG" 2>/dev/null | grep '^argument: ' || true)
    if [ "$received" != "$expected" ]; then
        report "$name: SETUP.exe received other arguments"
        diff <(echo "$expected") <(echo "$received") || true
    fi
    for line in "SETUP.exe exit status: $setupStatus" "end: exit status $setupStatus, SETUP.exe's own"; do
        tr -d '\r' <"$log" 2>/dev/null | grep -qxF "$line" || report "$name: the log lacks '$line'"
    done
done

# Refused before anything is touched: no window, status 4, the reason in the log.
fresh
watched refused /S -- ok 50%
[ "$(windowsIn refused)" -eq 0 ] || report "refused: a window appeared"
[ "$(statusOf refused)" = 4 ] || report "refused: exit status '$(statusOf refused)', not 4"
[ ! -e "$unzip" ] || report "refused: it unpacked"
tr -d '\r' <"$log" 2>/dev/null | grep -q "its argument '50%' cannot be passed" ||
    report "refused: the log does not say why"

[ $fail -eq 0 ] && echo "silent runs: all checks passed"
exit $fail
