#!/usr/bin/env bash
# Launcher runs under wine beyond the end-to-end one:
# - top folders holding a blank, '&', parentheses or a comma: through wine's real
#   cmd.exe the launch must reach that folder's SETUP.exe, with exit status 0. For each
#   such payload N it leaves WORK/N/payload.zip and the trees the run made under
#   WORK/N/prefix/drive_c, for the differential;
# - links planted in the staging and product folders: nothing outside them changes. An
#   earlier run's link at a level of the staging folder stops the run with status 1: the
#   launcher empties that folder first, and wine 8 cannot remove a link to a folder (on
#   Windows, RemoveDirectory removes it itself, and the run goes on).
#   launcher-wine-cases.sh WINE-RUN PACK.exe LAUNCHER.exe SETUP.exe PELLMOOR-FOLDER WORK
set -euo pipefail
wine_run=$1 pack=$2 launcher=$3 setup=$4 pellmoor=$5 work=$6

rm -rf "$work"
mkdir -p "$work/Dist/Release" "$work/Dist/res"
work=$(cd "$work" && pwd)  # wine wants absolute paths
cp -r --preserve=timestamps "$pellmoor" "$work/Dist/res/Pellmoor"
export WINEPREFIX=$work/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=
unset DISPLAY WAYLAND_DISPLAY  # message boxes return at once
drive=$WINEPREFIX/drive_c
exe=$work/Dist/Release/ferrowick.exe
# Host paths reach wine through drive Z:.
z() { echo "Z:${1//\//\\}"; }
fail=0
report() { echo "$*"; fail=1; }

# A launcher carrying TOP/DATA.TAG and TOP/SETUP.EXE, archived in ARCHIVE.
packWith() {
    local archive=$1 top=$2
    python3 - "$archive" "$top" "$setup" <<'PY'
import sys, zipfile
archive, top, setup = sys.argv[1:]
with zipfile.ZipFile(archive, "w", zipfile.ZIP_DEFLATED) as z:
    z.writestr(f"{top}/DATA.TAG", b"tag")
    z.write(setup, f"{top}/SETUP.EXE")
PY
    "$wine_run" "$WINEPREFIX" "$pack" --payload "$(z "$archive")" --stub "$(z "$launcher")" \
        --output "$(z "$exe")" >/dev/null
}

n=0
for top in "disk 1" "a&b" "a(b)" "a,b"; do
    n=$((n + 1))
    out=$work/$n
    mkdir -p "$out"
    packWith "$out/payload.zip" "$top"
    status=0
    timeout 300 "$wine_run" "$WINEPREFIX" "$(z "$exe")" </dev/null >"$out/output.txt" 2>&1 ||
        status=$?
    [ "$status" -eq 0 ] || report "'$top': the launcher exited with $status"
    grep -q "SETUP.EXE ran" "$drive/Temp/_Download/_UnZip/$top/SETUP.LOG" 2>/dev/null ||
        report "'$top': SETUP.exe was not reached"
    mkdir -p "$out/prefix/drive_c"
    cp -a "$drive/Temp" "$drive/Product_Released" "$out/prefix/drive_c/"
done

# Links: run straight through wine, so that what is planted stays (wine-run cleans C:).
packWith "$work/links.zip" disk1
unzip=$drive/Temp/_Download/_UnZip
plant() {
    rm -rf "$drive/Temp" "$drive/Product_Released" "$drive/outside"
    mkdir -p "$drive/outside" "$unzip" "$drive/Product_Released"
    echo keep >"$drive/outside/keep.txt"
    case $1 in
        level) ln -s "$drive/outside" "$unzip/disk1" ;;
        product) ln -s "$drive/outside" "$drive/Product_Released/Pellmoor" ;;
        hard) mkdir -p "$unzip/disk1" && ln "$drive/outside/keep.txt" "$unzip/disk1/DATA.TAG" ;;
    esac
}
for planted in "level 1" "product 0" "hard 0"; do
    set -- $planted
    plant "$1"
    before=$(cd "$drive/outside" && find . -printf '%p %s %T@\n' | sort; cat keep.txt)
    status=0
    timeout 300 wine "$(z "$exe")" </dev/null >"$work/links-$1.txt" 2>&1 || status=$?
    [ "$status" -eq "$2" ] || report "link at the $1: exit status $status, not $2"
    after=$(cd "$drive/outside" && find . -printf '%p %s %T@\n' | sort; cat keep.txt)
    [ "$before" = "$after" ] || report "link at the $1: the folder outside changed"
done
exit $fail
