#!/usr/bin/env bash
# The About box for real: under a virtual X display the handler must bring up a window
# captioned "About Ferrowick" from the launcher's dialog template, and the modal loop
# must end promptly with the id of what closed it: Enter and a click on OK give IDOK (1),
# Escape gives IDCANCEL (2).
#   about-xvfb.sh ABOUT-BOX.exe WORK-FOLDER
# (run through xvfb-run -a, which provides DISPLAY).
set -euo pipefail
exe=$1 work=$2
. "$(dirname "$0")/fresh-prefix.sh" "$work"
mkdir -p "$WINEPREFIX/drive_c/Dist"
cp "$exe" "$WINEPREFIX/drive_c/Dist/about-box.exe"

failures=0
fail() {
    echo "FAIL ($1): $2"
    failures=$((failures + 1))
}

# One run: open the box, close it with ACTION, and expect "DoModal=EXPECTED".
run() {
    local name=$1 expected=$2 out=$work/$1.txt
    wine 'C:\Dist\about-box.exe' >"$out" 2>&1 &
    local program=$! window=""
    local deadline=$((SECONDS + 60))
    while [ -z "$window" ] && kill -0 "$program" 2>/dev/null && [ $SECONDS -lt $deadline ]; do
        window=$(xdotool search --name '^About Ferrowick$' 2>/dev/null | head -n1 || true)
        [ -n "$window" ] || sleep 0.5
    done
    if [ -z "$window" ]; then
        fail "$name" "no About box came up"
        kill "$program" 2>/dev/null || true
        wait "$program" || true
        return
    fi
    sleep 0.5  # let it paint
    case $name in
        enter) xdotool windowfocus --sync "$window" key Return ;;
        escape) xdotool windowfocus --sync "$window" key Escape ;;
        click)
            # The X window is the client area; OK sits at 178,7 (50 x 14) of a
            # 235 x 55 template, in dialog units: aim at its centre.
            local width height
            eval "$(xdotool getwindowgeometry --shell "$window")"
            width=$WIDTH height=$HEIGHT
            import -window root "$work/about-box.png"
            xdotool mousemove --window "$window" $((width * 203 / 235)) $((height * 14 / 55)) \
                click 1
            ;;
    esac
    # Promptly: the window goes and the program ends within a few seconds.
    local waited=0
    while kill -0 "$program" 2>/dev/null && [ $waited -lt 20 ]; do
        sleep 0.25
        waited=$((waited + 1))
    done
    if kill -0 "$program" 2>/dev/null; then
        fail "$name" "still open 5 s after the answer"
        kill "$program" 2>/dev/null || true
    fi
    local status=0
    wait "$program" || status=$?
    [ $status -eq 0 ] || fail "$name" "exit status $status"
    grep -qx "DoModal=$expected" <(tr -d '\r' <"$out") ||
        fail "$name" "expected DoModal=$expected, printed: $(tr -d '\r' <"$out")"
    echo "$name: $(tr -d '\r' <"$out")"
}

run enter 1
run escape 2
run click 1
wineserver -w
[ -s "$work/about-box.png" ] || fail click "no screenshot"
[ $failures -eq 0 ] && echo "about-box: all checks passed"
exit $((failures > 0))
