#!/usr/bin/python3
"""Watches for secrets in the process list: reads every process's command line over
and over, and its environment whenever the command line is new (an exec), and keeps
each sighting of a secret (masked). Counts samples, processes and new command lines,
and, by a label of the caller's, those that run the programs it names, so that a test
can tell that it sampled something useful. Every file in the folders it is given is
read at each sample too: no file there may hold a secret at any time.

As a module: Sampler(secrets, label, folders, pause).start() ... .stop() gives the report.
As a script (on a test host): the secrets on standard input, one a line, then an empty
line; the names of the programs to count as arguments (matched by the last part of the
first two words of a command line), after "--pause SECONDS" if given; samples until its
standard input ends, then prints the report as JSON.

Without a pause it reads as fast as it can, a whole processor's worth. Where the programs
it watches are emulated they live for tens of milliseconds or more, and a pause of a few
between passes leaves that processor to them.
"""
import json
import os
import sys
import threading


def read_file(path):
    """The first MiB of the file PATH, opened so that a FIFO does not hold it up."""
    fd = os.open(path, os.O_RDONLY | os.O_NONBLOCK | os.O_NOFOLLOW)
    try:
        return os.read(fd, 1 << 20)
    finally:
        os.close(fd)


class Sampler:
    """SECRETS: byte strings to look for. LABEL(words): the label under which a command
    line (its first two words) counts as a run of a program, or None. FOLDERS: those
    whose files are read. PAUSE: seconds to wait between passes."""

    def __init__(self, secrets, label, folders=(), pause=0):
        self.secrets, self.label, self.folders, self.pause = [s for s in secrets if s], label, folders, pause
        self.report = dict(samples=0, processes=0, command_lines=0, programs={}, sightings={})
        self._seen, self._stop = {}, threading.Event()
        self._thread = threading.Thread(target=self._run, daemon=True)

    def start(self):
        self._thread.start()
        return self

    def stop(self):
        self._stop.set()
        self._thread.join()
        self.report['processes'] = len(self._seen)
        return self.report

    def _run(self):
        while not self._stop.is_set():
            self.report['samples'] += 1
            for pid in filter(str.isdigit, os.listdir('/proc')):
                self._look(pid)
            for top, _, names in (w for f in self.folders for w in os.walk(f)):
                for path in (os.path.join(top, n) for n in names):
                    self._look_file(path)
            if self.pause:
                self._stop.wait(self.pause)

    def _look_file(self, path):
        try:
            data = read_file(path)
        except OSError:  # gone, or a link
            return
        if any(x in data for x in self.secrets):
            self.report['sightings']['file ' + path] = self.report['sightings'].get('file ' + path, 0) + 1

    def _look(self, pid):
        cmdline = environ = b''
        try:
            cmdline = read_file('/proc/' + pid + '/cmdline')
            if self._seen.get(pid) != cmdline:
                self._seen[pid] = cmdline
                self.report['command_lines'] += 1
                name = self.label(cmdline.split(b'\0', 2)[:2])
                if name:
                    self.report['programs'][name] = self.report['programs'].get(name, 0) + 1
                environ = read_file('/proc/' + pid + '/environ')
        except OSError:  # ended, or not ours to read
            pass
        if any(x in cmdline or x in environ for x in self.secrets):
            where = self._sighting(pid, cmdline, environ)
            self.report['sightings'][where] = self.report['sightings'].get(where, 0) + 1

    def _sighting(self, pid, cmdline, environ):
        """Where a secret showed: the command line with the secrets masked, and the names
        only of the environment variables that hold one."""
        for x in self.secrets:
            cmdline = cmdline.replace(x, b'<secret>')
        names = [e.partition(b'=')[0] for e in environ.split(b'\0') if any(x in e for x in self.secrets)]
        return 'process %s: %r, environment %r' % (pid, cmdline[:200], names)


def by_last_part(names):
    """A LABEL for Sampler: the program whose name is the last part of either word."""
    wanted = set(n.encode() for n in names)

    def label(words):
        for w in words:
            base = w.rpartition(b'/')[2]
            if base in wanted:
                return base.decode()
        return None
    return label


def main():
    secrets = []
    for line in iter(sys.stdin.buffer.readline, b'\n'):
        if not line:
            break
        secrets.append(line.rstrip(b'\n'))
    args = sys.argv[1:]
    pause = float(args[1]) if args[:1] == ['--pause'] else 0
    sampler = Sampler(secrets, by_last_part(args[2:] if pause else args), pause=pause).start()
    print('sampling', flush=True)
    sys.stdin.buffer.read()
    print(json.dumps(sampler.stop()), flush=True)


if __name__ == '__main__':
    main()
