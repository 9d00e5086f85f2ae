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

# A signed stub: its certificate table is dropped (it
# could only be broken), the checksum set, and the packer says to sign again.
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$f/key.pem" -out "$f/cert.pem" -days 2 \
    -subj "/CN=Ferrowick Test Signer" -addext extendedKeyUsage=codeSigning 2>/dev/null
osslsigncode sign -h sha256 -certs "$f/cert.pem" -key "$f/key.pem" -in "$f/stub.exe" \
    -out "$f/signed-stub.exe" >/dev/null
run "$pack" --payload "$f/a.zip" --output "$f/from-signed.exe" --stub "$f/signed-stub.exe" \
    >"$f/out.txt" 2>"$f/err.txt" || fail "packing over a signed stub: $(cat "$f/err.txt")"
grep -q "its signature is dropped.*sign .* again" "$f/err.txt" || fail "no word of the dropped signature"
grep -q "signature: none" "$f/out.txt" || fail "success line: $(cat "$f/out.txt")"
/usr/bin/python3 - "$f/from-signed.exe" <<'PY' || fail "the signed stub's launcher"
import sys, pefile
pe = pefile.PE(sys.argv[1])
table = pe.OPTIONAL_HEADER.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_SECURITY"]]
assert (table.VirtualAddress, table.Size) == (0, 0), "its certificate table is kept"
assert pe.verify_checksum(), "its checksum is wrong"
PY
run "$pack" --check --launcher "$f/from-signed.exe" | grep -q '^signature: none' ||
    fail "--check of the launcher packed over a signed stub"
run "$pack" --check --launcher "$f/signed-stub.exe" | grep -q '^signature: valid (subject ' ||
    fail "--check of the signed stub"
rm -f "$f"/*.pem "$f/signed-stub.exe" "$f/from-signed.exe" "$f/out.txt" "$f/err.txt"

# A folder packed in a code page: the payload holds the top folder first, then its
# contents in order, names as that code page's bytes, the read-only bit and the times.
folderCase() {
    local cp=$1 name=$2 tree=$f/tree-$1
    rm -rf "$tree"
    mkdir -p "$tree/Set/Sub"
    printf 'setup' >"$tree/Set/SETUP.EXE"
    printf 'text %s' "$cp" >"$tree/Set/Sub/$name"
    touch -d '2014-07-08 09:10:11' "$tree/Set/Sub/$name"
    chmod a-w "$tree/Set/Sub/$name"
    run "$pack" --folder "$tree/Set" --code-page "$cp" --output "$f/folder-$cp.exe" \
        --stub "$f/stub.exe" || fail "--folder in code page $cp"
    run "$dump" "$f/folder-$cp.exe" "$f/folder-$cp.bin"
    tail -c +55 "$f/folder-$cp.bin" >"$f/folder-$cp.zip"
    python3 - "$f/folder-$cp.zip" "$cp" "$name" "$tree/Set/Sub/$name" <<'PY' ||
import os, sys, time, zipfile
archive, cp, name, host = sys.argv[1:]
z = zipfile.ZipFile(archive)
infos = z.infolist()
raw = [i.orig_filename.encode("cp437") if not i.flag_bits & 0x800 else None for i in infos]
want = [b"Set/", b"Set/SETUP.EXE", b"Set/Sub/", b"Set/Sub/" + name.encode("cp" + cp)]
assert raw == want, (raw, want)
item = infos[3]
assert item.external_attr & 0x01, "read-only bit lost"
assert z.read(item) == ("text " + cp).encode(), "contents"
mtime = int(os.stat(host).st_mtime)
local = time.localtime(mtime)
assert item.date_time == local[:5] + (local[5] // 2 * 2,), item.date_time  # DOS: 2 s steps
assert item.extra[:2] == b"UT" and int.from_bytes(item.extra[5:9], "little") == mtime, item.extra
PY
        fail "--folder in code page $cp: payload differs"
    run "$pack" --check --launcher "$f/folder-$cp.exe" --code-page "$cp" >"$f/check.txt" ||
        fail "--check of the folder launcher in $cp: $(cat "$f/check.txt")"
    grep -q '^top folder: "Set", SETUP.exe in it' "$f/check.txt" || fail "plan: $(cat "$f/check.txt")"
    rm -rf "$tree"
}
folderCase 1252 "$(printf 'Caf\xc3\xa9.txt')"
folderCase 936 "$(printf '\xe6\x95\xb0\xe6\x8d\xae.txt')"
# A payload the launcher would trip over is checked with status 1 and packed only by force.
python3 - "$f/clash.zip" <<'PY'
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w") as z:
    z.writestr("disk1/SETUP.EXE", b"one")
    z.writestr("disk1/setup.exe", b"two")
PY
if run "$pack" --check --payload "$f/clash.zip" >"$f/check.txt"; then
    fail "--check passed a clash"
fi
grep -q '^problem: item 1 "disk1/setup.exe": it collides' "$f/check.txt" ||
    fail "clash: $(cat "$f/check.txt")"
run "$pack" --payload "$f/clash.zip" --output "$f/forced.exe" --stub "$f/stub.exe" --force ||
    fail "--force did not pack"
run "$pack" --version | grep -q '^ferrowick-pack (Ferrowick) ' || fail "--version"
rm -f "$f/check.txt" "$f/clash.zip" "$f/forced.exe" "$f"/folder-*

# Refusals: a clear message on one line, a non-zero status, and no output nor temporary
# file. The packer itself is a PE without resources.
refuse() {
    local what=$1 expect=$2
    shift 2
    local before
    before=$(ls "$f" | sort)
    if run "$pack" "$@" --output "$f/refused.exe" 2>"$f/err.txt"; then
        fail "$what: accepted"
    fi
    grep -q -- "$expect" "$f/err.txt" || fail "$what: message was $(cat "$f/err.txt")"
    # Only a payload's problems take a line each.
    [ "$(wc -l <"$f/err.txt")" -eq 1 ] || [ "$what" = "name outside the code page" ] ||
        fail "$what: more than one line: $(cat "$f/err.txt")"
    [ "$(ls "$f" | grep -v '^err.txt$' | sort)" = "$(echo "$before" | grep -v '^err.txt$')" ] ||
        fail "$what: something was written"
}
refuse "not a ZIP" "is refused" --payload "$f/not.zip" --stub "$f/stub.exe"
refuse "short prefix" "exactly 54" --payload "$f/a.zip" --stub "$f/stub.exe" --prefix "$f/short.bin"
refuse "no PE" "not a Windows executable" --payload "$f/a.zip" --stub "$f/plain.exe"
refuse "no resources" "it has no resource section" --payload "$f/a.zip" --stub "$pack"
refuse "an icon that is no icon" "the icon .*not.zip is refused: it is no icon file" \
    --payload "$f/a.zip" --stub "$f/stub.exe" --icon "$f/not.zip"
refuse "an unknown version key" 'unknown version key "Comments"' --payload "$f/a.zip" \
    --stub "$f/stub.exe" --version "Comments=none"
refuse "a FileVersion that is no version" 'FileVersion "2.x" is not a version' \
    --payload "$f/a.zip" --stub "$f/stub.exe" --version "FileVersion=2.x"
refuse "missing stub" "cannot read the stub" --payload "$f/a.zip" --stub "$f/none.exe"
mkdir -p "$f/Bad"
printf 'x' >"$f/Bad/$(printf '\xe6\x95\xb0').txt"
refuse "name outside the code page" "cannot be expressed in code page 1252" --folder "$f/Bad" \
    --code-page 1252 --stub "$f/stub.exe"
echo "pack-exe: all checks passed"
