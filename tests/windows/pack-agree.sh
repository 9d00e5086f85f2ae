#!/usr/bin/env bash
# The two packers agree: the same archive packed into the Windows launcher by the Windows
# packer (under wine) and by the Linux packer gives the same resources, payload included;
# the same folder packed by each, and once more by the Linux packer and signed, gives
# launchers that run to the end under wine, unpack the same tree and run its SETUP.exe;
# and each packer's check reads the same from each launcher.
#   pack-agree.sh WINE-RUN WIN-PACK.exe LINUX-PACK LAUNCHER.exe SETUP.exe PELLMOOR WORK
set -euo pipefail
wine_run=$1 winpack=$2 linpack=$3 launcher=$4 setup=$5 pellmoor=$6 work=$7
here=$(cd "$(dirname "$0")" && pwd)
python=/usr/bin/python3  # Debian's, for which python3-pefile is installed

rm -rf "$work"
mkdir -p "$work/Set/Sub" "$work/Dist/Release" "$work/Dist/res"
work=$(cd "$work" && pwd)  # wine wants absolute paths
f=$work
z() { echo "Z:${1//\//\\}"; }
fail=0
report() { echo "FAIL: $*"; fail=1; }
winrun() { "$wine_run" "$work/wineprefix" "$@"; }

cp "$setup" "$f/Set/SETUP.EXE"
printf 'tag\r\n' >"$f/Set/DATA.TAG"
printf 'read me\r\n' >"$f/Set/Sub/readme.txt"
touch -d '2015-03-04 05:06:07' "$f/Set/DATA.TAG" "$f/Set/Sub/readme.txt"
(cd "$f" && "$python" -c '
import os, zipfile
with zipfile.ZipFile("set.zip", "w", zipfile.ZIP_DEFLATED) as z:
    for root, _, files in os.walk("Set"):
        for name in sorted(files):
            z.write(os.path.join(root, name))')
cp -r --preserve=timestamps "$pellmoor" "$f/Dist/res/Pellmoor"
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$f/key.pem" -out "$f/cert.pem" -days 2 \
    -subj "/CN=Ferrowick Test Signer" -addext extendedKeyUsage=codeSigning 2>/dev/null

# The same archive: the same resources, byte for byte.
winrun "$winpack" --payload "$(z "$f/set.zip")" --stub "$(z "$launcher")" \
    --output "$(z "$f/win-zip.exe")" >/dev/null || report "Windows packer, archive"
"$linpack" --payload "$f/set.zip" --stub "$launcher" --output "$f/lin-zip.exe" >/dev/null ||
    report "Linux packer, archive"
"$python" - "$f/win-zip.exe" "$f/lin-zip.exe" <<'PY' || report "the resources differ"
import sys, pefile
def resources(path):
    pe, found = pefile.PE(path), {}
    for t in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        for n in t.directory.entries:
            for lang in n.directory.entries:
                e = lang.data.struct
                found[(str(t.name or t.id), str(n.name or n.id), lang.id)] = pe.get_data(e.OffsetToData, e.Size)
    assert pe.verify_checksum(), path + ": checksum"
    return found
a, b = (resources(p) for p in sys.argv[1:])
different = sorted(k for k in set(a) | set(b) if a.get(k) != b.get(k))
if different:
    sys.exit("differ: %s" % different)
print("resources agree: %d, payload %d bytes" % (len(a), len(a[("TIMELISTINGS", "132", 1033)])))
PY

# The same folder, and a signed launcher.
winrun "$winpack" --folder "$(z "$f/Set")" --code-page 1252 --stub "$(z "$launcher")" \
    --output "$(z "$f/win.exe")" >/dev/null || report "Windows packer, folder"
"$linpack" --folder "$f/Set" --code-page 1252 --stub "$launcher" --output "$f/lin.exe" \
    >/dev/null || report "Linux packer, folder"
"$linpack" --folder "$f/Set" --code-page 1252 --stub "$launcher" --output "$f/signed.exe" \
    --sign-cert "$f/cert.pem" --sign-key "$f/key.pem" >"$f/signed.txt" || report "signing"
grep -q 'signature: valid (subject CN=Ferrowick Test Signer' "$f/signed.txt" ||
    report "signed: $(cat "$f/signed.txt")"
osslsigncode verify -CAfile "$f/cert.pem" -in "$f/signed.exe" >/dev/null ||
    report "osslsigncode does not verify the signed launcher"

for exe in win lin signed; do
    # Each packer's check reads the same payload from it, where Windows loads it.
    "$linpack" --check --launcher "$f/$exe.exe" --code-page 1252 >"$f/$exe-check-linux.txt" ||
        report "$exe: Linux check: $(cat "$f/$exe-check-linux.txt")"
    winrun "$winpack" --check --launcher "$(z "$f/$exe.exe")" --code-page 1252 |
        tr -d '\r' >"$f/$exe-check-windows.txt" || report "$exe: Windows check"
    grep -v '^signature:' "$f/$exe-check-linux.txt" >"$f/a.txt"
    grep -v '^signature:' "$f/$exe-check-windows.txt" >"$f/b.txt"
    diff "$f/a.txt" "$f/b.txt" || report "$exe: the two checks differ"
    grep -q '^payload: PE resource TIMELISTINGS/#132$' "$f/$exe-check-windows.txt" ||
        report "$exe: $(cat "$f/$exe-check-windows.txt")"

    # Run to the end under wine, beside the product's resource folder.
    cp "$f/$exe.exe" "$f/Dist/Release/ferrowick.exe"
    status=0
    timeout 300 "$wine_run" "$work/wineprefix" "$(z "$f/Dist/Release/ferrowick.exe")" \
        </dev/null >"$f/$exe-run.txt" 2>&1 || status=$?
    [ "$status" -eq 0 ] || report "$exe: the launcher exited with $status"
    drive=$work/wineprefix/drive_c
    grep -q "SETUP.EXE ran" "$drive/Temp/_Download/_UnZip/Set/SETUP.LOG" 2>/dev/null ||
        report "$exe: SETUP.exe did not run"
    mkdir -p "$f/trees/$exe"
    cp -a "$drive/Temp" "$drive/Product_Released" "$f/trees/$exe/"
done
grep -q '^signature: none$' "$f/lin-check-windows.txt" || report "unsigned: $(cat "$f/lin-check-windows.txt")"
# The trust provider names the subject as the system writes names.
grep -q '^signature: valid (subject .*Ferrowick Test Signer' "$f/signed-check-windows.txt" ||
    report "signed, as Windows checks it: $(cat "$f/signed-check-windows.txt")"
for exe in lin signed; do
    for folder in Temp/_Download/_UnZip Product_Released/Pellmoor; do
        "$python" "$here/check-tree.py" same "$f/trees/$exe/$folder" "$f/trees/win/$folder" \
            --ignore SETUP.LOG || report "$exe: $folder differs from the Windows-packed run"
    done
done

# The signed launcher's notices, as real windows.
if command -v xvfb-run >/dev/null; then
    xvfb-run -a bash "$here/notices-xvfb.sh" "$f/signed.exe" "$f/notices" 3 ||
        report "the signed launcher's notices"
fi
[ $fail -eq 0 ] && echo "pack-agree: all checks passed"
exit $fail
