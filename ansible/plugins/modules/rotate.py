#!/usr/bin/python
# -*- coding: utf-8 -*-
# vorn.admin.rotate: carries a host's key file and its encrypted configuration
# files over to a new key the play holds (kept in Ansible Vault), with
# vorn_keyfile --rotate, which keeps the old key on the host until every file
# is under the new one and finishes, when run again, a rotation that was
# stopped. The key goes to the program on standard input only.
from __future__ import absolute_import, division, print_function
__metaclass__ = type

DOCUMENTATION = r'''
---
module: rotate
short_description: Rotate the key of the encrypted vorn configuration
version_added: 1.0.0
description:
  - Replaces the key file by one for the new I(key) and rewrites each encrypted configuration
    file of I(files) under it, with C(vorn_keyfile --rotate --key-stdin) on the host. Every file
    keeps its text byte for byte, its owner and mode, and its immutable lock.
  - Before it changes anything, the host's program checks every file; a file that is plain, or
    that no key on the host opens, fails the task and nothing is changed.
  - The old key stays on the host, in the old-key file C(KEY_FILE.old-key) (mode 0400) beside the
    key file, until every file is under the new key. A host where the rotation was stopped (the
    host went down, the disk filled up, the connection was lost) fails the task, and is left so
    that the next run of the same task finishes the rotation; every file opens meanwhile under
    the key file or the old-key file.
  - A host where the key file holds the new key, every file is under it and no old-key file is
    left reports no change.
  - For a group of hosts, run the play with C(serial) batches and C(max_fail_percentage=0), so
    that a failing host stops the rotation of the next batches, and after this task one that
    fails while a host of the play is unreachable, which C(max_fail_percentage) does not count
    (see the examples). Once every host
    is rotated, give the new key to M(vorn.admin.keyfile) and M(vorn.admin.config) in place of the
    old one.
  - Between the key file's rename and the last file's (a few milliseconds) the product's reader
    could read a file under the other key; where that must never happen, stop the service that
    reads the configuration around this task.
  - The key goes to C(vorn_keyfile) on its standard input only, never on a command line, into the
    environment or into the task's result.
  - Needs C(vorn_keyfile) of the C(vorn-admin) package on the host, and C(vorn_show) for check
    mode; the fixed key path and locked files need root.
author:
  - vorn maintainers (!UNKNOWN)
options:
  key:
    description:
      - The new key, 32 hexadecimal digits, upper or lower case, none of its 16 bytes 00. Never
        logged.
    type: str
    required: true
  files:
    description:
      - Absolute paths of the encrypted configuration files of the host, from 1 to 64 of them.
      - A file already under the new key is kept as it is.
    type: list
    elements: path
    required: true
  key_file:
    description:
      - Absolute path of the key file. By default the fixed path that C(vorn_set), C(vorn_sql) and
        C(vorn_show) read.
    type: path
    default: /usr/quordex/tirun/.vorn_yelto
extends_documentation_fragment:
  - vorn.admin.programs
  - ansible.builtin.action_common_attributes
attributes:
  check_mode:
    support: full
    details: Writes nothing. Reports a change where a rotation would start or is under way (an
      old-key file is there); where the key file holds the new key already, checks with
      C(vorn_show) that every file opens under it and fails, as the rotation would, when one does
      not or is plain.
  diff_mode:
    support: none
  platform:
    platforms: posix
notes:
  - The manual page vorn_keyfile(8) on the host, section KEY ROTATION, describes each step and the
    state it leaves.
seealso:
  - module: vorn.admin.keyfile
  - module: vorn.admin.config
'''

EXAMPLES = r'''
- name: A new key for the authentication servers, two hosts at a time
  hosts: authservers
  serial: 2
  max_fail_percentage: 0
  become: true
  gather_facts: false
  tasks:
    - name: The key file and the configuration under the new key
      vorn.admin.rotate:
        key: "{{ vault_vorn_new_key }}"
        files:
          - /etc/vorn/vorn_sql

    - name: No next batch while a host is lost
      ansible.builtin.assert:
        that: ansible_play_hosts_all | difference(ansible_play_hosts) | length == 0
        fail_msg: "Lost mid-rotation, to be finished by the next run first:
          {{ ansible_play_hosts_all | difference(ansible_play_hosts) | join(', ') }}"
        quiet: true
      run_once: true
'''

