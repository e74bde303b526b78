// The page's start: the login screen, the session's phases (screens and banners), the
// user's settings, the tab's title and desktop notifications.
import { socketUrl } from './connection.js';
import { Conversations, titleFor } from './conversations.js';
import { byId, el, say } from './dom.js';
import { History } from './history.js';
import { LoginView } from './login_view.js';
import { Notifier } from './notifications.js';
import { errors, ok } from './replies.js';
import { Session, phases } from './session.js';
import { Talk } from './talk.js';

function localStore() {
    try {
        return window.localStorage;
    } catch {
        return null;  // storage turned off
    }
}

const page = {
    who: byId('who'),
    logout: byId('logout'),
    chat: byId('chat-screen'),
    connection: byId('connection'),
    held: byId('held'),
    status: byId('status'),
    notify: byId('notify'),
    notifyLine: byId('notify-line'),
    keep: byId('keep'),
    note: byId('settings-note'),
};
const history = new History(localStore());
const notifier = new Notifier(window);
const session = new Session({ url: socketUrl(location), context: () => talk.context() });
const talk = new Talk(session, { onChange: changed, onIncoming: incoming });
const login = new LoginView({ onLogIn: logIn, onCreate: createAccount });
let user = '';  // who the page shows as logged in
let status = 'online';  // as the server last took it
let saveTimer = null;

const alreadyOnline = (name) => `${errors.userOnline} Another client is logged in as ${name}; log out there first.`;

async function logIn(name, password) {
    login.busy(true);
    login.say('Logging in…');
    const reply = await session.logIn(name, password);
    login.busy(false);
    if (reply !== ok)
        login.say(reply === errors.userOnline ? alreadyOnline(name) : reply);
}

async function createAccount(name, password, question, answer) {
    login.busy(true);
    login.say('Creating the account…');
    const { done, message } = await session.createAccount(name, password, question, answer);
    login.busy(false);
    if (!done)
        login.say(message);
    else if (message)
        say(page.note, message);
}

session.on('phase', ({ phase, reason, retryIn, again }) => {
    page.connection.replaceChildren();
    page.held.replaceChildren();
    if (phase === phases.in) {
        if (again)
            talk.refresh();
        else
            enter();
    } else if (phase === phases.reconnecting) {
        const next = retryIn > 0 ? `Next try in ${Math.ceil(retryIn / 1000)} s.` : 'Trying now.';
        page.connection.append(el('strong', { text: 'Reconnecting…' }), ' ', [reason, next].filter(Boolean).join(' '));
    } else if (phase === phases.held) {
        const retry = el('button', { type: 'button', text: 'Try again' });
        retry.addEventListener('click', () => session.retryNow());
        page.held.append(el('p', { text: alreadyOnline(user) }), retry);
    } else {
        leave(reason);
    }
});

function enter() {
    user = session.user;
    status = 'online';
    const kept = history.isOn(user) ? history.load(user) : null;
    talk.start(kept ? Conversations.fromJSON(user, kept) : new Conversations(user));
    talk.setVisible(!document.hidden);
    login.clearSecrets();
    login.say('');
    login.show(false);
    page.chat.hidden = false;
    page.who.textContent = 'Logged in as ' + user;
    page.who.hidden = page.logout.hidden = false;
    page.status.value = status;
    page.keep.checked = history.isOn(user);
    page.notify.checked = notifier.on;
    page.notifyLine.hidden = !notifier.supported;
    say(page.note, '');
    byId('chat-with').focus();
}

function leave(reason) {
    saveNow();
    user = '';
    talk.stop();
    notifier.turnOff();
    page.chat.hidden = true;
    page.who.hidden = page.logout.hidden = true;
    login.show(true);
    login.clearSecrets();
    login.say(reason ? 'Logged out: ' + reason : '');
    login.focus();
    document.title = titleFor(0);
}

// Unread counts or messages changed.
function changed(conversations) {
    document.title = titleFor(conversations.totalUnread());
    if (user && page.keep.checked) {
        clearTimeout(saveTimer);
        saveTimer = setTimeout(saveNow, 500);
    }
}

function saveNow() {
    clearTimeout(saveTimer);
    saveTimer = null;
    if (user && history.isOn(user) && !history.save(user, talk.conversations.toJSON()))
        say(page.note, 'History could not be kept on this device: its storage is full or refused.');
}

function incoming(conversation, message) {
    const title = conversation.kind === 'group' ? `${message.sender} in ${conversation.name}` : message.sender;
    notifier.notify(title, message.text, `${conversation.kind}:${conversation.name}`,
        () => talk.open(conversation.kind, conversation.name));
}

page.logout.addEventListener('click', () => session.logOut());

page.status.addEventListener('change', async () => {
    const wanted = page.status.value;
    const reply = await session.setStatus(wanted).catch((e) => e.message);
    if (reply === ok) {
        status = wanted;
        say(page.note, `Your status is ${wanted}.`);
    } else {
        page.status.value = status;
        say(page.note, reply);
    }
});

page.notify.addEventListener('change', async () => {
    if (!page.notify.checked) {
        notifier.turnOff();
        return say(page.note, 'Desktop notifications are off.');
    }
    const permission = await notifier.turnOn();
    if (permission === 'granted')
        return say(page.note, 'Desktop notifications are on while this tab is hidden.');
    page.notify.checked = false;
    say(page.note, permission === 'unsupported' ? 'This browser cannot show notifications.'
        : 'The browser did not allow notifications.');
});

page.keep.addEventListener('change', () => {
    if (!page.keep.checked) {
        history.turnOff(user);
        return say(page.note, 'History on this device was removed.');
    }
    if (!history.turnOn(user)) {
        page.keep.checked = false;
        return say(page.note, 'This browser cannot keep history.');
    }
    saveNow();
    say(page.note, 'History is kept on this device.');
});

document.addEventListener('visibilitychange', () => {
    if (user)
        talk.setVisible(!document.hidden);
});
window.addEventListener('pagehide', saveNow);
window.addEventListener('online', () => session.retryNow());
login.focus();
