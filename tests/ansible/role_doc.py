#!/usr/bin/python3
# Each role's README "Arguments" table and defaults/main.yml against its
# meta/argument_specs.yml: one row per argument, in the spec's order, with its
# type, default (or "required") and description; every default of the spec in
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


def rows(spec):
    for name, opt in spec['options'].items():
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
        spec = yaml.safe_load(f)['argument_specs']['main']
    with open(role + '/README.md') as f:
        section = re.search(r'^## Arguments\n(.*?)(?=^## |\Z)', f.read(), re.M | re.S)
    table = [l for l in (section.group(1) if section else '').splitlines() if l.startswith('| `')]
    want = list(rows(spec))
    for line in sorted(set(want) ^ set(table)):
        faults.append('%s: README %s: %s' % (name, 'lacks' if line in want else 'has, not in the spec', line))
    if not faults and table != want:
        faults.append('%s: README lists the arguments in another order than the spec' % name)
    with open(role + '/defaults/main.yml') as f:
        defaults = yaml.safe_load(f) or {}
    spec_defaults = {k: o['default'] for k, o in spec['options'].items() if 'default' in o}
    for key in sorted(set(defaults) | set(spec_defaults)):
        if defaults.get(key, '<none>') != spec_defaults.get(key, '<none>'):
            faults.append('%s: default of %s: defaults/main.yml %r, spec %r' % (
                name, key, defaults.get(key, '<none>'), spec_defaults.get(key, '<none>')))
    for key, opt in spec['options'].items():
        if opt.get('required') and 'default' in opt:
            faults.append('%s: %s is required and has a default' % (name, key))
print('\n'.join(faults) or 'the arguments of %d roles documented as specified' % len(roles))
sys.exit(1 if faults or not roles else 0)
