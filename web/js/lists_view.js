// The People and Groups lists: a button a row, named by the user or group it opens,
// described by its status and unread count. Rows are updated in place, so that a
// keyboard user's focus stays where it was when a status changes.
import { el, newId } from './dom.js';
import { statusText } from './replies.js';

export class RosterView {
    #list;
    #rows = new Map();  // name -> {li, button, status, unread}
    #onOpen;

    constructor(list, onOpen) {
        this.#list = list;
        this.#onOpen = onOpen;
    }

    #make(name) {
        const status = el('span', { className: 'status', id: newId('status') });
        const unread = el('span', { className: 'unread', id: newId('unread') });
        const button = el('button', { type: 'button', 'aria-label': name },
            el('span', { className: 'name', text: name }), status, unread);
        button.addEventListener('click', () => this.#onOpen(name));
        const row = { li: el('li', {}, button), button, status, unread };
        this.#rows.set(name, row);
        return row;
    }

    // rows: [{name, status (null when unknown), unread}] in their order; active: the
    // name of the conversation open, if it is in this list.
    render(rows, active) {
        const names = new Set(rows.map((r) => r.name));
        for (const [name, row] of this.#rows) {
            if (!names.has(name)) {
                row.li.remove();
                this.#rows.delete(name);
            }
        }
        rows.forEach((r, i) => {
            const row = this.#rows.get(r.name) ?? this.#make(r.name);
            row.status.textContent = r.status === null || r.status === undefined ? '' : statusText(r.status);
            row.status.hidden = row.status.textContent === '';
            row.unread.replaceChildren();
            if (r.unread > 0)
                row.unread.append(String(r.unread), el('span', { className: 'visually-hidden', text: ' unread' }));
            row.unread.hidden = r.unread === 0;
            const described = [row.status, row.unread].filter((e) => !e.hidden).map((e) => e.id).join(' ');
            if (described)
                row.button.setAttribute('aria-describedby', described);
            else
                row.button.removeAttribute('aria-describedby');
            row.button.setAttribute('aria-current', r.name === active ? 'true' : 'false');
            if (this.#list.children[i] !== row.li)
                this.#list.insertBefore(row.li, this.#list.children[i] ?? null);
        });
    }

    focus(name) {
        this.#rows.get(name)?.button.focus();
    }
}
