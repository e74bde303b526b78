"""The page on a phone 360 CSS pixels wide: nothing wider than the screen, and the
message field and Send button in view and working, however long the conversation."""
import unittest

from browser_case import PASSWORD, BrowserCase

WIDTH, HEIGHT = 360, 740

# Whether the element's middle is on screen and it is what a tap there reaches.
_TAPPABLE = '''
const e = arguments[0], r = e.getBoundingClientRect();
const x = r.left + r.width / 2, y = r.top + r.height / 2;
const inView = r.left >= 0 && r.right <= innerWidth && r.top >= 0 && r.bottom <= innerHeight;
const hit = document.elementFromPoint(x, y);
return inView && hit !== null && (hit === e || e.contains(hit));
'''


# Shown elements whose content is wider than their box and spills out of it.
_SPILLING = '''
const spilling = [];
for (const e of document.body.querySelectorAll('*')) {
    const style = getComputedStyle(e);
    if (e.getClientRects().length === 0 || style.display === 'inline' || style.overflowX !== 'visible')
        continue;
    if (e.scrollWidth > e.clientWidth + 1)
        spilling.push(`${e.tagName.toLowerCase()}.${e.className} "${e.textContent.slice(0, 40)}"`);
}
return spilling;
'''


class PhoneTest(BrowserCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.page = cls.open_page(width=WIDTH, height=HEIGHT, mobile=True)

    def setUp(self):
        self.page.reload()

    def assert_fits(self, where):
        width = self.page.driver.execute_script('return document.documentElement.scrollWidth')
        self.assertLessEqual(width, WIDTH, f'{where} is {width} px wide')
        self.assertEqual(self.page.driver.execute_script(_SPILLING), [], f'text spills out of its box in {where}')

    def assert_tappable(self, role, name):
        self.assertTrue(self.page.driver.execute_script(_TAPPABLE, self.page.get(role, name)),
                        f'the {role} {name!r} is out of view or covered')

    def test_narrow_screen_shows_lists_or_conversation_within_its_width(self):
        page = self.page
        self.assert_fits('the login screen')
        ann = self.unique('ann')
        bob = self.tcp_user(self.unique('bob_with_a_rather_long_user_name_'))
        self.make_account(ann)
        page.log_in(ann, PASSWORD)
        self.assert_fits('the lists')

        page.open_chat(bob.name)
        self.assertIsNone(page.find('textbox', 'Chat with'), 'the lists hide while a conversation is open')
        self.assert_fits('the conversation')
        self.assert_tappable('textbox', 'Message')
        self.assert_tappable('button', 'Send')
        page.type_into('textbox', 'Message', 'typed on a phone')
        page.get('button', 'Send').click()
        self.assertRegex(bob.ask('select MSG'), f'^getmessage: {ann} says: "typed on a phone" on ')

        unbroken = 'https://example.org/' + 'a-long-address-without-spaces/' * 8
        self.assertEqual(bob.ask(f'sendmessage {ann} {unbroken}'), 'Ok.')
        page.wait_for_message(bob.name, unbroken)
        for n in range(1, 16):
            self.assertEqual(bob.ask(f'sendmessage {ann} "message {n} of a long conversation"'), 'Ok.')
        page.wait_for_message(bob.name, 'message 15 of a long conversation')
        self.assert_fits('a long conversation')
        self.assert_tappable('textbox', 'Message')
        self.assert_tappable('button', 'Send')
        page.send('still in reach')
        page.screenshot('phone-conversation')

        page.get('button', 'Back').click()
        page.get('textbox', 'Chat with')
        self.assert_fits('the lists again')
        page.screenshot('phone-lists')


if __name__ == '__main__':
    unittest.main()
