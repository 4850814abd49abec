"""Builds ZIP archives byte by byte, sound ones of any shape and damaged or
hostile ones, for the unpacking tests, the differential check and the
benchmarks.

    from zipcraft import Entry, build
    archive = build([Entry("a.txt", b"alpha"), Entry("dir/", attr=0x10)])

An Entry describes one entry as a writer would store it; every field that a
damaged or hostile archive may get wrong can be set apart for the local
header and for the central directory. build() lays the entries out, writes
the central directory and the end record, and returns a Built: the bytes
and where each part starts, so a test can cut or overwrite exactly there.
"""
import struct
import zlib

LOCAL = 0x04034B50
CENTRAL = 0x02014B50
END = 0x06054B50
DESCRIPTOR = 0x08074B50
ZIP64_END = 0x06064B50
ZIP64_LOCATOR = 0x07064B50


def deflate(data, level=6):
    z = zlib.compressobj(level, zlib.DEFLATED, -15)
    return z.compress(data) + z.flush()


def crc(data):
    return zlib.crc32(data) & 0xFFFFFFFF


class Entry:
    """One entry. data is the uncompressed content; packed (when given) the
    bytes stored instead of its compressed form.

    descriptor: None, or where the CRC and sizes follow the data (flag bit 3):
      "signed" / "unsigned" (16 or 12 bytes), "signed64" / "unsigned64" (the
      Zip64 forms, 24 or 20 bytes), "lost" (bit 3 set, no descriptor at all).
      With a descriptor the local header holds zeros for CRC and sizes.
    local_name, local_method, local_sizes: what the local header says when it
      is to disagree with the central directory.
    crc_value, central_sizes: what the central directory says instead of the
      truth. offset: the local header offset the central directory gives.
    """

    def __init__(self, name, data=b"", method=8, flags=0, attr=None, made_by=20, dos_time=0x6000,
                 dos_date=0x5821, descriptor=None, packed=None, local_name=None, local_method=None,
                 local_sizes=None, crc_value=None, central_sizes=None, offset=None, local_extra=b"",
                 central_extra=b"", comment=b"", level=6):
        self.name = name.encode("utf-8") if isinstance(name, str) else name
        self.data = data
        self.method = method
        self.flags = flags
        is_dir = self.name.endswith(b"/")
        self.attr = attr if attr is not None else (0x10 if is_dir else 0x20)
        self.made_by = made_by
        self.dos_time = dos_time
        self.dos_date = dos_date
        self.descriptor = descriptor
        if packed is None:
            packed = deflate(data, level) if method == 8 else data
        self.packed = packed
        self.local_name = local_name.encode("utf-8") if isinstance(local_name, str) else local_name
        self.local_method = local_method
        self.local_sizes = local_sizes
        self.crc_value = crc_value
        self.central_sizes = central_sizes
        self.offset = offset
        self.local_extra = local_extra
        self.central_extra = central_extra
        self.comment = comment


class Built:
    def __init__(self):
        self.data = b""
        self.offsets = []        # where each entry's local header starts
        self.data_starts = []    # where each entry's data starts
        self.central_start = 0   # where the central directory starts
        self.end_start = 0       # where the end record starts


def local_header(e, flags, crc_field, csize, usize, name):
    return struct.pack("<IHHHHHIIIHH", LOCAL, 20, flags, e.local_method if e.local_method is not None else e.method,
                       e.dos_time, e.dos_date, crc_field, csize, usize, len(name), len(e.local_extra)) + name + e.local_extra


def descriptor_bytes(kind, crc_field, csize, usize):
    if kind == "signed":
        return struct.pack("<IIII", DESCRIPTOR, crc_field, csize, usize)
    if kind == "unsigned":
        return struct.pack("<III", crc_field, csize, usize)
    if kind == "signed64":
        return struct.pack("<IIQQ", DESCRIPTOR, crc_field, csize, usize)
    if kind == "unsigned64":
        return struct.pack("<IQQ", crc_field, csize, usize)
    return b""


def build(entries, stub=b"", comment=b"", count=None, central=True, zip64=False, central_size=None):
    """The archive's bytes and layout. count replaces the end record's entry
    count (the low 16 bits when zip64 is off); central_size its directory
    size. zip64 writes the Zip64 end record and locator. Offsets in the
    central directory are relative to the archive's own start, after stub."""
    out = Built()
    body = bytearray()
    centrals = bytearray()
    for e in entries:
        true_crc = crc(e.data)
        csize, usize = len(e.packed), len(e.data)
        flags = e.flags | (8 if e.descriptor else 0)
        name = e.local_name if e.local_name is not None else e.name
        offset = len(body)
        out.offsets.append(len(stub) + offset)
        if e.descriptor and e.descriptor.endswith("64") and not e.local_extra:
            # Sizes of 8 bytes follow the data: the local header says so with
            # a Zip64 extra field holding zeros, as streaming writers do.
            body += local_header(e, flags, 0, 0xFFFFFFFF, 0xFFFFFFFF, name)[:-len(name)]
            body = body[:-2] + struct.pack("<H", 20) + name + struct.pack("<HHQQ", 1, 16, 0, 0)
        elif e.descriptor:
            body += local_header(e, flags, 0, 0, 0, name)
        else:
            lc, lu = e.local_sizes if e.local_sizes is not None else (csize, usize)
            body += local_header(e, flags, true_crc, lc, lu, name)
        out.data_starts.append(len(stub) + len(body))
        body += e.packed
        body += descriptor_bytes(e.descriptor, true_crc, csize, usize)
        ccrc = e.crc_value if e.crc_value is not None else true_crc
        cc, cu = e.central_sizes if e.central_sizes is not None else (csize, usize)
        coffset = e.offset if e.offset is not None else offset
        centrals += struct.pack("<IHHHHHHIIIHHHHHII", CENTRAL, e.made_by, 20, flags, e.method, e.dos_time, e.dos_date,
                                ccrc, cc, cu, len(e.name), len(e.central_extra), len(e.comment), 0, 0, e.attr, coffset)
        centrals += e.name + e.central_extra + e.comment
    data = bytearray(stub) + body
    out.central_start = len(data)
    if central:
        n = len(entries) if count is None else count
        size = len(centrals) if central_size is None else central_size
        data += centrals
        if zip64:
            record_at = len(data) - len(stub)
            data += struct.pack("<IQHHIIQQQQ", ZIP64_END, 44, 45, 45, 0, 0, n, n, size, len(body))
            data += struct.pack("<IIQI", ZIP64_LOCATOR, 0, record_at, 1)
            n16, size32, offset32 = 0xFFFF, 0xFFFFFFFF, 0xFFFFFFFF
        else:
            n16, size32, offset32 = n & 0xFFFF, size, len(body)
        out.end_start = len(data)
        data += struct.pack("<IHHHHIIH", END, 0, 0, n16, n16, size32, offset32, len(comment)) + comment
    out.data = bytes(data)
    return out


