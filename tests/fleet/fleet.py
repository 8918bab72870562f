#!/usr/bin/python3
"""The collection as an administrator runs it: ansible-playbook over real ssh to a fleet
of 32-bit hosts, one of them a real 32-bit kernel.
    fleet.py ROOT_SCRIPT PACKAGES COLLECTION README WORK PORT
Standard input: the password of the account yelto of the MariaDB server on
127.0.0.1:PORT (with_mariadb starts it). The hosts a, b, c and d are bare 32-bit hosts,
copies of the i386 host root with Python's apt bindings and the MariaDB client library
but neither package, each with its own sshd on a loopback port (host.sh); the host guest
is the same system on Debian's 686 kernel under qemu (guest_host.sh). The packages reach
them from a signed repository that the test lays out of the i386 package files with
scripts/repo and serves on loopback. Every host and server is started here and stopped
by its process id, also on failure. The playbooks are the README's and the collection's
examples as written, the addresses of the server and the repository taken from the
inventory. Exits 0 when every check held, 1 otherwise, 77 (skipped) with the reason when
something it needs is missing.
"""
import ctypes
import fcntl
import glob
import json
import os
import re
import secrets
import shutil
import signal
import socket
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'ansible'))
import sampler as sampling  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
PROGRAMS = ['vorn_set', 'vorn_show', 'vorn_keyfile', 'quordex_helper', 'vorn_dbcheck', 'check_vorn']
CONF = '/etc/vorn/vorn_sql'  # the README's example
KEY_DIR, KEY_NAME = '/usr/quordex/tirun', '.vorn_yelto'  # the key file's fixed path
PACKAGES = "dpkg-query -W -f '${Package} ${db:Status-Status} ${Version}\\n' vorn-admin vorn-admin-dbcheck"
# The samplers' pauses between passes, where the programs they watch are emulated: the
# guest's always (one processor, all of it emulated), this machine's when its kernel runs
# the chroot hosts' i386 programs through the emulator (scripts/binfmt).
GUEST_PAUSE, HOST_PAUSE = 0.05, 0.02
failures = []


def emulated():
    try:
        with open('/proc/sys/fs/binfmt_misc/vorn-i386') as f:
            return f.readline().strip() == 'enabled'
    except OSError:
        return False


def die_with_me():
    """For a child: the kernel kills it (a host, with its namespace) when this test dies."""
    ctypes.CDLL(None, use_errno=True).prctl(1, signal.SIGKILL)  # PR_SET_PDEATHSIG


def run(argv, **kw):
    return subprocess.run(argv, capture_output=True, text=True, **kw)


def check(ok, what):
    if not ok:
        failures.append(what)
        print('FAIL: ' + what, flush=True)
    return ok


def skip(reason):
    print('skipped: ' + reason)
    sys.exit(77)


def free_port():
    with socket.socket() as s:
        s.bind(('127.0.0.1', 0))
        return s.getsockname()[1]


def wait_for_ssh(port, seconds):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        try:
            with socket.create_connection(('127.0.0.1', port), timeout=2) as s:
                s.settimeout(5)
                if s.recv(4).startswith(b'SSH'):
                    return True
        except OSError:
            time.sleep(0.2)
    return False


