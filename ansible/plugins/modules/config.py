#!/usr/bin/python
# -*- coding: utf-8 -*-
# vorn.admin.config: writes the vorn connection configuration with vorn_set only
# when the file is not already what vorn_set would write, the values on its
# standard input, checks it with vorn_show, and keeps the immutable lock as
# asked (quordex_helper).
from __future__ import absolute_import, division, print_function
__metaclass__ = type

DOCUMENTATION = r'''
---
module: config
short_description: Write the vorn MariaDB connection configuration idempotently
version_added: 1.0.0
description:
  - Writes the database-connection configuration file of the vorn authentication product
    with C(vorn_set), plain or encrypted, on the managed host. C(vorn_set) writes the same
    file as C(vorn_sql), byte for byte, and takes the values on its standard input.
  - Idempotent. The module first asks C(vorn_set --print) for the bytes it would write with
    the same values, checks them with C(vorn_show -), both through pipes, and compares them
    with the file at I(path); no copy of the file is ever written anywhere else, in check mode
    neither. The written form is the same for the same values and key, encrypted included.
    When the file already holds those bytes, has the mode asked (I(mode)) and is locked or
    unlocked as asked, nothing is touched and no change is reported.
  - Otherwise a locked file is unlocked with C(quordex_helper), C(vorn_set) replaces it
    atomically, the result is checked with C(vorn_show), and the file is locked again when
    asked. When only the lock differs, only the lock is changed.
  - A failure reports the program's own message. The old file stays as it was, and so does
    its lock.
  - In diff mode the old and the new text are shown as C(vorn_show) prints them, with the
    password masked as C(*****), also in an old file edited by hand (a C(PASSWORD) line spaced
    or cased otherwise, a value under an unknown key or a line of its own).
  - Needs the programs of the C(vorn-admin) package on the host. The values go to C(vorn_set)
    on its standard input, never on a command line or into the environment, so the password
    never shows in the process list. A value with a line break (a newline or a carriage return)
    is refused.
  - An encrypted file needs the host's key file; M(vorn.admin.keyfile) provisions it.
author:
  - vorn maintainers (!UNKNOWN)
options:
  path:
    description:
      - Absolute path of the configuration file, as given to C(vorn_set --secret).
      - Its folder must exist. A file C(path~) left by an interrupted run makes C(vorn_set) fail.
    type: path
    required: true
  hostname:
    description: Host name or IP address of the MariaDB server (C(HOSTNAME) line).
    type: str
  port:
    description: Port of the MariaDB server, from 3306 (C(PORTNO) line).
    type: int
  dbname:
    description: Database to open (C(DBNAME) line).
    type: str
  username:
    description: MariaDB user name (C(USERNAME) line).
    type: str
  password:
    description:
      - Password of the MariaDB user (C(PASSWORD) line). Never logged, masked in the diff, given
        to C(vorn_set) on its standard input only.
    type: str
  encrypt:
    description:
      - Write the encrypted form (C(vorn_set -e yes)) under the key of the host's key file
        C(/usr/quordex/tirun/.vorn_yelto); otherwise the plain text.
    type: bool
    default: false
  accept_defaults:
    description:
      - For each connection value not given, write the default of C(vorn_sql) (port 3306, database
        quordexDB, password mekvisa, user yelto, host localhost), as C(vorn_sql) does when its
        default is accepted (C(vorn_set -y)).
      - When false, those lines are left out, as C(vorn_sql) does when a default is declined.
    type: bool
    default: false
  mode:
    description:
      - Mode of the file, C(0444) (readable by everyone, as C(vorn_set) creates it) or C(0400)
        (readable by its owner only); any other mode is refused. Quote it (C('0400')), or YAML
        reads C(400) as a decimal number.
      - A file with another mode is written again, so that the file is created with this mode
        (C(vorn_set) under the matching umask) and never has a looser one, not even for a moment.
    type: raw
    default: '0444'
  lock:
    description:
      - C(true) leaves the file with the immutable attribute set, C(false) without it.
      - When not given, the lock stays as found; a locked file that must be rewritten is unlocked
        for the write and locked again.
      - Changing the attribute needs root (the capability C(CAP_LINUX_IMMUTABLE)) and a file
        system that supports it.
    type: bool
extends_documentation_fragment:
  - vorn.admin.programs
  - vorn.admin.programs.configuration
  - ansible.builtin.action_common_attributes
attributes:
  check_mode:
    support: full
    details: The comparison runs as usual (through pipes, writing no file) and nothing else is
      done.
  diff_mode:
    support: full
    details: The old and the new text as C(vorn_show) prints them, the password masked.
  platform:
    platforms: posix
notes:
  - The manual pages vorn_set(1), vorn_show(1) and quordex_helper(8) on the host describe the
    programs and their messages.
seealso:
  - module: vorn.admin.keyfile
  - module: vorn.admin.dbcheck
'''

