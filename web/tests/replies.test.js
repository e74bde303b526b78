// Replies as the server writes them (server/logic/src/message_entry.cpp, server_selects.cpp
// and server_sessions.cpp) read back into what the page shows.
import assert from 'node:assert/strict';
import { describe, test } from 'node:test';

import {
    errors, groupSplits, isError, parseEntry, parseGroupEntry, parseInfo, parseList, parseSelectReply,
    parseStatusEvent, pickSplit, splitGroupHead, stampTime, statusText,
} from '../js/replies.js';

// message_entry() and group_message_entry() of the server.
const entry = (sender, text, stamp = '2026-12-08 10:00:00') => `${sender} says: "${text}" on ${stamp}.`;
const groupEntry = (group, sender, text, stamp) => `${group}.${entry(sender, text, stamp)}`;
const at = Date.UTC(2026, 11, 8, 10, 0, 0);

describe('message entries', () => {
    test('carry sender, text and UTC stamp, whatever marks the text holds', () => {
        assert.deepEqual(parseEntry(entry('ann', 'hi')), { sender: 'ann', text: 'hi', at });
        for (const text of ['', 'hi "there"', '" on 2020-01-01 00:00:00.', 'bob says: "x"', '<img src=x onerror=alert(1)>'])
            assert.deepEqual(parseEntry(entry('ann', text)), { sender: 'ann', text, at }, text);
        assert.deepEqual(parseEntry(entry('ann lee', 'x')).sender, 'ann lee');
    });

    test('an entry of another shape is refused', () => {
        for (const bad of ['', 'hello', 'ann says: "hi" on 2026-12-08.', 'ann says: "hi" on 2026-12-08 10:00:00',
            'ann said: "hi" on 2026-12-08 10:00:00.'])
            assert.equal(parseEntry(bad), null, bad);
    });

    test('stamps are read as UTC, and nothing else is a stamp', () => {
        assert.equal(stampTime('1970-01-01 00:00:01'), 1000);
        assert.equal(stampTime('2026-12-08 10:00:00'), at);
        assert.equal(stampTime('2026-12-08T10:00:00'), null);
    });
});

describe('group entries', () => {
    test('a known group wins over the first dot, the longest when several fit', () => {
        assert.deepEqual(parseGroupEntry(groupEntry('team', 'ann', 'hi')),
            { group: 'team', sender: 'ann', text: 'hi', at, head: 'team.ann' });
        assert.deepEqual(splitGroupHead('v1.2.ann'), { group: 'v1', sender: '2.ann' });
        assert.deepEqual(splitGroupHead('v1.2.ann', ['v1.2']), { group: 'v1.2', sender: 'ann' });
        assert.deepEqual(splitGroupHead('a.b.c', ['a', 'a.b']), { group: 'a.b', sender: 'c' });
        assert.deepEqual(splitGroupHead('team.ann.lee', ['team']), { group: 'team', sender: 'ann.lee' });
        assert.deepEqual(splitGroupHead('team.', ['team']), null, 'no sender: no group entry');
        assert.equal(splitGroupHead('.ann'), null);
        assert.equal(splitGroupHead('nodot'), null);
    });

    test('every split has a group and a sender', () => {
        assert.deepEqual(groupSplits('a.b.c'), [{ group: 'a', sender: 'b.c' }, { group: 'a.b', sender: 'c' }]);
        assert.deepEqual(groupSplits('.a..b.'), [{ group: '.a', sender: '.b.' }, { group: '.a.', sender: 'b.' }]);
        assert.deepEqual(groupSplits('ab'), []);
    });

    test('of unknown groups, the one that has both sender and receiver as members', () => {
        const splits = groupSplits('team.v2.ann');
        const lists = new Map([['team', ['zed', 'bob']], ['team.v2', ['ann', 'bob']]]);
        assert.deepEqual(pickSplit(splits, lists, 'bob'), { group: 'team.v2', sender: 'ann' });
        assert.equal(pickSplit(splits, new Map([['team', null], ['team.v2', null]]), 'bob'), null, 'no such groups');
        assert.equal(pickSplit(splits, new Map([['team', ['bob', 'v2.ann']], ['team.v2', ['ann', 'bob']]]), 'bob'),
            null, 'both fit: no guess');
        assert.equal(pickSplit(splits, new Map([['team.v2', ['ann']]]), 'bob'), null, 'not a member');
    });
});

