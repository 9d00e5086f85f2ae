#!/usr/bin/env bash
# Runs the Windows launcher end to end in a throw-away wine prefix and checks what it
# left behind:
#   launcher-e2e.sh EXE SAMPLE.zip PELLMOOR-FOLDER WORK-FOLDER [LOCALE]
# The launcher lies in a "Release" folder, with res\Pellmoor beside that folder's parent,
# as a build tree has it. With no X display wine's message boxes return at once, so the
# four notices do not stop the run. LOCALE (for example zh_CN.UTF-8) fixes the prefix's
# ANSI code page when the prefix is made. Leaves the prefix in WORK-FOLDER/prefix.
set -euo pipefail
exe=$1 sample=$2 pellmoor=$3 work=$4 locale=${5:-}
here=$(cd "$(dirname "$0")" && pwd)

rm -rf "$work"
mkdir -p "$work"
work=$(cd "$work" && pwd)  # wine wants an absolute prefix
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=
[ -n "$locale" ] && export LC_ALL=$locale
unset DISPLAY WAYLAND_DISPLAY

wineboot -i >/dev/null 2>&1
wineserver -w
drive=$WINEPREFIX/drive_c
mkdir -p "$drive/Dist/Release" "$drive/Dist/res"
cp "$exe" "$drive/Dist/Release/ferrowick.exe"
cp -r --preserve=timestamps "$pellmoor" "$drive/Dist/res/Pellmoor"

# The code page that the prefix takes from its locale, as the names are checked in it.
case "$locale" in
    zh_CN*) codepage=cp936 ;;
    *) codepage=cp1252 ;;
esac

status=0
timeout 300 wine 'C:\Dist\Release\ferrowick.exe' >"$work/stdout.txt" 2>"$work/stderr.txt" || status=$?
wineserver -w
[ "$status" -eq 0 ] || { echo "launcher exited with $status"; exit 1; }

fail=0
unzip=$drive/Temp/_Download/_UnZip
python3 "$here/check-tree.py" expect "$sample" "$unzip" "$codepage" --gone disk1/SETUP.EXE || fail=1
[ ! -e "$unzip/Morvanta.zip" ] || { echo "staging archive not removed"; fail=1; }
grep -q "SETUP.EXE ran" "$unzip/disk1/SETUP.LOG" 2>/dev/null || { echo "set-up program did not run"; fail=1; }
# The product folder: the resource folder less every file named Thumbs.db.
expected=$work/pellmoor-expected
cp -r "$pellmoor" "$expected"
find "$expected" -type f -name Thumbs.db -delete
diff -r "$expected" "$drive/Product_Released/Pellmoor" || { echo "product folder differs"; fail=1; }
exit $fail
