#!/usr/bin/env bash
# Writes zip-fz.zip and zip-stream.zip beside this script with the zip command:
# - zip-fz.zip: "zip -fz", which forces Zip64: each central entry keeps 0xFFFFFFFF as its
#   uncompressed size and the real one in its Zip64 extra block;
# - zip-stream.zip: written to a pipe, so zip ends it with a Zip64 end record and locator
#   (and its one item, "-", has Zip64 local sizes).
# The archive reader's tests unpack both, the second also behind a self-extractor's stub.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
mkdir set
printf 'hello\n' >set/a.txt
for i in $(seq 1 200); do echo "line $i of a text that deflates"; done >set/b.txt
touch -d '2008-06-01 12:00:00 UTC' set/a.txt set/b.txt set
rm -f "$here/zip-fz.zip" "$here/zip-stream.zip"
(cd set && TZ=UTC zip -q -X -fz "$here/zip-fz.zip" a.txt b.txt)
printf 'from a pipe\n' | TZ=UTC zip -q -X - - >"$here/zip-stream.zip"
