#!/usr/bin/env python3
"""Builds the data-track templates of a Video CD 2.0 and a Super Video CD 1.0.

    make-vcd-templates.py OUT_DIR

writes OUT_DIR/Quorvane_VideoCD.ISO and OUT_DIR/Quorvane_SuperVideoCD.ISO:
598 blocks of 2048 bytes each, an ISO 9660 volume with the CD-ROM XA
extensions (the "CD-XA001" mark, the XA system-use field on every directory
record) and the control files a player reads.

The recorder patches these images at fixed places, so the layout is fixed:

  block 16    primary volume descriptor (volume and volume set identifiers)
  block 21/20 the MPEG folder (MPEGAV / MPEG2); its first file's record sits
              at byte 96, after "." and ".." (48 bytes each with XA)
  block 150   INFO.VCD / INFO.SVD (album, volume count and number)
  block 151   ENTRIES.VCD / ENTRIES.SVD
  block 211   TRACKS.SVD (Super Video CD: the playing time at bytes 11-13)
  210, 244, 245  free blocks the recorder may fill or clear

The MPEG track is the disc's second track: after these 598 blocks and the
next track's 150-block pregap, at LBA 748. The MPEG file's extent starts
there and the single entry point names it. Writes under temporary names and
renames, so a half-written template never stands beside the library.
"""
import os
import struct
import sys

BLOCK = 2048
BLOCKS = 598
MPEG_TRACK_LBA = BLOCKS + 150
# 2026-01-01 00:00:00 UTC: the templates are reproducible.
DATE7 = bytes([126, 1, 1, 0, 0, 0, 0])
DATE17 = b"2026010100000000" + b"\x00"

# XA attributes (big-endian): permissions r-x for owner, group, world, plus
# the kind of sectors the extent holds.
XA_DIR = 0x8D55
XA_FORM1 = 0x0D55
XA_FORM2 = 0x1555


def both16(v):
    return struct.pack("<H", v) + struct.pack(">H", v)


def both32(v):
    return struct.pack("<I", v) + struct.pack(">I", v)


