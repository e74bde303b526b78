// Quoted commands against the server's parser: what the page writes comes back as the
// arguments it wrote, and what it refuses no line could carry. The same cases as the
// console client's (client/tests/command_quoting_test.cpp).
import assert from 'node:assert/strict';
import { describe, test } from 'node:test';

import { problems, quotedCommand, quotingProblemOf } from '../js/quoting.js';
import { byteLength, messageRequest, recoveryItems } from '../js/requests.js';
import { parseCommandLine, parsed } from './command_line.js';

const evenQuotes = (line) => [...line].filter((c) => c === '"').length % 2 === 0;

// Every string of up to length characters from alphabet, to each.
function forEachString(alphabet, length, each) {
    let level = [''];
    each('');
    for (let n = 1; n <= length; ++n) {
        const next = [];
        for (const s of level)
            for (const c of alphabet)
                next.push(s + c);
        next.forEach(each);
        level = next;
    }
}

function assertRoundTrip(args) {
    const line = quotedCommand(args);
    assert.notEqual(line, null, args.at(-1));
    assert.ok(evenQuotes(line), line);
    assert.deepEqual(parsed(line), args, `line: [${line}]`);
}

describe('the parser the quoting is checked against', () => {
    test('splits, trims and joins quoted arguments as the server does', () => {
        const cases = [
            ['', [], false],
            ['login ann pw', ['login', 'ann', 'pw'], false],
            ['  login ann pw  ', ['login', 'ann', 'pw'], false],
            ['login  ann pw', ['login', '', 'ann', 'pw'], false],
            ['login\tann', ['login\tann'], false],
            ['sendmessage bob "hello there"', ['sendmessage', 'bob', 'hello there'], false],
            ['sendmessage bob "a  b"', ['sendmessage', 'bob', 'a  b'], false],
            ['x "a b" c', ['x', 'a b', 'c'], false],
            ['x "one" ""', ['x', 'one', ''], false],
            ['x " y"', ['x', '', 'y"'], false],
            ['sendmessage bob "hi', ['sendmessage', 'bob', '"hi'], true],
            ['sendmessage bob "hi there', ['sendmessage', 'bob', '"hi', 'there'], true],
            ['x "a b', ['x', '"a', 'b'], true],
            ['x y" "z', ['x', 'y"', ''], false],
        ];
        for (const [line, args, complains] of cases)
            assert.deepEqual(parseCommandLine(line), { args, complains }, `[${line}]`);
    });
});

describe('quotedCommand', () => {
    test('tricky messages come back as typed', () => {
        for (const text of ['hello bob', 'two  spaces', 'trailing  ', '"', '""', '"quoted words"', 'a"b c"d',
            'odd "quote', 'end "', 'x ""y z', 'tab\there', 'été "x', 'semi;colon=and/slash', '<img src=x onerror=alert(1)>'])
            assertRoundTrip(['sendmessage', 'bob', text]);
    });

    test('every argument place comes back', () => {
        assertRoundTrip(['login', 'two words', 'pass "word']);
        assertRoundTrip(['login', '"quoted"', 'x']);
        assertRoundTrip(['login', '', 'x']);
        assertRoundTrip(['login', 'a"', 'b"']);
        assertRoundTrip(['setcontactlist', '']);
        assertRoundTrip(['setinfo', 'question=Your first pet?|answer=a "cat"']);
        assertRoundTrip(['ver']);
    });

    // All short texts of spaces, quotes and letters, as the last and as a middle argument.
    test('all short texts come back or have a problem', () => {
        forEachString('a "', 7, (text) => {
            if (quotingProblemOf(text) !== problems.none)
                return;
            assertRoundTrip(['sendmessage', 'bob', text]);
            assertRoundTrip(['sendmessage', text, 'hi']);
            assertRoundTrip(['sendmessage', text, '"']);
        });
    });

    // For each short text with a problem, no line of up to two characters more parses to it.
    test('what is refused no line carries', () => {
        const head = 'sendmessage bob ';
        let refused = 0;
        forEachString('a "', 4, (text) => {
            if (quotingProblemOf(text) === problems.none)
                return;
            ++refused;
            const wanted = ['sendmessage', 'bob', text];
            forEachString('a ".', text.length + 2, (tail) => {
                if (evenQuotes(head + tail))
                    assert.notDeepEqual(parsed(head + tail), wanted, `[${tail}] carries [${text}]`);
            });
        });
        assert.ok(refused > 10);
    });

    test('the problems are named', () => {
        assert.equal(quotingProblemOf(' hi'), problems.leadingSpace);
        assert.equal(quotingProblemOf(' '), problems.leadingSpace);
        assert.equal(quotingProblemOf('say "hi" now'), problems.quoteBeforeSpace);
        assert.equal(quotingProblemOf('" x'), problems.quoteBeforeSpace);
        for (const text of ['a " ', 'end" ', 'x "" y', '" ', '"  "'])
            assert.equal(quotingProblemOf(text), problems.quoteBeforeSpace, text);
        assert.equal(quotingProblemOf('say "hi"'), problems.none);
        assert.equal(quotingProblemOf(''), problems.none);
        assert.equal(quotedCommand(['sendmessage', ' bob', 'hi']), null);
    });
});

