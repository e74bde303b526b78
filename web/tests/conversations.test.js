// Conversations in memory: where entries go, what counts as unread, one's own messages
// coming back, and what may be kept on the device.
import assert from 'node:assert/strict';
import { describe, test } from 'node:test';

import { Conversations, kinds, states, titleFor } from '../js/conversations.js';
import { listArgument, peopleRows, withName, withoutName } from '../js/people.js';

const { user, group } = kinds;
const from = (sender, text, name = sender, kind = user) => ({ kind, name, sender, text, at: 1000 });

describe('unread counts', () => {
    test('count what arrives anywhere but in the open conversation of a page being seen', () => {
        const c = new Conversations('ann');
        c.open(user, 'bob');
        assert.equal(c.receive(from('bob', 'seen')).counted, false);
        assert.equal(c.receive(from('cy', 'one')).counted, true);
        c.receive(from('cy', 'two'));
        c.receive(from('bob', 'x', 'team', group));
        assert.equal(c.get(user, 'cy').unread, 2);
        assert.equal(c.get(group, 'team').unread, 1);
        assert.equal(c.totalUnread(), 3);

        c.open(user, 'cy');
        assert.equal(c.totalUnread(), 1, 'opening reads');
        assert.equal(c.get(user, 'bob').unread, 0);
    });

    test('a hidden page counts even the open conversation, until it is seen again', () => {
        const c = new Conversations('ann');
        c.open(user, 'bob');
        c.setVisible(false);
        c.receive(from('bob', 'while away'));
        c.receive(from('bob', 'still away'));
        assert.equal(c.totalUnread(), 2);
        c.open(user, 'bob');
        assert.equal(c.totalUnread(), 2, 'opening a hidden page reads nothing');
        c.setVisible(true);
        assert.equal(c.totalUnread(), 0);
    });

    test('the title carries the count only when there is one', () => {
        assert.equal(titleFor(0), 'Quillspeak');
        assert.equal(titleFor(3), '(3) Quillspeak');
    });
});

describe('one\'s own messages', () => {
    test('go out as sending and end sent, or failed with the server\'s words', () => {
        const c = new Conversations('ann');
        const a = c.sending(user, 'bob', 'hi', 1);
        const b = c.sending(user, 'bob', 'again', 2);
        assert.equal(a.state, states.sending);
        c.settle(a, 'Ok.');
        c.settle(b, "The receiver's message box is full.");
        assert.equal(a.state, states.sent);
        assert.equal(b.state, states.failed);
        assert.equal(b.reason, "The receiver's message box is full.");
        assert.equal(c.totalUnread(), 0);
    });

    test('coming back from a group settle the oldest match once, whether before or after the reply', () => {
        const c = new Conversations('ann');
        const first = c.sending(group, 'team', 'same', 1);
        const second = c.sending(group, 'team', 'same', 2);
        const echo = c.receive(from('ann', 'same', 'team', group));
        assert.equal(echo.message, null);
        assert.equal(echo.echo, first);
        assert.equal(first.state, states.sent, 'the echo comes before the reply');
        c.settle(first, 'Ok.');
        c.settle(second, 'Ok.');
        assert.equal(c.receive(from('ann', 'same', 'team', group)).echo, second);
        const third = c.receive(from('ann', 'same', 'team', group));
        assert.ok(third.message.own, 'sent elsewhere: shown, as one\'s own');
        assert.equal(third.counted, false);
        assert.equal(c.get(group, 'team').messages.length, 3);
    });

    test('a message partly delivered stays shown as gone, with the reason', () => {
        const c = new Conversations('ann');
        const m = c.sending(group, 'team', 'hello', 1);
        c.receive(from('ann', 'hello', 'team', group));
        c.settle(m, 'The message could not be delivered to every member.');
        assert.equal(m.state, states.sent);
        assert.equal(m.reason, 'The message could not be delivered to every member.');
    });

    test('a lost connection leaves them unconfirmed; one that comes back after was sent', () => {
        const c = new Conversations('ann');
        const toBob = c.sending(user, 'bob', 'hi', 1);
        const toMe = c.sending(user, 'ann', 'note', 2);
        const done = c.sending(user, 'bob', 'done', 3);
        c.settle(done, 'Ok.');
        c.lost();
        assert.deepEqual([toBob.state, toMe.state, done.state], [states.unconfirmed, states.unconfirmed, states.sent]);
        c.receive(from('ann', 'note', 'ann'));
        assert.equal(toMe.state, states.sent);
    });

    test('a failed message is not what comes back', () => {
        const c = new Conversations('ann');
        const refused = c.sending(user, 'ann', 'x', 1);
        c.settle(refused, 'The message is too long.');
        const got = c.receive(from('ann', 'x', 'ann'));
        assert.notEqual(got.message, null);
        assert.equal(refused.state, states.failed);
    });
});