class Fleet:
    """The hosts: chroot hosts under overlays, and the guest; their processes and files."""

    def __init__(self, root_script, system, work):
        self.root_script, self.system, self.work = root_script, system, work
        self.key = os.path.join(work, 'id_ed25519')
        self.ports, self.procs = {}, {}
        subprocess.run(['ssh-keygen', '-q', '-t', 'ed25519', '-N', '', '-C', 'controller', '-f', self.key],
                       check=True)

    def start(self, name, full_size=None):
        """Starts chroot host NAME; with FULL_SIZE its changes go to a file system of that size."""
        self.ports.setdefault(name, free_port())
        upper = os.path.join(self.work, name)
        log = open(os.path.join(self.work, name + '.sshd.log'), 'ab')
        self.procs[name] = subprocess.Popen(
            ['bash', HERE + '/host.sh', self.system, upper, upper + '/tmp', str(self.ports[name]), self.key + '.pub',
             name] + ([full_size] if full_size else []), stdout=log, stderr=log, preexec_fn=die_with_me)
        return self

    def start_guest(self, db_port, repo_port=None):
        self.ports['guest'] = free_port()
        log = open(os.path.join(self.work, 'guest.log'), 'ab')
        self.procs['guest'] = subprocess.Popen(
            ['bash', HERE + '/guest_host.sh', self.root_script, self.system, self.work + '/guest',
             str(self.ports['guest']), str(db_port), self.key + '.pub', HERE + '/../ansible/sampler.py']
            + ([str(repo_port)] if repo_port else []), stdout=log, stderr=log, preexec_fn=die_with_me)

    def wait(self, names, seconds):
        return [n for n in names if not wait_for_ssh(self.ports[n], seconds)]

    def stop(self, name):
        proc = self.procs.pop(name, None)
        if proc is not None:
            proc.kill()  # the host's namespace and every process in it go with it
            proc.wait()

    def stop_all(self):
        for name in list(self.procs):
            self.stop(name)

    def file(self, name, path):
        """A file as the host NAME sees it (root reads it), or None."""
        r = self.ssh(name, 'sudo cat ' + path, text=False)
        return r.stdout if r.returncode == 0 else None

    def ssh(self, name, command, text=True):
        return subprocess.run(['ssh', '-i', self.key, '-p', str(self.ports[name]), '-o', 'StrictHostKeyChecking=no',
                    '-o', 'UserKnownHostsFile=/dev/null', '-o', 'LogLevel=ERROR', 'admin@127.0.0.1', command],
                              capture_output=True, text=text)

    def locked(self, name):
        """Whether CONF has the immutable attribute, as the host's own lsattr shows it (an
        overlay keeps the attribute apart from its layer's file)."""
        return 'i' in self.ssh(name, 'sudo lsattr ' + CONF).stdout.split(' ')[0]


def readme_playbook(readme, marker, lines=()):
    """The one example playbook of the file README that holds MARKER, each of its LINES
    ("key: value") given the inventory's variable named beside it instead."""
    with open(readme) as f:
        text = f.read()
    book = [b for b in re.findall(r'```yaml\n(.*?)```', text, re.S) if marker in b]
    assert len(book) == 1, '%s has no one example playbook with %s' % (readme, marker)
    book = book[0]
    for line, variable in lines:
        assert line + '\n' in book, '%s: no line %r in its playbook' % (readme, line)
        book = book.replace(line + '\n', '%s: "{{ %s }}"\n' % (line.split(':')[0], variable))
    return book


class Repository:
    """The signed package repository of the hosts: layouts made by scripts/repo in
    WORK/repo, each signed with the one key made for the first, and served by python3's
    http.server on a loopback port (stopped by its process id) as /vorn/, a symbolic link
    to the layout served."""

    def __init__(self, scripts, work):
        self.scripts, self.dir = scripts, os.path.join(work, 'repo')
        self.www = os.path.join(self.dir, 'www')
        os.makedirs(self.www)
        self.env = {k: v for k, v in os.environ.items() if k not in ('VORN_REPO_KEY', 'GNUPGHOME')}
        self.env['VORN_REPO_WORK'] = self.dir + '/state'
        self.port = free_port()
        log = open(self.dir + '/http.log', 'ab')
        self.server = subprocess.Popen([sys.executable, '-m', 'http.server', '--bind', '127.0.0.1', '--directory',
                                        self.www, str(self.port)], stdout=log, stderr=log, preexec_fn=die_with_me)

    def lay_out(self, name, debs):
        folder = os.path.join(self.dir, 'debs-' + name)
        os.makedirs(folder)
        for deb in debs:
            shutil.copy(deb, folder)
        r = run(['bash', self.scripts + '/repo', folder, os.path.join(self.dir, name)], env=self.env)
        assert r.returncode == 0, 'scripts/repo: ' + r.stdout + r.stderr
        if 'GNUPGHOME' not in self.env:  # the next layouts under the same key
            home = self.dir + '/state/repo-key'
            with open(home + '/fingerprint') as f:
                self.env.update(GNUPGHOME=home, VORN_REPO_KEY=f.read().strip())

    def damage(self, name, source):
        """NAME: the layout SOURCE with one hash digit of its signed InRelease changed."""
        shutil.copytree(os.path.join(self.dir, source), os.path.join(self.dir, name), symlinks=True)
        path = os.path.join(self.dir, name, 'dists/vorn/InRelease')
        with open(path, 'rb') as f:
            data = bytearray(f.read())
        at = data.index(b'SHA256:\n ') + 9
        data[at] = ord('0') if data[at] != ord('0') else ord('1')
        with open(path, 'wb') as f:
            f.write(data)

    def serve(self, name):
        os.symlink(os.path.join(self.dir, name), self.www + '/vorn.new')
        os.replace(self.www + '/vorn.new', self.www + '/vorn')

    def stop(self):
        self.server.kill()
        self.server.wait()
        if 'GNUPGHOME' in self.env:  # the agent that gpg started for the key
            run(['gpgconf', '--kill', 'gpg-agent'], env=self.env)


