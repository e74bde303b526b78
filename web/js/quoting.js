// Writing arguments as one command line that the server's parser splits back into
// exactly those arguments. The parser splits at single spaces, and joins a word that
// starts with a quote to the following ones up to the first that ends with a quote,
// dropping the first and last character. So an argument with a space cannot start with
// a space, nor have a word before its last that ends with a quote; anything else can go.

export const problems = Object.freeze({
    none: 'none',
    leadingSpace: 'leading space',             // " hi": the parser would see an empty word
    quoteBeforeSpace: 'quote before space',    // 'say "hi" now': the join would stop after "hi"
});

const oddClosing = '.';  // any character but a space or a quote

// The parser keeps such a word as it is.
function goesBare(arg) {
    return arg !== '' && arg[0] !== '"' && !arg.includes(' ');
}

// What keeps arg from coming back whole; problems.none when it can.
export function quotingProblemOf(arg) {
    if (!arg.includes(' '))
        return problems.none;
    if (arg[0] === ' ')
        return problems.leadingSpace;
    for (let space = arg.indexOf(' '); space !== -1; space = arg.indexOf(' ', space + 1))
        if (arg[space - 1] === '"')
            return problems.quoteBeforeSpace;
    return problems.none;
}

function countQuotes(text) {
    let n = 0;
    for (const c of text)
        if (c === '"')
            ++n;
    return n;
}

// The command line for args; null when one of them has a problem. The line's quotes
// pair up: when the arguments hold an odd number, the last argument is closed by
// another character, which the parser drops as well.
export function quotedCommand(args) {
    let quotes = 0;
    for (const arg of args) {
        if (quotingProblemOf(arg) !== problems.none)
            return null;
        quotes += countQuotes(arg);
    }
    return args.map((arg, i) => {
        const oddEnd = i + 1 === args.length && quotes % 2 !== 0;
        if (goesBare(arg) && !oddEnd)
            return arg;
        return '"' + arg + (oddEnd ? oddClosing : '"');
    }).join(' ');
}
