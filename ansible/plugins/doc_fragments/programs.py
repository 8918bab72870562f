# -*- coding: utf-8 -*-
# The options that the modules of the collection share for finding and running
# the vorn programs (module_utils/programs.py: BIN_DIR_ARGS and PROGRAM_ARGS).
from __future__ import absolute_import, division, print_function
__metaclass__ = type


class ModuleDocFragment(object):

    # Every module (BIN_DIR_ARGS).
    DOCUMENTATION = r'''
options:
  bin_dir:
    description:
      - Folder holding the programs the module runs, C(vorn_set), C(vorn_show) and C(quordex_helper)
        for M(vorn.admin.config), C(vorn_dbcheck) for M(vorn.admin.dbcheck), C(vorn_keyfile) for
        M(vorn.admin.keyfile), C(vorn_keyfile) and C(vorn_show) for M(vorn.admin.rotate). By default
        they are looked up on C(PATH) and in the sbin folders.
    type: path
'''

    # The modules that write or read a configuration (PROGRAM_ARGS), together with DOCUMENTATION.
    CONFIGURATION = r'''
options:
  chdir:
    description:
      - Working directory in which the programs run. Only the test builds of C(vorn_set) and
        C(vorn_show), which read their key file from their working directory, need it.
    type: path
  key_file:
    description:
      - Key file for reading an encrypted configuration, given to C(vorn_show --key-file) and
        C(vorn_dbcheck --key-file). By default they read the fixed key path that C(vorn_set) uses,
        C(/usr/quordex/tirun/.vorn_yelto).
    type: path
'''
