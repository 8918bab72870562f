#!/usr/bin/python3
# The collection vorn.admin end to end: built with ansible-galaxy, run by
# ansible-playbook against several hosts on the local connection, each with its
# own configuration file in a scratch folder, using the programs of the build.
#   run.py files|lock COLLECTION SCRATCH NAME=PROGRAM...
# (every program of the build under its own name: the hosts' bin folder).
# While the plays run, a sampler reads every process's command line and
# environment and every file in the temporary folders, and each program logs its
# own: no secret may show in any of them.
# Exits 77 (skipped) with the reason when something it needs is missing.
import json, os, shlex, shutil, subprocess, sys, time

import sampler as sampling

part, collection, scratch = sys.argv[1], os.path.abspath(sys.argv[2]), os.path.abspath(sys.argv[3])
programs = {n: os.path.abspath(p) for n, p in (a.split('=', 1) for a in sys.argv[4:])}
vorn_show, keyfile, dbcheck = programs['vorn_show'], programs['vorn_keyfile'], programs.get('vorn_dbcheck')
SECRET = 'pa55 w\u00f6rd $HOME'  # a space, bytes from 0x80 up, no variable to expand
KEY, OTHER_KEY = 'c0de5ec7e7ba5eba11fee1deadbeef42', '5ca1ab1ef00dfacefeedcafe0badbeef'
OLD = ['old-pw%d' % i for i in range(5)]  # in a file edited by hand
SECRETS = [x.encode() for x in [SECRET, KEY, KEY.upper(), OTHER_KEY, OTHER_KEY.upper()] + OLD]
root = os.path.join(scratch, 'ansible-' + part)
failures = []


def run(argv, **kw):
    return subprocess.run(argv, capture_output=True, text=True, **kw)


def check(ok, what):
    if not ok:
        failures.append(what)
        print('FAIL: ' + what)


def skip(reason):
    sys.exit(print('skipped: ' + reason) or 77)


if shutil.which('ansible-playbook') is None:
    skip('ansible-playbook not found (bash scripts/setup installs ansible-core)')
run(['chattr', '-R', '-i', root])
shutil.rmtree(root, ignore_errors=True)
os.makedirs(root + '/bin')
if part == 'lock':
    if os.geteuid() != 0:
        skip('needs root: only a privileged caller changes the immutable attribute')
    open(root + '/probe', 'w').close()
    if run(['chattr', '+i', root + '/probe']).returncode != 0:
        skip('the file system of %s cannot set the immutable attribute' % root)
    run(['chattr', '-i', root + '/probe'])
os.makedirs(root + '/log')
os.makedirs(root + '/tmp')  # the temporary folder of Ansible and the modules (TMPDIR)
for name, target in programs.items():  # each logs its arguments and environment, a file a process
    if name != 'vorn_dbcheck':  # linked in only for its own check below
        with open(root + '/bin/' + name, 'w') as f:
            f.write('#!/bin/sh\n{ printf "%%s\\n" "$0" "$@"; env; } >>%s/log/%s.$$\nexec %s "$@"\n'
                    % (shlex.quote(root), name, shlex.quote(target)))
        os.chmod(root + '/bin/' + name, 0o755)
key, bad_key = root + '/key', root + '/badkey'
assert run([keyfile, '--key-stdin', key + '/.vorn_yelto'], input=KEY).returncode == 0
assert run([keyfile, bad_key + '/.vorn_yelto']).returncode == 0
os.chmod(bad_key + '/.vorn_yelto', 0o600)  # a mode the key loader refuses

# Pipelining, as the README has it: no module with its arguments is written to a file.
env = dict(os.environ, ANSIBLE_COLLECTIONS_PATH=root + '/collections', ANSIBLE_NOCOLOR='1', TMPDIR=root + '/tmp',
           ANSIBLE_LOCAL_TEMP=root + '/tmp', ANSIBLE_REMOTE_TMP=root + '/tmp', ANSIBLE_PIPELINING='True',
           ANSIBLE_CALLBACKS_ENABLED='tree', ANSIBLE_CALLBACK_TREE_DIR=root + '/results')
