#!/usr/bin/env bash
# A real NSIS installer as SETUP.exe, built here by makensis: started by the launcher with
# "/S -- /S /D=C:\Program Files\Orvelin Space", it must install into that folder, which
# it takes only when "/D=" comes last and unquoted, and the launcher must end with its
# status. The same installer started by wine with the same arguments shows why it
# matters: wine quotes the argument with blanks, and NSIS then takes its default folder.
#   nsis-install.sh MAKENSIS PACK.exe LAUNCHER.exe EXIT-STATUS.exe PELLMOOR-FOLDER WORK
set -euo pipefail
makensis=$1 pack=$2 launcher=$3 helper=$4 pellmoor=$5 work=$6
rm -rf "$work"
mkdir -p "$work"
work=$(cd "$work" && pwd) # wine wants absolute paths
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=
unset DISPLAY WAYLAND_DISPLAY
wineboot -i >/dev/null 2>&1
wineserver -w
drive=$WINEPREFIX/drive_c
z() { printf "Z:%s" "${1//\//\\}"; }
fail=0
report() {
    echo "FAIL: $*"
    fail=1
}

# A silent 64-bit installer (wine runs 64-bit programs here) that records the folder it
# installed into and the command line it was given.
cat >"$work/setup.nsi" <<'NSI'
Target amd64-unicode
Name "Orvelin"
OutFile "SETUP.exe"
InstallDir "C:\Orvelin Default"
RequestExecutionLevel user
SilentInstall silent
Section
  SetOutPath "$INSTDIR"
  FileOpen $0 "$INSTDIR\installed.txt" w
  FileWrite $0 "installed into $INSTDIR$\r$\n"
  FileClose $0
SectionEnd
NSI
(cd "$work" && "$makensis" -V1 setup.nsi >makensis.txt 2>&1) || {
    cat "$work/makensis.txt"
    report "makensis failed"
    exit 1
}
python3 - "$work/payload.zip" "$work/SETUP.exe" <<'PY'
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_DEFLATED) as z:
    z.writestr("disk1/DATA.TAG", b"tag\r\n")
    z.write(sys.argv[2], "disk1/SETUP.EXE")
PY
mkdir -p "$drive/Dist/Release" "$drive/Dist/res"
cp -r "$pellmoor" "$drive/Dist/res/Pellmoor"
cp "$pack" "$work/pack.exe"
cp "$launcher" "$work/stub.exe"
cp "$helper" "$work/exit-status.exe"
wine "$(z "$work/pack.exe")" --payload "$(z "$work/payload.zip")" --stub "$(z "$work/stub.exe")" \
    --output 'C:\Dist\Release\ferrowick.exe' >"$work/pack.txt" 2>&1 ||
    report "the launcher could not be packed: $(cat "$work/pack.txt")"

wanted="$drive/Program Files/Orvelin Space"
printf '%s' '"C:\Dist\Release\ferrowick.exe" /S -- /S /D=C:\Program Files\Orvelin Space' >"$work/line.txt"
timeout 300 wine "$(z "$work/exit-status.exe")" "@$(z "$work/line.txt")" >"$work/run.txt" 2>&1 ||
    report "the run did not end by itself"
tr -d '\r' <"$work/run.txt" | grep -qx 'exit status 0' || report "exit status: $(cat "$work/run.txt")"
tr -d '\r' <"$wanted/installed.txt" 2>/dev/null | grep -qx 'installed into C:\\Program Files\\Orvelin Space' ||
    report "the installer did not install into C:\\Program Files\\Orvelin Space"
[ ! -e "$drive/Orvelin Default" ] || report "the installer took its default folder"
log=$drive/Temp/_Download/Ferrowick.log
tr -d '\r' <"$log" | grep -qF '] launch command: "C:\Temp\_Download\_UnZip\disk1\SETUP.exe" /S /D=C:\Program Files\Orvelin Space' ||
    report "the log does not show the launch as given"

# The same installer and arguments through wine's own quoting: its default folder.
rm -rf "$wanted"
cp "$work/SETUP.exe" "$drive/setup-alone.exe"
wine 'C:\setup-alone.exe' /S '/D=C:\Program Files\Orvelin Space' >/dev/null 2>&1 || true
wineserver -w
if [ -e "$drive/Orvelin Default/installed.txt" ] && [ ! -e "$wanted" ]; then
    echo "wine's own quoting of the same arguments: installed into C:\\Orvelin Default"
else
    echo "wine's own quoting of the same arguments: not into the default folder (wine quotes differently here)"
fi

[ $fail -eq 0 ] && echo "NSIS installer: installed into C:\\Program Files\\Orvelin Space"
exit $fail
