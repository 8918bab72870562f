#!/usr/bin/python3
"""What vorn.admin.config costs over ssh, beside the least Ansible can do to put a file in
place: on N test hosts of the fleet (tests/fleet: copies of the i386 host root with the
packages installed, each with its own sshd on a loopback port), the wall time of a play
that writes the README's encrypted, locked configuration with vorn.admin.config, first on
hosts without the file and then again (no change), and of a play that puts the same bytes
in place with ansible.builtin.copy, on the same hosts in the same run; each as a ratio to
copy's. Then the same on the 32-bit kernel guest alone, for the cost of one host there.
Run it as root on this machine, after the i386 build made its packages:
    sudo python3 bench/fleet_bench.py [--hosts 1,4,16] [--rounds 3] [--no-guest]
Prints one line a measurement and a table at the end; the median of the rounds.
"""
import argparse
import fcntl
import glob
import os
import shutil
import statistics
import subprocess
import sys
import time

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(TOP, 'tests', 'fleet'))
import fleet as fl  # noqa: E402

CONFIG = '''- hosts: authservers
  become: true
  gather_facts: false
  tasks:
    - vorn.admin.config:
        path: /etc/vorn_sql
        hostname: db.example.net
        port: 3306
        dbname: quordexDB
        username: yelto
        password: "{{ vault_vorn_db_password }}"
        encrypt: true
        lock: true
'''
COPY = '''- hosts: authservers
  become: true
  gather_facts: false
  tasks:
    - ansible.builtin.copy:
        src: %s
        dest: /etc/vorn_sql.copy
        mode: "0444"
'''
KEY = '''- hosts: authservers
  become: true
  gather_facts: false
  tasks:
    - vorn.admin.keyfile:
        key: "{{ vault_vorn_key }}"
'''
RESET = 'sudo quordex_helper /etc/vorn_sql 0; sudo rm -f /etc/vorn_sql /etc/vorn_sql.copy'


def timed_play(ctl, book, want_changed):
    started = time.monotonic()
    r = fl.run(['ansible-playbook', book, '--vault-password-file', 'vault-pass'], cwd=ctl.dir, env=ctl.env)
    seconds = time.monotonic() - started
    if r.returncode != 0 or ('changed=0' in r.stdout) == want_changed:
        sys.exit('%s did not run as expected (status %d):\n%s' % (book, r.returncode, r.stdout[-2000:]))
    return seconds


def measure(fleet, ctl, names, rounds):
    """Median seconds of config and copy, first run and no-change run, on NAMES."""
    with open(ctl.dir + '/config.yml', 'w') as f:
        f.write(CONFIG)
    with open(ctl.dir + '/key.yml', 'w') as f:
        f.write(KEY)
    timed_play(ctl, 'key.yml', True)
    times = {k: [] for k in ('config first', 'config again', 'copy first', 'copy again')}
    for _ in range(rounds):
        times['config first'].append(timed_play(ctl, 'config.yml', True))
        times['config again'].append(timed_play(ctl, 'config.yml', False))
        if not os.path.exists(ctl.dir + '/bytes'):  # the same bytes on every host: the same key and values
            with open(ctl.dir + '/bytes', 'wb') as f:
                f.write(fleet.ssh(names[0], 'cat /etc/vorn_sql', text=False).stdout)
        with open(ctl.dir + '/copy.yml', 'w') as f:
            f.write(COPY % (ctl.dir + '/bytes'))
        times['copy first'].append(timed_play(ctl, 'copy.yml', True))
        times['copy again'].append(timed_play(ctl, 'copy.yml', False))
        for n in names:
            fleet.ssh(n, RESET)
    return {k: statistics.median(v) for k, v in times.items()}


def report(label, t):
    print('%-22s config first %6.1f s  copy first %6.1f s  ratio %.2f | config again %6.1f s  copy again %6.1f s'
          '  ratio %.2f' % (label, t['config first'], t['copy first'], t['config first'] / t['copy first'],
                            t['config again'], t['copy again'], t['config again'] / t['copy again']), flush=True)


def main():
    p = argparse.ArgumentParser()
    p.add_argument('--hosts', default='1,4,16')
    p.add_argument('--rounds', type=int, default=3)
    p.add_argument('--no-guest', action='store_true')
    args = p.parse_args()
    debs = sorted(glob.glob(TOP + '/build/i386/packages/vorn-admin*_i386.deb'))
    if len(debs) != 2:
        sys.exit('no i386 packages in build/i386/packages (bash scripts/test or bash scripts/package makes them)')
    root_script = TOP + '/scripts/root'
    system = fl.run(['bash', root_script, 'installed', 'i386-host'] + debs).stdout.strip()
    lock = open(system + '.lock', 'a')
    fcntl.flock(lock, fcntl.LOCK_SH)  # the hosts run on it: not to be made again meanwhile
    results = []
    counts = [int(n) for n in args.hosts.split(',')] + ([] if args.no_guest else ['guest'])
    for n in counts:
        work = TOP + '/build/bench/fleet-%s' % n
        shutil.rmtree(work, ignore_errors=True)
        os.makedirs(work)
        fleet = fl.Fleet(root_script, system, work)
        try:
            if n == 'guest':
                fleet.start_guest(3306)
                names = ['guest']
            else:
                names = ['h%02d' % i for i in range(n)]
                for name in names:
                    fleet.start(name)
            if fleet.wait(names, 240):
                sys.exit('hosts did not come up')
            ctl = fl.Controller(fleet, TOP + '/ansible', TOP + '/README.md', 3306, 'Bench-Password-1',
                                '0123456789abcdeffedcba9876543211')
            t = measure(fleet, ctl, names, args.rounds)
        finally:
            fleet.stop_all()
        label = '%s host%s' % (n, '' if n == 1 else 's') if n != 'guest' else 'the 32-bit guest'
        report(label, t)
        results.append((label, t, len(names)))
    print('\nper host: config first run / no-change run, seconds')
    for label, t, hosts in results:
        print('%-22s %.2f / %.2f' % (label, t['config first'] / hosts, t['config again'] / hosts))
    return 0


if __name__ == '__main__':
    sys.exit(main())
