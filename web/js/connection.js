// One WebSocket to the server at /ws: requests out, replies matched to them by id.
import { ConnectionLost, PendingRequests } from './pending.js';

// The socket's address on the page's own origin: wss: for a page served over https:.
export function socketUrl(location) {
    return (location.protocol === 'https:' ? 'wss://' : 'ws://') + location.host + '/ws';
}

export class Connection {
    #socket;
    #pending = new PendingRequests();
    #closed = false;
    #onClose = [];

    constructor(socket) {
        this.#socket = socket;
        socket.addEventListener('message', (e) => {
            if (typeof e.data === 'string' && !this.#pending.receive(e.data))
                console.warn('quillspeak: a frame that answers no request', e.data);
        });
        socket.addEventListener('close', () => this.#ended());
    }

    // Opens a connection; fails with ConnectionLost when the socket does not open within
    // timeout milliseconds.
    static open(url, { WebSocketImpl = globalThis.WebSocket, timeout = 10000 } = {}) {
        return new Promise((resolve, reject) => {
            const socket = new WebSocketImpl(url);
            const timer = setTimeout(() => {
                socket.close();
                reject(new ConnectionLost('The server did not answer.'));
            }, timeout);
            const failed = () => {
                clearTimeout(timer);
                reject(new ConnectionLost('Cannot reach the server.'));
            };
            socket.addEventListener('error', failed);
            socket.addEventListener('close', failed);
            socket.addEventListener('open', () => {
                clearTimeout(timer);
                socket.removeEventListener('error', failed);
                socket.removeEventListener('close', failed);
                resolve(new Connection(socket));
            }, { once: true });
        });
    }

    get closed() {
        return this.#closed;
    }

    // The reply to one command line; fails with ConnectionLost when the connection ends first.
    request(cmd) {
        const { frame, reply } = this.#pending.add(cmd);
        if (!this.#closed)
            this.#socket.send(frame);
        return reply;
    }

    // fn() once the connection has ended, however it ended.
    onClose(fn) {
        if (this.#closed)
            queueMicrotask(fn);
        else
            this.#onClose.push(fn);
    }

    close() {
        if (this.#closed)
            return;
        this.#socket.close();
        this.#ended();
    }

    #ended() {
        if (this.#closed)
            return;
        this.#closed = true;
        this.#pending.failAll(new ConnectionLost());
        for (const fn of this.#onClose.splice(0))
            fn();
    }
}
