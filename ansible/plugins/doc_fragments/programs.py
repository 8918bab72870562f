# -*- coding: utf-8 -*-
# The options that every module of the collection takes for finding and
# running the vorn programs (module_utils/programs.py: PROGRAM_ARGS).
from __future__ import absolute_import, division, print_function
__metaclass__ = type


class ModuleDocFragment(object):

    DOCUMENTATION = r'''
options:
  bin_dir:
    description:
      - Folder holding the programs the module runs, C(vorn_set), C(vorn_show) and C(quordex_helper)
        for M(vorn.admin.config), C(vorn_dbcheck) for M(vorn.admin.dbcheck). By default they are
        looked up on C(PATH) and in the sbin folders.
    type: path
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