def stored_block(payload, final=False):
    """A deflate stored block holding payload (at most 65,535 bytes)."""
    return bytes([1 if final else 0]) + struct.pack("<HH", len(payload), len(payload) ^ 0xFFFF) + payload


def overlap_bomb(entries_count, kernel_mib, same_header=False):
    """An archive whose entries all inflate the same kernel of zeros.

    same_header: every central entry names the one local header (the kernel
    is shared whole). Otherwise each entry's data quotes the local header of
    the next entry in a stored deflate block before going on into it, so the
    data of entry i holds every entry after it; the last entry is the kernel.
    """
    kernel_data = bytes(kernel_mib << 20)
    kernel = deflate(kernel_data, 9)
    names = [("%05d.bin" % i).encode() for i in range(entries_count)]
    if same_header:
        header = struct.pack("<IHHHHHIIIHH", LOCAL, 20, 0, 8, 0x6000, 0x5821, crc(kernel_data), len(kernel),
                             len(kernel_data), len(names[0]), 0) + names[0]
        body = header + kernel
        centrals = b"".join(
            struct.pack("<IHHHHHHIIIHHHHHII", CENTRAL, 20, 20, 0, 8, 0x6000, 0x5821, crc(kernel_data), len(kernel),
                        len(kernel_data), len(n), 0, 0, 0, 0, 0x20, 0) + n for n in names)
        return body + centrals + struct.pack("<IHHHHIIH", END, 0, 0, entries_count, entries_count, len(centrals),
                                             len(body), 0)
    # Built from the last entry backwards: each one's data is a stored block
    # quoting the next entry's header, then that entry's data.
    packed, content = kernel, kernel_data
    headers = []
    for i in reversed(range(entries_count)):
        header = struct.pack("<IHHHHHIIIHH", LOCAL, 20, 0, 8, 0x6000, 0x5821, crc(content), len(packed),
                             len(content), len(names[i]), 0) + names[i]
        headers.append((header, packed, content))
        if i > 0:
            packed = stored_block(header) + packed
            content = header + content
    headers.reverse()
    body = bytearray()
    offsets = []
    for i, (header, packed_i, _) in enumerate(headers):
        offsets.append(len(body))
        body += header
        if i + 1 < len(headers):
            body += stored_block(headers[i + 1][0])[:5]   # the quote's block header only
    body += kernel
    centrals = bytearray()
    for i, (header, packed_i, content_i) in enumerate(headers):
        centrals += struct.pack("<IHHHHHHIIIHHHHHII", CENTRAL, 20, 20, 0, 8, 0x6000, 0x5821, crc(content_i),
                                len(packed_i), len(content_i), len(names[i]), 0, 0, 0, 0, 0x20, offsets[i]) + names[i]
    return bytes(body) + bytes(centrals) + struct.pack("<IHHHHIIH", END, 0, 0, entries_count, entries_count,
                                                       len(centrals), len(body), 0)


def colliding_names(count, length=16):
    """count distinct names of equal length that all get the same value under
    the engine's name hash (rotate left by 2, XOR each code unit), after its
    ASCII lower-casing: names built from two-letter blocks that each add the
    same value to the hash."""
    letters = "abcdefghijklmnopqrstuvwxyz0123456789_-"
    groups = {}
    for x in letters:
        for y in letters:
            groups.setdefault((ord(x) << 2) ^ ord(y), []).append(x + y)
    blocks = max(groups.values(), key=len)
    per = length // 2
    names = []
    n = 0
    while len(names) < count:
        digits, k = [], n
        for _ in range(per):
            digits.append(blocks[k % len(blocks)])
            k //= len(blocks)
        if k:
            raise ValueError("ask for longer names")
        names.append("".join(digits))
        n += 1
    return names


def name_hash(name):
    """The engine's name hash, over the name's UTF-16 code units after its
    ASCII-only lower-casing."""
    h = 0
    units = name.encode("utf-16-le")
    for i in range(0, len(units), 2):
        c = units[i] | units[i + 1] << 8
        if 0x41 <= c <= 0x5A:
            c += 0x20
        h = (((h << 2) | (h >> 30)) & 0xFFFFFFFF) ^ c
    return h


def deep_name(levels=32767, total=65535):
    """A name of total bytes that nests levels folders ("a/a/.../a/x...")."""
    name = "a/" * levels
    return name + "x" * (total - len(name))
