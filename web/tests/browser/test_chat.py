"""Two pages, each in a browser of its own, and TCP clients talking through one server:
messages both ways, markup that stays text, unread counts in the title."""
import unittest

from browser_case import PASSWORD, BrowserCase

MARKUP = '<img src=x onerror=alert(1)>'


class ChatTest(BrowserCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.a = cls.open_page()
        cls.b = cls.open_page()

    def setUp(self):
        for page in (self.a, self.b):
            page.reload()  # the login screen; closing the old socket logged its user out

    def test_pages_and_a_tcp_client_talk(self):
        self.a.create_account('ann', PASSWORD)
        self.b.create_account('bob', PASSWORD)

        self.a.open_chat('bob')
        self.a.send('Hi Bob! Is the new web page working for you?')
        self.b.get('button', 'ann').click()
        self.b.wait_for_message('ann', 'Hi Bob! Is the new web page working for you?')
        self.b.get('heading', 'Chat with ann')
        self.b.send('It is. Messages show up as soon as you send them.')
        self.a.wait_for_message('bob', 'It is. Messages show up as soon as you send them.')
        self.a.send('Great. Accents and symbols too: café, naïve, 5 € ✓')
        self.b.wait_for_message('ann', 'Great. Accents and symbols too: café, naïve, 5 € ✓')
        self.b.send('Arrived intact, even the "quotes".')
        self.a.wait_for_message('bob', 'Arrived intact, even the "quotes".')
        self.a.send('See you at the meeting.')
        self.b.wait_for_message('ann', 'See you at the meeting.')
        self.b.send('See you there!')
        self.a.wait_for_message('bob', 'See you there!')
        self.a.screenshot('chat')
        self.b.screenshot('chat-other-side')

        carol = self.tcp_user('carol')
        self.assertEqual(carol.ask('sendmessage ann "Hello from the console client"'), 'Ok.')
        self.a.get('button', 'carol').click()
        self.a.wait_for_message('carol', 'Hello from the console client')
        self.a.send('Hello carol, from the browser')
        self.assertRegex(carol.ask('select MSG'), r'^getmessage: ann says: "Hello carol, from the browser" on ')
        self.b.open_chat('carol')
        self.b.send('Hi carol')
        self.assertRegex(carol.ask('select MSG'), r'^getmessage: bob says: "Hi carol" on ')
        self.assertEqual([m['text'] for m in self.a.messages()],
                         ['Hello from the console client', 'Hello carol, from the browser'])

    def test_markup_in_a_message_stays_text(self):
        ann, bob = self.unique('ann'), self.unique('bob')
        self.make_account(ann)
        self.make_account(bob)
        self.a.log_in(ann, PASSWORD)
        self.b.log_in(bob, PASSWORD)
        self.b.open_chat(ann)
        self.b.send(MARKUP)
        self.a.get('button', bob).click()
        self.a.wait_for_message(bob, MARKUP)
        eve = self.tcp_user(self.unique('eve'))
        self.assertEqual(eve.ask(f'sendmessage {ann} "{MARKUP}"'), 'Ok.')
        self.a.get('button', eve.name).click()
        self.a.wait_for_message(eve.name, MARKUP)
        # A round trip after both: an image made of the text would have failed to load by now.
        self.b.send('after')
        self.a.get('button', bob).click()
        self.a.wait_for_message(bob, 'after')
        for page in (self.a, self.b):
            self.assertEqual(page.driver.execute_script('return document.querySelectorAll("img").length'), 0)
            self.assertFalse(page.alert_open())
        self.a.screenshot('markup-as-text')

    def test_unread_messages_count_in_the_title(self):
        ann = self.unique('ann')
        self.make_account(ann)
        bob, carol = self.tcp_user(self.unique('bob')), self.tcp_user(self.unique('carol'))
        self.a.log_in(ann, PASSWORD)
        self.a.open_chat(carol.name)
        self.assertEqual(self.a.driver.title, 'Quillspeak')

        self.assertEqual(bob.ask(f'sendmessage {ann} one'), 'Ok.')
        self.a.wait_for(lambda: self.a.driver.title == '(1) Quillspeak', 'one unread in the title')
        self.assertEqual(bob.ask(f'sendmessage {ann} two'), 'Ok.')
        self.a.wait_for(lambda: self.a.driver.title == '(2) Quillspeak', 'two unread in the title')
        self.assertIn('2 unread', self.a.description_of('button', bob.name))

        # The open conversation's messages are read as they come.
        self.assertEqual(carol.ask(f'sendmessage {ann} seen'), 'Ok.')
        self.a.wait_for_message(carol.name, 'seen')
        self.assertEqual(self.a.driver.title, '(2) Quillspeak')
        self.a.screenshot('unread')

        self.a.get('button', bob.name).click()
        self.a.wait_for_message(bob.name, 'two')
        self.a.wait_for(lambda: self.a.driver.title == 'Quillspeak', 'no unread in the title')
        self.assertNotIn('unread', self.a.description_of('button', bob.name))


if __name__ == '__main__':
    unittest.main()