def bcd(v):
    return ((v // 10) << 4) | (v % 10)


def msf_bcd(lba):
    a = lba + 150
    return bytes([bcd(a // 4500), bcd(a // 75 % 60), bcd(a % 75)])


def pad(text, n):
    raw = text.encode("ascii")
    assert len(raw) <= n
    return raw + b" " * (n - len(raw))


def dir_record(name, lba, length, is_dir, attributes, file_number=0):
    ident = name if isinstance(name, bytes) else name.encode("ascii")
    base = 33 + len(ident)
    fill = b"\x00" if len(ident) % 2 == 0 else b""
    xa = struct.pack(">HHH", 0, 0, attributes) + b"XA" + bytes([file_number]) + bytes(5)
    size = base + len(fill) + len(xa)
    rec = bytes([size, 0]) + both32(lba) + both32(length) + DATE7
    rec += bytes([0x02 if is_dir else 0x00, 0, 0]) + both16(1) + bytes([len(ident)]) + ident + fill + xa
    assert len(rec) == size
    return rec


class Volume:
    def __init__(self, volume_id):
        self.image = bytearray(BLOCKS * BLOCK)
        self.volume_id = volume_id
        self.dirs = []  # (name, block, parent index, [(name, lba, length, attrs, file number)])

    def put(self, block, data, offset=0):
        at = block * BLOCK + offset
        self.image[at:at + len(data)] = data

    def add_dir(self, name, block, files=()):
        self.dirs.append((name, block, sorted(files)))

    def build(self, l_table, m_table):
        root_block = self.dirs[0][1]
        children = sorted(self.dirs[1:])
        for name, block, files in self.dirs:
            parent = root_block
            data = dir_record(b"\x00", block, BLOCK, True, XA_DIR)
            data += dir_record(b"\x01", parent, BLOCK, True, XA_DIR)
            if name == "":
                for cname, cblock, _ in children:
                    data += dir_record(cname, cblock, BLOCK, True, XA_DIR)
            for fname, lba, length, attrs, number in files:
                data += dir_record(fname + ";1", lba, length, False, attrs, number)
            assert len(data) <= BLOCK
            self.put(block, data)
        # Path tables: the root, then its folders in name order.
        entries = [(b"\x01", root_block)] + [(n.encode("ascii"), b) for n, b, _ in children]
        lt = bytearray()
        mt = bytearray()
        for ident, block in entries:
            ident = b"\x00" if ident == b"\x01" else ident
            tail = ident + (b"\x00" if len(ident) % 2 else b"")
            lt += bytes([len(ident), 0]) + struct.pack("<IH", block, 1) + tail
            mt += bytes([len(ident), 0]) + struct.pack(">IH", block, 1) + tail
        self.put(l_table, bytes(lt))
        self.put(m_table, bytes(mt))
        pvd = bytearray(BLOCK)
        pvd[0:7] = b"\x01CD001\x01"
        pvd[8:40] = pad("CD-RTOS CD-BRIDGE", 32)
        pvd[40:72] = pad(self.volume_id, 32)
        pvd[80:88] = both32(BLOCKS)
        pvd[120:124] = both16(1)
        pvd[124:128] = both16(1)
        pvd[128:132] = both16(BLOCK)
        pvd[132:140] = both32(len(lt))
        pvd[140:144] = struct.pack("<I", l_table)
        pvd[148:152] = struct.pack(">I", m_table)
        pvd[156:190] = dir_record(b"\x00", root_block, BLOCK, True, XA_DIR)[:33] + b"\x00"
        pvd[156] = 34
        pvd[190:318] = pad("", 128)
        pvd[318:446] = pad("", 128)
        pvd[446:574] = pad("QUORVANE", 128)
        pvd[574:702] = pad("", 128)
        pvd[702:813] = pad("", 111)
        pvd[813:830] = DATE17
        pvd[830:847] = DATE17
        pvd[847:864] = b"0" * 16 + b"\x00"
        pvd[864:881] = b"0" * 16 + b"\x00"
        pvd[881] = 1
        pvd[1024:1032] = b"CD-XA001"
        self.put(16, bytes(pvd))
        self.put(17, b"\xffCD001\x01")


def entries(version):
    data = b"ENTRYVCD" + bytes([version, 0]) + struct.pack(">H", 1)
    data += bytes([0x02]) + msf_bcd(MPEG_TRACK_LBA)
    return data


def info(ident, version):
    # Identifier, version, profile, album (16, blank until recorded),
    # volume count and number (big-endian), PAL flags, status flags,
    # PSD size, first segment address, offset multiplier, LOT entries,
    # segment count: no playback control, no segments.
    return pad(ident, 8) + bytes([version, 0]) + pad("", 16) + struct.pack(">HH", 1, 1)


def video_cd():
    v = Volume("VIDEOCD")
    v.add_dir("", 18)
    v.add_dir("CDI", 19)
    v.add_dir("EXT", 20)
    v.add_dir("MPEGAV", 21, [("AVSEQ01.DAT", MPEG_TRACK_LBA, 60 * BLOCK, XA_FORM2, 1)])
    v.add_dir("SEGMENT", 22)
    v.add_dir("VCD", 23, [("ENTRIES.VCD", 151, BLOCK, XA_FORM1, 0), ("INFO.VCD", 150, BLOCK, XA_FORM1, 0)])
    v.put(150, info("VIDEO_CD", 2))
    v.put(151, entries(2))
    v.build(24, 25)
    return v.image


def super_video_cd():
    v = Volume("SUPERVCD")
    v.add_dir("", 18)
    v.add_dir("CDI", 19)
    v.add_dir("MPEG2", 20, [("AVSEQ01.MPG", MPEG_TRACK_LBA, 60 * BLOCK, XA_FORM2, 1)])
    v.add_dir("EXT", 21)
    v.add_dir("SEGMENT", 22)
    v.add_dir("SVCD", 23, [("ENTRIES.SVD", 151, BLOCK, XA_FORM1, 0), ("INFO.SVD", 150, BLOCK, XA_FORM1, 0),
                           ("SEARCH.DAT", 152, 13, XA_FORM1, 0), ("TRACKS.SVD", 211, BLOCK, XA_FORM1, 0)])
    v.put(150, info("SUPERVCD", 1))
    v.put(151, entries(1))
    # No scan points: the interval is still the format's one half-second.
    v.put(152, b"SEARCHSV" + bytes([1, 0]) + struct.pack(">H", 0) + bytes([1]))
    # One MPEG track; its playing time (bytes 11-13) is filled in when
    # recorded; contents: one audio stream, NTSC video, no subtitles.
    v.put(211, b"TRACKSVD" + bytes([1, 0, 1]) + bytes(3) + bytes([0x0D]))
    v.build(24, 25)
    return v.image


def write(path, data):
    tmp = path + ".tmp"
    with open(tmp, "wb") as f:
        f.write(data)
    os.replace(tmp, path)


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make-vcd-templates.py OUT_DIR")
    out = sys.argv[1]
    write(os.path.join(out, "Quorvane_VideoCD.ISO"), video_cd())
    write(os.path.join(out, "Quorvane_SuperVideoCD.ISO"), super_video_cd())


if __name__ == "__main__":
    main()
