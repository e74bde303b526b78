// A user's session with the server: logging in (or creating the account first), selects
// kept parked for messages and status events, reconnecting with back-off after the
// connection drops, logging out. Emits what happens; knows nothing of the page.
import { retryDelay } from './backoff.js';
import { Connection } from './connection.js';
import { ConnectionLost } from './pending.js';
import { quotedCommand } from './quoting.js';
import { errors, groupSplits, ok, parseList, parseSelectReply, pickSplit } from './replies.js';
import { recoveryItems } from './requests.js';

export const phases = Object.freeze({
    out: 'out',                    // not logged in
    in: 'in',                      // logged in and connected
    reconnecting: 'reconnecting',  // logged in, the connection lost: trying again
    held: 'held',                  // trying again found the user logged in elsewhere
});

// One select a kind, so that no reply mixes sections. Custom messages are left to the
// clients that send them.
const selectMasks = ['MSG', 'GRPMSG', 'STATUS'];
const keepAliveEvery = 60000;  // a request now and then finds a connection that died silently
const keepAliveWait = 30000;
const logoutWait = 3000;

export class Refused extends Error {}  // what cannot be written as a command line

const wait = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
const replyOf = (request) => request.catch((e) => e.message);

export class Session {
    #listeners = new Map();
    #options;
    #conn = null;
    #phase = phases.out;
    #user = '';
    #password = '';  // only in memory, to log in again after a drop
    #status = 'online';
    #attempt = 0;
    #timer = null;
    #trying = false;
    #keepAlive = null;
    #heads = new Map();  // a group entry's head read once: "<group>.<sender>" -> {group, sender}

    // url: the WebSocket's; context(): {groups, names} the page knows, to read ambiguous
    // entries; random: for the back-off.
    constructor({ url, WebSocketImpl = globalThis.WebSocket, random = Math.random, context = () => ({}) }) {
        this.#options = { url, WebSocketImpl, random, context };
    }

