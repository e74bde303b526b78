"""The chat page in a headless Chromium of its own (a fresh profile), and its controls
found as a user finds them: by role and accessible name (web/README.md lists them)."""
import os
import tempfile

from selenium import webdriver
from selenium.common.exceptions import NoAlertPresentException, WebDriverException
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.ui import WebDriverWait

CHROMIUM = '/usr/bin/chromium'
CHROMEDRIVER = '/usr/bin/chromedriver'
WAIT = 30  # seconds any one wait may take

# The elements of a role, and the accessible name of one: enough of the ARIA rules for
# this page (aria-label, aria-labelledby, a label, the text).
_FIND = r'''
const [role, name] = arguments;
const selectors = {
    button: 'button, input[type=submit], input[type=button]',
    textbox: 'input:not([type]), input[type=text], input[type=password], textarea',
    combobox: 'select',
    checkbox: 'input[type=checkbox]',
    heading: 'h1, h2, h3, h4, h5, h6',
    list: 'ul:not([role]), ol:not([role]), [role=list]',
    log: '[role=log]',
    status: '[role=status]',
    alert: '[role=alert]',
};
const text = (e) => (e?.textContent ?? '').replace(/\s+/g, ' ').trim();
function nameOf(e) {
    if (e.hasAttribute('aria-label'))
        return e.getAttribute('aria-label');
    if (e.hasAttribute('aria-labelledby'))
        return e.getAttribute('aria-labelledby').split(' ').map((id) => text(document.getElementById(id))).join(' ');
    if (e.labels?.length)
        return [...e.labels].map(text).join(' ');
    return text(e);
}
const shown = (e) => e.getClientRects().length > 0;
return [...document.querySelectorAll(selectors[role])].filter((e) => shown(e) && (name === null || nameOf(e) === name));
'''


class Page:
    """One browser showing the page at url, in a viewport of width × height CSS pixels
    (mobile: a phone's)."""

    def __init__(self, url, screenshots, width=1000, height=700, mobile=False):
        self.url = url
        self.screenshots = screenshots
        self.profile = tempfile.TemporaryDirectory(prefix='qs-chromium-')
        options = webdriver.ChromeOptions()
        options.binary_location = CHROMIUM
        for arg in ('--headless=new', '--no-sandbox', '--disable-dev-shm-usage', '--disable-gpu',
                    '--no-first-run', '--user-data-dir=' + self.profile.name, f'--window-size={width},{height}'):
            options.add_argument(arg)
        options.set_capability('unhandledPromptBehavior', 'ignore')  # a dialog stays open for alert_open()
        options.set_capability('goog:loggingPrefs', {'browser': 'ALL'})
        try:
            self.driver = webdriver.Chrome(service=Service(CHROMEDRIVER), options=options)
        except Exception:
            self.profile.cleanup()
            raise
        try:
            self.driver.set_script_timeout(WAIT)
            self.driver.execute_cdp_cmd('Emulation.setDeviceMetricsOverride', {
                'width': width, 'height': height, 'deviceScaleFactor': 1, 'mobile': mobile})
            self.reload()
        except Exception:
            self.quit()
            raise

    def reload(self):
        """The page afresh, at its login screen."""
        self.driver.get(self.url)
        self.get('button', 'Log in')

    def quit(self):
        try:
            self.driver.quit()
        finally:
            self.profile.cleanup()

    # Finding and waiting

    def find_all(self, role, name=None):
        return self.driver.execute_script(_FIND, role, name)

    def find(self, role, name=None):
        """The shown element of role and name, None when there is none."""
        found = self.find_all(role, name)
        return found[0] if found else None

    def get(self, role, name=None):
        return self.wait_for(lambda: self.find(role, name), f'a {role} named {name!r}')

    def wait_for(self, condition, what, timeout=WAIT):
        """condition()'s first true value, within timeout seconds."""
        return WebDriverWait(self.driver, timeout).until(lambda _: condition(), f'waited {timeout} s for {what}')

    def wait_for_text(self, role, name, text, timeout=WAIT):
        """The element of role and name once its text holds text."""
        def holding():
            return next((e for e in self.find_all(role, name) if text in e.text), None)
        return self.wait_for(holding, f'{text!r} in a {role} named {name!r}', timeout)

    def description_of(self, role, name):
        """The text of what describes the element (aria-describedby)."""
        return self.driver.execute_script(
            "return (arguments[0].getAttribute('aria-describedby') ?? '').split(' ')"
            ".map((id) => document.getElementById(id)?.textContent ?? '').join(' ').trim()",
            self.get(role, name))

    def alert_open(self):
        try:
            self.driver.switch_to.alert.text
            return True
        except NoAlertPresentException:
            return False

    def console_errors(self):
        """What the page logged as errors since the last call."""
        try:
            return [e['message'] for e in self.driver.get_log('browser') if e['level'] == 'SEVERE']
        except WebDriverException:
            return []

    def screenshot(self, name):
        os.makedirs(self.screenshots, exist_ok=True)
        path = os.path.join(self.screenshots, name + '.png')
        self.driver.save_screenshot(path)
        return path

    # What a user does

    def type_into(self, role, name, text, enter=False):
        field = self.get(role, name)
        field.clear()
        field.send_keys(text + (Keys.ENTER if enter else ''))

    def create_account(self, user, password):
        self.type_into('textbox', 'User name', user)
        self.type_into('textbox', 'Password', password)
        self.type_into('textbox', 'Recovery question', 'Favourite colour?')
        self.type_into('textbox', 'Recovery answer', 'blue')
        self.get('button', 'Create account').click()
        self.wait_logged_in(user)

    def log_in(self, user, password):
        self.type_into('textbox', 'User name', user)
        self.type_into('textbox', 'Password', password, enter=True)
        self.wait_logged_in(user)

    def wait_logged_in(self, user):
        self.wait_for(lambda: self.driver.find_element('id', 'who').text == 'Logged in as ' + user
                      and self.find('button', 'Log out'), f'{user} logged in')

    def log_out(self):
        self.get('button', 'Log out').click()
        self.get('button', 'Log in')

    def open_chat(self, name):
        self.type_into('textbox', 'Chat with', name, enter=True)
        self.get('heading', 'Chat with ' + name)

    def send(self, text):
        """Sends text in the open conversation and waits until the server took it."""
        self.type_into('textbox', 'Message', text, enter=True)
        self.wait_for(lambda: any(m['own'] and m['text'] == text and m['state'] == ''
                                  for m in self.messages()), f'{text!r} sent')

    def messages(self):
        """The open conversation's messages: sender, text, own, state (its line, '' once sent)."""
        log = self.find('log', 'Messages')
        if log is None:
            return []
        return self.driver.execute_script('''
            return [...arguments[0].children].map((li) => ({
                sender: li.querySelector('.sender')?.textContent ?? '',
                text: li.querySelector('.text')?.textContent ?? '',
                own: li.classList.contains('own'),
                state: li.querySelector('.state')?.textContent ?? '',
            }));''', log)

    def wait_for_message(self, sender, text):
        return self.wait_for(lambda: any(m['sender'] == sender and m['text'] == text for m in self.messages()),
                             f'{text!r} from {sender}')
