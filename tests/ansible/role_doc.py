#!/usr/bin/python3
# Each role's README "Arguments" table and defaults/main.yml against its
# meta/argument_specs.yml: one row per argument, in argument_specs.yml's order, with its
# type, default (or "required") and description; every default there in
# defaults/main.yml with the same value, and nothing else there.
#   role_doc.py COLLECTION
import glob, os, re, sys
import yaml


def cell(value):
    if isinstance(value, bool):
        return '`%s`' % str(value).lower()
    if isinstance(value, list):
        return '`[%s]`' % ', '.join(str(v) for v in value)
    return '`%s`' % value


def rows(arguments):
    for name, opt in arguments['options'].items():
        kind = opt.get('type', 'str') + (' of ' + opt['elements'] if 'elements' in opt else '')
        desc = opt['description']
        desc = ' '.join(desc) if isinstance(desc, list) else desc
        yield '| `%s` | %s | %s | %s |' % (name, kind, 'required' if opt.get('required') else cell(opt.get('default')),
                                           desc)


faults = []
roles = sorted(glob.glob(os.path.join(sys.argv[1], 'roles', '*')))
for role in roles:
    name = os.path.basename(role)
    with open(role + '/meta/argument_specs.yml') as f:
        arguments = yaml.safe_load(f)['argument_specs']['main']
    with open(role + '/README.md') as f:
        section = re.search(r'^## Arguments\n(.*?)(?=^## |\Z)', f.read(), re.M | re.S)
    table = [l for l in (section.group(1) if section else '').splitlines() if l.startswith('| `')]
    want = list(rows(arguments))
    for line in sorted(set(want) ^ set(table)):
        faults.append('%s: README %s: %s' % (name, 'lacks' if line in want else 'has, not in argument_specs.yml', line))
    if not faults and table != want:
        faults.append('%s: README lists the arguments in another order than argument_specs.yml' % name)
    with open(role + '/defaults/main.yml') as f:
        defaults = yaml.safe_load(f) or {}
    listed_defaults = {k: o['default'] for k, o in arguments['options'].items() if 'default' in o}
    for key in sorted(set(defaults) | set(listed_defaults)):
        if defaults.get(key, '<none>') != listed_defaults.get(key, '<none>'):
            faults.append('%s: default of %s: defaults/main.yml %r, argument_specs.yml %r' % (
                name, key, defaults.get(key, '<none>'), listed_defaults.get(key, '<none>')))
    for key, opt in arguments['options'].items():
        if opt.get('required') and 'default' in opt:
            faults.append('%s: %s is required and has a default' % (name, key))
print('\n'.join(faults) or 'the arguments of %d roles documented as their argument_specs.yml says' % len(roles))
sys.exit(1 if faults or not roles else 0)
