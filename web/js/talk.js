// What the logged-in user does and sees: people and their status, groups, the open
// conversation, sending, unread counts. Turns the session's events into the views.
import { Conversations, kinds } from './conversations.js';
import { byId, say } from './dom.js';
import { RosterView } from './lists_view.js';
import { ChatView } from './chat_view.js';
import { listArgument, peopleRows, withName, withoutName } from './people.js';
import { errors, ok, parseList, statusText } from './replies.js';
import { messageRequest } from './requests.js';

export class Talk {
    #session;
    #onChange;  // (conversations): unread counts or history changed
    #onIncoming;  // (conversation, message): for notifications
    #screen = byId('chat-screen');
    #peopleNote = byId('people-note');
    #groupsNote = byId('groups-note');
    #people;
    #groups;
    #chat;
    conversations = new Conversations('');
    #contacts = [];
    #statuses = new Map();  // name -> status, "" logged out
    #groupLists = new Map();  // group -> {members, masters}

    constructor(session, { onChange, onIncoming }) {
        this.#session = session;
        this.#onChange = onChange;
        this.#onIncoming = onIncoming;
        this.#people = new RosterView(byId('people'), (name) => this.open(kinds.user, name));
        this.#groups = new RosterView(byId('groups'), (name) => this.open(kinds.group, name));
        this.#chat = new ChatView({
            onSend: (text) => this.#send(text),
            onToggleContact: () => this.#toggleContact(),
            onAddMember: (name) => this.#changeMembers(name, withName),
            onRemoveMember: (name) => this.#changeMembers(name, withoutName),
            onBack: () => this.#back(),
        });
        byId('chat-with-form').addEventListener('submit', (e) => {
            e.preventDefault();
            this.#chatWith(byId('chat-with'));
        });
        byId('group-form').addEventListener('submit', (e) => {
            e.preventDefault();
            this.#openGroup(byId('group-name'));
        });
        byId('create-group').addEventListener('click', () => this.#createGroup(byId('group-name')));
        session.on('message', (m) => this.#received(m));
        session.on('status', ({ name, status }) => this.#statusOf(name, status));
        session.on('lost', () => {
            this.conversations.lost();
            this.#chat.updateAll(this.conversations.active?.messages ?? []);
        });
    }

    // What the select replies need to read group heads and status events.
    context() {
        return {
            groups: this.conversations.all(kinds.group).map((c) => c.name),
            names: [...new Set([...this.#contacts, ...this.#statuses.keys()])],
        };
    }

    start(conversations) {
        this.conversations = conversations;
        this.#screen.classList.remove('chat-open');
        this.#chat.show(null);
        this.#render();
        this.refresh();
    }

    // Whether the tab is seen: a hidden tab counts even the open conversation as unread.
    setVisible(visible) {
        this.conversations.setVisible(visible);
        this.#render();
    }

    stop() {
        this.conversations = new Conversations('');
        this.#contacts = [];
        this.#statuses.clear();
        this.#groupLists.clear();
        say(this.#peopleNote, '');
        say(this.#groupsNote, '');
        this.#chat.show(null);
        this.#render();
    }

    // After logging in, again too: contacts, statuses and the open group's lists.
    async refresh() {
        const reply = await this.#ask(['getcontactlist'], this.#peopleNote);
        const contacts = reply === null ? null : parseList(reply);
        if (contacts)
            this.#contacts = contacts;
        else if (reply !== null)
            say(this.#peopleNote, reply);
        const names = new Set([...this.#contacts, ...this.conversations.all(kinds.user).map((c) => c.name)]);
        await Promise.all([...names].map((name) => this.#askStatus(name)));
        this.#render();
        const active = this.conversations.active;
        if (active?.kind === kinds.group)
            this.#loadGroup(active.name);
    }

    // The reply, or null with the reason said in note.
    async #ask(args, note) {
        try {
            return await this.#session.run(args);
        } catch (e) {
            say(note, e.message);
            return null;
        }
    }

    async #askStatus(name) {
        const status = await this.#ask(['getstatus', name], this.#peopleNote);
        if (status !== null)
            this.#statusOf(name, status);
    }

    #statusOf(name, status) {
        this.#statuses.set(name, status);
        this.#render();
    }

    #render() {
        const c = this.conversations;
        const active = c.active;
        this.#people.render(peopleRows(this.#contacts, c.all(kinds.user), this.#statuses),
            active?.kind === kinds.user ? active.name : null);
        this.#groups.render(c.all(kinds.group).map(({ name, unread }) => ({ name, status: null, unread })),
            active?.kind === kinds.group ? active.name : null);
        if (active?.kind === kinds.user) {
            const status = this.#statuses.get(active.name);
            this.#chat.setDetail(status === undefined ? '' : statusText(status));
            this.#chat.setContact(this.#contacts.includes(active.name));
        }
        this.#onChange(c);
    }

    open(kind, name) {
        const c = this.conversations.open(kind, name);
        this.#screen.classList.add('chat-open');
        this.#chat.show(c);
        this.#render();
        if (kind === kinds.group)
            this.#loadGroup(name);
        else if (!this.#statuses.has(name))
            this.#askStatus(name);
        this.#chat.focusField();
    }

    #back() {
        this.#screen.classList.remove('chat-open');
        const active = this.conversations.active;
        if (active)
            (active.kind === kinds.user ? this.#people : this.#groups).focus(active.name);
    }

    #received(m) {
        const r = this.conversations.receive(m);
        if (r.echo) {
            this.#chat.update(r.echo);
        } else if (r.conversation === this.conversations.active) {
            this.#chat.add(r.message);
        }
        if (r.message && !r.message.own)
            this.#onIncoming(r.conversation, r.message);
        // Status events come only from those who list this user as a contact: a sender
        // not known to be online is asked.
        if (m.kind === kinds.user && !this.#statuses.get(m.name))
            this.#askStatus(m.name);
        this.#render();
    }

    async #chatWith(field) {
        const name = field.value.trim();
        if (name === '')
            return say(this.#peopleNote, 'Enter the user name of the person to chat with.');
        const info = await this.#ask(['getinfo', name], this.#peopleNote);
        if (info === null)
            return;
        if (info === errors.invalidUsername)
            return say(this.#peopleNote, `There is no user named ${name}.`);
        say(this.#peopleNote, '');
        field.value = '';
        this.open(kinds.user, name);
    }

    async #send(text) {
        const c = this.conversations.active;
        if (!c)
            return;
        const request = messageRequest(c.kind === kinds.group ? 'sendgroupmessage' : 'sendmessage', c.name, text);
        if (request.refusal)
            return this.#chat.say(request.refusal);
        if (!this.#session.connected)
            return this.#chat.say('Not connected to the server; nothing was sent.');
        this.#chat.say('');
        const m = this.conversations.sending(c.kind, c.name, text, Date.now());
        this.#chat.add(m);
        this.#chat.clearField();
        this.#onChange(this.conversations);
        let reply;
        try {
            reply = await this.#session.send(request.command);
        } catch {
            return;  // the connection ended: the message is unconfirmed
        }
        this.conversations.settle(m, reply);
        this.#chat.update(m);
        this.#onChange(this.conversations);
    }

    async #toggleContact() {
        const c = this.conversations.active;
        if (c?.kind !== kinds.user)
            return;
        const adding = !this.#contacts.includes(c.name);
        const next = adding ? withName(this.#contacts, c.name) : withoutName(this.#contacts, c.name);
        const reply = await this.#ask(['setcontactlist', listArgument(next)], this.#peopleNote);
        if (reply === null)
            return;
        if (reply !== ok)
            return this.#chat.say(reply);
        this.#contacts = next;
        this.#chat.say(adding ? `${c.name} is now a contact.` : `${c.name} is no longer a contact.`);
        this.#render();
    }

    async #openGroup(field) {
        const name = field.value.trim();
        if (name === '')
            return say(this.#groupsNote, 'Enter a group name.');
        const reply = await this.#ask(['getmemberlist', name], this.#groupsNote);
        if (reply === null)
            return;
        if (parseList(reply) === null)
            return say(this.#groupsNote, reply === errors.invalidGroupname ? `There is no group named ${name}.` : reply);
        say(this.#groupsNote, '');
        field.value = '';
        this.open(kinds.group, name);
    }

    async #createGroup(field) {
        const name = field.value.trim();
        if (name === '')
            return say(this.#groupsNote, 'Enter a name for the new group.');
        const reply = await this.#ask(['newgroup', name], this.#groupsNote);
        if (reply === null)
            return;
        if (reply !== ok)
            return say(this.#groupsNote, reply);
        say(this.#groupsNote, `Group ${name} created.`);
        field.value = '';
        this.open(kinds.group, name);
    }

    async #loadGroup(name) {
        const [members, masters] = await Promise.all([
            this.#ask(['getmemberlist', name], this.#groupsNote),
            this.#ask(['getmasterlist', name], this.#groupsNote),
        ]);
        const lists = { members: parseList(members ?? errors.commandFailed), masters: parseList(masters ?? errors.commandFailed) };
        if (!lists.members || !lists.masters)
            return;
        this.#groupLists.set(name, lists);
        const active = this.conversations.active;
        if (active?.kind === kinds.group && active.name === name)
            this.#chat.setMembers(lists.members, lists.masters.includes(this.#session.user));
    }

    // Adds or removes a member (change: withName or withoutName) on the list as the
    // server holds it now.
    async #changeMembers(name, change) {
        const group = this.conversations.active;
        if (group?.kind !== kinds.group)
            return;
        const now = await this.#ask(['getmemberlist', group.name], this.#groupsNote);
        if (now === null)
            return;
        const members = parseList(now);
        if (members === null)
            return this.#chat.say(now);
        const reply = await this.#ask(['setmemberlist', group.name, listArgument(change(members, name))], this.#groupsNote);
        if (reply === null)
            return;
        if (reply !== ok)
            return this.#chat.say(reply);
        this.#chat.say(change === withName ? `${name} was added to ${group.name}.` : `${name} was removed from ${group.name}.`);
        if (change === withName)
            this.#chat.clearNewMember();
        this.#loadGroup(group.name);
    }
}