for args in (['build', collection, '--output-path', root],
             ['install', '-p', root + '/collections', root + '/vorn-admin-1.0.0.tar.gz']):
    r = run(['ansible-galaxy', 'collection'] + args, env=env)
    assert r.returncode == 0, r.stdout + r.stderr

values = dict(db_host='127.0.0.1', db_port=3307, db_name='quordexDB', db_user='yelto',
              db_password=SECRET)
hosts = {'plain': dict(values, encrypt=False), 'enc': dict(values, encrypt=True)}
if part == 'files':
    hosts['defaults'] = dict(encrypt=False, db_host='10.0.0.5', accept_defaults=True, file_mode='0400')
    hosts['enc_declined'] = dict(encrypt=True, db_host='db2', db_password=SECRET)
for h, v in hosts.items():
    os.makedirs(root + '/' + h)
    v.update(conf=root + '/' + h + '/vorn.conf', key_dir=key, bin_dir=root + '/bin',
             ansible_connection='local', ansible_python_interpreter=sys.executable)
# enc's key file is provisioned by the plays, enc_declined's holds the key already.
hosts['enc'].update(key_dir=root + '/enc', vorn_key=KEY)
if part == 'files':
    hosts['enc_declined'].update(vorn_key=KEY)


def file_state(path):
    try:
        st = os.stat(path)
        with open(path, 'rb') as f:
            return f.read(), st.st_ino, st.st_mtime_ns, st.st_mode & 0o7777
    except FileNotFoundError:
        return None


def state(h):
    return file_state(hosts[h]['conf']), file_state(hosts[h]['key_dir'] + '/.vorn_yelto')


def revealed(h):
    return run([vorn_show, '--reveal', '--key-file=' + key + '/.vorn_yelto', hosts[h]['conf']]).stdout


def play(name, flags, changes, want_changed, want_failed, want_locked=None, keys_changed=()):
    """One ansible-playbook run over every host after CHANGES to their variables; checks
    which hosts changed and failed, which of those with a key had their key task changed,
    and that the others' files (all in check mode), key files included, stay."""
    for h, v in changes.items():
        hosts[h].update(v)
        hosts[h] = {k: x for k, x in hosts[h].items() if x is not None}
    with open(root + '/inventory.json', 'w') as f:
        json.dump({'all': {'hosts': hosts}}, f)
    shutil.rmtree(root + '/results', ignore_errors=True)
    before = {h: state(h) for h in hosts}
    r = run(['ansible-playbook', '-i', root + '/inventory.json',
             os.path.join(os.path.dirname(__file__), 'config.yml')] + flags, env=env)
    print('== %s: status %d\n%s%s' % (name, r.returncode, r.stdout, r.stderr))
    keys = r.stdout.partition('TASK [key]')[2].partition('\nTASK [')[0]
    for h in hosts:
        with open(root + '/results/' + h) as f:
            res = json.load(f)
        output = (r.stdout + r.stderr + json.dumps(res, ensure_ascii=False)).encode()
        check(not any(x in output for x in SECRETS), '%s: a secret is in the output for %s' % (name, h))
        check('vorn_key' not in hosts[h] or ('changed: [%s]' % h in keys) == (h in keys_changed),
              '%s: %s key changed' % (name, h))
        check(bool(res.get('changed')) == (h in want_changed), '%s: %s changed' % (name, h))
        # The tree's result of a failed task does not say "failed": the output does.
        check(want_failed.get(h, '\0') in res.get('msg', '') if h in want_failed else
              'fatal: [%s]' % h not in r.stdout, '%s: %s failure %r' % (name, h, res.get('msg')))
        if h not in want_changed or '--check' in flags:
            check(state(h) == before[h], '%s: %s file touched' % (name, h))
        else:
            check(state(h)[0][3] == int(hosts[h].get('file_mode', '0444'), 8), '%s: %s mode' % (name, h))
        if '--diff' in flags and h in want_changed:
            diff = r.stdout.partition('+++ after: %s\n' % hosts[h]['conf'])[2].partition('\nchanged: ')[0]
            check('" PASSWORD *****\n' in diff and 'mekvisa' not in diff,
                  '%s: %s diff does not mask the password: %s' % (name, h, diff))
        if want_locked is not None:
            attrs = run(['lsattr', '-d', hosts[h]['conf']]).stdout.split(' ')[0]
            check(('i' in attrs) == (h in want_locked), '%s: %s lock %r' % (name, h, attrs))