RETURN = r'''
state:
  description: What the host was found in, before the task; C(done) the key file holds the new key
    and no rotation is under way, C(start) the key file holds another key, C(resume) a rotation
    was under way (an old-key file is there).
  returned: always
  type: str
  sample: start
key_file:
  description: The key file.
  returned: always
  type: str
  sample: /usr/quordex/tirun/.vorn_yelto
rc:
  description: The status of vorn_keyfile --rotate (0 done or nothing to do, 1 stopped by a failure,
    which the next run finishes, 2 usage error, 3 refused with nothing changed).
  returned: when the rotation ran
  type: int
  sample: 0
'''

import os

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.vorn.admin.plugins.module_utils.programs import (
    BIN_DIR_ARGS, failure_text, find_program, run_program)

KEY_PATH = '/usr/quordex/tirun/.vorn_yelto'
PLAIN_START = b'" AUTH_KEY\n'
MAX_FILES = 64

# What vorn_keyfile --check finds in the key file, by its status.
HOLDS_THE_KEY = 0
HOLDS_ANOTHER_KEY = 1


def host_state(module, vorn_keyfile):
    """done, start or resume: where the rotation of this host stands."""
    key_file = module.params['key_file']
    if os.path.lexists(key_file + '.old-key'):
        return 'resume'
    rc, out, err = run_program(module, [vorn_keyfile, '--check', '--key-stdin', key_file],
                               data=module.params['key'])
    if rc not in (HOLDS_THE_KEY, HOLDS_ANOTHER_KEY):
        module.fail_json(msg=failure_text(out, err), rc=rc, key_file=key_file, changed=False)
    return 'done' if rc == HOLDS_THE_KEY else 'start'


def check_files_done(module):
    """In check mode, on a host whose key file holds the new key: fails, as the
    rotation would, unless every file is encrypted and opens under it."""
    vorn_show = find_program(module, 'vorn_show')
    for path in module.params['files']:
        try:
            with open(path, 'rb') as f:
                plain = f.read(len(PLAIN_START)) == PLAIN_START
        except (IOError, OSError) as e:
            module.fail_json(msg='cannot read "%s": %s' % (path, e.strerror), changed=False)
        if plain:
            module.fail_json(msg='"%s" is plain, not encrypted: there is nothing to rotate' % path,
                             changed=False)
        rc, out, err = run_program(module, [vorn_show, '--quiet', '--key-file=' + module.params['key_file'],
                                            path])
        if rc > 1:  # 1: read, but not as vorn_sql writes it; the rotation keeps it as it is
            module.fail_json(msg=failure_text(out, err), rc=rc, changed=False)


def main():
    module = AnsibleModule(
        argument_spec=dict(
            key=dict(type='str', required=True, no_log=True),
            files=dict(type='list', elements='path', required=True),
            key_file=dict(type='path', default=KEY_PATH),
            **BIN_DIR_ARGS
        ),
        supports_check_mode=True,
    )
    key_file, files = module.params['key_file'], module.params['files']
    for path in [key_file] + files:
        if not os.path.isabs(path):
            module.fail_json(msg='paths must be absolute: %s' % path)
    if not 1 <= len(files) <= MAX_FILES:
        module.fail_json(msg='files takes from 1 to %d paths' % MAX_FILES)
    vorn_keyfile = find_program(module, 'vorn_keyfile')
    state = host_state(module, vorn_keyfile)
    if module.check_mode:
        if state == 'done':
            check_files_done(module)
        module.exit_json(changed=state != 'done', state=state, key_file=key_file)
    rc, out, err = run_program(module, [vorn_keyfile, '--rotate', '--key-stdin', '--key-file=' + key_file] + files,
                               data=module.params['key'])
    if rc != 0:
        # Stopped with the old-key file there: the host is part way, and the
        # next run finishes it.
        module.fail_json(msg=failure_text(out, err), rc=rc, state=state, key_file=key_file,
                         changed=os.path.lexists(key_file + '.old-key'))
    module.exit_json(changed='nothing to do' not in out, rc=rc, state=state, key_file=key_file)


if __name__ == '__main__':
    main()
