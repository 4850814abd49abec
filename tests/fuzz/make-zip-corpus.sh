#!/usr/bin/env bash
# Regenerates the seed corpus of the ZIP fuzz target: small archives written
# by peer tools in every variant the reading tests cover (deflate, stored,
# data descriptors, Zip64 extras, UTF-8 and CP437 names, comments, a stub).
set -euo pipefail
out=$(cd "$(dirname "$0")" && pwd)/corpus/zip
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$out" "$work/src/sub"
cd "$work/src"
printf 'hello hello hello hello\n' > a.txt
printf 'x' > one.bin
: > empty.dat
printf 'inner\n' > sub/inner.txt
printf 'name\n' > "Grüße €.txt"
zip -qr "$out/zip-deflate.zip" .
zip -qr0 "$out/zip-stored.zip" .
zip -qr -fd "$out/zip-descriptors.zip" .
zip -qr -fz "$out/zip-zip64.zip" .
echo "comment" | zip -qz "$out/zip-deflate.zip"
{ printf 'STUB-STUB-STUB'; cat "$out/zip-stored.zip"; } > "$out/zip-stub.zip"
7z a -tzip "$out/7z.zip" . >/dev/null
bsdtar -cf "$out/bsdtar.zip" --format zip .
python3 - "$out" <<'PY'
import sys, zipfile, io
out = sys.argv[1]
class Unseekable(io.RawIOBase):
    def __init__(self, f): self.f = f
    def writable(self): return True
    def write(self, b): return self.f.write(b)
for variant in ("plain", "descriptors", "zip64"):
    raw = open(f"{out}/py-{variant}.zip", "wb")
    target = Unseekable(raw) if variant == "descriptors" else raw
    with zipfile.ZipFile(target, "w") as z:
        z.comment = b"python"
        for i, name in enumerate(["a.txt", "GrXYe.txt", "dir/", "dir/b.txt"]):
            info = zipfile.ZipInfo(name, (2021, 3, 4, 5, 6, 8))
            info.compress_type = zipfile.ZIP_DEFLATED if i % 2 == 0 else zipfile.ZIP_STORED
            with z.open(info, "w", force_zip64=(variant == "zip64")) as f:
                f.write(b"data " * (i * 10))
    raw.close()
    blob = open(f"{out}/py-{variant}.zip", "rb").read().replace(b"GrXYe.txt", "Grüße.txt".encode("cp437"))
    open(f"{out}/py-{variant}.zip", "wb").write(blob)
# Damaged forms: the central directory cut off, and an empty archive.
blob = open(f"{out}/py-plain.zip", "rb").read()
open(f"{out}/cut.zip", "wb").write(blob[: blob.find(b"PK\x01\x02") + 20])
open(f"{out}/empty.zip", "wb").write(b"PK\x05\x06" + bytes(18))
PY
ls -la "$out"