def program_label(words):
    """Counts the command lines that run a program under NAME, those that run its entry
    in the bin folder under bin/NAME."""
    for w in words:
        if w in own_programs:
            return own_programs[w]
    return None


own_programs = {p.encode(): n for n, p in programs.items()}
own_programs.update({(root + '/bin/' + n).encode(): 'bin/' + n for n in programs})
sampler = sampling.Sampler(SECRETS, program_label, [root + '/tmp']).start()
started = time.monotonic()
everyone = set(hosts)
if part == 'files':
    for m in ('vorn.admin.config', 'vorn.admin.dbcheck', 'vorn.admin.keyfile', 'vorn.admin.rotate'):
        r = run(['ansible-doc', m], env=env)
        check(r.returncode == 0 and 'RETURN VALUES' in r.stdout and 'bin_dir' in r.stdout,
              'ansible-doc %s: %s' % (m, r.stdout + r.stderr))
    # enc's key is not there yet to encrypt under.
    play('check mode, no files yet', ['--check', '--diff'], {}, everyone - {'enc'},
         {'enc': 'Cannot load the encryption key'}, keys_changed={'enc'})
    play('first run', [], {}, everyone, {}, keys_changed={'enc'})
    # What each host's file holds, decrypted (enc's under the key file the test wrote for KEY):
    # given values, defaults accepted, declined lines left out.
    for h, lines, absent in (
            ('plain', ['" PASSWORD ' + SECRET, '" PORTNO 3307'], []),
            ('enc', ['" PASSWORD ' + SECRET, '" HOSTNAME 127.0.0.1'], []),
            ('defaults', ['" HOSTNAME 10.0.0.5', '" PORTNO 3306', '" PASSWORD mekvisa'], []),
            ('enc_declined', ['" HOSTNAME db2', '" PASSWORD ' + SECRET], ['" PORTNO', '" DBNAME'])):
        text, data = revealed(h), state(h)[0][0]
        check(all(x + '\n' in text for x in lines) and not any(x in text for x in absent),
              'contents of %s: %r' % (h, text))
        check(data.startswith(b'" AUTH_KEY\n') == (not hosts[h]['encrypt']), 'form of ' + h)
    play('second run', ['--diff'], {}, set(), {})
    with open(hosts['plain']['conf'] + '.new', 'w') as f:  # an old password in each form
        f.write('" AUTH_KEY\n"  PASSWORD %s\n" PASSWORD\t%s\n\t" password = %s\n"PASSWORD:%s\r\n%s\n' % tuple(OLD))
    os.replace(hosts['plain']['conf'] + '.new', hosts['plain']['conf'])
    play('changed port, edited file, check mode', ['--check', '--diff'], {'enc': {'db_port': 3310}},
         {'enc', 'plain'}, {})
    play('changed port, edited file', ['--diff'], {}, {'enc', 'plain'}, {})
    check('" PORTNO 3310\n' in revealed('enc'), 'enc has the new port')
    play('another key, a refused key, no key to load', [],
         {'enc': {'vorn_key': OTHER_KEY}, 'plain': {'vorn_key': 'c0de'}, 'enc_declined': {'key_dir': bad_key}},
         set(), {'enc': 'holds another key; it is not replaced', 'plain': 'exactly 32 hexadecimal digits',
                 'enc_declined': 'no key can be loaded from'})
    play('unloadable key file', [], {'enc': {'vorn_key': KEY.upper()}, 'plain': {'vorn_key': None},
                                     'enc_declined': {'vorn_key': None}}, set(),
         {'enc_declined': 'vorn_set: Cannot load the encryption key'})
    play('refused port, a line break in a value, a refused mode', [],
         {'plain': {'db_port': 80}, 'defaults': {'db_password': 'pw\nportno=3400'}, 'enc': {'db_user': 'yel\rto'},
          'enc_declined': {'key_dir': key, 'file_mode': '0644'}}, set(),
         {'plain': 'vorn_set: line 2: portno is not a port number from 3306',
          'defaults': 'password: a value cannot hold a line break',
          'enc': 'username: a value cannot hold a line break', 'enc_declined': 'mode must be 0444 or 0400'})
    with open(root + '/results/plain') as f:
        check(json.load(f).get('rc') == 2, 'refused port: the status of vorn_set')
    # A program that ends before it reads its input (here a stand-in that refuses at once): run to
    # its end first (one CPU, the module's real-time priority, which lets nothing preempt it), it
    # has closed its input before the module writes there; the task still gives its message.
    os.makedirs(root + '/early')
    with open(root + '/early/vorn_set', 'w') as f:
        f.write('#!/bin/sh\nexec 0<&-\necho "vorn_set: refused at once" >&2\nexit 2\n')
    os.chmod(root + '/early/vorn_set', 0o755)
    for name in os.listdir(root + '/bin'):
        if name != 'vorn_set':
            os.symlink(root + '/bin/' + name, root + '/early/' + name)
    first = 'chrt -f 1 taskset -c 0 ' if run(['chrt', '-f', '1', 'true']).returncode == 0 else ''
    play('a program that reads no input', [], {'plain': {'db_port': 3307, 'bin_dir': root + '/early',
                                                         'ansible_python_interpreter': first + sys.executable},
                                               'defaults': {'db_password': None}, 'enc': {'db_user': 'yelto'},
                                               'enc_declined': {'file_mode': None}},
         set(), {'plain': 'vorn_set: refused at once'})
    hosts['plain'].update(bin_dir=root + '/bin', ansible_python_interpreter=sys.executable)
    if dbcheck:  # reads the encrypted file with the key given, then finds no server that lets it in
        os.symlink(dbcheck, root + '/bin/vorn_dbcheck')
        r = run(['ansible', 'enc', '-i', root + '/inventory.json', '-m', 'vorn.admin.dbcheck', '-a',
                 'path={{ conf }} key_file={{ key_dir }}/.vorn_yelto bin_dir={{ bin_dir }} timeout=3'],
                env=env)
        check(r.returncode == 2 and '"msg": "vorn_dbcheck: ' in r.stdout and '"rc": 1' in r.stdout,
              'dbcheck: ' + r.stdout + r.stderr)
    # vorn.admin.nrpe: each run's flags and extra options, whether it changes the file, the file after it.
    nrpe = root + '/nrpe.d/check_vorn.cfg'
    line = ('# check_vorn, put in place by vorn.admin.nrpe; a change by hand is undone by the next run.\n'
            'command[check_vorn]=/usr/bin/sudo -n /usr/lib/nagios/plugins/check_vorn -f %s -w 1 -c @0.5:5 '
            "-t 20:unknown -i lock,owner\n" % hosts['plain']['conf'])
    os.makedirs(root + '/nrpe.d')
    for flags, extra, result, after in (
            (['--check', '--diff'], '', 'CHANGED', None), (['--diff'], '', 'CHANGED', line), ([], '', 'SUCCESS', line),
            ([], ' name="a b"', 'FAILED', line), (['chmod'], '', 'CHANGED', line),
            (['--check'], ' state=absent', 'CHANGED', line), ([], ' state=absent', 'CHANGED', None),
            ([], ' state=absent', 'SUCCESS', None)):
        if flags == ['chmod']:
            flags = os.chmod(nrpe, 0o600) or []
        r = run(['ansible', 'plain', '-i', root + '/inventory.json', '-m', 'vorn.admin.nrpe', '-a',
                 'path={{ conf }} dest=%s warning=1 critical=@0.5:5 timeout=20:unknown ignore=lock,owner sudo=true'
                 % nrpe + extra] + flags, env=env)
        check(('plain | %s' % result) in r.stdout and file_state(nrpe) == (
            after and (after.encode(),) + file_state(nrpe)[1:3] + (0o644,)) and
            ('--diff' not in flags or '+' + line.splitlines()[1] in r.stdout), 'nrpe %s%s: %s' % (flags, extra, r.stdout))
