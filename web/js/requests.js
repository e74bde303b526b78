// Command lines built from what the user typed, or one line saying why one cannot go.
import { problems, quotedCommand, quotingProblemOf } from './quoting.js';

// The longest request the server takes with its default buff_size (1024 less the
// frame's 4-byte id and NUL); a server set lower answers "The command is too long.".
export const longestRequest = 1019;

const encoder = new TextEncoder();

// The server counts bytes: the page's text goes as UTF-8.
export function byteLength(text) {
    return encoder.encode(text).length;
}

function refused(why) {
    return { command: '', refusal: why + '; nothing was sent.' };
}

// The request that carries text whole to target with command ("sendmessage" or
// "sendgroupmessage"). Refused: an empty text, a '|' (the server refuses it), text the
// server's parser would not give back as typed, and a request over longest bytes.
export function messageRequest(command, target, text, longest = longestRequest) {
    if (text === '')
        return refused('The message is empty');
    if (text.includes('|'))
        return refused("The message may not contain '|'");
    switch (quotingProblemOf(text)) {
    case problems.leadingSpace:
        return refused('The message may not start with a space');
    case problems.quoteBeforeSpace:
        return refused('Only the last word of the message may end with a quote (")');
    }
    const line = quotedCommand([command, target, text]);
    if (line === null)
        return refused('The name ' + target + ' cannot be sent as typed');
    if (byteLength(line) > longest)
        return refused('The message is too long to send');
    return { command: line, refusal: '' };
}

// The "setinfo" item list that sets the recovery question and its answer, or why not.
export function recoveryItems(question, answer) {
    if (question === '' || answer === '')
        return { items: '', refusal: 'Enter a recovery question and its answer.' };
    if (question.includes('|') || answer.includes('|'))
        return { items: '', refusal: "The recovery question and answer may not contain '|'." };
    return { items: 'question=' + question + '|answer=' + answer, refusal: '' };
}
