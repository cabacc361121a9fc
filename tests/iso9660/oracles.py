#!/usr/bin/python3
"""Runs the outside checkers on an ISO9660 image and compares what they
extract with the source files.

usage: oracles.py IMAGE MANIFEST

MANIFEST is JSON: {"joliet": bool, "boot": bool, "files": [{"iso": "DIR/A.TXT;1",
"joliet": "0064.../0061...", "source": "/abs/path"}...], "folders": [{"iso": "DIR",
"joliet": "0064..."}...]}, each Joliet name in hex UTF-16BE. Exit status 0 when every checker accepts the image and
every extraction equals the sources byte for byte; the problems otherwise.
"""
import filecmp
import io
import json
import os
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


def main():
    image, manifest_path = sys.argv[1], sys.argv[2]
    with open(manifest_path) as m:
        manifest = json.load(m)
    for entry in manifest['files'] + manifest['folders']:
        entry['joliet'] = '/'.join(bytes.fromhex(p).decode('utf-16-be') for p in entry['joliet'].split('/'))
    joliet = manifest['joliet']
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
