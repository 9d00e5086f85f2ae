#!/usr/bin/env bash
# The Windows launcher's protections on a shared machine, as far as wine shows them:
#   launcher-security.sh PE-TOOL LAUNCHER.exe SETUP.exe PLANTED.dll PELLMOOR-FOLDER WORK
# - the image imports SetDefaultDllDirectories (and the line on its dependent-load flags
#   is printed: Debian's linker cannot set them);
# - a uxtheme.dll planted beside the launcher, which the first notice loads by name, is
#   not loaded, even with wine told to take a native DLL first: the search is the system
#   folder's only;
# - without COMSPEC, a cmd.exe planted beside the launcher is not run, under /S or not;
# - C:\Temp\_Download owned by another Unix user (wine reads it as Anonymous's) is
#   refused: status 1, nothing unpacked; folders of our own open to all are tightened
#   (wine turns the new rules into a new mode) and the run ends with status 0;
# - an earlier set's tree, with a read-only file and a folder whose name ends in a blank,
#   is gone after the run (a link to a folder is not planted: wine 8 cannot remove one,
#   where Windows' RemoveDirectory removes a junction or a folder's link itself);
# - a second launcher while one runs ends with status 3; the lock file goes with the run.
# Wine keeps no access list and enforces none, and runs every program as one user: that
# another Windows user can neither change these folders nor take the lock is not shown.
set -euo pipefail
pe_tool=$1 launcher=$2 setup=$3 planted=$4 pellmoor=$5 work=$6
here=$(cd "$(dirname "$0")" && pwd)

. "$here/fresh-prefix.sh" "$work"
unset DISPLAY WAYLAND_DISPLAY  # message boxes return at once
drive=$WINEPREFIX/drive_c
mkdir -p "$drive/Dist/Release" "$drive/Dist/res"
cp "$launcher" "$drive/Dist/Release/ferrowick.exe"
cp -r "$pellmoor" "$drive/Dist/res/Pellmoor"
exe='C:\Dist\Release\ferrowick.exe'
download=$drive/Temp/_Download
unzip=$download/_UnZip
fail=0
report() {
    echo "$*"
    fail=1
}
fresh() {
    rm -rf "$drive/Temp" "$drive/Product_Released" "$drive/planted-dll-loaded.txt" \
        "$drive/Dist/Release/SETUP.LOG"
}
# Runs a program under wine; its exit status in `status`.
run() {
    status=0
    timeout 300 wine "$@" </dev/null >>"$work/output.txt" 2>&1 || status=$?
}
setup_ran() { grep -q "SETUP.EXE ran" "$unzip/disk1/SETUP.LOG" 2>/dev/null; }
expect_run() {  # WHAT: status 0 and SETUP.exe run
    [ "$status" -eq 0 ] || report "$1: exit status $status"
    setup_ran || report "$1: SETUP.exe did not run"
}

imports=$("$pe_tool" imports "$launcher")
grep -qx 'KERNEL32.dll!SetDefaultDllDirectories' <<<"$imports" ||
    report "the launcher does not import SetDefaultDllDirectories"
grep '^dependent load flags: ' <<<"$imports"

fresh
cp "$planted" "$drive/Dist/Release/uxtheme.dll"
WINEDLLOVERRIDES="$WINEDLLOVERRIDES;uxtheme=n,b" run "$exe"
expect_run "a DLL planted beside the launcher"
[ ! -e "$drive/planted-dll-loaded.txt" ] ||
    report "a DLL planted beside the launcher was loaded: $(cat "$drive/planted-dll-loaded.txt")"
rm "$drive/Dist/Release/uxtheme.dll"

cp "$setup" "$drive/Dist/Release/cmd.exe"
for switches in "" "/S"; do
    fresh
    run cmd.exe /c "set COMSPEC=&& $exe $switches"
    expect_run "without COMSPEC ($switches)"
    [ ! -e "$drive/Dist/Release/SETUP.LOG" ] ||
        report "without COMSPEC ($switches): the cmd.exe beside the launcher ran"
done
rm "$drive/Dist/Release/cmd.exe"

if [ "$(id -u)" -eq 0 ]; then
    fresh
    mkdir -p "$download"
    chown 4242:4242 "$download"
    run "$exe"
    [ "$status" -eq 1 ] || report "C:\\Temp\\_Download of another user: exit status $status"
    [ ! -e "$unzip" ] || report "C:\\Temp\\_Download of another user: the staging folder was made"
else
    echo "not run as root: no folder of another user can be made, so that case is left out"
fi

fresh
mkdir -p "$unzip"
chmod 0777 "$download" "$unzip"
run "$exe"
expect_run "folders of our own, open to all"
# Wine's rules stand for the owner and for everyone: it leaves the group's bits alone.
for folder in "$download" "$unzip"; do
    mode=$(stat -c %a "$folder")
    [ $((8#$mode & 8#002)) -eq 0 ] || report "$folder is still open to others: mode $mode"
done

fresh
mkdir -p "$unzip/extras" "$unzip/disk1 /old"
echo v1 >"$unzip/extras/stale-from-v1.txt"
echo v1 >"$unzip/disk1 /old/x.txt"
echo v1 >"$unzip/read-only.txt"
chmod 0444 "$unzip/read-only.txt"
run "$exe"
expect_run "an earlier set's tree"
for left in extras "disk1 " read-only.txt; do
    [ ! -e "$unzip/$left" ] || report "an earlier set's $left stayed"
done

fresh
(
    timeout 300 wine "$exe" </dev/null >"$work/first.txt" 2>&1 && echo 0 >"$work/first.status" ||
        echo $? >"$work/first.status"
) &
for _ in $(seq 600); do
    [ -e "$download/Ferrowick.lock" ] && break
    sleep 0.1
done
[ -e "$download/Ferrowick.lock" ] || report "the first launcher took no lock file"
run "$exe"
[ "$status" -eq 3 ] || report "a second launcher: exit status $status"
wait
[ "$(cat "$work/first.status")" -eq 0 ] || report "the first launcher: exit status $(cat "$work/first.status")"
setup_ran || report "the first launcher: SETUP.exe did not run"
[ ! -e "$download/Ferrowick.lock" ] || report "the lock file stayed after the run"
exit $fail
