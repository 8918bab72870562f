#!/usr/bin/python3
# The collection's sanity checks, on a copy laid out as Ansible expects one:
# SCRATCH/ansible-sanity-PART/ansible_collections/vorn/admin.
#   sanity.py ansible-test COLLECTION SCRATCH   ansible-test's tests that run offline
#   sanity.py tools COLLECTION SCRATCH          the tests for which ansible-test would fetch
#       its tools from PyPI, run here with the same tools from Debian's packages and
#       ansible-test's own settings, and the limit of 50 lines on every function
#   sanity.py ansible-lint COLLECTION SCRATCH   Debian's ansible-lint with the production
#       profile, offline (no requirements installed, no check for a newer version), its
#       caches in SCRATCH
# Exits 77 (skipped) with the reason when a tool is missing.
import ast, glob, importlib.util, json, os, re, shutil, subprocess, sys

part, collection, scratch = sys.argv[1], os.path.abspath(sys.argv[2]), os.path.abspath(sys.argv[3])
root = os.path.join(scratch, 'ansible-sanity-' + part)
coll = os.path.join(root, 'ansible_collections', 'vorn', 'admin')
# ansible-test installs these tests' requirements with pip, which it bootstraps from outside.
WRAPPED = ('ansible-doc', 'changelog', 'import', 'pep8', 'pylint', 'runtime-metadata', 'validate-modules', 'yamllint')
MAX_LINES = 50


def skip(reason):
    sys.exit(print('skipped: ' + reason) or 77)


def run(argv, **kw):
    return subprocess.run(argv, capture_output=True, text=True, cwd=coll, **kw)


shutil.rmtree(root, ignore_errors=True)
shutil.copytree(collection, coll, ignore=shutil.ignore_patterns('output', '__pycache__', '*.tar.gz'))
if part == 'ansible-test':
    if shutil.which('ansible-test') is None:
        skip('ansible-test not found (bash scripts/setup installs ansible-core)')
    # A repository of its own: ansible-test takes its files from the nearest one, and the
    # build's scratch folder is ignored in the source tree's.
    subprocess.run(['git', 'init', '-q', coll], check=True)
    argv = ['ansible-test', 'sanity', '--local', '--python', '%d.%d' % sys.version_info[:2], '--color', 'no']
    listed = run(argv + ['--list-tests']).stdout.split()
    for test in WRAPPED:
        argv += ['--skip-test', test]
    # HOME: where ansible-test keeps its virtual environments.
    r = subprocess.run(argv, cwd=coll, env=dict(os.environ, HOME=root + '/home'), stdout=subprocess.PIPE,
                       stderr=subprocess.STDOUT, text=True)
    ran = re.findall(r'^Running sanity test "([^"]+)"', r.stdout, re.MULTILINE)
    not_run = sorted(set(listed) - set(WRAPPED) - set(ran))
    print('%s\nansible-test ran %d tests, status %d; not run: %s' % (
        r.stdout, len(ran), r.returncode, ' '.join(not_run) or 'none'))
    sys.exit(0 if r.returncode == 0 and ran and not not_run else 1)

if part == 'ansible-lint':
    if shutil.which('ansible-lint') is None:
        skip('ansible-lint not found (bash scripts/setup installs it)')
    r = subprocess.run(['ansible-lint', '--offline', '--profile', 'production', '--nocolor'], cwd=coll,
                       env=dict(os.environ, HOME=root + '/home', XDG_CACHE_HOME=root + '/cache',
                                ANSIBLE_COLLECTIONS_PATH=root), stdout=subprocess.PIPE,
                       stderr=subprocess.STDOUT, text=True, timeout=280)
    print(r.stdout)
    sys.exit(0 if r.returncode == 0 and 'Passed with production profile' in r.stdout else 1)

missing = [pkg for mod, pkg in (('ansible_test', 'ansible-core'), ('voluptuous', 'python3-voluptuous'),
                                ('yamllint', 'yamllint'), ('pycodestyle', 'pycodestyle'),
                                ('pylint', 'pylint'), ('venv', 'python3-venv'))
           if importlib.util.find_spec(mod) is None]
if missing:
    skip('needs the Debian packages %s (bash scripts/setup installs them)' % ' '.join(missing))
import ansible.release, ansible_test, yaml  # noqa: E402 (known to be there only now)

TEST_ROOT = os.path.dirname(ansible_test.__file__)
SANITY = TEST_ROOT + '/_util/controller/sanity'
IGNORE_FILE = 'ignore-%s.%s.txt' % tuple(ansible.release.__version__.split('.')[:2])
with open(coll + '/galaxy.yml') as f:
    VERSION = yaml.safe_load(f)['version']
