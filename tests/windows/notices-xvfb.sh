#!/usr/bin/env bash
# The launcher's notices for real: under a virtual X display each notice must come up as
# a window captioned "BRASKETTLE"; each is answered with Enter, and the run must then
# complete. The opening notice is kept as a screenshot.
#   notices-xvfb.sh EXE WORK-FOLDER [COUNT [PACK.exe ITEMS]]
# COUNT is 3 for the sample (opening, preparation, completion) and 4 for a payload of
# more than 600 items, which adds the patience notice; the unpacking waits while that is
# up, so the progress window comes up beside it: it is no notice, and must leave Enter to
# the patience notice. With PACK.exe and ITEMS, EXE is
# first packed with an archive of ITEMS small items (the first disk1/DATA.TAG), and every
# item must be unpacked.
# (run through xvfb-run -a, which provides DISPLAY).
set -euo pipefail
exe=$1 work=$2 expected=${3:-3} pack=${4:-} items=${5:-0}
. "$(dirname "$0")/fresh-prefix.sh" "$work"
. "$(dirname "$0")/braskettle-windows.sh"
mkdir -p "$WINEPREFIX/drive_c/Dist"
if [ -n "$pack" ]; then
    python3 - "$work/payload.zip" "$items" <<'PY'
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_DEFLATED) as z:
    z.writestr("disk1/DATA.TAG", b"tag\r\n")
    for i in range(1, int(sys.argv[2])):
        z.writestr(f"disk1/data/part{i // 100}/item{i:04d}.dat", f"item {i}\r\n".encode())
PY
    cp "$exe" "$work/stub.exe"
    cp "$pack" "$work/pack.exe"
    # Host paths reach wine through drive Z:.
    z() { printf "Z:%s" "${1//\//\\}"; }
    # No SETUP.exe in it: packed by force.
    wine "$(z "$work/pack.exe")" --payload "$(z "$work/payload.zip")" --stub "$(z "$work/stub.exe")" \
        --output 'C:\Dist\ferrowick.exe' --force
else
    cp "$exe" "$WINEPREFIX/drive_c/Dist/ferrowick.exe"
fi

wine 'C:\Dist\ferrowick.exe' >"$work/stdout.txt" 2>&1 &
launcher=$!

answered=0
heights=()
deadline=$((SECONDS + 240))
while kill -0 "$launcher" 2>/dev/null && [ $SECONDS -lt $deadline ]; do
    # The progress window, which a long unpack brings up beside the notices, is no notice.
    window=$(noticeWindows | head -n1)
    if [ -z "$window" ]; then
        sleep 0.5
        continue
    fi
    sleep 0.5  # let it paint
    if [ $answered -eq 0 ]; then
        import -window root "$work/opening-notice.png"
    fi
    # Each notice's height, for telling them apart by their number of lines.
    eval "$(xdotool getwindowgeometry --shell "$window")"
    heights+=("$HEIGHT")
    # One Enter to the box with the focus (there is no window manager to activate it).
    xdotool windowfocus --sync "$window" key Return 2>/dev/null || true
    answered=$((answered + 1))
    # Wait for that window to go before looking for the next.
    for _ in $(seq 1 40); do
        noticeWindows | grep -qx "$window" || break
        sleep 0.25
    done
done

status=0
if kill -0 "$launcher" 2>/dev/null; then
    echo "launcher still running after $answered notices"
    kill "$launcher"
    status=1
fi
launcherStatus=0
wait "$launcher" || launcherStatus=$?
wineserver -w
echo "notices answered: $answered (heights: ${heights[*]})"
[ "$answered" -eq "$expected" ] || status=1
[ "$launcherStatus" -eq 0 ] || { echo "launcher exit status $launcherStatus"; status=1; }
# In order: opening (two lines) below preparation (five), then the patience notice, one
# line, the lowest of all, and the completion notice, the tallest.
if [ "$expected" -eq 4 ] && [ "$answered" -eq 4 ]; then
    h=("${heights[@]}")
    if ! [ "${h[0]}" -lt "${h[1]}" ] || ! [ "${h[2]}" -lt "${h[0]}" ] ||
        ! [ "${h[3]}" -gt "${h[1]}" ]; then
        echo "notices out of order: heights ${h[*]}"
        status=1
    fi
fi
if [ -n "$pack" ]; then
    unpacked=$(find "$WINEPREFIX/drive_c/Temp/_Download/_UnZip/disk1" -type f | wc -l)
    echo "items unpacked: $unpacked of $items"
    [ "$unpacked" -eq "$items" ] || status=1
fi
[ -s "$work/opening-notice.png" ] || { echo "no screenshot"; status=1; }
exit $status