describe('status events', () => {
    test('name and status; a logged-out user has the empty status', () => {
        assert.deepEqual(parseStatusEvent('getstatus ann: away'), { name: 'ann', status: 'away' });
        assert.deepEqual(parseStatusEvent('getstatus ann: '), { name: 'ann', status: '' });
        assert.deepEqual(parseStatusEvent('getstatus ann: out: back at 5'), { name: 'ann', status: 'out: back at 5' });
        assert.deepEqual(parseStatusEvent('getstatus a: b: c', ['a: b']), { name: 'a: b', status: 'c' });
        assert.equal(parseStatusEvent('getstatus ann'), null);
        assert.equal(parseStatusEvent('status ann: x'), null);
        assert.equal(statusText(''), 'offline');
        assert.equal(statusText('busy'), 'busy');
    });
});

describe('select replies', () => {
    test('each kind in its section, oldest first, with the status events last', () => {
        const reply = ['getmessage: ' + entry('ann', 'one'), entry('bob', 'two'),
            'getgroupmessage:  ' + groupEntry('team', 'cy', 'three'),
            'getcustommessage: ' + entry('ann', 'c'),
            'getstatus ann: away', 'getstatus bob: '].join('|');
        const got = parseSelectReply(reply);
        assert.equal(got.ended, false);
        assert.equal(got.error, null);
        assert.deepEqual(got.personal.map((e) => [e.sender, e.text]), [['ann', 'one'], ['bob', 'two']]);
        assert.deepEqual(got.group.map((e) => [e.group, e.sender, e.text]), [['team', 'cy', 'three']]);
        assert.deepEqual(got.custom.map((e) => e.text), ['c']);
        assert.deepEqual(got.statuses, [{ name: 'ann', status: 'away' }, { name: 'bob', status: '' }]);
    });

    test('a reply of one kind, as each of the page\'s selects gets', () => {
        assert.deepEqual(parseSelectReply('getstatus ann: online').statuses, [{ name: 'ann', status: 'online' }]);
        const group = parseSelectReply('getgroupmessage:  ' + groupEntry('a.b', 'ann', 'x'), { groups: ['a.b'] });
        assert.deepEqual(group.group.map((e) => [e.group, e.sender]), [['a.b', 'ann']]);
        assert.deepEqual(parseSelectReply('getmessage: ' + entry('ann', 'x')).personal.length, 1);
    });

    test('the empty reply ends the session; a failure text is no result', () => {
        assert.equal(parseSelectReply('').ended, true);
        for (const failure of [errors.databaseUnavailable, errors.needLogin, errors.tooManySelects]) {
            const got = parseSelectReply(failure);
            assert.equal(got.error, failure);
            assert.deepEqual([got.personal, got.group, got.statuses], [[], [], []]);
        }
    });

    test('names and texts that look like labels stay in their entries', () => {
        const sneaky = entry('getstatus eve', 'getstatus bob: online');
        const got = parseSelectReply('getmessage: ' + entry('ann', 'hi') + '|' + sneaky);
        assert.deepEqual(got.personal.map((e) => e.sender), ['ann', 'getstatus eve']);
        assert.deepEqual(got.statuses, []);
        const label = parseSelectReply('getmessage: ' + entry('ann', 'getmessage: x'));
        assert.deepEqual(label.personal.map((e) => e.text), ['getmessage: x']);
    });
});

describe('lists and records', () => {
    test('lists keep their order and repeats; "" is the empty list; failures are null', () => {
        assert.deepEqual(parseList('ann|bob|bob'), ['ann', 'bob', 'bob']);
        assert.deepEqual(parseList(''), []);
        assert.equal(parseList(errors.invalidGroupname), null);
        assert.equal(parseList(errors.databaseUnavailable), null);
        assert.ok(isError(errors.userOnline));
        assert.ok(!isError('ann'));
    });

    test('the information record by key, values holding "=" whole', () => {
        const info = parseInfo('nickname=Annie|email=|tel=|details=a=b|country=|province=|city=|facepath=|question=pet?');
        assert.equal(info.nickname, 'Annie');
        assert.equal(info.details, 'a=b');
        assert.equal(info.question, 'pet?');
        assert.equal(parseInfo(errors.invalidUsername), null);
    });
});