def new_version(debs, folder, version):
    """The package files DEBS again as VERSION, in FOLDER: the same contents, their control
    files naming the new version wherever they named the old one (a dependency on each
    other included)."""
    os.makedirs(folder)
    made = []
    for deb in debs:
        old = run(['dpkg-deb', '-f', deb, 'Version']).stdout.strip()
        tree = os.path.join(folder, 'tree')
        shutil.rmtree(tree, ignore_errors=True)
        subprocess.run(['dpkg-deb', '-R', deb, tree], check=True)
        with open(tree + '/DEBIAN/control') as f:
            control = f.read()
        with open(tree + '/DEBIAN/control', 'w') as f:
            f.write(control.replace(old, version))
        made.append(os.path.join(folder, os.path.basename(deb).replace('_%s_' % old, '_%s_' % version)))
        subprocess.run(['dpkg-deb', '--root-owner-group', '-b', tree, made[-1]], check=True, capture_output=True)
    shutil.rmtree(os.path.join(folder, 'tree'))
    return made


# A watcher of its own process, real-time where it may be, so that neither a thread of the
# test's (the sampler's) nor a busy machine holds it up: the moment a file named NAME appears
# in FOLDER (inotify), it kills every process of the cgroup TARGET at once (cgroup.kill), or
# else the process TARGET, then says so.
KILLER = r'''
import ctypes, os, signal, struct, sys
folder, name, target = sys.argv[1], sys.argv[2].encode(), sys.argv[3]
try:
    os.sched_setscheduler(0, os.SCHED_FIFO, os.sched_param(50))
except OSError:
    pass
libc = ctypes.CDLL(None, use_errno=True)
fd = libc.inotify_init1(os.O_CLOEXEC)
if fd < 0 or libc.inotify_add_watch(fd, folder.encode(), 0x100 | 0x80) < 0:  # IN_CREATE, IN_MOVED_TO
    sys.exit('cannot watch ' + folder)
print('armed', flush=True)
while True:
    data, at = os.read(fd, 65536), 0
    while at < len(data):  # struct inotify_event: wd, mask, cookie, len, then the name
        length = struct.unpack_from('iIII', data, at)[3]
        if data[at + 16:at + 16 + length].rstrip(b'\0') == name:
            if target.isdigit():
                os.kill(int(target), signal.SIGKILL)
            else:
                with open(target + '/cgroup.kill', 'w') as f:
                    f.write('1')
            sys.exit(print('killed', flush=True))
        at += 16 + length
'''


def host_cgroup(fleet, name):
    """A cgroup (version 2) of its own holding every process of host NAME, which its
    cgroup.kill kills at once (killing the host's first process kills the others only one
    after the other, while the host goes on); None where the kernel has none."""
    mounts = [line.split() for line in open('/proc/mounts')]
    group = ([m[1] for m in mounts if m[2] == 'cgroup2'] or [None])[0]
    if group is None:
        return None
    group = os.path.join(group, 'vorn-fleet-%d-%s' % (os.getpid(), name))
    os.mkdir(group)
    if not os.path.exists(group + '/cgroup.kill'):  # before Linux 5.14
        os.rmdir(group)
        return None
    unshare = fleet.procs[name].pid
    with open('/proc/%d/task/%d/children' % (unshare, unshare)) as f:
        first = int(f.read().split()[0])
    space = os.readlink('/proc/%d/ns/pid' % first)
    for pid in [unshare] + [int(p) for p in os.listdir('/proc') if p.isdigit()]:
        try:
            if pid == unshare or os.readlink('/proc/%d/ns/pid' % pid) == space:
                with open(group + '/cgroup.procs', 'w') as f:
                    f.write(str(pid))
        except OSError:  # a process that ended meanwhile
            pass
    return group