EXAMPLES = r'''
- name: The key file, the same key on every host
  vorn.admin.keyfile:
    key: "{{ vault_vorn_key }}"

- name: A folder that only root can enter, for the file
  ansible.builtin.file:
    path: /etc/vorn
    state: directory
    owner: root
    group: root
    mode: '0700'

- name: Same encrypted configuration on every host, locked
  vorn.admin.config:
    path: /etc/vorn/vorn_sql
    hostname: db.example.net
    port: 3306
    dbname: quordexDB
    username: yelto
    password: "{{ vault_vorn_db_password }}"
    encrypt: true
    lock: true

- name: Only the host given, the other values from vorn_sql's defaults, readable by root only
  vorn.admin.config:
    path: /root/.vorn_sql
    hostname: 10.0.0.5
    accept_defaults: true
    mode: '0400'
'''

RETURN = r'''
path:
  description: The configuration file.
  returned: always
  type: str
  sample: /etc/vorn/vorn_sql
rewritten:
  description: Whether vorn_set replaced the file (in check mode, whether it would).
  returned: always
  type: bool
  sample: true
locked:
  description: Whether the file has the immutable attribute at the end (in check mode, would have).
  returned: always
  type: bool
  sample: true
encrypted:
  description: Whether the file is written in the encrypted form.
  returned: always
  type: bool
  sample: false
'''

import errno
import fcntl
import os
import stat
import struct

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.vorn.admin.plugins.module_utils.programs import (
    PROGRAM_ARGS, failure_text, find_program, key_args, run_program)

# The connection values, each with the name of its line on vorn_set's input.
CONNECTION_OPTIONS = (
    ('hostname', 'hostname'),
    ('port', 'portno'),
    ('dbname', 'dbname'),
    ('username', 'username'),
    ('password', 'password'),
)

# The attribute request of the Linux file-attribute interface (encoded with the
# size of a long, as <linux/fs.h> does) and its immutable bit.
FS_IOC_GETFLAGS = 0x80006601 | (struct.calcsize('l') << 16)
FS_IMMUTABLE_FL = 0x10

# Larger than any configuration vorn_set writes; a larger file differs anyway.
READ_LIMIT = 65536

# The modes the file may have: vorn_set's own, and readable by its owner only.
MODES = (0o444, 0o400)


def run_vorn_set(module, vorn_set, path, print_only=False, mode=0o444):
    """Runs vorn_set for PATH with the values given as lines NAME=VALUE on its
    standard input, the others left out or, with accept_defaults, vorn_sql's
    defaults: it replaces PATH with a file of MODE, or with PRINT_ONLY gives the
    bytes it would write there on its standard output. Returns its status, that
    output and, when it failed, its message, named after it (its own refusals
    already are, the messages it shares with vorn_sql are not)."""
    p = module.params
    argv = [vorn_set, '--secret=' + path, '--encrypt-flag=' + ('yes' if p['encrypt'] else 'no')]
    if p['accept_defaults']:
        argv.append('--accept-defaults')
    if print_only:
        argv.append('--print')
    lines = ''.join('%s=%s\n' % (name, p[option]) for option, name in CONNECTION_OPTIONS if p[option] is not None)
    # vorn_set creates the file with mode 0444 less the umask.
    rc, out, err = run_program(module, argv, data=lines, umask=0o022 | (0o444 & ~mode), raw_output=True)
    message = failure_text('', err)  # never the output: it holds the file's bytes
    return rc, out, message if message.startswith('vorn_set: ') else 'vorn_set: ' + message


