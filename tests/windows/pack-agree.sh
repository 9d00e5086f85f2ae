#!/usr/bin/env bash
# The two packers agree: both write through one PE writer, so the Windows packer (under
# wine) and the Linux packer give the same bytes from the same archive over each stub of
# the table (the launcher as built, with a section after its resources, signed, with a
# payload table appended), and from the same folder with a new icon and version. What
# the Windows packer wrote over a signed stub the Linux packer's check reads as sound.
# The new icon and version are read by python3-pefile and by Windows' own calls
# (GetFileVersionInfo, ExtractIconEx) under wine; the launcher with them, and once more
# packed by the Linux packer and signed, runs to the end under wine, unpacks the same
# tree and runs its SETUP.exe; and each packer's check reads the same from each.
#   pack-agree.sh WINE-RUN WIN-PACK.exe LINUX-PACK LAUNCHER.exe SETUP.exe LOOKS.exe PELLMOOR WORK
set -euo pipefail
wine_run=$1 winpack=$2 linpack=$3 launcher=$4 setup=$5 looks=$6 pellmoor=$7 work=$8
here=$(cd "$(dirname "$0")" && pwd)
python=/usr/bin/python3  # Debian's, for which python3-pefile is installed
pe_tool=$here/../pe/pe-tool.py

rm -rf "$work"
mkdir -p "$work/Set/Sub" "$work/Dist/Release" "$work/Dist/res" "$work/stubs"
work=$(cd "$work" && pwd)  # wine wants absolute paths
f=$work
z() { echo "Z:${1//\//\\}"; }
fail=0
report() { echo "FAIL: $*"; fail=1; }
winrun() { "$wine_run" "$work/wineprefix" "$@"; }

cp "$setup" "$f/Set/SETUP.EXE"
printf 'tag\r\n' >"$f/Set/DATA.TAG"
printf 'read me\r\n' >"$f/Set/Sub/readme.txt"
# Data that does not compress, more than the built launcher carries: its resource section
# grows, and the sections after it move.
"$python" -c 'import random, sys; sys.stdout.buffer.write(random.Random(7).randbytes(3 << 20))' \
    >"$f/Set/Sub/noise.bin"
touch -d '2015-03-04 05:06:07' "$f/Set/SETUP.EXE" "$f/Set/DATA.TAG" "$f/Set/Sub/readme.txt" \
    "$f/Set/Sub/noise.bin"
# A last access after the last write and within a day: reading the files for one packer
# does not move it (relatime) before the other reads it.
touch -a -d '1 hour ago' "$f/Set/SETUP.EXE" "$f/Set/DATA.TAG" "$f/Set/Sub/readme.txt" \
    "$f/Set/Sub/noise.bin"
