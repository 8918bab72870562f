#!/usr/bin/python
# -*- coding: utf-8 -*-
# vorn.admin.dbcheck: runs vorn_dbcheck on the host, so that a play can assert
# that every host connects with its configuration.
from __future__ import absolute_import, division, print_function
__metaclass__ = type

DOCUMENTATION = r'''
---
module: dbcheck
short_description: Check that the vorn configuration connects to its MariaDB server
version_added: 1.0.0
description:
  - Runs C(vorn_dbcheck) on the managed host. It reads the configuration file, plain or
    encrypted, and connects with it to the MariaDB server it names, as the product would.
  - Succeeds, without a change, when the connection works, and returns the program's line.
    Fails with the program's own message when the file cannot be read, breaks the format,
    lacks a connection line, or the server refuses or cannot be reached.
  - Needs the package C(vorn-admin-dbcheck) on the host. Nothing is written and nothing on
    the server is changed, so check mode runs the check too.
author:
  - vorn maintainers (!UNKNOWN)
options:
  path:
    description: The configuration file.
    type: path
    required: true
  socket:
    description: Socket of the local server, used when the host is C(localhost) (C(--socket)).
    type: path
  timeout:
    description: Seconds after which each wait gives up, and one second later the whole check (C(--timeout)).
    type: int
extends_documentation_fragment:
  - vorn.admin.programs
  - vorn.admin.programs.configuration
  - ansible.builtin.action_common_attributes
attributes:
  check_mode:
    support: full
  diff_mode:
    support: none
  platform:
    platforms: posix
seealso:
  - module: vorn.admin.config
'''

EXAMPLES = r'''
- name: Every host connects with its configuration
  vorn.admin.dbcheck:
    path: /etc/vorn/vorn_sql
    timeout: 5
'''

RETURN = r'''
connection:
  description: The line vorn_dbcheck prints on success (host, port or socket, user, database, server version).
  returned: success
  type: str
rc:
  description: The status of vorn_dbcheck (0 connects, 1 fails, 2 cannot read the file).
  returned: always
  type: int
  sample: 0
'''

import os

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.vorn.admin.plugins.module_utils.programs import (
    PROGRAM_ARGS, failure_text, find_program, key_args, run_program)


def main():
    module = AnsibleModule(
        argument_spec=dict(
            path=dict(type='path', required=True),
            socket=dict(type='path'),
            timeout=dict(type='int'),
            **PROGRAM_ARGS
        ),
        supports_check_mode=True,
    )
    p = module.params
    argv = [find_program(module, 'vorn_dbcheck')] + key_args(module)
    if p['socket'] is not None:
        argv.append('--socket=' + p['socket'])
    if p['timeout'] is not None:
        argv.append('--timeout=%d' % p['timeout'])
    argv.append(os.path.abspath(p['path']))
    rc, out, err = run_program(module, argv)
    if rc != 0:
        module.fail_json(msg='vorn_dbcheck: %s' % failure_text(out, err), rc=rc)
    module.exit_json(changed=False, rc=rc, connection=out.strip())


if __name__ == '__main__':
    main()
