#!/usr/bin/env bash
# Peak memory of ombrix-filter on pictures whose size is claimed or real, against the working
# image (4 bytes a pixel). Not a test: it prints figures.
#   scripts/memory-peak.sh [SIDE]   SIDE: the square PNG's side (default 8192)
# Needs python3 (to write the large files quickly) and GNU time.
set -euo pipefail
side=${1:-8192}
cd "$(dirname "$0")/.."
build=${OMBRIX_TEST_BUILD_DIR:-build/test}
cmake --build "$build" --target ombrix-filter >/dev/null
tool=$build/tools/ombrix-filter
work=$(mktemp -d -t ombrix-memory.XXXXXX)
trap 'rm -rf "$work"' EXIT

python3 - "$work" "$side" <<'PY'
import struct, sys, zlib
work, side = sys.argv[1], int(sys.argv[2])
def chunk(kind, body):
    return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))
# An RGB picture of one colour: every row is filter byte 0 then the same pixels.
row = b"\0" + b"\x40\x80\xc0" * side
data = zlib.compressobj(9)
idat = b"".join(data.compress(row) for _ in range(side)) + data.flush()
with open(f"{work}/big.png", "wb") as f:
    f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", side, side, 8, 2, 0, 0, 0))
            + chunk(b"IDAT", idat) + chunk(b"IEND", b""))
PY
# A JPEG of 16 x 16 whose header claims 16000 x 16000.
convert -size 16x16 gradient:red-blue "$work/small.jpg"
python3 - "$work" <<'PY'
import sys
work = sys.argv[1]
data = bytearray(open(f"{work}/small.jpg", "rb").read())
frame = data.find(b"\xff\xc0")
data[frame + 5:frame + 9] = (16000).to_bytes(2, "big") * 2
open(f"{work}/claims.jpg", "wb").write(data)
PY

peak() {  # peak FILE: the tool's maximum resident size in MB
  /usr/bin/time -f '%M' -o "$work/peak" "$tool" Average "$1" "$work/out.png" 2>/dev/null || true
  echo $(($(tail -1 "$work/peak") / 1024))
}
working=$((side * side * 4 / 1048576))
echo "PNG ${side} x ${side} ($(($(stat -c %s "$work/big.png") / 1024)) KB): peak $(peak "$work/big.png") MB, working image ${working} MB"
echo "JPEG claiming 16000 x 16000 ($(stat -c %s "$work/claims.jpg") bytes): peak $(peak "$work/claims.jpg") MB"