def kill_on_create(fleet, name, folder, filename):
    """Has host NAME of FLEET killed (every process of it, as a host goes down) the moment a
    file named FILENAME appears in FOLDER, a folder of the host's upper layer: a host lost at
    a known step. Returns the watcher, whose output says whether it killed, and the host's
    cgroup (None: the host's first process is killed instead)."""
    group = host_cgroup(fleet, name)
    watcher = subprocess.Popen([sys.executable, '-c', KILLER, folder, filename, group or str(fleet.procs[name].pid)],
                               stdout=subprocess.PIPE, text=True, preexec_fn=die_with_me)
    assert watcher.stdout.readline() == 'armed\n', 'cannot watch ' + folder
    return watcher, group


class Controller:
    """ansible-playbook on this machine: its configuration, inventory, vault and runs."""

    def __init__(self, fleet, collection, readme, db_port, password, key, new_key=None, repo=None):
        self.fleet, self.work = fleet, fleet.work
        self.dir = os.path.join(self.work, 'controller')
        os.makedirs(self.dir + '/group_vars/authservers')
        self.env = dict(os.environ, ANSIBLE_CONFIG=self.dir + '/ansible.cfg', ANSIBLE_NOCOLOR='1',
                        ANSIBLE_COLLECTIONS_PATH=self.dir + '/collections', ANSIBLE_LOCAL_TEMP=self.dir + '/tmp',
                        ANSIBLE_FORCE_COLOR='0')
        with open(self.dir + '/ansible.cfg', 'w') as f:
            f.write('[defaults]\ninventory = hosts.yml\nhost_key_checking = False\nforks = 8\ntimeout = 60\n'
                    '[ssh_connection]\npipelining = True\n'
                    'ssh_args = -o ControlMaster=auto -o ControlPersist=120s -o UserKnownHostsFile=/dev/null\n')
        books = {'site.yml': readme_playbook(readme, 'vorn.admin.keyfile:', (
            ('hostname: db.example.net', 'vorn_db_host'), ('port: 3306', 'vorn_db_port')))}
        if repo is not None:
            books['authhosts.yml'] = readme_playbook(readme, 'vorn.admin.authhost', (
                ('authhost_repo_url: http://apt.example.net/vorn/', 'vorn_repo_url'),
                ('authhost_db_hostname: db.example.net', 'vorn_db_host'),
                ('authhost_db_port: 3306', 'vorn_db_port')))
            books['rotate.yml'] = readme_playbook(collection + '/README.md', 'vorn.admin.rotate:')
            os.makedirs(self.dir + '/files')
            shutil.copy(repo.dir + '/1/vorn-archive-keyring.pgp', self.dir + '/files/')
        for name, text in books.items():
            with open(os.path.join(self.dir, name), 'w') as f:
                f.write(text)
        self.server = {'vorn_db_host': '127.0.0.1', 'vorn_db_port': db_port}
        self.repo_port = repo.port if repo is not None else None
        self.write_inventory()
        self.write_vault(password, key, new_key)
        for args in (['build', collection, '--output-path', self.dir],
                     ['install', '-p', self.dir + '/collections', self.dir + '/vorn-admin-1.0.0.tar.gz']):
            r = run(['ansible-galaxy', 'collection'] + args, env=self.env)
            assert r.returncode == 0, r.stdout + r.stderr

    def write_inventory(self):
        hosts = {}  # in the order of the names, the guest last: the rotation's batches
        for name, port in sorted(self.fleet.ports.items(), key=lambda item: (item[0] == 'guest', item[0])):
            hosts[name] = dict(ansible_host='127.0.0.1', ansible_port=port)
            hosts[name].update(self.server if name != 'guest' else {'vorn_db_host': '10.0.2.100',
                                                                    'vorn_db_port': 3306})
            hosts[name]['vorn_repo_url'] = ('http://10.0.2.101/vorn/' if name == 'guest' else
                                            'http://127.0.0.1:%s/vorn/' % self.repo_port)
        inventory = {'authservers': {'hosts': hosts, 'vars': dict(
            ansible_user='admin', ansible_ssh_private_key_file=self.fleet.key,
            ansible_python_interpreter='/usr/bin/python3')}}
        with open(self.dir + '/hosts.yml', 'w') as f:
            json.dump(inventory, f, indent=1)

    def write_vault(self, password, key, new_key):
        """The password, the key and the new key in the vault file, each encrypted from
        standard input."""
        with open(self.dir + '/vault-pass', 'w') as f:
            f.write(secrets.token_hex(16) + '\n')
        lines = []
        for name, value in (('vault_vorn_db_password', password), ('vault_vorn_key', key),
                            ('vault_vorn_new_key', new_key or key)):
            r = run(['ansible-vault', 'encrypt_string', '--vault-password-file', self.dir + '/vault-pass',
                     '--stdin-name', name], input=value, env=self.env)
            assert r.returncode == 0, r.stderr
            lines.append(r.stdout)
        with open(self.dir + '/group_vars/authservers/vault.yml', 'w') as f:
            f.write('\n'.join(lines))

    def play(self, book, *flags):
        started = time.monotonic()
        r = run(['ansible-playbook', book, '--vault-password-file', 'vault-pass'] + list(flags),
                cwd=self.dir, env=self.env)
        recap = {}
        for m in re.finditer(r'^(\S+)\s*: ok=(\d+)\s+changed=(\d+)\s+unreachable=(\d+)\s+failed=(\d+)',
                             r.stdout, re.M):
            recap[m.group(1)] = dict(ok=int(m.group(2)), changed=int(m.group(3)), unreachable=int(m.group(4)),
                                     failed=int(m.group(5)))
        return r, recap, time.monotonic() - started


