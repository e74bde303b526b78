// The people list: contacts and whoever the user talks with, with their status, and the
// name lists (contacts, group members) the server keeps as "a|b|c".

// One row a name, contacts and conversations alike, in alphabetical order.
// statuses: Map name -> status ("" logged out); a name never asked about has none.
export function peopleRows(contacts, conversations, statuses) {
    const rows = new Map();
    for (const name of contacts)
        rows.set(name, { name, contact: true, status: statuses.get(name) ?? null, unread: 0 });
    for (const c of conversations) {
        const row = rows.get(c.name) ?? { name: c.name, contact: false, status: statuses.get(c.name) ?? null, unread: 0 };
        row.unread = c.unread;
        rows.set(c.name, row);
    }
    return [...rows.values()].sort((a, b) => a.name.localeCompare(b.name) || (a.name < b.name ? -1 : a.name > b.name ? 1 : 0));
}

// The list with name added at its end, once.
export function withName(list, name) {
    return list.includes(name) ? [...list] : [...list, name];
}

// The list without name, wherever and however often it stood.
export function withoutName(list, name) {
    return list.filter((n) => n !== name);
}

// A list as the server takes it: names joined by '|', "" for none.
export function listArgument(list) {
    return list.join('|');
}
