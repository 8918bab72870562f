#!/usr/bin/python3
# The signed repository that scripts/repo lays out of the package files of the
# builds (amd64 and, when made, i386), as apt sees it: apt-get
# update in a private configuration (its own state, cache and sources, amd64 and
# i386) against a copy of the repository served on loopback by python3's
# http.server, stopped by its process id. Each case damages the copy its own
# way; the intact one must list every package file of DEBS, the others must be
# refused with apt's own message and list nothing.
#   apt_update.py SCRIPTS SCRATCH PACKAGE_FOLDER...
# Exits 77 (skipped) when there are no package files, or no apt-get or reprepro.
import glob, os, shutil, signal, subprocess, sys

scripts, scratch = (os.path.abspath(a) for a in sys.argv[1:3])
found = [f for d in sys.argv[3:] for f in glob.glob(d + '/vorn-admin*.deb')]
if not found or not all(shutil.which(t) for t in ('apt-get', 'reprepro', 'gpg')):
    sys.exit(print('skipped: no package files in %s, or no apt-get, reprepro or gpg' % sys.argv[3:]) or 77)
debs, repo = scratch + '/repo-debs', scratch + '/repo'
shutil.rmtree(debs, ignore_errors=True)
os.makedirs(debs)
for f in found:
    shutil.copy(f, debs)
env = dict(os.environ, VORN_REPO_WORK=scratch + '/repo-work')
env.pop('VORN_REPO_KEY', None)
laid = subprocess.run(['bash', scripts + '/repo', debs, repo], env=env, capture_output=True, text=True)
if laid.returncode != 0:
    sys.exit('scripts/repo failed (status %d): %s' % (laid.returncode, laid.stdout + laid.stderr))


def flip_byte(path, needle):
    """Changes one byte of the first NEEDLE in PATH: a hash digit, inside what is signed."""
    with open(path, 'rb') as f:
        data = bytearray(f.read())
    at = data.index(needle) + len(needle)
    data[at] = ord('0') if data[at] != ord('0') else ord('1')
    with open(path, 'wb') as f:
        f.write(data)


# name, damage to the served copy (returns the Signed-By keyring, None for the
# shipped one), the architectures whose packages apt must not list, and what it
# must print (nothing: it must succeed and list every package file). apt takes a
# repository's indexes whole or not at all, so one bad index loses them all.
BOTH = ('amd64', 'i386')
CASES = [
    ('intact', lambda copy: None, (), []),
    ('InRelease altered by one byte',
     lambda copy: flip_byte(copy + '/dists/vorn/InRelease', b'SHA256:\n '), BOTH,
     ['The following signatures were invalid', 'is not signed']),
    ('signed by a key that Signed-By does not name',
     lambda copy: '/usr/share/keyrings/debian-archive-keyring.gpg', BOTH, ['NO_PUBKEY', 'is not signed']),
    ('i386 Packages altered after signing',
     lambda copy: flip_byte(copy + '/dists/vorn/main/binary-i386/Packages.gz', b'\x1f\x8b'), BOTH,
     ['Hash Sum mismatch']),
]


def expected():
    """(package, architecture, version) of every package file that went into the repository."""
    out = set()
    for deb in glob.glob(debs + '/*.deb'):
        fields = subprocess.run(['dpkg-deb', '-f', deb, 'Package', 'Architecture', 'Version'],
                                capture_output=True, text=True, check=True).stdout
        out.add(tuple(line.split(': ', 1)[1] for line in fields.splitlines()))
    return out


def listed(opts):
    """What apt now knows from any source: (package, architecture, version) triples."""
    text = subprocess.run(['apt-cache'] + opts + ['dumpavail'], capture_output=True, text=True).stdout
    out = set()
    for para in text.split('\n\n'):
        f = dict(l.split(': ', 1) for l in para.splitlines() if ': ' in l and not l.startswith(' '))
        if 'Package' in f:
            out.add((f['Package'], f['Architecture'], f['Version']))
    return out


def run_case(name, damage, lost, messages):
    work = os.path.join(scratch, 'apt-update', name.replace(' ', '_'))
    shutil.rmtree(work, ignore_errors=True)
    copy = work + '/repo'
    shutil.copytree(repo, copy, symlinks=True)
    keyring = damage(copy) or copy + '/vorn-archive-keyring.pgp'
    for d in ('state/lists/partial', 'cache/archives/partial', 'etc/sources.list.d',
              'etc/apt.conf.d', 'etc/preferences.d', 'etc/trusted.gpg.d'):
        os.makedirs(work + '/' + d)
    open(work + '/state/status', 'w').close()
    server = subprocess.Popen([sys.executable, '-u', '-m', 'http.server', '0', '--bind', '127.0.0.1',
                               '--directory', copy], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                              text=True)
    try:
        port = server.stdout.readline().split(' port ')[1].split()[0]
        with open(work + '/etc/sources.list.d/vorn.sources', 'w') as f:
            f.write('Types: deb\nURIs: http://127.0.0.1:%s/\nSuites: stable\nComponents: main\n'
                    'Signed-By: %s\n' % (port, keyring))
        opts = ['-o', 'Dir::State=' + work + '/state', '-o', 'Dir::State::status=' + work + '/state/status',
                '-o', 'Dir::Cache=' + work + '/cache', '-o', 'Dir::Etc=' + work + '/etc',
                '-o', 'Dir::Etc::SourceList=' + work + '/etc/sources.list',
                '-o', 'APT::Architectures=amd64,i386', '-o', 'APT::Sandbox::User=root',
                '-o', 'Debug::NoLocking=1', '-o', 'Acquire::Retries=0']
        r = subprocess.run(['apt-get'] + opts + ['update'], capture_output=True, text=True, timeout=120)
        have = listed(opts)
    finally:
        os.kill(server.pid, signal.SIGTERM)
        server.wait()
    out = r.stdout + r.stderr
    want = set(p for p in expected() if p[1] not in lost)
    ok = have == want and all(m in out for m in messages) and (
        r.returncode != 0 if messages else r.returncode == 0 and 'W:' not in out)
    print('%s: %s (apt-get status %d, %d packages listed)' % ('ok' if ok else 'FAILED', name,
                                                              r.returncode, len(have)))
    if not ok:
        print('%slisted: %s\nexpected: %s, apt saying %s\n' % (out, sorted(have), sorted(want), messages))
    return ok


results = [run_case(*case) for case in CASES]
sys.exit(0 if all(results) else 1)
