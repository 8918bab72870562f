#!/usr/bin/python
# -*- coding: utf-8 -*-
# vorn.admin.nrpe: puts the NRPE command that runs check_vorn in place on a
# host that a Nagios server checks through its NRPE agent, idempotently.
from __future__ import absolute_import, division, print_function
__metaclass__ = type

DOCUMENTATION = r'''
---
module: nrpe
short_description: Put the NRPE command of the check_vorn monitoring plugin in place
version_added: 1.0.0
description:
  - Writes the file I(dest) of NRPE's include folder with one line
    C(command[NAME]=PLUGIN -f PATH ...), so that the Nagios server runs the plugin C(check_vorn)
    on the host with C(check_nrpe -c NAME). The plugin checks the configuration file I(path) (its
    mode, owner, lock, key file and format) and its MariaDB connection, and reports OK, WARNING,
    CRITICAL or UNKNOWN; see C(check_vorn(1)) on the host.
  - Nothing is written when the file already holds that line (no change is reported). The file is
    replaced atomically, mode 0644, so that the NRPE daemon, which runs as C(nagios), can read it.
    The daemon reads it when it starts, so notify a handler that restarts C(nagios-nrpe-server).
  - The line holds no secret; the plugin reads the password from the configuration file itself.
    Every value is quoted for the shell through which NRPE runs the command.
  - The plugin must be able to read I(path). A file in a folder that only root can enter needs
    I(sudo=true) and the sudoers rule that lets the user C(nagios) run the plugin, and nothing
    else, as root without a password, as C(check_vorn(1)) shows.
  - Icinga 2's agent needs no such file. Install C(vorn-admin-dbcheck) on the host; on the
    master, define C(object CheckCommand "vorn") with C(command = [ PluginDir + "/check_vorn" ])
    (C([ "/usr/bin/sudo", "-n", PluginDir + "/check_vorn" ]) with sudo) and its arguments, and a
    service with C(command_endpoint = host.name), as C(check_vorn(1)) shows.
author:
  - vorn maintainers (!UNKNOWN)
options:
  path:
    description: The vorn configuration file that the plugin checks (C(-f)).
    type: path
    required: true
  dest:
    description: The NRPE include file that holds the command.
    type: path
    default: /etc/nagios/nrpe.d/check_vorn.cfg
  name:
    description: The NRPE command's name, which C(check_nrpe -c) names; letters, digits, C(_), C(.) and C(-).
    type: str
    default: check_vorn
  plugin:
    description: The plugin on the host.
    type: path
    default: /usr/lib/nagios/plugins/check_vorn
  warning:
    description: The range of the connection time in seconds outside which the check warns (C(-w)), such as C(1) or C(0.5:2).
    type: str
  critical:
    description: The range outside which it is critical (C(-c)).
    type: str
  timeout:
    description: The whole check's limit in seconds, with the state it gives after a colon (C(-t)), such as C(20) or C(20:unknown).
    type: str
  key_file:
    description: Key file for an encrypted configuration (C(-k)); by default the fixed one.
    type: path
  socket:
    description: Socket of the local server, used when the host is C(localhost) (C(-S)).
    type: path
  ignore:
    description: Checks the plugin leaves out (C(-i)).
    type: list
    elements: str
    choices: [lock, mode, owner]
  sudo:
    description: Run the plugin as root through C(/usr/bin/sudo -n), for a file that the user C(nagios) may not read.
    type: bool
    default: false
  state:
    description: C(absent) removes I(dest).
    type: str
    choices: [present, absent]
    default: present
extends_documentation_fragment:
  - ansible.builtin.action_common_attributes
attributes:
  check_mode:
    support: full
  diff_mode:
    support: full
  platform:
    platforms: posix
seealso:
  - module: vorn.admin.dbcheck
'''

EXAMPLES = r'''
- name: The Nagios server checks the configuration through NRPE
  vorn.admin.nrpe:
    path: /etc/vorn/vorn_sql
    warning: '1'
    critical: '5'
    timeout: '20'
    sudo: true
  notify: restart nagios-nrpe-server
'''

