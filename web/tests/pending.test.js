// Requests and replies matched by id, whatever order the replies come in.
import assert from 'node:assert/strict';
import { describe, test } from 'node:test';

import { retryDelay, schedule } from '../js/backoff.js';
import { socketUrl } from '../js/connection.js';
import { ConnectionLost, PendingRequests } from '../js/pending.js';

const answer = (id, reply) => JSON.stringify({ id, reply });

describe('pending requests', () => {
    test('frames carry increasing ids and the command line as JSON', () => {
        const p = new PendingRequests();
        const a = p.add('login ann pw');
        const b = p.add('sendmessage bob "hi \\"you\\""');
        assert.deepEqual([a.id, b.id], [1, 2]);
        assert.deepEqual(JSON.parse(a.frame), { id: 1, cmd: 'login ann pw' });
        assert.deepEqual(JSON.parse(b.frame), { id: 2, cmd: 'sendmessage bob "hi \\"you\\""' });
        assert.equal(p.size, 2);
    });

    test('a reply settles its own request, in whatever order they come', async () => {
        const p = new PendingRequests();
        const select = p.add('select MSG');
        const ver = p.add('ver');
        const status = p.add('getstatus ann');
        assert.ok(p.receive(answer(ver.id, '0.1')));
        assert.ok(p.receive(answer(status.id, '')));
        assert.ok(p.receive(answer(select.id, 'getmessage: ann says: "hi" on 2026-12-08 10:00:00.')));
        assert.deepEqual(await Promise.all([select.reply, ver.reply, status.reply]),
            ['getmessage: ann says: "hi" on 2026-12-08 10:00:00.', '0.1', '']);
        assert.equal(p.size, 0);
    });

    test('frames that answer nothing waiting are left alone', async () => {
        const p = new PendingRequests();
        const r = p.add('ver');
        for (const frame of ['', 'not json', 'null', '7', '{"id":1}', '{"id":1,"reply":5}', answer(2, 'x'),
            JSON.stringify({ id: '1', reply: 'x' })])
            assert.equal(p.receive(frame), false, frame);
        assert.ok(p.receive(answer(r.id, 'Ok.')));
        assert.equal(p.receive(answer(r.id, 'again')), false, 'each request is answered once');
        assert.equal(await r.reply, 'Ok.');
    });

    test('the end of the connection fails what waits and what comes after', async () => {
        const p = new PendingRequests();
        const a = p.add('select MSG');
        const b = p.add('ver');
        p.failAll();
        await assert.rejects(a.reply, ConnectionLost);
        await assert.rejects(b.reply, ConnectionLost);
        assert.equal(p.receive(answer(a.id, 'late')), false);
        const later = p.add('ver');
        assert.equal(later.id, 3, 'ids are never reused on a connection');
        await assert.rejects(later.reply, ConnectionLost);
    });
});

describe('retry delays', () => {
    test('double from the first wait up to the longest, between half and all of it', () => {
        const low = () => 0;
        const high = () => 1 - Number.EPSILON;
        const ceilings = [1000, 2000, 4000, 8000, 16000, 30000, 30000];
        ceilings.forEach((ceiling, attempt) => {
            assert.equal(retryDelay(attempt, low), ceiling / 2, `attempt ${attempt}`);
            assert.equal(retryDelay(attempt, high), ceiling, `attempt ${attempt}`);
        });
        assert.equal(retryDelay(3, () => 0.5), 6000);
    });

    test('stay within the longest wait for any attempt number', () => {
        for (const attempt of [40, 1e6, Infinity, -1, NaN])
            assert.ok(retryDelay(attempt, () => 0.99) <= schedule.max, String(attempt));
        assert.equal(retryDelay(-1, () => 0), schedule.first / 2);
        assert.equal(retryDelay(2, () => 0, { first: 10, max: 24 }), 12, 'a schedule of its own');
    });
});

describe('socket address', () => {
    test('the page\'s own host, wss: for https:', () => {
        assert.equal(socketUrl({ protocol: 'http:', host: 'chat.example:8080' }), 'ws://chat.example:8080/ws');
        assert.equal(socketUrl({ protocol: 'https:', host: 'chat.example' }), 'wss://chat.example/ws');
    });
});
