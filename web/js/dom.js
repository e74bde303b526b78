// Building the page's elements. Text always goes in as text (textContent and text
// nodes), never as markup: a message "<img src=x onerror=...>" shows as typed.

export const byId = (id) => document.getElementById(id);

// An element with attributes (text: its text, className: its classes) and children
// (elements or strings, which become text nodes; null is skipped).
export function el(tag, props = {}, ...children) {
    const e = document.createElement(tag);
    for (const [key, value] of Object.entries(props)) {
        if (value === undefined || value === null || value === false)
            continue;
        if (key === 'text')
            e.textContent = value;
        else if (key === 'className')
            e.className = value;
        else
            e.setAttribute(key, value === true ? '' : String(value));
    }
    for (const child of children)
        if (child !== null && child !== undefined)
            e.append(child);
    return e;
}

// Ids for aria-describedby and the like, never made from names.
let lastId = 0;
export const newId = (prefix) => `${prefix}-${++lastId}`;

// A line the user should hear: a live region's text, replaced.
export function say(region, text) {
    region.textContent = text;
}
