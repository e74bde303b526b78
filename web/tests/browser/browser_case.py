"""What every browser test shares: one qsserver a test class (a fresh database), the
pages it opens, accounts made over TCP, and a check that no page logged an error.

CTest passes QS_SERVER (qsserver), QS_SOURCE_DIR (the repository) and QS_SCREENSHOTS
(where screenshots go); run by hand, they default to build/ in the repository."""
import itertools
import os
import unittest

from frame_client import FrameClient
from page import Page
from server_process import ServerProcess

SOURCE_DIR = os.environ.get('QS_SOURCE_DIR') or os.path.abspath(os.path.join(os.path.dirname(__file__), '..', '..', '..'))
SERVER = os.path.abspath(os.environ.get('QS_SERVER') or os.path.join(SOURCE_DIR, 'build', 'bin', 'qsserver'))
SCREENSHOTS = os.environ.get('QS_SCREENSHOTS') or os.path.join(SOURCE_DIR, 'build', 'screenshots')
PASSWORD = 'pw'

_names = itertools.count(1)


class BrowserCase(unittest.TestCase):
    server = None
    pages = []

    @classmethod
    def setUpClass(cls):
        # Class cleanups run even when a later step of a subclass's setUpClass fails.
        cls.server = ServerProcess(SERVER, SOURCE_DIR)
        cls.addClassCleanup(cls._close_server)
        cls.pages = []
        cls.server.start()

    @classmethod
    def _close_server(cls):
        status = cls.server.stop()
        log = cls.server.log()
        cls.server.close()
        if status not in (0, None):
            raise AssertionError(f'qsserver exited with {status}:\n{log}')

    @classmethod
    def open_page(cls, **viewport):
        page = Page(cls.server.url, SCREENSHOTS, **viewport)
        cls.addClassCleanup(page.quit)
        cls.pages.append(page)
        return page

    def tearDown(self):
        for page in self.pages:
            errors = [e for e in page.console_errors() if not self.expected_error(e)]
            self.assertEqual(errors, [], 'the page logged errors')

    def expected_error(self, message):
        """Whether a console error is one the test brings about itself."""
        return False

    @staticmethod
    def unique(prefix):
        """A user name no other test of the run uses."""
        return f'{prefix}{next(_names)}'

    def tcp_client(self):
        client = FrameClient(self.server.port)
        self.addCleanup(client.close)
        return client

    def tcp_user(self, name):
        """A client logged in as a new account name."""
        client = self.tcp_client()
        client.name = name
        self.assertEqual(client.ask(f'newuser {name} {PASSWORD}'), 'Ok.')
        self.assertEqual(client.ask(f'login {name} {PASSWORD}'), 'Ok.')
        return client

    def make_account(self, name):
        with FrameClient(self.server.port) as client:
            self.assertEqual(client.ask(f'newuser {name} {PASSWORD}'), 'Ok.')
