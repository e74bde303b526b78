"""A page whose server restarts: it says it is reconnecting, logs in again by itself
and receives what is sent after the restart."""
import unittest

from browser_case import PASSWORD, BrowserCase
from page import WAIT


class ReconnectTest(BrowserCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.page = cls.open_page()

    def expected_error(self, message):
        # Chromium logs each WebSocket that cannot connect while the server is down.
        return '/ws' in message and 'WebSocket connection' in message

    def test_page_logs_in_again_after_a_server_restart(self):
        ann, bob = self.unique('ann'), self.unique('bob')
        self.make_account(ann)
        self.make_account(bob)
        self.page.log_in(ann, PASSWORD)
        self.page.open_chat(bob)
        self.page.send('before the restart')

        self.assertEqual(self.server.stop(), 0)
        self.page.wait_for_text('status', None, 'Reconnecting…')
        self.page.screenshot('reconnecting')
        self.server.restart()
        # The back-off grows while the server is down: up to 30 s a try, so allow two.
        self.page.wait_for(lambda: not any('Reconnecting' in s.text for s in self.page.find_all('status')),
                           'the reconnecting banner to go', timeout=2 * WAIT + 5)

        bob_client = self.tcp_client()
        self.assertEqual(bob_client.ask(f'login {bob} {PASSWORD}'), 'Ok.')
        self.assertEqual(bob_client.ask(f'getstatus {ann}'), 'online')
        self.assertEqual(bob_client.ask(f'sendmessage {ann} "after the restart"'), 'Ok.')
        self.page.wait_for_message(bob, 'after the restart')
        # bob logged in after the page did, and has not made ann a contact: no event told it.
        self.page.wait_for(lambda: 'online' in self.page.description_of('button', bob), f'{bob} shown online')
        self.page.get('heading', 'Chat with ' + bob)
        self.assertEqual([m['text'] for m in self.page.messages()], ['before the restart', 'after the restart'])
        self.page.send('and back')
        # bob was not logged in when the first one went: it was kept for him.
        self.assertRegex(bob_client.ask('select MSG'), f'^getmessage: {ann} says: "before the restart" on [^|]*'
                                                       f'\\|{ann} says: "and back" on ')
        self.page.screenshot('reconnected')


if __name__ == '__main__':
    unittest.main()