    on(type, fn) {
        if (!this.#listeners.has(type))
            this.#listeners.set(type, []);
        this.#listeners.get(type).push(fn);
    }

    #emit(type, detail) {
        for (const fn of this.#listeners.get(type) ?? [])
            fn(detail);
    }

    get phase() {
        return this.#phase;
    }

    get user() {
        return this.#user;
    }

    get connected() {
        return this.#conn !== null;
    }

    // The reply to a command line, once connected and logged in.
    send(line) {
        if (!this.#conn)
            return Promise.reject(new ConnectionLost('Not connected to the server.'));
        return this.#conn.request(line);
    }

    // The reply to a command of these arguments, quoted.
    run(args) {
        const line = quotedCommand(args);
        if (line === null)
            return Promise.reject(new Refused(args.slice(1).join(' ') + ' cannot be sent as typed.'));
        return this.send(line);
    }

    // "Ok." once logged in, else why not: the server's reply or the connection's failure.
    async logIn(user, password) {
        const login = quotedCommand(['login', user, password]);
        if (login === null)
            return 'The user name or password cannot be sent as typed.';
        if (this.#phase !== phases.out)
            return 'Log out first.';
        let conn;
        try {
            conn = await this.#open();
        } catch (e) {
            return e.message;
        }
        const reply = await replyOf(conn.request(login));
        if (reply !== ok || this.#phase !== phases.out) {
            conn.close();
            return reply;
        }
        this.#begin(conn, user, password);
        return ok;
    }

    // Creates the account, logs in and sets the recovery question and answer (which
    // needs the login). {done, message}: done once logged in; message says what failed.
    async createAccount(user, password, question, answer) {
        const recovery = recoveryItems(question, answer);
        if (recovery.refusal)
            return { done: false, message: recovery.refusal };
        const newuser = quotedCommand(['newuser', user, password]);
        const setinfo = quotedCommand(['setinfo', recovery.items]);
        if (newuser === null)
            return { done: false, message: 'The user name or password cannot be sent as typed.' };
        if (setinfo === null)
            return { done: false, message: 'The recovery question or answer cannot be sent as typed.' };
        if (this.#phase !== phases.out)
            return { done: false, message: 'Log out first.' };
        let conn;
        try {
            conn = await this.#open();
        } catch (e) {
            return { done: false, message: e.message };
        }
        const made = await replyOf(conn.request(newuser));
        const login = made === ok ? await replyOf(conn.request(quotedCommand(['login', user, password]))) : '';
        if (made !== ok || login !== ok || this.#phase !== phases.out) {
            conn.close();
            return { done: false, message: made !== ok ? made : 'The account was created; logging in failed: ' + login };
        }
        this.#begin(conn, user, password);
        const set = await replyOf(conn.request(setinfo));
        return { done: true, message: set === ok ? '' : 'The account was created, but its recovery question was not saved: ' + set };
    }

    // Sets the status shown to others; it is set again after logging in again.
    async setStatus(status) {
        const reply = await this.run(['setstatus', status]);
        if (reply === ok)
            this.#status = status;
        return reply;
    }

    async logOut() {
        const conn = this.#conn;
        this.#stop();
        if (conn) {
            await Promise.race([replyOf(conn.request('logout')), wait(logoutWait)]);
            conn.close();
        }
        this.#emit('phase', { phase: phases.out, reason: '' });
    }

    // Tries again at once: after "The user is already online.", or when the browser
    // is back on line.
    retryNow() {
        if (this.#phase !== phases.reconnecting && this.#phase !== phases.held)
            return;
        clearTimeout(this.#timer);
        this.#timer = null;
        this.#phase = phases.reconnecting;
        this.#emit('phase', { phase: phases.reconnecting, reason: '', retryIn: 0 });
        this.#reconnect();
    }

    #open() {
        return Connection.open(this.#options.url, { WebSocketImpl: this.#options.WebSocketImpl });
    }

    #begin(conn, user, password) {
        const again = this.#phase === phases.reconnecting;
        this.#conn = conn;
        this.#user = user;
        this.#password = password;
        this.#attempt = 0;
        this.#phase = phases.in;
        conn.onClose(() => this.#dropped(conn));
        for (const mask of selectMasks)
            this.#selectLoop(conn, mask);
        this.#keepAlive = setInterval(() => this.#checkAlive(conn), keepAliveEvery);
        if (again && this.#status !== 'online')  // logging in set it to online
            replyOf(conn.request(quotedCommand(['setstatus', this.#status])));
        this.#emit('phase', { phase: phases.in, again });
    }

    // Back to logged out, here: nothing is sent.
    #stop() {
        clearTimeout(this.#timer);
        clearInterval(this.#keepAlive);
        this.#timer = this.#keepAlive = this.#conn = null;
        this.#phase = phases.out;
        this.#user = this.#password = '';
        this.#status = 'online';
        this.#heads.clear();
    }

    #dropped(conn) {
        if (conn !== this.#conn)
            return;
        clearInterval(this.#keepAlive);
        this.#conn = this.#keepAlive = null;
        this.#emit('lost');
        this.#phase = phases.reconnecting;
        this.#attempt = 0;
        this.#retryLater('');
    }

    #retryLater(reason) {
        const delay = retryDelay(this.#attempt++, this.#options.random);
        this.#timer = setTimeout(() => {
            this.#timer = null;
            this.#reconnect();
        }, delay);
        this.#emit('phase', { phase: phases.reconnecting, reason, retryIn: delay });
    }

    async #reconnect() {
        if (this.#phase !== phases.reconnecting || this.#trying)
            return;
        this.#trying = true;
        try {
            let conn;
            try {
                conn = await this.#open();
            } catch (e) {
                if (this.#phase === phases.reconnecting)
                    this.#retryLater(e.message);
                return;
            }
            const reply = this.#phase === phases.reconnecting
                ? await replyOf(conn.request(quotedCommand(['login', this.#user, this.#password]))) : '';
            if (this.#phase !== phases.reconnecting) {  // logged out meanwhile
                conn.close();
                return;
            }
            if (reply === ok) {
                this.#begin(conn, this.#user, this.#password);
                return;
            }
            conn.close();
            if (reply === errors.userOnline) {
                this.#phase = phases.held;
                this.#emit('phase', { phase: phases.held, reason: reply });
            } else if (reply === errors.invalidPassword || reply === errors.invalidUsername) {
                this.#stop();  // the password changed, or the account went
                this.#emit('phase', { phase: phases.out, reason: reply });
            } else {
                this.#retryLater(reply);
            }
        } finally {
            this.#trying = false;
        }
    }

    // Keeps a select for mask parked on conn while it is the session's connection, and
    // emits what each reply brings.
    async #selectLoop(conn, mask) {
        let failures = 0;
        while (conn === this.#conn) {
            let reply;
            try {
                reply = await conn.request('select ' + mask);
            } catch {
                return;  // the connection ended
            }
            if (conn !== this.#conn)
                return;
            const result = parseSelectReply(reply, this.#options.context());
            if (result.ended || reply === errors.needLogin) {
                conn.close();  // the server ended the session: log in again
                return;
            }
            if (result.error) {
                await wait(retryDelay(failures++, this.#options.random));
                continue;
            }
            failures = 0;
            await this.#readGroupHeads(conn, result.group);
            if (this.#phase === phases.out)
                return;
            for (const e of result.personal)
                this.#emit('message', { kind: 'user', name: e.sender, sender: e.sender, text: e.text, at: e.at });
            for (const e of result.group)
                this.#emit('message', { kind: 'group', name: e.group, sender: e.sender, text: e.text, at: e.at });
            for (const s of result.statuses)
                this.#emit('status', s);
        }
    }

    // A group's name and its sender's may both hold dots: a head that splits more than
    // one way goes to the group, of those it may name, that has both the sender and this
    // user as members (the server's member lists say), else to the known or first one.
    async #readGroupHeads(conn, entries) {
        for (const e of entries) {
            const splits = groupSplits(e.head);
            if (splits.length < 2)
                continue;
            let read = this.#heads.get(e.head);
            if (!read) {
                const lists = new Map();
                for (const { group } of splits) {
                    const line = quotedCommand(['getmemberlist', group]);
                    lists.set(group, line === null ? null : parseList(await replyOf(conn.request(line))));
                }
                if (conn.closed)
                    continue;  // no answer: the known or first group, and asked again next time
                read = pickSplit(splits, lists, this.#user) ?? { group: e.group, sender: e.sender };
                this.#heads.set(e.head, read);
            }
            Object.assign(e, read);
        }
    }

    async #checkAlive(conn) {
        const answered = await Promise.race([conn.request('ver').then(() => true, () => true),
            wait(keepAliveWait).then(() => false)]);
        if (!answered && conn === this.#conn)
            conn.close();
    }
}
