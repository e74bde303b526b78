// The session's conversations, held in memory: messages, what is unread, and the form
// in which they may be kept on the device. Knows nothing of the page.

export const kinds = Object.freeze({ user: 'user', group: 'group' });

// What became of a message: received, or the page's own sent and answered.
export const states = Object.freeze({
    received: 'received',
    sending: 'sending',          // no reply yet
    sent: 'sent',                // "Ok.", or it came back to its sender
    failed: 'failed',            // refused: reason holds the server's reply
    unconfirmed: 'unconfirmed',  // the connection ended before the reply
});

const base = 'Quillspeak';

// The tab's title: the unread count in front, when there is one.
export function titleFor(unread) {
    return unread > 0 ? `(${unread}) ${base}` : base;
}

function byName(a, b) {
    return a.name.localeCompare(b.name) || (a.name < b.name ? -1 : a.name > b.name ? 1 : 0);
}

export class Conversations {
    #map = new Map();  // kind + ':' + name -> {kind, name, messages, unread}
    #active = null;
    #visible = true;
    #limit;

    constructor(me, { limit = 500 } = {}) {
        this.me = me;
        this.#limit = limit;
    }

    get(kind, name) {
        return this.#map.get(kind + ':' + name);
    }

    ensure(kind, name) {
        let c = this.get(kind, name);
        if (!c) {
            c = { kind, name, messages: [], unread: 0 };
            this.#map.set(kind + ':' + name, c);
        }
        return c;
    }

    // Conversations of one kind, by name.
    all(kind) {
        return [...this.#map.values()].filter((c) => c.kind === kind).sort(byName);
    }

    get active() {
        return this.#active;
    }

    // The conversation shown: what it held unread counts as read while the page is seen.
    open(kind, name) {
        this.#active = this.ensure(kind, name);
        if (this.#visible)
            this.#active.unread = 0;
        return this.#active;
    }

    // Whether the page is seen; coming back, the open conversation counts as read.
    setVisible(visible) {
        this.#visible = visible;
        if (visible && this.#active)
            this.#active.unread = 0;
    }

    totalUnread() {
        let n = 0;
        for (const c of this.#map.values())
            n += c.unread;
        return n;
    }

    #append(c, message) {
        c.messages.push(message);
        if (c.messages.length > this.#limit)
            c.messages.splice(0, c.messages.length - this.#limit);
        return message;
    }

    // An entry the server handed out, in the conversation it belongs to (a user's by
    // sender, a group's by group). One of the page's own messages coming back to it (a
    // group's members include its sender) settles that message rather than being shown
    // twice: {conversation, message, echo}, message null for an echo; counted tells
    // whether it added to the unread count.
    receive({ kind, name, sender, text, at }) {
        const c = this.ensure(kind, name);
        if (sender === this.me) {
            const mine = c.messages.find((m) => m.own && !m.echoed && m.text === text && m.state !== states.failed);
            if (mine) {
                mine.echoed = true;
                if (mine.state !== states.sent)
                    mine.state = states.sent;
                return { conversation: c, message: null, echo: mine, counted: false };
            }
        }
        const own = sender === this.me;
        const message = this.#append(c, { sender, text, at, own, state: states.received, echoed: own });
        const counted = !own && !(c === this.#active && this.#visible);
        if (counted)
            ++c.unread;
        return { conversation: c, message, echo: null, counted };
    }

    // One of the page's own messages, as it goes out.
    sending(kind, name, text, at) {
        return this.#append(this.ensure(kind, name),
            { sender: this.me, text, at, own: true, state: states.sending, echoed: false });
    }

    // The server's reply to a message sent.
    settle(message, reply) {
        if (reply === 'Ok.') {
            message.state = states.sent;
        } else if (!message.echoed) {
            message.state = states.failed;
            message.reason = reply;
        } else {
            message.reason = reply;  // it reached some: came back to its sender, not to all
        }
    }

    // The connection ended: what had no reply may or may not have gone.
    lost() {
        for (const c of this.#map.values())
            for (const m of c.messages)
                if (m.state === states.sending)
                    m.state = states.unconfirmed;
    }

    // What may be kept on the device: the latest keep messages of each conversation.
    toJSON(keep = 200) {
        return {
            version: 1,
            conversations: [...this.#map.values()].map((c) => ({
                kind: c.kind,
                name: c.name,
                unread: c.unread,
                messages: c.messages.slice(-keep).map(({ sender, text, at, own, state, reason }) => ({
                    sender, text, at, own,
                    state: state === states.sending ? states.unconfirmed : state,
                    ...(reason === undefined ? {} : { reason }),
                })),
            })),
        };
    }

    // Conversations read back from toJSON(); what is not of that form is left out.
    static fromJSON(me, data, options) {
        const all = new Conversations(me, options);
        if (!data || data.version !== 1 || !Array.isArray(data.conversations))
            return all;
        const isText = (v) => typeof v === 'string';
        const known = new Set(Object.values(states));
        for (const saved of data.conversations) {
            if (!saved || !Object.values(kinds).includes(saved.kind) || !isText(saved.name) || !Array.isArray(saved.messages))
                continue;
            const c = all.ensure(saved.kind, saved.name);
            c.unread = Number.isInteger(saved.unread) && saved.unread > 0 ? saved.unread : 0;
            for (const m of saved.messages) {
                if (!m || !isText(m.sender) || !isText(m.text) || !known.has(m.state))
                    continue;
                all.#append(c, {
                    sender: m.sender, text: m.text, at: Number.isFinite(m.at) ? m.at : null, own: m.own === true,
                    state: m.state === states.sending ? states.unconfirmed : m.state, echoed: true,
                    ...(isText(m.reason) ? { reason: m.reason } : {}),
                });
            }
        }
        return all;
    }
}