describe('conversations', () => {
    test('are listed by kind and name, a user and a group of one name apart', () => {
        const c = new Conversations('ann');
        c.ensure(user, 'team');
        c.ensure(group, 'team');
        c.ensure(user, 'Bob');
        c.ensure(user, 'amy');
        assert.deepEqual(c.all(user).map((x) => x.name), ['amy', 'Bob', 'team']);
        assert.deepEqual(c.all(group).map((x) => x.name), ['team']);
    });

    test('keep their latest messages up to the limit', () => {
        const c = new Conversations('ann', { limit: 3 });
        for (const t of ['1', '2', '3', '4'])
            c.receive(from('bob', t));
        assert.deepEqual(c.get(user, 'bob').messages.map((m) => m.text), ['2', '3', '4']);
        assert.equal(c.get(user, 'bob').unread, 4, 'dropped ones were still unread');
    });
});

describe('history on the device', () => {
    test('comes back as it was, the latest of each conversation, nothing left sending', () => {
        const c = new Conversations('ann');
        c.receive(from('bob', '<b>old</b>'));
        c.receive(from('bob', 'new'));
        const m = c.sending(group, 'team', 'going', 5);
        c.settle(c.sending(group, 'team', 'refused', 6), 'You are not a member of that group.');
        const back = Conversations.fromJSON('ann', JSON.parse(JSON.stringify(c.toJSON(1))));
        assert.deepEqual(back.get(user, 'bob').messages.map((x) => x.text), ['new']);
        assert.equal(back.get(user, 'bob').unread, 2);
        const team = Conversations.fromJSON('ann', JSON.parse(JSON.stringify(c.toJSON()))).get(group, 'team');
        assert.deepEqual(team.messages.map((x) => [x.text, x.state, x.own]),
            [['going', states.unconfirmed, true], ['refused', states.failed, true]]);
        assert.equal(team.messages[1].reason, 'You are not a member of that group.');
        assert.equal(m.state, states.sending, 'saving changes nothing in memory');
    });

    test('anything not of its form is left out', () => {
        for (const data of [null, 'x', {}, { version: 2, conversations: [] }, { version: 1, conversations: {} }])
            assert.deepEqual(Conversations.fromJSON('ann', data).all(user), []);
        const back = Conversations.fromJSON('ann', {
            version: 1,
            conversations: [
                { kind: 'channel', name: 'x', messages: [] },
                { kind: 'user', name: 5, messages: [] },
                { kind: 'user', name: 'bob', unread: -3, messages: [{ sender: 'bob', text: 'ok', at: 'soon', state: 'received' },
                    { sender: 'bob', text: 1, state: 'received' }, { sender: 'bob', text: 'x', state: 'lost' }, null] },
            ],
        });
        const bob = back.get(user, 'bob');
        assert.deepEqual(back.all(user).map((x) => x.name), ['bob']);
        assert.deepEqual(bob.messages.map((m) => [m.text, m.at]), [['ok', null]]);
        assert.equal(bob.unread, 0);
    });
});

describe('people and name lists', () => {
    test('one row a name, contacts with or without a conversation, unread from it', () => {
        const statuses = new Map([['bob', 'away'], ['cy', '']]);
        const rows = peopleRows(['cy', 'bob'], [{ name: 'bob', unread: 2 }, { name: 'dan', unread: 1 }], statuses);
        assert.deepEqual(rows, [
            { name: 'bob', contact: true, status: 'away', unread: 2 },
            { name: 'cy', contact: true, status: '', unread: 0 },
            { name: 'dan', contact: false, status: null, unread: 1 },
        ]);
    });

    test('adding keeps one of a name, removing takes every one', () => {
        assert.deepEqual(withName(['ann'], 'bob'), ['ann', 'bob']);
        assert.deepEqual(withName(['ann', 'bob'], 'bob'), ['ann', 'bob']);
        assert.deepEqual(withoutName(['ann', 'bob', 'bob'], 'bob'), ['ann']);
        assert.equal(listArgument(['ann', 'bob']), 'ann|bob');
        assert.equal(listArgument([]), '');
    });
});