def scenario(fleet, ctl, repo, secret_values):
    """The plays and their checks, on every host unless said: the README's role playbook
    (authhosts.yml) from bare hosts, its module playbook (site.yml), the collection's
    rotation playbook (rotate.yml)."""
    chroots = ['a', 'b', 'c', 'd']
    everyone = chroots + ['guest']
    outputs = []

    def play(name, book, flags, want_changed, want_failed=(), want_unreachable=(), hosts=everyone):
        limit = ['--limit', ','.join(hosts)] if hosts != everyone else []
        r, recap, seconds = ctl.play(book, *(flags + limit))
        outputs.append(r.stdout + r.stderr)
        print('== %s: status %d, %.1f s\n%s' % (name, r.returncode, seconds, r.stdout[-3000:]), flush=True)
        for h in hosts:
            got = recap.get(h)
            if not check(got is not None, '%s: %s not in the recap' % (name, h)):
                continue
            check((got['changed'] > 0) == (h in want_changed), '%s: %s changed %d' % (name, h, got['changed']))
            check((got['failed'] > 0) == (h in want_failed), '%s: %s failed %d' % (name, h, got['failed']))
            check((got['unreachable'] > 0) == (h in want_unreachable), '%s: %s unreachable' % (name, h))
        return r, recap

    def files(hosts=chroots, path=CONF):
        return {h: fleet.file(h, path) for h in hosts}

    def packages(name, want):
        for h in everyone:
            got = fleet.ssh(h, PACKAGES).stdout
            check(got == want, '%s: the packages on %s: %r' % (name, h, got))

    def all_locked(name):
        for h in everyone:
            check(fleet.locked(h), '%s: %s is not locked' % (name, h))

    # Bare hosts and a repository whose signature does not verify: each host refuses it
    # with apt's message, and installs nothing.
    repo.serve('damaged')
    r, _ = play('damaged signature', 'authhosts.yml', [], set(everyone), want_failed=set(everyone))
    for h in everyone:
        check(re.search(r'fatal: \[%s\]: FAILED!.*BADSIG' % h, r.stdout) is not None,
              "damaged signature: no apt's BADSIG in %s's failure" % h)
    packages('damaged signature', '')

    repo.serve('1')
    play('from bare hosts', 'authhosts.yml', [], set(everyone))
    packages('from bare hosts', 'vorn-admin installed 1.0.0-1\nvorn-admin-dbcheck installed 1.0.0-1\n')
    all_locked('from bare hosts')
    guest = fleet.ssh('guest', 'sudo vorn_show ' + CONF)
    check(guest.returncode == 0 and '" PASSWORD *****\n' in guest.stdout, 'the guest reads its file: ' + guest.stderr)
    # The module playbook finds every host as it would leave it.
    play('second run, the module playbook', 'site.yml', [], set())

    # The server moves to another port (a relay to the same server): check mode first.
    before = files()
    ctl.server['vorn_db_port'] = ctl.relay_port
    ctl.write_inventory()
    r, _ = play('moved server, check mode', 'site.yml', ['--check', '--diff'], set(chroots), hosts=chroots)
    check(r.stdout.count('" PASSWORD *****') >= len(chroots) and not any(s in r.stdout for s in secret_values),
          'check mode: the diff does not mask the password')
    check(files() == before, 'check mode changed a file')
    play('moved server, staged on a', 'site.yml', [], {'a'}, hosts=['a'])
    # The guest unlocked by the module, as the next run must find it: the real kernel's attribute.
    r = run(['ansible', 'guest', '-b', '-m', 'vorn.admin.config', '--vault-password-file', 'vault-pass', '-a',
             'path=%s hostname=10.0.2.100 port=3306 dbname=quordexDB username=yelto encrypt=true lock=false '
             'password={{ vault_vorn_db_password }}' % CONF], cwd=ctl.dir, env=ctl.env)
    outputs.append(r.stdout + r.stderr)
    check(r.returncode == 0 and not fleet.locked('guest'), 'the module did not unlock the guest: ' + r.stdout)

    # c unreachable, d's file system full: the others converge, the two fail with the
    # cause, their old files intact.
    before = files()
    fleet.stop('c')
    # d's disk is its own small file system: filled only when it is (never this machine's).
    size = fleet.ssh('d', 'df -k --output=size / | tail -n 1').stdout.strip()
    if not check(size.isdigit() and int(size) <= 65536, "d's disk is not its own small one (%r KiB)" % size):
        return outputs
    fleet.ssh('d', 'sudo dd if=/dev/zero of=/var/filler bs=64k 2>/dev/null')  # until the disk is full
    r, _ = play('c down, d full', 'site.yml', [], {'b', 'guest'}, want_failed={'d'}, want_unreachable={'c'})
    check(re.search(r'fatal: \[c\]: UNREACHABLE!.*Connection refused', r.stdout) is not None,
          'c down: the cause is not in the output')
    check(re.search(r'fatal: \[d\]: FAILED!.*No space left on device', r.stdout) is not None,
          'd full: the cause is not in the output')
    check(fleet.locked('d') and fleet.locked('guest'), 'd or the guest is not locked')

    # The faults gone and a new version of the packages in the repository: the next run
    # converges c and d and upgrades every host, the other files unchanged and locked.
    fleet.ssh('d', 'sudo rm /var/filler')
    fleet.start('c')
    check(not fleet.wait(['c'], 30), 'c did not come back')
    after = files()
    check(after['c'] == before['c'] and after['d'] == before['d'], 'the failed hosts\' files changed')
    kept = files(['a', 'b', 'guest'])
    repo.serve('2')
    play('faults gone, version 1.0.0-2 published', 'authhosts.yml', [], set(everyone))
    packages('upgrade', 'vorn-admin installed 1.0.0-2\nvorn-admin-dbcheck installed 1.0.0-2\n')
    check(files(['a', 'b', 'guest']) == kept, 'the upgrade changed a configuration')
    all_locked('upgrade')
    play('again, the role playbook', 'authhosts.yml', [], set())
    return outputs + rotated(fleet, ctl, play, everyone)