else:
    play('first run, locked', [], {h: {'lock': True} for h in hosts}, everyone, {}, everyone, {'enc'})
    play('second run', [], {}, set(), {}, everyone)
    # A temporary file left by an interrupted run makes vorn_set fail after the unlock.
    open(hosts['plain']['conf'] + '~', 'w').close()
    play('leftover temporary file', [], {'plain': {'db_port': 3320}}, set(),
         {'plain': 'Failed to create'}, everyone)
    os.unlink(hosts['plain']['conf'] + '~')
    play('changed port and mode, lock kept', [], {'plain': {'lock': None}, 'enc': {'file_mode': '0400'}},
         {'plain', 'enc'}, {}, everyone)
    check('" PORTNO 3320\n' in revealed('plain'), 'plain has the new port')
    # vorn.admin.rotate carries enc (locked, mode 0400) over to OTHER_KEY: check mode, the rotation,
    # then nothing left to do; the file keeps its text, mode and lock, and no key shows.
    hosts['enc']['new_key'] = OTHER_KEY
    with open(root + '/inventory.json', 'w') as f:
        json.dump({'all': {'hosts': hosts}}, f)
    before = run([vorn_show, '--reveal', '--key-file=' + root + '/enc/.vorn_yelto', hosts['enc']['conf']]).stdout
    for flags, result in ((['--check'], 'CHANGED'), ([], 'CHANGED'), ([], 'SUCCESS'), (['--check'], 'SUCCESS')):
        r = run(['ansible', 'enc', '-i', root + '/inventory.json', '-m', 'vorn.admin.rotate', '-a',
                 'key={{ new_key }} files={{ conf }} key_file={{ key_dir }}/.vorn_yelto bin_dir={{ bin_dir }}'] + flags,
                env=env)
        output = (r.stdout + r.stderr).encode()
        check(('enc | %s' % result) in r.stdout and not any(x in output for x in SECRETS),
              'rotate %s: %s' % (flags, r.stdout))
    after = run([vorn_show, '--reveal', '--key-file=' + root + '/enc/.vorn_yelto', hosts['enc']['conf']]).stdout
    check(after == before and ('" PASSWORD %s\n' % SECRET) in after, 'rotate: the text of enc %r' % after)
    check(run([keyfile, '--check', '--key-stdin', root + '/enc/.vorn_yelto'], input=OTHER_KEY).returncode == 0 and
          state('enc')[0][3] == 0o400 and 'i' in run(['lsattr', hosts['enc']['conf']]).stdout.split(' ')[0],
          'rotate: key file, mode or lock of enc')
    hosts['enc']['vorn_key'] = OTHER_KEY
    play('unlocked', [], {h: {'lock': False} for h in hosts}, everyone, {}, set())
seen = sampler.stop()
runs = {}
for log in os.listdir(root + '/log'):
    with open(root + '/log/' + log, 'rb') as f:
        check(not any(x in f.read() for x in SECRETS), 'a secret in the arguments or environment: ' + log)
    runs[log.partition('.')[0]] = runs.get(log.partition('.')[0], 0) + 1
print('runs logged: %s\nsampled %d times: %d processes, %d command lines, of the programs: %s' % (
    runs, seen['samples'], seen['processes'], seen['command_lines'], seen['programs']))
check(not seen['sightings'], '%d processes showed a secret (%d samples), the first: %s' % (
    len(seen['sightings']), sum(seen['sightings'].values()), list(seen['sightings'])[:4]))
for n in ('vorn_set', 'vorn_show', 'vorn_keyfile'):  # seen at work, or the checks above prove nothing
    check(runs.get(n), 'logged nothing useful: no run of ' + n)
    check(seen['programs'].get(n) or seen['programs'].get('bin/' + n), 'sampled nothing useful: no ' + n)
print('%d failures; the playbook runs took %.1f s' % (len(failures), time.monotonic() - started))
if not failures:
    shutil.rmtree(root)
sys.exit(1 if failures else 0)
