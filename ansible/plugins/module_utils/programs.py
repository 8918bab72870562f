# -*- coding: utf-8 -*-
# Finding and running the vorn programs on the managed host, shared by the
# modules of this collection.
from __future__ import absolute_import, division, print_function
__metaclass__ = type

import os
import subprocess

from ansible.module_utils.common.text.converters import to_bytes, to_text


# The option every module of the collection takes for locating the programs.
BIN_DIR_ARGS = dict(
    bin_dir=dict(type='path'),
)

# And those of the modules that read or write a configuration: the working
# directory of the programs and the key file for reading an encrypted one.
PROGRAM_ARGS = dict(
    BIN_DIR_ARGS,
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


def run_program(module, argv, data=None, umask=0o022, raw_output=False):
    """Runs ARGV without a shell in the working directory chdir (when given),
    with UMASK and DATA (text or bytes) on standard input (without DATA, on
    /dev/null), the way a secret goes to a program; returns (status, stdout,
    stderr) as text, stdout as bytes with RAW_OUTPUT. A program that exits
    without reading its input does not fail the run: its own status and message
    are what counts."""
    cwd = module.params.get('chdir')
    if cwd is not None and not os.path.isdir(cwd):
        module.fail_json(msg='Provided cwd is not a valid directory: %s' % cwd)
    old_umask = os.umask(umask)  # inherited by the child
    try:
        child = subprocess.Popen([to_bytes(a, errors='surrogate_or_strict') for a in argv],
                                 stdin=subprocess.DEVNULL if data is None else subprocess.PIPE,
                                 stdout=subprocess.PIPE, stderr=subprocess.PIPE, cwd=cwd)
    except (OSError, ValueError) as e:  # ValueError: a NUL byte in an argument
        module.fail_json(msg='%s: cannot run it: %s' % (argv[0], getattr(e, 'strerror', None) or e),
                         rc=getattr(e, 'errno', None) or 257)
    finally:
        os.umask(old_umask)
    # communicate() takes a closed input (EPIPE) as the end of the input.
    out, err = child.communicate(None if data is None else to_bytes(data, errors='surrogate_or_strict'))
    return (child.returncode, out if raw_output else to_text(out, errors='surrogate_or_strict'),
            to_text(err, errors='surrogate_or_strict'))


def key_args(module):
    """The --key-file option for vorn_show and vorn_dbcheck, when key_file is given."""
    key_file = module.params['key_file']
    return ['--key-file=' + key_file] if key_file else []


def failure_text(stdout, stderr):
    """The program's own message: its standard error, or its output when that is empty."""
    text = stderr.strip() or stdout.strip()
    return text or 'no message'
