#!/usr/bin/python3
"""What the role vorn.admin.authhost costs, beside the same host made with ansible.builtin
modules only. On N bare hosts of the fleet (tests/fleet: copies of the i386 host root with
Python's apt bindings and the MariaDB client library, neither package, each with its own
sshd on a loopback port), and then on the 32-bit kernel guest alone, two ways, each on
fresh bare hosts, a first run and a second run that must change nothing:
  role     the README's role playbook (authhosts.yml), the packages from a signed
           repository laid out by scripts/repo and served on loopback;
  builtin  the two i386 package files copied over and installed with apt's deb=, a key
           file made on the controller (the amd64 vorn_keyfile) copied to the key path
           (0444), the configuration encrypted on the controller under that key (the amd64
           vorn_set built to read the key file in its working folder, vorn_set_testkey)
           copied to /etc/vorn/vorn_sql, and quordex_helper locking it unless lsattr shows
           it locked.
Neither checks the connection (authhost_dbcheck_timeout: 0 in the inventory's variables):
no MariaDB server is needed. The password and the key are made here and reach the
programs on standard input only. Every play runs with -vvv, both ways alike, so that its
output names each file sent to a host's temporary folder (PUT ... TO ...).
Printed per way: the wall time of each run, in all and per host (the median of the
rounds), the ratio role/builtin, and the leaks, the most a round had: files on the
controller holding a secret (the password or the key, in clear, or the bytes of a
host's key file or configuration), uploads of such a file through a host's temporary
folder, and hosts whose temporary folders still hold one after the runs. Each way's folder
in build/bench is removed once it is measured, the builtin way's secret files with it.
Run it as root, after the i386 build made its packages (and the amd64 build its programs):
    sudo python3 bench/role_bench.py [--hosts 1,4] [--rounds 1] [--no-guest]
                 [--packages build/i386/packages] [--native build/native]
"""
import argparse
import fcntl
import glob
import os
import re
import secrets
import shutil
import statistics
import subprocess
import sys

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(TOP, 'tests', 'fleet'))
import fleet as fl  # noqa: E402

KEY_FILE = fl.KEY_DIR + '/' + fl.KEY_NAME
DB_PORT = 3306  # named in the configuration only: nothing connects to it
BUILTIN = '''- name: vorn authentication hosts with ansible.builtin only
  hosts: authservers
  become: true
  gather_facts: false
  tasks:
    - ansible.builtin.copy:
        src: "{{ item }}"
        dest: /var/cache/apt/archives/
        mode: "0644"
      loop: %(debs)s
    - ansible.builtin.apt:
        deb: "/var/cache/apt/archives/{{ item | basename }}"
      loop: %(debs)s
    - ansible.builtin.file: {path: %(key_dir)s, state: directory, mode: "0755"}
    - ansible.builtin.copy: {src: %(folder)s/.vorn_yelto, dest: %(key_file)s, owner: root, group: root,
                             mode: "0444"}
    - ansible.builtin.file: {path: /etc/vorn, state: directory, owner: root, group: root, mode: "0700"}
    - ansible.builtin.copy: {src: %(folder)s/vorn_sql, dest: %(conf)s, owner: root, group: root, mode: "0444"}
    - ansible.builtin.command: {argv: [lsattr, %(conf)s]}
      register: attributes
      changed_when: false
    - ansible.builtin.command: {argv: [/usr/sbin/quordex_helper, %(conf)s, "1"]}
      when: "'i' not in attributes.stdout.split()[0]"
'''


