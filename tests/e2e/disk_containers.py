"""Writers of the floppy image containers, from their published layouts, for
the end-to-end tests and the fuzz seeds alike.

Each writer takes the raw disk (units of 1024 bytes in track order,
cylinder x 2 + head, 8 to a track; a disk shorter than 154 tracks has only
its first tracks, the last one filled up with zeros) and gives the
container and, for every unit whose data it stores, where that data lies in
the file. Whatever a writer may shuffle it shuffles with the rng it is
given, and keeps in order without one, so that every file is the same bytes
on every run. MAME's floptool reads most of these back: the tests check
that it reads the disk that was written, so that a mistake here cannot hide
one in the programs' readers.
"""

import struct

SEC, TRACKS, UNITS = 1024, 154, 1232
TRACK = 8 * SEC


def sector(disk, unit):
    return disk[unit * SEC:(unit + 1) * SEC]


def track_count(disk):
    return -(-len(disk) // TRACK)


def whole_tracks(disk):
    """The disk up to the end of its last track."""
    return bytes(disk).ljust(track_count(disk) * TRACK, b"\0")


def fdi(disk):
    header = struct.pack("<8I", 0, 0x90, 4096, len(disk), SEC, 8, 2, 77).ljust(4096, b"\0")
    return header + disk, {u: 4096 + u * SEC for u in range(len(disk) // SEC)}


def d88_tracks(disk, rng=None, order=None):
    """Per track its sectors as [C, H, R, N, status, data]: records in the
    given order, or an order of rng's choosing, or 1 to 8."""
    disk, tracks = whole_tracks(disk), {}
    for t in range(track_count(disk)):
        records = list(order or range(1, 9))
        if rng:
            rng.shuffle(records)
        tracks[t] = [[t // 2, t % 2, r, 3, 0, sector(disk, t * 8 + r - 1)] for r in records]
    return tracks


def d88(tracks, rng=None, old=False, media=0x20, big_endian_counts=False, offsets=None, size=None,
        name=b"VARNHOLM"):
    """One disk: tracks in the order of rng's choosing or in track order;
    offsets replaces entries of the track table, size the disk size field."""
    header_size, entries = (0x2A0, 160) if old else (0x2B0, 164)
    order = sorted(tracks)
    if rng:
        rng.shuffle(order)
    body, table, places = bytearray(), [0] * entries, {}
    for t in order:
        table[t] = header_size + len(body)
        for c, h, r, n, status, data in tracks[t]:
            count = struct.pack(">H" if big_endian_counts else "<H", len(tracks[t]))
            body += struct.pack("<4B", c, h, r, n) + count + struct.pack("<BBB5xH", 0, 0, status, len(data))
            places.setdefault((c * 2 + h) * 8 + r - 1, header_size + len(body))
            body += data
    for t, offset in (offsets or {}).items():
        table[t] = offset
    total = header_size + len(body) if size is None else size
    header = name.ljust(17, b"\0") + bytes(9) + bytes([0, media]) + struct.pack("<I", total)
    return header + struct.pack(f"<{entries}I", *table) + bytes(body), places


def several(*containers):
    """Disks one after another in one file; the places of the last but one are kept."""
    image, places = b"", {}
    for i, (data, where) in enumerate(containers):
        if i == len(containers) - 2:
            places = {u: len(image) + o for u, o in where.items()}
        image += data
    return image, places


def nfd0(disk, rng=None):
    disk = whole_tracks(disk)
    table, data, places = bytearray(163 * 26 * 16), bytearray(), {}
    header_size = 0x120 + len(table)
    for t in range(163):
        records = list(range(1, 9)) if t < track_count(disk) else []
        if rng:
            rng.shuffle(records)
        for e in range(26):
            at = (t * 26 + e) * 16
            if e >= len(records):
                table[at] = 0xFF
                continue
            r = records[e]
            table[at:at + 11] = bytes([t // 2, t % 2, r, 3, 1, 0, 0, 0, 0, 0, 0x90])
            places[t * 8 + r - 1] = header_size + len(data)
            data += sector(disk, t * 8 + r - 1)
    head = bytearray(b"T98FDDIMAGE.R0".ljust(0x110, b"\0"))
    head[0x10:0x1C] = b"kz container"
    head += struct.pack("<IBB10x", header_size, 0, 2)
    return bytes(head + table + data), places


def nfd1(disk, rng=None, specials=None, map_offsets=None):
    """Track maps right after the header. specials maps units that get a
    special-read entry besides their plain sector to (retry count, the bytes
    stored for it: (retry count + 1) x 1024)."""
    disk, specials = whole_tracks(disk), specials or {}
    maps, offsets = bytearray(), [0] * 164
    layout = []
    for t in range(track_count(disk)):
        offsets[t] = 0x3C0 + len(maps)
        records = list(range(1, 9))
        if rng:
            rng.shuffle(records)
        extra = [u for u in sorted(specials) if u // 8 == t]
        maps += struct.pack("<HH12x", len(records), len(extra))
        for r in records:
            maps += bytes([t // 2, t % 2, r, 3, 1, 0, 0, 0, 0, 0, 0, 0x90]) + bytes(4)
        for u in extra:
            maps += bytes([0x46, t // 2, t % 2, u % 8 + 1, 3, 0, 0x40, 0x20, 0x20, specials[u][0]])
            maps += struct.pack("<IBx", SEC, 0x90)
        layout.append((t, records, extra))
    header_size = 0x3C0 + len(maps)
    data, places = bytearray(), {}
    for t, records, extra in layout:
        for r in records:
            places[t * 8 + r - 1] = header_size + len(data)
            data += sector(disk, t * 8 + r - 1)
        for u in extra:
            data += specials[u][1]
    offsets = [map_offsets.get(t, o) for t, o in enumerate(offsets)] if map_offsets else offsets
    head = bytearray(b"T98FDDIMAGE.R1".ljust(0x110, b"\0"))
    head += struct.pack("<IBB10x", header_size, 0, 2) + struct.pack("<164I", *offsets) + bytes(16)
    return bytes(head + maps + data), places


def uniform(data):
    return len(set(data)) == 1


def fdd(disk, rng=None, fill=uniform, pointer=None, comment=b""):
    """Data in the order of rng's choosing, or in track order; sectors for
    which fill holds (by default those of one repeated byte) are left
    unstored. pointer may set an entry's data offset."""
    disk = whole_tracks(disk)
    table = bytearray(b"\xff" * (160 * 26 * 12))
    head = bytearray(b"VFD1.00\0" + comment.ljust(0x80, b"\0") + bytes(0xDC - 0x88))
    data_start = len(head) + len(table) + 0x20
    data, places = bytearray(), {}
    units = list(range(len(disk) // SEC))
    if rng:
        rng.shuffle(units)
    for u in units:
        t, r = divmod(u, 8)
        content = sector(disk, u)
        at = (t * 26 + r) * 12
        offset = 0xFFFFFFFF
        if not fill(content):
            places[u] = offset = data_start + len(data)
            data += content
        table[at:at + 12] = bytes([t // 2, t % 2, r + 1, 3, content[0], 0, 1, 1]) + struct.pack("<I", offset)
    for u, offset in (pointer or {}).items():
        struct.pack_into("<I", table, (u // 8 * 26 + u % 8) * 12 + 8, offset)
    return bytes(head + table + bytes(0x20) + data), places


def dim(disk, absent=(), kind=0, flag=None, absent_stored=False):
    """The disk's tracks flagged present unless absent; absent tracks are
    left out of the file, or flagged absent but stored in place."""
    disk = whole_tracks(disk)
    tracks = track_count(disk)
    flags = bytearray(1 if t < tracks and t not in absent else 0 for t in range(170))
    if flag:
        flags[flag[0]] = flag[1]
    head = (bytes([kind]) + flags + b"DIFC HEADER  ").ljust(256, b"\0")
    body, places = bytearray(), {}
    for t in range(tracks):
        if t not in absent or absent_stored:
            for r in range(8):
                places[t * 8 + r] = 256 + len(body) + r * SEC
            body += disk[t * TRACK:(t + 1) * TRACK]
    return head + bytes(body), places


def dcp(disk, absent=()):
    """The disk's tracks flagged present unless absent, which are left out;
    the all-tracks flag set when every track of the 2HD disk is there."""
    disk = whole_tracks(disk)
    tracks = track_count(disk)
    present = [t < tracks and t not in absent for t in range(TRACKS)]
    flags = bytes(present).ljust(160, b"\0")
    body, places = bytearray(), {}
    for t in range(tracks):
        if present[t]:
            for r in range(8):
                places[t * 8 + r] = 162 + len(body) + r * SEC
            body += disk[t * TRACK:(t + 1) * TRACK]
    return bytes([0x01]) + flags + bytes([all(present)]) + bytes(body), places
