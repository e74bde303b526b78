// The open conversation: its heading, a group's members, the messages and the field to
// write in.
import { byId, el, say } from './dom.js';
import { states } from './conversations.js';

const clock = new Intl.DateTimeFormat(undefined, { hour: '2-digit', minute: '2-digit' });
const dated = new Intl.DateTimeFormat(undefined, { dateStyle: 'short', timeStyle: 'short' });

function shownTime(at) {
    const when = new Date(at);
    return when.toDateString() === new Date().toDateString() ? clock.format(when) : dated.format(when);
}

function stateText(m) {
    switch (m.state) {
    case states.sending:
        return 'Sending…';
    case states.failed:
        return 'Not sent: ' + m.reason;
    case states.unconfirmed:
        return 'Not confirmed: the connection was lost before the server answered.';
    case states.sent:
        return m.reason ? 'Sent, but: ' + m.reason : '';
    default:
        return '';
    }
}

export class ChatView {
    #heading = byId('chat-heading');
    #detail = byId('chat-detail');
    #contact = byId('contact-toggle');
    #members = byId('members');
    #memberList = byId('member-list');
    #memberForm = byId('member-form');
    #newMember = byId('new-member');
    #log = byId('messages');
    #field = byId('message');
    #send = byId('send');
    #note = byId('send-note');
    #items = new WeakMap();  // message -> its li

    // onSend(text), onToggleContact(), onAddMember(name), onRemoveMember(name), onBack().
    constructor(handlers) {
        byId('send-form').addEventListener('submit', (e) => {
            e.preventDefault();
            handlers.onSend(this.#field.value);
        });
        this.#contact.addEventListener('click', () => handlers.onToggleContact());
        this.#memberForm.addEventListener('submit', (e) => {
            e.preventDefault();
            const name = this.#newMember.value.trim();
            if (name !== '')
                handlers.onAddMember(name);
        });
        this.#memberList.addEventListener('click', (e) => {
            const button = e.target.closest('button[data-member]');
            if (button)
                handlers.onRemoveMember(button.dataset.member);
        });
        byId('back').addEventListener('click', () => handlers.onBack());
    }

    // conversation: {kind, name, messages}; null for none.
    show(conversation) {
        this.#log.setAttribute('aria-busy', 'true');
        this.#log.replaceChildren();
        say(this.#note, '');
        this.#detail.textContent = '';
        this.#members.hidden = true;
        this.#contact.hidden = true;
        const open = conversation !== null;
        this.#field.disabled = this.#send.disabled = !open;
        this.#heading.textContent = !open ? 'No conversation open'
            : conversation.kind === 'group' ? 'Group ' + conversation.name : 'Chat with ' + conversation.name;
        if (open)
            this.#log.append(...conversation.messages.map((m) => this.#item(m)));
        this.#log.setAttribute('aria-busy', 'false');
        this.#scrollDown();
    }

    #item(m) {
        const li = el('li');
        this.#items.set(m, li);
        this.#fill(li, m);
        return li;
    }

    #fill(li, m) {
        li.className = `msg ${m.state}` + (m.own ? ' own' : '');
        const state = stateText(m);
        li.replaceChildren(
            el('p', { className: 'meta' },
                el('span', { className: 'sender', text: m.own ? 'You' : m.sender }),
                Number.isFinite(m.at) ? el('time', { datetime: new Date(m.at).toISOString(), text: shownTime(m.at) }) : null,
                state ? el('span', { className: 'state', text: state }) : null),
            el('p', { className: 'text', text: m.text }));
    }

    #scrollDown() {
        this.#log.scrollTop = this.#log.scrollHeight;
    }

    // A new message of the open conversation.
    add(m) {
        const atEnd = this.#log.scrollHeight - this.#log.scrollTop - this.#log.clientHeight < 40;
        this.#log.append(this.#item(m));
        if (atEnd || m.own)
            this.#scrollDown();
    }

    // A message whose state changed, if it is shown.
    update(m) {
        const li = this.#items.get(m);
        if (li)
            this.#fill(li, m);
    }

    updateAll(messages) {
        messages.forEach((m) => this.update(m));
    }

    setDetail(text) {
        this.#detail.textContent = text;
    }

    // A user's conversation offers to add or remove them as a contact.
    setContact(isContact) {
        this.#contact.hidden = false;
        this.#contact.textContent = isContact ? 'Remove from contacts' : 'Add to contacts';
    }

    // A group's members; a master may add and remove them.
    setMembers(members, isMaster) {
        this.#members.hidden = false;
        this.#memberForm.hidden = !isMaster;
        this.#memberList.replaceChildren(...[...new Set(members)].map((name) => el('li', {},
            el('span', { text: name }),
            isMaster ? el('button', { type: 'button', 'data-member': name, 'aria-label': 'Remove ' + name, text: '×' }) : null)));
        this.setDetail(members.length === 1 ? '1 member' : members.length + ' members');
    }

    clearField() {
        this.#field.value = '';
    }

    clearNewMember() {
        this.#newMember.value = '';
    }

    focusField() {
        this.#field.focus();
    }

    focusHeading() {
        this.#heading.focus();
    }

    say(text) {
        say(this.#note, text);
    }
}
