# -*- coding: utf-8 -*-
# Finding and running the vorn programs on the managed host, shared by the
# modules of this collection.
from __future__ import absolute_import, division, print_function
__metaclass__ = type

import os


# The options every module of the collection takes for locating the programs.
PROGRAM_ARGS = dict(
    bin_dir=dict(type='path'),
    chdir=dict(type='path'),
    key_file=dict(type='path', no_log=False),
)


def find_program(module, name):
    """The path of program NAME: in bin_dir when that is given, else on PATH
    (the sbin folders included). Fails the module when it is not there."""
    bin_dir = module.params['bin_dir']
    if bin_dir is None:
        return module.get_bin_path(name, required=True)
    path = os.path.join(bin_dir, name)
    if not (os.path.isfile(path) and os.access(path, os.X_OK)):
        module.fail_json(msg='%s: no executable program %s in this folder' % (bin_dir, name))
    return path


def run_program(module, argv, data=None):
    """Runs ARGV in the working directory chdir (when given) without a shell,
    with DATA on standard input; returns (status, stdout, stderr) as text."""
    return module.run_command(argv, data=data, binary_data=True, cwd=module.params['chdir'],
                              umask=0o022, check_rc=False)


def key_args(module):
    """The --key-file option for vorn_show and vorn_dbcheck, when key_file is given."""
    key_file = module.params['key_file']
    return ['--key-file=' + key_file] if key_file else []


def failure_text(stdout, stderr):
    """The program's own message: its standard error, or its output when that is empty."""
    text = stderr.strip() or stdout.strip()
    return text or 'no message'
