#!/usr/bin/env bash
# The Windows packer under wine: packing the built launcher with another small archive
# gives a launcher whose payload resource is exactly prefix + that archive; packing the
# result again replaces the resource (no stacking); and every refusal writes nothing.
#   pack-exe.sh WINE-RUN PACK.exe LAUNCHER.exe DUMP-PAYLOAD.exe WORK-FOLDER
set -euo pipefail
wine_run=$1 pack=$2 launcher=$3 dump=$4 work=$5
rm -rf "$work/files"
mkdir -p "$work/files"
f=$work/files
# Host paths reach wine through drive Z:.
run() {
    local args=() a
    for a in "$@"; do
        case $a in /*) a="Z:${a//\//\\}" ;; esac
        args+=("$a")
    done
    "$wine_run" "$work/prefix" "${args[@]}"
}
fail() { echo "FAIL: $*" >&2; exit 1; }

python3 - "$f" <<'PY'
import sys, zipfile
d = sys.argv[1]
for name, body in (("a.zip", b"first"), ("b.zip", b"second, longer")):
    with zipfile.ZipFile(f"{d}/{name}", "w") as z:
        z.writestr("disk1/SETUP.EXE", body)
open(f"{d}/prefix.bin", "wb").write(bytes(range(54)))
open(f"{d}/short.bin", "wb").write(bytes(53))
open(f"{d}/not.zip", "wb").write(b"PK\x03\x04 but nothing more")
open(f"{d}/plain.exe", "wb").write(b"MZ not really")
PY
cp "$launcher" "$f/stub.exe"

# Packed with a given prefix, then packed again with the default one over the result.
run "$pack" --payload "$f/a.zip" --output "$f/one.exe" --stub "$f/stub.exe" --prefix "$f/prefix.bin"
run "$dump" "$f/one.exe" "$f/one.bin"
cat "$f/prefix.bin" "$f/a.zip" | cmp - "$f/one.bin" || fail "payload is not prefix + archive"
run "$pack" --payload "$f/b.zip" --output "$f/two.exe" --stub "$f/one.exe"
run "$dump" "$f/two.exe" "$f/two.bin"
[ "$(stat -c %s "$f/two.bin")" -eq $((54 + $(stat -c %s "$f/b.zip"))) ] || fail "repacking stacked"
tail -c +55 "$f/two.bin" | cmp - "$f/b.zip" || fail "repacked payload is not the new archive"
head -c 2 "$f/two.bin" | grep -q BM || fail "default prefix is no BMP header"
# Packing over an existing output replaces it whole.
run "$pack" --payload "$f/a.zip" --output "$f/two.exe" --stub "$f/one.exe" --prefix "$f/prefix.bin"
run "$dump" "$f/two.exe" "$f/again.bin"
cmp "$f/one.bin" "$f/again.bin" || fail "packing over an output did not replace it"

# Refusals: a clear message, a non-zero status, and no output nor temporary file.
# The packer itself is a PE without the payload resource type.
refuse() {
    local what=$1 expect=$2
    shift 2
    local before
    before=$(ls "$f" | sort)
    if run "$pack" "$@" --output "$f/refused.exe" 2>"$f/err.txt"; then
        fail "$what: accepted"
    fi
    grep -q -- "$expect" "$f/err.txt" || fail "$what: message was $(cat "$f/err.txt")"
    [ "$(ls "$f" | grep -v '^err.txt$' | sort)" = "$(echo "$before" | grep -v '^err.txt$')" ] ||
        fail "$what: something was written"
}
refuse "not a ZIP" "is refused" --payload "$f/not.zip" --stub "$f/stub.exe"
refuse "short prefix" "exactly 54" --payload "$f/a.zip" --stub "$f/stub.exe" --prefix "$f/short.bin"
refuse "no PE" "not a Windows executable" --payload "$f/a.zip" --stub "$f/plain.exe"
refuse "no payload type" "no TIMELISTINGS resource" --payload "$f/a.zip" --stub "$pack"
refuse "missing stub" "cannot read the stub" --payload "$f/a.zip" --stub "$f/none.exe"
echo "pack-exe: all checks passed"