def line_break_in(module):
    """The first text value that holds a line break, which no line of the file
    can: a newline would end the value's line on vorn_set's input, and a
    carriage return ends a line for many a reader of the file."""
    for option in ('hostname', 'dbname', 'username', 'password'):
        value = module.params[option]
        if value is not None and ('\n' in value or '\r' in value):
            return option
    return None


def wanted_mode(module):
    """The mode option as a number: an octal text ('0400', '400') or the number that
    YAML reads from 0400; None when it is not one of MODES."""
    mode = module.params['mode']
    if isinstance(mode, bool):
        return None
    if not isinstance(mode, int):
        try:
            mode = int(str(mode), 8)
        except ValueError:
            return None
    return mode if mode in MODES else None


def read_regular(path):
    """The bytes and mode of PATH when it is a regular file, else (None, None).
    A symbolic link counts as no file: vorn_set replaces the link itself."""
    try:
        fd = os.open(path, os.O_RDONLY | os.O_NONBLOCK | os.O_NOFOLLOW)
    except OSError as e:
        if e.errno in (errno.ENOENT, errno.ELOOP, errno.ENOTDIR):
            return None, None
        raise
    try:
        st = os.fstat(fd)
        if not stat.S_ISREG(st.st_mode):
            return None, None
        return os.read(fd, READ_LIMIT + 1), stat.S_IMODE(st.st_mode)
    finally:
        os.close(fd)


def is_locked(path):
    """Whether the regular file PATH has the immutable attribute; False where
    the file system keeps no attributes."""
    try:
        fd = os.open(path, os.O_RDONLY | os.O_NONBLOCK | os.O_NOFOLLOW)
    except OSError:
        return False
    try:
        buf = bytearray(struct.calcsize('l'))
        fcntl.ioctl(fd, FS_IOC_GETFLAGS, buf)
        return bool(struct.unpack_from('i', buf)[0] & FS_IMMUTABLE_FL)
    except OSError:
        return False
    finally:
        os.close(fd)


def set_lock(module, path, on):
    helper = find_program(module, 'quordex_helper')
    rc, out, err = run_program(module, [helper, path, '1' if on else '0'])
    if rc != 0:
        return failure_text(out, err)
    return None


def show(module, vorn_show, path, data=None):
    """The text vorn_show prints for PATH (password masked), and its status and
    message; with DATA, for those bytes, on its standard input."""
    rc, out, err = run_program(module, [vorn_show] + key_args(module) + [path if data is None else '-'], data=data)
    return rc, out, failure_text(out, err)


ARGUMENT_SPEC = dict(
    path=dict(type='path', required=True),
    hostname=dict(type='str'),
    port=dict(type='int'),
    dbname=dict(type='str'),
    username=dict(type='str'),
    password=dict(type='str', no_log=True),
    encrypt=dict(type='bool', default=False),
    accept_defaults=dict(type='bool', default=False),
    mode=dict(type='raw', default='0444'),
    lock=dict(type='bool'),
    **PROGRAM_ARGS
)


def trial(module, vorn_set, vorn_show, result):
    """The bytes that vorn_set writes for these values and vorn_show's text of
    them, through pipes: no copy of the file is written anywhere."""
    path = module.params['path']
    rc, new, message = run_vorn_set(module, vorn_set, path, print_only=True)
    if rc != 0:
        module.fail_json(msg=message, rc=rc, **result)
    rc, new_text, message = show(module, vorn_show, path, data=new)
    if rc != 0:
        module.fail_json(msg='vorn_show, on the bytes vorn_set writes for %s: %s' % (path, message), rc=rc, **result)
    return new, new_text


def text_diff(module, vorn_show, path, had_file, new_text):
    """The diff of the old text (as vorn_show prints it, or its message when
    it cannot read the file) with the new one."""
    before = ''
    if had_file:
        rc, before, message = show(module, vorn_show, path)
        if rc == 2:
            before = '(%s)\n' % message
    return dict(before=before, after=new_text, before_header=path, after_header=path)