describe('messageRequest', () => {
    test('refuses with a reason and builds the rest', () => {
        const refusal = (text) => messageRequest('sendmessage', 'bob', text, 255).refusal;
        assert.equal(refusal(''), 'The message is empty; nothing was sent.');
        assert.equal(refusal('a|b'), "The message may not contain '|'; nothing was sent.");
        assert.equal(refusal(' hi'), 'The message may not start with a space; nothing was sent.');
        assert.equal(refusal('"hi" you'), 'Only the last word of the message may end with a quote ("); nothing was sent.');
        assert.equal(messageRequest('sendmessage', ' bob', 'hi', 255).refusal,
            'The name  bob cannot be sent as typed; nothing was sent.');

        const ok = messageRequest('sendmessage', 'bob', 'hi there', 255);
        assert.equal(ok.refusal, '');
        assert.deepEqual(parsed(ok.command), ['sendmessage', 'bob', 'hi there']);
        const group = messageRequest('sendgroupmessage', 'the team', 'hi "all"');
        assert.deepEqual(parsed(group.command), ['sendgroupmessage', 'the team', 'hi "all"']);
    });

    test('the limit counts the whole request in UTF-8 bytes with its quotes', () => {
        const text = 'a ' + 'b'.repeat(20);  // quoted: 24 bytes
        const size = 'sendmessage bob '.length + text.length + 2;
        assert.equal(messageRequest('sendmessage', 'bob', text, size).refusal, '');
        const over = messageRequest('sendmessage', 'bob', text, size - 1);
        assert.equal(over.refusal, 'The message is too long to send; nothing was sent.');
        assert.equal(over.command, '');

        const accents = 'é'.repeat(10);  // 20 bytes, 10 characters
        assert.equal(byteLength(accents), 20);
        const fits = 'sendmessage bob '.length + 20;
        assert.equal(messageRequest('sendmessage', 'bob', accents, fits).refusal, '');
        assert.notEqual(messageRequest('sendmessage', 'bob', accents, fits - 1).refusal, '');
    });
});

describe('recoveryItems', () => {
    test('needs both, refuses the list separator, and parses back as one argument', () => {
        assert.equal(recoveryItems('', 'x').refusal, 'Enter a recovery question and its answer.');
        assert.equal(recoveryItems('pet?', '').refusal, 'Enter a recovery question and its answer.');
        assert.equal(recoveryItems('a|b', 'x').refusal, "The recovery question and answer may not contain '|'.");
        const { items, refusal } = recoveryItems('Name of your first pet?', 'Rex the dog');
        assert.equal(refusal, '');
        assert.deepEqual(parsed(quotedCommand(['setinfo', items])),
            ['setinfo', 'question=Name of your first pet?|answer=Rex the dog']);
    });
});
