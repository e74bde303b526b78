// Reading the server's replies: select results, message entries, status events, lists.

// Every reply that reports a failure rather than data (server/logic/src/qsexcpt.cpp,
// commands.cpp and the network side).
export const errors = Object.freeze({
    invalidUsername: 'Invalid username.',
    invalidPassword: 'Invalid password.',
    userExists: 'The user is already exist.',
    userOnline: 'The user is already online.',
    notOnline: 'The user is not online.',
    noMessages: 'No messages.',
    noEvents: 'No events.',
    invalidGroupname: 'Invalid groupname.',
    groupExists: 'The group is already exist.',
    messageTooLong: 'The message is too long.',
    boxFull: "The receiver's message box is full.",
    listTooLong: 'The list is too long.',
    infoTooLong: 'The information is too long.',
    statusTooLong: 'The status is too long.',
    notDeliveredToAll: 'The message could not be delivered to every member.',
    notSaved: 'The change could not be saved.',
    invalidAnswer: 'Invalid answer.',
    databaseUnavailable: 'The database is not available.',
    tooManySelects: 'Too many selects are waiting on this connection.',
    textHasBar: "The text may not contain '|'.",
    passwordNotReadable: 'Passwords are stored as hashes: the password cannot be sent.',
    tooManyLogins: 'Too many failed logins: try again later.',
    argumentCount: 'Too many or too few arguments.',
    needLogin: 'You need to login before executing this command.',
    needLogout: 'You need to logout before executing this command.',
    unknownCommand: 'Unknown command.',
    commandTooLong: 'The command is too long.',
    commandFailed: 'The command failed inside the server.',
    notMember: 'You are not a member of that group.',
    notMaster: 'You are not a master of that group.',
});

const errorTexts = new Set(Object.values(errors));

export const ok = 'Ok.';

export function isError(reply) {
    return errorTexts.has(reply);
}

// A name list ("ann|bob"); the empty list is "". Null for a failure.
export function parseList(reply) {
    if (isError(reply))
        return null;
    return reply === '' ? [] : reply.split('|');
}

// "nickname=...|email=...|question=..." as an object; null for a failure.
export function parseInfo(reply) {
    if (isError(reply) || !reply.startsWith('nickname='))
        return null;
    const info = {};
    for (const item of reply.split('|')) {
        const eq = item.indexOf('=');
        if (eq > 0)
            info[item.slice(0, eq)] = item.slice(eq + 1);
    }
    return info;
}

// "getstatus" answers "" for a user who is not logged in.
export function statusText(status) {
    return status === '' ? 'offline' : status;
}

// The entry's UTC stamp "YYYY-MM-DD HH:MM:SS" in milliseconds since the epoch.
export function stampTime(stamp) {
    const m = /^(\d{4})-(\d\d)-(\d\d) (\d\d):(\d\d):(\d\d)$/.exec(stamp);
    if (!m)
        return null;
    const [y, mo, d, h, mi, s] = m.slice(1).map(Number);
    return Date.UTC(y, mo - 1, d, h, mi, s);
}

// <sender> says: "<text>" on <stamp>.  The sender ends at the first ' says: "', the text
// at the last '" on <stamp>.': either may hold the other's marks.
const entryShape = /^([\s\S]*?) says: "([\s\S]*)" on (\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)\.$/;

export function looksLikeEntry(text) {
    return entryShape.test(text);
}

// {sender, text, at} of a personal entry; null when it has not the entry's shape.
export function parseEntry(entry) {
    const m = entryShape.exec(entry);
    return m ? { sender: m[1], text: m[2], at: stampTime(m[3]) } : null;
}

// Every way to read "<group>.<sender>": a split at each dot with something on both sides,
// the shortest group first.
export function groupSplits(head) {
    const splits = [];
    for (let dot = head.indexOf('.'); dot !== -1; dot = head.indexOf('.', dot + 1))
        if (dot > 0 && dot + 1 < head.length)
            splits.push({ group: head.slice(0, dot), sender: head.slice(dot + 1) });
    return splits;
}

// Splits "<group>.<sender>": both may hold dots, so a known group the head starts with
// wins (the longest), else the first dot.
export function splitGroupHead(head, knownGroups = []) {
    const splits = groupSplits(head);
    let pick = null;
    for (const s of splits)
        if (knownGroups.includes(s.group))
            pick = s;  // the splits come shortest group first
    return pick ?? splits[0] ?? null;
}

// Of the splits of a head, the one whose group has both me and the sender as members:
// a group message goes from a member to the members. lists: Map group -> its members,
// null when there is no such group. Null when none or several fit.
export function pickSplit(splits, lists, me) {
    const fits = splits.filter(({ group, sender }) => {
        const members = lists.get(group);
        return Array.isArray(members) && members.includes(me) && members.includes(sender);
    });
    return fits.length === 1 ? fits[0] : null;
}

// {group, sender, text, at, head} of a group entry; null when it has not the entry's shape.
export function parseGroupEntry(entry, knownGroups = []) {
    const e = parseEntry(entry);
    const split = e && splitGroupHead(e.sender, knownGroups);
    return split ? { group: split.group, sender: split.sender, text: e.text, at: e.at, head: e.sender } : null;
}

// "getstatus <name>: <status>", the status "" once the user logged out. A known name
// the event starts with wins (the longest), else the name ends at the first ": ".
export function parseStatusEvent(piece, knownNames = []) {
    if (!piece.startsWith('getstatus '))
        return null;
    const rest = piece.slice('getstatus '.length);
    let name = null;
    for (const n of knownNames)
        if (rest.startsWith(n + ': ') && (name === null || n.length > name.length))
            name = n;
    if (name === null) {
        const colon = rest.indexOf(': ');
        if (colon < 0)
            return null;
        name = rest.slice(0, colon);
    }
    return { name, status: rest.slice(name.length + 2) };
}

// The sections of a select reply, in the order the server writes them. Entries and
// sections are both joined by '|', which no entry, name or status may hold.
const sections = [
    ['personal', 'getmessage: '],
    ['group', 'getgroupmessage:  '],
    ['custom', 'getcustommessage: '],
];

// A select's reply as {ended, error, personal, group, custom, statuses}: ended when the
// session is gone (""), error for a failure text; else the entries of each kind, parsed,
// and the status events. context: {groups, names} known, to split ambiguous heads.
export function parseSelectReply(reply, context = {}) {
    const out = { ended: false, error: null, personal: [], group: [], custom: [], statuses: [] };
    if (reply === '') {
        out.ended = true;
        return out;
    }
    const groups = context.groups ?? [];
    const names = context.names ?? [];
    const add = (kind, entry) => {
        const e = kind === 'group' ? parseGroupEntry(entry, groups) : parseEntry(entry);
        if (e)
            out[kind].push(e);
    };
    let current = -1;  // index into sections; sections.length once in the status events
    for (const piece of reply.split('|')) {
        const next = sections.findIndex(([, label], i) => i > current && piece.startsWith(label));
        if (next >= 0) {
            current = next;
            add(sections[next][0], piece.slice(sections[next][1].length));
            continue;
        }
        const inEntries = current >= 0 && current < sections.length;
        if (piece.startsWith('getstatus ') && !(inEntries && looksLikeEntry(piece))) {
            current = sections.length;
            const event = parseStatusEvent(piece, names);
            if (event)
                out.statuses.push(event);
        } else if (inEntries) {
            add(sections[current][0], piece);
        } else if (current < 0) {  // not a select result: a failure
            out.error = reply;
            return out;
        }
    }
    return out;
}