def rotated(fleet, ctl, play, everyone):
    """The collection's rotation playbook to the vault's new key, two hosts a batch: check
    mode, then a run in which host b goes down mid-rotation (the moment its new key file is
    being written), which stops the rotation after b's batch, then the run that finishes."""
    key_file = KEY_DIR + '/' + KEY_NAME
    texts = {h: fleet.ssh(h, 'sudo vorn_show ' + CONF).stdout for h in everyone}
    old = {h: (fleet.file(h, key_file), fleet.file(h, CONF)) for h in everyone}
    r, _ = play('rotation, check mode', 'rotate.yml', ['--check'], set(everyone))
    check(all(fleet.file(h, key_file) == old[h][0] for h in everyone), 'rotation check mode changed a key file')

    upper = os.path.join(fleet.work, 'b', 'layer')
    watcher, group = kill_on_create(fleet, 'b', upper + os.path.dirname(CONF), os.path.basename(CONF) + '.rotate~')
    r, recap, seconds = ctl.play('rotate.yml')
    outputs = [r.stdout + r.stderr]
    print('== rotation, b killed: status %d, %.1f s\n%s' % (r.returncode, seconds, r.stdout[-3000:]), flush=True)
    if watcher.poll() is None:
        watcher.kill()
    killed = watcher.communicate()[0]
    fleet.stop('b')
    while group and os.path.exists(group):
        try:
            os.rmdir(group)  # once its processes are gone
        except OSError:
            time.sleep(0.05)
    left = {d: sorted(os.listdir(upper + d)) for d in (KEY_DIR, os.path.dirname(CONF))}
    print('b as it went down: %s' % left, flush=True)
    check(killed == 'killed\n' and KEY_NAME + '.old-key' in left[KEY_DIR], 'b was not stopped mid-rotation: %s'
          % left)
    check(recap.get('b', {}).get('unreachable') == 1, 'b killed: not unreachable: %s' % recap.get('b'))
    check(recap.get('a', {}).get('changed'), 'b killed: a was not rotated')
    check(not set(recap) & {'c', 'd', 'guest'} and all(fleet.file(h, key_file) == old[h][0] for h in ('c', 'd')),
          'b killed: the rotation went on past its batch: %s' % recap)

    fleet.start('b')
    check(not fleet.wait(['b'], 30), 'b did not come back')
    play('rotation, finished', 'rotate.yml', [], set(everyone) - {'a'})
    for h in everyone:
        shown = fleet.ssh(h, 'sudo vorn_show %s; sudo test ! -e %s.old-key' % (CONF, key_file))
        check(shown.returncode == 0 and shown.stdout == texts[h], 'rotated: %s does not read its text: %s'
              % (h, shown.stdout + shown.stderr))
        check(fleet.file(h, key_file) != old[h][0] and fleet.file(h, CONF) != old[h][1],
              'rotated: the key file or the configuration of %s is as it was' % h)
        check(fleet.locked(h), 'rotated: %s is not locked' % h)
    return outputs


