#!/usr/bin/env bash
# The Linux launcher and the Windows launcher (under wine) on the same payload must leave
# the same tree: names, contents, last-write times and read-only bits, both under the
# staging folder and in the product folder.
#   differential.sh PACKER STUB WINDOWS-E2E-FOLDER SAMPLE.zip PELLMOOR WORK [LOCALE [TOP]]
# WINDOWS-E2E-FOLDER is what launcher-e2e.sh (or launch-quoting.sh) left for the same
# payload and locale. The set-up program's record is left out of the comparison (its
# times differ); with TOP, both sides must have run TOP's set-up program.
set -euo pipefail
pack=$1 stub=$2 windows=$3 sample=$4 pellmoor=$5 work=$6 locale=${7:-C.UTF-8} top=${8:-}
here=$(cd "$(dirname "$0")" && pwd)

rm -rf "$work"
mkdir -p "$work/Dist/Release" "$work/Dist/res" "$work/prefix/drive_c"
work=$(cd "$work" && pwd)  # wine wants an absolute prefix
"$pack" --stub "$stub" --payload "$sample" --output "$work/Dist/Release/ferrowick" >/dev/null
cp -r --preserve=timestamps "$pellmoor" "$work/Dist/res/Pellmoor"
FERROWICK_PREFIX=$work/prefix LC_ALL=$locale timeout 300 "$work/Dist/Release/ferrowick" \
    </dev/null >"$work/stdout.txt" 2>&1

fail=0
for folder in Temp/_Download/_UnZip Product_Released/Pellmoor; do
    python3 "$here/check-tree.py" same "$work/prefix/drive_c/$folder" \
        "$windows/prefix/drive_c/$folder" --ignore SETUP.LOG || fail=1
done
if [ -n "$top" ]; then
    for side in "$work" "$windows"; do
        grep -q "SETUP.EXE ran" "$side/prefix/drive_c/Temp/_Download/_UnZip/$top/SETUP.LOG" ||
            { echo "'$top': SETUP.exe was not reached in $side"; fail=1; }
    done
fi
exit $fail
