#!/usr/bin/env bash
# The launcher's notices for real: under a virtual X display each notice must come up as
# a window captioned "BRASKETTLE"; each is answered with Enter, and the run must then
# complete. The opening notice is kept as a screenshot.
#   notices-xvfb.sh EXE WORK-FOLDER [COUNT]
# COUNT is 3 for the sample (opening, preparation, completion) and 4 for a payload of
# more than 600 items, which adds the patience notice.
# (run through xvfb-run -a, which provides DISPLAY).
set -euo pipefail
exe=$1 work=$2 expected=${3:-3}
rm -rf "$work"
mkdir -p "$work"
work=$(cd "$work" && pwd)  # wine wants an absolute prefix
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=
wineboot -i >/dev/null 2>&1
wineserver -w
mkdir -p "$WINEPREFIX/drive_c/Dist"
cp "$exe" "$WINEPREFIX/drive_c/Dist/ferrowick.exe"

wine 'C:\Dist\ferrowick.exe' >"$work/stdout.txt" 2>&1 &
launcher=$!

answered=0
deadline=$((SECONDS + 240))
while kill -0 "$launcher" 2>/dev/null && [ $SECONDS -lt $deadline ]; do
    window=$(xdotool search --name '^BRASKETTLE$' 2>/dev/null | head -n1 || true)
    if [ -z "$window" ]; then
        sleep 0.5
        continue
    fi
    sleep 0.5  # let it paint
    if [ $answered -eq 0 ]; then
        import -window root "$work/opening-notice.png"
    fi
    # One Enter to the box with the focus (there is no window manager to activate it).
    xdotool windowfocus --sync "$window" key Return 2>/dev/null || true
    answered=$((answered + 1))
    # Wait for that window to go before looking for the next.
    for _ in $(seq 1 40); do
        xdotool search --name '^BRASKETTLE$' 2>/dev/null | grep -qx "$window" || break
        sleep 0.25
    done
done

status=0
if kill -0 "$launcher" 2>/dev/null; then
    echo "launcher still running after $answered notices"
    kill "$launcher"
    status=1
fi
wait "$launcher" || true
wineserver -w
echo "notices answered: $answered"
[ "$answered" -eq "$expected" ] || status=1
[ -s "$work/opening-notice.png" ] || { echo "no screenshot"; status=1; }
exit $status