def monitored(fleet, db_port):
    """check_vorn on every host over ssh, as a monitoring agent runs it: OK with the server up,
    CRITICAL once the server is stopped. Returns the outputs, for the secret check."""
    hosts, outputs = ['a', 'b', 'c', 'd', 'guest'], []
    command = 'sudo /usr/lib/nagios/plugins/check_vorn -f %s -t 30' % CONF

    def everywhere(name, want_status, want_line, want_more):
        results = {}
        threads = [threading.Thread(target=lambda h=h: results.__setitem__(h, fleet.ssh(h, command)))
                   for h in hosts]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        for h in hosts:
            r = results[h]
            outputs.append(r.stdout + r.stderr)
            print('== check_vorn, %s, on %s: status %d\n%s' % (name, h, r.returncode, r.stdout), flush=True)
            first = r.stdout.split('\n', 1)[0]
            check(r.returncode == want_status and first.startswith(want_line)
                  and all(m in r.stdout for m in want_more),
                  'check_vorn, %s, on %s: status %d, %r' % (name, h, r.returncode, r.stdout + r.stderr))

    locked = '\n[OK] %s: locked (immutable)\n' % CONF
    everywhere('server up', 0, 'VORN OK - ', (" | 'connect_time'=", locked))
    pid = int(os.environ['VORN_MARIADB_PID'])
    os.kill(pid, signal.SIGTERM)
    for _ in range(600):  # the server closes its port when it has stopped
        try:
            socket.create_connection(('127.0.0.1', db_port), timeout=1).close()
            time.sleep(0.1)
        except OSError:
            break
    everywhere('server stopped', 2, 'VORN CRITICAL - %s: cannot connect to ' % CONF,
               (locked, '\n[CRITICAL] %s: cannot connect to ' % CONF))
    return outputs


def leftovers(fleet, secret_values):
    """The temporary folders, of any host or of the controller, that hold a file with a secret."""
    found = []
    for path in glob.glob(fleet.work + '/controller/tmp/**', recursive=True):
        if os.path.isfile(path) and not os.path.islink(path):
            with open(path, 'rb') as f:
                if any(s.encode() in f.read() for s in secret_values):
                    found.append(path)
    for h in ('a', 'b', 'c', 'd', 'guest'):
        tar = fleet.ssh(h, 'sudo tar -c -f - /tmp /var/tmp /home/admin/.ansible /root/.ansible 2>/dev/null', text=False)
        if any(s.encode() in tar.stdout for s in secret_values):
            found.append('a temporary folder of ' + h)
    return found


