// The server's command-line parser (server/logic/src/command_line.cpp) in JavaScript:
// what the page's quoting is checked against. Its own cases are those of the server.

const startsQuoted = (s) => s !== '' && s[0] === '"';
const endsQuoted = (s) => s !== '' && s[s.length - 1] === '"';
const unquote = (s) => (s.length < 2 ? '' : s.slice(1, -1));

function joinQuoted(args, first) {
    let i = first;
    while (i + 1 < args.length && !(i > first && endsQuoted(args[i])))
        args[first] += ' ' + args[++i];
    args.splice(first + 1, i - first);
}

// The arguments of line, and whether the server would print "Invalid command-line.".
export function parseCommandLine(line) {
    if (line === '')
        return { args: [], complains: false };
    const quotes = [...line].filter((c) => c === '"').length;
    const args = line.replace(/^ +/, '').replace(/ +$/, '').split(' ');
    if (quotes % 2 !== 0)
        return { args, complains: true };
    for (let i = 0; i < args.length; ++i) {
        if (!startsQuoted(args[i]))
            continue;
        if (!(args[i].length >= 2 && endsQuoted(args[i])) && args[i].length > 1)
            joinQuoted(args, i);
        args[i] = unquote(args[i]);
    }
    return { args, complains: false };
}

export const parsed = (line) => parseCommandLine(line).args;
