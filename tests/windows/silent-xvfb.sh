#!/usr/bin/env bash
# A silent run for real, under a virtual X display that is watched for windows: every
# window mapped anywhere on the display, however briefly, is seen (xev on the root
# window). With /S and arguments for SETUP.exe, the launcher must unpack, copy and
# launch without a single window; SETUP.exe (the sample's recorder) must receive exactly
# the arguments given after --, and the launcher's exit status, read in full inside wine,
# must be SETUP.exe's own: 0, 2 and 3010. The text after -- must reach SETUP.exe's command
# line byte for byte ('%', '^', '&' and quotes included); one with a control character
# is refused with 1639, and the log says why. A second launcher started while the first
# one runs ends with 1618, and the log shows both runs' lines apart by process id
# (WORK/overlapping.log; what SETUP.exe recorded of the text is WORK/raw-setup.log).
# First, /? must show its box: the watch sees this program's windows.
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
# $work/NAME.xev. With "@LINE" as its one argument, the launcher's command line is LINE
# exactly, which wine would otherwise quote again.
watched() {
    local name=$1
    shift
    xev -root -event substructure >"$work/$name.xev" 2>&1 &
    local watch=$!
    sleep 1  # listening before anything starts
    local command=('C:\Dist\Release\ferrowick.exe' "$@")
    if [ $# -eq 1 ] && [ "${1:0:1}" = @ ]; then
        printf '%s' "\"C:\\Dist\\Release\\ferrowick.exe\" ${1:1}" >"$work/$name.line"
        command=("@$(z "$work/$name.line")")
    fi
    timeout 300 wine "$(z "$helper")" "${command[@]}" >"$work/$name.txt" 2>&1 ||
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
    'C:\Program Files\X\' 'x,y;z=w' '!x!' '\"\' '%PATH%' '50%')
expected=$(printf 'argument: %s\n' "${args[@]}")
for setupStatus in 0 2 3010; do
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
        # Each line after its time and process id.
        tr -d '\r' <"$log" 2>/dev/null | sed 's/^[^]]*\] //' | grep -qxF "$line" ||
            report "$name: the log lacks '$line'"
    done
done

# The text after -- as it stands in the launcher's command line, byte for byte on
# SETUP.exe's: what the command interpreter would have expanded or taken for its own,
# quotes of every kind, and blanks.
tail='/S %PATH% 50% ^ & "a b"  "q""r" \"x\" C:\Program Files\X\ /D=C:\Program Files\Orvelin Space'
fresh
watched raw "@/S -- $tail"
[ "$(windowsIn raw)" -eq 0 ] || report "raw: a window appeared"
[ "$(statusOf raw)" = 0 ] || report "raw: exit status '$(statusOf raw)', not 0"
cp "$unzip/disk1/SETUP.LOG" "$work/raw-setup.log" 2>/dev/null || true
received=$(tr -d '\r' <"$work/raw-setup.log" 2>/dev/null | sed -n 's/^command line: //p' || true)
[ "$received" = "\"C:\\Temp\\_Download\\_UnZip\\disk1\\SETUP.exe\" $tail" ] ||
    report "raw: SETUP.exe's command line is '$received'"

# Refused before anything is touched: no window, 1639, the reason in the log.
fresh
watched refused "@/S -- ok$(printf '\t')tab"
[ "$(windowsIn refused)" -eq 0 ] || report "refused: a window appeared"
[ "$(statusOf refused)" = 1639 ] || report "refused: exit status '$(statusOf refused)', not 1639"
[ ! -e "$unzip" ] || report "refused: it unpacked"
tr -d '\r' <"$log" 2>/dev/null | grep -q "its arguments hold a control character" ||
    report "refused: the log does not say why"

# Two launchers: the second, started while the first waits after SETUP.exe, ends with
# 1618 and touches nothing; the log shows each run's lines with its own process id.
fresh
timeout 300 wine "$(z "$helper")" 'C:\Dist\Release\ferrowick.exe' /S >"$work/first.txt" 2>&1 &
first=$!
for _ in $(seq 1 600); do
    [ -e "$unzip/disk1/SETUP.LOG" ] && break
    sleep 0.1
done
timeout 300 wine "$(z "$helper")" 'C:\Dist\Release\ferrowick.exe' /S >"$work/second.txt" 2>&1 ||
    report "second: the run did not end by itself"
wait "$first" || report "first: the run did not end by itself"
wineserver -w
[ "$(statusOf first)" = 0 ] || report "first: exit status '$(statusOf first)', not 0"
[ "$(statusOf second)" = 1618 ] || report "second: exit status '$(statusOf second)', not 1618"
tr -d '\r' <"$log" >"$work/overlapping.log" 2>/dev/null || true
runs=$(sed -n 's/^[0-9-]* [0-9:.]* \[\([0-9]*\)\] start: .*/\1/p' "$work/overlapping.log" | sort -u | wc -l)
[ "$runs" -eq 2 ] || report "overlapping: $runs runs told apart in the log, not 2"
unstamped=$(grep -cvE '^[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3} \[[0-9]+\] [^:]+: ' "$work/overlapping.log" || true)
[ "$unstamped" -eq 0 ] || report "overlapping: $unstamped lines without time and process id"
grep -q "end: exit status 1618, the launcher's: another launcher is running" "$work/overlapping.log" ||
    report "overlapping: the second run's end is not logged"

[ $fail -eq 0 ] && echo "silent runs: all checks passed"
exit $fail
