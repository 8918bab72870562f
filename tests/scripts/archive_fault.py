#!/usr/bin/env python3
"""scripts/root against an archive of the test's own on loopback, one of whose
suites serves an index that does not match its Release file (a mirror in the
middle of a sync): that suite is left out of the sources, named with apt's
reason, after the retries; the other suites stay, and an archive with no usable
suite is refused.
    archive_fault.py ROOT_SCRIPT WORK"""
import functools
import hashlib
import http.server
import os
import subprocess
import sys
import threading

root_script, work = sys.argv[1], sys.argv[2]
if os.geteuid() != 0:
    print('SKIPPED: scripts/root needs root')
    sys.exit(77)
os.makedirs(work, exist_ok=True)
archive = os.path.join(work, 'archive')


def suite(name, damaged):
    """dists/NAME with an empty Packages index; a damaged one's Release gives
    the index a size it does not have."""
    folder = os.path.join(archive, 'dists', name, 'main', 'binary-amd64')
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, 'Packages'), 'wb') as f:
        f.write(b'')
    digest = hashlib.sha256(b'').hexdigest()
    with open(os.path.join(archive, 'dists', name, 'Release'), 'w') as f:
        f.write(f'Suite: {name}\nCodename: {name}\nArchitectures: amd64\nComponents: main\n'
                f'Date: Thu, 01 Jan 2026 00:00:00 UTC\nSHA256:\n'
                f' {digest} {12 if damaged else 0} main/binary-amd64/Packages\n')


for name, damaged in (('steady', False), ('later', False), ('syncing', True)):
    suite(name, damaged)
handler = functools.partial(http.server.SimpleHTTPRequestHandler, directory=archive)
http.server.SimpleHTTPRequestHandler.log_message = lambda *a: None
server = http.server.ThreadingHTTPServer(('127.0.0.1', 0), handler)
threading.Thread(target=server.serve_forever, daemon=True).start()
uri = f'http://127.0.0.1:{server.server_address[1]}/'
failures = []


def sources(stanzas):
    path = os.path.join(work, 'in.sources')
    with open(path, 'w') as f:
        f.write('\n'.join(f'Types: deb\nURIs: {uri}\nSuites: {s}\nComponents: main\nTrusted: yes\n'
                          for s in stanzas))
    return path


def check(stanzas, status, kept, left_out, said):
    out = os.path.join(work, 'out.sources')
    for f in (out, out + '.left-out'):
        if os.path.exists(f):
            os.remove(f)
    run = subprocess.run(['bash', root_script, 'sources', 'amd64', sources(stanzas), out],
                         env=dict(os.environ, VORN_ROOT_RETRY_WAITS='0'), capture_output=True, text=True)
    got_kept = [l.split(':', 1)[1].split() for l in open(out) if l.startswith('Suites:')] \
        if run.returncode == 0 else None
    got_left = [l.split(':')[0] for l in open(out + '.left-out')] if run.returncode == 0 else None
    for what, want, got in (('status', status, run.returncode), ('kept', kept, got_kept),
                            ('left out', left_out, got_left)):
        if want != got:
            failures.append(f'{stanzas}: {what} {got!r}, expected {want!r}\n{run.stderr}')
    for text in said:
        if text not in run.stderr:
            failures.append(f'{stanzas}: no "{text}" in:\n{run.stderr}')


check(['steady later'], 0, [['steady', 'later']], [], [])
check(['steady syncing later', 'syncing'], 0, [['steady', 'later']], ['syncing'],
      ['again in 0 s', 'leaving the suite syncing out: its index cannot be fetched: Hash Sum mismatch'])
check(['syncing'], 1, None, None, ['no suite of the archive can be fetched'])
server.shutdown()
print('\n'.join(failures) or 'ok: a suite whose index keeps failing is left out, with apt\'s reason')
sys.exit(1 if failures else 0)