PY = sorted(os.path.relpath(p, coll) for p in glob.glob(coll + '/**/*.py', recursive=True))
MODULES = [p for p in PY if p.startswith('plugins/modules/')]
MODULE_UTILS = [p for p in PY if p.startswith('plugins/module_utils/')]
OTHER_PLUGINS = [p for p in PY if p.startswith('plugins/') and p not in MODULES + MODULE_UTILS]
# The environment ansible-test gives the tools: its empty configuration, the collection found.
ENV = dict(os.environ, ANSIBLE_COLLECTIONS_PATH=root, ANSIBLE_CONFIG=TEST_ROOT + '/_data/ansible.cfg',
           ANSIBLE_LIBRARY='/dev/null', ANSIBLE_DEVEL_WARNING='false', ANSIBLE_FORCE_COLOR='false',
           ANSIBLE_DEPRECATION_WARNINGS='false', PAGER='/bin/cat', PYTHONUTF8='1')


def lines_of(stdout, with_code=False):
    """(path, code, text) for each 'path:line:column: [code ]message' line."""
    pattern = r'^([^:]*):([0-9]+):([0-9]+): ' + (r'([A-Z][0-9]+) ' if with_code else '()') + '(.*)$'
    return [(m[0], m[3] or None, '%s:%s: %s' % (m[1], m[2], m[4]))
            for m in re.findall(pattern, stdout, re.MULTILINE)]


def tool_failed(name, r, statuses=(0,)):
    """A tool that wrote to standard error or ended with an unexpected status."""
    if r.stderr or r.returncode not in statuses:
        return [('', None, '%s: status %d: %s' % (name, r.returncode, r.stderr.strip() or r.stdout[-2000:]))]
    return []


def ansible_doc():
    names = ['vorn.admin.' + os.path.basename(p)[:-3] for p in MODULES]
    return sum((tool_failed('ansible-doc', run(['ansible-doc', '-t', 'module'] + fmt + names, env=ENV))
                for fmt in ([], ['--json'])), [])


def isolated_path(kind, packages):
    """A PYTHONPATH folder that holds only PACKAGES, as ansible-test's virtual environments do."""
    folder = '%s/pythonpath-%s' % (root, kind)
    os.makedirs(folder)
    for name in packages:
        os.symlink(os.path.dirname(importlib.util.find_spec(name).origin), os.path.join(folder, name))
    return folder


def import_test():
    """Modules and module_utils import with nothing but the standard library and Ansible's
    module_utils at hand, the other plugins with only what ansible-core itself needs."""
    venv, problems = root + '/venv', []
    subprocess.run([sys.executable, '-m', 'venv', '--without-pip', venv], check=True)
    os.makedirs(root + '/tmp')
    for kind, paths, packages in (('module', MODULES + MODULE_UTILS, ['ansible']),
                                  ('plugin', OTHER_PLUGINS, ['ansible', 'jinja2', 'markupsafe', 'yaml'])):
        env = dict(ENV, PYTHONPATH=isolated_path(kind, packages), SANITY_IMPORTER_TYPE=kind,
                   SANITY_TEMP_PATH=root + '/tmp', SANITY_COLLECTION_FULL_NAME='vorn.admin',
                   SANITY_EXTERNAL_PYTHON=sys.executable,
                   SANITY_YAML_TO_JSON=TEST_ROOT + '/_util/controller/tools/yaml_to_json.py')
        r = run([venv + '/bin/python', TEST_ROOT + '/_util/target/sanity/import/importer.py'],
                input='\n'.join(paths), env=env)
        problems += tool_failed('importer (%s)' % kind, r, (0, 10)) + lines_of(r.stdout)
    return problems


def pep8():
    with open(SANITY + '/pep8/current-ignore.txt') as f:
        ignore = [x for x in (re.sub(' *#.*', '', line).strip() for line in f) if x]
    r = run([sys.executable, '-m', 'pycodestyle', '--max-line-length', '160', '--config', '/dev/null',
             '--ignore', ','.join(ignore)] + PY)
    return tool_failed('pycodestyle', r, (0, 1)) + lines_of(r.stdout, with_code=True)


def pylint():
    plugin_dir = SANITY + '/pylint/plugins'
    plugins = sorted(p[:-3] for p in os.listdir(plugin_dir) if p.endswith('.py') and p != '__init__.py')
    env = dict(ENV, PYTHONPATH=plugin_dir + ':' + root, PYLINTHOME=root + '/pylint',
               ANSIBLE_TEST_MODULES_PATH=coll + '/plugins/modules/',
               ANSIBLE_TEST_MODULE_UTILS_PATH=coll + '/plugins/module_utils/')
    problems = []
    for paths in (MODULES, MODULE_UTILS, [p for p in PY if p not in MODULES + MODULE_UTILS]):
        if not paths:
            continue
        r = run([sys.executable, '-m', 'pylint', '--jobs', '0', '--reports', 'n', '--max-line-length', '160',
                 '--max-complexity', '20', '--rcfile', SANITY + '/pylint/config/collection.cfg',
                 '--output-format', 'json', '--load-plugins', ','.join(plugins + ['pylint.extensions.mccabe']),
                 '--collection-name', 'vorn.admin', '--collection-version', VERSION] + paths, env=env)
        problems += tool_failed('pylint', r, range(32)) + [
            (m['path'], m['symbol'], '%d:%d: %s' % (m['line'], m['column'], m['message']))
            for m in json.loads(r.stdout or '[]')]
    return problems


