#!/usr/bin/env python3
"""Checks ZIP archives made by the collector's test suite with two outside
readers: Python's zipfile (testzip, and every entry read back) and Info-ZIP's
unzip (unzip -t, and a real extraction). Each archive is described by a
manifest, one record per line, fields separated by tabs:

    archive  <path>                     the archive
    entry    <name>  <source path>      the entries, in the order expected
    cleanup  <folder>                   removed once everything passed

Paths may be Windows paths on drive Z: (Wine's view of the root folder).

    check_archives.py MANIFEST          check one manifest
    check_archives.py --manifests DIR   check every DIR/*.manifest (at least one)

Exit code 0 when every check passed; the failures are printed otherwise.
"""
import glob
import os
import shutil
import subprocess
import sys
import tempfile
import zipfile


def host_path(path):
    if len(path) > 1 and path[1] == ':' and path[0] in 'zZ':
        path = path[2:]
    return path.replace('\\', '/')


def read_manifest(path):
    archive, entries, cleanup = None, [], []
    with open(path, encoding='utf-8') as f:
        for line in f:
            fields = line.rstrip('\r\n').split('\t')
            if fields[0] == 'archive':
                archive = host_path(fields[1])
            elif fields[0] == 'entry':
                entries.append((fields[1], host_path(fields[2])))
            elif fields[0] == 'cleanup':
                cleanup.append(host_path(fields[1]))
    return archive, entries, cleanup


def source_bytes(path):
    with open(path, 'rb') as f:
        return f.read()


def check_zipfile(archive, entries):
    problems = []
    with zipfile.ZipFile(archive) as z:
        bad = z.testzip()
        if bad is not None:
            problems.append('zipfile: bad CRC or data in %s' % bad)
        names = z.namelist()
        expected = [name for name, _ in entries]
        if names != expected:
            problems.append('zipfile: entries %r, expected %r' % (names, expected))
        for name, source in entries:
            if name in names and z.read(name) != source_bytes(source):
                problems.append('zipfile: %s differs from %s' % (name, source))
    return problems


def check_unzip(archive, entries):
    problems = []
    test = subprocess.run(['unzip', '-t', '-q', archive], capture_output=True, text=True)
    empty_ok = not entries and test.returncode == 1 and 'zipfile is empty' in test.stdout
    if test.returncode != 0 and not empty_ok:
        problems.append('unzip -t: exit %d: %s%s' % (test.returncode, test.stdout, test.stderr))
    if not entries:
        return problems
    folder = tempfile.mkdtemp(prefix='marl_unzip_')
    try:
        run = subprocess.run(['unzip', '-q', '-o', archive, '-d', folder],
                             capture_output=True, text=True)
        if run.returncode != 0:
            problems.append('unzip: exit %d: %s%s' % (run.returncode, run.stdout, run.stderr))
        for name, source in entries:
            extracted = os.path.join(folder, name)
            if not os.path.isfile(extracted) or source_bytes(extracted) != source_bytes(source):
                problems.append('unzip: %s does not extract to the bytes of %s' % (name, source))
    finally:
        shutil.rmtree(folder, ignore_errors=True)
    return problems


def check(manifest):
    archive, entries, cleanup = read_manifest(manifest)
    if archive is None:
        return ['%s: no archive named' % manifest]
    try:
        problems = check_zipfile(archive, entries) + check_unzip(archive, entries)
    except Exception as e:  # a damaged stream raises zlib.error, among others
        problems = ['%s: %s' % (archive, e)]
    if not problems:
        for folder in cleanup:
            shutil.rmtree(folder, ignore_errors=True)
    return ['%s: %s' % (os.path.basename(manifest), p) for p in problems]


def main(argv):
    if len(argv) == 3 and argv[1] == '--manifests':
        manifests = sorted(glob.glob(os.path.join(argv[2], '*.manifest')))
        if not manifests:
            print('no manifests in %s (did debugtool_test run?)' % argv[2])
            return 1
    elif len(argv) == 2:
        manifests = [argv[1]]
    else:
        print(__doc__)
        return 64
    problems = []
    for m in manifests:
        found = check(m)
        problems += found
        if not found:
            os.remove(m)
    for p in problems:
        print(p)
    print('%d archive(s) checked, %d problem(s)' % (len(manifests), len(problems)))
    return 1 if problems else 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
