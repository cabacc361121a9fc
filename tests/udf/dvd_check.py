#!/usr/bin/python3
"""Checks the sector addresses inside the IFO and BUP files of a DVD-Video
image against where pycdlib finds the files in the image's ISO9660 view.

usage: dvd_check.py IMAGE           exit 0 when every address matches
       dvd_check.py --order IMAGE   prints the VIDEO_TS files in the order
                                    of their places in the image
"""
import struct
import sys

import pycdlib

problems = []
order = sys.argv[1] == '--order'
iso = pycdlib.PyCdlib()
iso.open(sys.argv[-1])
place = {}
for child in iso.list_children(iso_path='/VIDEO_TS'):
    name = child.file_identifier().decode()
    if name in ('.', '..'):
        continue
    place[name.split(';')[0]] = (child.extent_location(), (child.get_data_length() + 2047) // 2048)
if order:
    print(' '.join(sorted(place, key=lambda name: place[name][0])))
    sys.exit(0)
image = open(sys.argv[-1], 'rb')


def read(name):
    extent, blocks = place[name]
    image.seek(extent * 2048)
    return image.read(blocks * 2048)


def be32(data, at):
    return struct.unpack_from('>I', data, at)[0]


def expect(what, got, want):
    if got != want:
        problems.append('%s: %d, the image says %d' % (what, got, want))


def last(name):
    return place[name][0] + place[name][1] - 1


for kind in ('IFO', 'BUP'):
    vmg = read('VIDEO_TS.' + kind)
    first = place['VIDEO_TS.IFO'][0]
    expect('VIDEO_TS.%s last sector' % kind, be32(vmg, 12), last('VIDEO_TS.BUP') - first)
    if 'VIDEO_TS.VOB' in place:
        expect('VIDEO_TS.%s menu' % kind, be32(vmg, 192), place['VIDEO_TS.VOB'][0] - first)
    table = be32(vmg, 196) * 2048
    for t in range(struct.unpack_from('>H', vmg, table)[0]):
        entry = table + 8 + 12 * t
        ifo = 'VTS_%02d_0.IFO' % vmg[entry + 6]
        expect('title %d start' % (t + 1), be32(vmg, entry + 8), place[ifo][0] - first)
    n = 1
    while 'VTS_%02d_0.IFO' % n in place:
        vts = read('VTS_%02d_0.%s' % (n, kind))
        start = place['VTS_%02d_0.IFO' % n][0]
        expect('VTS_%02d_0.%s last sector' % (n, kind), be32(vts, 12), last('VTS_%02d_0.BUP' % n) - start)
        expect('VTS_%02d_0.%s title VOBs' % (n, kind), be32(vts, 196), place['VTS_%02d_1.VOB' % n][0] - start)
        n += 1
iso.close()
print('\n'.join(problems) if problems else 'every address matches')
sys.exit(1 if problems else 0)
