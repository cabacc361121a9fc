#!/usr/bin/python3
"""Runs the outside checkers on an ISO9660 image and compares what they
extract with the source files; adds the checks no outside tool makes.

usage: oracles.py IMAGE MANIFEST
       oracles.py --structure IMAGE   our own checks only

MANIFEST is JSON: {"joliet": bool, "boot": bool, "files": [{"iso": "DIR/A.TXT;1",
"joliet": "0064.../0061...", "source": "/abs/path"}...], "folders": [{"iso": "DIR",
"joliet": "0064..."}...]}, each Joliet name in hex UTF-16BE. Exit status 0 when every checker accepts the image and
every extraction equals the sources byte for byte; the problems otherwise.
"""
import filecmp
import io
import json
import os
import struct
import subprocess
import sys
import tempfile

problems = []


def run(args, timeout=60):
    try:
        p = subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=timeout)
        return p.returncode, p.stdout.decode('utf-8', 'replace')
    except subprocess.TimeoutExpired:
        return -1, 'timed out (a directory loop?)'


def plain(name):
    """A plain ISO9660 name as extracting tools show it: no version, no
    trailing dot."""
    if ';' in name:
        name = name[:name.rindex(';')]
    if name.endswith('.'):
        name = name[:-1]
    return name


def same_bytes(path, source, who):
    if not os.path.isfile(path):
        problems.append('%s: %s missing' % (who, path))
    elif not filecmp.cmp(path, source, shallow=False):
        problems.append('%s: %s differs from %s' % (who, path, source))


def check_tree(root, manifest, key, who, normalise=lambda n: n):
    expected = set()
    for f in manifest['files']:
        rel = '/'.join(normalise(part) for part in f[key].split('/'))
        expected.add(rel)
        same_bytes(os.path.join(root, rel), f['source'], who)
    for d in manifest['folders']:
        rel = '/'.join(normalise(part) for part in d[key].split('/'))
        expected.add(rel)
        if not os.path.isdir(os.path.join(root, rel)):
            problems.append('%s: folder %s missing' % (who, rel))
    for dirpath, dirnames, filenames in os.walk(root):
        for n in dirnames + filenames:
            rel = os.path.relpath(os.path.join(dirpath, n), root)
            if rel not in expected:
                problems.append('%s: unexpected %s' % (who, rel))


def pycdlib_check(image, manifest):
    try:
        import pycdlib
    except ImportError:
        problems.append('pycdlib is not installed for /usr/bin/python3')
        return
    iso = pycdlib.PyCdlib()
    try:
        iso.open(image)
    except Exception as e:  # pycdlib raises its own exception types
        problems.append('pycdlib refuses the image: %r' % e)
        return
    try:
        kinds = [('iso_path', 'iso')] + ([('joliet_path', 'joliet')] if manifest['joliet'] else [])
        for facade, key in kinds:
            seen = set()
            for dirpath, dirs, files in iso.walk(**{facade: '/'}):
                for n in dirs + files:
                    seen.add((dirpath.rstrip('/') + '/' + n).lstrip('/'))
            for f in manifest['files']:
                path = '/' + f[key]
                out = io.BytesIO()
                try:
                    iso.get_file_from_iso_fp(out, **{facade: path})
                except Exception as e:
                    problems.append('pycdlib: %s %s: %r' % (facade, path, e))
                    continue
                with open(f['source'], 'rb') as src:
                    if out.getvalue() != src.read():
                        problems.append('pycdlib: %s %s differs from %s' % (facade, path, f['source']))
            want = len(manifest['files']) + len(manifest['folders'])
            if len(seen) != want:
                problems.append('pycdlib: %s walk found %d entries, expected %d' % (facade, len(seen), want))
        if manifest.get('boot'):
            if iso.eltorito_boot_catalog is None:
                problems.append('pycdlib: no El Torito boot catalog')
    except Exception as e:
        problems.append('pycdlib: %r' % e)
    finally:
        iso.close()


def tolerated(out, manifest):
    """xorriso warns about a boot image without a directory record (it
    cannot tell its size); with a hidden boot image that warning is the
    point, any other warning is not."""
    warnings = [l for l in out.splitlines() if 'WARNING' in l and '-return_with' not in l]
    return bool(manifest.get('boot_hidden')) and warnings != [] and all(
        'hidden El-Torito image' in l for l in warnings)


def order_key(identifier, wide):
    """ECMA-119 9.3: name, then extension, each padded with spaces, then
    version, highest first. Joliet names compare by code value."""
    name = identifier.decode('utf-16-be', 'surrogatepass') if wide else identifier.decode('latin-1')
    base, _, version = name.partition(';')
    stem, dot, ext = base.rpartition('.')
    if not dot:
        stem, ext = base, ''
    return stem.ljust(255), ext.ljust(255), -int(version) if version.isdigit() else 0