def builtin_book(ctl, native, debs, key, password, guest):
    """The builtin way's playbook, and the key file and encrypted configuration it copies,
    made on the controller in CONTROLLER/builtin."""
    folder = ctl.dir + '/builtin'
    os.makedirs(folder, mode=0o700)
    r = fl.run([native + '/vorn_keyfile/vorn_keyfile', '--key-stdin', folder + '/.vorn_yelto'], input=key + '\n')
    if r.returncode != 0:
        sys.exit('role_bench: vorn_keyfile: ' + r.stderr)
    host, port = ('10.0.2.100', 3306) if guest else ('127.0.0.1', DB_PORT)  # as fl.Controller's inventory
    values = 'hostname=%s\nportno=%d\ndbname=quordexDB\nusername=yelto\npassword=%s\n' % (host, port, password)
    r = subprocess.run([native + '/vorn_set_testkey', '-e', 'yes', '-n'], input=values.encode(), cwd=folder,
                       capture_output=True)
    if r.returncode != 0:
        sys.exit('role_bench: vorn_set_testkey: ' + r.stderr.decode())
    with open(folder + '/vorn_sql', 'wb') as f:
        f.write(r.stdout)
    debs = sorted(debs, key=lambda d: 'dbcheck' in d)  # vorn-admin-dbcheck needs vorn-admin first
    with open(ctl.dir + '/builtin.yml', 'w') as f:
        f.write(BUILTIN % dict(debs='[%s]' % ', '.join(debs), key_dir=fl.KEY_DIR, folder=folder,
                               key_file=KEY_FILE, conf=fl.CONF))
    return 'builtin.yml'


def play(ctl, book, names, first):
    """Seconds the run of BOOK took, and its output; exits unless every host of NAMES
    changed (FIRST) or did not, without failure."""
    r, recap, seconds = ctl.play(book, '-vvv')
    wrong = [h for h in names if h not in recap or recap[h]['failed'] or recap[h]['unreachable']
             or (recap[h]['changed'] > 0) != first]
    if r.returncode != 0 or wrong:
        sys.exit('role_bench: %s, %s run: status %d, wrong on %s\n%s' % (
            book, 'first' if first else 'second', r.returncode, wrong, r.stdout[-3000:]))
    return seconds, r.stdout + r.stderr


def leaks(fleet, ctl, names, outputs, secret_values):
    """The controller's files holding a secret, the uploads of one of them to a host's
    temporary folder that OUTPUTS show, and the hosts whose temporary folders hold one."""
    patterns = [s.encode() for s in secret_values]
    patterns += [b for b in (fleet.file(h, p) for h in names for p in (KEY_FILE, fl.CONF)) if b]
    held = set()
    for top, _, files in os.walk(ctl.dir):  # the hidden files too (a key file is one)
        for path in (os.path.join(top, name) for name in files):
            if os.path.isfile(path) and not os.path.islink(path):
                with open(path, 'rb') as f:
                    data = f.read()
                if any(p in data for p in patterns):
                    held.add(path)
    uploads = sum(1 for o in outputs for m in re.finditer(r'> PUT (\S+) TO ', o) if m.group(1).strip('"\'') in held)
    left = 0
    for h in names:
        tar = fleet.ssh(h, 'sudo tar -c -f - /tmp /var/tmp /home/admin/.ansible /root/.ansible 2>/dev/null', text=False)
        left += any(p in tar.stdout for p in patterns)
    return len(held), uploads, left


def measure(way, names, args, system, repo, debs, key, password):
    """One round of WAY on fresh bare hosts NAMES: (first run, second run) seconds, leaks."""
    work = TOP + '/build/bench/role-' + way
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    fleet = fl.Fleet(TOP + '/scripts/root', system, work)
    try:
        if names == ['guest']:
            fleet.start_guest(DB_PORT, repo.port)
        for name in names:
            if name != 'guest':
                fleet.start(name)
        if fleet.wait(names, 600):
            sys.exit('role_bench: hosts did not come up (%s)' % work)
        ctl = fl.Controller(fleet, TOP + '/ansible', TOP + '/README.md', DB_PORT, password, key, repo=repo)
        with open(ctl.dir + '/group_vars/authservers/bench.yml', 'w') as f:
            f.write('authhost_dbcheck_timeout: 0\n')
        book = 'authhosts.yml' if way == 'role' else builtin_book(ctl, args.native, debs, key, password,
                                                                  names == ['guest'])
        first, out1 = play(ctl, book, names, True)
        again, out2 = play(ctl, book, names, False)
        for h in names:  # both ways end alike: the file read back under the host's key, locked
            shown = fleet.ssh(h, 'sudo vorn_show ' + fl.CONF)
            if shown.returncode != 0 or '" PASSWORD *****\n' not in shown.stdout or not fleet.locked(h):
                sys.exit('role_bench: %s left %s without a locked, readable %s: %s' % (way, h, fl.CONF, shown.stderr))
        return (first, again), leaks(fleet, ctl, names, [out1, out2], [password, key, key.upper()])
    finally:
        fleet.stop_all()
        shutil.rmtree(work, ignore_errors=True)  # the builtin way's key file and configuration with it