(cd "$f" && "$python" -c '
import os, zipfile
with zipfile.ZipFile("set.zip", "w", zipfile.ZIP_DEFLATED) as z:
    for root, _, files in os.walk("Set"):
        for name in sorted(files):
            z.write(os.path.join(root, name))')
cp -r --preserve=timestamps "$pellmoor" "$f/Dist/res/Pellmoor"
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$f/key.pem" -out "$f/cert.pem" -days 2 \
    -subj "/CN=Ferrowick Test Signer" -addext extendedKeyUsage=codeSigning 2>/dev/null
"$python" "$pe_tool" make-icon "$f/new.ico"

# The table of stubs.
s=$f/stubs
cp "$launcher" "$s/built.exe"
"$python" "$pe_tool" add-section "$launcher" "$s/after.exe" .fwnote discardable
osslsigncode sign -h sha256 -certs "$f/cert.pem" -key "$f/key.pem" -in "$launcher" \
    -out "$s/signed.exe" >/dev/null
"$python" "$pe_tool" append-table "$launcher" "$s/appended.exe"

# The same archive over each stub: the same bytes, which the Linux check reads as sound.
for stub in built after signed appended; do
    winrun "$winpack" --payload "$(z "$f/set.zip")" --stub "$(z "$s/$stub.exe")" \
        --output "$(z "$s/win-$stub.exe")" >/dev/null 2>"$s/win-$stub.err" ||
        report "$stub: Windows packer: $(cat "$s/win-$stub.err")"
    "$linpack" --payload "$f/set.zip" --stub "$s/$stub.exe" --output "$s/lin-$stub.exe" \
        >/dev/null 2>"$s/lin-$stub.err" || report "$stub: Linux packer: $(cat "$s/lin-$stub.err")"
    cmp "$s/win-$stub.exe" "$s/lin-$stub.exe" || report "$stub: the two packers' launchers differ"
    "$linpack" --check --launcher "$s/win-$stub.exe" >"$s/check-$stub.txt" 2>&1 ||
        report "$stub: the Linux check of the Windows packer's launcher: $(cat "$s/check-$stub.txt")"
done
grep -q "its signature is dropped.*sign .* again" "$s/win-signed.err" ||
    report "signed: no word of the dropped signature: $(cat "$s/win-signed.err")"
grep -q '^signature: none$' "$s/check-signed.txt" || report "signed: $(cat "$s/check-signed.txt")"

# The same folder with a new icon and version, and a signed launcher.
version=(--version "CompanyName=Orvelin Ltd" --version FileVersion=2.1.0.7
    --version "ProductName=Orvelin")
winrun "$winpack" --folder "$(z "$f/Set")" --code-page 1252 --stub "$(z "$launcher")" \
    --output "$(z "$f/win.exe")" --icon "$(z "$f/new.ico")" "${version[@]}" >/dev/null ||
    report "Windows packer, folder"
"$linpack" --folder "$f/Set" --code-page 1252 --stub "$launcher" --output "$f/lin.exe" \
    --icon "$f/new.ico" "${version[@]}" >/dev/null || report "Linux packer, folder"
cmp "$f/win.exe" "$f/lin.exe" || report "the two packers' launchers of one folder differ"
"$linpack" --folder "$f/Set" --code-page 1252 --stub "$launcher" --output "$f/signed.exe" \
    --icon "$f/new.ico" "${version[@]}" --sign-cert "$f/cert.pem" --sign-key "$f/key.pem" >"$f/signed.txt" ||
    report "signing"
grep -q 'signature: valid (subject CN=Ferrowick Test Signer' "$f/signed.txt" ||
    report "signed: $(cat "$f/signed.txt")"
osslsigncode verify -CAfile "$f/cert.pem" -in "$f/signed.exe" >/dev/null ||
    report "osslsigncode does not verify the signed launcher"

# The new icon and version, as python3-pefile reads them and as Windows does.
"$python" "$pe_tool" looks "$f/win.exe" >"$f/looks-pefile.txt"
for line in "icon 48x48 32 bits" "icon 32x32 32 bits" "icon 16x16 32 bits" \
    "CompanyName=Orvelin Ltd" "FileVersion=2.1.0.7" "ProductName=Orvelin" \
    "FileDescription=Ferrowick MFC Application" "fixed file version: 2.1.0.7"; do
    grep -q "^$line" "$f/looks-pefile.txt" || report "pefile does not read \"$line\": $(cat "$f/looks-pefile.txt")"
done
winrun "$looks" "$(z "$f/win.exe")" | tr -d '\r' >"$f/looks-windows.txt" ||
    report "Windows' calls: $(cat "$f/looks-windows.txt")"
for line in "CompanyName=Orvelin Ltd" "FileVersion=2.1.0.7" "ProductName=Orvelin" \
    "fixed file version: 2.1.0.7" "fixed product version: 1.0.0.1" "icon groups: 1" \
    "large icon middle: 2080E0" "first group, for 48 pixels: 48x48"; do
    grep -qx "$line" "$f/looks-windows.txt" ||
        report "GetFileVersionInfo or ExtractIconEx does not read \"$line\": $(cat "$f/looks-windows.txt")"
done

for exe in win signed; do
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
    grep -q '^version string: CompanyName "Orvelin Ltd"$' "$f/$exe-check-linux.txt" ||
        report "$exe: the check does not tell the version: $(cat "$f/$exe-check-linux.txt")"

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
grep -q '^signature: none$' "$f/win-check-windows.txt" || report "unsigned: $(cat "$f/win-check-windows.txt")"
# The trust provider names the subject as the system writes names.
grep -q '^signature: valid (subject .*Ferrowick Test Signer' "$f/signed-check-windows.txt" ||
    report "signed, as Windows checks it: $(cat "$f/signed-check-windows.txt")"
for folder in Temp/_Download/_UnZip Product_Released/Pellmoor; do
    "$python" "$here/check-tree.py" same "$f/trees/signed/$folder" "$f/trees/win/$folder" \
        --ignore SETUP.LOG || report "signed: $folder differs from the Windows-packed run"
done

# The signed launcher's notices, as real windows.
if command -v xvfb-run >/dev/null; then
    xvfb-run -a bash "$here/notices-xvfb.sh" "$f/signed.exe" "$f/notices" 3 ||
        report "the signed launcher's notices"
fi
[ $fail -eq 0 ] && echo "pack-agree: all checks passed"
exit $fail