def hierarchy(sector, vd, who, wide):
    """Records out of order or repeated, and path tables that disagree with
    the directories they index: readers follow one or the other, never
    compare them."""
    found = []
    root = vd[156:190]
    dirs = [(struct.unpack_from('<I', root, 2)[0], struct.unpack_from('<I', root, 10)[0], 1, b'\0')]
    seen = set()
    d = 0
    while d < len(dirs):
        extent, length = dirs[d][:2]
        d += 1
        if extent in seen:
            return found + ['%s: directory loop at %d' % (who, extent)]
        seen.add(extent)
        previous, count, offset = None, 0, 0
        while offset < length:
            r = sector(extent + offset // 2048)[offset % 2048:]
            if r[0] == 0:
                offset = (offset // 2048 + 1) * 2048
                continue
            count += 1
            if count > 2:  # past "." and ".."
                identifier = r[33:33 + r[32]]
                key = order_key(identifier, wide)
                if previous is not None and previous >= key:
                    found.append('%s: %s %r' % (who, 'duplicate' if previous == key else 'unsorted at', identifier))
                previous = key
                if r[25] & 2:
                    dirs.append(struct.unpack_from('<I', r, 2) + struct.unpack_from('<I', r, 10) + (d, identifier))
            offset += r[0]
    size = struct.unpack_from('<I', vd, 132)[0]
    for fmt, at in (('<IH', struct.unpack_from('<I', vd, 140)[0]), ('>IH', struct.unpack_from('>I', vd, 148)[0])):
        table = b''.join(sector(at + s) for s in range((size + 2047) // 2048))
        offset = 0
        for extent, _, parent, name in dirs:
            if offset + 8 > size:
                found.append('%s: path table too short' % who)
                break
            n = table[offset]
            if struct.unpack_from(fmt, table, offset + 2) + (table[offset + 8:offset + 8 + n],) != (extent, parent, name):
                found.append('%s: %s path table record of %d does not match its directory' % (who, fmt[0], extent))
            offset += 8 + n + (n & 1)
        if offset != size:
            found.append('%s: path table size %d != %d' % (who, size, offset))
    return found


def structure(image):
    with open(image, 'rb') as f:
        data = f.read()

    def sector(lba):
        if (lba + 1) * 2048 > len(data):
            raise IndexError('block %d is past the image' % lba)
        return data[lba * 2048:(lba + 1) * 2048]
    found, lba = [], 16
    try:
        while True:
            vd = sector(lba)
            lba += 1
            if vd[1:6] != b'CD001':
                return found + ['descriptor set without terminator']
            if vd[0] == 255:
                return found
            if vd[0] in (1, 2):
                found += hierarchy(sector, vd, 'Joliet' if vd[0] == 2 else 'ISO9660', vd[0] == 2)
    except IndexError as e:
        return found + [str(e)]


def main():
    if sys.argv[1] == '--structure':
        problems.extend(structure(sys.argv[2]))
        print('\n'.join(problems) or 'no structure problems')
        return 1 if problems else 0
    image, manifest_path = sys.argv[1], sys.argv[2]
    with open(manifest_path) as m:
        manifest = json.load(m)
    for entry in manifest['files'] + manifest['folders']:
        entry['joliet'] = '/'.join(bytes.fromhex(p).decode('utf-16-be') for p in entry['joliet'].split('/'))
    joliet = manifest['joliet']
    problems.extend(structure(image))
    pycdlib_check(image, manifest)

    if manifest.get('boot'):
        code, out = run(['xorriso', '-indev', image, '-report_el_torito', 'plain'])
        if code != 0 or 'El Torito boot img' not in out:
            problems.append('xorriso -report_el_torito: %d\n%s' % (code, out))
    code, out = run(['7z', 't', image])
    if code != 0 or 'Everything is Ok' not in out:
        problems.append('7z t exits %d:\n%s' % (code, out))
    code, out = run(['isovfy', image])
    if code != 0 or 'no errors found' not in out.lower():
        problems.append('isovfy exits %d:\n%s' % (code, out))

    with tempfile.TemporaryDirectory() as tmp:
        x = os.path.join(tmp, 'xorriso')
        code, out = run(['xorriso', '-abort_on', 'NEVER', '-return_with', 'WARNING', '32', '-osirrox', 'on',
                         '-indev', image, '-extract', '/', x])
        if code != 0 and not tolerated(out, manifest):
            problems.append('xorriso -extract exits %d:\n%s' % (code, out))
        else:
            check_tree(x, manifest, 'joliet' if joliet else 'iso', 'xorriso',
                       (lambda n: n.rsplit(';', 1)[0]) if joliet else plain)
        for mode in (['--options', '!joliet,!rockridge'], []) if joliet else (['--options', '!joliet,!rockridge'],):
            b = os.path.join(tmp, 'bsdtar' + str(len(mode)))
            os.mkdir(b)
            code, out = run(['bsdtar'] + mode + ['-xf', image, '-C', b])
            who = 'bsdtar ' + ' '.join(mode)
            if code != 0:
                problems.append('%s exits %d:\n%s' % (who, code, out))
            elif mode:
                check_tree(b, manifest, 'iso', who, plain)
            else:
                check_tree(b, manifest, 'joliet', who, lambda n: n.rsplit(';', 1)[0])
    if problems:
        print('\n'.join(problems))
        return 1
    print('all outside checks passed')
    return 0


if __name__ == '__main__':
    sys.exit(main())
