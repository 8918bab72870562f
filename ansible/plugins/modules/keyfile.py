#!/usr/bin/python
# -*- coding: utf-8 -*-
# vorn.admin.keyfile: provisions the key file of the encrypted configuration
# from a key the play holds (kept in Ansible Vault): vorn_keyfile writes it
# where it is missing, and vorn_keyfile --check decides, so that a key file is
# never replaced and the key-file format is known to the programs alone.
from __future__ import absolute_import, division, print_function
__metaclass__ = type

DOCUMENTATION = r'''
---
module: keyfile
short_description: Provision the key file of the encrypted vorn configuration
version_added: 1.0.0
description:
  - Writes the key file under whose key C(vorn_set) encrypts the configuration and C(vorn_show)
    decrypts it, for a key given to the task, usually from Ansible Vault. The same key on every
    host gives the same encrypted file on every host.
  - The host's C(vorn_keyfile --check) decides, by the same loading as C(vorn_sql) uses. When
    I(path) holds the key, nothing is done and no change is reported. When there is no file, it
    is written with C(vorn_keyfile) (mode 0444, missing folders made with mode 0755).
  - A file that holds another key is never replaced, since every configuration encrypted under
    the old key would become unreadable; the task fails, says so and changes nothing. So does a
    file from which no key can be loaded (a mode other than 0444, too short, damaged). To replace
    a key on purpose, remove the file, and write every encrypted configuration of the host again.
  - The key goes to C(vorn_keyfile) on its standard input only, never on a command line or into
    the environment.
  - Needs C(vorn_keyfile) of the C(vorn-admin) package on the host; the fixed path needs root.
author:
  - vorn maintainers (!UNKNOWN)
options:
  path:
    description:
      - Absolute path of the key file. By default the fixed path that C(vorn_set), C(vorn_sql) and
        C(vorn_show) read.
    type: path
    default: /usr/quordex/tirun/.vorn_yelto
  key:
    description:
      - The key, 32 hexadecimal digits, upper or lower case, none of its 16 bytes 00. Never logged.
      - A key that breaks these rules fails the task with the message of C(vorn_keyfile), in check
        mode too.
      - C(vorn_keyfile --print-key) on any host makes a random key file and prints its key, to keep
        in Ansible Vault.
    type: str
    required: true
extends_documentation_fragment:
  - vorn.admin.programs
  - ansible.builtin.action_common_attributes
attributes:
  check_mode:
    support: full
    details: The check runs as usual (it writes nothing); a missing file is reported as a change
      and not written.
  diff_mode:
    support: none
  platform:
    platforms: posix
notes:
  - The manual page vorn_keyfile(8) on the host describes the program and its messages.
seealso:
  - module: vorn.admin.config
'''

EXAMPLES = r'''
- name: The key file at the fixed path, the same key on every host
  vorn.admin.keyfile:
    key: "{{ vault_vorn_key }}"
'''

RETURN = r'''
path:
  description: The key file.
  returned: always
  type: str
  sample: /usr/quordex/tirun/.vorn_yelto
'''

import os

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.vorn.admin.plugins.module_utils.programs import (
    BIN_DIR_ARGS, failure_text, find_program, run_program)

KEY_PATH = '/usr/quordex/tirun/.vorn_yelto'

# What vorn_keyfile --check finds at the path, by its status.
HOLDS_THE_KEY = 0
HOLDS_ANOTHER_KEY = 1
NO_KEY = 3


def with_key(module, argv):
    """Runs ARGV with the key on standard input; its status and message."""
    rc, out, err = run_program(module, argv, data=module.params['key'])
    return rc, failure_text(out, err)


def must_write(module, vorn_keyfile):
    """Whether the key file has to be written: not when it holds the key, yes
    when there is none; anything else (another key, a file no key can be loaded
    from, a key the program refuses) fails the task with nothing changed."""
    path = module.params['path']
    rc, message = with_key(module, [vorn_keyfile, '--check', '--key-stdin', path])
    missing = rc == NO_KEY and not os.path.lexists(path)
    if rc != HOLDS_THE_KEY and not missing:
        if rc == HOLDS_ANOTHER_KEY:
            message += '; it is not replaced: every configuration encrypted under it would become unreadable'
        module.fail_json(msg=message, rc=rc, path=path, changed=False)
    return missing


def main():
    module = AnsibleModule(
        argument_spec=dict(
            path=dict(type='path', default=KEY_PATH),
            key=dict(type='str', required=True, no_log=True),
            **BIN_DIR_ARGS
        ),
        supports_check_mode=True,
    )
    path = module.params['path']
    if not os.path.isabs(path):
        module.fail_json(msg='path must be absolute: %s' % path)
    vorn_keyfile = find_program(module, 'vorn_keyfile')
    write = must_write(module, vorn_keyfile)
    if write and not module.check_mode:
        rc, message = with_key(module, [vorn_keyfile, '--key-stdin', path])
        if rc != 0:
            module.fail_json(msg=message, rc=rc, path=path, changed=False)
    module.exit_json(changed=write, path=path)


if __name__ == '__main__':
    main()
