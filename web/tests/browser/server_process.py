"""A qsserver child process in a folder of its own: a fresh SQLite database, the TCP port
and the web port on loopback, its log beside them."""
import os
import re
import shutil
import signal
import subprocess
import tempfile
import time
import urllib.request

START_WAIT = 30  # seconds a start may take
STOP_WAIT = 30   # seconds a stop may take
BIND_TRIES = 5   # restarts that found a former port not yet free before giving up


LISTENING = re.compile(r'Listening on \S*:(\d+) and HTTP on \S*:(\d+)[ ;]')


class PortTaken(Exception):
    """Another process bound a former port before the restart."""


class ServerProcess:
    def __init__(self, server, source_dir):
        self.server = server
        self.dir = tempfile.mkdtemp(prefix='qs-browser-')
        subprocess.run(['bash', os.path.join(source_dir, 'scripts', 'init-db'), self.dir],
                       check=True, stdout=subprocess.DEVNULL)
        self.web_root = os.path.join(source_dir, 'web')
        self.env = dict(os.environ, ODBCINI=os.path.join(self.dir, 'odbc.ini'))
        self.port = self.http_port = None
        self.process = None

    @property
    def url(self):
        return f'http://127.0.0.1:{self.http_port}/'

    @property
    def log_path(self):
        return os.path.join(self.dir, 'qsserver.log')

    def start(self):
        """Starts on ports the kernel picks."""
        self.port = self.http_port = None
        return self._start()

    def restart(self):
        """Starts again on the same ports and database after stop()."""
        for _ in range(BIND_TRIES):
            try:
                return self._start()
            except PortTaken:
                time.sleep(0.2)  # the port is ours: wait for the kernel to let it go
        raise RuntimeError('qsserver could not bind its former ports again')

    def stop(self):
        """SIGTERM, then the exit status."""
        if self.process is None:
            return None
        self.process.send_signal(signal.SIGTERM)
        status = self.process.wait(STOP_WAIT)
        self.process = None
        return status

    def close(self):
        try:
            self.stop()
        finally:
            shutil.rmtree(self.dir, ignore_errors=True)

    def log(self):
        try:
            with open(self.log_path, encoding='utf-8', errors='replace') as f:
                return f.read()
        except FileNotFoundError:
            return ''

    def _start(self):
        with open(os.path.join(self.dir, 'qsserver.conf'), 'w', encoding='utf-8') as conf:
            conf.write(f'port={self.port or 0}\nhttp_port={self.http_port or "auto"}\nbind_address=127.0.0.1\n'
                       f'log_path={self.log_path}\nweb_root={self.web_root}\nio_threads=2\n')
        if os.path.exists(self.log_path):
            os.remove(self.log_path)  # "Listening..." must be this start's
        err_path = os.path.join(self.dir, 'console.err')
        with open(os.path.join(self.dir, 'console.out'), 'wb') as out, open(err_path, 'wb') as err:
            self.process = subprocess.Popen([self.server, '--console'], cwd=self.dir, env=self.env,
                                            stdin=subprocess.DEVNULL, stdout=out, stderr=err)
        deadline = time.monotonic() + START_WAIT
        while time.monotonic() < deadline:
            if self.process.poll() is not None:
                self.process = None
                with open(err_path, encoding='utf-8', errors='replace') as f:
                    why = f.read()
                if 'in use' in why:
                    raise PortTaken(why)
                raise RuntimeError('qsserver ended at start: ' + why + self.log())
            listening = LISTENING.search(self.log())
            if listening:
                self.port, self.http_port = (int(p) for p in listening.groups())
                if self._healthy():
                    return
            time.sleep(0.02)
        raise RuntimeError('qsserver did not start within %d s: %s' % (START_WAIT, self.log()))

    def _healthy(self):
        try:
            with urllib.request.urlopen(self.url + 'healthz', timeout=5) as answer:
                return answer.status == 200
        except OSError:
            return False