def decide(module, vorn_set, vorn_show):
    """What the task has to do, found without touching the file: the result to
    report (whether vorn_set rewrites the file, whether the lock changes), the
    bytes to write and the lock found."""
    p, want_mode = module.params, wanted_mode(module)
    result = dict(changed=False, path=p['path'], rewritten=False, encrypted=p['encrypt'])
    old, mode = read_regular(p['path'])
    was_locked = old is not None and is_locked(p['path'])
    want_locked = was_locked if p['lock'] is None else p['lock']
    new, new_text = trial(module, vorn_set, vorn_show, result)
    rewrite = old != new or mode != want_mode
    result.update(rewritten=rewrite, locked=want_locked,
                  changed=rewrite or want_locked != was_locked)
    if module._diff and rewrite:
        result['diff'] = text_diff(module, vorn_show, p['path'], old is not None, new_text)
    return dict(result=result, new=new, mode=want_mode, was_locked=was_locked, want_locked=want_locked)


def fail_write(module, plan, rc, message):
    """Fails the task after vorn_set refused to write: the old file is still
    there, so it gets its lock back."""
    result = plan['result']
    result.update(changed=False, rewritten=False, locked=plan['was_locked'])
    relock = plan['was_locked'] and set_lock(module, module.params['path'], True)
    if relock:
        result.update(changed=True, locked=False)
        message += '; the old file stays unlocked: quordex_helper: %s' % relock
    module.fail_json(msg=message, rc=rc, **result)


def rewrite(module, vorn_set, vorn_show, plan):
    """Replaces the file with vorn_set, unlocking it first when locked, and
    checks that it holds the bytes of the trial run with the mode asked and
    passes vorn_show."""
    path, result = module.params['path'], plan['result']
    if plan['was_locked']:
        message = set_lock(module, path, False)
        if message:
            module.fail_json(msg='quordex_helper: %s' % message, **result)
    rc, dummy, message = run_vorn_set(module, vorn_set, path, mode=plan['mode'])
    if rc != 0:
        fail_write(module, plan, rc, message)
    data, mode = read_regular(path)
    if data != plan['new']:
        module.fail_json(msg='%s: vorn_set wrote other bytes than in the trial run' % path, **result)
    if mode != plan['mode']:
        module.fail_json(msg='%s: vorn_set left mode %04o, not %04o' % (path, mode, plan['mode']), **result)
    rc, text, message = show(module, vorn_show, path)
    if rc != 0:
        module.fail_json(msg='vorn_show: %s' % message, rc=rc, **result)


def carry_out(module, vorn_set, vorn_show, plan):
    """Does what decide() found: the rewrite, then the lock as wanted."""
    was_locked = plan['was_locked']
    if plan['result']['rewritten']:
        rewrite(module, vorn_set, vorn_show, plan)
        was_locked = False  # vorn_set's new file has no attributes
    if plan['want_locked'] != was_locked:
        message = set_lock(module, module.params['path'], plan['want_locked'])
        if message:
            module.fail_json(msg='quordex_helper: %s' % message, **plan['result'])


def main():
    module = AnsibleModule(argument_spec=ARGUMENT_SPEC, supports_check_mode=True)
    path = module.params['path']
    if not os.path.isabs(path):
        module.fail_json(msg='path must be absolute: %s' % path)
    option = line_break_in(module)
    if option is not None:
        module.fail_json(msg='%s: a value cannot hold a line break' % option)
    if wanted_mode(module) is None:
        module.fail_json(msg='mode must be 0444 or 0400 (quoted, as \'0400\'), not %r' % (module.params['mode'],))
    vorn_set = find_program(module, 'vorn_set')
    vorn_show = find_program(module, 'vorn_show')
    plan = decide(module, vorn_set, vorn_show)
    if plan['result']['changed'] and not module.check_mode:
        carry_out(module, vorn_set, vorn_show, plan)
    module.exit_json(**plan['result'])


if __name__ == '__main__':
    main()