def main():
    root_script, packages, collection, readme, work, port = sys.argv[1:7]
    for tool in ('ansible-playbook', 'ssh', 'qemu-system-i386', 'socat'):
        if shutil.which(tool) is None:
            skip(tool + ' not found (bash scripts/setup installs it)')
    if os.geteuid() != 0:
        skip('needs root (chroots, mounts and namespaces for the hosts)')
    password = sys.stdin.readline().rstrip('\n')
    key, new_key = (''.join(secrets.choice('123456789abcdef') for _ in range(32)) for _ in '12')  # no 00 byte
    secret_values = [password, key, key.upper(), new_key, new_key.upper()]
    debs = sorted(glob.glob(packages + '/vorn-admin*_i386.deb'))
    if len(debs) != 2:
        sys.exit('fleet: not the two i386 packages in %s (the i386 build makes them)' % packages)
    # A bare host: what the role needs (apt's Python bindings) and what the packages need
    # (the MariaDB client library) from the archive, not the packages.
    made = run(['bash', root_script, 'installed', 'i386-host:fleet', 'python3-apt', 'libmariadb3'])
    if made.returncode != 0:
        sys.exit('fleet: cannot make the hosts\' system: ' + made.stderr)
    system = made.stdout.strip()
    # The hosts run on the system: no other run may make it again meanwhile.
    lock = open(system + '.lock', 'a')
    fcntl.flock(lock, fcntl.LOCK_SH)
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    fleet = Fleet(root_script, system, work)
    relay = repo = None
    started = time.monotonic()
    try:
        repo = Repository(os.path.dirname(root_script), work)
        repo.lay_out('1', debs)
        repo.lay_out('2', new_version(debs, work + '/debs-2', '1.0.0-2'))
        repo.damage('damaged', '1')
        fleet.start_guest(port, repo.port)
        for h in ('a', 'b', 'c'):
            fleet.start(h)
        fleet.start('d', full_size='16m')
        relay_port = free_port()
        relay = subprocess.Popen(['socat', 'TCP-LISTEN:%d,bind=127.0.0.1,fork,reuseaddr' % relay_port,
                                  'TCP:127.0.0.1:' + port], preexec_fn=die_with_me)
        ctl = Controller(fleet, collection, readme, int(port), password, key, new_key, repo)
        ctl.relay_port = relay_port
        late = fleet.wait(['a', 'b', 'c', 'd', 'guest'], 240)
        if not check(not late, 'hosts that never answered on ssh: %s' % late):
            return 1
        print('fleet: 5 hosts up after %.1f s' % (time.monotonic() - started), flush=True)
        guest_sampler = subprocess.Popen(
            ['ssh', '-i', fleet.key, '-p', str(fleet.ports['guest']), '-o', 'StrictHostKeyChecking=no',
             '-o', 'UserKnownHostsFile=/dev/null', '-o', 'LogLevel=ERROR', 'admin@127.0.0.1',
             'sudo python3 /guest/sampler.py --pause %s %s' % (GUEST_PAUSE, ' '.join(PROGRAMS))],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True, preexec_fn=die_with_me)
        guest_sampler.stdin.write(''.join(v + '\n' for v in secret_values) + '\n')
        guest_sampler.stdin.flush()
        guest_sampler.stdout.readline()  # "sampling"; it samples until its input ends
        here = sampling.Sampler([s.encode() for s in secret_values],
                                sampling.by_last_part(PROGRAMS), pause=HOST_PAUSE if emulated() else 0).start()
        outputs = scenario(fleet, ctl, repo, secret_values)
        outputs += monitored(fleet, int(port))
        seen = here.stop()
        try:
            guest_seen = json.loads(guest_sampler.communicate(timeout=120)[0] or '{}')
        except subprocess.TimeoutExpired:
            guest_sampler.kill()
            guest_seen = {}
        check(guest_seen, "the guest's sampler gave no report")
        # What each sampler must have seen run, or it proves nothing: here the two that are
        # given the secrets (vorn_show runs for a few milliseconds and may be missed); in the
        # guest, whose sampler is slow under emulation, vorn_dbcheck, which lives long enough.
        for where, report, wanted in (('this machine and its chroot hosts', seen, ('vorn_set', 'vorn_keyfile')),
                                      ('the guest', guest_seen, ('vorn_dbcheck',))):
            print('sampled %s: %d times, %d processes, %d command lines, of the programs: %s' % (
                where, report.get('samples', 0), report.get('processes', 0), report.get('command_lines', 0),
                report.get('programs')), flush=True)
            check(not report.get('sightings'), 'a secret in a process on %s: %s' % (
                where, list(report.get('sightings', {}))[:4]))
            for n in wanted:
                check(report.get('programs', {}).get(n), 'sampled nothing useful on %s: no %s' % (where, n))
        check(not any(s in o for o in outputs for s in secret_values), 'a secret in a play\'s output')
        left = leftovers(fleet, secret_values)
        check(not left, 'secrets left in temporary folders: %s' % left)
    finally:
        if relay is not None:
            relay.kill()
        if repo is not None:
            repo.stop()
        fleet.stop_all()
    print('%d failures; the fleet test took %.1f s' % (len(failures), time.monotonic() - started))
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