RETURN = r'''
line:
  description: The command line in the file (for I(state=present)).
  returned: success
  type: str
  sample: command[check_vorn]=/usr/bin/sudo -n /usr/lib/nagios/plugins/check_vorn -f /etc/vorn/vorn_sql -w 1 -c 5
dest:
  description: The NRPE include file.
  returned: always
  type: str
'''

import os
import re
import shlex
import tempfile

from ansible.module_utils.basic import AnsibleModule
from ansible.module_utils.common.text.converters import to_bytes, to_text

HEADER = '# check_vorn, put in place by vorn.admin.nrpe; a change by hand is undone by the next run.\n'
OPTIONS = (('path', '-f'), ('warning', '-w'), ('critical', '-c'), ('timeout', '-t'), ('key_file', '-k'),
           ('socket', '-S'))


def command_line(module):
    """The NRPE line for the module's options; fails the module on a value
    that would break it."""
    p = module.params
    if not re.match(r'^[A-Za-z0-9_.-]+$', p['name']):
        module.fail_json(msg='name must be letters, digits, _, . and -: %r' % p['name'])
    argv = (['/usr/bin/sudo', '-n'] if p['sudo'] else []) + [p['plugin']]
    for option, flag in OPTIONS:
        if p[option] is not None:
            argv += [flag, p[option]]
    if p['ignore']:
        argv += ['-i', ','.join(p['ignore'])]
    for arg in argv:
        if any(c in arg for c in '\n\r\0'):
            module.fail_json(msg='a value cannot hold a line break or a NUL byte: %r' % arg)
    return 'command[%s]=%s' % (p['name'], ' '.join(shlex.quote(a) for a in argv))


def read(path):
    try:
        with open(path, 'rb') as f:
            return to_text(f.read(), errors='surrogate_or_strict')
    except FileNotFoundError:
        return None


def write(module, dest, text):
    """Replaces dest with text, mode 0644, atomically."""
    folder = os.path.dirname(dest)
    if not os.path.isdir(folder):
        module.fail_json(msg='%s: no such folder (is NRPE installed? nagios-nrpe-server)' % folder)
    fd, tmp = tempfile.mkstemp(dir=folder, prefix='.check_vorn.')
    with os.fdopen(fd, 'wb') as f:
        f.write(to_bytes(text))
    module.atomic_move(tmp, dest)
    os.chmod(dest, 0o644)  # atomic_move gives the new file the old one's mode


def main():
    module = AnsibleModule(
        argument_spec=dict(
            path=dict(type='path', required=True),
            dest=dict(type='path', default='/etc/nagios/nrpe.d/check_vorn.cfg'),
            name=dict(type='str', default='check_vorn'),
            plugin=dict(type='path', default='/usr/lib/nagios/plugins/check_vorn'),
            warning=dict(type='str'),
            critical=dict(type='str'),
            timeout=dict(type='str'),
            key_file=dict(type='path', no_log=False),
            socket=dict(type='path'),
            ignore=dict(type='list', elements='str', choices=['lock', 'mode', 'owner']),
            sudo=dict(type='bool', default=False),
            state=dict(type='str', choices=['present', 'absent'], default='present'),
        ),
        supports_check_mode=True,
    )
    dest = module.params['dest']
    line = command_line(module) if module.params['state'] == 'present' else None
    old = read(dest)
    new = HEADER + line + '\n' if line is not None else None
    # A file the NRPE daemon cannot read is written again.
    changed = old != new or (old is not None and new is not None and os.stat(dest).st_mode & 0o777 != 0o644)
    result = dict(changed=changed, dest=dest)
    if line is not None:
        result['line'] = line
    if changed and module._diff:
        result['diff'] = dict(before=old or '', after=new or '', before_header=dest, after_header=dest)
    if changed and not module.check_mode:
        if new is None:
            os.unlink(dest)
        else:
            write(module, dest, new)
    module.exit_json(**result)


if __name__ == '__main__':
    main()