def runtime_metadata():
    r = run([sys.executable, SANITY + '/code-smell/runtime-metadata.py', 'meta/runtime.yml'], env=ENV)
    return tool_failed('runtime-metadata', r) + lines_of(r.stdout)


def validate_modules():
    r = run([sys.executable, SANITY + '/validate-modules/validate.py', '--format', 'json', '--arg-spec',
             '--collection', 'ansible_collections/vorn/admin', '--collection-version', VERSION] + MODULES, env=ENV)
    return tool_failed('validate-modules', r, (0, 3)) + [
        (path, e['code'], '%s:%s: %s' % (e.get('line', 0), e.get('column', 0), e['msg']))
        for path, found in json.loads(r.stdout or '{}').items() for e in found['errors']]


def yamllint():
    paths = [p for p in glob.glob('**/*.y*ml', root_dir=coll, recursive=True) if not p.startswith('tests/output/')]
    r = run([sys.executable, SANITY + '/yamllint/yamllinter.py'],
            input='\n'.join(paths + MODULES + OTHER_PLUGINS), env=ENV)
    return tool_failed('yamllint', r) + [(m['path'], m['code'], '%d:%d: %s' % (m['line'], m['column'], m['message']))
                                         for m in json.loads(r.stdout or '{}').get('messages', [])]


def function_length():
    """Every function of the collection, from its first decorator to its last line."""
    problems = []
    for path in PY:
        with open(os.path.join(coll, path)) as f:
            tree = ast.parse(f.read(), path)
        for node in ast.walk(tree):
            if isinstance(node, (ast.FunctionDef, ast.AsyncFunctionDef)):
                first = min([node.lineno] + [d.lineno for d in node.decorator_list])
                if node.end_lineno - first + 1 > MAX_LINES:
                    problems.append((path, None, '%d: %s has %d lines, more than %d' % (
                        first, node.name, node.end_lineno - first + 1, MAX_LINES)))
    return problems


def ignore_entries():
    """The collection's ignore file, as ansible-test reads it: 'path test[:code]  # why'."""
    name = '%s/tests/sanity/%s' % (coll, IGNORE_FILE)
    entries = {}
    if os.path.exists(name):
        with open(name) as f:
            for line in (re.sub(' *#.*', '', x).strip() for x in f):
                path, _, test = line.partition(' ')
                entries[(path,) + test.partition(':')[::2]] = False
    return entries


def changelog():
    """What antsibull-changelog's lint (not in Debian) holds the changelog to: its sections are the
    configured ones, the collection's version is a release, and every module and role is named in one."""
    with open(coll + '/changelogs/config.yaml') as f:
        config = yaml.safe_load(f)
    with open(coll + '/changelogs/' + config['changes_file']) as f:
        releases = yaml.safe_load(f)['releases']
    sections = {s[0] for s in config['sections']} | {config['prelude_section_name'], config['trivial_section_name']}
    problems = [('changelogs/changelog.yaml', None, '%s: unknown section %s' % (v, k))
                for v, r in releases.items() for k in r.get('changes', {}) if k not in sections]
    named = {('module', m['name']) for r in releases.values() for m in r.get('modules', [])}
    named |= {('role', o['name']) for r in releases.values() for o in r.get('objects', {}).get('role', [])}
    have = {('module', os.path.basename(p)[:-3]) for p in MODULES}
    have |= {('role', os.path.basename(p)) for p in glob.glob(coll + '/roles/*')}
    problems += [('changelogs/changelog.yaml', None, 'no release names the %s %s' % k) for k in sorted(have - named)]
    if VERSION not in releases:
        problems.append(('changelogs/changelog.yaml', None, 'no release %s, the version of galaxy.yml' % VERSION))
    return problems


TESTS = (('ansible-doc', ansible_doc), ('import', import_test), ('pep8', pep8), ('pylint', pylint),
         ('runtime-metadata', runtime_metadata), ('validate-modules', validate_modules),
         ('yamllint', yamllint), ('function-length', function_length), ('changelog', changelog))
ignored, failures = ignore_entries(), []
for name, test in TESTS:
    found = []
    for path, code, text in test():
        if (path, name, code or '') in ignored:
            ignored[(path, name, code or '')] = True
        else:
            found.append('%s: %s: %s%s' % (name, path or '-', code + ' ' if code else '', text))
    print('%s: %s' % (name, '%d problems' % len(found) if found else 'passed'))
    failures += found
failures += ['%s: %s %s:%s is not needed' % (IGNORE_FILE, path, test, code)
             for (path, test, code), used in ignored.items() if not used and test in dict(TESTS)]
print('\n'.join(failures))
sys.exit(1 if failures else 0)
