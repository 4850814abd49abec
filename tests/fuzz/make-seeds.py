#!/usr/bin/env python3
"""Writes the seed corpora of the parser, cipher and command-line fuzz
targets: well-formed and almost-well-formed inputs of each parser, so the
fuzzer starts from the interesting shapes. Beside the seeds live the inputs
merged in from fuzzing runs (named by their SHA-1) and past findings (named
finding-*); this script only rewrites the seed-* files."""
import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))


def write(target, name, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def utf16(text):
    return text.encode("utf-16-le", "surrogatepass")


# core_parsers: first byte picks the parser (see CoreParsersFuzz.cpp).
PARSERS = {
    0: ["2024-02-29 23:59:59.999", "0001-01-01 00:00:00.000", "9999-12-31 23:59:59.999",
        "1899-12-30 00:00:00.000", "1899-12-29 06:00:00.5", "2023-02-29 00:00:00.000",
        "2024-1-2 3:4:5", "", " 2024-01-01 00:00:00.000", "2024-01-01T00:00:00"],
    1: ["2024-02-29", "0000-01-01", "10000-01-01", "2024-13-01", "-2024-01-01"],
    2: ["23:59:59.999", "24:00:00.000", "12:00:00.5", "12:00", "12:00:00.1234"],
    3: ["", "0x", "0x00FFab", "0X0", "0x0g", "0xABC", "1x00"],
    4: ["\u0004" + "0x01020304", "\u003f" + "0x", "\u0002" + "0x0"],
    5: ["401,0", "-5,-1", "9223372036854775807,2147483647", "1,2,3", ",", "1,",
        "-9223372036854775808,-2147483648", "9223372036854775808,0"],
    6: ["401,0;402,1", "", "1,1;;2,2", "1,1;", "3,0;1,0;2,0"],
    8: [";\u0001a=1;b=2;c", "\r\u0000line1\r\nline2", "=\u0001==", ",\u0000a,,b,", "\u0000\u0001a\u0000b"],
    9: ["0", "-0", "+12", "2147483648", "-9223372036854775808", "1.5", "1E-7", "-1.5E20",
        "INF", "NAN", "1e400", ".5", "5.", "0x10"],
}
for which, texts in PARSERS.items():
    for i, text in enumerate(texts):
        write("core_parsers", f"seed-{which}-{i}", bytes([which]) + utf16(text))
# Binary identifier lists: a count, then 12 bytes per item; one short of it.
write("core_parsers", "seed-7-0", bytes([7]) + struct.pack("<iqi", 1, 401, 0))
write("core_parsers", "seed-7-1", bytes([7]) + struct.pack("<iqi", 2, 401, 0))
write("core_parsers", "seed-7-2", bytes([7]) + struct.pack("<i", -1))
write("core_parsers", "seed-7-3", bytes([7]))

# aes: first byte picks the key (0 built-in, 1..3 from the input, else a
# wrong length), the rest is the cipher text.
write("aes", "seed-system-empty", bytes([0]))
write("aes", "seed-system-block", bytes([0]) + bytes(range(16)))
write("aes", "seed-system-two", bytes([0]) + bytes(range(32)))
write("aes", "seed-system-odd", bytes([0]) + bytes(range(17)))
write("aes", "seed-key16", bytes([1]) + bytes(16) + bytes(range(48)))
write("aes", "seed-key24", bytes([2]) + bytes(range(24)) + bytes(32))
write("aes", "seed-key32", bytes([3]) + bytes(range(32)) + bytes(16))
write("aes", "seed-key-short", bytes([4 + 5 * 3]) + bytes(16))

# splitter: one command line as UTF-16 code units.
LINES = [
    '"/opt/my tools/Lifter.exe" -SA B "-SA B" -P"x y"',
    'prog a\\\\"b c" d\\"e f\\\\\\"g',
    'prog "a""b" "" """" \\\\ \\\\\\\\"',
    '   ', '"', 'prog "unterminated', 'prog\t\ta\t"b\tc"',
    '"quoted prog"x y', 'prog \\"\\\\"\\\\\\"',
]
for i, line in enumerate(LINES):
    write("splitter", f"seed-{i}", utf16(line))

# Command lines: NUL-separated UTF-8 arguments (bad bytes included).
def args(*items):
    return b"\0".join(items)

UPLINER = [
    args(), args(b"-li"), args(b"-ad", b"-n10;20"), args(b"-ea", b"-li"), args(b"-lx"),
    args(b"-n"), args(b"-n1"), args(b"-n1;x"), args(b"-n1;2;3"), args(b"-xyz"), args(b""),
    args(b"li"), args(b"-"), args(b"-l\xff"), args(b"-n\xc3\x28;1"), args(b"\"\"\"\""),
    args(b"-n99999999999;1"), args(b"-la", b"-li"),
]
for i, data in enumerate(UPLINER):
    write("upliner_cmdline", f"seed-{i}", data)

BUNDLET = [
    args(b"-Aza", b"-D/tmp/src", b"-Z/tmp/a.zip"),
    args(b"-Azp", b"-D/tmp/a\\\\sub", b"-D/tmp/b\\\\f.txt", b"-Z/tmp/a.zip"),
    args(b"-Aua", b"-D/tmp/out", b"-Z/tmp/a.zip"),
    args(b"-Aza", b"-D/a", b"-D/b", b"-Zx"), args(b"-D/tmp", b"-Aza"), args(b"-Azp", b"-D\\\\x"),
    args(b"-Aza"), args(b""), args(b"-"), args(b"-Z"), args(b"-Axx"), args(b"-D\xff\xfe", b"-Z\x80"),
    args(b"\\\\\\\\"), args(b"-Azp", b"-Dab\\\\", b"-Z."),
]
for i, data in enumerate(BUNDLET):
    write("bundlet_cmdline", f"seed-{i}", data)

# text_codecs: first byte picks the conversion (see TextCodecsFuzz.cpp).
TEXTS = [
    (0, b"line1\r\nline2\nline3\rline4"), (0, b"\xef\xbb\xbfUTF-8 mark\r\n"),
    (0, b"\xff\xfeA\x00\r\x00\n\x00B\x00"), (0, b"\xfe\xff\x00A\x00\n"), (0, b"\xff\xfe\x00\xd8"),
    (0, b"\x80\xff\xc3\x28 bad\n\xed\xa0\x80\n"), (0, b""),
    (1, "Grüße €uro 日本 😀".encode()), (1, b"\xc0\xaf\xe0\x80\xaf\xf4\x90\x80\x80\xed\xa0\x80"),
    (2, utf16("Grüße 😀")), (2, b"\x00\xd8\x41\x00\x00\xdc"),
    (3, bytes(range(256))), (4, bytes(range(256))), (5, "Grüße".encode()),
    (6, utf16("Grüße € Ω")), (7, utf16("Grüße € Ω ╔═╗")),
]
for i, (which, data) in enumerate(TEXTS):
    write("text_codecs", f"seed-{which}-{i}", bytes([which]) + data)