def main():
    p = argparse.ArgumentParser(description='The role vorn.admin.authhost beside ansible.builtin modules only.')
    p.add_argument('--hosts', default='1,4', help='host counts, comma-separated (default 1,4)')
    p.add_argument('--rounds', type=int, default=1, help='rounds per count; the median is printed')
    p.add_argument('--no-guest', action='store_true', help='leave out the 32-bit kernel guest')
    p.add_argument('--packages', default=TOP + '/build/i386/packages', help='folder of the i386 package files')
    p.add_argument('--native', default=TOP + '/build/native', help='the amd64 build (vorn_keyfile, vorn_set_testkey)')
    args = p.parse_args()
    debs = sorted(glob.glob(args.packages + '/vorn-admin*_i386.deb'))
    if len(debs) != 2:
        sys.exit('role_bench: not the two i386 packages in %s (the i386 build makes them)' % args.packages)
    for program in ('/vorn_keyfile/vorn_keyfile', '/vorn_set_testkey'):
        if not os.access(args.native + program, os.X_OK):
            sys.exit('role_bench: no %s in %s (the amd64 build with its tests makes it)' % (program, args.native))
    made = fl.run(['bash', TOP + '/scripts/root', 'installed', 'i386-host:fleet', 'python3-apt', 'libmariadb3'])
    if made.returncode != 0:
        sys.exit("role_bench: cannot make the hosts' system: " + made.stderr)
    system = made.stdout.strip()
    lock = open(system + '.lock', 'a')
    fcntl.flock(lock, fcntl.LOCK_SH)  # the hosts run on it: not to be made again meanwhile
    password = secrets.token_hex(8)  # the file holds 315 characters: 21 at most beside the guest's values
    key = ''.join(secrets.choice('123456789abcdef') for _ in range(32))  # no 00 byte
    shutil.rmtree(TOP + '/build/bench/role-repo', ignore_errors=True)
    repo = fl.Repository(TOP + '/scripts', TOP + '/build/bench/role-repo')
    rows = []
    try:
        repo.lay_out('1', debs)
        repo.serve('1')
        counts = [int(n) for n in args.hosts.split(',') if n] + ([] if args.no_guest else ['guest'])
        for n in counts:
            names = ['guest'] if n == 'guest' else ['h%02d' % i for i in range(n)]
            label = 'the 32-bit guest' if n == 'guest' else '%d host%s' % (n, '' if n == 1 else 's')
            runs = {'role': [], 'builtin': []}
            leaked = {'role': [], 'builtin': []}
            for _ in range(args.rounds):
                for way in runs:
                    seconds, leak = measure(way, names, args, system, repo, debs, key, password)
                    print('%s, %s: first run %.1f s, second run %.1f s; leaks %s' % (label, way, *seconds, leak),
                          flush=True)
                    runs[way].append(seconds)
                    leaked[way].append(leak)
            rows.append((label, len(names), {w: [statistics.median(s[i] for s in runs[w]) for i in (0, 1)]
                                             for w in runs}, {w: tuple(map(max, zip(*leaked[w]))) for w in runs}))
    finally:
        repo.stop()
        shutil.rmtree(TOP + '/build/bench/role-repo', ignore_errors=True)
    print('\n%-17s %-8s %9s %9s %17s   %s' % ('hosts', 'way', 'first', 'second', 'per host', 'leaks: controller '
                                           'files / uploads via host temp / hosts with one left in temp'))
    for label, hosts, t, leak in rows:
        for way in ('role', 'builtin'):
            print('%-17s %-8s %7.1f s %7.1f s %6.1f / %6.1f s   %d / %d / %d' % (
                label, way, t[way][0], t[way][1], t[way][0] / hosts, t[way][1] / hosts, *leak[way]))
        print('%-17s %-8s %9.2f %9.2f' % (label, 'ratio', t['role'][0] / t['builtin'][0],
                                            t['role'][1] / t['builtin'][1]))
    return 0


if __name__ == '__main__':
    sys.exit(main())
